// One agent per store database: two programs' cycles (TCiclo over the real
// engine, each with its own data module, as the tray program and the service
// would run them) on one throwaway store database, against a central server
// inside the test process. The hold is the row of RPL_POSSE; its expiry is
// driven by setting the row's VALIDADE in the past, and a holder whose
// process is gone by a process of this test that has ended.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "db/posse.h"
#include "db/processo.h"
#include "db/udm.h"
#include "support/banco_teste.h"
#include "support/janela_gravadora.h"
#include "support/loja_e2e.h"
#include "support/servidor_http.h"
#include "sync/ciclo.h"
#include "sync/operacoes.h"

namespace ondaris::sync {
namespace {

using teste::BancoTeste;
using teste::RequisicaoRecebida;
using teste::RespostaProgramada;
using teste::ServidorHttp;

// Nothing to receive, nothing to send: every run of the holder completes;
// the store's structure download fails with 500 while `Falhar` is set.
class Central {
public:
    explicit Central(ServidorHttp& http) {
        http.Manipulador([this](const RequisicaoRecebida& r) { return Atender(r); });
    }
    bool Falhar = false;
    std::size_t Pedidos() const {
        std::lock_guard trava(mutex_);
        return pedidos_;
    }

private:
    RespostaProgramada Atender(const RequisicaoRecebida& r) {
        std::lock_guard trava(mutex_);
        ++pedidos_;
        if (r.Caminho == "/estruturabd") {
            if (Falhar) return RespostaProgramada::Texto("banco central fora do ar", 500);
            return RespostaProgramada::Json(R"([{"tabela":"PRODUTOS","campo":"CODIGO","chave":"S"},)"
                                            R"({"tabela":"PRODUTOS","campo":"DESCRICAO"}])");
        }
        if (r.Caminho.rfind("/receber/7/", 0) == 0)
            return RespostaProgramada::Json(
                R"({"ordeminicial":"0","ordemfinal":"0","ultimaordem":"0","comandos":[]})");
        if (r.Caminho.rfind("/obterindiceenvio/7/", 0) == 0)
            return RespostaProgramada::Json(R"({"ultimaordemenviada":0,"ultimomovimentoloja":0})");
        return RespostaProgramada::Texto("rota desconhecida", 404);
    }

    mutable std::mutex mutex_;
    std::size_t pedidos_ = 0;
};

class Posse : public ::testing::Test {
protected:
    static void SetUpTestSuite() { teste::GarantirUsuarioReplicacao(); }

    void SetUp() override {
        banco_ = std::make_unique<BancoTeste>();
        central_ = std::make_unique<Central>(http_);
        banco_->ExecutarSql(
            "INSERT INTO RPL_CONFIGURACOES (CODIGO, CODIGOLOJA, LINKCENTRAL, NIVELREPLICACAO, ULTIMORECEBIMENTO)"
            " VALUES (1, 7, '" + http_.Base() + "', 1, 0);");
        pasta_ = std::make_unique<teste::PastaKorvin>(*banco_);
    }
    void TearDown() override {
        pasta_.reset();
        banco_.reset();
    }

    // One program: its data module, its operations, its cycle, its window
    // and its log. Destroying it is a clean stop.
    struct Agente {
        Agente(const std::string& pasta, const std::string& programa)
            : DM(db::OpcoesTDM{.Pasta = pasta}),
              Operacoes(DM, Janela,
                        TContextoServidor{.TempoLimite = 10000, .Regional = protocolo::TConfiguracoesRegionais::Brasileiras()},
                        pasta),
              Ciclo(Operacoes, Janela, [this](const std::string& m) { Registros.push_back(m); }, [](auto) {}) {
            Operacoes.DefinirPrograma(programa);
            DM.DataModuleCreate();
        }
        // One run; a failure of the run is returned as the owner gets it.
        std::string Executar() {
            try {
                Ciclo.TimerTimer();
            } catch (const std::exception& e) {
                return e.what();
            }
            return {};
        }
        teste::JanelaGravadora Janela;
        db::TDM DM;
        TOperacoesMotor Operacoes;
        std::vector<std::string> Registros;
        TCiclo Ciclo;
    };

