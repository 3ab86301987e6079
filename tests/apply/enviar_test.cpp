// Sending blocks of the change log: the body built from a real store
// database (every column type's text form under Brazilian settings), the
// rows left out, deletes, the bounds of the block, and the outcome of the
// exchange against an HTTP server inside the test process.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

#include "db/construtores.h"
#include "db/consulta.h"
#include "db/leituras.h"
#include "db/modulo_operacao.h"
#include "db/udm.h"
#include "protocolo/json.h"
#include "protocolo/texto.h"
#include "protocolo/textos.h"
#include "support/banco_teste.h"
#include "support/captura.h"
#include "support/servidor_http.h"
#include "sync/de_lado.h"
#include "sync/enviar.h"

namespace ondaris::sync {
using protocolo::EscreverJSONCompacto;
using protocolo::LerJSON;
using protocolo::TValorJSON;
using protocolo::TextoDataHoraCompleta;
using protocolo::TextoHoraCompleta;
namespace {

using teste::BancoTeste;
using teste::PastaKorvin;
using teste::RespostaProgramada;
using teste::ServidorHttp;

const protocolo::TConfiguracoesRegionais kBr = protocolo::TConfiguracoesRegionais::Brasileiras();
constexpr int32_t kLoja = 12;

// One command of a sent body, with "campos" written back compactly.
struct ComandoLido {
    std::string Acao, Tabela, Campos;
    bool operator==(const ComandoLido&) const = default;
};

void PrintTo(const ComandoLido& c, std::ostream* os) { *os << c.Acao << " " << c.Tabela << " " << c.Campos; }

std::vector<ComandoLido> Comandos(const std::string& corpo) {
    auto json = LerJSON(corpo);
    if (!json || !json->Membro("comandos")) throw std::runtime_error("not a send body: " + corpo);
    std::vector<ComandoLido> lidos;
    for (const auto& c : json->Membro("comandos")->Elementos())
        lidos.push_back({c.Membro("acao")->Bruto(), c.Membro("tabela")->Bruto(),
                         EscreverJSONCompacto(*c.Membro("campos"))});
    return lidos;
}

class EnvioDeBlocos : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        teste::GarantirUsuarioReplicacao();
        banco_ = std::make_unique<BancoTeste>();
        banco_->ExecutarSql(
            "INSERT INTO RPL_CONFIGURACOES (CODIGO, CODIGOLOJA, LINKCENTRAL, NIVELREPLICACAO, ULTIMORECEBIMENTO)"
            " VALUES (1, 12, 'http://central/', 1, 0);"
            // A three-column key, logged by hand.
            "CREATE TABLE TRIPLA (A INTEGER NOT NULL, B INTEGER NOT NULL, C INTEGER NOT NULL, V VARCHAR(5),"
            " CONSTRAINT PK_TRIPLA PRIMARY KEY (A, B, C));"
            "GRANT SELECT ON TRIPLA TO USER ONDARIS;"
            // Blobs of every kind the row query may bring inline, or not.
            "CREATE TABLE BLOBS (ID INTEGER NOT NULL PRIMARY KEY, BT BLOB SUB_TYPE TEXT,"
            " BU BLOB SUB_TYPE TEXT CHARACTER SET UTF8, BN BLOB SUB_TYPE TEXT CHARACTER SET NONE,"
            " BO BLOB SUB_TYPE TEXT CHARACTER SET OCTETS, BB BLOB SUB_TYPE BINARY);"
            "GRANT SELECT ON BLOBS TO USER ONDARIS;"
            "GRANT SELECT ON MOVIMENTOCAIXA TO USER ONDARIS;");
    }
    static void TearDownTestSuite() { banco_.reset(); }

    void SetUp() override {
        pasta_ = std::make_unique<PastaKorvin>(*banco_);
        dm_ = std::make_unique<db::TDM>(db::OpcoesTDM{.Pasta = pasta_->Pasta()});
        dm_->DataModuleCreate();
        contexto_.Regional = kBr;
        contexto_.TempoLimite = 5000;
        // Every test sends only what it logged itself.
        posicao_ = dm_->LogReplicacao().UltimoMovimentoLoja();
        conexoes_ = ConexoesDaReplicacao();
    }
    void TearDown() override {
        // The per-operation module is gone however the call ended.
        EXPECT_EQ(ConexoesDaReplicacao(), conexoes_);
        dm_.reset();
        pasta_.reset();
    }

    // Runs SQL written in UTF-8 as SYSDBA (the script goes to isql in the
    // database's Latin-1).
    static void Sql(const std::string& utf8) { banco_->ExecutarSql(protocolo::Utf8ParaLatin1(utf8)); }

