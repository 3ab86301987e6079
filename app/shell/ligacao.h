#pragma once
// The one place where both programs meet the database layer and the central
// server operations: the global data module and the operations the cycle
// calls. Owns the data module for the whole run.
#include "sync/ciclo.h"
#include "sync/janela.h"

#include <memory>
#include <string>

namespace ondaris::db {
class TDM;
}

namespace ondaris::shell {

class TLigacao {
public:
    TLigacao();
    ~TLigacao();
    TLigacao(const TLigacao&) = delete;
    TLigacao& operator=(const TLigacao&) = delete;

    // Creates the global data module, which reads "korvin.ini" beside the
    // executable and opens the store database. The module exists afterwards
    // even when opening failed; the failure is then thrown for the caller to
    // report, and start-up goes on.
    void CriarModuloDados();

    // The cycle's operations, showing their progress on `janela`; valid as
    // long as this object and the window.
    std::unique_ptr<sync::IOperacoesCiclo> CriarOperacoes(sync::IJanelaStatus& janela);

    // How the agent is named to another agent that finds the store database
    // held (db/posse.h); by default the executable's name. Takes effect for
    // the operations created afterwards.
    void DefinirPrograma(std::string programa) { Programa_ = std::move(programa); }

private:
    std::unique_ptr<db::TDM> DM_;
    std::string Programa_;
};

}  // namespace ondaris::shell
