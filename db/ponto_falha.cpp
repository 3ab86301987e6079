#include "db/ponto_falha.h"

#include <atomic>

namespace ondaris::db {

namespace {
std::atomic<TGanchoFalha> gancho{nullptr};
}

void DefinirGanchoFalha(TGanchoFalha g) noexcept { gancho.store(g); }

void PontoFalha(std::string_view ponto) {
    if (const TGanchoFalha g = gancho.load(std::memory_order_relaxed)) g(ponto);
}

}  // namespace ondaris::db
