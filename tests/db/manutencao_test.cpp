// Looking after a store database on a real server: what the catalogue says
// of keys and triggers, the generated triggers installed and removed, and
// log housekeeping within its bounds.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "db/construtores.h"
#include "db/consulta.h"
#include "db/manutencao.h"
#include "protocolo/texto.h"
#include "support/banco_teste.h"
#include "support/captura.h"

namespace ondaris::db {
using protocolo::Utf8ParaLatin1;
namespace {

using teste::BancoTeste;

// Store tables of every kind of key the log may or may not carry. ESTOQUE
// declares its key (PRODUTO, DEPOSITO) while DEPOSITO stands first.
constexpr const char* kTabelasLoja =
    "CREATE TABLE CLIENTES (CODIGO INTEGER NOT NULL PRIMARY KEY, NOME VARCHAR(40));\n"
    "CREATE TABLE CIDADES (SIGLA CHAR(5) NOT NULL PRIMARY KEY, NOME VARCHAR(40));\n"
    "CREATE TABLE ESTOQUE (DEPOSITO VARCHAR(10) NOT NULL, PRODUTO BIGINT NOT NULL, QTD INTEGER,"
    " CONSTRAINT PK_ESTOQUE PRIMARY KEY (PRODUTO, DEPOSITO));\n"
    "CREATE TABLE TRES (A INTEGER NOT NULL, B INTEGER NOT NULL, C INTEGER NOT NULL, PRIMARY KEY (A, B, C));\n"
    "CREATE TABLE UNICODE (S VARCHAR(10) CHARACTER SET UTF8 NOT NULL PRIMARY KEY);\n"
    "CREATE TABLE BRUTA (S VARCHAR(10) CHARACTER SET NONE NOT NULL PRIMARY KEY);\n"
    "CREATE TABLE DATAS (D DATE NOT NULL PRIMARY KEY);\n"
    "CREATE TABLE VALORES (N NUMERIC(10,2) NOT NULL PRIMARY KEY);\n"
    "CREATE TABLE LONGA (S VARCHAR(300) NOT NULL PRIMARY KEY);\n"
    "CREATE TABLE SEMCHAVE (X INTEGER);\n";

struct LinhaLog {
    std::int64_t Ordem = 0;
    std::string Tipo, Tabela;
    std::optional<std::string> Chave1, Chave2, NovaChave1;
    bool operator==(const LinhaLog&) const = default;
};

std::ostream& operator<<(std::ostream& os, const LinhaLog& l) {
    const auto t = [](const std::optional<std::string>& s) { return s ? "'" + *s + "'" : std::string("NULL"); };
    return os << l.Ordem << " " << l.Tipo << " " << l.Tabela << " " << t(l.Chave1) << " " << t(l.Chave2) << " "
              << t(l.NovaChave1);
}

class Manutencao : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        teste::GarantirUsuarioReplicacao();
        banco_ = std::make_unique<BancoTeste>();
        banco_->ExecutarSql(kTabelasLoja);
        banco_->ExecutarSql(
            "INSERT INTO RPL_CONFIGURACOES (CODIGO, CODIGOLOJA, LINKCENTRAL, ULTIMORECEBIMENTO)"
            " VALUES (1, 9, 'http://127.0.0.1:1/', 0);");
    }
    static void TearDownTestSuite() { banco_.reset(); }

    void SetUp() override {
        admin_ = std::make_unique<Conexao>(banco_->ParametrosSysdba(), "Admin");
        admin_->Abrir();
    }
    void TearDown() override { admin_.reset(); }

    std::vector<LinhaLog> Log(std::int64_t depoisDe) {
        Transacao t(*admin_, "TRLeitura", OpcoesTransacao::Leitura());
        Consulta c(*admin_, t,
                   "SELECT ORDEM, TIPO, TABELA, ATUALVALORCHAVE1, ATUALVALORCHAVE2, NOVOVALORCHAVE1"
                   " FROM LOG_REPLICACAO WHERE ORDEM > :DEPOIS ORDER BY ORDEM");
        c.Definir("DEPOIS", depoisDe);
        std::vector<LinhaLog> r;
        for (bool ha = c.Abrir(); ha; ha = c.Proximo())
            r.push_back({*c.Ler<std::int64_t>("ORDEM"), *c.Ler<std::string>("TIPO"), *c.Ler<std::string>("TABELA"), c.Ler<std::string>("ATUALVALORCHAVE1"),
                         c.Ler<std::string>("ATUALVALORCHAVE2"), c.Ler<std::string>("NOVOVALORCHAVE1")});
        return r;
    }
    std::int64_t UltimaOrdem() {
        const auto log = Log(0);
        return log.empty() ? 0 : log.back().Ordem;
    }

    void Instalar(const std::string& tabela) {
        TCatalogoLoja catalogo(*admin_);
        InstalarGatilho(*admin_, GerarGatilhoRegistro(tabela, catalogo.ColunasChave(tabela)));
    }

