#pragma once
// Named points where a fault test may stop the agent dead (as a power cut or
// a killed process would), to prove that every instant between two steps
// leaves the store database consistent. Production never installs a hook, so
// PontoFalha costs one load and a branch; only the test build of the
// headless agent (ondarisd_falhas) installs one.
#include <string_view>

namespace ondaris::db {

using TGanchoFalha = void (*)(std::string_view ponto);

// Installs the hook (null removes it). Call before any work starts.
void DefinirGanchoFalha(TGanchoFalha gancho) noexcept;

// Calls the installed hook with the point's name; does nothing without one.
void PontoFalha(std::string_view ponto);

}  // namespace ondaris::db
