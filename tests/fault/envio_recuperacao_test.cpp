// An agent whose database server is down at start-up, or goes away for a
// while, carries on by itself once the server answers again, as the
// replication account: only the server's refusal of that account's login
// makes it provision the account. The server "goes down" behind a TCP proxy
// (tests/support/proxy_tcp.h), the shared server itself stays up.
#include <gtest/gtest.h>

#include "support/proxy_tcp.h"
#include "envio_apoio.h"

namespace ondaris::teste::envio {
namespace {

class EnvioRecuperacao : public ::testing::Test {
protected:
    static void SetUpTestSuite() { GarantirUsuarioReplicacao(); }
    void SetUp() override { ConfigurarEnvio(banco_, 7, central_.Url()); }

    // Who the global connection works as.
    static std::string UsuarioAtual(db::TDM& dm) {
        db::Consulta q(dm.ConexaoGlobal(), dm.TRPrincipal(), "SELECT CURRENT_USER AS U FROM RDB$DATABASE");
        EXPECT_TRUE(q.Abrir());
        const std::string u = q.Ler<std::string>("U").value_or("");
        q.Fechar();
        return u;
    }

    BancoTeste banco_;
    CentralMinima central_{7};
};

// What a failure says when the account's creation was attempted with it.
constexpr const char* kTentativaDeConta = "pelo login de administrador";

TEST_F(EnvioRecuperacao, AnAgentStartedWithTheServerDownRecoversByItself) {
    Vender(banco_, 1, 2);
    ProxyTcp proxy(3050);
    proxy.Parar();
    PastaAgente pasta(Ini(banco_, "127.0.0.1/" + std::to_string(proxy.Porta())));
    Agente agente(pasta.Pasta());

    // Start-up and a run while the server is down: failures with their
    // cause, and no attempt at the account.
    EXPECT_FALSE(agente.Iniciar());
    EXPECT_FALSE(agente.Rodar());
    ASSERT_EQ(agente.Falhas.size(), 2u);
    for (const auto& f : agente.Falhas) {
        EXPECT_NE(f.find("network"), std::string::npos) << f;
        EXPECT_EQ(f.find(kTentativaDeConta), std::string::npos) << f;
    }
    EXPECT_EQ(agente.DM.ConexaoGlobal().Parametros().Usuario, kUsuarioReplicacao);

    // The server is back: the next run works, as the replication account.
    proxy.Iniciar();
    ASSERT_TRUE(agente.Rodar()) << agente.Registros.back();
    EXPECT_EQ(central_.Confirmada(), FimDoLog(banco_));
    EXPECT_EQ(UsuarioAtual(agente.DM), kUsuarioReplicacao);
    EXPECT_EQ(agente.Janela.UltimoEnvio(), sync::TextoEnvioConcluido);

    // It goes away with the agent's connection open, and comes back.
    Vender(banco_, 3, 2);
    proxy.Parar();
    EXPECT_FALSE(agente.Rodar());
    EXPECT_LT(central_.Confirmada(), FimDoLog(banco_));
    proxy.Iniciar();
    ASSERT_TRUE(agente.Rodar()) << agente.Registros.back();
    EXPECT_EQ(central_.Confirmada(), FimDoLog(banco_));
    EXPECT_EQ(UsuarioAtual(agente.DM), kUsuarioReplicacao);
    EXPECT_EQ(agente.Falhas.size(), 3u);
    for (const auto& f : agente.Falhas) EXPECT_EQ(f.find(kTentativaDeConta), std::string::npos) << f;
}

TEST_F(EnvioRecuperacao, AFailedAttachmentIsNotTakenForAMissingAccount) {
    ProxyTcp proxy(3050);
    proxy.Parar();
    struct Caso {
        const char* nome;
        std::string ini;
    };
    const Caso casos[] = {
        {"the server does not answer", Ini(banco_, "127.0.0.1/" + std::to_string(proxy.Porta()))},
        {"the database file does not exist",
         "[Korvin]\nServidor=127.0.0.1\nCaminho=" + PastaBancosTeste() + "/nao-existe.fdb\n"},
    };
    for (const auto& c : casos) {
        SCOPED_TRACE(c.nome);
        PastaAgente pasta(c.ini);
        db::TDM dm(db::OpcoesTDM{.Pasta = pasta.Pasta()});
        try {
            dm.DataModuleCreate();
            ADD_FAILURE() << "the opening did not fail";
        } catch (const db::ErroLoginRecusado& e) {
            ADD_FAILURE() << "taken for a refused login: " << e.what();
        } catch (const db::ErroBanco& e) {
            EXPECT_EQ(std::string(e.what()).find(kTentativaDeConta), std::string::npos) << e.what();
        }
        EXPECT_EQ(dm.ConexaoGlobal().Parametros().Usuario, kUsuarioReplicacao);
    }
}

}  // namespace
}  // namespace ondaris::teste::envio
