#pragma once
// The headless agent: the same cycle, timers and log as the tray program,
// with the status texts written as lines to standard output instead of a
// window. Free of Qt.
//
// Not an error: an exception that escapes a run; it becomes one log entry
// (and a line on standard error) and the next run comes as usual. With
// --once the program runs one cycle at once and its exit status says whether
// that run raised or had a step refused or stopped short (see TCiclo).
#include "app/shell/registro.h"
#include "sync/ciclo.h"
#include "sync/janela.h"

#include <chrono>
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

namespace ondaris::shell {

struct TOpcoesServico {
    bool UmaVez = false;  // --once
    bool Ajuda = false;   // --help
};

// Thrown for an argument the program does not know; the text says which.
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
// status: 0, or 1 when the single run of --once raised or was incomplete.
int ExecutarServico(const TOpcoesServico& opcoes, TAmbienteServico& ambiente);

}  // namespace ondaris::shell