    static int ConexoesDaReplicacao() {
        const std::string saida = banco_->ExecutarSql(
            "SET LIST ON; SELECT COUNT(*) AS N FROM MON$ATTACHMENTS WHERE MON$USER = 'ONDARIS';");
        const auto p = saida.find("N ");
        return p == std::string::npos ? -1 : std::stoi(saida.substr(p + 2));
    }

    TResultado<std::string> Enviar() {
        return EnviarDados(servidor_.Base(), kLoja, posicao_, *dm_, contexto_, pasta_->Pasta());
    }
    // Sends with a 200 answer and returns the body the server received.
    std::string EnviarComSucesso() {
        servidor_.Responder(RespostaProgramada::Json("{}"));
        const TResultado<std::string> enviado = Enviar();
        EXPECT_FALSE(enviado.Recusado());
        const std::string corpo = *enviado;
        EXPECT_EQ(servidor_.Ultima().Corpo, corpo);
        return corpo;
    }

    static inline std::unique_ptr<BancoTeste> banco_;
    std::unique_ptr<PastaKorvin> pasta_;
    std::unique_ptr<db::TDM> dm_;
    TContextoServidor contexto_;
    ServidorHttp servidor_;
    int64_t posicao_ = 0;
    int conexoes_ = 0;
};

