#include "db/processo.h"

#include <windows.h>

#include <string>

#include "protocolo/utf16_win.h"

namespace ondaris::db {
using protocolo::Utf16ParaUtf8;

std::string NomeMaquina() {
    wchar_t nome[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD tamanho = MAX_COMPUTERNAME_LENGTH + 1;
    if (!GetComputerNameW(nome, &tamanho)) return {};
    return Utf16ParaUtf8(std::wstring(nome, tamanho));
}

std::int64_t ProcessoAtual() { return static_cast<std::int64_t>(GetCurrentProcessId()); }

bool ProcessoAtivo(std::int64_t processo) {
    if (processo <= 0 || processo > 0xFFFFFFFFLL) return false;
    HANDLE h = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(processo));
    if (h == nullptr) return GetLastError() != ERROR_INVALID_PARAMETER;  // no such process
    DWORD codigo = 0;
    const bool ativo = !GetExitCodeProcess(h, &codigo) || codigo == STILL_ACTIVE;
    CloseHandle(h);
    return ativo;
}

std::string NomePrograma() {
    const std::wstring caminho = CaminhoExecutavel();
    if (caminho.empty()) return {};
    std::wstring nome = caminho.substr(caminho.find_last_of(L"\\/") + 1);
    if (nome.size() > 4 && _wcsicmp(nome.c_str() + nome.size() - 4, L".exe") == 0) nome.resize(nome.size() - 4);
    return Utf16ParaUtf8(nome);
}

}  // namespace ondaris::db
