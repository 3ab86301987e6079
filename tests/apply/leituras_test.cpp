// Readings of received column texts under the Brazilian regional settings
// (decimal ",", dd/mm/yyyy, hh:mm:ss), the settings both stores share.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>

#include "db/leituras.h"
#include "protocolo/textos.h"
#include "sync/enviar.h"
#include "support/captura.h"

namespace {

using namespace ondaris::db;
using namespace ondaris::protocolo;

const TConfiguracoesRegionais kBr = TConfiguracoesRegionais::Brasileiras();

// A reading either gives the value the text stands for, or nothing: an
// unreadable text or one beyond the type never becomes 0 on the way.
constexpr std::nullopt_t nada = std::nullopt;

TEST(Leituras, Integers) {
    struct Caso {
        const char* texto;
        std::optional<std::int64_t> v32;
        std::optional<std::int64_t> v64;
    };
    const Caso casos[] = {
        {"42", 42, 42},
        {" 42", 42, 42},
        {"42 ", nada, nada},
        {"-17", -17, -17},
        {"+5", 5, 5},
        {"0", 0, 0},
        {"", nada, nada},
        {"abc", nada, nada},
        {"null", nada, nada},
        {"2147483647", 2147483647, 2147483647},
        {"2147483648", nada, 2147483648LL},
        {"3000000000", nada, 3000000000LL},
        {"-2147483648", -2147483648LL, -2147483648LL},
        {"9007199254740993", nada, 9007199254740993LL},  // 2^53 + 1, no double on the way
        {"9223372036854775807", nada, std::numeric_limits<std::int64_t>::max()},
        {"-9223372036854775808", nada, std::numeric_limits<std::int64_t>::min()},
        {"9223372036854775808", nada, nada},
        {"$FF", 255, 255},
        {"0x10", 16, 16},
        {"x1f", 31, 31},
        {"$", nada, nada},
        {"1,5", nada, nada},
        {"1e3", nada, nada},
    };
    // An INTEGER column takes the same reading within its range.
    for (const Caso& c : casos) {
        const auto v = LerInteiro64(c.texto);
        EXPECT_EQ(v, c.v64) << '"' << c.texto << '"';
        const bool cabe32 = v && *v >= std::numeric_limits<std::int32_t>::min() &&
                            *v <= std::numeric_limits<std::int32_t>::max();
        EXPECT_EQ(cabe32 ? v : nada, c.v32) << '"' << c.texto << '"';
    }
}

TEST(Leituras, FourPlaceNumericsRoundTiesToEven) {
    struct Caso {
        const char* texto;
        std::optional<std::int64_t> dezMilesimos;
    };
    const Caso casos[] = {
        {"12,5", 125000},         {"12.5", nada},       {"1,23456", 12346},     {"0,00005", 0},
        {"0,00015", 2},           {"-0,00015", -2},     {"1,5E2", 1500000},     {" -3,25 ", -32500},
        {",5", 5000},             {"7,", 70000},        {"", nada},             {"1.000,00", nada},
        {"922337203685477,5807", std::numeric_limits<std::int64_t>::max()},
        {"922337203685477,5808", nada},
        {"-922337203685477,5808", std::numeric_limits<std::int64_t>::min()},
        {"1e", nada},             {"--1", nada},
    };
    for (const Caso& c : casos) EXPECT_EQ(LerNumerico(c.texto, 4, kBr), c.dezMilesimos) << '"' << c.texto << '"';
}

TEST(Leituras, NumericsKeepEveryDigitTheColumnHolds) {
    struct Caso {
        const char* texto;
        int escala;
        std::optional<std::int64_t> unidades;
    };
    const Caso casos[] = {
        {"12,5", 2, 1250},
        {"1,23456", 2, 123},       // 1,2346 first, then the column's two places
        {"1,005", 2, 101},         // ties go away from zero, as the database rounds
        {"92233720368547758,07", 2, 9223372036854775807LL},  // NUMERIC(18,2) at its limit
        {"-92233720368547758,08", 2, std::numeric_limits<std::int64_t>::min()},
        {"0,123456789", 9, 123456789},
        {"123456789,123456789", 9, 123456789123456789LL},
        {"1,0000000005", 9, 1000000001},
        {"92233720368547758,08", 2, nada},  // beyond 64 bits
        {"99999999999999999999,99", 2, nada},
        {"x", 6, nada},
        {"", 2, nada},
        {"3", 0, 3},
    };
    for (const Caso& c : casos)
        EXPECT_EQ(LerNumerico(c.texto, c.escala, kBr), c.unidades) << '"' << c.texto << "\" scale " << c.escala;
}

TEST(Leituras, FloatingPointFullRange) {
    EXPECT_EQ(LerDouble("1,5", kBr), 1.5);
    EXPECT_EQ(LerDouble("-2,5E-300", kBr), -2.5e-300);
    EXPECT_EQ(LerDouble("1,7976931348623157E308", kBr), std::numeric_limits<double>::max());
    EXPECT_EQ(LerDouble("0,1", kBr), 0.1);
    EXPECT_EQ(LerDouble("1E-999", kBr), 0.0);  // below the smallest: as near as the type gets
    EXPECT_EQ(LerDouble("1.5", kBr), nada);
    EXPECT_EQ(LerDouble("1E999", kBr), nada);
    EXPECT_EQ(LerDouble("abc", kBr), nada);
    // What the sending side writes for a FLOAT holding one tenth reads back
    // as the same single-precision value.
    EXPECT_EQ(LerFloat("0,100000001490116", kBr), 0.1f);
    EXPECT_EQ(LerFloat("3,40282346638529E38", kBr), std::numeric_limits<float>::max());
    EXPECT_EQ(LerFloat("1E39", kBr), nada);
}

TEST(Leituras, Booleans) {
    EXPECT_EQ(LerBooleano("True"), true);
    EXPECT_EQ(LerBooleano("FALSE"), false);
    EXPECT_EQ(LerBooleano("tRuE"), true);
    EXPECT_EQ(LerBooleano("1"), std::nullopt);
    EXPECT_EQ(LerBooleano(""), std::nullopt);
}

TEST(Leituras, DatesTimesAndMoments) {
    const int ano = 2026;
    struct CasoData {
        const char* texto;
        Data esperado;
    };
    const CasoData datas[] = {
        {"31/12/2023", {2023, 12, 31}}, {"1/2/2024", {2024, 2, 1}},  {"29/02/2024", {2024, 2, 29}},
        {"05/03", {2026, 3, 5}},        {"05/03/23", {2023, 3, 5}},  {"05/03/76", {1976, 3, 5}},
        {"05/03/75", {2075, 3, 5}},     {" 01/01/0001 ", {1, 1, 1}}, {"31/12/9999", {9999, 12, 31}},
    };
    for (const auto& c : datas) EXPECT_EQ(LerData(c.texto, kBr, ano), c.esperado) << c.texto;

    struct CasoHora {
        const char* texto;
        Hora esperado;
    };
    const CasoHora horas[] = {
        {"14:30:00", {14, 30, 0, 0}}, {"0:00:00", {0, 0, 0, 0}},    {"23:59:59", {23, 59, 59, 0}},
        {"7:05", {7, 5, 0, 0}},       {"9", {9, 0, 0, 0}},          {"14:30:00,5", {14, 30, 0, 5000}},
        {"14:30:00,1234", {14, 30, 0, 1234}},                       {"2:30:00 PM", {14, 30, 0, 0}},
        {"AM 12:00:00", {0, 0, 0, 0}},                              {"12:00:00 pm", {12, 0, 0, 0}},
    };
    for (const auto& c : horas) EXPECT_EQ(LerHora(c.texto, kBr), c.esperado) << c.texto;

    EXPECT_EQ(LerDataHora("31/12/2023 14:30:00", kBr, ano), (DataHora{{2023, 12, 31}, {14, 30, 0, 0}}));
    EXPECT_EQ(LerDataHora("31/12/2023", kBr, ano), (DataHora{{2023, 12, 31}, {}}));

    struct CasoErro {
        const char* texto;
        int tipo;  // 0 date, 1 time, 2 date and time
        const char* mensagem;
    };
    const CasoErro erros[] = {
        {"2023-12-31", 0, "'2023-12-31' não é uma data válida"},
        {"", 0, "'' não é uma data válida"},
        {"31/02/2023", 0, "'31/02/2023' não é uma data válida"},
        {"31/12/2023 10:00:00", 0, "'31/12/2023 10:00:00' não é uma data válida"},
        {"24:00:00", 1, "'24:00:00' não é uma hora válida"},
        {"10:60", 1, "'10:60' não é uma hora válida"},
        {"13:00 PM", 1, "'13:00 PM' não é uma hora válida"},
        {"", 1, "'' não é uma hora válida"},
        {"31/12/2023 25:00", 2, "'31/12/2023 25:00' não é uma data e hora válida"},
        {"12/31/2023 10:00", 2, "'12/31/2023 10:00' não é uma data e hora válida"},
    };
    for (const auto& c : erros) {
        SCOPED_TRACE(c.texto);
        EXPECT_EQ(ondaris::teste::TextoDaFalha<ErroLeitura>([&] {
                      if (c.tipo == 0) LerData(c.texto, kBr, ano);
                      else if (c.tipo == 1) LerHora(c.texto, kBr);
                      else LerDataHora(c.texto, kBr, ano);
                  }),
                  c.mensagem);
    }
}

TEST(Leituras, DatesKeepTheirCenturyOnTheWayUnderEveryLocale) {
    // The C locale's short date has a two-digit year; what one store writes
    // must read back as the same day at the other.
    for (const auto& regional : {kBr, TConfiguracoesRegionais::DoLocale("C")}) {
        for (Data d : {Data{1, 1, 1}, Data{1900, 1, 1}, Data{1999, 12, 31}, Data{2075, 6, 15}, Data{9999, 12, 31}}) {
            EXPECT_EQ(LerData(ondaris::protocolo::TextoData(d, regional), regional, 2026), d)
                << ondaris::protocolo::TextoData(d, regional);
            const DataHora dh{d, {23, 59, 58, 0}};
            EXPECT_EQ(LerDataHora(ondaris::protocolo::TextoDataHoraCompleta(dh, regional), regional, 2026), dh)
                << ondaris::protocolo::TextoDataHoraCompleta(dh, regional);
        }
    }
}

TEST(Leituras, OtherDateOrders) {
    TConfiguracoesRegionais us = kBr;
    us.OrdemData = TOrdemData::MesDiaAno;
    EXPECT_EQ(LerData("12/31/2023", us, 2026), (Data{2023, 12, 31}));
    TConfiguracoesRegionais iso = kBr;
    iso.OrdemData = TOrdemData::AnoMesDia;
    iso.SeparadorData = "-";
    EXPECT_EQ(LerData("2023-12-31", iso, 2026), (Data{2023, 12, 31}));
    EXPECT_EQ(LerData("12-31", iso, 2026), (Data{2026, 12, 31}));
}

}  // namespace
