// fbclient.dll loaded at run time (see db/fbclient.h).
#include "db/fbclient.h"

#include <windows.h>

#include <firebird/Interface.h>

#include <vector>

#include "db/ini.h"
#include "protocolo/utf16_win.h"

namespace ondaris::db {
using protocolo::TextoErroSistema;
using protocolo::Utf16ParaUtf8;
using protocolo::Utf8ParaUtf16;

namespace {

using TObterMestre = Firebird::IMaster*(ISC_EXPORT*)();

std::wstring ComSeparador(std::wstring pasta) {
    if (!pasta.empty() && pasta.back() != L'\\' && pasta.back() != L'/') pasta += L'\\';
    return pasta;
}

// The folder of the default Firebird instance, as its installer records it.
std::wstring PastaDaInstalacao() {
    wchar_t valor[MAX_PATH] = {};
    DWORD tamanho = sizeof valor;
    const LSTATUS r = RegGetValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Firebird Project\\Firebird Server\\Instances",
                                   L"DefaultInstance", RRF_RT_REG_SZ, nullptr, valor, &tamanho);
    return r == ERROR_SUCCESS ? std::wstring(valor) : std::wstring();
}

std::vector<std::wstring> Candidatos() {
    const std::wstring nome = Utf8ParaUtf16(kBibliotecaCliente);
    std::vector<std::wstring> candidatos{Utf8ParaUtf16(PastaExecutavel()) + nome};
    if (const std::wstring instalacao = PastaDaInstalacao(); !instalacao.empty()) {
        candidatos.push_back(ComSeparador(instalacao) + nome);
        candidatos.push_back(ComSeparador(instalacao) + L"bin\\" + nome);
    }
    wchar_t programas[MAX_PATH] = {};
    const DWORD n = GetEnvironmentVariableW(L"ProgramFiles", programas, MAX_PATH);
    if (n > 0 && n < MAX_PATH)
        for (const wchar_t* versao : {L"Firebird_5_0", L"Firebird_4_0", L"Firebird_3_0"})
            candidatos.push_back(ComSeparador(programas) + L"Firebird\\" + versao + L"\\" + nome);
    return candidatos;
}

}  // namespace

Firebird::IMaster* CarregarMestreFbclient() {
    std::string ausentes;  // places looked at where there is no file
    std::string falhas;    // files that are there but could not serve, each with why
    for (const std::wstring& caminho : Candidatos()) {
        const std::string texto = Utf16ParaUtf8(caminho);
        if (GetFileAttributesW(caminho.c_str()) == INVALID_FILE_ATTRIBUTES) {
            ausentes += (ausentes.empty() ? "" : ", ") + texto;
            continue;
        }
        // Its own folder first for the libraries it needs in turn.
        HMODULE biblioteca = LoadLibraryExW(caminho.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
        if (!biblioteca) {
            falhas += "; " + texto + ": " + TextoErroSistema(GetLastError());
            continue;
        }
        const auto obter =
            reinterpret_cast<TObterMestre>(reinterpret_cast<void*>(GetProcAddress(biblioteca, "fb_get_master_interface")));
        Firebird::IMaster* mestre = obter ? obter() : nullptr;
        if (mestre) return mestre;  // the library stays loaded for the whole run
        falhas += "; " + texto + ": não tem fb_get_master_interface (um cliente Firebird anterior ao 3.0?)";
        FreeLibrary(biblioteca);
    }
    std::string onde = ausentes.empty() ? falhas.substr(2) : "não encontrada em " + ausentes + falhas;
    throw ErroBibliotecaCliente(std::string("A biblioteca cliente do Firebird ") + kBibliotecaCliente +
                                " não pôde ser carregada (" + onde + "). Instale o cliente Firebird, ou copie " +
                                kBibliotecaCliente + " e as bibliotecas de que ela precisa para junto do programa.");
}

std::string SqlStateDoStatus(const std::intptr_t* vetor) {
    for (std::size_t k = 0; vetor[k] != isc_arg_end;) {
        const auto tipo = vetor[k];
        if (tipo == isc_arg_sql_state) return reinterpret_cast<const char*>(vetor[k + 1]);
        k += tipo == isc_arg_cstring ? 3 : 2;
    }
    return {};
}

}  // namespace ondaris::db