    static inline std::unique_ptr<BancoTeste> banco_;
    std::unique_ptr<Conexao> admin_;
};

TEST_F(Manutencao, CatalogueGivesKeysInColumnOrderWithWhatTheLogNeedsOfTheirTypes) {
    TCatalogoLoja catalogo(*admin_);
    using T = TTipoColunaChave;
    struct Caso {
        const char* tabela;
        std::vector<TColunaChave> chave;
        bool registravel;
    };
    const std::vector<Caso> casos = {
        {"CLIENTES", {{"CODIGO", T::tcInteiro, "INTEGER", 0, true}}, true},
        {"CIDADES", {{"SIGLA", T::tcTexto, "CHAR(5)", 5, true}}, true},
        {"ESTOQUE", {{"DEPOSITO", T::tcTexto, "VARCHAR(10)", 10, true}, {"PRODUTO", T::tcInteiro, "BIGINT", 0, true}},
         true},
        {"TRES",
         {{"A", T::tcInteiro, "INTEGER", 0, true}, {"B", T::tcInteiro, "INTEGER", 0, true},
          {"C", T::tcInteiro, "INTEGER", 0, true}},
         false},
        {"UNICODE", {{"S", T::tcTexto, "VARCHAR(10) CHARACTER SET UTF8", 10, false}}, false},
        {"BRUTA", {{"S", T::tcTexto, "VARCHAR(10)", 10, true}}, true},
        {"DATAS", {{"D", T::tcOutro, "DATE", 0, true}}, false},
        {"VALORES", {{"N", T::tcOutro, "NUMERIC(10,2)", 0, true}}, false},
        {"LONGA", {{"S", T::tcTexto, "VARCHAR(300)", 300, true}}, false},
        {"SEMCHAVE", {}, false},
        {"NAOEXISTE", {}, false},
    };
    for (const auto& c : casos) {
        SCOPED_TRACE(c.tabela);
        const auto chave = catalogo.ColunasChave(c.tabela);
        EXPECT_EQ(chave, c.chave);
        EXPECT_EQ(!MotivoRecusa(c.tabela, chave).has_value(), c.registravel);
    }
    const auto tabelas = catalogo.Tabelas();
    for (const char* t : {"CLIENTES", "PRODUTOS", "LOG_REPLICACAO", "SEMCHAVE"})
        EXPECT_NE(std::find(tabelas.begin(), tabelas.end(), t), tabelas.end()) << t;
    EXPECT_EQ(std::find(tabelas.begin(), tabelas.end(), "RDB$RELATIONS"), tabelas.end());
    EXPECT_TRUE(catalogo.ObjetosFaltando().empty());
}

TEST_F(Manutencao, GeneratedTriggersLogEveryChangeAsTheAgentReadsIt) {
    for (const char* t : {"CLIENTES", "CIDADES", "ESTOQUE"}) Instalar(t);
    Instalar("ESTOQUE");  // again: replaces it, no second trigger
    const std::int64_t antes = UltimaOrdem();
    banco_->ExecutarSql(
        "INSERT INTO CLIENTES (CODIGO, NOME) VALUES (1, 'Ana');\n"
        "UPDATE CLIENTES SET NOME = 'Ana Maria' WHERE CODIGO = 1;\n"
        "UPDATE CLIENTES SET CODIGO = 2 WHERE CODIGO = 1;\n"
        "INSERT INTO CIDADES (SIGLA, NOME) VALUES ('RJ', 'Rio');\n"
        "UPDATE CIDADES SET SIGLA = 'SP' WHERE SIGLA = 'RJ';\n"
        "INSERT INTO ESTOQUE (DEPOSITO, PRODUTO, QTD) VALUES ('Sul''s', 7, 1);\n"
        "UPDATE ESTOQUE SET QTD = 2;\n"
        "UPDATE ESTOQUE SET PRODUTO = 8;\n"
        "DELETE FROM CIDADES;\n"
        "INSERT INTO TRES (A, B, C) VALUES (1, 2, 3);\n"
        "INSERT INTO SEMCHAVE (X) VALUES (1);\n");
    std::vector<LinhaLog> esperado = {
        {1, "U", "CLIENTES", "1", std::nullopt, std::nullopt},
        {2, "U", "CLIENTES", "1", std::nullopt, std::nullopt},
        {3, "D", "CLIENTES", "1", std::nullopt, "2"},
        {4, "U", "CLIENTES", "2", std::nullopt, std::nullopt},
        // A CHAR key keeps its blanks in the log; the agent's join and a
        // receiving store's binding both ignore them.
        {5, "U", "CIDADES", "RJ   ", std::nullopt, std::nullopt},
        {6, "D", "CIDADES", "RJ   ", std::nullopt, "SP   "},
        {7, "U", "CIDADES", "SP   ", std::nullopt, std::nullopt},
        // The first key column in column order, not in the key's order.
        {8, "U", "ESTOQUE", "Sul's", "7", std::nullopt},
        {9, "U", "ESTOQUE", "Sul's", "7", std::nullopt},
        {10, "D", "ESTOQUE", "Sul's", "7", "Sul's"},
        {11, "U", "ESTOQUE", "Sul's", "8", std::nullopt},
        {12, "D", "CIDADES", "SP   ", std::nullopt, std::nullopt},
    };
    for (auto& e : esperado) e.Ordem += antes;
    EXPECT_EQ(Log(antes), esperado);

    // The agent's own select of the rows to send finds every row that
    // still exists through the logged keys.
    TCatalogoLoja catalogo(*admin_);
    Transacao t(*admin_, "TR", OpcoesTransacao::Leitura());
    for (const auto& [tabela, achadas] : std::vector<std::pair<std::string, std::vector<std::int64_t>>>{
             {"CLIENTES", {4}}, {"ESTOQUE", {11}}, {"CIDADES", {}}}) {
        SCOPED_TRACE(tabela);
        Consulta sel(*admin_, t, MontarSQLQuerySEL(tabela, catalogo.Campos(tabela, false)));
        sel.Definir("ORDEMINICIAL", antes + 1);
        sel.Definir("ORDEMFINAL", antes + 100);
        std::vector<std::int64_t> ordens;
        for (bool ha = sel.Abrir(); ha; ha = sel.Proximo()) ordens.push_back(*sel.Ler<std::int64_t>("ORDEM") - antes);
        EXPECT_EQ(ordens, achadas);
    }
}

