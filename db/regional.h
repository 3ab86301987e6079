#pragma once
// The machine's regional settings as the conversions between text and
// numbers, dates and times see them: decimal separator, date order and
// separator, short date and long time formats, time separator and the
// AM/PM markers. A plain value, taken once (from the process environment
// or a fixed set for tests) and passed by the caller to every conversion;
// nothing here reads or changes the C library's global locale, so results
// never depend on what setlocale happened to do.
//
// Format strings use these tokens (letters are case-insensitive):
//   short date: d dd (day), m mm (month), yy yyyy (year); "/" stands for
//               SeparadorData.
//   long time:  h hh (hour, 12-hour when the format holds "ampm"),
//               m mm or n nn (minute), s ss (second), z zzz (millisecond),
//               ampm (the AM or PM marker); ":" stands for SeparadorHora.
//   Text in single or double quotes and any other character stand as they
//   are. Strings are UTF-8.
#include <string>

#include "db/datahora.h"

namespace ondaris::db {

enum class TOrdemData { DiaMesAno, MesDiaAno, AnoMesDia };

struct TConfiguracoesRegionais {
    std::string SeparadorDecimal = ".";
    std::string SeparadorData = "/";
    TOrdemData OrdemData = TOrdemData::MesDiaAno;
    std::string FormatoDataCurta = "mm/dd/yy";
    std::string FormatoHoraLonga = "hh:mm:ss";
    std::string SeparadorHora = ":";
    std::string SimboloAM = "AM";
    std::string SimboloPM = "PM";

    // The settings of the named locale; the empty name means the one the
    // user chose in the environment (LC_ALL, LC_NUMERIC, LC_TIME, LANG).
    // A locale that does not exist gives the "C" settings, never an error:
    // the agent must start whatever the machine is configured with.
    static TConfiguracoesRegionais DoLocale(const std::string& nome = "");

    // True when the named locale exists on this machine (DoLocale would
    // otherwise fall back to "C" without a word).
    static bool LocaleExiste(const std::string& nome);

    // The settings of the process's current global locale (LC_NUMERIC and
    // LC_TIME as setlocale left them; "C" when it was never called). Read
    // it once at start-up, after the program chose its locale, not while
    // another thread may be calling setlocale.
    static TConfiguracoesRegionais DoProcesso();

    // Brazilian settings: decimal ",", dd/mm/yyyy, hh:mm:ss, no AM/PM.
    static TConfiguracoesRegionais Brasileiras();
};

// The date in the short date format, its year always in full.
std::string FormatarDataCurta(const Data& data, const TConfiguracoesRegionais& regional);
// The time of day in the long time format.
std::string FormatarHoraLonga(const Hora& hora, const TConfiguracoesRegionais& regional);

// Turns a strftime-style date or time pattern of a locale (%d/%m/%Y,
// %H:%M:%S, %r...) into the token format above plus its separator. Exposed
// for tests; DoLocale uses it.
struct TFormatoConvertido {
    std::string Formato;
    std::string Separador;  // empty when the pattern had none
};
TFormatoConvertido ConverterFormatoDataLocale(const std::string& padrao);
TFormatoConvertido ConverterFormatoHoraLocale(const std::string& padrao, const std::string& padraoAmPm);

}  // namespace ondaris::db
