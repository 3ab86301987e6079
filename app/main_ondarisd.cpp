// ondarisd: the agent for store servers without a desktop. The same cycle
// and log as the tray program; status lines on standard output. SIGTERM and
// SIGINT end it after the step in progress. It also carries the
// technician's setup and housekeeping commands (see --help).
#include "app/shell/ligacao.h"
#include "app/shell/manutencao.h"
#include "app/shell/verificacao.h"
#include "app/shell/registro.h"
#include "app/shell/servico.h"
#include "app/shell/versao.h"

#include <csignal>
#include <clocale>
#include <iostream>
#include <thread>

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

    using ondaris::shell::TComandoServico;
    if (opcoes.Comando == TComandoServico::csVerificar) {
        ondaris::shell::TOpcoesVerificacao verificacao;
        verificacao.Regional = ondaris::shell::TRegionalEmVigor::DoAmbiente();
        return ondaris::shell::ExecutarVerificacao(verificacao, std::cout);
    }
    if (opcoes.Comando != TComandoServico::csSincronizar) {
        ondaris::shell::TAmbienteManutencao manutencao{
            {}, ondaris::shell::AdministradorDoAmbiente(), {}, std::cout, std::cerr};
        manutencao.Contexto.Regional = ondaris::db::TConfiguracoesRegionais::DoLocale();
        switch (opcoes.Comando) {
            case TComandoServico::csInstalarGatilhos:
                return ondaris::shell::InstalarGatilhos(manutencao, opcoes.Tabelas, opcoes.SomenteImprimir);
            case TComandoServico::csRemoverGatilhos:
                return ondaris::shell::RemoverGatilhos(manutencao, opcoes.Tabelas);
            case TComandoServico::csLimparLog:
                return ondaris::shell::LimparLog(manutencao, opcoes.Dias);
            default:
                break;
        }
    }
    InstalarSinais();

    ondaris::shell::TRegistro registro(ondaris::shell::PastaExecutavel());
    ondaris::shell::TLigacao ligacao;
    bool moduloCriado = true;
    try {
        ligacao.CriarModuloDados();
    } catch (const std::exception& e) {
        moduloCriado = false;
        registro.DoSaveLog(e.what());
        std::cerr << "Falha: " << e.what() << std::endl;
    }

    ondaris::shell::TJanelaTexto janela(std::cout);
    const auto operacoes = ligacao.CriarOperacoes(janela);
    ondaris::shell::TAmbienteServico ambiente{
        *operacoes,
        janela,
        registro,
        std::cerr,
        [] { return ParadaPedida != 0; },
        [](std::chrono::milliseconds ms) {
            // Sleep in short slices so that a stop is seen promptly.
            const auto fim = std::chrono::steady_clock::now() + ms;
            while (ParadaPedida == 0 && std::chrono::steady_clock::now() < fim) {
                std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
                    std::chrono::milliseconds(100), fim - std::chrono::steady_clock::now()));
            }
        }};
    const int status = ondaris::shell::ExecutarServico(opcoes, ambiente);
    return (opcoes.UmaVez && !moduloCriado) ? 1 : status;
}
