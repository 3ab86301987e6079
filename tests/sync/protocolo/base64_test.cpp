// Base64 of binary blobs: line breaks, padding and the forgiving decoder.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "protocolo/base64.h"

namespace ondaris::sync {
using protocolo::Base64toStream;
using protocolo::ErroBase64;
using protocolo::StreamtoBase64;
namespace {

std::vector<uint8_t> Bytes(std::size_t n) {
    std::vector<uint8_t> dados(n);
    uint32_t x = 2463534242u;
    for (auto& b : dados) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = static_cast<uint8_t>(x);
    }
    return dados;
}

std::string SemQuebras(std::string texto) {
    std::erase(texto, '\r');
    std::erase(texto, '\n');
    return texto;
}

TEST(StreamtoBase64, KnownTextsAndLineBoundaries) {
    EXPECT_EQ(StreamtoBase64(std::string_view("")), "");
    EXPECT_EQ(StreamtoBase64(std::string_view("f")), "Zg==");
    EXPECT_EQ(StreamtoBase64(std::string_view("fo")), "Zm8=");
    EXPECT_EQ(StreamtoBase64(std::string_view("foo")), "Zm9v");
    EXPECT_EQ(StreamtoBase64(std::string_view("foobar")), "Zm9vYmFy");
    EXPECT_EQ(StreamtoBase64(std::string_view("\xFF\xFE\x00", 3)), "//4A");

    auto t57 = StreamtoBase64(Bytes(57));
    ASSERT_EQ(t57.size(), 78u);
    EXPECT_EQ(t57.substr(76), "\r\n");  // a full last line still ends with CR LF

    auto t58 = StreamtoBase64(Bytes(58));
    ASSERT_EQ(t58.size(), 82u);
    EXPECT_EQ(t58.substr(76, 2), "\r\n");
    EXPECT_EQ(t58.substr(80), "==");
    EXPECT_EQ(t58.substr(0, 76), t57.substr(0, 76));

    auto t114 = StreamtoBase64(Bytes(114));
    EXPECT_EQ(t114.size(), 156u);
    EXPECT_EQ(t114.substr(76, 2), "\r\n");
    EXPECT_EQ(t114.substr(154), "\r\n");
}

TEST(Base64, RoundTripsOverManySizesWithAndWithoutLineBreaks) {
    for (std::size_t n = 0; n <= 400; ++n) {
        auto dados = Bytes(n);
        auto texto = StreamtoBase64(dados);
        // Line structure: every line but the last is 76 characters.
        std::size_t linhas = 0;
        for (std::size_t pos = 0; (pos = texto.find("\r\n", pos)) != std::string::npos; pos += 2) ++linhas;
        EXPECT_EQ(linhas, n / 57) << n;
        EXPECT_EQ(SemQuebras(texto).size(), (n + 2) / 3 * 4) << n;
        EXPECT_EQ(Base64toStream(texto), dados) << n;
        EXPECT_EQ(Base64toStream(SemQuebras(texto)), dados) << n;
    }
    auto grande = Bytes(100000);
    EXPECT_EQ(Base64toStream(StreamtoBase64(grande)), grande);
}

// Line breaks anywhere and padding at the end, or none, are base64; every
// other text is refused rather than decoded into bytes it never held.
TEST(Base64toStream, TakesLineBreaksAndPaddingRefusesEverythingElse) {
    struct Caso {
        std::string texto;
        std::optional<std::string> esperado;
    };
    const Caso casos[] = {
        {"", ""},
        {"Zm9v", "foo"},
        {"Zm\r\n9v\r\n", "foo"},
        {"Zg==", "f"},
        {"Zg", "f"},  // padding is optional
        {"Zm8=", "fo"},
        {"Zm8", "fo"},
        {"Zg==\r\n", "f"},
        {"Zm9vY", std::nullopt},   // a single left-over character
        {"Zm=9v", std::nullopt},   // "=" inside
        {"Zg===", std::nullopt},   // more padding than the group needs
        {"Zm9v=", std::nullopt},
        {"Zg==Zg==", std::nullopt},
        {" Zm9v", std::nullopt},
        {"Zm9v!", std::nullopt},
        {"*#@!\xC3\xA7", std::nullopt},
        {"\x80Zm9v", std::nullopt},
    };
    for (const auto& caso : casos) {
        SCOPED_TRACE(caso.texto);
        if (caso.esperado) {
            const auto bytes = Base64toStream(caso.texto);
            EXPECT_EQ(std::string(bytes.begin(), bytes.end()), *caso.esperado);
        } else {
            EXPECT_THROW(Base64toStream(caso.texto), ErroBase64);
        }
    }
}

}  // namespace
}  // namespace ondaris::sync
