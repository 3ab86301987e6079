// The input message's layout with blob parameters: when blobs travel
// inline, how they are written there, and the move to the server's own
// layout when one does not fit.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "db/mensagem.h"

namespace ondaris::db {
namespace {

DescricaoCampo Parametro(TTipoCampo categoria, unsigned tamanho, unsigned deslocamento, unsigned nulo,
                         unsigned conjunto = kCharsetLatin1) {
    DescricaoCampo d;
    d.Categoria = categoria;
    d.Tamanho = tamanho;
    d.Deslocamento = deslocamento;
    d.DeslocamentoNulo = nulo;
    d.ConjuntoCaracteres = conjunto;
    return d;
}

TEST(Mensagem, BlobsTravelInlineUpToTheLargestVarchar) {
    const std::vector<DescricaoCampo> parametros = {Parametro(TTipoCampo::tcInteger, 4, 0, 4),
                                                    Parametro(TTipoCampo::tcBlobBinario, kMaximoVarchar, 8, 6)};
    struct Caso {
        std::optional<std::string> blob;
        bool cabe;
    };
    const Caso casos[] = {
        {std::nullopt, true},
        {std::string(), true},
        {std::string(kMaximoVarchar, 'x'), true},
        {std::string(kMaximoVarchar + 1, 'x'), false},
    };
    for (const Caso& c : casos) {
        SCOPED_TRACE(c.blob ? c.blob->size() : -1);
        EXPECT_EQ(BlobsCabemEmLinha(parametros, {std::nullopt, c.blob}), c.cabe);
    }
    // A long text bound to a VARCHAR is not a blob: it does not count.
    const std::vector<DescricaoCampo> semBlob = {Parametro(TTipoCampo::tcVarchar, 40000, 0, 40002)};
    EXPECT_TRUE(BlobsCabemEmLinha(semBlob, {std::string(40000, 'x')}));
}

TEST(Mensagem, AnInlineBlobIsItsLengthThenItsBytes) {
    const std::vector<DescricaoCampo> parametros = {Parametro(TTipoCampo::tcBlobTexto, 100, 2, 0),
                                                    Parametro(TTipoCampo::tcBlobBinario, 100, 104, 102)};
    std::vector<unsigned char> entrada(210, 0xAA);
    GravarBlobsEmLinha(parametros, {std::string("abc"), std::nullopt}, entrada.data());
    std::uint16_t tamanho = 0;
    std::memcpy(&tamanho, entrada.data() + 2, sizeof tamanho);
    EXPECT_EQ(tamanho, 3);
    EXPECT_EQ(std::string(entrada.begin() + 4, entrada.begin() + 7), "abc");
    // An unbound blob leaves its place alone.
    EXPECT_EQ(entrada[104], 0xAA);
}

TEST(Mensagem, TheServersLayoutGetsEveryValueAndIndicatorButTheBlobs) {
    // Inline: INTEGER at 0 (null at 4), VARCHAR(3) at 6 (null at 12), blob as
    // VARCHAR at 14 (null at 50). The server's: other places, the blob an id.
    const std::vector<DescricaoCampo> inline_ = {Parametro(TTipoCampo::tcInteger, 4, 0, 4),
                                                 Parametro(TTipoCampo::tcVarchar, 3, 6, 12),
                                                 Parametro(TTipoCampo::tcBlobBinario, 34, 14, 50)};
    const std::vector<DescricaoCampo> original = {Parametro(TTipoCampo::tcInteger, 4, 20, 24),
                                                  Parametro(TTipoCampo::tcVarchar, 3, 10, 16),
                                                  Parametro(TTipoCampo::tcBlobBinario, 8, 0, 8)};
    std::vector<unsigned char> entrada(52, 0), servidor(30, 0xEE);
    const std::int32_t inteiro = -5;
    std::memcpy(entrada.data(), &inteiro, sizeof inteiro);
    const std::uint16_t tres = 3;
    std::memcpy(entrada.data() + 6, &tres, sizeof tres);
    std::memcpy(entrada.data() + 8, "xyz", 3);
    const std::int16_t nulo = -1, presente = 0;
    std::memcpy(entrada.data() + 4, &presente, sizeof presente);
    std::memcpy(entrada.data() + 12, &presente, sizeof presente);
    std::memcpy(entrada.data() + 50, &nulo, sizeof nulo);

    CopiarParaLayoutOriginal(inline_, entrada.data(), original, servidor.data());

    std::int32_t lido = 0;
    std::memcpy(&lido, servidor.data() + 20, sizeof lido);
    EXPECT_EQ(lido, -5);
    EXPECT_EQ(std::string(servidor.begin() + 12, servidor.begin() + 15), "xyz");
    std::int16_t indicador = 1;
    std::memcpy(&indicador, servidor.data() + 24, sizeof indicador);
    EXPECT_EQ(indicador, 0);
    std::memcpy(&indicador, servidor.data() + 8, sizeof indicador);
    EXPECT_EQ(indicador, -1);
    EXPECT_EQ(servidor[0], 0xEE) << "the blob's id is the caller's to write";
}

TEST(Mensagem, AnInlineBlobKeepsItsTextOrIsOctets) {
    EXPECT_EQ(ConjuntoDoBlobEmLinha(Parametro(TTipoCampo::tcBlobTexto, 8, 0, 0, kCharsetUtf8)), kCharsetUtf8);
    EXPECT_EQ(ConjuntoDoBlobEmLinha(Parametro(TTipoCampo::tcBlobTexto, 8, 0, 0, kCharsetNone)), kCharsetLatin1);
    EXPECT_EQ(ConjuntoDoBlobEmLinha(Parametro(TTipoCampo::tcBlobBinario, 8, 0, 0, kCharsetUtf8)), kCharsetOctets);
}

}  // namespace
}  // namespace ondaris::db
