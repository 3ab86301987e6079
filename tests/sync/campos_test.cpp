// A column's text in a send body: what TextoDoCampo gives for a stored
// value, as the body carries it.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "db/valor.h"
#include "protocolo/json.h"
#include "protocolo/regional.h"
#include "sync/enviar.h"

namespace ondaris::sync {
using protocolo::EscreverJSONCompacto;
using protocolo::LerJSON;
using protocolo::TEscritorJSON;
using protocolo::TValorJSON;
namespace {

const auto Brasil = protocolo::TConfiguracoesRegionais::Brasileiras();

TEST(TextoDoCampo, KeepsLineBreaksAndEmptyTextThroughABody) {
    // A "campos" value keeps every line break and an empty text: written
    // into a body and read back, it is the very text of the column.
    db::DescricaoCampo varchar;
    varchar.Categoria = db::TTipoCampo::tcVarchar;
    varchar.ConjuntoCaracteres = db::kCharsetLatin1;
    db::DescricaoCampo fixo = varchar;
    fixo.Categoria = db::TTipoCampo::tcChar;
    struct Caso {
        const db::DescricaoCampo& coluna;
        std::string entrada;
        std::string esperado;
    };
    const Caso casos[] = {
        {varchar, "um\r\ndois", "um\r\ndois"}, {varchar, "um\ndois", "um\ndois"},
        {varchar, "um\rdois", "um\rdois"},     {varchar, "a\r\r\n\nb", "a\r\r\n\nb"},
        {varchar, "\r\n\r\n", "\r\n\r\n"},     {varchar, "fim\r", "fim\r"},
        {varchar, "\n\r", "\n\r"},           {varchar, "", ""},
        {varchar, " ", " "},                 {fixo, "", ""},
        {varchar, "\t\x01\x1F\x7F", "\t\x01\x1F\x7F"},
    };
    for (const auto& caso : casos) {
        SCOPED_TRACE(EscreverJSONCompacto(TValorJSON::Texto(caso.entrada)));
        const auto texto = TextoDoCampo(db::Valor(caso.entrada), caso.coluna, Brasil);
        ASSERT_TRUE(texto);
        EXPECT_EQ(*texto, caso.esperado);
        std::string corpo;
        TEscritorJSON json(corpo);
        json.AbrirObjeto();
        json.Nome("NOTA");
        json.Texto(*texto);
        json.FecharObjeto();
        for (unsigned char c : corpo) EXPECT_GE(c, 32) << "a raw control character in " << corpo;
        const auto lido = LerJSON(corpo);
        ASSERT_TRUE(lido) << corpo;
        EXPECT_EQ(lido->Membro("NOTA")->Bruto(), caso.esperado) << corpo;
    }
    EXPECT_EQ(TextoDoCampo(db::Valor(), varchar, Brasil), std::nullopt);  // NULL is left out
}

}  // namespace
}  // namespace ondaris::sync
