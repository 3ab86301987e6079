// Ondaris: the tray program. Start-up: application object, global data
// module, the hidden status window with its tray icon and cycle, then the
// event loop until the user closes the agent with the password.
#include "app/aplicacao.h"
#include "app/principal.h"
#include "app/shell/calculos.h"
#include "app/shell/ligacao.h"
#include "app/shell/registro.h"
#include "app/shell/versao.h"

#include <QMessageBox>

ONDARIS_REGISTRO_VERSAO(ONDARIS_VERSION);

int main(int argc, char** argv) {
    ondaris::app::TAplicacao aplicacao(argc, argv);
    // The window is hidden most of the time: closing a dialog or a message
    // box must not end the program.
    aplicacao.setQuitOnLastWindowClosed(false);

    ondaris::shell::TRegistro registro(
        QCoreApplication::applicationDirPath().toStdString());
    ondaris::shell::TLigacao ligacao;
    try {
        ligacao.CriarModuloDados();
    } catch (const std::exception& e) {
        // Comes before the exception handler exists; start-up goes on.
        QMessageBox mensagem(QMessageBox::Critical, ondaris::app::TituloDaAplicacao(),
                             QString::fromStdString(ondaris::shell::MensagemComPonto(e.what())),
                             QMessageBox::Ok);
        mensagem.exec();
    }

    ondaris::app::TFrmPrincipal FrmPrincipal(ligacao, registro);
    FrmPrincipal.Modelo().MostrarSemBandeja();
    return aplicacao.exec();
}
