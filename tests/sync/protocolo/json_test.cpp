// The JSON value type: what reading keeps, both writers, and the text form
// of values under the Brazilian settings.
#include <gtest/gtest.h>

#include <string>

#include "protocolo/json.h"

namespace ondaris::sync {
using protocolo::EscreverJSONCompacto;
using protocolo::EscreverJSONIndentado;
using protocolo::LerJSON;
using protocolo::ProfundidadeMaxima;
using protocolo::TTipoJSON;
using protocolo::TValorJSON;
using protocolo::TextoDoValor;
namespace {

const auto Brasil = protocolo::TConfiguracoesRegionais::Brasileiras();

TEST(LerJSON, KeepsMemberOrderDuplicatesAndNumberText) {
    auto valor = LerJSON(R"( {"b": 1, "a": 12345678901234567890123, "b": 2, "c": -0.50e+3} )");
    ASSERT_TRUE(valor);
    ASSERT_TRUE(valor->EhObjeto());
    const auto& membros = valor->Membros();
    ASSERT_EQ(membros.size(), 4u);
    EXPECT_EQ(membros[0].first, "b");
    EXPECT_EQ(membros[1].first, "a");
    EXPECT_EQ(membros[2].first, "b");
    EXPECT_EQ(membros[1].second.Bruto(), "12345678901234567890123");
    EXPECT_EQ(membros[3].second.Bruto(), "-0.50e+3");
    ASSERT_NE(valor->Membro("b"), nullptr);
    EXPECT_EQ(valor->Membro("b")->Bruto(), "1");  // the first of a repeated name
    EXPECT_EQ(valor->Membro("B"), nullptr);       // names are case-sensitive
}

TEST(LerJSON, ReadsEscapesAndNestedContainers) {
    auto valor = LerJSON(R"([{"t":"a\u00e7\/\"\n\ud83d\ude00"},[],{},null,true,false])");
    ASSERT_TRUE(valor);
    ASSERT_EQ(valor->Elementos().size(), 6u);
    EXPECT_EQ(valor->Elementos()[0].Membro("t")->Bruto(), "a\xC3\xA7/\"\n\xF0\x9F\x98\x80");
    EXPECT_TRUE(valor->Elementos()[1].EhMatriz());
    EXPECT_TRUE(valor->Elementos()[2].EhObjeto());
    EXPECT_EQ(valor->Elementos()[3].Tipo(), TTipoJSON::Nulo);
    EXPECT_EQ(valor->Elementos()[4].Tipo(), TTipoJSON::Verdadeiro);
    EXPECT_EQ(valor->Elementos()[5].Tipo(), TTipoJSON::Falso);
}

TEST(LerJSON, RejectsWhatIsNotOneValidValue) {
    const char* casos[] = {
        "",          "   ",           "{",          "[1,]",         "{\"a\":}",     "{} {}",
        "{}x",       "'a'",           "{a:1}",      "01",           "1.",           "NaN",
        "\"\x01\"",  "\"\xC3\x28\"",  "[1]\n]",
    };
    for (const char* caso : casos) EXPECT_FALSE(LerJSON(caso)) << "[" << caso << "]";
    EXPECT_FALSE(LerJSON(std::string("{}\0{}", 5)));  // a NUL must not end the text early
    EXPECT_TRUE(LerJSON(" \r\n\t\"texto\" "));
    EXPECT_TRUE(LerJSON("-12.5e-3"));
}

TEST(LerJSON, RefusesNestingBeyondTheLimit) {
    std::string fundo(ProfundidadeMaxima, '[');
    fundo += std::string(ProfundidadeMaxima, ']');
    EXPECT_TRUE(LerJSON(fundo));
    std::string demais(ProfundidadeMaxima + 1, '[');
    demais += std::string(ProfundidadeMaxima + 1, ']');
    EXPECT_FALSE(LerJSON(demais));
    EXPECT_FALSE(LerJSON(std::string(1000000, '[')));
}

TEST(EscreverJSONCompacto, EscapesEveryStringTheSameWayNamesIncluded) {
    struct Caso {
        std::string texto;
        std::string esperado;
    };
    const Caso casos[] = {
        {"simples", R"("simples")"},
        {"\"\\/", R"("\"\\\/")"},
        {"\b\t\n\f\r", R"("\b\t\n\f\r")"},
        {"\x1F", R"("\u001F")"},
        {std::string(1, '\0'), R"("\u0000")"},
        {"\x7F", "\"\x7F\""},
        {" ~", R"(" ~")"},
        {"\xC3\xA7", R"("\u00E7")"},                // c cedilla
        {"\xC2\x80", R"("\u0080")"},
        {"\xE2\x82\xAC", R"("\u20AC")"},            // euro sign
        {"\xEF\xBF\xBF", R"("\uFFFF")"},
        {"\xF0\x9F\x98\x80", R"("\uD83D\uDE00")"},  // beyond the basic plane
        {"a\xFF" "b", R"("a\uFFFDb")"},             // invalid UTF-8
    };
    for (const auto& caso : casos) {
        EXPECT_EQ(EscreverJSONCompacto(TValorJSON::Texto(caso.texto)), caso.esperado) << caso.esperado;
        auto objeto = TValorJSON::Objeto();
        objeto.Adicionar(caso.texto, TValorJSON::Nulo());
        EXPECT_EQ(EscreverJSONCompacto(objeto), "{" + caso.esperado + ":null}");
        // Any reader built to JSON decodes the escapes to the same text
        // (invalid UTF-8 excepted: it is written as U+FFFD).
        const auto lido = LerJSON(caso.esperado);
        ASSERT_TRUE(lido) << caso.esperado;
        if (caso.texto != "a\xFF" "b") {
            EXPECT_EQ(lido->Bruto(), caso.texto) << caso.esperado;
        }
    }
}

