#pragma once
// The headless agent: the same cycle, timers and log as the tray program,
// with the status texts written as lines to standard output instead of a
// window. Free of Qt.
//
// Not an error: an exception that escapes a run; it becomes one log entry
// (and a line on standard error) and the next run comes as usual. With
// --once the program runs one cycle at once and its exit status says whether
// that run raised, had a step refused or stopped short, or found sending held
// back by an open store transaction for longer than the warning time (see
// TCiclo).
//
// Besides synchronising, the program carries the technician's commands for
// setting up and looking after a store (app/shell/manutencao.h): the
// self-check, installing and removing logging triggers, log housekeeping,
// a new store from a copy of another's database, the initial send of a
// table's rows. One command per run.
#include "app/shell/registro.h"
#include "sync/ciclo.h"
#include "sync/janela.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

namespace ondaris::shell {

enum class TComandoServico {
    csSincronizar,       // the agent itself (with --once: one run)
    csVerificar,         // --verificar
    csInstalarGatilhos,  // --instalar-gatilhos [--somente-imprimir] [TABELA...]
    csRemoverGatilhos,   // --remover-gatilhos [TABELA...]
    csLimparLog,         // --limpar-log DIAS
    csNovaLoja,          // --nova-loja CODIGO
    csEnvioInicial,      // --envio-inicial [--confirmar] TABELA...
    csPorDeLadoRecebido, // --por-de-lado-recebido ORDEM
    csPorDeLadoEnvio,    // --por-de-lado-envio ORDEM
};

struct TOpcoesServico {
    TComandoServico Comando = TComandoServico::csSincronizar;
    bool UmaVez = false;           // --once
    bool Ajuda = false;            // --help
    bool SomenteImprimir = false;  // --somente-imprimir, with --instalar-gatilhos
    std::vector<std::string> Tabelas{};  // named tables, in upper case; none: every table
    int Dias = 0;                  // --limpar-log
    std::int32_t CodigoLoja = 0;   // --nova-loja
    bool Confirmar = false;        // --confirmar, with --envio-inicial
    std::int64_t Ordem = 0;        // --por-de-lado-recebido, --por-de-lado-envio
    // Run by the Windows service control manager (--service): another
    // agent that finds the database held names it so.
    bool ComoServico = false;
};

// The most days --limpar-log accepts (a century).
inline constexpr int kMaximoDiasLimpeza = 36500;

// Thrown for an argument the program does not know, or a combination it
// does not take; the text says which, in Portuguese.
class ErroArgumento : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

TOpcoesServico LerArgumentos(const std::vector<std::string>& argumentos);
std::string TextoAjuda(const std::string& programa);

// Status window as text lines. The countdown is written once per pause (its
// first text), not every second.
class TJanelaTexto final : public sync::IJanelaStatus {
public:
    explicit TJanelaTexto(std::ostream& saida) : Saida_(saida) {}
    void StatusRecebimento(const std::string& texto) override;
    void StatusEnvio(const std::string& texto) override;
    void Cronometro(const std::string& texto) override;
    void ProcessarMensagens() override {}

private:
    std::ostream& Saida_;
    std::string UltimoCronometro_;
};

struct TAmbienteServico {
    sync::IOperacoesCiclo& Operacoes;
    sync::IJanelaStatus& Janela;                          // a TJanelaTexto in the program
    TRegistro& Registro;
    std::ostream& Erros;
    std::function<bool()> Parar;                          // a stop was asked for
    std::function<void(std::chrono::milliseconds)> Dormir;  // sleeps, may return early
};

// Runs the agent until Parar() (or one cycle with --once); returns the exit
// status: 0, or 1 when the single run of --once raised, was incomplete or
// found sending held back for long.
int ExecutarServico(const TOpcoesServico& opcoes, TAmbienteServico& ambiente);

}  // namespace ondaris::shell