TEST_F(Manutencao, CatalogueTellsTheGeneratedTriggerFromAChangedOneAndFindsASecondLogger) {
    Instalar("CLIENTES");
    TCatalogoLoja comoAdmin(*admin_);
    const auto gerado = GerarGatilhoRegistro("CLIENTES", comoAdmin.ColunasChave("CLIENTES"));
    {
        // The self-check reads the catalogue as the replication account.
        Conexao agente(banco_->Parametros(), "Agente");
        TCatalogoLoja catalogo(agente);
        const auto g = catalogo.Gatilho("CLIENTES_RPL");
        ASSERT_TRUE(g);
        EXPECT_TRUE(g->ComoGerado);
        EXPECT_EQ(g->Corpo, NormalizarCorpo(gerado.Corpo));
        EXPECT_EQ(g->Tabela, "CLIENTES");
        EXPECT_TRUE(catalogo.GatilhoPodeRegistrar("CLIENTES_RPL"));
        EXPECT_TRUE(catalogo.OutrosGatilhosDeRegistro("CLIENTES", "CLIENTES_RPL").empty());
        EXPECT_FALSE(catalogo.Gatilho("NAOEXISTE_RPL"));
    }
    banco_->ExecutarSql(
        "SET TERM ^ ;\n"
        "CREATE TRIGGER CLIENTES_COPIA FOR CLIENTES ACTIVE AFTER INSERT POSITION 5 AS\n"
        "BEGIN EXECUTE PROCEDURE PROC_REGISTRA_ALTERACAO('CLIENTES', 'U', NEW.CODIGO, NULL, NULL); END^\n"
        "SET TERM ; ^\n"
        "ALTER TRIGGER CLIENTES_RPL INACTIVE;\n"
        "REVOKE EXECUTE ON PROCEDURE PROC_REGISTRA_ALTERACAO FROM TRIGGER CLIENTES_RPL;\n");
    TCatalogoLoja catalogo(*admin_);
    EXPECT_EQ(catalogo.OutrosGatilhosDeRegistro("CLIENTES", "CLIENTES_RPL"), std::vector<std::string>{"CLIENTES_COPIA"});
    EXPECT_FALSE(catalogo.Gatilho("CLIENTES_RPL")->ComoGerado);
    EXPECT_FALSE(catalogo.GatilhoPodeRegistrar("CLIENTES_RPL"));
    banco_->ExecutarSql("DROP TRIGGER CLIENTES_COPIA;\n");

    // Installing again puts everything back.
    Instalar("CLIENTES");
    TCatalogoLoja depois(*admin_);
    EXPECT_TRUE(depois.Gatilho("CLIENTES_RPL")->ComoGerado);
    EXPECT_TRUE(depois.GatilhoPodeRegistrar("CLIENTES_RPL"));
}

TEST_F(Manutencao, RemovalStopsLoggingAndTakesTheAccountsRightsAway) {
    Instalar("CLIENTES");
    banco_->ExecutarSql("INSERT INTO CLIENTES (CODIGO, NOME) VALUES (50, 'antes');");
    const std::int64_t antes = UltimaOrdem();
    EXPECT_TRUE(RemoverGatilho(*admin_, "CLIENTES"));
    EXPECT_FALSE(RemoverGatilho(*admin_, "CLIENTES")) << "nothing left to drop the second time";
    banco_->ExecutarSql("INSERT INTO CLIENTES (CODIGO, NOME) VALUES (51, 'depois');");
    EXPECT_EQ(UltimaOrdem(), antes);
    TCatalogoLoja catalogo(*admin_);
    EXPECT_FALSE(catalogo.Gatilho("CLIENTES_RPL"));
    EXPECT_THROW(banco_->ExecutarSqlComo(kUsuarioReplicacao, kSenhaReplicacao, "SELECT COUNT(*) FROM CLIENTES;"),
                 teste::ErroBancoTeste);
    Instalar("CLIENTES");
    EXPECT_NO_THROW(banco_->ExecutarSqlComo(kUsuarioReplicacao, kSenhaReplicacao, "SELECT COUNT(*) FROM CLIENTES;"));
}