TEST(EscreverJSONCompacto, WritesContainersInOrderWithoutBlanks) {
    auto corpo = TValorJSON::Objeto();
    corpo.Adicionar("codigolojaorigem", TValorJSON::Texto("3"));
    auto& comandos = corpo.Adicionar("comandos", TValorJSON::Matriz());
    auto comando = TValorJSON::Objeto();
    comando.Adicionar("ordem", TValorJSON::Texto("9223372036854775807"));
    comando.Adicionar("campos", TValorJSON::Objeto());
    comandos.Adicionar(comando);
    comandos.Adicionar(TValorJSON::Numero("-1.5e3"));
    comandos.Adicionar(TValorJSON::Booleano(true));
    comandos.Adicionar(TValorJSON::Matriz());
    EXPECT_EQ(EscreverJSONCompacto(corpo),
              R"({"codigolojaorigem":"3","comandos":[{"ordem":"9223372036854775807","campos":{}},-1.5e3,true,[]]})");
    // What is written reads back as the same value.
    EXPECT_EQ(LerJSON(EscreverJSONCompacto(corpo)), corpo);
}

TEST(EscreverJSONIndentado, IndentsByFourAndKeepsCharactersBeyondAscii) {
    auto valor = LerJSON(R"({"a":[1,{"b":"x\/\u00e7"}],"c":{},"d":[],"e":"\u0001\t"})");
    ASSERT_TRUE(valor);
    const std::string esperado =
        "{\r\n"
        "    \"a\": [\r\n"
        "        1,\r\n"
        "        {\r\n"
        "            \"b\": \"x\\/\xC3\xA7\"\r\n"
        "        }\r\n"
        "    ],\r\n"
        "    \"c\": {},\r\n"
        "    \"d\": [],\r\n"
        "    \"e\": \"\\u0001\\t\"\r\n"
        "}";
    EXPECT_EQ(EscreverJSONIndentado(*valor), esperado);
    EXPECT_EQ(LerJSON(esperado), valor);
    EXPECT_EQ(EscreverJSONIndentado(TValorJSON::Numero("1.50")), "1.50");
    EXPECT_EQ(EscreverJSONIndentado(TValorJSON::Texto("a\"b")), "\"a\\\"b\"");
}

TEST(TextoDoValor, FollowsTheRulesForEachKind) {
    struct Caso {
        const char* json;
        const char* esperado;
    };
    const Caso casos[] = {
        {R"("texto")", "texto"},
        {R"("")", ""},
        {"true", "true"},
        {"false", "false"},
        {"null", "null"},
        {"{}", ""},
        {"[1]", ""},
        {"12", "12"},
        {"12.0", "12"},
        {"1.5", "1,5"},
        {"-0.25", "-0,25"},
        {"12345678901", "12345678901"},                  // 11 characters: through double, still exact
        {"123456789012", "123456789012"},                // 12 characters: as an integer
        {"9223372036854775807", "9223372036854775807"},  // beyond a double's precision
        {"-9223372036854775808", "-9223372036854775808"},
        {"9007199254740993", "9007199254740993"},
        {"123456789012.5", "123456789012,5"},
        {"12345678901234567890", "1,23456789012346E19"},  // no 64-bit integer: through double
        {"1e3", "1000"},
        {"1e20", "1E20"},
        {"1.5e-7", "1,5E-7"},
        {"0.1", "0,1"},
        {"1e-400", "0"},                                 // below the smallest double
    };
    for (const auto& caso : casos) {
        auto valor = LerJSON(caso.json);
        ASSERT_TRUE(valor) << caso.json;
        EXPECT_EQ(TextoDoValor(*valor, Brasil), caso.esperado) << caso.json;
    }
    protocolo::TConfiguracoesRegionais ponto;
    ponto.SeparadorDecimal = ".";
    EXPECT_EQ(TextoDoValor(*LerJSON("1.5"), ponto), "1.5");
}

}  // namespace
}  // namespace ondaris::sync
