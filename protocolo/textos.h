#pragma once
// Text forms of column values as a store writes them into replication
// messages, one function per column kind, on plain values so that the
// database layer's readings and these writings can be tested apart. All of
// them take the regional settings as an argument and none depends on the
// C library's locale. None can fail: every value has a text form.
#include <cstdint>
#include <string>
#include <string_view>

#include "protocolo/datahora.h"
#include "protocolo/regional.h"

namespace ondaris::protocolo {

// A double in the general format with up to `digitos` significant digits
// (15 by default) and the regional decimal separator: fixed notation when
// the rounded value has at most `digitos` integer digits and is at least
// 0.00001 in magnitude (or is zero), otherwise exponent notation. The
// exponent is "E", a minus sign only when negative, and its digits without
// leading zeros or padding: 1E15, 1,5E-7, -2,5E300. Trailing zeros of the
// mantissa are dropped, and a whole value has no separator. NaN and the
// infinities give "NAN", "INF" and "-INF".
std::string FormatarGeral(double valor, const TConfiguracoesRegionais& regional, int digitos = 15);

// SMALLINT, INTEGER, BIGINT: decimal digits, a minus sign when negative.
std::string TextoInteiro(int64_t valor);

// NUMERIC/DECIMAL given as the stored integer and the column's scale as the
// catalogue reports it (0 or negative: -2 means two decimal places; a
// positive scale multiplies by a power of ten). Exact: no double on the way.
// No thousands separators, no trailing zeros after the separator, and no
// separator for a whole value.
std::string TextoNumeric(int64_t valorEscalado, int escala, const TConfiguracoesRegionais& regional);

// FLOAT is written from its exact single-precision value: 0.1f gives
// "0,100000001490116" under a "," separator.
std::string TextoFloat(float valor, const TConfiguracoesRegionais& regional);
std::string TextoDouble(double valor, const TConfiguracoesRegionais& regional);

std::string TextoData(const Data& data, const TConfiguracoesRegionais& regional);
std::string TextoHora(const Hora& hora, const TConfiguracoesRegionais& regional);

// CHAR without its trailing blanks; VARCHAR and text blobs are used as they
// are stored.
std::string TextoChar(std::string_view valor);
std::string TextoBooleano(bool valor);  // "True" / "False"

// Times keep their fractions of a second. The long time format has none, so
// a time with a fraction gets the regional decimal separator and the
// fraction right after its seconds: three digits (milliseconds) when that
// is exact, four (the database's ten-thousandths) otherwise. A time without
// a fraction is written in the plain long time format, exactly as before,
// so a peer that only reads that format still reads every whole-second
// value, and one that reads milliseconds after the separator reads every
// value the database can hold to the millisecond.
//
// A time of day in the long time format, with its fraction of a second
// when it has one (see above).
std::string TextoHoraCompleta(const Hora& hora, const TConfiguracoesRegionais& regional);
// The short date, a blank and TextoHoraCompleta; the date alone at exactly
// midnight.
std::string TextoDataHoraCompleta(const DataHora& dataHora, const TConfiguracoesRegionais& regional);

}  // namespace ondaris::protocolo
