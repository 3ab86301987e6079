// The global data module against a real store database: the settings row,
// the log position, the catalogue query, the write-back of
// ULTIMORECEBIMENTO and the provisioning of the replication account.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <unistd.h>

#include "db/udm.h"
#include "protocolo/texto.h"
#include "support/banco_teste.h"

namespace ondaris::db {
using protocolo::LiteralSql;
namespace {

using teste::BancoTeste;
using teste::PastaKorvin;

class DataModuleGlobal : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        teste::GarantirUsuarioReplicacao();
        banco_ = std::make_unique<BancoTeste>();
        banco_->ExecutarSql(
            "CREATE TABLE COMPOSTA (A INTEGER NOT NULL, X VARCHAR(5), B INTEGER NOT NULL,"
            " C COMPUTED BY (A + B), CONSTRAINT PK_COMPOSTA PRIMARY KEY (B, A));"
            "CREATE TABLE SEMCHAVE (P INTEGER, Q VARCHAR(3));");
    }
    static void TearDownTestSuite() { banco_.reset(); }

    void SetUp() override {
        pasta_ = std::make_unique<PastaKorvin>(*banco_);
        dm_ = std::make_unique<TDM>(OpcoesTDM{.Pasta = pasta_->Pasta()});
        dm_->DataModuleCreate();
    }
    void TearDown() override {
        dm_.reset();
        pasta_.reset();
    }

    static inline std::unique_ptr<BancoTeste> banco_;
    std::unique_ptr<PastaKorvin> pasta_;
    std::unique_ptr<TDM> dm_;
};

TEST_F(DataModuleGlobal, AbreComoContaDeReplicacao) {
    EXPECT_TRUE(dm_->ConexaoGlobal().Aberta());
    EXPECT_EQ(dm_->ConexaoGlobal().Parametros().Usuario, "ONDARIS");
    EXPECT_EQ(dm_->ConexaoGlobal().Parametros().StringConexao(), "127.0.0.1/3050:" + banco_->Caminho());
}

TEST_F(DataModuleGlobal, ConsultaDoCatalogo) {
    using C = TCampoCatalogo;
    struct Caso {
        const char* tabela;
        bool somenteChave;
        std::vector<C> esperado;
    };
    const Caso casos[] = {
        // Key declared (B, A): columns come in table order, A first; the
        // computed column never appears.
        {"COMPOSTA", false, {C{"A", true}, C{"X", false}, C{"B", true}}},
        {"COMPOSTA", true, {C{"A", true}, C{"B", true}}},
        {"SEMCHAVE", false, {C{"P", false}, C{"Q", false}}},
        {"SEMCHAVE", true, {}},
        {"composta", false, {}},  // the catalogue keeps names in upper case
    };
    for (const auto& c : casos) {
        SCOPED_TRACE(std::string(c.tabela) + (c.somenteChave ? " key" : " all"));
        std::vector<C> nomes;
        for (const auto& campo : dm_->Catalogo().Campos(c.tabela, c.somenteChave)) nomes.push_back({campo.Campo, campo.Chave});
        EXPECT_EQ(nomes, c.esperado);
    }
    // Each column's type comes along: X is VARCHAR(5) in the database's Latin-1.
    const auto composta = dm_->Catalogo().Campos("COMPOSTA", false);
    ASSERT_EQ(composta.size(), 3u);
    EXPECT_EQ((std::vector<int>{composta[1].Tipo, composta[1].ConjuntoCaracteres, composta[1].Tamanho}),
              (std::vector<int>{37, 21, 5}));
    // The key question gives the key's columns alone, without trailing
    // blanks, asked between two questions of the whole table.
    std::vector<std::string> chave;
    for (const auto& c : dm_->Catalogo().Campos("COMPOSTA", true)) {
        chave.push_back(c.Campo);
        EXPECT_TRUE(c.Chave);
    }
    EXPECT_EQ(dm_->Catalogo().Campos("COMPOSTA", false), composta);
    EXPECT_EQ(chave, (std::vector<std::string>{"A", "B"}));
    EXPECT_FALSE(dm_->TRPrincipal().Ativa());
}

