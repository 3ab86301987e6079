#include "app/aplicacao.h"

#include "app/shell/janela.h"

#include <iostream>

namespace ondaris::app {

TAplicacao::TAplicacao(int& argc, char** argv) : QApplication(argc, argv) {}

void TAplicacao::DefinirManipuladorExcecoes(TManipulador manipulador) {
    Manipulador_ = std::move(manipulador);
}

bool TAplicacao::notify(QObject* receptor, QEvent* evento) {
    try {
        return QApplication::notify(receptor, evento);
    } catch (const std::exception& e) {
        Repassar(receptor, e.what());
    } catch (...) {
        Repassar(receptor, "Falha de tipo desconhecido");
    }
    return false;
}

void TAplicacao::Repassar(QObject* Sender, const std::string& mensagem) {
    if (Manipulador_) {
        try {
            Manipulador_(Sender, mensagem);
            return;
        } catch (const std::exception& e) {
            std::cerr << "Falha no tratamento de exceções: " << e.what() << '\n';
        }
    }
    std::cerr << mensagem << std::endl;
}

QString TituloAplicacao(const QString& caminhoExecutavel) {
    return QString::fromStdString(shell::TituloAplicacao(caminhoExecutavel.toStdString()));
}

QString TituloDaAplicacao() {
    return TituloAplicacao(QCoreApplication::applicationFilePath());
}

}  // namespace ondaris::app
