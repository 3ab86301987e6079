// The column codecs on their own: every kind through a message buffer and
// back, the kind's own codec chosen whatever the order of the kinds, and
// values a kind refuses.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "db/codecs.h"
#include "db/valor.h"

namespace ondaris::db {
using protocolo::Data;
using protocolo::DataHora;
using protocolo::Hora;
namespace {

DescricaoCampo Campo(TTipoCampo categoria, unsigned tamanho, int escala = 0, unsigned conjunto = kCharsetLatin1) {
    DescricaoCampo d;
    d.Nome = "C";
    d.Categoria = categoria;
    d.Tamanho = tamanho;
    d.Escala = escala;
    d.ConjuntoCaracteres = conjunto;
    if (categoria == TTipoCampo::tcBlobTexto) d.SubTipo = 1;
    return d;
}

struct Caso {
    const char* nome;
    DescricaoCampo campo;
    Valor gravado;
    Valor lido;  // what reading it back gives
};

// Encodes `v` and decodes it again, as a statement binds and reads.
std::optional<Valor> IdaEVolta(const DescricaoCampo& c, const Valor& v, bool exatos = false) {
    std::vector<std::uint64_t> mensagem(c.Tamanho / 8 + 2, 0);
    auto* dado = reinterpret_cast<unsigned char*>(mensagem.data());
    std::optional<std::string> blob;
    const Codec& codec = CodecDe(c, exatos);
    if (!codec.Gravar || codec.Gravar(c, v, dado, blob) != Gravacao::Gravado) return std::nullopt;
    return codec.Ler(c, dado, blob.value_or(""));
}

TEST(Codecs, EveryKindComesBackAsItWent) {
    const Caso casos[] = {
        {"smallint", Campo(TTipoCampo::tcSmallint, 2), std::int16_t{-32768}, std::int16_t{-32768}},
        {"integer", Campo(TTipoCampo::tcInteger, 4), std::int32_t{2147483647}, std::int32_t{2147483647}},
        {"bigint", Campo(TTipoCampo::tcBigint, 8), std::numeric_limits<std::int64_t>::min(),
         std::numeric_limits<std::int64_t>::min()},
        {"integer from a smaller integer", Campo(TTipoCampo::tcInteger, 4), std::int16_t{7}, std::int32_t{7}},
        {"numeric", Campo(TTipoCampo::tcBigint, 8, -2), Numerico{-12345, -2}, Numerico{-12345, -2}},
        {"numeric from fewer places", Campo(TTipoCampo::tcInteger, 4, -3), Numerico{15, -1}, Numerico{1500, -3}},
        {"float", Campo(TTipoCampo::tcFloat, 4), 1.5f, 1.5f},
        {"double", Campo(TTipoCampo::tcDouble, 8), 0.1, 0.1},
        {"date", Campo(TTipoCampo::tcData, 4), Data{2024, 2, 29}, Data{2024, 2, 29}},
        {"time", Campo(TTipoCampo::tcHora, 4), Hora{23, 59, 58, 9999}, Hora{23, 59, 58, 9999}},
        {"timestamp", Campo(TTipoCampo::tcDataHora, 8), DataHora{{1, 1, 1}, {0, 0, 0, 1}},
         DataHora{{1, 1, 1}, {0, 0, 0, 1}}},
        {"timestamp from a date", Campo(TTipoCampo::tcDataHora, 8), Data{2026, 12, 10},
         DataHora{{2026, 12, 10}, {}}},
        {"char loses its trailing blanks", Campo(TTipoCampo::tcChar, 5), std::string("ação"), std::string("ação")},
        {"varchar", Campo(TTipoCampo::tcVarchar, 12), std::string("Ünïcødé"), std::string("Ünïcødé")},
        {"varchar in UTF-8", Campo(TTipoCampo::tcVarchar, 8, 0, kCharsetUtf8), std::string("€"),
         std::string("€")},
        {"octets", Campo(TTipoCampo::tcVarchar, 4, 0, kCharsetOctets), std::string("\x01\xff"),
         Bytes{0x01, 0xff}},
        {"text blob", Campo(TTipoCampo::tcBlobTexto, 8), std::string("linha\r\noutra"),
         std::string("linha\r\noutra")},
        {"binary blob", Campo(TTipoCampo::tcBlobBinario, 8), Bytes{0, 1, 2, 255}, Bytes{0, 1, 2, 255}},
        {"boolean", Campo(TTipoCampo::tcBooleano, 1), true, true},
    };
    for (const Caso& c : casos) {
        SCOPED_TRACE(c.nome);
        const auto lido = IdaEVolta(c.campo, c.gravado);
        ASSERT_TRUE(lido.has_value());
        EXPECT_EQ(*lido, c.lido) << NomeTipoValor(*lido);
    }
}

TEST(Codecs, AKindRefusesValuesOfAnotherKind) {
    const Caso casos[] = {
        {"text into an integer", Campo(TTipoCampo::tcInteger, 4), std::string("1"), {}},
        {"a too large integer", Campo(TTipoCampo::tcSmallint, 2), std::int32_t{40000}, {}},
        {"a number into a date", Campo(TTipoCampo::tcData, 4), std::int32_t{1}, {}},
        {"bytes into a text blob", Campo(TTipoCampo::tcBlobTexto, 8), Bytes{1}, {}},
        {"text into a binary blob", Campo(TTipoCampo::tcBlobBinario, 8), std::string("x"), {}},
        {"anything into a kind the layer does not know", Campo(TTipoCampo::tcOutro, 8), std::int32_t{1}, {}},
    };
    for (const Caso& c : casos) {
        SCOPED_TRACE(c.nome);
        EXPECT_EQ(IdaEVolta(c.campo, c.gravado), std::nullopt);
    }
}

// A CHAR of blanks is empty once its trailing blanks go.
TEST(Codecs, AnEmptyTextIsNullUnlessTextsAreExact) {
    for (const auto& campo : {Campo(TTipoCampo::tcVarchar, 10), Campo(TTipoCampo::tcChar, 3),
                              Campo(TTipoCampo::tcBlobTexto, 8)}) {
        SCOPED_TRACE(campo.NomeTipo());
        std::vector<std::uint64_t> mensagem(4, 0);
        std::optional<std::string> blob;
        const std::string vazio = campo.Categoria == TTipoCampo::tcChar ? "   " : "";
        EXPECT_EQ(CodecDe(campo, false).Gravar(campo, vazio, reinterpret_cast<unsigned char*>(mensagem.data()), blob),
                  Gravacao::Nulo);
        EXPECT_EQ(IdaEVolta(campo, std::string(vazio), true), Valor(std::string()));
    }
}

}  // namespace
}  // namespace ondaris::db
