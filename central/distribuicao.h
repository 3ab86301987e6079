#pragma once
// Serving the stored commands to the stores: which commands a store is
// served, and a window of commands kept in memory so that many stores
// asking for the same positions share the work.
//
// What a store is served after a position (the rule, here and nowhere else):
// - the commands addressed to it: "codigolojadestino" names it, or names no
//   store (0) and the command came from another store;
// - except those a later command of its own for the same row supersedes
//   (a higher position, same table and key texts; see central/armazem.h
//   for why). Those are passed over: they are not served, "ultimaordem"
//   does not count them, and the ones walked past on the way to a served
//   command are conflicts.
// A block holds at most `limite` commands in ascending position; the walk
// stops when it is full. With nothing to serve, the walk still goes to the
// store's own newest command, so that the commands passed over before it
// are recorded.
//
// The window: every command stored with a position in (Desde, Ate], read
// once from the store of commands and kept as it is served (compact JSON
// whose "ordem" carries the position), with its origin, destination and
// row, and per row and store the highest position of that store's commands.
// Stored commands never change and positions are handed out in commit
// order, so a range read once stays true: the window grows at its end with
// what was committed since, and at its start when a store asks from before
// it. Nothing in it is needed by another process over the same database.
// Commands removed from the database (the oldest ones, once every store has
// received them) are dropped from it before it serves again; so, from time
// to time, are the ones every store has received (a store that asks for
// them again has them read once more), so that it holds only what the
// stores have not all received yet.
//
// Not thread-safe: the caller (Armazem) holds its lock.
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "central/armazem.h"

namespace ondaris::central {

// The stored command `json` as it is served: its first top-level member
// "ordem" carries `posicao`; every other byte as stored.
void TextoParaLoja(std::string& saida, std::string_view json, std::int64_t posicao);

// A command as the store of commands holds it.
struct ComandoLido {
    std::int64_t Posicao = 0;
    std::int32_t LojaOrigem = 0;
    std::int32_t Destino = 0;
    std::string Json;  // as stored
    LinhaComando Linha;
};

// What one request for a store yields: the block, and the commands passed
// over on the way.
struct SelecaoParaLoja {
    BlocoParaLoja Bloco;
    std::vector<Conflito> Preteridos;  // "Quando" left empty
};

class JanelaComandos {
public:
    // Nothing read yet: Iniciar comes first, with the highest position
    // committed at the time (every position up to it is committed).
    bool Iniciada() const { return Iniciada_; }
    void Iniciar(std::int64_t ultimaPosicao);
    std::int64_t Desde() const { return Desde_; }
    std::int64_t Ate() const { return Ate_; }

    // Commands read after Ate(), ascending, as far as the database had them
    // committed: Ate() moves to the last one.
    void AcrescentarNoFim(std::vector<ComandoLido> comandos);
    // Every command stored in (desde, Desde()], ascending: Desde() becomes
    // `desde`.
    void AcrescentarNoInicio(std::int64_t desde, std::vector<ComandoLido> comandos);
    // Forgets the commands below `primeira` (the database holds none any
    // more, or every store has received them): Desde() moves up to it.
    void DescartarAntes(std::int64_t primeira);
    // Commands added since the count was last started again.
    std::int64_t Acrescentados() const { return Acrescentados_; }
    void RecomecarContagem() { Acrescentados_ = 0; }

    // The next block for `loja` after `depoisDe`, which must lie in the
    // window (Desde() <= depoisDe). `precedencia` false serves superseded
    // commands too (tests only).
    SelecaoParaLoja Selecionar(std::int32_t loja, std::int64_t depoisDe, int limite, bool precedencia) const;
    // How many commands `loja` will be served after `depoisDe` (>= Desde()).
    std::int64_t Aguardando(std::int32_t loja, std::int64_t depoisDe, bool precedencia) const;

private:
    static constexpr std::uint32_t kSemLinha = 0xFFFFFFFFu;
    struct Item {
        std::int64_t Posicao;
        std::int32_t LojaOrigem;
        std::int32_t Destino;
        std::uint32_t Linha;  // index in Linhas_, kSemLinha for none
        std::string Texto;    // as served
    };
    enum class Para { Ninguem, Servir, Preterir };

    Item Preparar(ComandoLido& c);
    void Indexar(const Item& item);
    void Reindexar();
    // The rule above, for one command and one store; `vencedora` gets the
    // superseding position.
    Para Destinar(const Item& item, std::int32_t loja, bool precedencia, std::int64_t& vencedora) const;
    std::deque<Item>::const_iterator Primeiro(std::int64_t depoisDe) const;

    bool Iniciada_ = false;
    std::int64_t Desde_ = 0, Ate_ = 0;
    std::int64_t Acrescentados_ = 0;
    std::deque<Item> Itens_;  // ascending positions
    std::vector<LinhaComando> Linhas_;
    std::unordered_map<std::string, std::uint32_t> IdDaLinha_;
    // (row << 32 | store) -> highest position of that store's commands for
    // the row; and per store its newest command.
    std::unordered_map<std::uint64_t, std::int64_t> UltimaDaLojaNaLinha_;
    std::unordered_map<std::int32_t, std::int64_t> UltimaDaLoja_;
};

}  // namespace ondaris::central
