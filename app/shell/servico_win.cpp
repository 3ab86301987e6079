#include "app/shell/servico_win.h"

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <type_traits>
#include <vector>

#include "protocolo/utf16_win.h"

namespace ondaris::shell {
using protocolo::TextoErroSistema;
using protocolo::Utf8ParaUtf16;

namespace {

using protocolo::TextoErroSistema;
using protocolo::Utf16ParaUtf8;
using protocolo::Utf8ParaUtf16;

struct FecharServico {
    void operator()(SC_HANDLE h) const { CloseServiceHandle(h); }
};
using Alca = std::unique_ptr<std::remove_pointer_t<SC_HANDLE>, FecharServico>;

[[noreturn]] void Falhar(const std::string& nome, const std::string& passo, DWORD codigo = GetLastError()) {
    throw ErroServicoWindows("Serviço " + nome + ": " + passo + ": " + TextoErroSistema(codigo) + " (erro " +
                             std::to_string(codigo) + ")");
}

Alca AbrirGerenciador(const std::string& nome, DWORD acesso) {
    Alca gerenciador(OpenSCManagerW(nullptr, nullptr, acesso));
    if (!gerenciador) Falhar(nome, "o gerenciador de serviços não pôde ser aberto");
    return gerenciador;
}

Alca AbrirServico(const std::string& nome, DWORD acesso) {
    const Alca gerenciador = AbrirGerenciador(nome, SC_MANAGER_CONNECT);
    Alca servico(OpenServiceW(gerenciador.get(), Utf8ParaUtf16(nome).c_str(), acesso));
    if (!servico) Falhar(nome, "não pôde ser aberto");
    return servico;
}

SERVICE_STATUS_PROCESS Estado(const std::string& nome, SC_HANDLE servico) {
    SERVICE_STATUS_PROCESS estado{};
    DWORD tamanho = 0;
    if (!QueryServiceStatusEx(servico, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&estado), sizeof estado,
                              &tamanho))
        Falhar(nome, "o estado não pôde ser lido");
    return estado;
}

// Polls until the service reaches `alvo` or stops; the state it ended in.
SERVICE_STATUS_PROCESS Aguardar(const std::string& nome, SC_HANDLE servico, DWORD alvo,
                                std::chrono::milliseconds limite) {
    const auto fim = std::chrono::steady_clock::now() + limite;
    for (;;) {
        const auto estado = Estado(nome, servico);
        if (estado.dwCurrentState == alvo || estado.dwCurrentState == SERVICE_STOPPED ||
            std::chrono::steady_clock::now() >= fim)
            return estado;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

DWORD CodigoSaida(const SERVICE_STATUS_PROCESS& estado) {
    return estado.dwWin32ExitCode == ERROR_SERVICE_SPECIFIC_ERROR ? estado.dwServiceSpecificExitCode
                                                                  : estado.dwWin32ExitCode;
}

// ---- Running under the service control manager ------------------------------

// The manager calls back without a context: one service per process.
struct TServicoEmExecucao {
    std::wstring Nome;
    std::function<int(std::function<bool()>)> Executar;
    SERVICE_STATUS_HANDLE Alca = nullptr;
    std::mutex Mutex;  // SetServiceStatus from the manager's thread and ours
    std::condition_variable Mudou;
    std::atomic<bool> Parar{false};
    bool Terminado = false;
    DWORD Verificacao = 0;
    int Status = 0;
};
TServicoEmExecucao* Servico = nullptr;

void Informar(DWORD estado, DWORD codigo = NO_ERROR, DWORD espera = 0) {
    SERVICE_STATUS s{};
    s.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    s.dwCurrentState = estado;
    s.dwControlsAccepted = estado == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN : 0;
    s.dwWin32ExitCode = codigo == NO_ERROR ? NO_ERROR : ERROR_SERVICE_SPECIFIC_ERROR;
    s.dwServiceSpecificExitCode = codigo;
    s.dwWaitHint = espera;
    s.dwCheckPoint = (estado == SERVICE_RUNNING || estado == SERVICE_STOPPED) ? 0 : ++Servico->Verificacao;
    SetServiceStatus(Servico->Alca, &s);
}

DWORD WINAPI Controle(DWORD controle, DWORD, void*, void*) {
    switch (controle) {
        case SERVICE_CONTROL_STOP:
        case SERVICE_CONTROL_SHUTDOWN: {
            std::lock_guard trava(Servico->Mutex);
            Servico->Parar = true;
            Informar(SERVICE_STOP_PENDING, NO_ERROR, 5000);
            Servico->Mudou.notify_all();
            return NO_ERROR;
        }
        case SERVICE_CONTROL_INTERROGATE: return NO_ERROR;
        default: return ERROR_CALL_NOT_IMPLEMENTED;
    }
}

void WINAPI Principal(DWORD, LPWSTR*) {
    Servico->Alca = RegisterServiceCtrlHandlerExW(Servico->Nome.c_str(), Controle, nullptr);
    if (!Servico->Alca) return;
    {
        std::lock_guard trava(Servico->Mutex);
        Informar(SERVICE_RUNNING);
    }
    // While the step in progress finishes after a stop request (a request to
    // the central server may take minutes), tell the manager we are alive.
    std::thread vigia([] {
        std::unique_lock trava(Servico->Mutex);
        Servico->Mudou.wait(trava, [] { return Servico->Parar || Servico->Terminado; });
        while (!Servico->Terminado) {
            Informar(SERVICE_STOP_PENDING, NO_ERROR, 5000);
            Servico->Mudou.wait_for(trava, std::chrono::seconds(2));
        }
    });
    int status = 1;
    try {
        status = Servico->Executar([] { return Servico->Parar.load(); });
    } catch (const std::exception&) {
        // ExecutarAgente logs every failure itself; one that escapes it
        // still stops the service with a failure status.
    }
    {
        std::lock_guard trava(Servico->Mutex);
        Servico->Terminado = true;
        Servico->Status = status;
    }
    Servico->Mudou.notify_all();
    vigia.join();
    std::lock_guard trava(Servico->Mutex);
    Informar(SERVICE_STOPPED, static_cast<DWORD>(status));
}

}  // namespace

void InstalarServico(const std::string& nome, const std::filesystem::path& executavel) {
    const Alca gerenciador = AbrirGerenciador(nome, SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE);
    const std::wstring comando =
        L"\"" + std::filesystem::absolute(executavel).wstring() + L"\" " + Utf8ParaUtf16(kArgumentoServico);
    const std::wstring nomeLargo = Utf8ParaUtf16(nome);
    const std::wstring exibicao = Utf8ParaUtf16(nome + " - sincronização com o servidor central");
    Alca servico(CreateServiceW(gerenciador.get(), nomeLargo.c_str(), exibicao.c_str(), SERVICE_ALL_ACCESS,
                                SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
                                comando.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
    if (!servico) {
        const DWORD codigo = GetLastError();
        if (codigo == ERROR_SERVICE_EXISTS) Falhar(nome, "já está instalado", codigo);
        Falhar(nome, "não pôde ser instalado", codigo);
    }
    std::wstring texto = Utf8ParaUtf16(
        "Troca as alterações do banco da loja com o servidor central a cada 2 minutos; registro em Ondaris.log");
    SERVICE_DESCRIPTIONW descricao{texto.data()};
    ChangeServiceConfig2W(servico.get(), SERVICE_CONFIG_DESCRIPTION, &descricao);
}

void RemoverServico(const std::string& nome, std::chrono::milliseconds limite) {
    const Alca servico = AbrirServico(nome, SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE);
    if (Estado(nome, servico.get()).dwCurrentState != SERVICE_STOPPED) PararServico(nome, limite);
    if (!DeleteService(servico.get())) Falhar(nome, "não pôde ser removido");
}

void IniciarServico(const std::string& nome, std::chrono::milliseconds limite) {
    const Alca servico = AbrirServico(nome, SERVICE_START | SERVICE_QUERY_STATUS);
    if (!StartServiceW(servico.get(), 0, nullptr)) Falhar(nome, "não pôde ser iniciado");
    const auto estado = Aguardar(nome, servico.get(), SERVICE_RUNNING, limite);
    if (estado.dwCurrentState == SERVICE_STOPPED)
        throw ErroServicoWindows("Serviço " + nome + ": terminou ao iniciar, com o código " +
                                 std::to_string(CodigoSaida(estado)) + " (veja Ondaris.log)");
    if (estado.dwCurrentState != SERVICE_RUNNING)
        throw ErroServicoWindows("Serviço " + nome + ": não entrou em execução no tempo esperado");
}

void PararServico(const std::string& nome, std::chrono::milliseconds limite) {
    const Alca servico = AbrirServico(nome, SERVICE_STOP | SERVICE_QUERY_STATUS);
    SERVICE_STATUS estado{};
    if (!ControlService(servico.get(), SERVICE_CONTROL_STOP, &estado) &&
        GetLastError() != ERROR_SERVICE_NOT_ACTIVE)
        Falhar(nome, "não pôde ser parado");
    if (Aguardar(nome, servico.get(), SERVICE_STOPPED, limite).dwCurrentState != SERVICE_STOPPED)
        throw ErroServicoWindows("Serviço " + nome + ": não parou no tempo esperado");
}

std::optional<TEstadoServico> ConsultarServico(const std::string& nome) {
    const Alca gerenciador = AbrirGerenciador(nome, SC_MANAGER_CONNECT);
    const Alca servico(
        OpenServiceW(gerenciador.get(), Utf8ParaUtf16(nome).c_str(), SERVICE_QUERY_STATUS | SERVICE_QUERY_CONFIG));
    if (!servico) {
        if (GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST) return std::nullopt;
        Falhar(nome, "não pôde ser aberto");
    }
    TEstadoServico r;
    const auto estado = Estado(nome, servico.get());
    r.Estado = estado.dwCurrentState;
    r.CodigoSaida = CodigoSaida(estado);
    DWORD tamanho = 0;
    QueryServiceConfigW(servico.get(), nullptr, 0, &tamanho);
    std::vector<BYTE> bytes(tamanho);
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(bytes.data());
    if (tamanho == 0 || !QueryServiceConfigW(servico.get(), config, tamanho, &tamanho))
        Falhar(nome, "a configuração não pôde ser lida");
    r.Comando = config->lpBinaryPathName ? config->lpBinaryPathName : L"";
    r.Inicio = config->dwStartType;
    return r;
}

int ExecutarComoServico(const std::string& nome, std::function<int(std::function<bool()>)> executar) {
    TServicoEmExecucao servico;
    servico.Nome = Utf8ParaUtf16(nome);
    servico.Executar = std::move(executar);
    Servico = &servico;
    SERVICE_TABLE_ENTRYW tabela[] = {{servico.Nome.data(), Principal}, {nullptr, nullptr}};
    const BOOL ok = StartServiceCtrlDispatcherW(tabela);
    const DWORD codigo = GetLastError();
    Servico = nullptr;
    if (!ok) {
        if (codigo == ERROR_FAILED_SERVICE_CONTROLLER_CONNECT)
            throw ErroServicoWindows("Serviço " + nome + ": " + kArgumentoServico +
                                     " serve só ao gerenciador de serviços; para executar no console, omita-o");
        Falhar(nome, "o gerenciador de serviços recusou a execução", codigo);
    }
    return servico.Status;
}

std::string TextoAjudaServico() {
    return std::string("  --install  instala o serviço ") + kNomeServico +
           " do Windows (início automático), que executa este programa\n"
           "  --remove   para e remove o serviço\n"
           "  --start    inicia o serviço\n"
           "  --stop     para o serviço (a etapa em andamento termina antes)\n";
}

}  // namespace ondaris::shell