    std::unique_ptr<Agente> NovoAgente(const std::string& programa) {
        return std::make_unique<Agente>(pasta_->Pasta(), programa);
    }

    std::string Posse_(const std::string& coluna) {
        return teste::Linhas(*banco_, "SELECT " + coluna + " FROM RPL_POSSE").at(0);
    }

    // Attachments of the replication account, as SYSDBA sees them.
    int Anexos() {
        return static_cast<int>(teste::Inteiro(
            *banco_, std::string("SELECT COUNT(*) FROM MON$ATTACHMENTS WHERE MON$USER = '") + teste::kUsuarioReplicacao +
                         "'"));
    }

    // "ondarisd (serviço) na máquina X, processo N, desde "
    static std::string Descricao(const std::string& programa) {
        return programa + " na máquina " + db::NomeMaquina() + ", processo " + std::to_string(getpid()) + ", desde ";
    }

    ServidorHttp http_;
    std::unique_ptr<Central> central_;
    std::unique_ptr<BancoTeste> banco_;
    std::unique_ptr<teste::PastaKorvin> pasta_;
};

TEST_F(Posse, TheSecondAgentShowsTheHoldersPanelsAndFailureUntilTheHolderStopsCleanly) {
    auto servico = NovoAgente("ondarisd (serviço)");
    auto bandeja = NovoAgente("Ondaris");

    ASSERT_EQ(servico->Executar(), "");
    EXPECT_TRUE(servico->Ciclo.DetemPosse());
    EXPECT_TRUE(servico->Registros.empty());
    EXPECT_EQ(Posse_("PROGRAMA"), "'ondarisd (serviço)'");
    EXPECT_EQ(Posse_("PAINEL_ENVIO"), std::string("'") + TextoEnvioConcluido + "'");

    // The tray program asks nothing of the central server and applies
    // nothing: it shows the holder's panels, and says once who holds.
    const std::string nomeServico = "ondarisd (serviço) em " + db::NomeMaquina();
    for (int execucao = 0; execucao < 2; ++execucao) {
        const auto pedidos = central_->Pedidos();
        ASSERT_EQ(bandeja->Executar(), "");
        EXPECT_EQ(central_->Pedidos(), pedidos);
        EXPECT_TRUE(bandeja->Ciclo.OutroAgente());
        EXPECT_TRUE(bandeja->Ciclo.ExecucaoIncompleta());
        EXPECT_TRUE(bandeja->Ciclo.TimerContagemRegressivaHabilitado());
        EXPECT_EQ(bandeja->Janela.Recebimento.back(), nomeServico + ": " + TextoRecebimentoConcluido);
        EXPECT_EQ(bandeja->Janela.Envio.back(), TextoEnvioConcluido);
    }
    ASSERT_EQ(bandeja->Registros.size(), 1u);
    EXPECT_EQ(bandeja->Registros[0].rfind("Outro agente sincroniza este banco: " + Descricao("ondarisd (serviço)"), 0),
              0u)
        << bandeja->Registros[0];
    // Neither keeps an attachment between its runs.
    EXPECT_EQ(Anexos(), 0);

    // The holder's failed run: its failure is what the other shows.
    central_->Falhar = true;
    const std::string falha = servico->Executar();
    ASSERT_NE(falha, "");
    ASSERT_EQ(bandeja->Executar(), "");
    const std::string envio = bandeja->Janela.Envio.back();
    EXPECT_EQ(envio.rfind("Falha em ", 0), 0u) << envio;
    EXPECT_NE(envio.find(": " + falha), std::string::npos) << envio;
    EXPECT_EQ(bandeja->Janela.Recebimento.back(), nomeServico + ": " + falha);
    EXPECT_EQ(bandeja->Registros.size(), 1u);
    central_->Falhar = false;

    // A clean stop frees the database: the tray program's next run
    // synchronises, and says so once.
    servico.reset();
    EXPECT_EQ(Posse_("CHAVE"), "NULL");
    EXPECT_EQ(Anexos(), 0);
    const auto pedidos = central_->Pedidos();
    ASSERT_EQ(bandeja->Executar(), "");
    EXPECT_GT(central_->Pedidos(), pedidos);
    EXPECT_TRUE(bandeja->Ciclo.DetemPosse());
    EXPECT_FALSE(bandeja->Ciclo.OutroAgente());
    EXPECT_EQ(bandeja->Janela.Envio.back(), TextoEnvioConcluido);
    ASSERT_EQ(bandeja->Registros.size(), 2u);
    EXPECT_EQ(bandeja->Registros[1], TextoPosseRetomada);
    EXPECT_EQ(Posse_("PROGRAMA"), "'Ondaris'");
    EXPECT_EQ(Posse_("ULTIMA_FALHA"), "NULL");  // the previous holder's is not this one's
}

// A holder that did not stop cleanly: its claim expired, or, on this same
// machine, its process is gone. On another machine a live claim holds, since
// no process there can be looked at.
TEST_F(Posse, AClaimThatExpiredOrWhoseProcessIsGoneIsTakenOverAndOnlyThat) {
    // A process of this machine that has ended.
    const pid_t filho = fork();
    ASSERT_GE(filho, 0);
    if (filho == 0) _exit(0);
    ASSERT_EQ(waitpid(filho, nullptr, 0), filho);
    ASSERT_FALSE(db::ProcessoAtivo(filho));

    struct Caso {
        const char* nome;
        std::string sql;  // what becomes of the first agent's claim
        bool assumida;
        bool avisada;     // the takeover gets a log entry
    };
    const std::vector<Caso> casos = {
        {"expired", "UPDATE RPL_POSSE SET VALIDADE = DATEADD(-1 SECOND TO CURRENT_TIMESTAMP)", true, true},
        // A crash or a kill of an agent here: quietly, as after a power cut.
        {"process gone on this machine", "UPDATE RPL_POSSE SET PROCESSO = " + std::to_string(filho), true, false},
        {"process gone on another machine",
         "UPDATE RPL_POSSE SET PROCESSO = " + std::to_string(filho) + ", MAQUINA = 'OUTRA-MAQUINA'", false, true},
        {"live and not expired", "", false, true},
    };
    for (const auto& caso : casos) {
        SCOPED_TRACE(caso.nome);
        auto primeiro = NovoAgente("ondarisd");
        ASSERT_EQ(primeiro->Executar(), "");
        if (!caso.sql.empty()) banco_->ExecutarSql(caso.sql + ";");
        const std::string anterior = db::DescricaoDetentor(*[&] {
            db::Conexao c(banco_->Parametros());
            return db::LerPosse(c);
        }());

        auto segundo = NovoAgente("Ondaris");
        ASSERT_EQ(segundo->Executar(), "");
        EXPECT_EQ(segundo->Ciclo.DetemPosse(), caso.assumida);
        ASSERT_EQ(segundo->Registros.size(), caso.avisada ? 1u : 0u);
        if (caso.assumida) {
            if (caso.avisada) {
                EXPECT_EQ(segundo->Registros[0], TextoPosseAssumida(anterior));
            }
            EXPECT_EQ(Posse_("PROGRAMA"), "'Ondaris'");
            // The first agent finds it held at its next run and stops
            // synchronising; its clean stop leaves the new holder alone.
            ASSERT_EQ(primeiro->Executar(), "");
            EXPECT_TRUE(primeiro->Ciclo.OutroAgente());
            ASSERT_EQ(primeiro->Registros.size(), 1u);
            EXPECT_EQ(primeiro->Registros[0].rfind("Outro agente sincroniza este banco: Ondaris na máquina ", 0), 0u)
                << primeiro->Registros[0];
            primeiro.reset();
            EXPECT_EQ(Posse_("PROGRAMA"), "'Ondaris'");
            EXPECT_NE(Posse_("CHAVE"), "NULL");
        } else {
            EXPECT_EQ(segundo->Registros[0].rfind("Outro agente sincroniza este banco: ", 0), 0u)
                << segundo->Registros[0];
            EXPECT_EQ(Posse_("PROGRAMA"), "'ondarisd'");
        }
        segundo.reset();
        primeiro.reset();
        banco_->ExecutarSql("UPDATE RPL_POSSE SET CHAVE = NULL, VALIDADE = NULL;");
    }
}

// The refusal is told once per holder: again only when another agent has
// come to hold the database.
TEST_F(Posse, TheRefusalIsLoggedAgainOnlyWhenTheHolderChanges) {
    auto primeiro = NovoAgente("ondarisd");
    ASSERT_EQ(primeiro->Executar(), "");
    auto bandeja = NovoAgente("Ondaris");
    ASSERT_EQ(bandeja->Executar(), "");
    ASSERT_EQ(bandeja->Registros.size(), 1u);

    // The first holder's claim expires and the service takes the database.
    banco_->ExecutarSql("UPDATE RPL_POSSE SET VALIDADE = DATEADD(-1 SECOND TO CURRENT_TIMESTAMP);");
    auto servico = NovoAgente("ondarisd (serviço)");
    ASSERT_EQ(servico->Executar(), "");
    ASSERT_TRUE(servico->Ciclo.DetemPosse());

    for (int execucao = 0; execucao < 2; ++execucao) {
        ASSERT_EQ(bandeja->Executar(), "");
        EXPECT_TRUE(bandeja->Ciclo.OutroAgente());
    }
    ASSERT_EQ(bandeja->Registros.size(), 2u);
    EXPECT_EQ(bandeja->Registros[1].rfind("Outro agente sincroniza este banco: " + Descricao("ondarisd (serviço)"), 0),
              0u)
        << bandeja->Registros[1];
}

// The claim is one committed UPDATE judged by the database server's clock:
// a claim of any length is renewed by its holder's runs, and the expiry that
// another agent reads is the server's.
TEST_F(Posse, TheClaimIsRenewedByEveryRunAndExpiresByTheServersClock) {
    db::Conexao conexao(banco_->Parametros());
    const db::TIdentidadeAgente a = db::NovaIdentidade("a"), b = db::NovaIdentidade("b");
    EXPECT_FALSE(db::ReivindicarPosse(conexao, a, std::chrono::seconds(600)).Detentor);
    const auto recusada = db::ReivindicarPosse(conexao, b, std::chrono::seconds(600));
    ASSERT_TRUE(recusada.Detentor);
    EXPECT_EQ(recusada.Detentor->Chave, a.Chave);
    EXPECT_FALSE(recusada.Detentor->Vencida);
    // Renewed with no time left: expired at once by the server's clock.
    EXPECT_FALSE(db::ReivindicarPosse(conexao, a, std::chrono::seconds(-1)).Detentor);
    const auto assumida = db::ReivindicarPosse(conexao, b, std::chrono::seconds(600));
    EXPECT_FALSE(assumida.Detentor);
    ASSERT_TRUE(assumida.Anterior);
    EXPECT_EQ(assumida.Anterior->Chave, a.Chave);
    // Only the holder publishes and frees.
    EXPECT_FALSE(db::PublicarPosse(conexao, a.Chave, "r", "e", std::nullopt));
    EXPECT_FALSE(db::LiberarPosse(conexao, a.Chave));
    EXPECT_TRUE(db::PublicarPosse(conexao, b.Chave, "r", "e", std::string("caiu")));
    const auto lida = db::LerPosse(conexao);
    ASSERT_TRUE(lida);
    EXPECT_TRUE(lida->FalhouNoUltimo);
    EXPECT_EQ(lida->UltimaFalha, std::optional<std::string>("caiu"));
    EXPECT_TRUE(db::PublicarPosse(conexao, b.Chave, "r", "e", std::nullopt));
    EXPECT_FALSE(db::LerPosse(conexao)->FalhouNoUltimo);
    EXPECT_TRUE(db::LiberarPosse(conexao, b.Chave));
    EXPECT_TRUE(db::LerPosse(conexao)->Chave.empty());
}

}  // namespace
}  // namespace ondaris::sync
