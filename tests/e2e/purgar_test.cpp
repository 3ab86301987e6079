// "ondaris-central --banco ... purgar": what the operator reads, in the
// program itself, over a database the store of commands has filled.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "central/armazem.h"
#include "protocolo/json.h"
#include "support/loja_e2e.h"
#include "support/pasta_temporaria.h"

namespace {

using namespace std::chrono_literals;

ondaris::central::BlocoRecebido Bloco(std::int32_t loja, int primeira, int quantos) {
    ondaris::central::BlocoRecebido b;
    b.Loja = loja;
    for (int ordem = primeira; ordem < primeira + quantos; ++ordem) {
        ondaris::central::ComandoRecebido c;
        c.Ordem = ordem;
        c.Json = R"({"ordem":")" + std::to_string(ordem) + R"(","codigolojadestino":"","acao":"U","tabela":"PRODUTOS",)"
                 R"("atualvalorchave1":")" + std::to_string(loja * 1000 + ordem) + R"(","campos":{"CODIGO":"1"}})";
        c.Linha = ondaris::central::LinhaDoComando(*ondaris::protocolo::LerJSON(c.Json));
        b.Comandos.push_back(std::move(c));
    }
    return b;
}

TEST(PurgarTest, TheCommandSaysWhatItRemovedAndWhichStoresHoldTheRestBack) {
    ondaris::teste::PastaTemporaria pasta("ondaris-purgar");
    const std::string banco = (pasta.Caminho() / "central.sqlite").string();
    const auto purgar = [&](const char* nome) {
        ondaris::teste::Processo p({ONDARIS_BINARY_DIR "/central/ondaris-central", "--banco", banco, "purgar"},
                                   pasta.Caminho() / (std::string(nome) + ".out"));
        EXPECT_EQ(p.Esperar(30s), 0) << p.Saida();
        return p.Saida();
    };
    struct Caso {
        const char* nome;
        std::vector<std::pair<std::int32_t, std::int64_t>> recebem;  // (store, received up to) before it runs
        const char* saida;
    };
    {
        ondaris::central::Armazem armazem(banco);
        EXPECT_EQ(purgar("vazio"), "nenhum comando removido: nenhuma loja conhecida\n");
        armazem.Gravar(Bloco(1, 1, 4));  // positions 1 to 4
        armazem.Gravar(Bloco(2, 1, 2));  // 5, 6
    }
    const std::vector<Caso> casos{
        {"ninguem", {}, "nenhum comando removido\nas lojas 1 e 2 ainda não receberam nenhum comando\n"},
        {"um", {{1, 5}, {2, 1}},
         "1 comando removido: todas as lojas já receberam até a posição 1\n"
         "a loja 2 ainda não recebeu além da posição 1\n"},
        {"nenhum", {},
         "nenhum comando removido: todas as lojas já receberam até a posição 1\n"
         "a loja 2 ainda não recebeu além da posição 1\n"},
        {"varios", {{2, 4}, {3, 5}},
         "3 comandos removidos: todas as lojas já receberam até a posição 4\n"
         "a loja 2 ainda não recebeu além da posição 4\n"},
        {"tres", {{1, 4}, {2, 4}, {3, 4}},
         "nenhum comando removido: todas as lojas já receberam até a posição 4\n"
         "as lojas 1, 2 e 3 ainda não receberam além da posição 4\n"},
    };
    for (const Caso& c : casos) {
        {
            ondaris::central::Armazem armazem(banco);
            for (const auto& [loja, ate] : c.recebem) armazem.Receber(loja, ate, 1000);
        }
        EXPECT_EQ(purgar(c.nome), c.saida) << c.nome;
    }
}

TEST(PurgarTest, AnUnreadableDatabaseIsAFailureThatSaysWhy) {
    ondaris::teste::PastaTemporaria pasta("ondaris-purgar");
    ondaris::teste::Processo p({ONDARIS_BINARY_DIR "/central/ondaris-central", "--banco",
                                (pasta.Caminho() / "nao-existe" / "central.sqlite").string(), "purgar"},
                               pasta.Caminho() / "saida.out");
    EXPECT_EQ(p.Esperar(30s), 1);
    EXPECT_NE(p.Saida().find("não foi possível abrir"), std::string::npos) << p.Saida();
}

}  // namespace