TEST_F(EnvioDeBlocos, TodasAsTabelasDeExemploETiposDeColuna) {
    Sql("INSERT INTO PRODUTOS (CODIGO, DESCRICAO, UNIDADE, ESTOQUEMINIMO, PESOLIQUIDO, FATORCONVERSAO,"
        " PRECOREFERENCIA, ATIVO, CADASTRO, ULTIMAALTERACAO, OBSERVACOES, FOTO, DESCRICAOETIQUETA) VALUES"
        " (1, 'Pão \"mineiro\" 1/2', 'KG', -32768, 1.5, -2147.483648, 0.1, TRUE, '2024-02-29',"
        " '2023-12-31 23:59:59.999', 'linha 1' || ASCII_CHAR(13) || ASCII_CHAR(10) || 'linha 2' || ASCII_CHAR(10)"
        " || 'linha 3' || ASCII_CHAR(13) || 'fim', x'000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D"
        "1E1F202122232425262728292A2B2C2D2E2F30313233343536373839', 'Ação');"
        // Blank and empty texts: each is a value, a CHAR of blanks as "" (the
        // connection reads a CHAR without its trailing blanks).
        "INSERT INTO PRODUTOS (CODIGO, DESCRICAO, UNIDADE, ATIVO, OBSERVACOES, DESCRICAOETIQUETA)"
        " VALUES (2, ' ', '   ', FALSE, '', '   ');"
        "INSERT INTO PRECOS (CODIGOLOJA, CODIGOPRODUTO, PRECOVENDA, PRECOCUSTO, MARGEM, COMISSAO, VIGENCIA)"
        " VALUES (7, 1, 12345678901.2345, 9999999999999999.99, -99.99, 0.000001, '0001-01-01');"
        "INSERT INTO VENDAS (NUMERO, CODIGOLOJA, DATAVENDA, HORAVENDA, TOTAL, CPFCLIENTE, ASSINATURA, CHAVEACESSO)"
        " VALUES (9223372036854775807, -2147483648, '9999-12-31', '23:59:59.9999', 92233720368547758.07, '',"
        " x'00FF0D0A2F2200000000000000000041', x'41E90A');"
        "INSERT INTO VENDAS (NUMERO, CODIGOLOJA, DATAVENDA, HORAVENDA) VALUES (-1, 1, '2024-01-02', '08:00:00.5');"
        "INSERT INTO ITENSVENDA (NUMEROVENDA, ITEM, CODIGOPRODUTO, QUANTIDADE, DESCONTO, PRECOUNITARIO)"
        " VALUES (9223372036854775807, -32768, 1, 1.7976931348623157e308, 0.1, -922337203685477.5807);"
        "INSERT INTO ITENSVENDA (NUMEROVENDA, ITEM, CODIGOPRODUTO, QUANTIDADE, DESCONTO)"
        " VALUES (-1, 32767, 2, 0.30000000000000004, -3.4028e38);");

    const std::string corpo = EnviarComSucesso();
    const auto req = servidor_.Ultima();
    EXPECT_EQ(req.Metodo, "PUT");
    EXPECT_EQ(req.Caminho, "/enviar/12");
    EXPECT_EQ(req.Cabecalho("Content-Type"), "application/json");
    for (unsigned char c : corpo) ASSERT_LT(c, 128) << "the body is ASCII only";

    const std::string foto =
        "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8gISIjJCUmJygpKissLS4vMDEyMzQ1Njc4\\r\\nOQ==";
    const std::vector<ComandoLido> esperado = {
        {"U", "PRODUTOS",
         R"({"CODIGO":"1","DESCRICAO":"P\u00E3o \"mineiro\" 1\/2","UNIDADE":"KG","ESTOQUEMINIMO":"-32768",)"
         R"("PESOLIQUIDO":"1,5","FATORCONVERSAO":"-2147,483648","PRECOREFERENCIA":"0,1","ATIVO":"True",)"
         R"("CADASTRO":"29\/02\/2024","ULTIMAALTERACAO":"31\/12\/2023 23:59:59,999",)"
         R"("OBSERVACOES":"linha 1\r\nlinha 2\nlinha 3\rfim","FOTO":")" +
             foto + R"(","DESCRICAOETIQUETA":"A\u00E7\u00E3o"})"},
        {"U", "PRODUTOS",
         R"({"CODIGO":"2","DESCRICAO":" ","UNIDADE":"","ATIVO":"False","OBSERVACOES":"","DESCRICAOETIQUETA":""})"},
        {"U", "PRECOS",
         R"({"CODIGOLOJA":"7","CODIGOPRODUTO":"1","PRECOVENDA":"12345678901,2345",)"
         R"("PRECOCUSTO":"9999999999999999,99","MARGEM":"-99,99","COMISSAO":"0,000001","VIGENCIA":"01\/01\/0001"})"},
        // OCTETS text travels byte for byte, line breaks included.
        {"U", "VENDAS",
         R"({"NUMERO":"9223372036854775807","CODIGOLOJA":"-2147483648","DATAVENDA":"31\/12\/9999",)"
         R"("HORAVENDA":"23:59:59,999","TOTAL":"92233720368547758,07","CPFCLIENTE":"",)"
         R"("ASSINATURA":"\u0000\u00FF\r\n\/\"\u0000\u0000\u0000\u0000\u0000\u0000\u0000\u0000\u0000A",)"
         R"("CHAVEACESSO":"A\u00E9\n"})"},
        {"U", "VENDAS", R"({"NUMERO":"-1","CODIGOLOJA":"1","DATAVENDA":"02\/01\/2024","HORAVENDA":"08:00:00,500"})"},
        {"U", "ITENSVENDA",
         R"({"NUMEROVENDA":"9223372036854775807","ITEM":"-32768","CODIGOPRODUTO":"1",)"
         R"("QUANTIDADE":"1,7976931348623157E308","DESCONTO":"0,100000001490116",)"
         R"("PRECOUNITARIO":"-922337203685477,5807"})"},
        {"U", "ITENSVENDA",
         R"({"NUMEROVENDA":"-1","ITEM":"32767","CODIGOPRODUTO":"2","QUANTIDADE":"0,30000000000000004",)"
         R"("DESCONTO":"-3,40279993879015E38"})"},
    };
    EXPECT_EQ(Comandos(corpo), esperado);

    // The body: members in order, the bounds after the commands, each
    // command's members in their fixed order.
    auto json = LerJSON(corpo);
    ASSERT_TRUE(json);
    std::vector<std::string> nomes;
    for (const auto& [nome, valor] : json->Membros()) nomes.push_back(nome);
    EXPECT_EQ(nomes, (std::vector<std::string>{"codigolojaorigem", "comandos", "ordeminicial", "ordemfinal"}));
    EXPECT_EQ(json->Membro("codigolojaorigem")->Bruto(), "12");
    EXPECT_EQ(json->Membro("ordeminicial")->Bruto(), std::to_string(posicao_ + 1));
    EXPECT_EQ(json->Membro("ordemfinal")->Bruto(), std::to_string(dm_->LogReplicacao().UltimoMovimentoLoja()));
    const TValorJSON& primeiro = json->Membro("comandos")->Elementos().front();
    nomes.clear();
    for (const auto& [nome, valor] : primeiro.Membros()) nomes.push_back(nome);
    EXPECT_EQ(nomes, (std::vector<std::string>{"ordem", "codigolojadestino", "acao", "tabela", "atualvalorchave1",
                                               "atualvalorchave2", "novovalorchave1", "ocorrencialocal",
                                               "idtransacao", "campos"}));
    EXPECT_GT(std::stoll(primeiro.Membro("ordem")->Bruto()), posicao_);
    EXPECT_EQ(primeiro.Membro("codigolojadestino")->Bruto(), "");  // NULL in the log
    EXPECT_EQ(primeiro.Membro("atualvalorchave1")->Bruto(), "1");
    EXPECT_EQ(primeiro.Membro("atualvalorchave2")->Bruto(), "");
    EXPECT_FALSE(primeiro.Membro("idtransacao")->Bruto().empty());
    // OCORRENCIA_LOCAL in the short date and long time format.
    EXPECT_TRUE(db::LerDataHora(primeiro.Membro("ocorrencialocal")->Bruto(), kBr) > protocolo::DataHora{});
}