// ------------------------------------------------------------ housekeeping

class LimpezaLog : public ::testing::Test {
protected:
    static void SetUpTestSuite() { teste::GarantirUsuarioReplicacao(); }

    // Ten log rows, each in a transaction of its own: 1-6, 9 and 10 from
    // 2020, 7 and 8 from two days ago. The transaction of 5 still holds a
    // reservation (as an open one would); the others' are gone, as the
    // block procedure prunes them in every cycle of the agent.
    void SetUp() override {
        std::string sql;
        for (int i = 1; i <= 10; ++i)
            sql += std::string("INSERT INTO LOG_REPLICACAO (TIPO, TABELA, ATUALVALORCHAVE1, OCORRENCIA_LOCAL) VALUES ('U',"
                               " 'PRODUTOS', '") +
                   std::to_string(i) + "', " +
                   (i == 7 || i == 8 ? "DATEADD(-2 DAY TO CURRENT_TIMESTAMP)" : "TIMESTAMP '2020-03-01 10:00:00'") +
                   ");\nCOMMIT;\n";
        banco_.ExecutarSql(sql + "DELETE FROM RPL_RESERVAS;\n"
                                 "INSERT INTO RPL_RESERVAS (ID_TRANSACAO, ORDEMBASE)"
                                 " SELECT ID_TRANSACAO, ORDEM - 1 FROM LOG_REPLICACAO WHERE ORDEM = 5;\n");
        admin_ = std::make_unique<Conexao>(banco_.ParametrosSysdba(), "Admin");
    }

    std::vector<std::int64_t> Restantes() {
        Transacao t(*admin_, "TRLeitura", OpcoesTransacao::Leitura());
        Consulta c(*admin_, t, "SELECT ORDEM FROM LOG_REPLICACAO ORDER BY ORDEM");
        std::vector<std::int64_t> r;
        for (bool ha = c.Abrir(); ha; ha = c.Proximo()) r.push_back(*c.Ler<std::int64_t>("ORDEM"));
        return r;
    }

    BancoTeste banco_;
    std::unique_ptr<Conexao> admin_;
};

TEST_F(LimpezaLog, DeletesOnlyAcknowledgedOldRowsOfEndedTransactionsInShortBatches) {
    struct Caso {
        std::int64_t confirmada;
        int dias, porLote;
        std::vector<std::int64_t> restantes;
        int lotes;
    };
    // Each case works on what the previous ones left.
    const std::vector<Caso> casos = {
        {0, 30, 5000, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, 0},  // the server holds nothing yet
        {3, 30, 5000, {4, 5, 6, 7, 8, 9, 10}, 1},           // never beyond the acknowledged position
        {10, 30, 2, {5, 7, 8}, 2},                          // 5 is reserved, 7 and 8 are recent
        {10, 3, 1, {5, 7, 8}, 0},                           // two days old is not three
        {8, 1, 1, {5}, 2},
    };
    for (const auto& c : casos) {
        SCOPED_TRACE("acknowledged " + std::to_string(c.confirmada) + ", " + std::to_string(c.dias) + " days");
        const auto antes = Restantes().size();
        std::vector<std::int64_t> vistos;
        const auto r = LimparLogReplicacao(*admin_, c.confirmada, c.dias, c.porLote,
                                           [&](const TLimpezaLog& parcial) { vistos.push_back(parcial.Apagadas); });
        EXPECT_EQ(Restantes(), c.restantes);
        EXPECT_EQ(r.Apagadas, static_cast<std::int64_t>(antes - c.restantes.size()));
        EXPECT_EQ(r.Lotes, c.lotes);
        EXPECT_EQ(static_cast<int>(vistos.size()), c.lotes);
        for (std::size_t i = 0; i < vistos.size(); ++i)
            EXPECT_LE(vistos[i], static_cast<std::int64_t>((i + 1) * static_cast<std::size_t>(c.porLote)));
    }
}

TEST_F(LimpezaLog, APositionBeyondTheLogIsRefusedAndNothingIsDeleted) {
    const std::string texto = teste::TextoDaFalha<ErroBanco>([&] { LimparLogReplicacao(*admin_, 11, 0); });
    EXPECT_NE(texto.find("até a posição 11"), std::string::npos) << texto;
    EXPECT_NE(texto.find("nada foi apagado"), std::string::npos) << texto;
    EXPECT_EQ(Restantes().size(), 10u);
    EXPECT_EQ(LimparLogReplicacao(*admin_, 10, 0).Apagadas, 9);
}

}  // namespace
}  // namespace ondaris::db

