#pragma once
// Telling sending held back by a store transaction that logged changes and
// is still open. Such a transaction must hold the block limit (its own
// changes are still invisible, and the log must not run past them), so the
// changes committed after it wait; when that lasts, someone has to close a
// terminal, a report or a tool left in the middle of a change, and the
// operator has to know which.
//
// How long it has lasted is read from the store database, not kept by the
// agent: the holder's reservation records when it was made, just before the
// transaction's first logged change (server time), and the block
// procedure's answer carries the server's time of the same call. So every
// program that asks sees the same: the tray program, the service, and a
// single run (`--once`) started by a timer, which would never see a hold
// that began before it started. Sending counts as held for longer than the
// warning time ("SegundosEnvioRetido" of "korvin.ini", 600 s by default)
// when committed changes wait behind a holder whose reservation is older
// than that by the server's clock; it is held since the reservation at the
// earliest, and that is the time told.
//
// How often the log entry is repeated is the cycle's business
// (sync/ciclo.h); what is told is decided here, from one answer alone.
//
// Not an error: a database whose block procedure does not report holders
// (objects of an earlier script), or a reservation that does not say when
// it was made (left by an earlier script's trigger): nothing is told then.
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "db/udm.h"
#include "sync/ciclo.h"

namespace ondaris::sync {

// "DD/MM/YYYY HH:mm:ss" of a database timestamp.
std::string TextoMomento(const protocolo::DataHora& momento);

// From `de` to `ate`, both read from the same clock; negative when `ate`
// comes first.
std::chrono::milliseconds Intervalo(const protocolo::DataHora& de, const protocolo::DataHora& ate);

// The panel's text and the log entry's for sending held below `limite` by
// `quem`, since its reservation (quem.Momento, which must be known).
std::string TextoPainelEnvioRetido(const db::TRetentorEnvio& quem);
std::string TextoRegistroEnvioRetido(std::int64_t limite, const db::TRetentorEnvio& quem);

// How long the block procedure's answer says sending has been held, by the
// server's clock: from the holder's reservation to the answer. Nothing when
// it is not held, or when either time is unknown.
std::optional<std::chrono::milliseconds> TempoEnvioRetido(const db::TIndicesEnvio& indices);

// The answer for the last block of a run's send loop: sending held for
// longer than `aviso`, told (the panel's text and the log entry), or
// nothing.
std::optional<TEnvioRetido> AvaliarEnvioRetido(const db::TIndicesEnvio& indices, std::chrono::seconds aviso);

}  // namespace ondaris::sync
