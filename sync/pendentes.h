#pragma once
// This store's own changes that the central server has not yet ordered:
// the rows named by the change log above the position the server
// acknowledged for this store ("ultimaordemenviada"). Receiving consults
// it before each command (sync/receber.h): a command for one of these rows
// is set aside, because the store's own change will be ordered after it by
// the server and so must be the one that stands, here and everywhere.
//
// A row is named as protocolo/linha.h says, by its table and the two key
// texts of the log (ATUALVALORCHAVE1/2), read through the same conversions
// that sending uses, so that they are the very texts another store's
// "atualvalorchave1" and "atualvalorchave2" carry for the same row, and the
// texts the central server sees.
//
// Cost: the log above the acknowledged position is read once per run (one
// query, however many blocks follow); afterwards only what may have been
// committed since is read again (Atualizar: one query per block and one per
// commit that wrote rows), never a query per command.
// What may have been committed since: every position above the highest one
// that no open store transaction could still fill when the set was read
// (PROC_RETORNA_INDICE's limit), so a change logged early and committed
// late is not missed.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "db/modulo_operacao.h"
#include "db/udm.h"
#include "protocolo/linha.h"
#include "protocolo/regional.h"

namespace ondaris::sync {


class TAlteracoesPendentes {
public:
    // Reads the log rows above `confirmada`; when this set was already
    // read for that position, only what may have been committed since
    // (Atualizar). The limit is asked through the global data module, the
    // rows are read in the module's read-write transaction (read committed;
    // started if it is not active).
    void Preparar(db::TDM& DM, db::TModuloOperacao& modulo, std::int64_t confirmada,
                  const protocolo::TConfiguracoesRegionais& regional);
    // Whether the row of that key (TIdentidadeLinha::Chave) is among them.
    bool Contem(const std::string& chave) const { return chaves_.count(chave) != 0; }

    // Reads again the log rows that may have been committed since the set
    // was read and adds them; returns the keys (TIdentidadeLinha::Chave)
    // that it added. One query; when it keeps bringing back many rows (a
    // store transaction held open for long), the limit is asked again so
    // that later calls read less.
    std::vector<std::string> Atualizar(db::TDM& DM, db::TModuloOperacao& modulo,
                                       const protocolo::TConfiguracoesRegionais& regional);

private:
    // Forgets everything, for Preparar to read the log again.
    void Esquecer();
    // Adds the rows above `desde`; the keys that were new go to `novas`
    // when given. Returns how many rows were read.
    std::size_t Ler(db::TModuloOperacao& modulo, std::int64_t desde, const protocolo::TConfiguracoesRegionais& regional,
                    std::vector<std::string>* novas);
    std::int64_t Limite(db::TDM& DM) const;

    bool preparado_ = false;
    std::int64_t confirmada_ = 0;
    // Positions up to here were all visible when last read: no open
    // transaction could still commit one of them.
    std::int64_t assentada_ = 0;
    bool longa_ = false;  // the last reading brought back many rows
    std::unordered_set<std::string> chaves_;
};

}  // namespace ondaris::sync
