#pragma once
// Runs a program of the build as a test runs it: in a folder of its own, its
// output into files of that folder, killed when it outlives its limit.
// Windows builds only.
#include <windows.h>

#include <chrono>
#include <filesystem>
#include <stdexcept>
#include <string>

#include "support/pasta_temporaria.h"

namespace ondaris::teste {

struct ExecucaoWin {
    DWORD Status = 0;
    bool Terminou = false;  // false: killed at the limit
    std::string Saida, Erros;
};

inline ExecucaoWin ExecutarPrograma(const std::filesystem::path& programa, const std::wstring& argumentos,
                                    const std::filesystem::path& pasta, std::chrono::milliseconds limite) {
    SECURITY_ATTRIBUTES herdar{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    const auto abrir = [&](const std::filesystem::path& arquivo) {
        HANDLE h = CreateFileW(arquivo.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &herdar, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot create " + arquivo.string());
        return h;
    };
    HANDLE saida = abrir(pasta / "saida.txt");
    HANDLE erros = abrir(pasta / "erros.txt");
    STARTUPINFOW inicio{};
    inicio.cb = sizeof inicio;
    inicio.dwFlags = STARTF_USESTDHANDLES;
    inicio.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    inicio.hStdOutput = saida;
    inicio.hStdError = erros;
    std::wstring linha = L"\"" + programa.wstring() + L"\" " + argumentos;
    PROCESS_INFORMATION processo{};
    const BOOL criado = CreateProcessW(programa.c_str(), linha.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                      pasta.c_str(), &inicio, &processo);
    CloseHandle(saida);
    CloseHandle(erros);
    if (!criado) throw std::runtime_error("cannot start " + programa.string());
    ExecucaoWin r;
    r.Terminou = WaitForSingleObject(processo.hProcess, static_cast<DWORD>(limite.count())) == WAIT_OBJECT_0;
    if (!r.Terminou) {
        TerminateProcess(processo.hProcess, 255);
        WaitForSingleObject(processo.hProcess, INFINITE);
    }
    GetExitCodeProcess(processo.hProcess, &r.Status);
    CloseHandle(processo.hThread);
    CloseHandle(processo.hProcess);
    r.Saida = LerBytes(pasta / "saida.txt");
    r.Erros = LerBytes(pasta / "erros.txt");
    return r;
}

// ondarisd.exe of this build, copied into `pasta` as a store would install it.
inline std::filesystem::path InstalarOndarisd(const std::filesystem::path& pasta) {
    wchar_t proprio[MAX_PATH * 4] = {};
    GetModuleFileNameW(nullptr, proprio, MAX_PATH * 4);
    // tests\test_plataforma.exe -> app\ondarisd.exe
    const auto origem = std::filesystem::path(proprio).parent_path().parent_path() / "app" / "ondarisd.exe";
    const auto destino = pasta / "ondarisd.exe";
    std::filesystem::copy_file(origem, destino, std::filesystem::copy_options::overwrite_existing);
    return destino;
}

}  // namespace ondaris::teste
