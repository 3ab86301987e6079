#pragma once
// The synchronisation cycle: the agent's two one-second timers (`Timer`,
// which runs one synchronisation, and `TimerContagemRegressiva`, which counts
// the pause down) and the run that one tick of `Timer` performs.
//
// Ownership: TCiclo borrows the server operations, the status window and the
// log callback; their owner keeps them alive as long as the cycle. Whoever
// owns the clock calls Tick() once per second, each call one second after
// the previous one returned (a single-shot QTimer in the tray program, a
// sleep loop in the headless one). Nothing here runs on another thread.
//
// Not an error: a server operation that reports an error text in `Erro`.
// The cycle ends the loop it is in and drops the text. Exceptions from the
// operations end the run at once and leave TimerTimer()/Tick() after the
// countdown has been started, so the owner writes them to the log and the
// next run still comes.
#include "sync/janela.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace ondaris::sync {

// Sending held back for long by an open store transaction, as the
// operations tell it after a run's send loop (sync/retencao.h).
struct TEnvioRetido {
    std::string TextoPainel;  // shown instead of TextoEnvioConcluido
    std::string Registro;     // a log entry to write now; empty: none this time
};

// What the cycle reads of the send-position answer.
struct TPosicaoEnvio {
    std::int64_t UltimaOrdemEnviada = 0;   // last ORDEM the server holds from this store
    std::int64_t UltimoMovimentoLoja = 0;  // the store's highest ORDEM as the server echoes it
};

// The settings values and the server operations that one run calls. Each
// operation clears `Erro` on entry, so after the call it holds that call's
// outcome alone; each takes the raw LINKCENTRAL text and normalises it itself.
class IOperacoesCiclo {
public:
    virtual ~IOperacoesCiclo() = default;

    // Opens the settings row query and the local log position query, or
    // re-runs them when already open. Called once at the start of every run.
    virtual void AtualizarConfiguracoes() = 0;
    // Values of the settings row's current record; null reads as "" or 0.
    // UltimoRecebimento() reflects what the last ReceberDados stored.
    virtual std::string LinkCentral() = 0;
    virtual std::int32_t CodigoLoja() = 0;
    virtual std::int64_t UltimoRecebimento() = 0;
    // Highest ORDEM of the local change log as read by AtualizarConfiguracoes.
    virtual std::int64_t UltimaOrdemLoja() = 0;

    virtual void ObterEstruturaBanco(std::string& Erro, const std::string& URL) = 0;
    // Receives and applies one block; returns the server's "ultimaordem"
    // (0 when nothing is left or the request was refused).
    virtual std::int64_t ReceberDados(std::string& Erro, const std::string& URL,
                                      std::int32_t CodigoLoja, std::int64_t Ordem) = 0;
    // Both numbers are 0 when the request failed.
    virtual TPosicaoEnvio UltimoMovimentoEnviado(std::string& Erro, const std::string& URL,
                                                 std::int32_t CodigoLoja,
                                                 std::int64_t UltimoMovimentoLoja) = 0;
    // Sends the block that follows `Ordem`. False when the block was empty
    // because nothing after `Ordem` can be sent yet (a store transaction
    // that took the next log position is still open): not a failure.
    virtual bool EnviarDados(std::string& Erro, const std::string& URL,
                             std::int32_t CodigoLoja, std::int64_t Ordem) = 0;
    // After the send loop: sending held back by an open store transaction
    // for longer than the warning time, or nothing. Asked once per run that
    // reaches the end of its send loop.
    virtual std::optional<TEnvioRetido> EnvioRetido() { return std::nullopt; }
};

enum class TEstadoCiclo {
    ecParado,              // before Iniciar(): both timers disabled, as loaded
    ecAguardando,          // Timer enabled, countdown disabled
    ecExecutando,          // a run in progress, both disabled
    ecContagemRegressiva,  // countdown enabled, Timer disabled
};

inline constexpr std::int32_t SegundosContagemRegressiva = 120;
inline constexpr std::chrono::milliseconds DuracaoPausa{500};

inline constexpr const char* TextoRecebimentoConcluido =
    "Todos os dados de recebimento foram sincronizados";
inline constexpr const char* TextoVerificandoEnvio = "Verificando último movimento enviado...";
inline constexpr const char* TextoEnviandoBloco = "Enviando bloco de registros a partir de ";
inline constexpr const char* TextoEnvioConcluido = "Todos os dados de envio foram sincronizados";

// "0"-padded to two digits below 10, otherwise the plain decimal text.
std::string FormatarNumero(int Numero);
// 120 -> "02:00", 61 -> "01:01", 9 -> "00:09".
std::string ConverteSegundosemMinutos(int Segundos);

class TCiclo {
public:
    using TRegistrar = std::function<void(const std::string&)>;
    using TDormir = std::function<void(std::chrono::milliseconds)>;
    using TParada = std::function<bool()>;

    // `registrar` writes one log entry (used when a loop stops because its
    // position did not move, or came back to one already used in the run). `dormir` defaults to sleeping the thread.
    // `parada`, when given, is asked between steps; true ends the run early
    // (no exception) so that a stopping service need not wait for a whole run.
    TCiclo(IOperacoesCiclo& operacoes, IJanelaStatus& janela, TRegistrar registrar,
           TDormir dormir = {}, TParada parada = {});

    TCiclo(const TCiclo&) = delete;
    TCiclo& operator=(const TCiclo&) = delete;

    // Enables `Timer`: the first run comes on the next tick.
    void Iniciar();
    // One second of the clock: runs the enabled timer's handler; does nothing
    // while a run is in progress (a tick that arrives during a message pump).
    void Tick();

    // One run (steps of the cycle in order). Exceptions propagate after the
    // countdown has been enabled.
    void TimerTimer();
    // One countdown tick: shows the time left; at 0 hands over to `Timer`.
    void TimerContagemRegressivaTimer();
    // The end of every run: disables `Timer` and enables the countdown.
    void IniciarContagemRegressiva();

    TEstadoCiclo Estado() const { return Estado_; }
    bool TimerHabilitado() const { return Estado_ == TEstadoCiclo::ecAguardando; }
    bool TimerContagemRegressivaHabilitado() const {
        return Estado_ == TEstadoCiclo::ecContagemRegressiva;
    }
    std::int32_t TempoRestante() const { return TempoRestante_; }

private:
    void ExecutarPassos();
    void ReceberTudo();
    void EnviarTudo();
    void Pausar();
    void Mostrar(void (IJanelaStatus::*painel)(const std::string&), const std::string& texto);
    bool ParadaPedida() const { return Parada_ && Parada_(); }

    IOperacoesCiclo& Operacoes_;
    IJanelaStatus& Janela_;
    TRegistrar Registrar_;
    TDormir Dormir_;
    TParada Parada_;
    TEstadoCiclo Estado_ = TEstadoCiclo::ecParado;
    std::int32_t TempoRestante_ = 0;
};

}  // namespace ondaris::sync
