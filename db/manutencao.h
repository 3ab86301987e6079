#pragma once
// Looking after a store database's replication: which version of our
// objects it holds, what its catalogue says of a table (columns, key,
// logging trigger, grants), installing and removing logging triggers,
// deleting log rows the central server already holds, turning a copy of a
// store's database into another store, and logging a table's existing rows
// for their first sending.
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
#include "db/catalogo.h"

namespace ondaris::db {

// The version of the replication objects this program expects. The objects
// script creates PROC_VERSAO_REPLICACAO returning it; version 1 is the
// first set of objects, which had no such procedure.
inline constexpr int kVersaoObjetosReplicacao = 4;

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
    // order: the catalogue query the agent itself runs, mapped the same way
    // (db/catalogo.h).
    std::vector<TCampoCatalogo> Campos(const std::string& tabela, bool somenteChave);
    // The primary-key columns in column order, with what the log needs to
    // know of their types.
    std::vector<TColunaChave> ColunasChave(const std::string& tabela);
    // The primary-key columns in the key's own order (its index's), the
    // order in which the key's index can walk the rows.
    std::vector<std::string> OrdemDaChave(const std::string& tabela);

    std::optional<TGatilhoExistente> Gatilho(const std::string& nome);
    // Triggers of the table other than `exceto` that write to the log
    // (they depend on the logging procedure or on LOG_REPLICACAO): a second
    // one would log every change twice.
    std::vector<std::string> OutrosGatilhosDeRegistro(const std::string& tabela, const std::string& exceto);
    // The trigger may run the logging procedure.
    bool GatilhoPodeRegistrar(const std::string& nome);

    // Every row of a read in the catalogue's transaction, `textos` bound
    // to its markers in order.
    std::vector<std::vector<Valor>> Linhas(const std::string& sql, const std::vector<std::string>& textos = {});

private:
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

// ---- a new store from a copy of another store's database

// Store codes are whole numbers from 1 to this.
inline constexpr std::int64_t kMaiorCodigoLoja = 2147483647;

// The settings row the agent uses: the first in CODIGO order.
struct TConfiguracaoLoja {
    std::int32_t Codigo = 0;            // CODIGO, the row's key
    std::int32_t CodigoLoja = 0;
    std::string LinkCentral;
    std::int64_t UltimoRecebimento = 0;
};

// The settings row, or nothing when RPL_CONFIGURACOES is empty.
std::optional<TConfiguracaoLoja> LerConfiguracaoLoja(Conexao& conexao);

// Why `novo` cannot become the code of the store whose settings name
// `anterior`, or nothing when it can: store codes are whole numbers from 1
// to 2147483647, and the copy must become another store.
std::optional<std::string> MotivoRecusaNovaLoja(std::int64_t novo, std::int32_t anterior);

// A column whose name speaks of a store (it contains LOJA) and that holds
// the previous store's code in some rows.
struct TLinhasDeLoja {
    std::string Tabela;
    std::string Coluna;
    bool Replicada = false;  // the table has its logging trigger
    std::int64_t Linhas = 0;
    bool operator==(const TLinhasDeLoja&) const = default;
};

struct TNovaLoja {
    std::int32_t CodigoAnterior = 0;
    std::int32_t CodigoNovo = 0;
    std::int64_t PosicaoRecebida = 0;  // ULTIMORECEBIMENTO, kept as the copy had it
    std::int64_t LinhasLogApagadas = 0;
    std::int64_t ReservasApagadas = 0;
    std::vector<TLinhasDeLoja> LinhasDaLojaAnterior;  // by table, then column
};

// Turns a restored copy of a store's database into the store `novo`, in
// one transaction, committed: empties the change log (what the copy had
// not yet sent is the previous store's, which sends it itself) and the
// reservations, frees the hold the copy names (db/posse.h), and sets the store code of the settings row `lida`, which
// must still name the same store. The received position stays as the copy
// has it: the copy's rows are exactly the commands up to that position
// plus the previous store's own changes, so the new store must receive
// everything after it. Also counts, for the technician, the rows of every
// table (ours excepted) whose LOJA column holds the previous code.
// Throws ErroBanco, changing nothing, when MotivoRecusaNovaLoja refuses or
// the settings row changed since it was read; any failure changes nothing.
TNovaLoja TornarNovaLoja(Conexao& conexao, const TConfiguracaoLoja& lida, std::int32_t novo);

// ---- initial send

// Why the table's existing rows cannot be logged by EnvioInicial, or
// nothing when they can: it must exist and have its logging trigger as
// --instalar-gatilhos makes it (so that the log rows written here carry
// the keys exactly as the trigger writes them), and a key the log carries.
std::optional<std::string> MotivoRecusaEnvioInicial(TCatalogoLoja& catalogo, const std::string& tabela);

// Rows of the table now.
std::int64_t ContarLinhas(Conexao& conexao, const std::string& tabela);

struct TEnvioInicial {
    std::int64_t Registradas = 0;
    int Lotes = 0;  // transactions committed
};

// Logs every row of the table once, as an update ("U"), through the
// logging procedure with the row's key columns, as the logging trigger
// passes them: the agent then sends each row's content, and every other
// store writes it over its row of the same key or creates it. The rows are
// walked in key order, at most `porLote` per transaction, each committed
// before the next begins, so that no transaction holds the store's sending
// back for long; `aoLote`, when given, hears of every committed batch. The
// connection must not be the replication account's, whose changes the
// procedure does not log (ErroBanco, nothing logged). A table refused by
// MotivoRecusaEnvioInicial is a usage error.
TEnvioInicial RegistrarEnvioInicial(Conexao& conexao, const std::string& tabela, int porLote = kLinhasPorLote,
                                    const std::function<void(const TEnvioInicial&)>& aoLote = {});

}  // namespace ondaris::db
