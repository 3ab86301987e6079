// ondarisd.exe: the agent for Windows store servers without a desktop, the
// same cycle and log as the tray program. As a console program, Ctrl+C or
// Ctrl+Break ends it after the step in progress, and --once runs a single
// cycle. As the Windows service "Ondaris" (servico_win.h), installed,
// removed, started and stopped with --install, --remove, --start and
// --stop; the service control manager runs it with --service.
#include <windows.h>

#include <atomic>
#include <iostream>
#include <string>
#include <vector>

#include "app/shell/agente.h"
#include "app/shell/servico.h"
#include "app/shell/servico_win.h"
#include "app/shell/versao.h"
#include "db/processo.h"
#include "protocolo/utf16_win.h"

ONDARIS_REGISTRO_VERSAO(ONDARIS_VERSION);

namespace {

using namespace ondaris::shell;

constexpr auto kEsperaServico = std::chrono::seconds(60);

std::atomic<bool> ParadaPedida{false};

BOOL WINAPI AoControleDoConsole(DWORD evento) {
    switch (evento) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
            ParadaPedida = true;
            return TRUE;
        default:
            return FALSE;
    }
}

std::string Ajuda() { return TextoAjuda("ondarisd") + TextoAjudaServico(); }

// --install, --remove, --start, --stop: one command for the service manager.
int ComandoDeServico(const std::string& comando) {
    try {
        if (comando == "--install") {
            const std::wstring caminho = ondaris::db::CaminhoExecutavel();
            if (caminho.empty())
                throw ErroServicoWindows("o caminho deste programa não pôde ser lido");
            InstalarServico(kNomeServico, caminho);
            std::cout << "Serviço " << kNomeServico << " instalado; inicie-o com --start." << std::endl;
        } else if (comando == "--remove") {
            RemoverServico(kNomeServico, kEsperaServico);
            std::cout << "Serviço " << kNomeServico << " removido." << std::endl;
        } else if (comando == "--start") {
            IniciarServico(kNomeServico, kEsperaServico);
            std::cout << "Serviço " << kNomeServico << " em execução." << std::endl;
        } else {
            PararServico(kNomeServico, kEsperaServico);
            std::cout << "Serviço " << kNomeServico << " parado." << std::endl;
        }
        return 0;
    } catch (const std::exception& e) {
        std::cerr << "ondarisd: " << e.what() << std::endl;
        return 1;
    }
}

}  // namespace

int main(int argc, char** argv) {
    // Status lines and messages are UTF-8, as is the log.
    SetConsoleOutputCP(CP_UTF8);
    const std::vector<std::string> argumentos(argv + 1, argv + argc);

    if (argumentos.size() == 1) {
        const std::string& a = argumentos.front();
        if (a == "--install" || a == "--remove" || a == "--start" || a == "--stop") return ComandoDeServico(a);
        if (a == kArgumentoServico) {
            try {
                return ExecutarComoServico(kNomeServico, [](std::function<bool()> parar) {
                    TOpcoesServico opcoes;
                    opcoes.ComoServico = true;
                    return ExecutarAgente(opcoes, std::move(parar));
                });
            } catch (const std::exception& e) {
                std::cerr << "ondarisd: " << e.what() << std::endl;
                return 1;
            }
        }
    }

    TOpcoesServico opcoes;
    try {
        opcoes = LerArgumentos(argumentos);
    } catch (const ErroArgumento& e) {
        std::cerr << "ondarisd: " << e.what() << "\n" << Ajuda();
        return 2;
    }
    if (opcoes.Ajuda) {
        std::cout << Ajuda();
        return 0;
    }
    SetConsoleCtrlHandler(AoControleDoConsole, TRUE);
    return ExecutarAgente(opcoes, [] { return ParadaPedida.load(); });
}
