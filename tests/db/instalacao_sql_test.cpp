// Installing the replication objects (sql/replicacao.sql) on databases as
// stores have them: with tables of their own named like our examples, with
// a LOG_REPLICACAO or other objects of our names that are not ours, with
// our objects already there (the script run twice), and with the first
// version of our objects, full of log rows and reservations, upgraded in
// place. The example tables (sql/exemplos.sql) carry the generator's own
// triggers.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "db/conexao.h"
#include "db/gatilhos.h"
#include "db/manutencao.h"
#include "support/banco_teste.h"
#include "support/captura.h"
#include "support/loja_e2e.h"

namespace ondaris::teste {
namespace {

const std::string kObjetos = std::string(ONDARIS_SOURCE_DIR) + "/sql/replicacao.sql";
const std::string kExemplos = std::string(ONDARIS_SOURCE_DIR) + "/sql/exemplos.sql";
// The objects and example tables as the first version's script made them.
const std::string kVersao1 = std::string(ONDARIS_SOURCE_DIR) + "/tests/db/loja_versao1.sql";

std::string Ler(const std::string& arquivo) {
    std::ifstream f(arquivo, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

// Everything of a database a script could touch, as comparable lines: the
// user objects with their sources, the rights, and the rows of every table.
std::vector<std::string> Retrato(const BancoTeste& banco) {
    LeitorLoja leitor(banco);
    std::vector<std::string> r;
    const auto juntar = [&](const std::string& rotulo, const std::string& sql) {
        for (auto& l : leitor.Linhas(sql)) r.push_back(rotulo + " " + l);
    };
    juntar("tabela", "SELECT TRIM(RF.RDB$RELATION_NAME), TRIM(RF.RDB$FIELD_NAME), F.RDB$FIELD_TYPE,"
                     " F.RDB$CHARACTER_LENGTH FROM RDB$RELATION_FIELDS RF JOIN RDB$RELATIONS R"
                     " ON R.RDB$RELATION_NAME = RF.RDB$RELATION_NAME JOIN RDB$FIELDS F"
                     " ON F.RDB$FIELD_NAME = RF.RDB$FIELD_SOURCE WHERE COALESCE(R.RDB$SYSTEM_FLAG, 0) = 0"
                     " ORDER BY 1, RF.RDB$FIELD_POSITION");
    juntar("gatilho", "SELECT TRIM(RDB$TRIGGER_NAME), TRIM(RDB$RELATION_NAME), RDB$TRIGGER_TYPE, RDB$TRIGGER_INACTIVE,"
                      " RDB$TRIGGER_SOURCE FROM RDB$TRIGGERS WHERE COALESCE(RDB$SYSTEM_FLAG, 0) = 0 ORDER BY 1");
    juntar("procedimento", "SELECT TRIM(RDB$PROCEDURE_NAME), RDB$PROCEDURE_SOURCE FROM RDB$PROCEDURES"
                           " WHERE COALESCE(RDB$SYSTEM_FLAG, 0) = 0 ORDER BY 1");
    juntar("gerador", "SELECT TRIM(RDB$GENERATOR_NAME) FROM RDB$GENERATORS WHERE COALESCE(RDB$SYSTEM_FLAG, 0) = 0"
                      " ORDER BY 1");
    juntar("indice", "SELECT TRIM(RDB$INDEX_NAME), TRIM(RDB$RELATION_NAME) FROM RDB$INDICES"
                     " WHERE COALESCE(RDB$SYSTEM_FLAG, 0) = 0 ORDER BY 1");
    juntar("excecao", "SELECT TRIM(RDB$EXCEPTION_NAME) FROM RDB$EXCEPTIONS ORDER BY 1");
    juntar("direito", "SELECT TRIM(RDB$USER), TRIM(RDB$RELATION_NAME), RDB$PRIVILEGE, TRIM(RDB$FIELD_NAME)"
                      " FROM RDB$USER_PRIVILEGES WHERE RDB$USER <> 'SYSDBA' ORDER BY 1, 2, 3, 4");
    for (const auto& l : leitor.Linhas("SELECT TRIM(RDB$RELATION_NAME) FROM RDB$RELATIONS"
                                       " WHERE COALESCE(RDB$SYSTEM_FLAG, 0) = 0 AND RDB$VIEW_BLR IS NULL"
                                       " ORDER BY 1")) {
        const std::string tabela = l.substr(1, l.size() - 2);
        juntar("linha " + tabela, "SELECT * FROM " + tabela + " ORDER BY 1");
    }
    for (const auto& l : leitor.Linhas("SELECT TRIM(RDB$GENERATOR_NAME) FROM RDB$GENERATORS"
                                       " WHERE COALESCE(RDB$SYSTEM_FLAG, 0) = 0")) {
        const std::string gerador = l.substr(1, l.size() - 2);
        juntar("valor " + gerador, "SELECT GEN_ID(" + gerador + ", 0) FROM RDB$DATABASE");
    }
    return r;
}

bool Contem(const std::vector<std::string>& linhas, const std::string& trecho) {
    for (const auto& l : linhas)
        if (l.find(trecho) != std::string::npos) return true;
    return false;
}

class InstalacaoSql : public ::testing::Test {
protected:
    static void SetUpTestSuite() { GarantirUsuarioReplicacao(); }
};

TEST_F(InstalacaoSql, AStoresOwnTablesNamedLikeTheExamplesAreNeverTouched) {
    BancoTeste banco(BancoTeste::Conteudo::Vazio);
    banco.ExecutarSql(
        "CREATE TABLE PRODUTOS (ID INTEGER NOT NULL PRIMARY KEY, NOME VARCHAR(80), PRECO NUMERIC(12,2));\n"
        "CREATE TABLE VENDAS (ID INTEGER NOT NULL PRIMARY KEY, TOTAL NUMERIC(12,2));\n"
        "CREATE TABLE MOVIMENTOCAIXA (ID INTEGER NOT NULL PRIMARY KEY);\n"
        "INSERT INTO PRODUTOS VALUES (1, 'Arroz', 20.5);\n"
        "INSERT INTO VENDAS VALUES (1, 41);\n");
    const auto antes = Retrato(banco);

    const std::string saida = banco.ExecutarArquivo(kObjetos);
    EXPECT_NE(saida.find("Nenhuma tabela da loja foi criada ou alterada"), std::string::npos) << saida;
    const auto depois = Retrato(banco);
    for (const auto& linha : antes)
        EXPECT_NE(std::find(depois.begin(), depois.end(), linha), depois.end()) << "lost or changed: " << linha;
    for (const char* tabela : {"PRODUTOS", "VENDAS", "MOVIMENTOCAIXA"})
        EXPECT_FALSE(Contem(depois, std::string("gatilho ") + "'" + tabela)) << tabela;
    EXPECT_FALSE(Contem(depois, "tabela 'PRECOS'"));

    // The example tables' script is for the demo and tests: on a store it
    // refuses before creating anything.
    const auto comObjetos = Retrato(banco);
    const std::string recusa = TextoDaFalha<ErroBancoTeste>([&] { banco.ExecutarArquivo(kExemplos); });
    EXPECT_NE(recusa.find("PRODUTOS"), std::string::npos) << recusa;
    EXPECT_NE(recusa.find("VENDAS"), std::string::npos) << recusa;
    EXPECT_NE(recusa.find("nada foi criado"), std::string::npos) << recusa;
    EXPECT_EQ(Retrato(banco), comObjetos);
}

TEST_F(InstalacaoSql, ObjectsOfOurNamesThatAreNotOursAreRefusedBeforeAnythingIsCreated) {
    struct Caso {
        const char* nome;
        const char* preparo;
        const char* recusa;
    };
    const std::vector<Caso> casos = {
        {"a log of the store's own",
         "CREATE TABLE LOG_REPLICACAO (ID INTEGER NOT NULL PRIMARY KEY, QUANDO TIMESTAMP, TEXTO VARCHAR(200));\n"
         "INSERT INTO LOG_REPLICACAO VALUES (1, CURRENT_TIMESTAMP, 'backup feito');\n",
         "LOG_REPLICACAO ja existe neste banco e nao e o log da replicacao (colunas ID:8,QUANDO:35,TEXTO:37:200)"},
        {"a generator of that name",
         "CREATE SEQUENCE GEN_LOG_REPLICACAO;\nALTER SEQUENCE GEN_LOG_REPLICACAO RESTART WITH 77;\n",
         "GEN_LOG_REPLICACAO ja existe neste banco sem o LOG_REPLICACAO"},
        {"a procedure of that name",
         "SET TERM ^ ;\nCREATE PROCEDURE PROC_RETORNA_INDICE (LOJA INTEGER) RETURNS (TOTAL INTEGER) AS\n"
         "BEGIN TOTAL = LOJA; SUSPEND; END^\nSET TERM ; ^\n",
         "PROC_RETORNA_INDICE ja existe neste banco e nao e o da replicacao (parametros E:LOJA,S:TOTAL)"},
        {"settings of another system",
         "CREATE TABLE RPL_CONFIGURACOES (CHAVE VARCHAR(20), VALOR VARCHAR(200));\n",
         "RPL_CONFIGURACOES ja existe neste banco e nao e a da replicacao"},
    };
    for (const auto& c : casos) {
        SCOPED_TRACE(c.nome);
        BancoTeste banco(BancoTeste::Conteudo::Vazio);
        banco.ExecutarSql(c.preparo);
        const auto antes = Retrato(banco);
        const std::string saida = TextoDaFalha<ErroBancoTeste>([&] { banco.ExecutarArquivo(kObjetos); });
        EXPECT_NE(saida.find(c.recusa), std::string::npos) << saida;
        EXPECT_NE(saida.find("Instalacao recusada: nada foi criado"), std::string::npos) << saida;
        EXPECT_EQ(Retrato(banco), antes);
    }
}

TEST_F(InstalacaoSql, ALogAheadOfItsGeneratorIsRefusedRatherThanGivenPositionsTwice) {
    BancoTeste banco(BancoTeste::Conteudo::Objetos);
    banco.ExecutarSql("INSERT INTO LOG_REPLICACAO (TIPO, TABELA) VALUES ('U', 'PRODUTOS');\n"
                      "INSERT INTO LOG_REPLICACAO (TIPO, TABELA) VALUES ('U', 'PRODUTOS');\nCOMMIT;\n"
                      "ALTER SEQUENCE GEN_LOG_REPLICACAO RESTART WITH 1;\n");
    const auto antes = Retrato(banco);
    const std::string saida = TextoDaFalha<ErroBancoTeste>([&] { banco.ExecutarArquivo(kObjetos); });
    EXPECT_NE(saida.find("GEN_LOG_REPLICACAO (1) esta abaixo da maior ORDEM do log (2)"), std::string::npos) << saida;
    EXPECT_EQ(Retrato(banco), antes);
}

TEST_F(InstalacaoSql, RunningTheScriptAgainChangesNothing) {
    BancoTeste banco;  // objects and examples
    ConfigurarLoja(banco, 4, "http://127.0.0.1:1/");
    banco.ExecutarSql("INSERT INTO PRODUTOS (CODIGO, DESCRICAO) VALUES (1, 'um');\nCOMMIT;\n"
                      "UPDATE PRODUTOS SET DESCRICAO = 'um!';\n");
    const auto antes = Retrato(banco);
    ASSERT_TRUE(Contem(antes, "linha LOG_REPLICACAO 2 |"));
    banco.ExecutarArquivo(kObjetos);
    banco.ExecutarArquivo(kObjetos);
    EXPECT_EQ(Retrato(banco), antes);
}

TEST_F(InstalacaoSql, AFirstVersionDatabaseIsUpgradedInPlaceWithNothingLost) {
    BancoTeste banco(BancoTeste::Conteudo::Vazio);
    banco.ExecutarArquivo(kVersao1);
    ConfigurarLoja(banco, 7, "http://127.0.0.1:1/");
    banco.ExecutarSql(
        "INSERT INTO PRODUTOS (CODIGO, DESCRICAO) VALUES (1, 'um');\n"
        "INSERT INTO PRECOS (CODIGOLOJA, CODIGOPRODUTO, PRECOVENDA) VALUES (7, 1, 2.5);\nCOMMIT;\n"
        "UPDATE PRODUTOS SET CODIGO = 2;\nCOMMIT;\n"
        "DELETE FROM PRECOS;\nCOMMIT;\n"
        "UPDATE RPL_CONFIGURACOES SET ULTIMORECEBIMENTO = 1234;\n");
    // The reservations of the first version are there until the block
    // procedure prunes them.
    std::vector<std::string> reservas, log, configuracao, linhas;
    std::int64_t gerador = 0;
    {
        LeitorLoja leitor(banco);
        reservas = leitor.Linhas("SELECT ID_TRANSACAO, ORDEMBASE FROM RPL_RESERVAS ORDER BY 1");
        log = leitor.Linhas("SELECT * FROM LOG_REPLICACAO ORDER BY ORDEM");
        configuracao = leitor.Linhas("SELECT * FROM RPL_CONFIGURACOES");
        linhas = leitor.Retrato();
        gerador = leitor.Inteiro("SELECT GEN_ID(GEN_LOG_REPLICACAO, 0) FROM RDB$DATABASE");
    }
    ASSERT_EQ(reservas.size(), 3u);
    ASSERT_EQ(log.size(), 5u);

    // A store terminal in the middle of a sale: the first version's
    // reservations cannot be changed under it, so the script refuses before
    // it changes anything, and says why.
    {
        db::ParametrosConexao caixa;
        caixa.Servidor = "127.0.0.1";
        caixa.Caminho = banco.Caminho();
        caixa.Usuario = "SYSDBA";
        caixa.Senha = SenhaSysdba();
        db::Conexao terminal(caixa, "Caixa");
        db::Transacao venda(terminal, "Venda", db::OpcoesTransacao{.InicioAutomatico = true});
        db::Consulta(terminal, venda, "INSERT INTO PRODUTOS (CODIGO, DESCRICAO) VALUES (9, 'no caixa')").Executar();
        const auto antes = Retrato(banco);
        const std::string recusa = TextoDaFalha<ErroBancoTeste>([&] { banco.ExecutarArquivo(kObjetos); });
        EXPECT_NE(recusa.find("precisa do banco sem outras conexoes: ha 1 (o agente, os programas da loja)"),
                  std::string::npos)
            << recusa;
        venda.Commit();
        terminal.Fechar();
        // Nothing changed but the sale's own product and log row, which
        // its commit made visible (its reservation was committed at once).
        const auto depois = Retrato(banco);
        for (const auto& linha : antes)
            EXPECT_NE(std::find(depois.begin(), depois.end(), linha), depois.end()) << "lost or changed: " << linha;
        EXPECT_EQ(depois.size(), antes.size() + 2);
    }

    const std::string saida = banco.ExecutarArquivo(kObjetos);
    EXPECT_NE(saida.find("versao 4"), std::string::npos) << saida;

    LeitorLoja leitor(banco);
    const auto logDepois = leitor.Linhas("SELECT * FROM LOG_REPLICACAO ORDER BY ORDEM");
    ASSERT_EQ(logDepois.size(), 6u);
    EXPECT_EQ(std::vector<std::string>(logDepois.begin(), logDepois.begin() + 5), log);
    EXPECT_EQ(leitor.Linhas("SELECT * FROM RPL_CONFIGURACOES"), configuracao);
    EXPECT_EQ(leitor.Linhas("SELECT ID_TRANSACAO, ORDEMBASE FROM RPL_RESERVAS WHERE ORDEMBASE < 5 ORDER BY 1"),
              reservas);
    EXPECT_EQ(leitor.Inteiro("SELECT GEN_ID(GEN_LOG_REPLICACAO, 0) FROM RDB$DATABASE"), gerador + 1);
    auto retrato = leitor.Retrato();
    std::erase_if(retrato, [](const std::string& l) { return l.find("'no caixa'") != std::string::npos; });
    EXPECT_EQ(retrato, linhas);

    // The agent sees this version; the store's old triggers go on logging
    // with the next positions, and everything can be sent.
    db::Conexao agente(banco.Parametros(), "Agente");
    db::TCatalogoLoja catalogo(agente);
    EXPECT_EQ(catalogo.VersaoObjetos(), db::kVersaoObjetosReplicacao);
    banco.ExecutarSql("INSERT INTO PRODUTOS (CODIGO, DESCRICAO) VALUES (3, 'tres');\n");
    EXPECT_EQ(leitor.Linhas("SELECT ORDEM, TIPO, ATUALVALORCHAVE1 FROM LOG_REPLICACAO WHERE ORDEM > 5"),
              (std::vector<std::string>{"6 | 'U' | '9'", "7 | 'U' | '3'"}));
    EXPECT_EQ(leitor.Linhas("SELECT ORDEMINICIAL, ORDEMFINAL, ULTIMAORDEM FROM PROC_RETORNA_INDICE(0, NULL, 1000)"),
              std::vector<std::string>{"1 | 7 | 7"});
}

// The second version had neither the table of what was set aside nor the
// hold, the third had no hold: each made here from this script by taking
// those away again (with the account's rights) and putting its version back.
TEST_F(InstalacaoSql, AnOlderVersionDatabaseGainsTheNewTablesWithNothingElseChanged) {
    struct Caso {
        int versao;
        std::vector<std::string> novas;  // the tables it lacks
    };
    for (const Caso& caso : {Caso{2, {"RPL_POSTOS_DE_LADO", "RPL_POSSE"}}, Caso{3, {"RPL_POSSE"}}}) {
        SCOPED_TRACE("version " + std::to_string(caso.versao));
        BancoTeste banco;  // objects and examples
        ConfigurarLoja(banco, 5, "http://127.0.0.1:1/");
        std::string tirar;
        for (const auto& tabela : caso.novas)
            tirar += "REVOKE ALL ON " + tabela + " FROM USER ONDARIS;\nCOMMIT;\nDROP TABLE " + tabela + ";\nCOMMIT;\n";
        banco.ExecutarSql(tirar +
                          "SET TERM ^ ;\nCREATE OR ALTER PROCEDURE PROC_VERSAO_REPLICACAO RETURNS (VERSAO INTEGER) AS\n"
                          "BEGIN VERSAO = " + std::to_string(caso.versao) + "; SUSPEND; END^\nSET TERM ; ^\nCOMMIT;\n"
                          "INSERT INTO PRODUTOS (CODIGO, DESCRICAO) VALUES (1, 'um');\nCOMMIT;\n"
                          "UPDATE RPL_CONFIGURACOES SET ULTIMORECEBIMENTO = 77;\nCOMMIT;\n");
        {
            db::Conexao agente(banco.Parametros(), "Agente");
            db::TCatalogoLoja catalogo(agente);
            ASSERT_EQ(catalogo.VersaoObjetos(), caso.versao);
        }
        auto antes = Retrato(banco);
        const std::string saida = banco.ExecutarArquivo(kObjetos);
        EXPECT_NE(saida.find("versao 4"), std::string::npos) << saida;
        auto depois = Retrato(banco);
        // Only the new tables, their rights and the version's source differ.
        const auto nosso = [&caso](const std::string& l) {
            for (const auto& tabela : caso.novas)
                if (l.find(tabela) != std::string::npos) return true;
            return l.find("VERSAO = ") != std::string::npos;
        };
        std::erase_if(antes, nosso);
        std::erase_if(depois, nosso);
        EXPECT_EQ(depois, antes);

        db::Conexao agente(banco.Parametros(), "Agente");
        db::TCatalogoLoja catalogo(agente);
        EXPECT_EQ(catalogo.VersaoObjetos(), db::kVersaoObjetosReplicacao);
        // The account uses the new tables: the hold's one row is there, free.
        db::Transacao t(agente, "Teste", db::OpcoesTransacao{.InicioAutomatico = true});
        if (caso.versao == 2) {
            db::Consulta(agente, t, "INSERT INTO RPL_POSTOS_DE_LADO (LADO, ORDEM) VALUES ('R', 1)").Executar();
            EXPECT_EQ(catalogo.Linhas("SELECT COUNT(*) FROM RPL_POSTOS_DE_LADO").size(), 1u);
        }
        db::Consulta tomar(agente, t, "UPDATE RPL_POSSE SET CHAVE = 'k' WHERE ID = 1 AND CHAVE IS NULL");
        tomar.Executar();
        EXPECT_EQ(tomar.LinhasAfetadas(), 1);
        t.Rollback();
        // Running it again changes nothing.
        const auto atualizado = Retrato(banco);
        banco.ExecutarArquivo(kObjetos);
        EXPECT_EQ(Retrato(banco), atualizado);
    }
}

// Databases made before the log took 'U' for inserts: a check that allows
// 'I', rows with it, and triggers copied from those examples that still
// log it.
TEST_F(InstalacaoSql, ALogThatStillTookIForInsertsTakesUAfterTheUpgrade) {
    BancoTeste banco(BancoTeste::Conteudo::Vazio);
    banco.ExecutarArquivo(kVersao1);
    ConfigurarLoja(banco, 7, "http://127.0.0.1:1/");
    banco.ExecutarSql(
        "ALTER TABLE LOG_REPLICACAO DROP CONSTRAINT CK_LOG_REPLICACAO_TIPO;\nCOMMIT;\n"
        "ALTER TABLE LOG_REPLICACAO ADD CONSTRAINT CK_LOG_REPLICACAO_TIPO CHECK (TIPO IN ('I', 'U', 'D'));\nCOMMIT;\n"
        "SET TERM ^ ;\n"
        "CREATE OR ALTER TRIGGER VENDAS_RPL FOR VENDAS ACTIVE AFTER INSERT POSITION 100 AS BEGIN\n"
        "EXECUTE PROCEDURE PROC_REGISTRA_ALTERACAO('VENDAS', 'I', NEW.NUMERO, NULL, NULL); END^\n"
        "SET TERM ; ^\nCOMMIT;\n"
        "INSERT INTO VENDAS (NUMERO, CODIGOLOJA, DATAVENDA) VALUES (1, 7, CURRENT_DATE);\n");
    {
        LeitorLoja leitor(banco);
        ASSERT_EQ(leitor.Linhas("SELECT TIPO FROM LOG_REPLICACAO"), std::vector<std::string>{"'I'"});
    }
    banco.ExecutarArquivo(kObjetos);
    banco.ExecutarSql("INSERT INTO VENDAS (NUMERO, CODIGOLOJA, DATAVENDA) VALUES (2, 7, CURRENT_DATE);\n");
    LeitorLoja leitor(banco);
    EXPECT_EQ(leitor.Linhas("SELECT ORDEM, TIPO FROM LOG_REPLICACAO ORDER BY ORDEM"),
              (std::vector<std::string>{"1 | 'U'", "2 | 'U'"}));
    EXPECT_THROW(banco.ExecutarSql("INSERT INTO LOG_REPLICACAO (TIPO, TABELA) VALUES ('I', 'VENDAS');"),
                 ErroBancoTeste);
}

TEST_F(InstalacaoSql, TheExampleTablesCarryTheGeneratorsOwnTriggers) {
    BancoTeste banco;
    db::Conexao agente(banco.Parametros(), "Agente");
    db::TCatalogoLoja catalogo(agente);
    const std::string exemplos = Ler(kExemplos);
    for (const auto& tabela : TabelasExemplo()) {
        SCOPED_TRACE(tabela);
        const auto gerado = db::GerarGatilhoRegistro(tabela, catalogo.ColunasChave(tabela));
        EXPECT_NE(exemplos.find(gerado.Script()), std::string::npos) << gerado.Script();
        const auto instalado = catalogo.Gatilho(gerado.Nome);
        ASSERT_TRUE(instalado);
        EXPECT_TRUE(instalado->ComoGerado);
        EXPECT_EQ(instalado->Corpo, db::NormalizarCorpo(gerado.Corpo));
    }
    // The objects alone hold no store table.
    BancoTeste objetos(BancoTeste::Conteudo::Objetos);
    db::Conexao outra(objetos.Parametros(), "Objetos");
    db::TCatalogoLoja soObjetos(outra);
    EXPECT_EQ(soObjetos.Tabelas(), (std::vector<std::string>{"LOG_REPLICACAO", "RPL_CONFIGURACOES", "RPL_POSSE",
                                                              "RPL_POSTOS_DE_LADO", "RPL_RESERVAS"}));
    EXPECT_EQ(soObjetos.VersaoObjetos(), db::kVersaoObjetosReplicacao);
}

}  // namespace
}  // namespace ondaris::teste
