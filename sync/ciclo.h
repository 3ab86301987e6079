#pragma once
// The synchronisation cycle: the agent's two one-second timers (`Timer`,
// which runs one synchronisation, and `TimerContagemRegressiva`, which counts
// the pause down) and the run that one tick of `Timer` performs.
//
// Ownership: TCiclo borrows the server operations, the status window and the
// log callback; their owner keeps them alive as long as the cycle. It owns
// the receiving and the sending session of a run (ISessaoRecebimento,
// ISessaoEnvio) for the length of their loops. Whoever owns the clock calls
// Tick() once per second, each call one second after the previous one
// returned (a single-shot QTimer in the tray program, a sleep loop in the
// headless one). Nothing here runs on another thread.
//
// Not an error: a server operation that the server refused (an answer
// other than 200 below 500), which the operation returns as its result
// (TResultado, or the refusal inside TBlocoEnviado). The cycle decides from
// that value alone: it ends the loop it is in, as it would for any error
// text, but a refusal is still told: one log entry with the
// request, the status and the server's text, and the step's panel shows it
// in place of its completion text. The same refusal of a step coming back
// run after run is logged once, then again when its status or text changes,
// an hour after it was last logged, or after the step was accepted in
// between. Exceptions from the operations end the run at once and leave
// TimerTimer()/Tick() after the countdown has been started, so the owner
// writes them to the log (the same failure run after run once an hour, as
// RegistrarFalha tells) and the next run still comes; the panel of the
// step in progress shows the failure, and the send panel, when the run
// never reached it, no longer claims an earlier run's completion.
#include "sync/janela.h"
#include "sync/requisicao.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace ondaris::sync {

// Sending held back for long by an open store transaction, as the
// operations tell it after a run's send loop (sync/retencao.h).
struct TEnvioRetido {
    std::string TextoPainel;  // shown instead of TextoEnvioConcluido
    // The log entry. The same text stands for the same holding (the same
    // transaction, reservation and limit): the cycle writes it once, then at
    // most once an hour while it lasts.
    std::string Registro;
};

// What the cycle reads of the send-position answer.
struct TAvisoRecebimento {
    std::string Texto;
    bool NoPainel = false;  // shown on the receive panel as well
};

struct TPosicaoEnvio {
    std::int64_t UltimaOrdemEnviada = 0;   // last ORDEM the server holds from this store
    std::int64_t UltimoMovimentoLoja = 0;  // the store's highest ORDEM as the server echoes it
};

// Another agent that holds the store database (db/posse.h): only one agent
// at a time synchronises a database, and one refused shows the holder's
// panels instead of running its own cycle.
struct TOutroAgente {
    std::string Chave;      // the same holder, the same key
    std::string Nome;       // "ondarisd (serviço) em LOJA-PC": the panels' prefix
    std::string Descricao;  // program, machine, process and since when, for the log
    // What its panels showed at the end of its last run ("" before its first).
    std::string PainelRecebimento, PainelEnvio;
    // Its last run's failure, with when, when that run failed.
    std::optional<std::string> Falha;
};

struct TPosseCiclo {
    std::optional<TOutroAgente> Detentor;  // nothing: this agent holds the database now
    // Taken over from that agent, whose claim had expired (its description).
    std::optional<std::string> Anterior;
};

// What sending one block ended with. A refused block is told with whether
// there was one: a refusal that moved the server's position still lets the
// loop go on.
struct TBlocoEnviado {
    // False when the block was empty because nothing after the position can
    // be sent yet (a store transaction that took the next log position is
    // still open): not a failure.
    bool HaviaBloco = false;
    std::optional<TRecusa> Recusa;  // the server refused the block
};

// One run's receiving: the blocks of the run applied on one connection and
// its prepared statements. The cycle owns it for the length of its receive
// loop; destroying it closes them, on every path (a failure of that closing
// goes to the log), so that an agent that stops receiving holds no
// attachment for it.
class ISessaoRecebimento {
public:
    virtual ~ISessaoRecebimento() = default;
    // Receives and applies one block: the server's "ultimaordem" (0 when
    // nothing is left), or the server's refusal.
    virtual TResultado<std::int64_t> ReceberDados(const std::string& URL, std::int32_t CodigoLoja,
                                                  std::int64_t Ordem) = 0;
    // The loop is over: closes now, raising a failure of that closing.
    virtual void Encerrar() {}
};

