#pragma once
// Typed binding of received column texts: a command from the central
// server carries every value as text, written by another store under the
// regional settings both stores share; TratarParametro turns one such text
// into the typed value of the statement parameter it is meant for, by the
// type the server described when the statement was prepared. Also the two
// conversions of a command's action letter.
//
// Readings (db/leituras.h), by parameter type:
//   CHAR, VARCHAR, text blobs: the text as it is (the connection converts
//     it), in UTF8 columns too, the empty text included (it is bound as an
//     empty text where the statement has exact texts, db/consulta.h); in
//     OCTETS columns each character is the byte of the same code, as the
//     sending store writes raw bytes;
//   SMALLINT, INTEGER, BIGINT: the integer reading, within the type's range;
//   NUMERIC, DECIMAL: exact to the column's scale (LerNumerico);
//   DOUBLE PRECISION, FLOAT: the floating-point readings, full range;
//   BOOLEAN: "True"/"False" in any letter case;
//   DATE, TIME, TIMESTAMP: the date and time readings;
//   binary blobs: nothing here (their base64 text is decoded by the
//     receiver, which binds the bytes).
//
// A value is bound exactly as sent or not at all: a text that cannot be
// read, a number beyond its column's type, a text with a character the
// column cannot hold or with bytes the answer's character set did not
// allow, a text longer than its CHAR or VARCHAR column (in characters;
// bytes for OCTETS; a CHAR's trailing blanks do not count), each raise
// ErroLeitura saying which, before anything is bound. A numeric value
// beyond the column's storage is refused when bound (ErroBanco). The empty
// text of a column that is not text keeps its reading: for a number, a
// date or a boolean it is no value and is refused.
#include <cstddef>
#include <optional>
#include <string_view>

#include "db/construtores.h"
#include "db/consulta.h"
#include "db/leituras.h"
#include "db/valor.h"
#include "protocolo/regional.h"

namespace ondaris::db {

// "U" (and "I") update-or-insert, "D" delete, "S" select; exact and
// case-sensitive.
// Nothing for any other text: the caller decides (the receiver fails the
// block).
std::optional<TTipoSQL> StrtoTipoSQL(std::string_view Acao);

// True for a binary blob parameter, whose value travels as base64 text.
bool ParametroBinario(const DescricaoCampo& parametro);

// The typed value of `Valor` for a parameter of that description, by the
// readings above; std::monostate (NULL) when the type has no reading.
// Throws ErroLeitura as said above.
Valor LerValorParametro(const DescricaoCampo& parametro, std::string_view Valor,
                        const protocolo::TConfiguracoesRegionais& regional, int anoAtual = AnoAtual());

// Binds `Valor` to the first parameter of `Qry` named `NomeParametro`
// (without regard to case). A parameter whose type has no reading is left
// as it was. An unknown name is a usage error (ErroUso).
void TratarParametro(Consulta& Qry, std::string_view NomeParametro, std::string_view Valor,
                     const protocolo::TConfiguracoesRegionais& regional, int anoAtual = AnoAtual());

// The same for the parameter at a zero-based position, for callers that
// found the position once per statement.
void TratarParametroPosicao(Consulta& Qry, std::size_t posicao, std::string_view Valor,
                            const protocolo::TConfiguracoesRegionais& regional, int anoAtual = AnoAtual());

}  // namespace ondaris::db
