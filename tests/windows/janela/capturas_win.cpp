// Takes pictures of the Win32 status window for people to look at: the
// window during a cycle, the open tray menu, the password dialog and the
// wrong-password message, each a PNG file of the whole screen (wine's
// virtual desktop with its taskbar, scripts/capturas-windows). The cycle is
// a scripted one (operacoes_roteiro.h): a store whose log the server holds
// but for one block, so the panels show what a real run shows.
// Usage: ondaris_capturas_win <output folder>
#include <windows.h>

#include "app/shell/janela.h"
#include "app/shell/registro.h"
#include "app/win/arte_win.h"
#include "app/win/janela_win.h"
#include "app/win/senha_win.h"
#include "janela/operacoes_roteiro.h"
#include "janela/tela_win.h"
#include "sync/ciclo.h"

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <iostream>
#include <thread>
#include <vector>

namespace Gdiplus {
using std::max;
using std::min;
}  // namespace Gdiplus
#include <gdiplus.h>

namespace {

using namespace ondaris;
using namespace std::chrono_literals;

bool ClassePng(CLSID& clsid) {
    UINT n = 0, tamanho = 0;
    Gdiplus::GetImageEncodersSize(&n, &tamanho);
    std::vector<unsigned char> memoria(tamanho);
    auto* codificadores = reinterpret_cast<Gdiplus::ImageCodecInfo*>(memoria.data());
    Gdiplus::GetImageEncoders(n, tamanho, codificadores);
    for (UINT i = 0; i < n; ++i) {
        if (std::wstring(codificadores[i].MimeType) == L"image/png") {
            clsid = codificadores[i].Clsid;
            return true;
        }
    }
    return false;
}

bool SalvarTela(const std::filesystem::path& arquivo) {
    const int largura = GetSystemMetrics(SM_CXSCREEN), altura = GetSystemMetrics(SM_CYSCREEN);
    HDC tela = GetDC(nullptr);
    HDC memoria = CreateCompatibleDC(tela);
    HBITMAP quadro = CreateCompatibleBitmap(tela, largura, altura);
    const HGDIOBJ anterior = SelectObject(memoria, quadro);
    BitBlt(memoria, 0, 0, largura, altura, tela, 0, 0, SRCCOPY);
    SelectObject(memoria, anterior);
    CLSID png;
    bool ok = ClassePng(png);
    if (ok) {
        Gdiplus::Bitmap imagem(quadro, nullptr);
        ok = imagem.Save(arquivo.c_str(), &png, nullptr) == Gdiplus::Ok;
    }
    DeleteObject(quadro);
    DeleteDC(memoria);
    ReleaseDC(nullptr, tela);
    std::cout << (ok ? "" : "falhou: ") << arquivo.string() << std::endl;
    return ok;
}

void Redesenhar(HWND janela) { RedrawWindow(janela, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN); }

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "uso: ondaris_capturas_win <pasta de saída>\n";
        return 2;
    }
    const std::filesystem::path pasta = argv[1];
    std::filesystem::create_directories(pasta);
    win::TGdiPlus gdiPlus;
    const auto temporaria = std::filesystem::temp_directory_path() / "ondaris-capturas";
    std::filesystem::create_directories(temporaria);
    shell::TRegistro registro(temporaria);

    win::TFrmPrincipalWin janela(
        [](sync::IJanelaStatus&) {
            auto o = std::make_unique<teste::OperacoesRoteiro>();
            o->Loja = 4294968300;
            o->Servidor = 4294967300;
            return o;
        },
        registro);
    const HWND principal = janela.Janela();
    const DWORD threadJanela = GetCurrentThreadId();
    std::atomic<bool> ok{true};

    std::thread roteiro([&] {
        auto falhar = [&](const char* passo) {
            std::cerr << "não aconteceu: " << passo << std::endl;
            ok = false;
        };
        auto indice = [](shell::TComandoJanela c) {
            for (std::size_t i = 0; i < shell::MenuBandeja.size(); ++i)
                if (shell::MenuBandeja[i].Comando == c) return i;
            return std::size_t{0};
        };
        PostMessageW(principal, win::WM_ONDARIS_COMANDO, indice(shell::TComandoJanela::cjRestaurar), 0);
        // A whole run, then the countdown's second second.
        if (!teste::EsperarAteWin([&] { return janela.Modelo().Textos().Cronometro == "01:59"; }, 20s, false))
            falhar("a contagem regressiva");
        Redesenhar(principal);
        ok = SalvarTela(pasta / "janela.png") && ok;

        // The tray menu, opened where the icon stands: the notification area.
        SetCursorPos(GetSystemMetrics(SM_CXSCREEN) - 40, GetSystemMetrics(SM_CYSCREEN) - 12);
        PostMessageW(principal, win::WM_ONDARIS_BANDEJA, 1, WM_RBUTTONUP);
        HWND menu = nullptr;
        if (!teste::EsperarAteWin([&] { return (menu = teste::JanelaVisivel(L"#32768", threadJanela)) != nullptr; },
                                  10s, false))
            falhar("o menu");
        if (menu) {
            Redesenhar(menu);
            ok = SalvarTela(pasta / "menu.png") && ok;
            PostMessageW(menu, WM_KEYDOWN, VK_ESCAPE, 0);
            teste::EsperarAteWin([&] { return teste::JanelaVisivel(L"#32768", threadJanela) == nullptr; }, 10s, false);
        }

        // The password dialog with something typed, then a wrong password's message.
        PostMessageW(principal, win::WM_ONDARIS_COMANDO, indice(shell::TComandoJanela::cjFechar), 0);
        HWND senha = nullptr;
        if (!teste::EsperarAteWin([&] { return (senha = teste::JanelaVisivel(win::ClasseSenha, threadJanela)) != nullptr; },
                                  10s, false))
            falhar("o diálogo de senha");
        if (senha) {
            SendMessageW(GetDlgItem(senha, win::IdCampoSenha), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"senha"));
            Redesenhar(senha);
            ok = SalvarTela(pasta / "senha.png") && ok;
            PostMessageW(senha, WM_COMMAND, IDOK, 0);
            HWND caixa = nullptr;
            if (!teste::EsperarAteWin([&] { return (caixa = teste::JanelaVisivel(L"#32770", threadJanela)) != nullptr; },
                                      10s, false))
                falhar("a mensagem de senha incorreta");
            if (caixa) {
                Redesenhar(caixa);
                ok = SalvarTela(pasta / "senha-incorreta.png") && ok;
                PostMessageW(caixa, WM_COMMAND, IDOK, 0);
            }
        }
        // The system's close command ends the program without the password.
        teste::EsperarAteWin([&] { return teste::JanelaVisivel(L"#32770", threadJanela) == nullptr; }, 10s, false);
        PostMessageW(principal, WM_CLOSE, 0, 0);
    });

    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    roteiro.join();
    return ok ? 0 : 1;
}