namespace ondaris::db {
namespace {

using teste::BancoTeste;

struct ChaveLog {
    std::string Tipo, Tabela;
    std::optional<std::string> Chave1, Chave2, NovaChave1;
    bool operator<(const ChaveLog& o) const {
        return std::tie(Tabela, Chave1, Chave2, Tipo, NovaChave1) < std::tie(o.Tabela, o.Chave1, o.Chave2, o.Tipo, o.NovaChave1);
    }
    bool operator==(const ChaveLog&) const = default;
};

std::ostream& operator<<(std::ostream& os, const ChaveLog& l) {
    const auto t = [](const std::optional<std::string>& s) { return s ? "'" + *s + "'" : std::string("NULL"); };
    return os << l.Tipo << " " << l.Tabela << " " << t(l.Chave1) << " " << t(l.Chave2) << " " << t(l.NovaChave1);
}

// ------------------------------------------------------------ initial send

// Replicated tables of every key the log carries (ESTOQUE's key is
// declared in the other order than its columns stand, and holds an empty
// text), and tables the initial send must refuse.
constexpr const char* kTabelasEnvio =
    "CREATE TABLE CLIENTES (CODIGO INTEGER NOT NULL PRIMARY KEY, NOME VARCHAR(40));\n"
    "CREATE TABLE CIDADES (SIGLA CHAR(5) NOT NULL PRIMARY KEY, NOME VARCHAR(40));\n"
    "CREATE TABLE ESTOQUE (DEPOSITO VARCHAR(10) NOT NULL, PRODUTO BIGINT NOT NULL, QTD INTEGER,"
    " CONSTRAINT PK_ESTOQUE PRIMARY KEY (PRODUTO, DEPOSITO));\n"
    "CREATE TABLE BRUTA (S VARCHAR(10) CHARACTER SET NONE NOT NULL PRIMARY KEY);\n"
    "CREATE TABLE SEMGATILHO (CODIGO INTEGER NOT NULL PRIMARY KEY);\n"
    "CREATE TABLE ALTERADA (CODIGO INTEGER NOT NULL PRIMARY KEY);\n"
    "CREATE TABLE INATIVA (CODIGO INTEGER NOT NULL PRIMARY KEY);\n"
    "CREATE TABLE TRES (A INTEGER NOT NULL, B INTEGER NOT NULL, C INTEGER NOT NULL, PRIMARY KEY (A, B, C));\n"
    "CREATE TABLE SEMCHAVE (X INTEGER);\n";

class EnvioInicialTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        teste::GarantirUsuarioReplicacao();
        banco_ = std::make_unique<BancoTeste>(BancoTeste::Conteudo::Objetos);
        banco_->ExecutarSql(kTabelasEnvio);
        banco_->ExecutarSql(
            "INSERT INTO RPL_CONFIGURACOES (CODIGO, CODIGOLOJA, LINKCENTRAL, ULTIMORECEBIMENTO)"
            " VALUES (1, 4, 'http://127.0.0.1:1/', 0);");
        {
            Conexao admin(banco_->ParametrosSysdba(), "Admin");
            admin.Abrir();
            for (const char* t : {"CLIENTES", "CIDADES", "ESTOQUE", "BRUTA", "ALTERADA", "INATIVA"}) {
                TCatalogoLoja catalogo(admin);
                InstalarGatilho(admin, GerarGatilhoRegistro(t, catalogo.ColunasChave(t)));
            }
        }
        // The rows exist before anything logs them.
        banco_->ExecutarSql(Utf8ParaLatin1(
            "ALTER TRIGGER ALTERADA_RPL POSITION 5;\n"
            "ALTER TRIGGER INATIVA_RPL INACTIVE;\n"
            "ALTER TRIGGER CLIENTES_RPL INACTIVE;\nALTER TRIGGER CIDADES_RPL INACTIVE;\n"
            "ALTER TRIGGER ESTOQUE_RPL INACTIVE;\nALTER TRIGGER BRUTA_RPL INACTIVE;\nCOMMIT;\n"
            "INSERT INTO CLIENTES SELECT 1, 'Ana' FROM RDB$DATABASE UNION ALL SELECT 2, 'Bia' FROM RDB$DATABASE"
            " UNION ALL SELECT 3, NULL FROM RDB$DATABASE UNION ALL SELECT -7, 'Caio' FROM RDB$DATABASE"
            " UNION ALL SELECT 2147483647, 'Duda' FROM RDB$DATABASE;\n"
            "INSERT INTO CIDADES (SIGLA, NOME) VALUES ('RJ', 'Rio');\n"
            "INSERT INTO CIDADES (SIGLA, NOME) VALUES ('SAO P', 'São Paulo');\n"
            "INSERT INTO CIDADES (SIGLA, NOME) VALUES ('A', NULL);\n"
            "INSERT INTO ESTOQUE (DEPOSITO, PRODUTO, QTD) VALUES ('', 7, 1);\n"
            "INSERT INTO ESTOQUE (DEPOSITO, PRODUTO, QTD) VALUES ('Sul''s', 7, 2);\n"
            "INSERT INTO ESTOQUE (DEPOSITO, PRODUTO, QTD) VALUES ('Açaí', 7, 3);\n"
            "INSERT INTO ESTOQUE (DEPOSITO, PRODUTO, QTD) VALUES ('A', 8, 4);\n"
            "INSERT INTO ESTOQUE (DEPOSITO, PRODUTO, QTD) VALUES ('', 9, 5);\n"
            "INSERT INTO BRUTA (S) VALUES ('ção');\n"
            "INSERT INTO BRUTA (S) VALUES ('x y');\n"
            "INSERT INTO SEMGATILHO (CODIGO) VALUES (1);\n"
            "COMMIT;\n"
            "ALTER TRIGGER CLIENTES_RPL ACTIVE;\nALTER TRIGGER CIDADES_RPL ACTIVE;\n"
            "ALTER TRIGGER ESTOQUE_RPL ACTIVE;\nALTER TRIGGER BRUTA_RPL ACTIVE;\n"));
    }
    static void TearDownTestSuite() { banco_.reset(); }

