// The round trip between two stores: a block sent by one store database
// (captured by an HTTP server inside the test process) is served to a
// second store as its receive answer with the same commands, applied there,
// and every column of every type of every example table reads back equal,
// NULLs, blobs, accented text, dates, times and numerics at their limits
// included.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

#include "db/consulta.h"
#include "db/udm.h"
#include "protocolo/json.h"
#include "protocolo/texto.h"
#include "support/banco_teste.h"
#include "support/servidor_http.h"
#include "sync/enviar.h"
#include "sync/janela.h"
#include "sync/receber.h"

namespace ondaris::sync {
using protocolo::EscreverJSONCompacto;
using protocolo::LerJSON;
using protocolo::TValorJSON;
namespace {

using teste::BancoTeste;
using teste::RespostaProgramada;
using teste::ServidorHttp;

// A store: its database, a korvin.ini pointing at it and its global data
// module.
class Loja {
public:
    explicit Loja(int codigo) : codigo_(codigo), pasta_(banco_) {
        banco_.ExecutarSql(
            "INSERT INTO RPL_CONFIGURACOES (CODIGO, CODIGOLOJA, LINKCENTRAL, NIVELREPLICACAO, ULTIMORECEBIMENTO)"
            " VALUES (1, " +
            std::to_string(codigo) + ", 'http://central/', 1, 0);");
        dm_ = std::make_unique<db::TDM>(db::OpcoesTDM{.Pasta = Pasta()});
        dm_->DataModuleCreate();
    }
    std::string Pasta() const { return pasta_.Pasta(); }
    db::TDM& DM() { return *dm_; }
    int Codigo() const { return codigo_; }
    void Sql(const std::string& utf8) { banco_.ExecutarSql(protocolo::Utf8ParaLatin1(utf8)); }

    // Every row of a table in key order, every stored column (computed ones
    // are not replicated) read as a value.
    std::vector<std::vector<db::Valor>> Linhas(const std::string& tabela, const std::string& ordem) {
        std::string colunas;
        for (const auto& c : dm_->Catalogo().Campos(tabela, false)) colunas += (colunas.empty() ? "" : ", ") + c.Campo;
        db::Consulta qry(dm_->ConexaoGlobal(), dm_->TRPrincipal(),
                         "SELECT " + colunas + " FROM " + tabela + " ORDER BY " + ordem);
        std::vector<std::vector<db::Valor>> linhas;
        for (bool tem = qry.Abrir(); tem; tem = qry.Proximo()) {
            std::vector<db::Valor> linha;
            for (std::size_t i = 0; i < qry.Colunas().size(); ++i) linha.push_back(qry.Ler(i));
            linhas.push_back(std::move(linha));
        }
        return linhas;
    }

private:
    BancoTeste banco_;
    int codigo_;
    teste::PastaKorvin pasta_;
    std::unique_ptr<db::TDM> dm_;
};

std::string Descrever(const db::Valor& v) {
    TContextoServidor c;
    db::DescricaoCampo d;
    if (std::holds_alternative<db::Bytes>(v)) d.Categoria = db::TTipoCampo::tcBlobBinario;
    return std::string(db::NomeTipoValor(v)) + " " +
           TextoDoValorBanco(v, d, protocolo::TConfiguracoesRegionais::Brasileiras()).value_or("NULL");
}

class IdaEVolta : public ::testing::Test {
protected:
    static void SetUpTestSuite() { teste::GarantirUsuarioReplicacao(); }

    void SetUp() override {
        contexto_.Regional = protocolo::TConfiguracoesRegionais::Brasileiras();
        contexto_.TempoLimite = 5000;
    }

    // The origin's whole log is sent, the body the server received is
    // served to the destination as its receive answer with the same
    // commands, and the destination applies it. Returns the sent body.
    std::string Transportar(Loja& origem, Loja& destino) {
        ServidorHttp central;
        central.Responder(RespostaProgramada::Json("{}"));
        const auto resultado = EnviarDados(central.Base(), origem.Codigo(), 0, origem.DM(), contexto_, origem.Pasta());
        EXPECT_FALSE(resultado.Recusado());
        const std::string enviado = *resultado;
        EXPECT_EQ(central.Ultima().Corpo, enviado);

        const auto corpo = LerJSON(enviado);
        if (!corpo) throw std::runtime_error("the sent body is not JSON: " + enviado);
        TValorJSON resposta = TValorJSON::Objeto();
        resposta.Adicionar("ordeminicial", *corpo->Membro("ordeminicial"));
        resposta.Adicionar("ordemfinal", *corpo->Membro("ordemfinal"));
        resposta.Adicionar("ultimaordem", *corpo->Membro("ordemfinal"));
        resposta.Adicionar("comandos", *corpo->Membro("comandos"));
        central.Responder(RespostaProgramada::Json(EscreverJSONCompacto(resposta)));

        // The structure list the central server would hand out: every
        // column of the replicated tables.
        destino.DM().TBEstrutura().Limpar();
        for (const char* tabela : {"PRODUTOS", "PRECOS", "VENDAS", "ITENSVENDA"})
            for (const auto& c : destino.DM().Catalogo().Campos(tabela, false))
                destino.DM().TBEstrutura().Adicionar(
                    tabela, c.Campo, c.Chave ? std::optional<std::string>("PRIMARY KEY") : std::nullopt);
        JanelaMuda janela;
        TAmbienteRecebimento ambiente{destino.DM(), janela, contexto_, destino.Pasta()};
        const auto recebido = ReceberDados(central.Base(), destino.Codigo(), 0, ambiente);
        EXPECT_FALSE(recebido.Recusado());
        return enviado;
    }