// One run's sending, as ISessaoRecebimento is for receiving.
class ISessaoEnvio {
public:
    virtual ~ISessaoEnvio() = default;
    // Sends the block that follows `Ordem`.
    virtual TBlocoEnviado EnviarDados(const std::string& URL, std::int32_t CodigoLoja, std::int64_t Ordem) = 0;
    // The loop is over: closes now, raising a failure of that closing.
    virtual void Encerrar() {}
    // After Encerrar: sending held back by an open store transaction for
    // longer than the warning time, or nothing. The answer must rest on
    // what the store database says now, not on what earlier runs saw, so
    // that a program that runs only once tells the same as one that keeps
    // running.
    virtual std::optional<TEnvioRetido> EnvioRetido() { return std::nullopt; }
};

// The settings values and the server operations that one run calls. Each
// operation takes the raw LINKCENTRAL text and normalises it itself; a
// refusal is its result, any other failure is raised.
class IOperacoesCiclo {
public:
    virtual ~IOperacoesCiclo() = default;

    // Opens the settings row query and the local log position query, or
    // re-runs them when already open. Called once at the start of every run.
    virtual void AtualizarConfiguracoes() = 0;
    // Values of the settings row's current record; null reads as "" or 0.
    // UltimoRecebimento() reflects what the last block received stored.
    virtual std::string LinkCentral() = 0;
    virtual std::int32_t CodigoLoja() = 0;
    virtual std::int64_t UltimoRecebimento() = 0;
    // Highest ORDEM of the local change log as read by AtualizarConfiguracoes.
    virtual std::int64_t UltimaOrdemLoja() = 0;

    // Loads the structure list; the refusal, or nothing when loaded.
    virtual std::optional<TRecusa> ObterEstruturaBanco(const std::string& URL) = 0;
    // The receiving of this run. `PosicaoConfirmada` is the
    // "ultimaordemenviada" the server answered in this run, before
    // receiving: a received command for a row this store changed after that
    // position is set aside (sync/receber.h).
    virtual std::unique_ptr<ISessaoRecebimento> AbrirRecebimento(std::int64_t PosicaoConfirmada) = 0;
    // The notices of the receive steps called since the last time asked,
    // each to be logged once; told, not failures: commands set aside for
    // this store's own changes, and received values this store drops (a
    // column its table lacks), which the receive panel also shows, the last
    // one in place of its completion text. Asked after every block, also
    // after one that failed (its committed groups' notices stand).
    virtual std::vector<TAvisoRecebimento> AvisosRecebimento() { return {}; }
    virtual TResultado<TPosicaoEnvio> UltimoMovimentoEnviado(const std::string& URL, std::int32_t CodigoLoja,
                                                             std::int64_t UltimoMovimentoLoja) = 0;
    // The sending of this run.
    virtual std::unique_ptr<ISessaoEnvio> AbrirEnvio() = 0;

    // Right after AtualizarConfiguracoes: claims or renews the hold on the
    // store database for this agent. A holder's answer means this run must
    // not synchronise. Raises like any database step.
    virtual TPosseCiclo ReivindicarPosse() { return {}; }
    // At the end of a run that held the database, before LiberarConexoes:
    // writes what the two panels show and, when the run failed, its
    // failure, for another agent to show. Returns the text of a failure to
    // write them, for the log, or nothing. Never raises.
    virtual std::optional<std::string> PublicarPosse(const std::string& /*recebimento*/,
                                                     const std::string& /*envio*/,
                                                     const std::optional<std::string>& /*falha*/) {
        return std::nullopt;
    }
    // When the program stops cleanly after holding the database: frees the
    // hold, so that another agent takes over at its next run, and lets go
    // of the connection it opened for that. Returns a failure's text, or
    // nothing. Never raises.
    virtual std::optional<std::string> LiberarPosse() { return std::nullopt; }

