#pragma once
// Where the database layer tells what no caller can hear: a failure while a
// destructor closes a connection, a transaction or a statement, or inside a
// hook that must not change a statement's outcome. Such a failure cannot be
// raised, and it must still reach the same log as every other one.
//
// The program points it at its log (shell::TRegistro does so while it
// lives); until then, in tests and tools, each text goes to standard error.
// Any thread may write; the destination is called under a lock.
#include <functional>
#include <string>

namespace ondaris::db {

using TDestinoDiagnostico = std::function<void(const std::string&)>;

// Sets where the texts go (empty: standard error) and returns the
// destination set before, for its owner to put back.
TDestinoDiagnostico DefinirDestinoDiagnostico(TDestinoDiagnostico destino);

// Writes one text, a whole log entry ("Falha ao fechar ..."). Never throws:
// a destination that fails falls back to standard error.
void Diagnosticar(const std::string& texto) noexcept;

}  // namespace ondaris::db
