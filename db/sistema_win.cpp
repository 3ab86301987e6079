// What the database layer asks of Windows itself.
#include <windows.h>

#include <string>

#include "db/erros.h"
#include "db/processo.h"
#include "db/ini.h"
#include "protocolo/utf16_win.h"

namespace ondaris::db {
using protocolo::TextoErroSistema;
using protocolo::Utf16ParaUtf8;

std::wstring CaminhoExecutavel() {
    std::wstring caminho(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, caminho.data(), static_cast<DWORD>(caminho.size()));
        if (n == 0) return {};
        if (n < caminho.size()) {
            caminho.resize(n);
            return caminho;
        }
        caminho.resize(caminho.size() * 2);
    }
}

std::string PastaExecutavel() {
    std::wstring caminho = CaminhoExecutavel();
    if (caminho.empty()) throw ErroUso("não foi possível achar o executável em execução: " + TextoErroSistema(GetLastError()));
    caminho.resize(caminho.find_last_of(L"\\/") + 1);
    return Utf16ParaUtf8(caminho);
}

}  // namespace ondaris::db
