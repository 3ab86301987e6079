#include "app/shell/ligacao.h"

#include "db/udm.h"
#include "protocolo/regional.h"
#include "sync/operacoes.h"
#include "sync/servidor.h"


namespace ondaris::shell {

// The module exists from the start, unopened: a program whose opening
// failed still runs its cycle, and each run's failure reaches the log.
TLigacao::TLigacao() : DM_(std::make_unique<db::TDM>()) {}

TLigacao::~TLigacao() = default;

void TLigacao::CriarModuloDados() { DM_->DataModuleCreate(); }

std::unique_ptr<sync::IOperacoesCiclo> TLigacao::CriarOperacoes(sync::IJanelaStatus& janela) {
    sync::TContextoServidor contexto;
    contexto.Regional = protocolo::TConfiguracoesRegionais::DoLocale();
    auto operacoes = std::make_unique<sync::TOperacoesMotor>(*DM_, janela, contexto);
    if (!Programa_.empty()) operacoes->DefinirPrograma(Programa_);
    return operacoes;
}

}  // namespace ondaris::shell
