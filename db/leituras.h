#pragma once
// Readings of received column texts: how a value that another store wrote
// as text (under the regional settings both stores share) becomes a typed
// value again. Pure functions; the regional settings come from the caller.
//
// A text that cannot be read, or whose value the type cannot hold, gives no
// value (numbers) or ErroLeitura (dates and times): a made-up value stored in
// its place would corrupt the row without a word, so the caller refuses it.
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "protocolo/datahora.h"
#include "protocolo/regional.h"

namespace ondaris::db {

class ErroLeitura : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Optional leading blanks, an optional sign, then decimal digits, or
// hexadecimal digits after "$", "x", "X", "0x" or "0X"; the whole text must
// be used and the value must fit. Nothing for anything else, the empty text
// included.
std::optional<std::int64_t> LerInteiro64(std::string_view texto);

// An exact decimal number: (-1 if Negativo) * Digitos * 10^Expoente.
// Digitos has no leading zeros ("" is zero).
struct TDecimal {
    bool Negativo = false;
    std::string Digitos;
    int Expoente = 0;
};

// Optional blanks around, an optional sign, digits with at most one
// regional decimal separator among them (at least one digit), an optional
// exponent ("E" or "e", optional sign, digits). No thousands separators.
// Nothing when the text is not such a number.
std::optional<TDecimal> LerDecimal(std::string_view texto, const protocolo::TConfiguracoesRegionais& regional);

enum class TArredondamento { MetadeParaPar, MetadeLongeDoZero };

// The number times 10^casas, rounded to an integer; nothing when it does
// not fit a signed 64-bit integer.
std::optional<std::int64_t> DecimalEscalado(const TDecimal& numero, int casas, TArredondamento regra);

// A NUMERIC or DECIMAL of `escala` decimal places (escala >= 0) read exactly:
// the value in units of 10^-escala. Texts with more places are rounded as
// the database rounds (half away from zero). For scales up to 4 the value
// is first rounded to four places, which is what older agents bound and
// which loses nothing such a column can hold. Nothing for unreadable texts
// or values beyond 64 bits.
std::optional<std::int64_t> LerNumerico(std::string_view texto, int escala, const protocolo::TConfiguracoesRegionais& regional);

// Floating point readings, full range; a value too small for the type is
// 0, nothing for unreadable texts and values too large for the type.
std::optional<double> LerDouble(std::string_view texto, const protocolo::TConfiguracoesRegionais& regional);
std::optional<float> LerFloat(std::string_view texto, const protocolo::TConfiguracoesRegionais& regional);

// "True" or "False" in any letter case; nothing for any other text.
std::optional<bool> LerBooleano(std::string_view texto);

// The year of today's local date.
int AnoAtual();

// Day, month and year by the regional date order and separator; two numbers
// mean the current year; a one- or two-digit year falls in the hundred
// years that start 50 years before the current one. Blanks around allowed.
// Throws ErroLeitura "'%s' is not a valid date".
protocolo::Data LerData(std::string_view texto, const protocolo::TConfiguracoesRegionais& regional, int anoAtual = AnoAtual());

// Hours, then optionally minutes, seconds and fractions (after the regional
// decimal separator), separated by the regional time separator; an AM/PM
// marker may stand before or after. Throws "'%s' is not a valid time".
protocolo::Hora LerHora(std::string_view texto, const protocolo::TConfiguracoesRegionais& regional);

// A date, optionally followed by blanks and a time (midnight when absent).
// Throws "'%s' is not a valid date and time".
protocolo::DataHora LerDataHora(std::string_view texto, const protocolo::TConfiguracoesRegionais& regional, int anoAtual = AnoAtual());

}  // namespace ondaris::db