TEST_F(DataModuleGlobal, LinhaDeConfiguracaoPorCodigoEGravacao) {
    banco_->ExecutarSql(
        "DELETE FROM RPL_CONFIGURACOES;"
        "INSERT INTO RPL_CONFIGURACOES (CODIGO, CODIGOLOJA, LINKCENTRAL, NIVELREPLICACAO, ULTIMORECEBIMENTO)"
        " VALUES (5, 55, 'http://cinco/', 1, 500);"
        "INSERT INTO RPL_CONFIGURACOES (CODIGO, CODIGOLOJA, LINKCENTRAL, NIVELREPLICACAO, ULTIMORECEBIMENTO)"
        " VALUES (2, 22, 'http://dois/', 1, 200);");
    dm_->Configuracoes().AbrirConfiguracoes();
    EXPECT_EQ(dm_->Configuracoes().CodigoLoja(), 22);
    EXPECT_EQ(dm_->Configuracoes().LinkCentral(), "http://dois/");
    EXPECT_EQ(dm_->Configuracoes().UltimoRecebimento(), 200);
    EXPECT_FALSE(dm_->TRPrincipal().Ativa());

    dm_->Configuracoes().GravarUltimoRecebimento(9007199254740993);
    EXPECT_FALSE(dm_->TRPrincipal().Ativa());  // committed at once
    EXPECT_EQ(dm_->Configuracoes().UltimoRecebimento(), 9007199254740993);
    const std::string saida = banco_->ExecutarSql(
        "SET LIST ON; SELECT CODIGO, ULTIMORECEBIMENTO FROM RPL_CONFIGURACOES ORDER BY CODIGO;");
    EXPECT_NE(saida.find("9007199254740993"), std::string::npos) << saida;
    EXPECT_NE(saida.find("500"), std::string::npos) << saida;  // row 5 untouched
    dm_->Configuracoes().GravarUltimoRecebimento(300);  // again, from the kept row

    // The row disappears under us: the write-back changes nothing and says so.
    banco_->ExecutarSql("DELETE FROM RPL_CONFIGURACOES WHERE CODIGO = 2;");
    EXPECT_THROW(dm_->Configuracoes().GravarUltimoRecebimento(400), ErroBanco);
    dm_->Configuracoes().AbrirConfiguracoes();
    EXPECT_EQ(dm_->Configuracoes().CodigoLoja(), 55);

    banco_->ExecutarSql("DELETE FROM RPL_CONFIGURACOES;");
    EXPECT_THROW(dm_->Configuracoes().AbrirConfiguracoes(), ErroBanco);
}

TEST_F(DataModuleGlobal, UltimoMovimentoDeLogVazioEZero) {
    banco_->ExecutarSql("DELETE FROM LOG_REPLICACAO;");
    EXPECT_EQ(dm_->LogReplicacao().UltimoMovimentoLoja(), 0);
    EXPECT_FALSE(dm_->TRPrincipal().Ativa());
}

// Settings table without a primary key: the row is found by the values of
// its five columns as read.
TEST(DataModuleSemChave, GravacaoPelosCincoValores) {
    teste::GarantirUsuarioReplicacao();
    BancoTeste banco(BancoTeste::Conteudo::Vazio);
    banco.ExecutarSql(
        "CREATE TABLE RPL_CONFIGURACOES (CODIGO INTEGER, CODIGOLOJA INTEGER, LINKCENTRAL VARCHAR(255),"
        " NIVELREPLICACAO INTEGER, ULTIMORECEBIMENTO BIGINT);"
        "GRANT SELECT, UPDATE ON RPL_CONFIGURACOES TO USER ONDARIS;"
        "INSERT INTO RPL_CONFIGURACOES VALUES (1, 10, '', NULL, 7);"
        "INSERT INTO RPL_CONFIGURACOES VALUES (3, 10, 'x', NULL, 7);");
    PastaKorvin pasta(banco);
    TDM dm(OpcoesTDM{.Pasta = pasta.Pasta()});
    dm.DataModuleCreate();
    dm.Configuracoes().GravarUltimoRecebimento(8);  // reads the row first; '' and NULL read as NULL
    std::string saida = banco.ExecutarSql("SET LIST ON; SELECT SUM(ULTIMORECEBIMENTO) AS S FROM RPL_CONFIGURACOES;");
    EXPECT_NE(saida.find("15"), std::string::npos) << saida;

    // Two identical rows: more than one would change, so nothing does.
    banco.ExecutarSql("UPDATE RPL_CONFIGURACOES SET CODIGO = 1, LINKCENTRAL = 'x', ULTIMORECEBIMENTO = 8;");
    dm.Configuracoes().AbrirConfiguracoes();
    EXPECT_THROW(dm.Configuracoes().GravarUltimoRecebimento(9), ErroBanco);
    saida = banco.ExecutarSql("SET LIST ON; SELECT SUM(ULTIMORECEBIMENTO) AS S FROM RPL_CONFIGURACOES;");
    EXPECT_NE(saida.find("16"), std::string::npos) << saida;
    EXPECT_FALSE(dm.TRPrincipal().Ativa());
}

// ------------------------------------------------------------ provisioning

// Runs SQL as SYSDBA with the password currently in force.
void ComoSysdba(const BancoTeste& banco, const std::string& senha, const std::string& sql) {
    Conexao c(banco.Parametros("SYSDBA", senha), "admin");
    Transacao t(c, "admin", OpcoesTransacao::EscritaAutomatica());
    Consulta q(c, t, sql);
    q.Executar();
}

