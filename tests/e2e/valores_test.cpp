// Values that must arrive exactly as they left, through the real programs:
// two store databases with tables of their own, their logging triggers
// installed by "ondarisd --instalar-gatilhos", the reference central server
// and one "ondarisd --once" per store and step. What arrives is read back
// in both stores with empty text and NULL told apart.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "protocolo/json.h"
#include "protocolo/texto.h"
#include "support/banco_teste.h"
#include "support/loja_e2e.h"

namespace {

using ondaris::teste::AgenteE2E;
using ondaris::teste::BancoTeste;
using ondaris::teste::CentralE2E;
using ondaris::teste::LeitorLoja;
using ondaris::teste::Linhas;
using ondaris::teste::Inteiro;

// The stores' own tables: "$" in a table's and in columns' names, a NOT NULL
// text, a CHAR, a text blob, and CURTO, whose length differs by store.
std::string Tabelas(int tamanhoCurto, const std::string& colunaExtra = {}) {
    return "CREATE TABLE NOTAS (ID INTEGER NOT NULL PRIMARY KEY, TEXTO VARCHAR(40), OBRIGATORIO VARCHAR(20) NOT NULL,"
           " FIXO CHAR(6), LONGO BLOB SUB_TYPE TEXT, OBS$ VARCHAR(20), CURTO VARCHAR(" +
           std::to_string(tamanhoCurto) + ")" + colunaExtra + ");\n"
           "CREATE TABLE PRE$COS (COD$ INTEGER NOT NULL PRIMARY KEY, VALOR$ VARCHAR(20));\n";
}

std::size_t Ocorrencias(const std::string& texto, const std::string& trecho) {
    std::size_t n = 0;
    for (auto p = texto.find(trecho); p != std::string::npos; p = texto.find(trecho, p + 1)) ++n;
    return n;
}

class ValoresTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ondaris::teste::GarantirUsuarioReplicacao(); }

    // Both stores with their tables and triggers, as the README has the
    // technician do it; the central server's structure list is store 2's.
    void Preparar(const std::string& tabelas1, const std::string& tabelas2) {
        loja1_ = std::make_unique<BancoTeste>(BancoTeste::Conteudo::Objetos);
        loja2_ = std::make_unique<BancoTeste>(BancoTeste::Conteudo::Objetos);
        loja1_->ExecutarSql(tabelas1);
        loja2_->ExecutarSql(tabelas2);
        agente1_ = std::make_unique<AgenteE2E>(*loja1_, ondaris::teste::AmbienteBrasileiro());
        agente2_ = std::make_unique<AgenteE2E>(*loja2_, ondaris::teste::AmbienteBrasileiro());
        for (const AgenteE2E* agente : {agente1_.get(), agente2_.get()}) {
            const auto [status, saida] = agente->Comando({"--instalar-gatilhos", "NOTAS", "PRE$COS"}, true);
            ASSERT_EQ(status, 0) << saida;
            EXPECT_NE(saida.find("PRE$COS_RPL"), std::string::npos) << saida;
        }
        central_ = std::make_unique<CentralE2E>(ondaris::teste::EstruturaDe(*loja2_));
        ondaris::teste::ConfigurarLoja(*loja1_, 1, central_->Url(1));
        ondaris::teste::ConfigurarLoja(*loja2_, 2, central_->Url(2));
    }

    // The test writes UTF-8; the script file is read as ISO8859_1.
    static void Executar(const BancoTeste& banco, const std::string& sqlUtf8) {
        banco.ExecutarSql(ondaris::protocolo::Utf8ParaLatin1(sqlUtf8));
    }
    static void Rodar(AgenteE2E& agente, const char* qual) { ondaris::teste::RodarSemFalha(agente, qual); }

    // Declared first, destroyed last: the programs are gone before the
    // databases are dropped.
    std::unique_ptr<BancoTeste> loja1_, loja2_;
    std::unique_ptr<CentralE2E> central_;
    std::unique_ptr<AgenteE2E> agente1_, agente2_;
};