    // Every stored column of every row of the example tables is equal.
    static void CompararTabelas(Loja& origem, Loja& destino) {
        struct Tabela {
            const char* nome;
            const char* ordem;
        };
        for (const Tabela t : {Tabela{"PRODUTOS", "CODIGO"}, Tabela{"PRECOS", "CODIGOLOJA, CODIGOPRODUTO"},
                               Tabela{"VENDAS", "NUMERO"}, Tabela{"ITENSVENDA", "NUMEROVENDA, ITEM"}}) {
            SCOPED_TRACE(t.nome);
            const auto a = origem.Linhas(t.nome, t.ordem);
            const auto b = destino.Linhas(t.nome, t.ordem);
            ASSERT_EQ(a.size(), b.size());
            for (std::size_t l = 0; l < a.size(); ++l)
                for (std::size_t c = 0; c < a[l].size(); ++c)
                    EXPECT_TRUE(a[l][c] == b[l][c]) << "row " << l << " column " << c << ": " << Descrever(a[l][c])
                                                    << " vs " << Descrever(b[l][c]);
        }
    }

    TContextoServidor contexto_;
};

TEST_F(IdaEVolta, CadaColunaDeCadaTipoChegaIgual) {
    Loja origem(12), destino(34);

    // A row the origin deletes, present at the destination beforehand.
    destino.Sql("INSERT INTO PRODUTOS (CODIGO, DESCRICAO) VALUES (99, 'some');");
    // Same-looking rows at the destination are overwritten, not duplicated.
    destino.Sql("INSERT INTO PRECOS (CODIGOLOJA, CODIGOPRODUTO, MARGEM) VALUES (7, 1, 3);");

    std::string foto;  // every byte value, CR LF among them
    for (int i = 0; i < 256; ++i) foto += "0123456789ABCDEF"[i / 16], foto += "0123456789ABCDEF"[i % 16];
    origem.Sql(
        "INSERT INTO PRODUTOS (CODIGO, DESCRICAO, UNIDADE, ESTOQUEMINIMO, PESOLIQUIDO, FATORCONVERSAO,"
        " PRECOREFERENCIA, ATIVO, CADASTRO, ULTIMAALTERACAO, OBSERVACOES, FOTO, DESCRICAOETIQUETA) VALUES"
        " (2147483647, 'Pão de queijo \"mineiro\" 1/2 ÿ', 'KG', 32767, 2147483.647, 2147.483647,"
        " 1.7976931348623157e308, TRUE, '9999-12-31', '9999-12-31 23:59:59.999',"
        " 'Observações: ç, ñ, ü, «», \\ e /', x'" +
        foto +
        "', 'Ação ÿ');"
        "INSERT INTO PRODUTOS (CODIGO, DESCRICAO, UNIDADE, ESTOQUEMINIMO, PESOLIQUIDO, FATORCONVERSAO,"
        " PRECOREFERENCIA, ATIVO, CADASTRO, ULTIMAALTERACAO, FOTO) VALUES"
        " (-2147483648, ' ', 'X', -32768, -2147483.648, -2147.483648, 1e-300, FALSE,"
        " '0001-01-01', '0001-01-01 00:00:00.001', x'00');"
        "INSERT INTO PRODUTOS (CODIGO, DESCRICAO, UNIDADE, ATIVO, PRECOREFERENCIA, ULTIMAALTERACAO)"
        " VALUES (0, 'nulos', NULL, NULL, 0.30000000000000004, '2024-02-29 00:00:00');"
        "INSERT INTO PRODUTOS (CODIGO, DESCRICAO, PRECOREFERENCIA, ULTIMAALTERACAO, FOTO)"
        " VALUES (1, 'um terço', -0.1, '2024-02-29 12:34:56.789', x'');"  // an empty blob is not NULL
        "INSERT INTO PRECOS (CODIGOLOJA, CODIGOPRODUTO, PRECOVENDA, PRECOCUSTO, MARGEM, COMISSAO, VIGENCIA)"
        " VALUES (7, 1, 922337203685477.5807, 92233720368547758.07, 327.67, 9223372036854.775807, '2024-02-29');"
        "INSERT INTO PRECOS (CODIGOLOJA, CODIGOPRODUTO, PRECOVENDA, PRECOCUSTO, MARGEM, COMISSAO, VIGENCIA)"
        " VALUES (-7, -1, -922337203685477.5807, -92233720368547758.07, -327.68, -9223372036854.775807,"
        " '0001-01-01');"
        "INSERT INTO PRECOS (CODIGOLOJA, CODIGOPRODUTO, PRECOVENDA, COMISSAO)"
        " VALUES (8, 1, 0.0001, 0.000001);"
        "INSERT INTO VENDAS (NUMERO, CODIGOLOJA, DATAVENDA, HORAVENDA, TOTAL, CPFCLIENTE, ASSINATURA, CHAVEACESSO)"
        " VALUES (9223372036854775807, 2147483647, '9999-12-31', '23:59:59.999', 92233720368547758.07,"
        " '123.456.789-09', x'000D0A2F225C7F000000000000000041', x'410A0D0022');"
        "INSERT INTO VENDAS (NUMERO, CODIGOLOJA, DATAVENDA, HORAVENDA, TOTAL)"
        " VALUES (-9223372036854775808, -2147483648, '0001-01-01', '00:00:00', -92233720368547758.07);"
        "INSERT INTO VENDAS (NUMERO, CODIGOLOJA, DATAVENDA, HORAVENDA) VALUES (5, 1, '2024-02-29', '12:00:00.5');"
        "INSERT INTO ITENSVENDA (NUMEROVENDA, ITEM, CODIGOPRODUTO, QUANTIDADE, DESCONTO, PRECOUNITARIO)"
        " VALUES (9223372036854775807, 32767, 1, -1.7976931348623157e308, 3.4028e38, 922337203685477.5807);"
        "INSERT INTO ITENSVENDA (NUMEROVENDA, ITEM, CODIGOPRODUTO, QUANTIDADE, DESCONTO, PRECOUNITARIO)"
        " VALUES (-9223372036854775808, -32768, 2, CAST(1 AS DOUBLE PRECISION) / 3, 1.17549435e-38,"
        " -922337203685477.5807);"
        "INSERT INTO ITENSVENDA (NUMEROVENDA, ITEM, CODIGOPRODUTO, DESCONTO) VALUES (5, 1, 3, 0.1);"
        "INSERT INTO PRODUTOS (CODIGO, DESCRICAO) VALUES (99, 'apagado');"
        "DELETE FROM PRODUTOS WHERE CODIGO = 99;");

    const std::string enviado = Transportar(origem, destino);
    const auto corpo = LerJSON(enviado);
    ASSERT_TRUE(corpo);
    ASSERT_EQ(corpo->Membro("comandos")->Elementos().size(), 14u);
    CompararTabelas(origem, destino);
    // The received position is the last command's.
    destino.DM().Configuracoes().AbrirConfiguracoes();
    EXPECT_EQ(destino.DM().Configuracoes().UltimoRecebimento(), std::stoll(corpo->Membro("ordemfinal")->Bruto()));
}

// Raw bytes beyond ASCII in OCTETS columns travel as the characters of the
// same codes (the only text form that loses none of them); the receiving
// side binds those characters back as single bytes.
TEST_F(IdaEVolta, OctetosAlemDoAsciiChegamIguais) {
    Loja origem(56), destino(78);
    origem.Sql(
        "INSERT INTO VENDAS (NUMERO, CODIGOLOJA, DATAVENDA, ASSINATURA, CHAVEACESSO)"
        " VALUES (1, 1, '2024-02-29', x'80FF0D0AE9C3A7000000000000000041', x'41E90AFF');");
    Transportar(origem, destino);
    CompararTabelas(origem, destino);
}

// Fractions of a second travel as milliseconds, as the message format has
// them: the ten-thousandth the database also keeps is cut, never rounded
// into the next second.
TEST_F(IdaEVolta, FracoesDeSegundoViajamEmMilissegundos) {
    Loja origem(91), destino(92);
    origem.Sql(
        "INSERT INTO VENDAS (NUMERO, CODIGOLOJA, DATAVENDA, HORAVENDA) VALUES (1, 1, '2024-02-29', '23:59:59.9999');"
        "INSERT INTO VENDAS (NUMERO, CODIGOLOJA, DATAVENDA, HORAVENDA) VALUES (2, 1, '2024-02-29', '08:00:00.0004');"
        "INSERT INTO PRODUTOS (CODIGO, DESCRICAO, ULTIMAALTERACAO) VALUES (1, 'p', '2024-02-29 23:59:59.9999');");
    Transportar(origem, destino);
    const auto vendas = destino.Linhas("VENDAS", "NUMERO");
    ASSERT_EQ(vendas.size(), 2u);
    EXPECT_EQ(vendas[0][3], db::Valor(protocolo::Hora{23, 59, 59, 9990}));
    EXPECT_EQ(vendas[1][3], db::Valor(protocolo::Hora{8, 0, 0, 0}));
    const auto produtos = destino.Linhas("PRODUTOS", "CODIGO");
    ASSERT_EQ(produtos.size(), 1u);
    EXPECT_EQ(produtos[0][9], db::Valor(protocolo::DataHora{{2024, 2, 29}, {23, 59, 59, 9990}}));
}

}  // namespace
}  // namespace ondaris::sync