    void SetUp() override {
        admin_ = std::make_unique<Conexao>(banco_->ParametrosSysdba(), "Admin");
        admin_->Abrir();
        banco_->ExecutarSql("DELETE FROM LOG_REPLICACAO;\nDELETE FROM RPL_RESERVAS;");
    }
    void TearDown() override { admin_.reset(); }

    // The log without its positions, sorted; and how many transactions wrote it.
    std::vector<ChaveLog> Log() {
        Transacao t(*admin_, "TRLeitura", OpcoesTransacao::Leitura());
        Consulta c(*admin_, t,
                   "SELECT TIPO, TABELA, ATUALVALORCHAVE1, ATUALVALORCHAVE2, NOVOVALORCHAVE1 FROM LOG_REPLICACAO");
        std::vector<ChaveLog> r;
        for (bool ha = c.Abrir(); ha; ha = c.Proximo())
            r.push_back({*c.Ler<std::string>("TIPO"), *c.Ler<std::string>("TABELA"),
                         c.Ler<std::string>("ATUALVALORCHAVE1"), c.Ler<std::string>("ATUALVALORCHAVE2"),
                         c.Ler<std::string>("NOVOVALORCHAVE1")});
        std::sort(r.begin(), r.end());
        return r;
    }
    std::int64_t Transacoes() {
        Transacao t(*admin_, "TRLeitura", OpcoesTransacao::Leitura());
        Consulta c(*admin_, t, "SELECT COUNT(DISTINCT ID_TRANSACAO) AS N FROM LOG_REPLICACAO");
        c.Abrir();
        return *c.Ler<std::int64_t>("N");
    }

    static inline std::unique_ptr<BancoTeste> banco_;
    std::unique_ptr<Conexao> admin_;
};

TEST_F(EnvioInicialTest, RefusesTablesThatAreNotReplicatedOrWhoseKeyTheLogCannotCarry) {
    struct Caso {
        const char* tabela;
        const char* motivo;  // nullptr: accepted
    };
    const std::vector<Caso> casos = {
        {"CLIENTES", nullptr},
        {"ESTOQUE", nullptr},
        {"SEMGATILHO", "SEMGATILHO não é replicada: não tem o gatilho de registro SEMGATILHO_RPL (instale-o com "
                       "--instalar-gatilhos antes)"},
        {"ALTERADA", "o gatilho ALTERADA_RPL de ALTERADA não é o que --instalar-gatilhos gera"},
        {"INATIVA", "o gatilho INATIVA_RPL de INATIVA não é o que --instalar-gatilhos gera"},
        {"TRES", "TRES tem chave primária de 3 colunas"},
        {"SEMCHAVE", "SEMCHAVE não tem chave primária"},
        {"LOG_REPLICACAO", "LOG_REPLICACAO é uma tabela da própria replicação"},
        {"FANTASMA", "FANTASMA não existe neste banco"},
    };
    TCatalogoLoja catalogo(*admin_);
    for (const auto& c : casos) {
        SCOPED_TRACE(c.tabela);
        const auto motivo = MotivoRecusaEnvioInicial(catalogo, c.tabela);
        if (!c.motivo) {
            EXPECT_FALSE(motivo) << *motivo;
            continue;
        }
        ASSERT_TRUE(motivo);
        EXPECT_NE(motivo->find(c.motivo), std::string::npos) << *motivo;
        EXPECT_THROW(RegistrarEnvioInicial(*admin_, c.tabela), ErroUso);
    }
    EXPECT_TRUE(Log().empty());
}

