#pragma once
// The headless agent as a program runs it, on Linux and on Windows alike:
// the log beside the executable, the global data module, status lines on
// standard output, and the cycle until a stop is asked for (or a single run
// with --once). What differs, how a stop is asked for (a signal, Ctrl+C, the
// service control manager), stays in each system's main file.
//
// Not an error: a data module that cannot be opened at start; its failure is
// logged and the cycle tries again in every run. Except with --once when the
// database client library itself is missing: nothing of that run could reach
// the database, so the program ends with the one entry that names it.
#include <functional>

#include "app/shell/servico.h"

namespace ondaris::shell {

// `parar` is asked between steps and while waiting; true ends the program
// after the step in progress. Returns the exit status (see ExecutarServico).
// A setup or housekeeping command of `opcoes` runs instead of the agent
// (ExecutarComandoInstalacao).
int ExecutarAgente(const TOpcoesServico& opcoes, std::function<bool()> parar);

}  // namespace ondaris::shell
