#pragma once
// The logging trigger of a store table: the one place that knows how a
// table's changes reach LOG_REPLICACAO. A pure function of the table's name
// and its primary-key columns (in column order, with their types); the
// trigger installer, the self-check and the example tables all take their
// text from here.
//
// What the trigger logs, through PROC_REGISTRA_ALTERACAO (which skips the
// replication account's own changes):
//   insert   "U" with the new key;
//   update   "U" with the new key; when the key changed, first a "D" of the
//            old key carrying the new first key value in NOVOVALORCHAVE1, so
//            that a receiving store, which matches rows by key, removes the
//            row under its old key instead of keeping it beside the moved one;
//   delete   "D" with the old key.
// The first key column in column order goes to ATUALVALORCHAVE1, the second
// to ATUALVALORCHAVE2: the order in which the agent joins the log to the
// table when it sends.
//
// Refused, with the reason in plain Portuguese (ErroGatilho): a name that
// is not a plain upper-case identifier, one of the replication's own
// tables, a table without primary key, a key of more than
// kMaximoColunasChave columns, and a key column that cannot travel as text
// and be read back the same by another store: only integers (SMALLINT,
// INTEGER, BIGINT) and text (CHAR, VARCHAR) of at most kCaracteresValorChave
// characters in a character set the log's columns hold without loss. A
// date or a decimal key would be written here in the server's format and
// read there with the receiving machine's regional settings.
#include <cstddef>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace ondaris::db {

// A table could not be given a logging trigger; what() says why, in words
// for the store's technician.
class ErroGatilho : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The replication's own tables: never logged themselves.
inline constexpr const char* kTabelasReplicacao[] = {"LOG_REPLICACAO", "RPL_CONFIGURACOES", "RPL_RESERVAS",
                                                     "RPL_POSTOS_DE_LADO", "RPL_POSSE"};
bool TabelaDaReplicacao(std::string_view tabela);

// The procedure every logging trigger calls.
inline constexpr const char* kProcedimentoRegistro = "PROC_REGISTRA_ALTERACAO";

// Length of the log's key columns (ATUALVALORCHAVE1/2, VARCHAR(255)).
inline constexpr std::size_t kCaracteresValorChave = 255;

enum class TTipoColunaChave { tcInteiro, tcTexto, tcOutro };

// One primary-key column as the catalogue describes it.
struct TColunaChave {
    std::string Nome;
    TTipoColunaChave Tipo = TTipoColunaChave::tcInteiro;
    std::string Declaracao;           // the type as a refusal names it: "DATE", "NUMERIC(15,2)"
    std::size_t Caracteres = 0;       // text: declared length in characters
    bool ConjuntoCompativel = true;   // text: the log's columns hold its characters without loss
    bool operator==(const TColunaChave&) const = default;
};

// The trigger and its grants for one table.
struct TGatilhoRegistro {
    std::string Tabela;
    std::string Nome;     // NomeGatilhoRegistro(Tabela)
    std::string Corpo;    // from "AS" to "END", as the catalogue keeps a trigger's source
    std::string Criacao;  // CREATE OR ALTER TRIGGER ... Corpo
    // GRANT statements (without the final ";"): the trigger may run the
    // logging procedure, the replication account may read and write the table.
    std::vector<std::string> Permissoes;
    // The same as an isql script (SET TERM around the trigger), for review
    // or for a script file.
    std::string Script() const;
};

// "<TABELA>_RPL"; a name too long for that keeps its first 22 characters,
// then "_", four hexadecimal digits of a hash of the whole name, "_RPL".
std::string NomeGatilhoRegistro(std::string_view tabela);

// Why the table cannot be logged, or nothing when it can.
std::optional<std::string> MotivoRecusa(std::string_view tabela, const std::vector<TColunaChave>& chave);

// The trigger of the table; throws ErroGatilho with MotivoRecusa's text.
TGatilhoRegistro GerarGatilhoRegistro(std::string_view tabela, const std::vector<TColunaChave>& chave);

// The statements that take a table out of logging: the trigger (its own
// grants go with it) and the replication account's rights on the table.
std::vector<std::string> ComandosRemocao(std::string_view tabela);

}  // namespace ondaris::db