    // At the end of every run, however it ended, and when the program
    // stops: lets go of every attachment to the store database, the global
    // connection's too, so that an agent waiting for its next run holds
    // none; the next run opens what it needs again. Returns the text of a
    // closing that failed, for the log, or nothing. Never raises.
    virtual std::optional<std::string> LiberarConexoes() { return std::nullopt; }
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
// The send panel when a failed run never reached it, in place of an
// earlier run's completion; also a failed step's panel when the failure
// carries no text.
inline constexpr const char* TextoInterrompido = "Sincronização interrompida por uma falha";

// The log entries of the hold on the store database.
std::string TextoPosseRecusada(const TOutroAgente& outro);
std::string TextoPosseAssumida(const std::string& anterior);
inline constexpr const char* TextoPosseRetomada =
    "Este agente passou a sincronizar este banco: o agente que o sincronizava o liberou";
// The receive panel while another agent holds the database, when that one
// has not yet finished a run.
inline constexpr const char* TextoOutroAgenteSemPainel = "ainda sem sincronização concluída";

// How long the same refusal of a step stays out of the log.
inline constexpr std::chrono::hours IntervaloRepeticaoRecusa{1};
// How long the same holding of sending stays out of the log.
inline constexpr std::chrono::hours IntervaloRepeticaoEnvioRetido{1};

// A refusal as the log and the panel show it: "O servidor central recusou
// GET http://central/receber/12/4711: 404 Not Found: <text>", or
// "... (sem texto)" when the answer had no body.
std::string TextoRecusa(const TRecusa& recusa);

// "0"-padded to two digits below 10, otherwise the plain decimal text.
std::string FormatarNumero(int Numero);
// 120 -> "02:00", 61 -> "01:01", 9 -> "00:09".
std::string ConverteSegundosemMinutos(int Segundos);

class TCiclo {
public:
    using TRegistrar = std::function<void(const std::string&)>;
    using TDormir = std::function<void(std::chrono::milliseconds)>;
    using TParada = std::function<bool()>;
    using TRelogio = std::function<std::chrono::steady_clock::time_point()>;

    // `registrar` writes one log entry (a refusal, or a loop stopped because
    // its position did not move or came back to one already used in the
    // run). `dormir` defaults to sleeping the thread.
    // `parada`, when given, is asked between steps; true ends the run early
    // (no exception) so that a stopping service need not wait for a whole run.
    // `agora` tells the time for repeated refusals (default: the steady clock).
    TCiclo(IOperacoesCiclo& operacoes, IJanelaStatus& janela, TRegistrar registrar,
           TDormir dormir = {}, TParada parada = {}, TRelogio agora = {});

    TCiclo(const TCiclo&) = delete;
    TCiclo& operator=(const TCiclo&) = delete;
    // A cycle that holds the store database frees it (LiberarPosse), a
    // failure to do so going to the log: the program is stopping cleanly.
    ~TCiclo();

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
    // Disables `Timer` and enables the countdown.
    void IniciarContagemRegressiva();

    TEstadoCiclo Estado() const { return Estado_; }
    bool TimerHabilitado() const { return Estado_ == TEstadoCiclo::ecAguardando; }
    bool TimerContagemRegressivaHabilitado() const {
        return Estado_ == TEstadoCiclo::ecContagemRegressiva;
    }
    std::int32_t TempoRestante() const { return TempoRestante_; }
    // True when the last run returned with a step cut short: refused by the
    // server, or stopped because a position did not move (each logged).
    bool ExecucaoIncompleta() const { return Incompleta_; }
    // After a run that raised: whether its owner writes the failure to the
    // log now. A failure of the same text as the last one logged is logged
    // again only an hour after it was, as a repeated refusal is: a store
    // held by one command it cannot send or apply would otherwise write an
    // entry every run. A run that ends without raising forgets it.
    bool RegistrarFalha(const std::string& texto);
    // True when the last run did not synchronise because another agent
    // holds the store database (its panels are shown instead).
    bool OutroAgente() const { return OutroAgente_; }
    // True when this agent held the store database at its last claim.
    bool DetemPosse() const { return DetemPosse_; }
    // True when the last run ended its send loop with sending held back by
    // an open store transaction for longer than the warning time (shown on
    // the send panel, and in the log unless told within the hour).
    bool EnvioRetido() const { return Retido_; }

private:
    // The server operations, each with its own refusals.
    enum TEtapa : std::size_t { etEstrutura, etRecebimento, etPosicaoEnvio, etEnvio, etQuantidade };
    using TPainel = void (IJanelaStatus::*)(const std::string&);