TEST_F(EnvioDeBlocos, BlocoVazioAindaESeuIntervalo) {
    const std::string corpo = EnviarComSucesso();
    EXPECT_EQ(corpo, R"({"codigolojaorigem":"12","comandos":[],"ordeminicial":")" + std::to_string(posicao_ + 1) +
                         R"(","ordemfinal":")" + std::to_string(posicao_) + R"("})");
}

TEST_F(EnvioDeBlocos, LinhasQueSumiramExclusoesEDuasAlteracoesDaMesmaLinha) {
    Sql("INSERT INTO PRODUTOS (CODIGO, DESCRICAO) VALUES (20, 'vinte');"
        "INSERT INTO PRECOS (CODIGOLOJA, CODIGOPRODUTO, MARGEM) VALUES (3, 20, 1);"
        "INSERT INTO PRODUTOS (CODIGO, DESCRICAO) VALUES (21, 'vinte e um');"
        "UPDATE PRODUTOS SET DESCRICAO = 'vinte e um, de novo' WHERE CODIGO = 21;"
        "DELETE FROM PRODUTOS WHERE CODIGO = 20;"
        "INSERT INTO PRECOS (CODIGOLOJA, CODIGOPRODUTO) VALUES (3, 21);"
        "DELETE FROM PRECOS WHERE CODIGOPRODUTO = 21;"
        // A key that moves: the old key is deleted, the row is sent by its new one.
        "INSERT INTO PRODUTOS (CODIGO, DESCRICAO) VALUES (22, 'movido');"
        "UPDATE PRODUTOS SET CODIGO = 23 WHERE CODIGO = 22;"
        // Deletes logged for a three-column key and for a table without key.
        "INSERT INTO LOG_REPLICACAO (TIPO, TABELA, ATUALVALORCHAVE1, ATUALVALORCHAVE2)"
        " VALUES ('D', 'TRIPLA', '1', '2');"
        "INSERT INTO LOG_REPLICACAO (TIPO, TABELA, ATUALVALORCHAVE1) VALUES ('D', 'MOVIMENTOCAIXA', 'x');");
    const std::vector<ComandoLido> esperado = {
        // The insert of 20 is left out: the row is gone.
        {"U", "PRECOS", R"({"CODIGOLOJA":"3","CODIGOPRODUTO":"20","MARGEM":"1"})"},
        // Two log rows of one row (an insert and an update): both carry the
        // row as it is now, and both are update-or-insert on the wire.
        {"U", "PRODUTOS", R"({"CODIGO":"21","DESCRICAO":"vinte e um, de novo","UNIDADE":"UN","ATIVO":"True"})"},
        {"U", "PRODUTOS", R"({"CODIGO":"21","DESCRICAO":"vinte e um, de novo","UNIDADE":"UN","ATIVO":"True"})"},
        {"D", "PRODUTOS", R"({"CODIGO":"20"})"},
        {"D", "PRECOS", R"({"CODIGOLOJA":"3","CODIGOPRODUTO":"21"})"},
        {"D", "PRODUTOS", R"({"CODIGO":"22"})"},
        {"U", "PRODUTOS", R"({"CODIGO":"23","DESCRICAO":"movido","UNIDADE":"UN","ATIVO":"True"})"},
        {"D", "TRIPLA", R"({"A":"1","B":"2","C":"2"})"},
        {"D", "MOVIMENTOCAIXA", "{}"},
    };
    const std::string corpo = EnviarComSucesso();
    EXPECT_EQ(Comandos(corpo), esperado);
    // The bounds still cover the row that was left out.
    auto json = LerJSON(corpo);
    EXPECT_EQ(json->Membro("ordeminicial")->Bruto(), std::to_string(posicao_ + 1));
    EXPECT_EQ(json->Membro("ordemfinal")->Bruto(), std::to_string(dm_->LogReplicacao().UltimoMovimentoLoja()));
}

