#pragma once
// The status window of the tray program: a borderless, always-on-top window
// in the bottom-right corner of the primary screen that shows the cycle's
// status texts and the countdown to the next run, plus the tray icon with
// its menu: the three window commands (restore, hide, close after the
// password) and the installation self-check.
//
// Ownership: the window owns its child widgets, the tray icon, the menu, the
// clock that ticks the cycle, and the cycle itself; it borrows the wiring
// (data module) and the log, which must outlive it.
//
// Hidden at start while a notification area exists; without one (some
// desktops, any headless display) it is shown at start, since nothing else
// could bring it up, and "hide" then minimises it instead of hiding it.
// Exceptions that escape a tick or a handler become log entries through
// ManipulaExcecoes; none is shown to the user.
#include "app/shell/ligacao.h"
#include "app/shell/registro.h"
#include "sync/ciclo.h"
#include "sync/janela.h"

#include <QWidget>

#include <memory>
#include <string>

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

class TFrmPrincipal : public QWidget, public sync::IJanelaStatus {
public:
    TFrmPrincipal(shell::TLigacao& ligacao, shell::TRegistro& registro, QWidget* parent = nullptr);
    ~TFrmPrincipal() override;

    // IJanelaStatus
    void StatusRecebimento(const std::string& texto) override;
    void StatusEnvio(const std::string& texto) override;
    void Cronometro(const std::string& texto) override;
    void ProcessarMensagens() override;

    // Window commands.
    void RestaurarAplicao1Click();
    void FecharAplicao1Click();
    void ApplicationEvents1Minimize();
    void FecharAplicao2Click();
    // The self-check of the installation (the same as "ondarisd
    // --verificar"), shown in a message box; refused while a run is in
    // progress, since the check waits for the same servers.
    void VerificarInstalacao1Click();
    // Its text: the check's lines, or why it did not run.
    QString TextoVerificacaoInstalacao(bool& tudoCerto);

    // Writes an exception that no one else caught to the log.
    void ManipulaExcecoes(QObject* Sender, const std::string& mensagem);

    // Top-left corner for the current primary screen.
    QPoint PosicaoNaTela() const;

    // Whether a notification area shows the tray icon now.
    static bool BandejaDisponivel();
    const sync::TCiclo& Ciclo() const { return *Ciclo_; }

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
    QAction* RestaurarAplicao1 = nullptr;
    QAction* FecharAplicao1 = nullptr;
    QAction* FecharAplicao2 = nullptr;
    QAction* VerificarInstalacao1 = nullptr;

protected:
    void showEvent(QShowEvent* evento) override;
    void changeEvent(QEvent* evento) override;
    void closeEvent(QCloseEvent* evento) override;
    bool eventFilter(QObject* objeto, QEvent* evento) override;

private:
    void FormCreate();
    void FormShow();
    void TickRelogio();

    shell::TLigacao& Ligacao_;
    shell::TRegistro& Registro_;
    // Ticks the cycle one second after the previous tick returned; the cycle
    // holds which of its two timers (Timer, TimerContagemRegressiva) is on.
    QTimer* Relogio_ = nullptr;
    std::unique_ptr<sync::IOperacoesCiclo> Operacoes_;
    std::unique_ptr<sync::TCiclo> Ciclo_;
};

// "Ondaris Tavix System - Versão " + the three-number version of the file.
QString TituloJanela(const QString& caminhoExecutavel);

}  // namespace ondaris::app