TEST_F(EnvioInicialTest, LogsEveryRowOnceWithTheKeysAsTheTriggerWritesThemInShortBatches) {
    const std::vector<std::string> tabelas{"CLIENTES", "CIDADES", "ESTOQUE", "BRUTA"};
    // What the logging triggers write for every row, as a change that
    // keeps the key.
    banco_->ExecutarSql(
        "UPDATE CLIENTES SET CODIGO = CODIGO;\nUPDATE CIDADES SET SIGLA = SIGLA;\n"
        "UPDATE ESTOQUE SET PRODUTO = PRODUTO;\nUPDATE BRUTA SET S = S;\n");
    const auto dosGatilhos = Log();
    ASSERT_EQ(dosGatilhos.size(), 15u);
    EXPECT_NE(std::find(dosGatilhos.begin(), dosGatilhos.end(),
                        ChaveLog{"U", "CIDADES", "RJ   ", std::nullopt, std::nullopt}),
              dosGatilhos.end())
        << "a CHAR key with its blanks";

    for (const int porLote : {1, 2, 4, 5000}) {
        SCOPED_TRACE("batches of " + std::to_string(porLote));
        banco_->ExecutarSql("DELETE FROM LOG_REPLICACAO;\nDELETE FROM RPL_RESERVAS;");
        int lotes = 0;
        for (const auto& t : tabelas) {
            const std::int64_t linhas = ContarLinhas(*admin_, t);
            std::vector<std::int64_t> vistos;
            const auto r = RegistrarEnvioInicial(*admin_, t, porLote,
                                                 [&](const TEnvioInicial& p) { vistos.push_back(p.Registradas); });
            EXPECT_EQ(r.Registradas, linhas) << t;
            EXPECT_EQ(r.Lotes, (linhas + porLote - 1) / porLote) << t;
            EXPECT_EQ(static_cast<int>(vistos.size()), r.Lotes) << t;
            lotes += r.Lotes;
        }
        EXPECT_EQ(Log(), dosGatilhos);
        EXPECT_EQ(Transacoes(), lotes) << "one transaction per batch";
    }
}

TEST_F(EnvioInicialTest, TheReplicationAccountIsRefusedSinceTheLogSkipsItsChanges) {
    Conexao agente(banco_->Parametros(), "Agente");
    const std::string texto = teste::TextoDaFalha<ErroBanco>([&] { RegistrarEnvioInicial(agente, "CLIENTES"); });
    EXPECT_NE(texto.find("a conta ONDARIS não registra alterações no log"), std::string::npos) << texto;
    EXPECT_TRUE(Log().empty());
}

// ------------------------------------------------------------ a new store

class NovaLojaTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { teste::GarantirUsuarioReplicacao(); }

    // A copy of store 1 that had received up to position 40: rows of its
    // own and of store 2, its log and a reservation left from before the
    // copy, and a table of the store's own (not replicated) naming it.
    void SetUp() override {
        banco_.ExecutarSql(
            "CREATE TABLE PARAMETROS (LOJA VARCHAR(5) NOT NULL PRIMARY KEY, NOME VARCHAR(20));\n"
            "CREATE TABLE FILIAIS (CODIGO INTEGER NOT NULL PRIMARY KEY, LOJAMATRIZ SMALLINT, LOJAS_NOME VARCHAR(9));\n"
            "INSERT INTO RPL_CONFIGURACOES (CODIGO, CODIGOLOJA, LINKCENTRAL, NIVELREPLICACAO, ULTIMORECEBIMENTO)"
            " VALUES (5, 1, 'http://127.0.0.1:1/', 1, 40);\n"
            "COMMIT;\n"
            "INSERT INTO PRECOS (CODIGOLOJA, CODIGOPRODUTO, PRECOVENDA) VALUES (1, 10, 1.5);\n"
            "INSERT INTO PRECOS (CODIGOLOJA, CODIGOPRODUTO, PRECOVENDA) VALUES (1, 11, 2.5);\n"
            "INSERT INTO PRECOS (CODIGOLOJA, CODIGOPRODUTO, PRECOVENDA) VALUES (2, 10, 1.7);\n"
            "INSERT INTO VENDAS (NUMERO, CODIGOLOJA, DATAVENDA) VALUES (100, 1, DATE '2024-01-02');\n"
            "INSERT INTO PARAMETROS (LOJA, NOME) VALUES (' 1', 'Centro');\n"
            "INSERT INTO FILIAIS (CODIGO, LOJAMATRIZ, LOJAS_NOME) VALUES (1, 2, '1');\n"
            "COMMIT;\n"
            "DELETE FROM RPL_RESERVAS;\n"
            "INSERT INTO RPL_RESERVAS (ID_TRANSACAO, ORDEMBASE) VALUES (999999, 2);\n");
        admin_ = std::make_unique<Conexao>(banco_.ParametrosSysdba(), "Admin");
        admin_->Abrir();
    }

    std::int64_t Contar(const std::string& sql) {
        Transacao t(*admin_, "TRLeitura", OpcoesTransacao::Leitura());
        Consulta c(*admin_, t, sql);
        c.Abrir();
        return c.Ler<std::int64_t>(0).value_or(-1);
    }

    BancoTeste banco_;
    std::unique_ptr<Conexao> admin_;
};

