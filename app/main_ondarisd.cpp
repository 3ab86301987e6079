// ondarisd: the agent for store servers without a desktop. The same cycle
// and log as the tray program; status lines on standard output. SIGTERM and
// SIGINT end it after the step in progress. (Windows: main_ondarisd_win.cpp.)
#include "app/shell/agente.h"
#include "app/shell/servico.h"
#include "app/shell/versao.h"

#include <csignal>
#include <clocale>
#include <iostream>

ONDARIS_REGISTRO_VERSAO(ONDARIS_VERSION);

namespace {

volatile std::sig_atomic_t ParadaPedida = 0;

extern "C" void AoSinal(int) {
    ParadaPedida = 1;
}

void InstalarSinais() {
    struct sigaction acao {};
    acao.sa_handler = AoSinal;
    sigemptyset(&acao.sa_mask);
    acao.sa_flags = 0;  // no SA_RESTART: a sleeping call wakes up
    sigaction(SIGTERM, &acao, nullptr);
    sigaction(SIGINT, &acao, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "");  // the user's date and time separators for the log

    ondaris::shell::TOpcoesServico opcoes;
    try {
        opcoes = ondaris::shell::LerArgumentos(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const ondaris::shell::ErroArgumento& e) {
        std::cerr << "ondarisd: " << e.what() << "\n" << ondaris::shell::TextoAjuda("ondarisd");
        return 2;
    }
    if (opcoes.Ajuda) {
        std::cout << ondaris::shell::TextoAjuda("ondarisd");
        return 0;
    }
    InstalarSinais();
    return ondaris::shell::ExecutarAgente(opcoes, [] { return ParadaPedida != 0; });
}
