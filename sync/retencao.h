#pragma once
// Watching for sending held back by a store transaction that logged changes
// and is still open. Such a transaction must hold the block limit (its own
// changes are still invisible, and the log must not run past them), so the
// changes committed after it wait; when that lasts, someone has to close a
// terminal, a report or a tool left in the middle of a change, and the
// operator has to know which.
//
// TVigiaEnvioRetido is fed the block procedure's answer of every block sent
// (Observar) and asked after each run's send loop (Avaliar). Sending counts
// as held while the answers say so with one and the same limit; a limit
// that moved starts the count again, an answer that is not held ends it.
// Once held for longer than the warning time ("SegundosEnvioRetido" of
// "korvin.ini", 600 s by default), Avaliar gives the send panel's text,
// saying since when, and a log entry naming the transaction: the first at
// once, then at most one an hour while it stays held.
//
// Not an error: a database whose block procedure does not report holders
// (objects of an earlier script): nothing is ever held then.
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "db/udm.h"
#include "sync/ciclo.h"

namespace ondaris::sync {

// "DD/MM/YYYY HH:mm:ss" of a local time, or of a database timestamp.
std::string TextoMomento(std::chrono::system_clock::time_point momento);
std::string TextoMomento(const db::DataHora& momento);

// The panel's text and the log entry's for sending held since `desde` below
// `limite`, by `quem`.
std::string TextoPainelEnvioRetido(const std::string& desde, const db::TRetentorEnvio& quem);
std::string TextoRegistroEnvioRetido(const std::string& desde, std::int64_t limite, const db::TRetentorEnvio& quem);

class TVigiaEnvioRetido {
public:
    using TRelogio = std::function<std::chrono::system_clock::time_point()>;
    static constexpr std::chrono::hours kIntervaloRegistros{1};

    // `aviso`: how long sending may stay held before it is told.
    // `relogio`: the current time (default: the system clock).
    explicit TVigiaEnvioRetido(std::chrono::seconds aviso, TRelogio relogio = {});

    // The block procedure's answer for one block.
    void Observar(const db::TIndicesEnvio& indices);
    // After a run's send loop: nothing while sending is not held or not yet
    // held for longer than the warning time.
    std::optional<TEnvioRetido> Avaliar();

    std::chrono::seconds Aviso() const { return aviso_; }

private:
    std::chrono::seconds aviso_;
    TRelogio relogio_;
    std::optional<std::chrono::system_clock::time_point> desde_;
    std::int64_t limite_ = 0;
    db::TRetentorEnvio retentor_;
    std::optional<std::chrono::system_clock::time_point> ultimoRegistro_;
};

}  // namespace ondaris::sync
