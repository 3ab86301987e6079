#pragma once
// The statement builders: the SQL texts that a block needs for a table the
// agent does not know in advance (a select of the rows named by the log, an
// update-or-insert and a delete for received commands), and
// ComandoDaTabelaPronto, which names, builds, prepares and caches them in the
// block's per-operation module, and hands a new select back already bound
// to the block's log rows and open.
//
// Ownership: every statement belongs to the TModuloOperacao passed in and
// lives until that module is torn down; ComandoDaTabelaPronto hands out a
// reference into its cache. The catalogue look-ups run on the global data
// module's connection (TDM::Catalogo(), db/catalogo.h); the update-or-insert
// reads the structure list TDM::TBEstrutura.
//
// Names that reach SQL: a table name or a column name goes into a text only
// when it meets the identifier rule (IdentificadorValido, protocolo/texto.h).
// Anything else is refused before any text is built from it, so a hostile
// name from the central server or the log never reaches the database. A delete for a table without primary key
// is refused as well: a DELETE without WHERE would empty the table.
//
// Not an error: asking twice for the same table and kind in one block (the
// cached statement comes back as it is, even in another letter case).
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "db/consulta.h"
#include "db/erros.h"
#include "db/modulo_operacao.h"
#include "db/udm.h"

namespace ondaris::db {

// Kind of a table statement, in this order.
enum class TTipoSQL { tsUpdateInsert, tsDelete, tsSelect };

// A table's statement could not be built or prepared. Raised by
// ComandoDaTabelaPronto with the full error text; a name refused by the
// identifier rule or a table with nothing to build from raises it with
// Codigo() 0. A refusal of the server keeps its kind (ErroConexaoPerdida,
// ErroConflitoBloqueio or ErroBanco) and its codes.
class ErroPreparacao : public ErroBanco {
public:
    using ErroBanco::ErroBanco;
};

// Key columns the change log can carry (ATUALVALORCHAVE1 and 2): a table
// with a longer primary key is refused by every builder.
inline constexpr std::size_t kMaximoColunasChave = 2;

// Suffix of a statement's name by kind: "_UI", "_DEL", "_SEL".
const char* SufixoTipoSQL(TTipoSQL tipo);

// The three texts, pure functions of a table's name and its columns; each
// throws ErroPreparacao for a name or column that is not an identifier, or
// a key the change log cannot carry (more than kMaximoColunasChave columns).
//
// SELECT L.ORDEM, T.<every column>[, <inline blob>...] FROM <table> T
// INNER JOIN LOG_REPLICACAO L ON (<first key> = L.ATUALVALORCHAVE1) AND
// (<second key> = L.ATUALVALORCHAVE2) WHERE L.ORDEM BETWEEN :ORDEMINICIAL AND
// :ORDEMFINAL AND L.TABELA = '<table>' ORDER BY ORDEM. `campos`: the
// catalogue's columns of the table in column order (db/catalogo.h); none,
// or no key, is an error.
//
// A table with blob columns gets, after its own columns, one column per blob
// column in the same order: the blob's bytes as VARCHAR(n) CHARACTER SET
// OCTETS when it holds at most n bytes, NULL otherwise, so that a block
// reads short blobs with its rows instead of one call per blob. Only blobs
// whose stored bytes are what reading the blob gives come inline: binary
// blobs and text blobs in ISO8859_1 (the connection's), NONE or OCTETS;
// for the others (text in UTF8, say) the column is always NULL. n is
// kBytesBlobEmLinha, or less when the table's row leaves less room in the
// 64 KiB row message (0: every such column NULL).
std::string MontarSQLQuerySEL(std::string_view NomeTabela, const std::vector<TCampoCatalogo>& campos);

// The most bytes of a blob that come inline with the select of a block.
// Chosen by measurement: a longer inline column makes the server fetch
// fewer rows per round trip, whatever the blobs actually hold.
inline constexpr unsigned kBytesBlobEmLinha = 4096;

// The statement of a received command of kind `tipo` (update-or-insert or
// delete) for `NomeTabela`, each of `colunas` taking its value from the
// parameter of the same place in `parametros`:
//   UPDATE OR INSERT INTO <table>(<columns>) VALUES (:<parameters>)
//   DELETE FROM <table> WHERE <column> = :<parameter> [AND ...]
// The one text of a received command: MontarSQLQueryUI and MontarSQLQueryDEL
// name each parameter after its column, the receiver's batches name them
// per command of the batch. Throws ErroPreparacao for a name that is not an
// identifier or no column (a delete without a condition would empty the
// table), ErroUso for a select or for lists of different lengths.
std::string MontarComandoRecebido(TTipoSQL tipo, std::string_view NomeTabela, const std::vector<std::string>& colunas,
                                  const std::vector<std::string>& parametros);

// UPDATE OR INSERT INTO <table>(<columns>) VALUES (:<columns>): `colunas`
// from the structure list in its order (none is an error), `chave` the
// catalogue's primary-key columns (only their number matters here).
std::string MontarSQLQueryUI(std::string_view NomeTabela, const std::vector<std::string>& colunas,
                             const std::vector<std::string>& chave);

// DELETE FROM <table> WHERE <key> = :<key> [AND ...], `chave` the primary-key
// columns in column order; no key is an error (the delete would empty the
// table).
std::string MontarSQLQueryDEL(std::string_view NomeTabela, const std::vector<std::string>& chave);

// The statement of kind `TipoSQL` for `NomeTabela` from the block's cache
// ("TB" + table + suffix, compared without regard to case), built and
// prepared at its first request. A new select is opened on the log rows
// OrdemInicial..OrdemFinal in TransReplicacaoReadOnly; the other kinds run
// in TransReplicacaoReadWrite and ignore the bounds (a new update-or-insert
// starts that transaction when it is not active; a delete is prepared
// whether or not it is). A statement already cached is returned untouched:
// not prepared again, not given new bounds, not reopened.
//
// A failure raises ErroRotina (db/erros.h), the failure as it came kept as
// its cause, with the text (the routine's name in it is the one the log has
// always shown, and stays)
//   "Falha ao executar a rotina PrepararDataset: " CR LF
//   "Tabela: " + statement name CR LF
//   statement text + CR LF (only the CR LF when no text was built) CR LF
//   the failure's message
Consulta& ComandoDaTabelaPronto(TDM& DM, TModuloOperacao& DataModule, std::string_view NomeTabela, TTipoSQL TipoSQL,
                          std::int64_t OrdemInicial, std::int64_t OrdemFinal);

}  // namespace ondaris::db
