#include "app/shell/agente.h"

#include <algorithm>
#include <chrono>
#include <iostream>
#include <thread>

#include "app/shell/ligacao.h"
#include "app/shell/manutencao.h"
#include "app/shell/registro.h"
#include "db/erros.h"
#include "db/processo.h"

namespace ondaris::shell {

int ExecutarAgente(const TOpcoesServico& opcoes, std::function<bool()> parar) {
    // The technician's commands run once and end; they write no log entry.
    if (opcoes.Comando != TComandoServico::csSincronizar) return ExecutarComandoInstalacao(opcoes);
    TRegistro registro(PastaExecutavel());
    TLigacao ligacao;
    if (opcoes.ComoServico) ligacao.DefinirPrograma(db::NomePrograma() + " (serviço)");
    bool moduloCriado = true;
    bool semBibliotecaCliente = false;
    try {
        ligacao.CriarModuloDados();
    } catch (const std::exception& e) {
        moduloCriado = false;
        semBibliotecaCliente = dynamic_cast<const db::ErroBibliotecaCliente*>(&e) != nullptr;
        registro.DoSaveLog(e.what());
        std::cerr << "Falha: " << e.what() << std::endl;
    }
    // The run would only fail again the same way, with a second entry.
    if (opcoes.UmaVez && semBibliotecaCliente) return 1;

    TJanelaTexto janela(std::cout);
    const auto operacoes = ligacao.CriarOperacoes(janela);
    TAmbienteServico ambiente{
        *operacoes,
        janela,
        registro,
        std::cerr,
        parar,
        [&parar](std::chrono::milliseconds ms) {
            // Sleep in short slices so that a stop is seen promptly.
            const auto fim = std::chrono::steady_clock::now() + ms;
            while (!parar() && std::chrono::steady_clock::now() < fim) {
                std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
                    std::chrono::milliseconds(100), fim - std::chrono::steady_clock::now()));
            }
        }};
    int status = ExecutarServico(opcoes, ambiente);
    // Every run lets go of its connections as it ends; what start-up opened
    // and no run has closed yet goes here, its failure to the log.
    if (const auto falha = operacoes->LiberarConexoes()) {
        registro.DoSaveLog(*falha);
        if (opcoes.UmaVez) status = 1;
    }
    return (opcoes.UmaVez && !moduloCriado) ? 1 : status;
}

}  // namespace ondaris::shell
