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
#include <string_view>

#include "protocolo/datahora.h"

namespace ondaris::protocolo {

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
    // user chose: on Linux in the environment (LC_ALL, LC_NUMERIC, LC_TIME,
    // LANG), on Windows in the regional settings of the user's profile (a
    // name there is a locale name such as "pt-BR").
    // A locale that does not exist gives the "C" settings, never an error:
    // the agent must start whatever the machine is configured with.
    // (regional_posix.cpp, regional_win.cpp)
    static TConfiguracoesRegionais DoLocale(const std::string& nome = "");

    // The settings of the process's current global locale (LC_NUMERIC and
    // LC_TIME as setlocale left them; "C" when it was never called). Read
    // it once at start-up, after the program chose its locale, not while
    // another thread may be calling setlocale. On Windows, where a program
    // does not choose them, the user's settings.
    static TConfiguracoesRegionais DoProcesso();

    // Brazilian settings: decimal ",", dd/mm/yyyy, hh:mm:ss, no AM/PM.
    static TConfiguracoesRegionais Brasileiras();
};

// The order of day, month and year in a short date format of the tokens
// above.
TOrdemData OrdemDoFormato(std::string_view formatoDataCurta);

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

#ifdef _WIN32
// The same for a Windows short date or long time picture (dd/MM/yyyy,
// h:mm:ss tt...; quoted text as it stands) whose separator is `separador`
// (the locale's LOCALE_SDATE or LOCALE_STIME). Exposed for tests; DoLocale
// uses them (regional_win.cpp).
TFormatoConvertido ConverterFormatoDataWindows(const std::string& figura, const std::string& separador);
TFormatoConvertido ConverterFormatoHoraWindows(const std::string& figura, const std::string& separador);
#endif

}  // namespace ondaris::protocolo
