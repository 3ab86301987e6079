#pragma once
// The tray program's application object. Qt does not pass an exception that
// escapes an event handler or a timer slot to anyone, so notify() catches
// every one of them here and hands its message to the installed handler
// (the main window's ManipulaExcecoes, which writes the log). Until a
// handler is installed the message goes to standard error. The program goes
// on with its event loop either way.
#include <QApplication>
#include <QString>

#include <functional>
#include <string>

namespace ondaris::app {

class TAplicacao : public QApplication {
public:
    using TManipulador = std::function<void(QObject* Sender, const std::string& mensagem)>;

    TAplicacao(int& argc, char** argv);

    // Replaces whatever handler was installed before.
    void DefinirManipuladorExcecoes(TManipulador manipulador);

    bool notify(QObject* receptor, QEvent* evento) override;

private:
    void Repassar(QObject* Sender, const std::string& mensagem);

    TManipulador Manipulador_;
};

// The application title for an executable path: its file name up to the
// first dot, every character after the first in lower case
// ("/opt/x/Ondaris" -> "Ondaris", "ONDARIS.bin" -> "Ondaris").
QString TituloAplicacao(const QString& caminhoExecutavel);
// The title of the running program.
QString TituloDaAplicacao();

}  // namespace ondaris::app
