#pragma once
// Sending one block of this store's change log to the central server
// (EnviarDados), and the text forms that put a database value into a
// command: the glue from a db::Valor and the description of its column to
// the per-kind writers of protocolo/textos.h.
//
// Ownership: EnviarDados borrows the global data module for the block
// bounds and the key columns, and works in a per-operation module
// (connection, the block's snapshot transaction, the log query and the row
// queries): the run's, when one is given, or its own. As soon as the body
// is built the snapshot ends and the block's queries go, so that no
// transaction is held while the server is being waited for; a block of
// its own closes its connection then, the run's keeps it for the next
// block. A failure drops the module either way. The block's log rows and
// the rows they name, blobs included, are read in that one snapshot. Nothing is written to the local
// database and no position is kept: the server's answer to the next
// send-position query is the only record of progress.
//
// What is not an error: an answer other than 200 below 500 (a refusal,
// returned as the result); a log row
// whose row no longer exists (left out of the block); an empty block (sent
// with its bounds).
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "db/consulta.h"
#include "db/modulo_operacao.h"
#include "db/udm.h"
#include "db/valor.h"
#include "protocolo/json.h"
#include "protocolo/regional.h"
#include "protocolo/regras.h"
#include "sync/servidor.h"

namespace ondaris::sync {

// The text form of a value of a column described by `coluna`; nothing for
// NULL. CHAR loses its trailing blanks; OCTETS text gives one character per
// byte (the byte's code, so that nothing is lost on the way back); a binary
// blob gives its base64 text. DOUBLE PRECISION takes the general format
// with 15 significant digits, or 16 or 17 when fewer would read back as
// another double (the largest double among them): a value with up to 15
// digits is written as it always was.
std::optional<std::string> TextoDoValorBanco(const db::Valor& valor, const db::DescricaoCampo& coluna,
                                             const protocolo::TConfiguracoesRegionais& regional);

// The value of a "campos" member, or nothing when the column is left out
// (NULL only). Every text form travels whole: line breaks stay in the
// string (the JSON writer escapes them and every JSON reader decodes
// them), and an empty text is sent as "" (a CHAR of blanks reads as one),
// so that the receiving store writes an empty text, not NULL. Removing line
// breaks, or leaving an empty text out, would change the value on the way;
// a peer that reads "" as NULL gets what it got before.
std::optional<std::string> TextoDoCampo(const db::Valor& valor, const db::DescricaoCampo& coluna,
                                        const protocolo::TConfiguracoesRegionais& regional);

// The send body is written once, straight into the text that is sent:
// "codigolojaorigem", "comandos" (each command's log members in their fixed
// order, then "campos"), and the block's bounds "ordeminicial" and
// "ordemfinal", so that a server can move its position past log rows that
// were left out (rows deleted since). A short blob's bytes come with the
// row query instead of a call of their own (MontarSQLQuerySEL); the text is
// the same either way.
// Builds the block after `Ordem` and sends it with PUT <URL>/enviar/<code>;
// returns the body it sent, or the server's refusal of it.
//   `DM`: the global data module (block bounds, log rows, key columns);
//   `pastaIni`: the folder of korvin.ini for the per-operation module
//   (empty: the executable's folder).
// Outcome: another status than 200 below 500 is a refusal, returned;
// nothing is raised. Raised as they came, their text complete:
//   - a database failure (connection, block bounds, log, catalogue, reading
//     a row): db::ErroBanco or db::ErroUso;
//   - a row query that cannot be prepared: PrepararDataset's ErroRotina;
//   - status 500 or above, or no answer: the exchange's TErroStatusServidor
//     or TErroTransporte as ExecutarRequisicao words it (status line and
//     body, or the transport's cause, and "PUT <address>").
// `Indices`, when given, receives the block procedure's answer: the
// block's bounds (its last position is `Ordem` itself when nothing after it
// can be sent yet: a store transaction that took the next position is still
// open), the log's end, and the open transaction that holds the block back.
// `Modulo`, when given, is the run's module (db/modulo_operacao.h): its
// connection serves every block of the run, each block reading in a
// snapshot of its own; without it the block opens and closes its own.
TResultado<std::string> EnviarDados(std::string_view URL, int32_t CodigoLoja, int64_t Ordem, db::TDM& DM,
                                    const TContextoServidor& contexto, const std::string& pastaIni,
                                    db::TIndicesEnvio* Indices = nullptr, db::TModuloDaExecucao* Modulo = nullptr);

// Why the log row `Ordem` cannot be sent: the failure of preparing its
// table's read for a block, as a cycle would log it; nothing when it can
// be sent (a delete always can: it carries its key texts only). Throws
// db::ErroBanco when the log has no row at that position. Works as
// EnviarDados does, in a module of its own opened from "korvin.ini" in
// `pastaIni`, and sends nothing.
std::optional<std::string> MotivoLinhaNaoEnviavel(int64_t Ordem, db::TDM& DM, const std::string& pastaIni,
                                                  const protocolo::TConfiguracoesRegionais& regional);

}  // namespace ondaris::sync
