#pragma once
// Helpers for driving the Win32 status window from outside its thread, as
// the tests and the picture program do: waiting for a condition while the
// window's thread runs, finding the windows a thread or a process shows,
// and saving the screen as a PNG file.
#include <windows.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>

namespace ondaris::teste {

// Runs the calling thread's message loop (when `bombear`) or yields until
// `condicao` holds; false when `limite` passed first.
inline bool EsperarAteWin(const std::function<bool()>& condicao, std::chrono::milliseconds limite,
                          bool bombear = true) {
    const auto fim = std::chrono::steady_clock::now() + limite;
    while (!condicao()) {
        if (std::chrono::steady_clock::now() > fim) return false;
        if (bombear) {
            // Wakes on any message, or after 10 ms to look again.
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
                if (msg.message == WM_QUIT) {
                    PostQuitMessage(static_cast<int>(msg.wParam));
                    return condicao();
                }
                TranslateMessage(&msg);
                DispatchMessageW(&msg);
            }
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    return true;
}

// The first visible (or, with `soVisivel` false, any) top-level window of
// class `classe` that belongs to thread `thread` (0: any) and process
// `processo` (0: any).
inline HWND JanelaVisivel(const wchar_t* classe, DWORD thread = 0, DWORD processo = 0, bool soVisivel = true) {
    struct Busca {
        const wchar_t* Classe;
        DWORD Thread, Processo;
        bool SoVisivel;
        HWND Achada = nullptr;
    } busca{classe, thread, processo, soVisivel};
    EnumWindows(
        [](HWND janela, LPARAM l) -> BOOL {
            auto* b = reinterpret_cast<Busca*>(l);
            wchar_t nome[128] = {};
            GetClassNameW(janela, nome, 128);
            DWORD processo = 0;
            const DWORD thread = GetWindowThreadProcessId(janela, &processo);
            if (std::wstring(nome) == b->Classe && (!b->SoVisivel || IsWindowVisible(janela)) && (b->Thread == 0 || b->Thread == thread) &&
                (b->Processo == 0 || b->Processo == processo)) {
                b->Achada = janela;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&busca));
    return busca.Achada;
}

inline std::wstring TextoJanela(HWND janela) {
    std::wstring texto(static_cast<std::size_t>(GetWindowTextLengthW(janela)) + 1, L'\0');
    texto.resize(static_cast<std::size_t>(GetWindowTextW(janela, texto.data(), static_cast<int>(texto.size()))));
    return texto;
}

// A message box's text: its static control (identifier 0xFFFF).
inline std::wstring TextoMensagem(HWND caixa) {
    return TextoJanela(GetDlgItem(caixa, 0xFFFF));
}

}  // namespace ondaris::teste
