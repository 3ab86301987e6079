// The row a command names: the same identity on both sides of the exchange.
#include <gtest/gtest.h>

#include <string>

#include "protocolo/linha.h"

namespace ondaris::sync {
using protocolo::IdentidadeDe;
using protocolo::TIdentidadeLinha;
namespace {

TEST(IdentidadeLinha, TableInAsciiUpperCaseAndKeysAsTheyCame) {
    const TIdentidadeLinha linha = IdentidadeDe("Precos_ç", "1", "abc");
    EXPECT_EQ(linha.Tabela, "PRECOS_ç");  // only ASCII letters change
    EXPECT_EQ(linha.Chave1, "1");
    EXPECT_EQ(linha.Chave2, "abc");
    EXPECT_EQ(linha.Descricao(), "PRECOS_ç (1, abc)");
    EXPECT_EQ(IdentidadeDe("produtos", "20", "").Descricao(), "PRODUTOS (20)");
    EXPECT_EQ(IdentidadeDe("precos", "1", "2").Chave(), IdentidadeDe("PRECOS", "1", "2").Chave());
}

TEST(IdentidadeLinha, KeyTextsThatSplitDifferentlyNameDifferentRows) {
    struct Caso {
        const char* tabela;
        const char* chave1;
        const char* chave2;
    };
    const Caso casos[] = {
        {"A", "1", "23"}, {"A", "12", "3"}, {"A", "123", ""}, {"A1", "2", "3"}, {"A", "1:2", "3"}, {"A", "1", ":23"},
    };
    for (const Caso& a : casos)
        for (const Caso& b : casos) {
            if (&a == &b) continue;
            EXPECT_NE(IdentidadeDe(a.tabela, a.chave1, a.chave2).Chave(), IdentidadeDe(b.tabela, b.chave1, b.chave2).Chave())
                << a.tabela << "|" << a.chave1 << "|" << a.chave2 << " vs " << b.tabela << "|" << b.chave1 << "|" << b.chave2;
        }
}

}  // namespace
}  // namespace ondaris::sync
