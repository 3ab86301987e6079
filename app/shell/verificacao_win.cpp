// The regional settings the agent runs with on Windows: those of the user's
// profile (for the service, those of the system accounts), which always
// exist.
#include "app/shell/verificacao.h"

namespace ondaris::shell {

TRegionalEmVigor TRegionalEmVigor::DoAmbiente() {
    TRegionalEmVigor r;
    r.NomeLocale = "Windows";
    r.Existe = true;
    r.Regional = protocolo::TConfiguracoesRegionais::DoLocale();
    return r;
}

}  // namespace ondaris::shell
