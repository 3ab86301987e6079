#pragma once
// The central server's store of commands: one SQLite file, or one PostgreSQL
// database that several server processes share (central/banco.h).
//
// Every command a store sends is kept once, under a position of the server's
// own numbering (ascending in arrival order), with the store that sent it,
// the position it had in that store's log ("ordem") and the store it is
// addressed to. Per store the server keeps how far it holds that store's log
// (the acknowledged position), the end of its log as the store last reported
// it, and what the store last asked for, so an operator can see a store that
// has stalled.
//
// How a block moves the acknowledged position:
// - to the highest "ordem" among its commands;
// - further, to the block's "ordemfinal" (the store left out log rows whose
//   rows were deleted since), but only as far as the store has shown its log
//   to reach: the end it last reported when it asked for its position, or
//   one of the block's own commands. Beyond that the bound is not taken:
//   a store that logged more after its report sends those positions again
//   with its next block, while a bound past anything the store has would
//   make the server ignore everything it sends afterwards;
// - never backwards.
// A block whose "ordeminicial" lies beyond the position after the
// acknowledged one would skip positions the server never received: it is
// refused (BlocoRecusado) and nothing of it is stored.
//
// Not errors: a command sent again (same store, same "ordem"), or one at or
// below the acknowledged position; it is ignored and changes nothing.
//
// The row a command names: its table (in upper case) and the key texts
// "atualvalorchave1"/"atualvalorchave2" of the sender's log, kept in
// columns of their own beside the command. A command without
// "atualvalorchave1" names no row known here.
//
// Which command stands when two stores change one row: the one the server
// ordered last, everywhere. So a store is not served a command for a row
// when a later command of its own for that row (a higher position) is
// already held: that one supersedes it, and the other stores get it after
// the first. Commands passed over simply do not appear in the block;
// "ultimaordem" counts only what will be served, so the store's position
// moves on. The agent does its part for changes the server does not hold
// yet (sync/receber.h). What a store is served is decided in one place,
// central/distribuicao.h, over a window of the stored commands kept in
// memory and shared by every store's requests; the database is only read
// for what was committed since, or lies before the window.
//
// Conflicts: a command that a store did not apply because a later change of
// its own to the same row stands. The server records those it passes over
// itself, and those the agent set aside, which it recognises when the
// store's own change arrives: a command for that row from another store
// that the store had already been served, after it had reported its log to
// reach that change (obterindiceenvio, asked before receiving). The total
// and the latest kLimiteConflitos are kept.
//
// Thread-safe: every call runs under one lock, held only for the database
// work and the window's (central/distribuicao.h); answers are copied out, so callers build and send them unlocked.
// A block is stored in one transaction with prepared statements. Nothing
// another process would need is kept here: processes sharing a PostgreSQL
// database exclude each other with its locks, taken in Gravar (positions)
// and per store (its requests one at a time).
//
// Commands every store has received can be removed, when the operator asks
// (Purgar); never by the server on its own.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "protocolo/json.h"

namespace ondaris::central {

class Conexao;
class JanelaComandos;
struct ComandoLido;

class ErroArmazem : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A block that contradicts what the server holds for the store; nothing of
// it was stored. The text says why.
class BlocoRecusado : public ErroArmazem {
public:
    using ErroArmazem::ErroArmazem;
};

// The row a command names (see above; the rule is protocolo/linha.h's, the
// agent's too).
struct LinhaComando {
    std::string Tabela;                 // upper case
    std::optional<std::string> Chave1;  // nothing: the command names no row known here
    std::optional<std::string> Chave2;
};

// The row named by a command object ("tabela", "atualvalorchave1",
// "atualvalorchave2" in their text forms).
LinhaComando LinhaDoComando(const protocolo::TValorJSON& comando);

// A command as it arrived, already validated.
struct ComandoRecebido {
    std::int64_t Ordem = 0;       // position in the sending store's log, > 0
    std::int32_t Destino = 0;     // "codigolojadestino": a store code, or 0 for every store
    std::string Json;             // the command object, compact
    LinhaComando Linha;
};

// A block as it arrived, already validated: commands in strictly ascending
// "ordem", within the bounds when there are bounds.
struct BlocoRecebido {
    std::int32_t Loja = 0;
    std::vector<ComandoRecebido> Comandos;
    std::optional<std::int64_t> OrdemInicial;  // both or neither
    std::optional<std::int64_t> OrdemFinal;
};

struct ComandoArmazenado {
    std::int64_t Posicao = 0;     // the server's numbering
    std::int32_t LojaOrigem = 0;
    std::string Json;             // as served: compact, its "ordem" is Posicao
};

struct ResultadoGravacao {
    int Aceitos = 0;
    int Ignorados = 0;
    std::int64_t PosicaoConfirmada = 0;
};

struct BlocoParaLoja {
    std::vector<ComandoArmazenado> Comandos;
    std::int64_t UltimaPosicao = 0;  // the last position waiting for the store; 0 when none
};

struct EstadoLoja {
    std::int32_t Loja = 0;
    std::int64_t PosicaoConfirmada = 0;   // how far the server holds the store's log
    std::int64_t PosicaoRecebida = 0;     // the position the store last asked to receive after
    std::int64_t ComandosAguardando = 0;  // commands addressed to it beyond that position
    std::string UltimoPedido;             // UTC time of its last request, ISO 8601; empty if never
    std::optional<std::int64_t> UltimoMovimentoLoja;  // its log's end as it last reported it
    // UTC time since which the store has reported more than the server holds
    // while the acknowledged position has not moved; empty when it is not so.
    std::string EnvioParadoDesde;
    // UTC time since which the store has been served commands without its
    // received position moving on (it asks again from the same position);
    // empty when it is not so.
    std::string RecebimentoParadoDesde;
    // The operator admits this store without credentials (its agent cannot
    // send them). Filled where credentials are kept; false until then.
    bool SemCredencial = false;
};

// A command a store did not apply because a later change of its own to the
// same row stands.
struct Conflito {
    std::int32_t Loja = 0;                // the store that did not apply it
    std::int64_t PosicaoPreterida = 0;    // the command passed over, in the server's numbering
    std::int32_t LojaPreterida = 0;       // the store it came from
    std::int64_t PosicaoVencedora = 0;    // the store's own command that stands
    std::string Tabela;
    std::optional<std::string> Chave1, Chave2;
    std::string Quando;                   // UTC, ISO 8601
    // The agent set it aside for its own change (recognised when that
    // change arrived), rather than the server passing it over.
    bool PostoDeLado = false;
};

struct ConflitosRegistrados {
    std::int64_t Total = 0;
    std::vector<Conflito> Recentes;  // newest first, at most kLimiteConflitos
};

inline constexpr int kLimiteConflitos = 100;

// What Purgar removed: every command at or below `AtePosicao`, the lowest
// position any known store has received up to (its last request), or had
// received when it reported a change of its own it has not sent yet (the
// commands the set-aside conflicts are found among). A store that has never
// asked to receive holds everything back. Positions are never handed out
// again; the conflicts already listed stay as they are.
struct ResultadoPurga {
    std::int64_t Removidos = 0;
    std::int64_t AtePosicao = 0;           // 0 when there is nothing every store has received
    std::vector<std::int32_t> Atrasadas;   // the stores that hold the bound there
};

// What went wrong per store, for the operator's page: refusals of its
// requests, and the conflicts counted against it (it did not apply a
// command) by kind. Kept apart from the store's positions; never pruned.
struct OcorrenciasLoja {
    std::int32_t Loja = 0;            // 0: refusals for a code no store has used
    std::int64_t Recusas = 0;
    std::string UltimaRecusa;         // its text, at most kTamanhoMotivoRecusa bytes
    std::string UltimaRecusaQuando;   // UTC, ISO 8601; empty when none
    std::int64_t Conflitos = 0;       // passed over by the server
    std::int64_t PostosDeLado = 0;    // set aside by the store's agent
};

inline constexpr std::size_t kTamanhoMotivoRecusa = 400;

class Armazem {
public:
    // `banco`: a SQLite file, or a PostgreSQL URI (central/banco.h).
    explicit Armazem(const std::string& banco);
    ~Armazem();
    Armazem(const Armazem&) = delete;
    Armazem& operator=(const Armazem&) = delete;