TEST_F(EnvioDeBlocos, BlocoDeMaisDeMilLinhasVaiEmBlocosDeMil) {
    Sql("SET TERM ^ ;\nEXECUTE BLOCK AS DECLARE I INTEGER = 0; BEGIN WHILE (I < 1001) DO BEGIN"
        " INSERT INTO PRECOS (CODIGOLOJA, CODIGOPRODUTO, MARGEM) VALUES (9, :I, 0.5); I = I + 1; END END^\n"
        "SET TERM ; ^\n");
    const auto comandos = Comandos(EnviarComSucesso());
    ASSERT_EQ(comandos.size(), 1000u);
    EXPECT_EQ(comandos.back().Campos, R"({"CODIGOLOJA":"9","CODIGOPRODUTO":"999","MARGEM":"0,5"})");
}

// Short blobs come with the row query, longer ones by a call of their own:
// each row's "campos" must be the very text that reading every blob by its
// own call gives (a plain select, each value through TextoDoCampo), around
// the inline length and for every kind of blob.
TEST_F(EnvioDeBlocos, BlobsCurtosELongosDaoOMesmoTexto) {
    const std::string n = std::to_string(db::kBytesBlobEmLinha);
    const std::string n1 = std::to_string(db::kBytesBlobEmLinha - 1);
    const std::string n2 = std::to_string(db::kBytesBlobEmLinha + 1);
    struct Caso {
        const char* descricao;
        std::string texto;    // SQL for BT, BU, BN, BO
        std::string binario;  // SQL for BB
    };
    const Caso casos[] = {
        {"NULL", "NULL", "NULL"},
        {"empty", "''", "x''"},
        {"one blank", "' '", "x'20'"},
        {"short, line breaks", "'a' || ASCII_CHAR(13) || ASCII_CHAR(10) || 'b' || ASCII_CHAR(10) || 'c' ||"
                               " ASCII_CHAR(13) || 'd/\"'", "x'000D0A0D22FF'"},
        {"exactly n", "LPAD('', " + n + ", 'x')", "CAST(LPAD('', " + n + ", ASCII_CHAR(0)) AS BLOB SUB_TYPE BINARY)"},
        {"n + 1", "LPAD('', " + n2 + ", 'x')", "CAST(LPAD('', " + n2 + ", ASCII_CHAR(255)) AS BLOB SUB_TYPE BINARY)"},
        // One byte each in Latin-1, two in UTF-8: the UTF8 column's value
        // crosses n here.
        {"n - 1 and a ç", "LPAD('', " + n1 + ", 'x') || 'ç'", "CAST(LPAD('', " + n1 + ", 'x') || 'ç' AS BLOB SUB_TYPE BINARY)"},
        {"n ç", "LPAD('', " + n + ", 'ç')", "CAST(LPAD('', " + n + ", 'ç') AS BLOB SUB_TYPE BINARY)"},
        {"every byte", "'ç' || ASCII_CHAR(127) || ASCII_CHAR(31) || ASCII_CHAR(9) || 'ÿ'",
         "CAST(x'000102030405060708090A0B0C0D0E0F' AS BLOB SUB_TYPE BINARY) || x'F0F1F2F3F4F5F6F7F8F9FAFBFCFDFEFF'"},
        {"long", "LPAD('', 20000, 'abcç')", "CAST(LPAD('', 20000, 'abc') AS BLOB SUB_TYPE BINARY)"},
    };
    std::string sql;
    for (std::size_t i = 0; i < std::size(casos); ++i) {
        const auto& c = casos[i];
        sql += "INSERT INTO BLOBS (ID, BT, BU, BN, BO, BB) VALUES (" + std::to_string(i) + ", " + c.texto + ", " +
               c.texto + ", " + c.texto + ", " + c.texto + ", " + c.binario + ");"
               "INSERT INTO LOG_REPLICACAO (TIPO, TABELA, ATUALVALORCHAVE1) VALUES ('U', 'BLOBS', '" +
               std::to_string(i) + "');";
    }
    Sql(sql);
    const std::string corpo = EnviarComSucesso();
    const auto comandos = Comandos(corpo);
    ASSERT_EQ(comandos.size(), std::size(casos));

    // Every blob read by its own call, as each was before, with exact texts
    // as the block's statements have them.
    db::Consulta simples(dm_->ConexaoGlobal(), dm_->TRPrincipal(), "SELECT ID, BT, BU, BN, BO, BB FROM BLOBS ORDER BY ID");
    simples.DefinirTextosExatos(true);
    std::size_t i = 0;
    for (bool tem = simples.Abrir(); tem; tem = simples.Proximo(), ++i) {
        ASSERT_LT(i, std::size(casos));
        SCOPED_TRACE(casos[i].descricao);
        TValorJSON campos = TValorJSON::Objeto();
        for (std::size_t k = 0; k < simples.Colunas().size(); ++k) {
            auto texto = TextoDoCampo(simples.Ler(k), simples.Colunas()[k], kBr);
            if (texto) campos.Adicionar(simples.Colunas()[k].Nome, TValorJSON::Texto(std::move(*texto)));
        }
        const std::string esperado = EscreverJSONCompacto(campos);
        EXPECT_EQ(comandos[i].Campos, esperado);
        EXPECT_NE(corpo.find("\"campos\":" + esperado + "}"), std::string::npos) << "byte for byte in the body";
    }
    EXPECT_EQ(i, std::size(casos));
    // Pinned: text keeps its line breaks, an empty blob is "" whatever its
    // kind, OCTETS text and binary travel as base64.
    EXPECT_EQ(comandos[3].Campos,
              R"({"ID":"3","BT":"a\r\nb\nc\rd\/\"","BU":"a\r\nb\nc\rd\/\"","BN":"a\r\nb\nc\rd\/\"",)"
              R"("BO":"YQ0KYgpjDWQvIg==","BB":"AA0KDSL\/"})");
    EXPECT_EQ(comandos[1].Campos, R"({"ID":"1","BT":"","BU":"","BN":"","BO":"","BB":""})");
}