// Changes the server's administrator password for the life of the guard and
// puts the recorded one back on every path (scripts/firebird-up repairs it
// if a run dies in between). Accounts live in one security database for the
// whole server, so the window is kept short.
class SenhaSysdbaTemporaria {
public:
    SenhaSysdbaTemporaria(const BancoTeste& banco, std::string nova)
        : banco_(banco), original_(teste::SenhaSysdba()), atual_(original_) {
        Trocar(std::move(nova));
    }
    ~SenhaSysdbaTemporaria() {
        try {
            Trocar(original_);
        } catch (const std::exception& e) {
            ADD_FAILURE() << "could not restore the SYSDBA password: " << e.what();
        }
    }
    SenhaSysdbaTemporaria(const SenhaSysdbaTemporaria&) = delete;
    SenhaSysdbaTemporaria& operator=(const SenhaSysdbaTemporaria&) = delete;

private:
    void Trocar(std::string nova) {
        ComoSysdba(banco_, atual_, "ALTER USER SYSDBA PASSWORD " + LiteralSql(nova));
        atual_ = std::move(nova);
    }
    const BancoTeste& banco_;
    std::string original_;
    std::string atual_;
};

bool ContaAbre(const BancoTeste& banco, const std::string& usuario, const std::string& senha) {
    Conexao c(banco.Parametros(usuario, senha), "prova");
    try {
        c.Abrir();
        return true;
    } catch (const ErroBanco&) {
        return false;
    }
}

// A provisioning test account of its own, so that suites logging in as the
// shared replication account at the same time are not disturbed.
constexpr const char* kContaTeste = "ONDARIS_PROVISAO";

class Provisionamento : public ::testing::Test {
protected:
    static void SetUpTestSuite() { banco_ = std::make_unique<BancoTeste>(BancoTeste::Conteudo::Vazio); }
    static void TearDownTestSuite() { banco_.reset(); }
    static inline std::unique_ptr<BancoTeste> banco_;
};

TEST_F(Provisionamento, CriaAContaComCadaSenhaDeAdministrador) {
    for (const char* senhaAdmin : {"quenby", "fowlbinch"}) {
        SCOPED_TRACE(senhaAdmin);
        PastaKorvin pasta(*banco_);
        {
            SenhaSysdbaTemporaria guarda(*banco_, senhaAdmin);
            ComoSysdba(*banco_, senhaAdmin, std::string("CREATE OR ALTER USER ") + kContaTeste + " PASSWORD 'x'");
            ComoSysdba(*banco_, senhaAdmin, std::string("DROP USER ") + kContaTeste);

            TDM dm(OpcoesTDM{.Pasta = pasta.Pasta(), .Usuario = kContaTeste, .Senha = "quenby"});
            dm.DataModuleCreate();  // first opening refused: no such account
            EXPECT_TRUE(dm.ConexaoGlobal().Aberta());
            EXPECT_TRUE(ContaAbre(*banco_, kContaTeste, "quenby"));
            // And the connection works as the new account, never as the
            // administrator.
            EXPECT_EQ(dm.ConexaoGlobal().Parametros().Usuario, kContaTeste);
            {
                Consulta quem(dm.ConexaoGlobal(), dm.TRPrincipal(), "SELECT CURRENT_USER AS U FROM RDB$DATABASE");
                ASSERT_TRUE(quem.Abrir());
                EXPECT_EQ(quem.Ler<std::string>("U"), kContaTeste);
                quem.Fechar();
            }

            // The account now exists: a second provisioning is refused.
            EXPECT_THROW(dm.ProvisionarContaReplicacao(), ErroProvisionamento);
            EXPECT_EQ(dm.ConexaoGlobal().Parametros().Usuario, kContaTeste);
            ComoSysdba(*banco_, senhaAdmin, std::string("DROP USER ") + kContaTeste);
        }
        EXPECT_TRUE(ContaAbre(*banco_, "SYSDBA", teste::SenhaSysdba()));
    }
}

TEST_F(Provisionamento, NenhumaSenhaDeAdministradorServe) {
    // The server keeps its recorded password, which is neither of the two.
    const auto recorded = teste::SenhaSysdba();
    if (recorded == "quenby" || recorded == "fowlbinch") GTEST_SKIP() << "the recorded password is one of the two";
    PastaKorvin pasta(*banco_);
    TDM dm(OpcoesTDM{.Pasta = pasta.Pasta(), .Usuario = kContaTeste, .Senha = "quenby"});
    EXPECT_THROW(dm.ProvisionarContaReplicacao(), ErroProvisionamento);
    EXPECT_FALSE(dm.ConexaoGlobal().Aberta());
    EXPECT_NE(dm.ConexaoGlobal().Parametros().Usuario, "SYSDBA");
    // And start-up reports the reopening's refusal, with the provisioning's.
    TDM outro(OpcoesTDM{.Pasta = pasta.Pasta(), .Usuario = kContaTeste, .Senha = "quenby"});
    try {
        outro.DataModuleCreate();
        ADD_FAILURE() << "the opening was not refused";
    } catch (const ErroLoginRecusado& e) {
        EXPECT_NE(std::string(e.what()).find("pelo login de administrador falhou: "), std::string::npos) << e.what();
    }
    EXPECT_EQ(outro.ConexaoGlobal().Parametros().Usuario, kContaTeste);
}

}  // namespace
}  // namespace ondaris::db
