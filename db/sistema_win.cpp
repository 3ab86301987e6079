// What the database layer asks of Windows itself.
#include <windows.h>

#include <string>

#include "db/erros.h"
#include "db/ini.h"
#include "protocolo/utf16_win.h"

namespace ondaris::db {

std::string PastaExecutavel() {
    // Long paths: grow the buffer until the whole name fits.
    std::wstring caminho(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, caminho.data(), static_cast<DWORD>(caminho.size()));
        if (n == 0) throw ErroUso("não foi possível achar o executável em execução: " + TextoErroSistema(GetLastError()));
        if (n < caminho.size()) {
            caminho.resize(n);
            break;
        }
        caminho.resize(caminho.size() * 2);
    }
    caminho.resize(caminho.find_last_of(L"\\/") + 1);
    return Utf16ParaUtf8(caminho);
}

}  // namespace ondaris::db