// Which blobs the row query brings inline, and how long they may be.
TEST(SelectDoBloco, BlobsCurtosVemNaLinha) {
    using C = db::TCampoCatalogo;
    const std::string n = std::to_string(db::kBytesBlobEmLinha);
    const std::vector<C> blobs = {{"ID", true, 8, 0, 0, 4},       {"BT", false, 261, 1, 21, 8},
                                  {"BU", false, 261, 1, 4, 8},    {"BN", false, 261, 1, 0, 8},
                                  {"BB", false, 261, 0, 0, 8},    {"V", false, 37, 0, 21, 10}};
    const auto emLinha = [&](const char* coluna, const std::string& bytes) {
        return std::string(", CASE WHEN OCTET_LENGTH(T.") + coluna + ") <= " + bytes + " THEN CAST(T." + coluna +
               " AS VARCHAR(" + bytes + ") CHARACTER SET OCTETS) END";
    };
    const std::string nulo = ", CAST(NULL AS VARCHAR(1) CHARACTER SET OCTETS)";
    const std::string resto =
        " FROM BLOBS T INNER JOIN LOG_REPLICACAO L ON (T.ID = L.ATUALVALORCHAVE1) WHERE L.ORDEM BETWEEN"
        " :ORDEMINICIAL AND :ORDEMFINAL AND L.TABELA = 'BLOBS' ORDER BY ORDEM";
    EXPECT_EQ(db::MontarSQLQuerySEL("BLOBS", blobs),
              "SELECT L.ORDEM, T.ID, T.BT, T.BU, T.BN, T.BB, T.V" + emLinha("BT", n) + nulo + emLinha("BN", n) +
                  emLinha("BB", n) + resto);

    // A row that leaves less room in the 64 KiB message: the blobs share
    // what is left; none at all, and every inline column is NULL.
    std::vector<C> largo = {{"ID", true, 8, 0, 0, 4}, {"BT", false, 261, 1, 21, 8}, {"V", false, 37, 0, 21, 60000}};
    const std::string fim = " FROM BLOBS T INNER JOIN LOG_REPLICACAO L ON (T.ID = L.ATUALVALORCHAVE1) WHERE"
                            " L.ORDEM BETWEEN :ORDEMINICIAL AND :ORDEMFINAL AND L.TABELA = 'BLOBS' ORDER BY ORDEM";
    const std::string sql = db::MontarSQLQuerySEL("BLOBS", largo);
    const auto p = sql.find("<= ");
    ASSERT_NE(p, std::string::npos) << sql;
    const int bytes = std::stoi(sql.substr(p + 3));
    EXPECT_GT(bytes, 0);
    EXPECT_LT(bytes, 65535 - 60000);
    largo.back().Tamanho = 65000;
    EXPECT_EQ(db::MontarSQLQuerySEL("BLOBS", largo), "SELECT L.ORDEM, T.ID, T.BT, T.V" + nulo + fim);
}

