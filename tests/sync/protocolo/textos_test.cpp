// Text forms of column values and the regional settings they depend on.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

#include "protocolo/json.h"
#include "protocolo/regional.h"
#include "protocolo/textos.h"

namespace ondaris::sync {
using protocolo::FormatarGeral;
using protocolo::TextoBooleano;
using protocolo::TextoChar;
using protocolo::TextoData;
using protocolo::TextoDataHoraCompleta;
using protocolo::TextoDouble;
using protocolo::TextoFloat;
using protocolo::TextoHora;
using protocolo::TextoInteiro;
using protocolo::TextoNumeric;
namespace {

const auto Brasil = protocolo::TConfiguracoesRegionais::Brasileiras();

TEST(FormatarGeral, UsesFifteenDigitsAndTheRegionalSeparator) {
    struct Caso {
        double valor;
        const char* esperado;
    };
    const Caso casos[] = {
        {0.0, "0"},
        {-0.0, "0"},
        {12.0, "12"},
        {1.5, "1,5"},
        {-1.5, "-1,5"},
        {0.1, "0,1"},
        {1.0 / 3.0, "0,333333333333333"},
        {2.0 / 3.0, "0,666666666666667"},
        {123456789012345.0, "123456789012345"},
        {999999999999999.0, "999999999999999"},
        {1e15, "1E15"},                      // sixteen integer digits: exponent notation
        {9999999999999999.0, "1E16"},
        {1234567890123456789.0, "1,23456789012346E18"},
        {0.00001, "0,00001"},                // the smallest magnitude in fixed notation
        {0.0000123, "0,0000123"},
        {0.000001, "1E-6"},
        {-1.5e-7, "-1,5E-7"},
        {1e100, "1E100"},
        {1.7976931348623157e308, "1,79769313486232E308"},
        {5e-324, "4,94065645841247E-324"},
        {100.25, "100,25"},
        {std::numeric_limits<double>::infinity(), "INF"},
        {-std::numeric_limits<double>::infinity(), "-INF"},
        {std::nan(""), "NAN"},
    };
    for (const auto& caso : casos) EXPECT_EQ(FormatarGeral(caso.valor, Brasil), caso.esperado) << caso.esperado;
}

TEST(TextoFloat, IsPrintedFromTheSinglePrecisionValue) {
    EXPECT_EQ(TextoFloat(0.1f, Brasil), "0,100000001490116");
    EXPECT_EQ(TextoFloat(1.5f, Brasil), "1,5");
    EXPECT_EQ(TextoFloat(FLT_MAX, Brasil), "3,40282346638529E38");
    EXPECT_EQ(TextoDouble(0.1, Brasil), "0,1");
}

TEST(TextoNumeric, IsExactWithoutTrailingZeros) {
    struct Caso {
        int64_t valor;
        int escala;
        const char* esperado;
    };
    const Caso casos[] = {
        {1250, -2, "12,5"},
        {1200, -2, "12"},
        {5, -2, "0,05"},
        {-5, -4, "-0,0005"},
        {0, -2, "0"},
        {-1230, -1, "-123"},
        {123, 0, "123"},
        {12, 2, "1200"},
        {INT64_MAX, -4, "922337203685477,5807"},
        {INT64_MIN, -4, "-922337203685477,5808"},
        {INT64_MIN, 0, "-9223372036854775808"},
        {123456789, -18, "0,000000000123456789"},
    };
    for (const auto& caso : casos) EXPECT_EQ(TextoNumeric(caso.valor, caso.escala, Brasil), caso.esperado);
    EXPECT_EQ(TextoInteiro(-42), "-42");
    EXPECT_EQ(TextoInteiro(INT64_MIN), "-9223372036854775808");
}

TEST(TextoDataHoraCompleta, UsesTheRegionalFormatsAndDropsMidnight) {
    EXPECT_EQ(TextoData({2023, 12, 31}, Brasil), "31/12/2023");
    EXPECT_EQ(TextoData({5, 1, 2}, Brasil), "02/01/0005");
    EXPECT_EQ(TextoHora({14, 3, 9, 1234}, Brasil), "14:03:09");
    EXPECT_EQ(TextoDataHoraCompleta({{2023, 12, 31}, {14, 30, 0, 0}}, Brasil), "31/12/2023 14:30:00");
    EXPECT_EQ(TextoDataHoraCompleta({{2023, 12, 31}, {0, 0, 0, 0}}, Brasil), "31/12/2023");
    // A tenth of a millisecond after midnight is not midnight.
    EXPECT_EQ(TextoDataHoraCompleta({{2023, 12, 31}, {0, 0, 0, 1}}, Brasil), "31/12/2023 00:00:00");
}

TEST(TextoDataHoraCompleta, FollowsOtherFormatsAndSeparators) {
    protocolo::TConfiguracoesRegionais r;
    r.FormatoDataCurta = "m/d/yy";
    r.SeparadorData = "-";
    r.FormatoHoraLonga = "h:nn:ss.zzz AMPM";
    r.SeparadorHora = ".";
    r.SimboloAM = "am";
    r.SimboloPM = "pm";
    // A two-digit year in the format still travels in full: the reader
    // would otherwise move it into its own century window.
    EXPECT_EQ(TextoData({2007, 3, 4}, r), "3-4-2007");
    EXPECT_EQ(TextoData({1, 1, 1}, r), "1-1-0001");
    EXPECT_EQ(TextoHora({0, 5, 6, 70}, r), "12.05.06.007 am");
    EXPECT_EQ(TextoHora({13, 5, 6, 0}, r), "1.05.06.000 pm");
    EXPECT_EQ(TextoHora({12, 0, 0, 0}, r), "12.00.00.000 pm");
    r.FormatoDataCurta = "yyyy/mm/dd 'de' d";
    EXPECT_EQ(TextoData({2024, 2, 9}, r), "2024-02-09 de 9");
}

TEST(TextosSimples, CharAndBoolean) {
    EXPECT_EQ(TextoChar("ABC   "), "ABC");
    EXPECT_EQ(TextoChar("  A B "), "  A B");
    EXPECT_EQ(TextoChar("    "), "");
    EXPECT_EQ(TextoChar("A\t"), "A\t");
    EXPECT_EQ(TextoBooleano(true), "True");
    EXPECT_EQ(TextoBooleano(false), "False");
}

TEST(ConfiguracoesRegionais, ReadsTheLocalePatterns) {
    struct CasoData {
        const char* padrao;
        const char* formato;
        const char* separador;
    };
    const CasoData datas[] = {
        {"%d/%m/%Y", "dd/mm/yyyy", "/"},
        {"%m/%d/%y", "mm/dd/yy", "/"},
        {"%d.%m.%Y", "dd/mm/yyyy", "."},
        {"%Y-%m-%d", "yyyy/mm/dd", "-"},
        {"%F", "yyyy/mm/dd", "-"},
        {"%D", "mm/dd/yy", "/"},
        {"%e/%m/%Y", "d/mm/yyyy", "/"},
    };
    for (const auto& caso : datas) {
        auto convertido = protocolo::ConverterFormatoDataLocale(caso.padrao);
        EXPECT_EQ(convertido.Formato, caso.formato) << caso.padrao;
        EXPECT_EQ(convertido.Separador, caso.separador) << caso.padrao;
    }
    auto hora = protocolo::ConverterFormatoHoraLocale("%H:%M:%S", "");
    EXPECT_EQ(hora.Formato, "hh:nn:ss");
    EXPECT_EQ(hora.Separador, ":");
    hora = protocolo::ConverterFormatoHoraLocale("%r", "%I:%M:%S %p");
    EXPECT_EQ(hora.Formato, "hh:nn:ss ampm");
    hora = protocolo::ConverterFormatoHoraLocale("%T", "");
    EXPECT_EQ(hora.Formato, "hh:nn:ss");
    hora = protocolo::ConverterFormatoHoraLocale("%H.%M", "");
    EXPECT_EQ(hora.Formato, "hh:nn");
    EXPECT_EQ(hora.Separador, ".");
}

TEST(ConfiguracoesRegionais, TakesTheCLocaleAndFallsBackForAnUnknownOne) {
    for (const char* nome : {"C", "nao_existe.UTF-8"}) {
        auto r = protocolo::TConfiguracoesRegionais::DoLocale(nome);
        EXPECT_EQ(r.SeparadorDecimal, ".") << nome;
        EXPECT_EQ(r.FormatoDataCurta, "mm/dd/yy") << nome;
        EXPECT_EQ(r.SeparadorData, "/") << nome;
        EXPECT_EQ(r.OrdemData, protocolo::TOrdemData::MesDiaAno) << nome;
        EXPECT_EQ(r.FormatoHoraLonga, "hh:nn:ss") << nome;
        EXPECT_EQ(r.SeparadorHora, ":") << nome;
        EXPECT_EQ(r.SimboloAM, "AM") << nome;
        EXPECT_EQ(FormatarGeral(2.5, r), "2.5");
        EXPECT_EQ(TextoDataHoraCompleta({{2023, 12, 31}, {14, 30, 5, 0}}, r), "12/31/2023 14:30:05");
    }
#ifndef _WIN32  // Windows has the user's settings (tests/windows)
    // This test program never calls setlocale, so the process locale is "C".
    auto processo = protocolo::TConfiguracoesRegionais::DoProcesso();
    EXPECT_EQ(processo.SeparadorDecimal, ".");
    EXPECT_EQ(processo.FormatoDataCurta, "mm/dd/yy");
    EXPECT_EQ(processo.FormatoHoraLonga, "hh:nn:ss");
#endif
    auto brasil = protocolo::TConfiguracoesRegionais::Brasileiras();
    EXPECT_EQ(brasil.OrdemData, protocolo::TOrdemData::DiaMesAno);
    EXPECT_EQ(brasil.SeparadorDecimal, ",");
}

}  // namespace
}  // namespace ondaris::sync