    // Stores one block (see the rules above). Throws BlocoRecusado when the
    // block contradicts what the server holds, ErroArmazem on a SQLite
    // failure of the database; either way nothing is stored.
    ResultadoGravacao Gravar(const BlocoRecebido& bloco);

    // A store asks how far the server holds its log, telling the end of its
    // own log: recorded, and the acknowledged position returned.
    std::int64_t RegistrarIndice(std::int32_t loja, std::int64_t ultimoMovimentoLoja);

    // A store asks for the commands addressed to it after `depoisDe`:
    // recorded, and at most `limite` of them returned.
    BlocoParaLoja Receber(std::int32_t loja, std::int64_t depoisDe, int limite);

    std::vector<EstadoLoja> Estado();
    ConflitosRegistrados Conflitos();

    // Removes the commands every store has received (see ResultadoPurga).
    ResultadoPurga Purgar();
    // A request of store `loja` (0 when it named none) was refused with
    // `motivo`. Counted for that store when the server knows it, else
    // under 0, so that made-up codes cannot grow the list of stores.
    void RegistrarRecusa(std::int32_t loja, const std::string& motivo);
    std::vector<OcorrenciasLoja> Ocorrencias();

    // Only for tests that drive time: where every recorded time comes
    // from (the system clock by default).
    void DefinirRelogio(std::function<std::chrono::system_clock::time_point()> relogio);

    // Only for the tests that show what the rule prevents: false serves
    // every command, superseded or not. Nothing a store sends reaches it.
    void DefinirPrecedenciaDaLoja(bool ligada);

private:
    void Executar(const std::string& sql);
    // True when the column was missing and has been added.
    bool GarantirColuna(const char* tabela, const char* coluna, const std::string& tipo);
    // Fills the row columns of commands stored before they existed.
    void PreencherLinhas();
    void RegistrarConflito(const Conflito& c);
    // The commands of other stores for `linha` that `loja` was served after
    // `desde` and up to `ate`, which it set aside for its own command for
    // that row, now held at `posicao`.
    void ConflitosDoEnvio(std::int32_t loja, std::int64_t desde, std::int64_t ate, std::int64_t posicao,
                          const LinhaComando& linha);
    void GarantirLoja(std::int32_t loja);
    std::int64_t LerPosicaoConfirmada(std::int32_t loja);

    void ContarConflito(const Conflito& c);
    std::string Agora() const;
    // The window (central/distribuicao.h) brought up to what the database
    // holds now, from `depoisDe` on.
    JanelaComandos& JanelaAtualizada(std::int64_t depoisDe);
    // The stored commands with positions in (depoisDe, ate], ascending.
    std::vector<ComandoLido> LerComandos(std::int64_t depoisDe, std::int64_t ate);

    std::mutex Mutex_;
    std::unique_ptr<Conexao> Banco_;
    bool Precedencia_ = true;
    std::function<std::chrono::system_clock::time_point()> Relogio_;
    std::unique_ptr<JanelaComandos> Janela_;
};

}  // namespace ondaris::central
