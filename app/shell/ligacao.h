#pragma once
// The one place where both programs meet the database layer and the central
// server operations: the global data module and the operations the cycle
// calls. Owns both for the whole run.
//
// Until the engine's server operations are wired in here, every operation
// reports that it is unavailable by throwing, so each run becomes one log
// entry and nothing is written to the database or sent anywhere.
#include "sync/ciclo.h"

#include <memory>

namespace ondaris::shell {

class TLigacao {
public:
    TLigacao();
    ~TLigacao();
    TLigacao(const TLigacao&) = delete;
    TLigacao& operator=(const TLigacao&) = delete;

    // Creates the global data module (reads the settings file and opens the
    // store database). Throws on failure; the caller reports it and goes on.
    void CriarModuloDados();

    // The operations of the cycle; valid as long as this object.
    sync::IOperacoesCiclo& Operacoes();

private:
    std::unique_ptr<sync::IOperacoesCiclo> Operacoes_;
};

}  // namespace ondaris::shell
