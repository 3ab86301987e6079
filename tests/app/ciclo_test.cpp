// The countdown texts and the hand-over between the cycle's two timers.
#include "sync/ciclo.h"
#include "support/janela_gravadora.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

using ondaris::sync::ConverteSegundosemMinutos;
using ondaris::sync::TCiclo;
using ondaris::sync::TEstadoCiclo;

namespace {

TEST(ConverteSegundosemMinutosTest, GivesTwoDigitMinutesAndSeconds) {
    struct Caso {
        int segundos;
        const char* texto;
    };
    const Caso casos[] = {{120, "02:00"}, {61, "01:01"}, {60, "01:00"}, {59, "00:59"},
                          {10, "00:10"},  {9, "00:09"},  {0, "00:00"},  {3599, "59:59"},
                          {6000, "100:00"}};
    for (const auto& caso : casos) {
        EXPECT_EQ(ConverteSegundosemMinutos(caso.segundos), caso.texto) << caso.segundos;
    }
}

// Nothing to receive.
class RecebimentoVazio final : public ondaris::sync::ISessaoRecebimento {
public:
    ondaris::sync::TResultado<std::int64_t> ReceberDados(const std::string&, std::int32_t, std::int64_t) override {
        return std::int64_t{0};
    }
};

// Every block empty: the next position is held by an open store
// transaction, for as long as `Retido` says.
class EnvioVazio final : public ondaris::sync::ISessaoEnvio {
public:
    explicit EnvioVazio(std::optional<ondaris::sync::TEnvioRetido> retido = std::nullopt)
        : Retido_(std::move(retido)) {}
    ondaris::sync::TBlocoEnviado EnviarDados(const std::string&, std::int32_t, std::int64_t) override { return {}; }
    std::optional<ondaris::sync::TEnvioRetido> EnvioRetido() override { return Retido_; }

private:
    std::optional<ondaris::sync::TEnvioRetido> Retido_;
};

// No server here: the first call of a run fails, as an unreachable
// database would, which ends the run by an exception.
class OperacoesSemServidor final : public ondaris::sync::IOperacoesCiclo {
public:
    int Chamadas = 0;
    void AtualizarConfiguracoes() override { Falhar(); }
    std::string LinkCentral() override { Falhar(); }
    std::int32_t CodigoLoja() override { Falhar(); }
    std::int64_t UltimoRecebimento() override { Falhar(); }
    std::int64_t UltimaOrdemLoja() override { Falhar(); }
    std::optional<ondaris::sync::TRecusa> ObterEstruturaBanco(const std::string&) override { Falhar(); }
    std::unique_ptr<ondaris::sync::ISessaoRecebimento> AbrirRecebimento(std::int64_t) override { Falhar(); }
    ondaris::sync::TResultado<ondaris::sync::TPosicaoEnvio> UltimoMovimentoEnviado(const std::string&, std::int32_t,
                                                                                 std::int64_t) override {
        Falhar();
    }
    std::unique_ptr<ondaris::sync::ISessaoEnvio> AbrirEnvio() override { Falhar(); }

private:
    [[noreturn]] void Falhar() {
        ++Chamadas;
        throw std::runtime_error("banco indisponível");
    }
};

TEST(TCicloTest, ARunThatRaisesStillHandsOverToACountdownOf121Ticks) {
    OperacoesSemServidor operacoes;
    ondaris::teste::JanelaGravadora janela;
    std::vector<std::string> registrados;
    TCiclo ciclo(operacoes, janela, [&](const std::string& m) { registrados.push_back(m); });

    EXPECT_EQ(ciclo.Estado(), TEstadoCiclo::ecParado);
    ciclo.Tick();  // both timers disabled as loaded: nothing happens
    EXPECT_EQ(operacoes.Chamadas, 0);

    ciclo.Iniciar();
    EXPECT_TRUE(ciclo.TimerHabilitado());
    EXPECT_FALSE(ciclo.TimerContagemRegressivaHabilitado());

    EXPECT_THROW(ciclo.Tick(), std::runtime_error);
    EXPECT_EQ(operacoes.Chamadas, 1);
    EXPECT_FALSE(ciclo.TimerHabilitado());
    EXPECT_TRUE(ciclo.TimerContagemRegressivaHabilitado());
    EXPECT_EQ(ciclo.TempoRestante(), 120);
    // The failed step's panel shows the failure; the send panel, never
    // reached and never showing a completion, keeps its text.
    EXPECT_EQ(janela.Paineis, std::vector<std::string>{"R:banco indisponível"});
    EXPECT_TRUE(ciclo.ExecucaoIncompleta());
    EXPECT_TRUE(registrados.empty()) << "the owner logs the exception, not the cycle";

    std::vector<std::string> esperados;
    for (int s = 120; s >= 0; --s) {
        esperados.push_back(ConverteSegundosemMinutos(s));
    }
    for (int tick = 1; tick <= 121; ++tick) {
        ASSERT_TRUE(ciclo.TimerContagemRegressivaHabilitado()) << "tick " << tick;
        ASSERT_FALSE(ciclo.TimerHabilitado()) << "tick " << tick;
        ciclo.Tick();
    }
    EXPECT_EQ(janela.Cronometros, esperados);
    EXPECT_EQ(janela.Cronometros.front(), "02:00");
    EXPECT_EQ(janela.Cronometros.back(), "00:00");
    EXPECT_TRUE(ciclo.TimerHabilitado());
    EXPECT_FALSE(ciclo.TimerContagemRegressivaHabilitado());
    EXPECT_EQ(operacoes.Chamadas, 1) << "no run during the countdown";

    // The tick after the hand-over starts the next run.
    EXPECT_THROW(ciclo.Tick(), std::runtime_error);
    EXPECT_EQ(operacoes.Chamadas, 2);
    EXPECT_EQ(ciclo.TempoRestante(), 120);
    EXPECT_TRUE(ciclo.TimerContagemRegressivaHabilitado());
}

// Every step answers at once, nothing to receive or send, unless `Falha`
// holds a text: then the first call of the run raises it.
class OperacoesQuePodemFalhar final : public ondaris::sync::IOperacoesCiclo {
public:
    std::string Falha;
    void AtualizarConfiguracoes() override {
        if (!Falha.empty()) throw std::runtime_error(Falha);
    }
    std::string LinkCentral() override { return "http://central/"; }
    std::int32_t CodigoLoja() override { return 1; }
    std::int64_t UltimoRecebimento() override { return 0; }
    std::int64_t UltimaOrdemLoja() override { return 0; }
    std::optional<ondaris::sync::TRecusa> ObterEstruturaBanco(const std::string&) override { return std::nullopt; }
    std::unique_ptr<ondaris::sync::ISessaoRecebimento> AbrirRecebimento(std::int64_t) override {
        return std::make_unique<RecebimentoVazio>();
    }
    ondaris::sync::TResultado<ondaris::sync::TPosicaoEnvio> UltimoMovimentoEnviado(const std::string&, std::int32_t,
                                                                                 std::int64_t) override {
        return ondaris::sync::TPosicaoEnvio{};
    }
    std::unique_ptr<ondaris::sync::ISessaoEnvio> AbrirEnvio() override { return std::make_unique<EnvioVazio>(); }
};

// A store held by one command fails every run with the same text: the
// owner logs it once, then again an hour later, as a repeated refusal;
// a new text, or the same after a run that went well, is news at once.
TEST(TCicloTest, TheSameFailureRunAfterRunIsLoggedOnceAnHour) {
    OperacoesQuePodemFalhar operacoes;
    ondaris::teste::JanelaGravadora janela;
    auto agora = std::chrono::steady_clock::time_point{} + std::chrono::hours(100);
    TCiclo ciclo(
        operacoes, janela, {}, [](std::chrono::milliseconds) {}, {}, [&] { return agora; });
    struct Passo {
        const char* quando;
        std::chrono::minutes depois;
        std::string falha;  // empty: a run that goes well
        bool registrada;
    };
    const std::vector<Passo> passos = {
        {"first failure", std::chrono::minutes(0), "comando de ordem 2", true},
        {"same text, next run", std::chrono::minutes(2), "comando de ordem 2", false},
        {"same text, 59 minutes on", std::chrono::minutes(57), "comando de ordem 2", false},
        {"same text, an hour after it was logged", std::chrono::minutes(1), "comando de ordem 2", true},
        {"another text", std::chrono::minutes(2), "comando de ordem 3", true},
        {"back to the first text", std::chrono::minutes(2), "comando de ordem 2", true},
        {"a run that goes well", std::chrono::minutes(2), "", false},
        {"the same text after it", std::chrono::minutes(2), "comando de ordem 2", true},
    };
    for (const auto& p : passos) {
        SCOPED_TRACE(p.quando);
        agora += p.depois;
        operacoes.Falha = p.falha;
        if (p.falha.empty()) {
            EXPECT_NO_THROW(ciclo.TimerTimer());
            continue;
        }
        try {
            ciclo.TimerTimer();
            ADD_FAILURE() << "the run did not raise";
        } catch (const std::exception& e) {
            EXPECT_EQ(ciclo.RegistrarFalha(e.what()), p.registrada);
        }
    }
}

TEST(TCicloTest, ACountdownFromZeroHandsOverOnItsFirstTick) {
    OperacoesSemServidor operacoes;
    ondaris::teste::JanelaGravadora janela;
    TCiclo ciclo(operacoes, janela, {});
    ciclo.IniciarContagemRegressiva();
    ciclo.Tick();
    EXPECT_EQ(janela.Cronometros, std::vector<std::string>{"00:00"});
    EXPECT_TRUE(ciclo.TimerHabilitado());
    EXPECT_EQ(operacoes.Chamadas, 0);
}

// A store with one change waiting that its database holds back (no block
// can be built) and says for how long: the run ends its send loop at once
// and asks what to tell.
class OperacoesRetidas final : public ondaris::sync::IOperacoesCiclo {
public:
    std::optional<ondaris::sync::TEnvioRetido> Retido;  // what the database says in the next run
    void AtualizarConfiguracoes() override {}
    std::string LinkCentral() override { return "http://central/"; }
    std::int32_t CodigoLoja() override { return 7; }
    std::int64_t UltimoRecebimento() override { return 0; }
    std::int64_t UltimaOrdemLoja() override { return 11; }
    std::optional<ondaris::sync::TRecusa> ObterEstruturaBanco(const std::string&) override { return std::nullopt; }
    std::unique_ptr<ondaris::sync::ISessaoRecebimento> AbrirRecebimento(std::int64_t) override {
        return std::make_unique<RecebimentoVazio>();
    }
    ondaris::sync::TResultado<ondaris::sync::TPosicaoEnvio> UltimoMovimentoEnviado(const std::string&, std::int32_t,
                                                                                 std::int64_t) override {
        return ondaris::sync::TPosicaoEnvio{10, 11};
    }
    std::unique_ptr<ondaris::sync::ISessaoEnvio> AbrirEnvio() override { return std::make_unique<EnvioVazio>(Retido); }
};

// Every run that finds sending held for long says so on the panel and in
// its result; the log gets the holding once, then again an hour after it
// was written, at once for another holding, and at once when the same comes
// back after a run that found nothing held.
TEST(TCicloTest, SendingHeldForLongIsShownEveryRunAndLoggedAtMostHourly) {
    using namespace std::chrono_literals;
    const ondaris::sync::TEnvioRetido caixa1{"Envio retido desde 10:00 pela transação 42",
                                             "Envio retido desde 10:00, quando a transação 42 registrou"};
    const ondaris::sync::TEnvioRetido caixa2{"Envio retido desde 10:30 pela transação 57",
                                             "Envio retido desde 10:30, quando a transação 57 registrou"};
    struct Execucao {
        const char* nome;
        std::optional<ondaris::sync::TEnvioRetido> retido;
        std::chrono::minutes passados;  // since the run before
        bool registra;
    };
    const Execucao execucoes[] = {
        {"first found held", caixa1, 0min, true},
        {"the same, next run", caixa1, 2min, false},
        {"the same, 59 minutes after it was logged", caixa1, 57min, false},
        {"the same, an hour after it was logged", caixa1, 1min, true},
        {"another holder", caixa2, 2min, true},
        {"no longer held", std::nullopt, 2min, false},
        {"held again by the one told before", caixa2, 2min, true},
    };
    OperacoesRetidas operacoes;
    ondaris::teste::JanelaGravadora janela;
    std::vector<std::string> registrados;
    auto agora = std::chrono::steady_clock::time_point{};
    TCiclo ciclo(
        operacoes, janela, [&](const std::string& m) { registrados.push_back(m); },
        [](std::chrono::milliseconds) {}, {}, [&agora] { return agora; });
    std::vector<std::string> esperados;
    for (const auto& e : execucoes) {
        SCOPED_TRACE(e.nome);
        agora += e.passados;
        operacoes.Retido = e.retido;
        ciclo.TimerTimer();
        if (e.registra) esperados.push_back(e.retido->Registro);
        EXPECT_EQ(registrados, esperados);
        EXPECT_EQ(janela.Envio.back(),
                  e.retido ? e.retido->TextoPainel : std::string(ondaris::sync::TextoEnvioConcluido));
        EXPECT_EQ(ciclo.EnvioRetido(), e.retido.has_value());
        EXPECT_FALSE(ciclo.ExecucaoIncompleta());
    }
}

}  // namespace
