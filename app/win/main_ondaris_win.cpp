// Ondaris.exe: the tray program for Windows. Start-up: the log beside the
// executable, the global data module (a failure to open it is shown in a
// message box, before the log's handler exists, and start-up goes on), the
// hidden status window with its tray icon and its cycle, then the message
// loop until the user closes the agent with the password or the session
// ends.
#include <windows.h>

#include "app/shell/calculos.h"
#include "app/shell/janela.h"
#include "app/shell/ligacao.h"
#include "app/shell/registro.h"
#include "app/shell/versao.h"
#include "app/win/arte_win.h"
#include "app/win/janela_win.h"

ONDARIS_REGISTRO_VERSAO(ONDARIS_VERSION);

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    using namespace ondaris;
    win::TGdiPlus gdiPlus;
    shell::TRegistro registro(shell::PastaExecutavel());
    shell::TLigacao ligacao;
    try {
        ligacao.CriarModuloDados();
    } catch (const std::exception& e) {
        MessageBoxW(nullptr, win::Largo(shell::MensagemComPonto(e.what())).c_str(), win::TituloDaAplicacao().c_str(),
                    MB_OK | MB_ICONERROR);
    }
    try {
        win::TFrmPrincipalWin FrmPrincipal(ligacao, registro);
        FrmPrincipal.Modelo().MostrarSemBandeja();
        MSG msg;
        while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        return 0;
    } catch (const std::exception& e) {
        registro.DoSaveLog(e.what());
        return 1;
    }
}