TEST_F(ValoresTest, EachValueArrivesExactlyOrTheBlockFailsNamingIt) {
    ASSERT_NO_FATAL_FAILURE(Preparar(Tabelas(20), Tabelas(10)));

    struct Caso {
        const char* nome;
        std::string insercao;  // run in store 1
        std::string consulta;  // read in both stores
        std::string esperado;  // as store 2 must hold it
    };
    const auto nota = [](int id) {
        return "SELECT TEXTO, TEXTO IS NULL FROM NOTAS WHERE ID = " + std::to_string(id);
    };
    const std::vector<Caso> casos = {
        {"lines ending in LF",
         "INSERT INTO NOTAS (ID, OBRIGATORIO, TEXTO) VALUES (1, 'x', 'linha1' || ASCII_CHAR(10) || 'linha2');",
         nota(1), "'linha1\\nlinha2' | FALSE"},
        {"lines ending in CR LF, and a lone CR",
         "INSERT INTO NOTAS (ID, OBRIGATORIO, TEXTO) VALUES (2, 'x', 'linha1' || ASCII_CHAR(13) || ASCII_CHAR(10) ||"
         " 'linha2' || ASCII_CHAR(13) || 'fim' || ASCII_CHAR(10));",
         nota(2), "'linha1\\r\\nlinha2\\rfim\\n' | FALSE"},
        {"empty text, nullable column", "INSERT INTO NOTAS (ID, OBRIGATORIO, TEXTO) VALUES (3, 'x', '');", nota(3),
         "'' | FALSE"},
        {"empty text, NOT NULL column", "INSERT INTO NOTAS (ID, OBRIGATORIO) VALUES (4, '');",
         "SELECT OBRIGATORIO, OBRIGATORIO IS NULL, TEXTO FROM NOTAS WHERE ID = 4", "'' | FALSE | NULL"},
        {"empty text blob", "INSERT INTO NOTAS (ID, OBRIGATORIO, LONGO) VALUES (5, 'x', '');",
         "SELECT LONGO, LONGO IS NULL, OCTET_LENGTH(LONGO) FROM NOTAS WHERE ID = 5", "'' | FALSE | 0"},
        {"CHAR of blanks", "INSERT INTO NOTAS (ID, OBRIGATORIO, FIXO) VALUES (6, 'x', '      ');",
         "SELECT FIXO, FIXO IS NULL, OCTET_LENGTH(FIXO), FIXO = '      ' FROM NOTAS WHERE ID = 6",
         "'' | FALSE | 6 | TRUE"},
        {"text as long as the receiving column", "INSERT INTO NOTAS (ID, OBRIGATORIO, CURTO) VALUES (7, 'x', 'dez letras');",
         "SELECT CURTO FROM NOTAS WHERE ID = 7", "'dez letras'"},
        {"$ in a column's name", "INSERT INTO NOTAS (ID, OBRIGATORIO, OBS$) VALUES (8, 'x', 'com cifrão');",
         "SELECT OBS$ FROM NOTAS WHERE ID = 8", "'com cifrão'"},
        {"$ in a table's name",
         "INSERT INTO PRE$COS (COD$, VALOR$) VALUES (7, 'sete');\nINSERT INTO PRE$COS (COD$, VALOR$) VALUES (8, '');",
         "SELECT COD$, VALOR$, VALOR$ IS NULL FROM PRE$COS ORDER BY COD$",
         "7 | 'sete' | FALSE\n8 | '' | FALSE"},
    };
    std::string script;
    for (const auto& c : casos) script += c.insercao + "\n";
    Executar(*loja1_, script);
    ASSERT_NO_FATAL_FAILURE(Rodar(*agente1_, "store 1"));
    ASSERT_NO_FATAL_FAILURE(Rodar(*agente2_, "store 2"));
    for (const auto& c : casos) {
        SCOPED_TRACE(c.nome);
        const auto linhas = Linhas(*loja2_, c.consulta);
        std::string recebido;
        for (const auto& l : linhas) recebido += (recebido.empty() ? "" : "\n") + l;
        EXPECT_EQ(recebido, c.esperado);
        EXPECT_EQ(linhas, Linhas(*loja1_, c.consulta)) << "the sending store holds another value";
    }

    // A key with "$" that changes: a delete of the old key, then the row
    // under the new one.
    Executar(*loja1_, "UPDATE PRE$COS SET COD$ = 70, VALOR$ = 'setenta' WHERE COD$ = 7;\n"
                      "DELETE FROM PRE$COS WHERE COD$ = 8;\n");
    ASSERT_NO_FATAL_FAILURE(Rodar(*agente1_, "store 1"));
    ASSERT_NO_FATAL_FAILURE(Rodar(*agente2_, "store 2"));
    EXPECT_EQ(Linhas(*loja2_, "SELECT COD$, VALOR$ FROM PRE$COS ORDER BY COD$"),
              (std::vector<std::string>{"70 | 'setenta'"}));

    // Text longer than store 2's column, in one transaction with another
    // row: the block fails naming the command, the column and both lengths,
    // and nothing of it stays.
    Executar(*loja1_, "INSERT INTO NOTAS (ID, OBRIGATORIO, TEXTO) VALUES (20, 'x', 'no mesmo bloco');\n"
                      "INSERT INTO NOTAS (ID, OBRIGATORIO, CURTO) VALUES (21, 'x', 'onze letras');\n");
    ASSERT_NO_FATAL_FAILURE(Rodar(*agente1_, "store 1"));
    const std::int64_t posicao = Inteiro(*loja2_, "SELECT ULTIMORECEBIMENTO FROM RPL_CONFIGURACOES");
    // The command's ordem in this direction is the central server's.
    const auto bloco = ondaris::protocolo::LerJSON(central_->Get("/receber/2/" + std::to_string(posicao)));
    ASSERT_TRUE(bloco && bloco->Membro("comandos"));
    std::string ordem;
    for (const auto& c : bloco->Membro("comandos")->Elementos())
        if (c.Membro("campos") && c.Membro("campos")->Membro("CURTO")) ordem = c.Membro("ordem")->Bruto();
    ASSERT_FALSE(ordem.empty()) << "the command with CURTO did not reach the central server";

    const std::string logAntes = agente2_->Log();
    EXPECT_EQ(agente2_->RodarUmaVez(), 1) << agente2_->Saida();
    const std::string entrada = agente2_->Log().substr(logAntes.size());
    EXPECT_NE(entrada.find("Falha ao executar a rotina ReceberDados: o comando de ordem " + ordem +
                           ", coluna CURTO: o texto tem 11 caracteres e a coluna (VARCHAR(10)) guarda no máximo 10 "
                           "caracteres"),
              std::string::npos)
        << entrada;
    EXPECT_EQ(Inteiro(*loja2_, "SELECT COUNT(*) FROM NOTAS WHERE ID IN (20, 21)"), 0);
    EXPECT_EQ(Inteiro(*loja2_, "SELECT ULTIMORECEBIMENTO FROM RPL_CONFIGURACOES"), posicao);
}