TEST_F(EnvioDeBlocos, TabelaQueNaoSePodeLerFalhaComOTextoDaPreparacao) {
    struct Caso {
        const char* tabela;
        const char* comando;
    };
    const Caso casos[] = {
        {"MOVIMENTOCAIXA", "TBMOVIMENTOCAIXA_SEL"},  // no key: nothing to join the log on
        {"PRODUTOS X", "TBPRODUTOS X_SEL"},          // not an identifier: never reaches SQL
    };
    for (const auto& c : casos) {
        SCOPED_TRACE(c.tabela);
        const int64_t antes = dm_->LogReplicacao().UltimoMovimentoLoja();
        Sql(std::string("INSERT INTO LOG_REPLICACAO (TIPO, TABELA, ATUALVALORCHAVE1) VALUES ('U', '") + c.tabela +
            "', '1');");
        const int64_t ordem = dm_->LogReplicacao().UltimoMovimentoLoja();
        const std::string falha = teste::TextoDaFalhaDaRotina(
            "PrepararDataset", db::TCausaRotina::Banco, [&] { EnviarDados(servidor_.Base(), kLoja, antes, *dm_, contexto_, pasta_->Pasta()); });
        EXPECT_EQ(falha.rfind(std::string("Falha ao executar a rotina PrepararDataset: \r\nTabela: ") + c.comando +
                                 "\r\n",
                             0),
                  0u)
            << falha;
        // The entry ends with the way out: setting that log row aside.
        const std::string saida = TextoComoPorDeLadoEnvio(ordem);
        EXPECT_EQ(falha.size() - falha.rfind(saida), saida.size()) << falha;
        EXPECT_EQ(servidor_.Quantidade(), 0u);  // nothing is sent
        EXPECT_EQ(ConexoesDaReplicacao(), conexoes_);
    }
}

// The blocks of a run share one connection; each reads in a snapshot of
// its own, so a change committed between two blocks goes with the second.
TEST_F(EnvioDeBlocos, UmaConexaoPorLacoDeEnvioComUmInstantaneoPorBloco) {
    Sql("INSERT INTO PRODUTOS (CODIGO, DESCRICAO) VALUES (40, 'quarenta');");
    db::TModuloDaExecucao modulo;
    const auto enviar = [&](int64_t apos) {
        servidor_.Responder(RespostaProgramada::Json("{}"));
        return Comandos(*EnviarDados(servidor_.Base(), kLoja, apos, *dm_, contexto_, pasta_->Pasta(), nullptr, &modulo));
    };
    EXPECT_EQ(enviar(posicao_).size(), 1u);
    EXPECT_EQ(ConexoesDaReplicacao(), conexoes_ + 1);  // kept for the next block

    Sql("INSERT INTO PRODUTOS (CODIGO, DESCRICAO) VALUES (41, 'quarenta e um');");
    const auto segundo = enviar(posicao_ + 1);
    ASSERT_EQ(segundo.size(), 1u);
    EXPECT_NE(segundo[0].Campos.find("quarenta e um"), std::string::npos) << segundo[0].Campos;
    EXPECT_EQ(ConexoesDaReplicacao(), conexoes_ + 1);

    modulo.Liberar();
    EXPECT_EQ(ConexoesDaReplicacao(), conexoes_);
}

TEST_F(EnvioDeBlocos, ResultadoDaTroca) {
    Sql("INSERT INTO PRODUTOS (CODIGO, DESCRICAO) VALUES (30, 'trinta');");

    // 409 with a body: a refusal, returned with its body; nothing raised,
    // the block was sent.
    // While the server is being waited for, the block's own connection is
    // already closed.
    int durante = -1;
    servidor_.Manipulador([&](const teste::RequisicaoRecebida&) {
        durante = ConexoesDaReplicacao();
        return RespostaProgramada::Texto("bloco fora de ordem", 409);
    });
    const TResultado<std::string> recusado = Enviar();
    EXPECT_EQ(durante, conexoes_);
    ASSERT_TRUE(recusado.Recusado());
    EXPECT_EQ(recusado.Recusa()->StatusCode, 409);
    EXPECT_EQ(recusado.Recusa()->Conteudo, "bloco fora de ordem");
    EXPECT_EQ(recusado.Recusa()->Pedido, "PUT " + servidor_.Base("enviar/12"));
    EXPECT_EQ(Comandos(servidor_.Ultima().Corpo).size(), 1u);

    // 500: the status line, the body and the request, raised.
    servidor_.Responder(RespostaProgramada::Texto("falha interna", 500));
    if (const auto e = teste::Capturar<TErroStatusServidor>([&] { Enviar(); })) {
        EXPECT_EQ(std::string(e->what()),
                  "HTTP/1.1 500 Internal Server Error: falha interna (PUT " + servidor_.Base("enviar/12") + ")");
        EXPECT_EQ(e->Resposta().StatusCode, 500);
    }

    // No answer: the transport's cause and the request, never an empty text.
    const std::string fechada = "http://127.0.0.1:" + std::to_string(ServidorHttp::PortaFechada());
    if (const auto e = teste::Capturar<TErroTransporte>(
            [&] { EnviarDados(fechada, kLoja, posicao_, *dm_, contexto_, pasta_->Pasta()); })) {
        const std::string texto = e->what();
        EXPECT_TRUE(texto.starts_with("REST request failed: ")) << texto;
        EXPECT_TRUE(texto.ends_with(" (PUT " + fechada + "/enviar/12)")) << texto;
    }
}

