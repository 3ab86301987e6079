#pragma once
// The hold on a store database: one agent at a time synchronises it.
//
// Two agents on one database (the tray program and the service, two copies,
// possibly on two machines) would both receive and apply the same blocks.
// So the row of RPL_POSSE (sql/replicacao.sql) names the agent that holds
// the database: each cycle claims it with one committed UPDATE that
// succeeds only when the row is free, already this agent's, or past its
// expiry by the database server's clock (the agents' clocks play no part),
// and so renews it; a clean stop frees it. A holder whose process is gone
// from this same machine (killed, crashed) is taken over at once instead of
// after the expiry. Nothing here keeps an attachment: each call runs one
// short transaction, committed before it returns, on a connection the
// caller opened.
//
// The holder also writes there what its two status panels showed at the
// end of its last cycle and its last failure, so that an agent refused the
// hold can show them.
//
// Not an error: the hold being another agent's (the answer says whose).
// A missing RPL_POSSE (objects older than version 4) is ErroBanco with what
// to do.
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "db/conexao.h"

namespace ondaris::db {

// How long a claim lasts without renewal: well beyond a cycle (two minutes
// of pause plus the run), so that a slow run is not taken over, and short
// enough that a database whose agent was killed on another machine is
// taken over within a few cycles.
inline constexpr std::chrono::seconds kValidadePosse{600};

// Who an agent is. `Chave` is its own, unique per running agent.
struct TIdentidadeAgente {
    std::string Chave;
    std::string Programa;  // "ondarisd", "Ondaris", "ondarisd (serviço)"
    std::string Maquina;
    std::int64_t Processo = 0;
};

// A new identity for an agent of this process: the machine, the process
// and a random key.
TIdentidadeAgente NovaIdentidade(std::string programa);

// The row as another agent reads it. Times are the database server's,
// as "DD/MM/YYYY HH:MM:SS".
struct TDetentorPosse {
    std::string Chave;
    std::string Programa;
    std::string Maquina;
    std::int64_t Processo = 0;
    std::string Desde;     // since when it holds the database
    std::string Validade;  // until when its last claim lasts
    bool Vencida = false;  // its claim has expired
    std::string PainelRecebimento, PainelEnvio;
    std::string Publicado;                  // when it wrote the panels ("" never)
    std::optional<std::string> UltimaFalha;  // its last failure, if any
    std::string MomentoFalha;
    // Its last cycle ended with that failure (written with the panels).
    bool FalhouNoUltimo = false;
};

// "ondarisd (serviço) na máquina LOJA-PC, processo 1234, desde 10/12/2026 19:40:00"
std::string DescricaoDetentor(const TDetentorPosse& d);

struct TResultadoPosse {
    // Nothing: the hold is this agent's now. Otherwise who holds it.
    std::optional<TDetentorPosse> Detentor;
    // The hold was taken over from another agent whose claim had expired:
    // who it was. (Not when its process had gone from this machine.)
    std::optional<TDetentorPosse> Anterior;
};

// Claims (or renews) the hold for `eu`, for `validade` from the server's
// now. `ativo` answers whether a process of this machine runs
// (db::ProcessoAtivo by default).
TResultadoPosse ReivindicarPosse(Conexao& conexao, const TIdentidadeAgente& eu,
                                 std::chrono::seconds validade = kValidadePosse,
                                 const std::function<bool(std::int64_t)>& ativo = {});

// Writes the holder's panels (and, when its cycle failed, the failure with
// the server's time). False when the hold is no longer `chave`'s (nothing
// written).
bool PublicarPosse(Conexao& conexao, const std::string& chave, const std::string& recebimento,
                   const std::string& envio, const std::optional<std::string>& falha);

// Frees the hold when it is `chave`'s; the panels stay for whoever reads
// them. False when it was not (nothing changed).
bool LiberarPosse(Conexao& conexao, const std::string& chave);

// The row as it stands (nothing when the table has no row).
std::optional<TDetentorPosse> LerPosse(Conexao& conexao);

}  // namespace ondaris::db
