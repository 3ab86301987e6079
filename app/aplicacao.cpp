#include "app/aplicacao.h"

#include <QFileInfo>

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
    QString nome = QFileInfo(caminhoExecutavel).fileName();
    const auto ponto = nome.indexOf(QLatin1Char('.'));
    if (ponto >= 0) {
        nome.truncate(ponto);
    }
    if (nome.size() > 1) {
        nome = nome.left(1) + nome.mid(1).toLower();
    }
    return nome;
}

QString TituloDaAplicacao() {
    return TituloAplicacao(QCoreApplication::applicationFilePath());
}

}  // namespace ondaris::app
