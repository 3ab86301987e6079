#pragma once
// The status window's behaviour, free of any toolkit: what its panels and
// its countdown show, its layout, the tray menu's commands (restore, hide,
// the installation self-check, close after the password), the clock that
// runs the cycle, and what becomes of an exception that escapes a run.
// Each system's window is a thin view over it (IVistaJanela): the Qt window
// on Linux (app/principal.*), the Win32 window on Windows (app/win/*).
//
// Ownership: TJanela owns the cycle and its server operations; it borrows
// the view, the wiring (data module) and the log, which must outlive it.
//
// Threads: both views call Tick() on a worker thread of their own, so that
// the window never waits for a run, and run the installation self-check on
// another. The panel texts are kept here under a lock and the view is told,
// from the cycle's thread, that they changed (IVistaJanela::TextosAlterados);
// the commands run on the view's thread.
//
// Not an error: a wrong password (a message, the program goes on), a view
// without a notification area (the window is then shown at start, and
// "hide" minimises it instead, since nothing else could bring it back).
#include "app/shell/calculos.h"
#include "sync/ciclo.h"
#include "sync/janela.h"

#include <array>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace ondaris::shell {

class TLigacao;
class TRegistro;

// The window's layout in pixels as designed at 96 dots per inch; font sizes
// are character heights in pixels, every font bold Arial.
namespace layout {
inline constexpr int Largura = 516, Altura = 284;
inline constexpr int Bevel = 3;  // Panel1: raised outer, lowered inner bevel
inline constexpr TRetangulo PnTitulo{6, 6, 504, 35};
inline constexpr int FontePnTitulo = 16;
inline constexpr TRetangulo LblMinimizar{448, -8, 18, 33};  // inside PnTitulo
inline constexpr int FonteLblMinimizar = 37;
inline constexpr TRetangulo LblFechar{478, 3, 18, 32};  // inside PnTitulo
inline constexpr int FonteLblFechar = 27;
inline constexpr TRetangulo Image1{0, -3, 241, 225};
inline constexpr TRetangulo Label1{248, 64, 248, 22};
inline constexpr int FonteLabel1 = 19;
inline constexpr TRetangulo LblCronometro{260, 92, 238, 111};  // text centred
inline constexpr int FonteLblCronometro = 96;
inline constexpr TRetangulo PnStatusRecebimento{6, 228, 504, 25};
inline constexpr TRetangulo PnStatusEnvio{6, 253, 504, 25};
inline constexpr int FontePnStatus = 13;
inline constexpr int FontePadrao = 11;  // Tahoma, the window's own
}  // namespace layout

inline constexpr const char* CaptionJanela = "Ondaris Tavix System";
inline constexpr const char* TextoLabel1 = "Próxima Sincronização em";
inline constexpr const char* CaptionSenha = "Senha Tavix System";
inline constexpr const char* PromptSenha = "Digite a senha TAVIX SYSTEM";
inline constexpr const char* TextoSenhaIncorreta = "Senha Incorreta!!!";
inline constexpr const char* TextoVerificacaoDuranteSincronizacao =
    "Uma sincronização está em andamento: verifique de novo quando ela terminar.";

// What the window shows that changes while it runs.
struct TTextosJanela {
    std::string Titulo = "Ondaris Tavix System - Versão 1.0.0";
    std::string Recebimento = "Status do Recebimento de Dados";
    std::string Envio = "Status do Envio de Dados";
    std::string Cronometro = "0:00";
    bool operator==(const TTextosJanela&) const = default;
};

enum class TComandoJanela { cjRestaurar, cjOcultar, cjVerificarInstalacao, cjFechar };

struct TItemMenu {
    TComandoJanela Comando;
    const char* Texto;
};
// The tray icon's menu, in this order.
inline constexpr std::array<TItemMenu, 4> MenuBandeja = {{
    {TComandoJanela::cjRestaurar, "Restaurar Aplicação"},
    {TComandoJanela::cjOcultar, "Ocultar Aplicação"},
    {TComandoJanela::cjVerificarInstalacao, "Verificar Instalação"},
    {TComandoJanela::cjFechar, "Fechar Aplicação"},
}};

// "Ondaris Tavix System - Versão " + the three-number file version of the
// executable (the version this code was compiled as when the file carries
// none).
std::string TituloJanela(const std::string& caminhoExecutavel);

// The application title for an executable path (UTF-8): its file name up to
// the first dot, every character after the first in lower case
// ("/opt/x/Ondaris" -> "Ondaris", "ONDARIS.bin" -> "Ondaris"). It captions
// the message boxes and is the tray icon's tooltip.
std::string TituloAplicacao(const std::string& caminhoExecutavel);

// Whether the password dialog's outcome closes the program: confirmed
// (`digitada` present) with the closing password. Confirmed with another
// text, `avisar` shows TextoSenhaIncorreta; cancelled, nothing is shown.
bool SenhaAceita(const std::optional<std::string>& digitada,
                 const std::function<void(const std::string&)>& avisar);

enum class TIconeMensagem { imNenhum, imInformacao, imAviso, imErro };

