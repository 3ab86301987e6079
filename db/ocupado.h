#pragma once
// The "busy" hook: the shell may show a wait pointer while statements run.
// The database layer knows no user-interface library, so it only calls this
// hook: with true when the first of possibly nested statement calls starts,
// with false when the last one ends. No hook set is the normal case on a
// machine without a screen. All database work runs on one thread.
#include <functional>

namespace ondaris::db {

using GanchoOcupado = std::function<void(bool ocupado)>;

void DefinirGanchoOcupado(GanchoOcupado gancho);

// Marks one statement call from construction to destruction.
class MarcaOcupado {
public:
    MarcaOcupado();
    ~MarcaOcupado();
    MarcaOcupado(const MarcaOcupado&) = delete;
    MarcaOcupado& operator=(const MarcaOcupado&) = delete;
};

}  // namespace ondaris::db
