#pragma once
// The status window of the tray program on Qt: a thin view over the
// window's behaviour (shell::TJanela, which holds its texts, its commands
// and the cycle): the borderless, always-on-top window in the bottom-right
// corner of the primary screen, with the title panel, the illustration, the
// countdown and the two status panels, plus the tray icon with its menu.
//
// Ownership: the window owns its child widgets, the tray icon, the menu, the
// thread that ticks the cycle, the thread of the installation self-check,
// and the model; it borrows the wiring (data module) and the log, which must
// outlive it.
//
// Threads: the cycle runs on a worker thread, so that the window answers
// while a run waits for the database or the central server; what the run
// changes on the window (texts, busy pointer) reaches it as queued calls.
// Closing lets the step in progress finish. Exceptions that escape any
// other handler become log entries through ManipulaExcecoes; none is shown
// to the user.
#include "app/shell/janela.h"
#include "app/shell/ligacao.h"
#include "app/shell/registro.h"
#include "sync/ciclo.h"

#include <QWidget>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

class QAction;
class QLabel;
class QMenu;
class QSystemTrayIcon;
class QTimer;

namespace ondaris::app {

// A panel: a filled box with optional bevels and one centred line of text.
class TPainel : public QWidget {
public:
    TPainel(QWidget* parent, const QColor& cor, int bevelExterno = 0, int bevelInterno = 0);
    void setText(const QString& texto);
    QString text() const { return Texto_; }

protected:
    void paintEvent(QPaintEvent* evento) override;

private:
    QColor Cor_;
    int BevelExterno_;
    int BevelInterno_;
    QString Texto_;
};

class TFrmPrincipal : public QWidget, public shell::IVistaJanela {
public:
    TFrmPrincipal(shell::TLigacao& ligacao, shell::TRegistro& registro, QWidget* parent = nullptr);
    ~TFrmPrincipal() override;

    shell::TJanela& Modelo() { return *Modelo_; }

    // Window commands.
    void RestaurarAplicacao() { Modelo_->Restaurar(); }
    void OcultarAplicacao() { Modelo_->Ocultar(); }
    void MinimizadaPeloSistema() { Modelo_->Minimizado(); }
    // Asks the password; closes the program only when it is right.
    void FecharAplicacao() { Modelo_->Fechar(); }
    // The self-check of the installation, on a thread of its own, then
    // shown in a message box; a second request while it runs is ignored.
    void VerificarInstalacaoDoMenu();
    // Its text, on the calling thread: the check's lines, or why it did not run.
    QString TextoVerificacaoInstalacao(bool& tudoCerto);

    // Writes an exception that no one else caught to the log.
    void ManipulaExcecoes(QObject* Sender, const std::string& mensagem);

    // Whether a notification area shows the tray icon now.
    static bool BandejaDisponivelAgora();
    const sync::TCiclo& Ciclo() const { return Modelo_->Ciclo(); }

    // IVistaJanela
    void TextosAlterados() override;
    void Ocupado(bool ocupado) override;
    bool BandejaDisponivel() override { return BandejaDisponivelAgora(); }
    bool Visivel() override { return isVisible(); }
    shell::TRetangulo Tela() override;
    shell::TRetangulo AreaDisponivel() override;
    void Mostrar(std::optional<shell::TPonto> posicao) override;
    void TrazerParaFrente() override;
    void Ocultar() override;
    void Minimizar() override;
    std::optional<std::string> PedirSenha(const std::string& caption, const std::string& prompt,
                                          const std::string& valor) override;
    void Mensagem(const std::string& texto, shell::TIconeMensagem icone) override;
    void Encerrar() override;

    // Components, named as the window's designers call them.
    TPainel* Panel1 = nullptr;
    TPainel* PnTitulo = nullptr;
    QLabel* LblMinimizar = nullptr;
    QLabel* LblFechar = nullptr;
    QLabel* Image1 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* LblCronometro = nullptr;
    TPainel* PnStatusRecebimento = nullptr;
    TPainel* PnStatusEnvio = nullptr;
    QSystemTrayIcon* TrayIcon1 = nullptr;
    QMenu* PopupMenu1 = nullptr;

protected:
    void changeEvent(QEvent* evento) override;
    void closeEvent(QCloseEvent* evento) override;
    bool eventFilter(QObject* objeto, QEvent* evento) override;

private:
    void FormCreate();
    void MostrarTextos();
    void MostrarOcupado(bool ocupado);
    // The worker: ticks the cycle one second after the previous tick
    // returned, until the window goes; the cycle holds which of its two
    // timers (Timer, TimerContagemRegressiva) is on.
    void Relogio();

    std::unique_ptr<shell::TJanela> Modelo_;
    int Ocupado_ = 0;  // busy pointers shown, on this window's thread
    std::mutex MutexRelogio_;
    std::condition_variable SinalRelogio_;
    bool PararRelogio_ = false;
    std::thread Trabalhador_;
    std::atomic<bool> VerificacaoEmCurso_{false};
    std::thread Verificacao_;
};

}  // namespace ondaris::app
