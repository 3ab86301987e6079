#pragma once
// Looking after a store database's replication: which version of our
// objects it holds, what its catalogue says of a table (columns, key,
// logging trigger, grants), installing and removing logging triggers, and
// deleting log rows the central server already holds.
//
// Everything runs on a connection the caller opened: the self-check uses
// the replication account, the commands that change the database an
// administrator's login. Reads run in short read-only transactions of their
// own; every change commits in its own short transaction before the call
// returns, so nothing here holds a lock beyond one step.
//
// Not an error: a table, trigger or object that does not exist (the
// answers say so). Server refusals arrive as ErroBanco and its kinds.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "db/conexao.h"
#include "db/gatilhos.h"
#include "db/udm.h"

namespace ondaris::db {

// The version of the replication objects this program expects. The objects
// script creates PROC_VERSAO_REPLICACAO returning it; version 1 is the
// first set of objects, which had no such procedure.
inline constexpr int kVersaoObjetosReplicacao = 2;

// The script that creates or upgrades them, as the repository holds it.
inline constexpr const char* kScriptObjetos = "sql/replicacao.sql";

// The objects every store database needs, in the order a report names them.
inline constexpr const char* kObjetosReplicacao[] = {"RPL_CONFIGURACOES", "LOG_REPLICACAO", "GEN_LOG_REPLICACAO",
                                                     "PROC_REGISTRA_ALTERACAO", "PROC_RETORNA_INDICE"};

// A trigger as the catalogue holds it.
struct TGatilhoExistente {
    std::string Nome;
    std::string Tabela;
    std::string Corpo;  // its source from "AS", line ends and trailing blanks normalised
    bool Ativo = false;
    bool ComoGerado = false;  // AFTER INSERT OR UPDATE OR DELETE, active, position 100
};

// The body of a trigger as compared: CR LF as LF, no blanks at line ends
// or at the end.
std::string NormalizarCorpo(std::string_view corpo);

// Reads the catalogue and our objects. The connection must outlive it.
class TCatalogoLoja {
public:
    explicit TCatalogoLoja(Conexao& conexao);
    ~TCatalogoLoja();
    TCatalogoLoja(const TCatalogoLoja&) = delete;
    TCatalogoLoja& operator=(const TCatalogoLoja&) = delete;

    // Which of kObjetosReplicacao are missing.
    std::vector<std::string> ObjetosFaltando();
    // 0 when an object of kObjetosReplicacao is missing, 1 when all are
    // there without PROC_VERSAO_REPLICACAO, else the version it returns.
    int VersaoObjetos();

    // User tables (no views, no system or temporary tables), in name order.
    std::vector<std::string> Tabelas();
    bool TabelaExiste(const std::string& tabela);
    // Every non-computed column, or only the primary-key ones, in column
    // order: the catalogue query the agent itself runs (TDM).
    std::vector<TCampoCatalogo> Campos(const std::string& tabela, bool somenteChave);
    // The primary-key columns in column order, with what the log needs to
    // know of their types.
    std::vector<TColunaChave> ColunasChave(const std::string& tabela);

    std::optional<TGatilhoExistente> Gatilho(const std::string& nome);
    // Triggers of the table other than `exceto` that write to the log
    // (they depend on the logging procedure or on LOG_REPLICACAO): a second
    // one would log every change twice.
    std::vector<std::string> OutrosGatilhosDeRegistro(const std::string& tabela, const std::string& exceto);
    // The trigger may run the logging procedure.
    bool GatilhoPodeRegistrar(const std::string& nome);

private:
    std::vector<std::vector<Valor>> Linhas(const std::string& sql, const std::vector<std::string>& textos = {});
    unsigned ConjuntoDoLog();

    Conexao& conexao_;
    Transacao transacao_;
    std::optional<unsigned> conjuntoDoLog_;
};

// Creates (or replaces) the trigger and grants its rights, in one
// transaction, committed.
void InstalarGatilho(Conexao& conexao, const TGatilhoRegistro& gatilho);
// Drops the table's logging trigger and revokes the replication account's
// rights on the table, in one transaction, committed. False when there was
// no trigger of that name (the rights are revoked all the same).
bool RemoverGatilho(Conexao& conexao, const std::string& tabela);

// ---- log housekeeping

inline constexpr int kLinhasPorLote = 5000;

struct TLimpezaLog {
    std::int64_t Apagadas = 0;
    int Lotes = 0;                    // transactions committed
    std::int64_t MaiorOrdemApagada = 0;  // 0 when nothing was deleted
};

// Deletes LOG_REPLICACAO rows with ORDEM at or below `ateOrdem` (the
// position the central server holds) whose OCORRENCIA_LOCAL is more than
// `dias` days before the server's current time, skipping rows of a
// transaction that still has a reservation in RPL_RESERVAS (the block
// procedure tells an ended transaction by its rows). At most `porLote` rows
// per transaction, each committed before the next begins, lowest positions
// first; `aoLote`, when given, hears of every committed batch.
// Refuses (ErroBanco, nothing deleted) an `ateOrdem` beyond every position
// the log's generator has handed out: the store's log and the central
// server disagree (a restored backup, another store's code), and what the
// server claims to hold is not this log.
TLimpezaLog LimparLogReplicacao(Conexao& conexao, std::int64_t ateOrdem, int dias, int porLote = kLinhasPorLote,
                                const std::function<void(const TLimpezaLog&)>& aoLote = {});

}  // namespace ondaris::db
