// The store database script: replication objects, triggers and the block
// procedure, checked on a real server through isql.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/banco_teste.h"

namespace ondaris::teste {
namespace {

TEST(BancoTesteFixture, CreatesRunsAndDropsADatabase) {
    std::string caminho;
    {
        BancoTeste banco;
        caminho = banco.Caminho();
        const auto saida = banco.ExecutarSql("SET LIST ON;\nSELECT COUNT(*) AS N FROM LOG_REPLICACAO;");
        EXPECT_NE(saida.find("N                               0"), std::string::npos) << saida;
        EXPECT_THROW(banco.ExecutarSql("SELECT * FROM TABELA_QUE_NAO_EXISTE;"), ErroBancoTeste);
    }
    EXPECT_FALSE(std::filesystem::exists(caminho)) << caminho;
    BancoTeste vazio(BancoTeste::Conteudo::Vazio);
    EXPECT_THROW(vazio.ExecutarSql("SELECT * FROM LOG_REPLICACAO;"), ErroBancoTeste);
}

}  // namespace
}  // namespace ondaris::teste
