#pragma once
// ondarisd as a Windows service: installed, removed, started and stopped
// through the service control manager, and run under it. Windows only.
//
// The service runs "<folder>\ondarisd.exe" --service as LocalSystem and
// starts with Windows. Its log is "Ondaris.log" beside the executable, as for
// the console program. A stop request (or the machine shutting down) ends
// the cycle after the step in progress, as SIGTERM does on Linux; until then
// the service reports that it is stopping.
//
// Every failure throws ErroServicoWindows naming the service, the step and
// the system's reason (most often: not run as administrator).
#include <windows.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>

namespace ondaris::shell {

inline constexpr const char* kNomeServico = "Ondaris";
inline constexpr const char* kArgumentoServico = "--service";

class ErroServicoWindows : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Registers `executavel` as the service `nome`, started with Windows.
void InstalarServico(const std::string& nome, const std::filesystem::path& executavel);
// Stops the service when it runs (waiting up to `limite`) and removes it.
void RemoverServico(const std::string& nome, std::chrono::milliseconds limite);
// Starts the service and waits up to `limite` until it runs; a service that
// stops instead is a failure that gives its exit code.
void IniciarServico(const std::string& nome, std::chrono::milliseconds limite);
// Asks the service to stop and waits up to `limite` until it has.
void PararServico(const std::string& nome, std::chrono::milliseconds limite);

struct TEstadoServico {
    DWORD Estado = 0;        // SERVICE_STOPPED, SERVICE_RUNNING...
    DWORD CodigoSaida = 0;   // the program's exit status once stopped
    std::wstring Comando;    // the command line the manager runs
    DWORD Inicio = 0;        // SERVICE_AUTO_START...
};
// Nothing when no service of that name is installed.
std::optional<TEstadoServico> ConsultarServico(const std::string& nome);

// Runs `executar` as the service `nome` for the service control manager,
// which started this process; `executar` gets the question "was a stop
// asked for?" and returns the exit status, which the manager records.
// Throws ErroServicoWindows when the manager did not start this process.
int ExecutarComoServico(const std::string& nome, std::function<int(std::function<bool()>)> executar);

// The lines of the help text for the commands above.
std::string TextoAjudaServico();

}  // namespace ondaris::shell