    // An entry that is not written again, the same, within a while.
    struct TEntradaRegistrada {
        std::string Chave;  // what makes it the same
        std::chrono::steady_clock::time_point Quando;
    };

    void ExecutarPassos();
    // The end of every run: the operations let go of their connections,
    // then the countdown starts.
    void TerminarExecucao(const std::optional<std::string>& falha = std::nullopt);
    // The hold claimed; false when another agent holds the database (its
    // panels shown, the refusal logged once per holder).
    bool Reivindicar();
    // `problema`: why receiving is skipped this run; `confirmada`: the
    // server's acknowledged position of this store's log.
    void ReceberTudo(std::optional<std::string> problema, std::int64_t confirmada);
    // Starts from the position answer asked before receiving.
    void EnviarTudo(TPosicaoEnvio UltimoMovimentoEnv, std::optional<std::string> problema);
    // Sending held back at the end of the send loop, told; the log entry
    // only when it is not the one written within the hour.
    std::optional<std::string> ConferirRetencao(ISessaoEnvio& sessao);
    // Logs the receive notices; the last one meant for the panel goes to `painel`.
    void RegistrarAvisos(std::optional<std::string>& painel);
    void Pausar();
    void Mostrar(TPainel painel, const std::string& texto);
    // After a server operation: its refusal (null when it was accepted),
    // logged unless it repeats one already logged, and returned as the
    // text for the step's panel.
    std::optional<std::string> Conferir(TEtapa etapa, const TRecusa* recusa);
    // A loop stopped short: logged, and the run is incomplete.
    void Interromper(const std::string& texto);
    // The rule for an entry that comes back run after run, in one place:
    // true (and remembered) when `chave` is to be logged now, that is when
    // nothing was logged for it, it differs from the last one, or that one
    // was logged an hour ago or more.
    bool RegistrarDeNovo(std::optional<TEntradaRegistrada>& registrada, std::string chave,
                         std::chrono::steady_clock::duration intervalo = IntervaloRepeticaoRecusa);
    // A run that raised: the panels say so.
    void MostrarFalha(const std::string& texto);
    bool ParadaPedida() const { return Parada_ && Parada_(); }

    IOperacoesCiclo& Operacoes_;
    IJanelaStatus& Janela_;
    TRegistrar Registrar_;
    TDormir Dormir_;
    TParada Parada_;
    TRelogio Agora_;
    TEstadoCiclo Estado_ = TEstadoCiclo::ecParado;
    std::int32_t TempoRestante_ = 0;
    bool Incompleta_ = false;
    bool Retido_ = false;
    bool EnvioIniciado_ = false;          // this run has reached the send part
    bool EnvioConcluidoNoPainel_ = false;  // the send panel shows TextoEnvioConcluido
    std::array<std::optional<TEntradaRegistrada>, etQuantidade> Registradas_;  // refusals: status, phrase and body
    std::optional<TEntradaRegistrada> RetencaoRegistrada_;  // the holding's entry
    std::optional<TEntradaRegistrada> FalhaRegistrada_;     // the last failure logged
    // The hold: whether this agent held it at its last claim, whether the
    // last run was refused it, the holder last logged, the failure to
    // publish last logged, and the panels' texts as this cycle last set them.
    bool DetemPosse_ = false;
    bool OutroAgente_ = false;
    bool PosseNestaExecucao_ = false;
    std::optional<TEntradaRegistrada> DetentorRegistrado_;
    std::optional<TEntradaRegistrada> PublicacaoRegistrada_;
    std::string PainelRecebimento_, PainelEnvio_;
};

}  // namespace ondaris::sync