TEST_F(NovaLojaTest, EmptiesTheLogSetsTheCodeKeepsThePositionAndListsTheOldStoresRows) {
    const auto lida = LerConfiguracaoLoja(*admin_);
    ASSERT_TRUE(lida);
    EXPECT_EQ(lida->Codigo, 5);
    EXPECT_EQ(lida->CodigoLoja, 1);
    EXPECT_EQ(lida->UltimoRecebimento, 40);
    EXPECT_EQ(lida->LinkCentral, "http://127.0.0.1:1/");
    const std::int64_t logAntes = Contar("SELECT COUNT(*) FROM LOG_REPLICACAO");
    ASSERT_EQ(logAntes, 4);

    const auto r = TornarNovaLoja(*admin_, *lida, 3);
    EXPECT_EQ(r.CodigoAnterior, 1);
    EXPECT_EQ(r.CodigoNovo, 3);
    EXPECT_EQ(r.PosicaoRecebida, 40);
    EXPECT_EQ(r.LinhasLogApagadas, logAntes);
    EXPECT_EQ(r.ReservasApagadas, 1);
    // Text columns match the code's digits; store 2's rows and a LOJA
    // column that does not hold the code are not listed.
    EXPECT_EQ(r.LinhasDaLojaAnterior, (std::vector<TLinhasDeLoja>{{"FILIAIS", "LOJAS_NOME", false, 1},
                                                                  {"PARAMETROS", "LOJA", false, 1},
                                                                  {"PRECOS", "CODIGOLOJA", true, 2},
                                                                  {"VENDAS", "CODIGOLOJA", true, 1}}));
    EXPECT_EQ(Contar("SELECT COUNT(*) FROM LOG_REPLICACAO"), 0);
    EXPECT_EQ(Contar("SELECT COUNT(*) FROM RPL_RESERVAS"), 0);
    const auto depois = LerConfiguracaoLoja(*admin_);
    EXPECT_EQ(depois->CodigoLoja, 3);
    EXPECT_EQ(depois->UltimoRecebimento, 40);
    EXPECT_EQ(Contar("SELECT COUNT(*) FROM PRECOS"), 3) << "the store's rows stay as they are";

    // What the store logs from now on is the new store's.
    banco_.ExecutarSql("UPDATE PRODUTOS SET DESCRICAO = DESCRICAO;\n"
                       "INSERT INTO PRODUTOS (CODIGO, DESCRICAO) VALUES (1, 'Novo');");
    EXPECT_EQ(Contar("SELECT COUNT(*) FROM LOG_REPLICACAO WHERE CODIGOLOJAORIGEM = 3"), 1);
}

TEST_F(NovaLojaTest, RefusesChangingNothing) {
    const auto lida = *LerConfiguracaoLoja(*admin_);
    auto outraPosicao = lida;
    outraPosicao.UltimoRecebimento = 41;
    auto outraLoja = lida;
    outraLoja.CodigoLoja = 2;
    struct Caso {
        std::int64_t codigo;
        TConfiguracaoLoja lida;
        const char* motivo;
    };
    const std::vector<Caso> casos = {
        {1, lida, "este banco já é da loja 1: a cópia precisa de um código novo"},
        {0, lida, "0 não é um código de loja (um número inteiro de 1 a 2147483647)"},
        {-3, lida, "-3 não é um código de loja"},
        {2147483648LL, lida, "2147483648 não é um código de loja"},
        {3, outraPosicao, "mudaram desde que foram lidas"},
        {3, outraLoja, "mudaram desde que foram lidas"},
    };
    for (const auto& c : casos) {
        SCOPED_TRACE(c.codigo);
        const auto motivo = MotivoRecusaNovaLoja(c.codigo, c.lida.CodigoLoja);
        EXPECT_EQ(motivo.has_value(), c.codigo != 3);
        if (c.codigo < 1 || c.codigo > kMaiorCodigoLoja) continue;  // never a store code of the database
        const std::string texto = teste::TextoDaFalha<ErroBanco>(
            [&] { TornarNovaLoja(*admin_, c.lida, static_cast<std::int32_t>(c.codigo)); });
        EXPECT_NE(texto.find(c.motivo), std::string::npos) << texto;
        EXPECT_EQ(Contar("SELECT COUNT(*) FROM LOG_REPLICACAO"), 4);
        EXPECT_EQ(Contar("SELECT COUNT(*) FROM RPL_RESERVAS"), 1);
        EXPECT_EQ(LerConfiguracaoLoja(*admin_)->CodigoLoja, 1);
    }
    EXPECT_NE(MotivoRecusaNovaLoja(0, 1)->find("0 não é um código de loja"), std::string::npos);
}

}  // namespace
}  // namespace ondaris::db