TEST_F(EnvioDeBlocos, FalhaDoBancoChegaComoVeio) {
    // A per-operation connection that cannot be made.
    const std::string outra = pasta_->Pasta() + "outra/";
    std::filesystem::create_directories(outra);
    std::ofstream(outra + "korvin.ini") << "[Korvin]\nServidor=127.0.0.1\nCaminho=/nao/existe.fdb\n";
    EXPECT_THROW(EnviarDados(servidor_.Base(), kLoja, posicao_, *dm_, contexto_, outra), db::ErroBanco);
    EXPECT_EQ(servidor_.Quantidade(), 0u);
}

TEST(TextoDeHora, FracoesDeSegundo) {
    protocolo::TConfiguracoesRegionais doze = kBr;
    doze.FormatoHoraLonga = "h:mm:ss ampm";
    doze.SimboloAM = "AM";
    doze.SimboloPM = "PM";
    protocolo::TConfiguracoesRegionais semSegundos = kBr;
    semSegundos.FormatoHoraLonga = "hh:mm";
    protocolo::TConfiguracoesRegionais ponto = kBr;
    ponto.SeparadorDecimal = ".";
    ponto.FormatoHoraLonga = "hh'h'mm'm'ss's'";
    // Fractions travel as milliseconds, three digits: the ten-thousandth
    // the database keeps is cut.
    struct Caso {
        protocolo::Hora hora;
        const protocolo::TConfiguracoesRegionais* regional;
        const char* texto;
        protocolo::Hora lido;  // what the text reads back as
    };
    const Caso casos[] = {
        {{14, 5, 9, 0}, &kBr, "14:05:09", {14, 5, 9, 0}},  // whole seconds: the plain format
        {{14, 5, 9, 5000}, &kBr, "14:05:09,500", {14, 5, 9, 5000}},
        {{14, 5, 9, 10}, &kBr, "14:05:09,001", {14, 5, 9, 10}},
        {{14, 5, 9, 1}, &kBr, "14:05:09", {14, 5, 9, 0}},  // below a millisecond: no fraction
        {{14, 5, 9, 19}, &kBr, "14:05:09,001", {14, 5, 9, 10}},
        {{23, 59, 59, 9999}, &kBr, "23:59:59,999", {23, 59, 59, 9990}},  // cut, never into the next second
        {{14, 5, 9, 2500}, &doze, "2:05:09,250 PM", {14, 5, 9, 2500}},  // the fraction stays by the seconds
        {{14, 5, 0, 0}, &semSegundos, "14:05", {14, 5, 0, 0}},
        {{14, 5, 9, 0}, &semSegundos, "14:05:09", {14, 5, 9, 0}},  // a format without seconds would lose them
        {{14, 5, 9, 1230}, &semSegundos, "14:05:09,123", {14, 5, 9, 1230}},
    };
    for (const auto& c : casos) {
        EXPECT_EQ(TextoHoraCompleta(c.hora, *c.regional), c.texto);
        EXPECT_EQ(db::LerHora(c.texto, *c.regional), c.lido) << c.texto;
    }
    // Quoted text around the seconds stays where it was.
    EXPECT_EQ(TextoHoraCompleta({1, 2, 3, 4560}, ponto), "01h02m03.456s");
    EXPECT_EQ(TextoDataHoraCompleta({{2024, 2, 29}, {0, 0, 0, 0}}, kBr), "29/02/2024");
    EXPECT_EQ(TextoDataHoraCompleta({{2024, 2, 29}, {0, 0, 0, 1}}, kBr), "29/02/2024 00:00:00");
    EXPECT_EQ(TextoDataHoraCompleta({{2024, 2, 29}, {0, 0, 0, 10}}, kBr), "29/02/2024 00:00:00,001");
}

}  // namespace
}  // namespace ondaris::sync