// What a system's window does on the model's behalf. Only TextosAlterados
// and Ocupado may be called from the thread that runs the cycle; the rest
// is called on the view's thread.
class IVistaJanela {
public:
    virtual ~IVistaJanela() = default;
    // The texts changed: show TJanela::Textos() when convenient.
    virtual void TextosAlterados() = 0;
    // Statements are running (true) or no longer (false): the busy pointer.
    virtual void Ocupado(bool ocupado) = 0;
    virtual bool BandejaDisponivel() = 0;
    virtual bool Visivel() = 0;
    // The primary screen and its area not covered by the taskbar.
    virtual TRetangulo Tela() = 0;
    virtual TRetangulo AreaDisponivel() = 0;
    // Shows the window in its normal state, at `posicao` when given.
    virtual void Mostrar(std::optional<TPonto> posicao) = 0;
    virtual void TrazerParaFrente() = 0;
    // Hides the window, no taskbar button left; its state becomes minimised.
    virtual void Ocultar() = 0;
    // Minimises the window the ordinary way.
    virtual void Minimizar() = 0;

    // The password dialog, modal: the text typed when confirmed, nothing
    // when closed any other way.
    virtual std::optional<std::string> PedirSenha(const std::string& caption, const std::string& prompt,
                                                  const std::string& valor) = 0;
    // A message box captioned with the application title, one OK button.
    virtual void Mensagem(const std::string& texto, TIconeMensagem icone) = 0;
    // Ends the program: the window goes, then the message loop ends once a
    // run in progress has finished.
    virtual void Encerrar() = 0;
};

struct TResultadoVerificacao {
    bool TudoCerto = false;
    std::string Texto;  // the check's lines, or why it did not run
};

class TJanela final : public sync::IJanelaStatus {
public:
    // How often the view calls Tick(): one second after the last one returned.
    static constexpr std::chrono::milliseconds IntervaloRelogio{1000};

    // The cycle's server operations, showing their progress on the window.
    using TCriarOperacoes = std::function<std::unique_ptr<sync::IOperacoesCiclo>(sync::IJanelaStatus&)>;

    // The program's own: the operations of the data module of `ligacao`.
    TJanela(IVistaJanela& vista, TLigacao& ligacao, TRegistro& registro, const std::string& caminhoExecutavel);
    TJanela(IVistaJanela& vista, const TCriarOperacoes& criarOperacoes, TRegistro& registro,
            const std::string& caminhoExecutavel);
    ~TJanela() override;
    TJanela(const TJanela&) = delete;
    TJanela& operator=(const TJanela&) = delete;

    TTextosJanela Textos() const;

    // Enables the cycle's timer: the first run comes on the first tick, a
    // second after start.
    void Iniciar();
    // At the program's start, once the tray icon has been asked for: the
    // window stays hidden, unless no notification area can bring it up.
    void MostrarSemBandeja();
    // One second of the clock (see TCiclo::Tick); an exception that escapes
    // the run becomes a log entry (ManipulaExcecoes), once an hour when it
    // repeats.
    void Tick();
    // Asked between steps of a run: a program that is ending cuts the run
    // in progress short after its current step.
    void PedirParada() { Parada_ = true; }
    bool ParadaPedida() const { return Parada_; }
    // True while a run is in progress (any thread may ask).
    bool SincronizacaoEmAndamento() const { return EmAndamento_; }
    // The cycle (its state may move while the view reads it).
    const sync::TCiclo& Ciclo() const { return *Ciclo_; }

    void Executar(TComandoJanela comando);
    // "Restaurar Aplicação": a hidden window is placed anew in the
    // bottom-right corner; a shown one stays where it is. Then normal state
    // and to the front.
    void Restaurar();
    // "Ocultar Aplicação": hides the window (minimises it without a
    // notification area).
    void Ocultar();
    // The system's own minimise command on the window: goes the way of
    // "hide" when a notification area can bring the window back.
    void Minimizado();
    // "Fechar Aplicação": asks the password; closes the program only when
    // it is right.
    void Fechar();
    // The installation self-check (the same as "ondarisd --verificar");
    // refused while a run is in progress, since the check waits for the same
    // servers, and no run starts while it runs. May run on any thread.
    TResultadoVerificacao VerificarInstalacao();
    void MostrarVerificacao(const TResultadoVerificacao& resultado);

    // Writes an exception that no one else caught to the log.
    void ManipulaExcecoes(const std::string& mensagem);

    // IJanelaStatus, called by the cycle.
    void StatusRecebimento(const std::string& texto) override;
    void StatusEnvio(const std::string& texto) override;
    void Cronometro(const std::string& texto) override;
    // Nothing to pump: the cycle has a thread of its own.
    void ProcessarMensagens() override {}

private:
    void Alterar(std::string TTextosJanela::*campo, const std::string& texto);

    IVistaJanela& Vista_;
    TRegistro& Registro_;
    mutable std::mutex MutexTextos_;
    TTextosJanela Textos_;
    // Taken by a tick and by the self-check, so that they never overlap: a
    // tick that finds the check running waits for the next second, a check
    // that finds a tick running is refused. A flag rather than a lock: a
    // refused check answers at once instead of waiting for the run.
    std::atomic<bool> Execucao_{false};
    std::atomic<bool> Parada_{false};
    std::atomic<bool> EmAndamento_{false};
    std::unique_ptr<sync::IOperacoesCiclo> Operacoes_;
    std::unique_ptr<sync::TCiclo> Ciclo_;
};

}  // namespace ondaris::shell
