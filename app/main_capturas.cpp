// Renders the status window, the tray menu and the password dialog to PNG
// files for people to look at. Usage: ondaris_capturas <output folder>
#include "app/aplicacao.h"
#include "app/arte.h"
#include "app/principal.h"
#include "app/senha.h"
#include "app/shell/ligacao.h"
#include "app/shell/registro.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <iostream>

namespace {

bool Salvar(const QPixmap& imagem, const QDir& pasta, const QString& nome) {
    const QString arquivo = pasta.filePath(nome);
    if (!imagem.save(arquivo)) {
        std::cerr << "não foi possível gravar " << arquivo.toStdString() << '\n';
        return false;
    }
    std::cout << arquivo.toStdString() << '\n';
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    ondaris::app::TAplicacao aplicacao(argc, argv);
    aplicacao.setQuitOnLastWindowClosed(false);
    if (argc != 2) {
        std::cerr << "uso: ondaris_capturas <pasta de saída>\n";
        return 2;
    }
    QDir pasta(QString::fromLocal8Bit(argv[1]));
    if (!pasta.mkpath(QStringLiteral("."))) {
        std::cerr << "não foi possível criar " << argv[1] << '\n';
        return 1;
    }
    QTemporaryDir temporaria;  // any log entry goes there, not beside the program
    ondaris::shell::TRegistro registro(temporaria.path().toStdString());
    ondaris::shell::TLigacao ligacao;
    ondaris::app::TFrmPrincipal janela(ligacao, registro);
    janela.RestaurarAplicacao();
    QApplication::processEvents();

    bool ok = Salvar(janela.grab(), pasta, QStringLiteral("janela.png"));

    janela.Modelo().StatusRecebimento("Todos os dados de recebimento foram sincronizados");
    janela.Modelo().StatusEnvio("Enviando bloco de registros a partir de 4294967301");
    janela.Modelo().Cronometro("02:00");
    QApplication::processEvents();
    ok = Salvar(janela.grab(), pasta, QStringLiteral("janela-ciclo.png")) && ok;

    janela.PopupMenu1->popup(janela.mapToGlobal(QPoint(300, 120)));
    QApplication::processEvents();
    ok = Salvar(janela.PopupMenu1->grab(), pasta, QStringLiteral("menu.png")) && ok;
    janela.PopupMenu1->hide();

    ok = Salvar(QPixmap::fromImage(ondaris::app::DesenharIconeBandeja(32)), pasta,
                QStringLiteral("icone.png")) && ok;
    ok = Salvar(QPixmap::fromImage(ondaris::app::DesenharIlustracao()), pasta,
                QStringLiteral("ilustracao.png")) && ok;

    // The password dialog, grabbed while it is open and then cancelled.
    QTimer::singleShot(100, [&] {
        if (auto* dialogo = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
            if (auto* campo = dialogo->findChild<QLineEdit*>()) {
                campo->setText(QStringLiteral("senha"));
            }
            QApplication::processEvents();
            ok = Salvar(dialogo->grab(), pasta, QStringLiteral("senha.png")) && ok;
            dialogo->reject();
        } else {
            ok = false;
        }
    });
    ondaris::app::SenhaTavixSystem(QStringLiteral("Senha Tavix System"),
                                   QStringLiteral("Digite a senha TAVIX SYSTEM"), QString());
    return ok ? 0 : 1;
}