TEST_F(ValoresTest, AColumnOfOneStoreOnlyIsToldWhereItIsSentAndWhereItIsDropped) {
    ASSERT_NO_FATAL_FAILURE(Preparar(Tabelas(10, ", EXTRA VARCHAR(20)"), Tabelas(10)));

    // The sending store's check: the list (store 2's) does not name EXTRA.
    const auto [status, verificacao] = agente1_->Comando({"--verificar"});
    EXPECT_EQ(status, 0) << verificacao;
    EXPECT_NE(verificacao.find("AVISO  Tabela NOTAS: a coluna EXTRA desta loja não está na lista de estrutura; os "
                               "valores são enviados, mas as outras lojas não os gravam"),
              std::string::npos)
        << verificacao;
    EXPECT_NE(verificacao.find("Nenhuma falha e 1 aviso"), std::string::npos) << verificacao;

    Executar(*loja1_, "INSERT INTO NOTAS (ID, OBRIGATORIO, TEXTO, EXTRA) VALUES (1, 'x', 'com extra', 'só aqui');\n"
                      "INSERT INTO NOTAS (ID, OBRIGATORIO, TEXTO, EXTRA) VALUES (2, 'y', 'outra', 'também');\n");
    ASSERT_NO_FATAL_FAILURE(Rodar(*agente1_, "store 1"));

    // The receiving store drops EXTRA, says so once in this run, and applies
    // the rest of each row.
    EXPECT_EQ(agente2_->RodarUmaVez(), 0) << agente2_->Saida() << agente2_->Log();
    const std::string log = agente2_->Log();
    EXPECT_EQ(Ocorrencias(log, "A tabela NOTAS desta loja não tem a coluna EXTRA"), 1u) << log;
    EXPECT_NE(log.find("os valores dessa coluna são descartados e o resto de cada linha é gravado"),
              std::string::npos)
        << log;
    EXPECT_NE(agente2_->Saida().find("não tem a coluna EXTRA"), std::string::npos)
        << "the receive panel tells it too:\n"
        << agente2_->Saida();
    EXPECT_EQ(Linhas(*loja2_, "SELECT ID, OBRIGATORIO, TEXTO FROM NOTAS ORDER BY ID"),
              (std::vector<std::string>{"1 | 'x' | 'com extra'", "2 | 'y' | 'outra'"}));
}

}  // namespace
