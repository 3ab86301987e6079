// A chain that starts from stores whose tables already hold rows, and a
// store added to it later from a copy of another store's database, through
// the real programs: the reference central server, one "ondarisd" per
// store for the cycles, and the technician's commands --envio-inicial and
// --nova-loja run as a technician runs them. Rows are compared column by
// column, read through the database layer as SYSDBA.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "protocolo/json.h"
#include "protocolo/texto.h"
#include "support/banco_teste.h"
#include "support/loja_e2e.h"

namespace {

using namespace std::chrono_literals;
using ondaris::teste::AgenteE2E;
using ondaris::teste::BancoTeste;
using ondaris::teste::CentralE2E;
using ondaris::teste::LeitorLoja;
using ondaris::teste::Inteiro;
using ondaris::teste::Processo;

struct Execucao {
    int Status = -1;
    std::string Saida;
};

// The lines of `b` that `a` lacks and the other way round, a few of each.
testing::AssertionResult MesmasLinhas(const char* qual, const std::vector<std::string>& a,
                                      const std::vector<std::string>& b) {
    if (a == b) return testing::AssertionSuccess();
    auto x = a, y = b;
    std::sort(x.begin(), x.end());
    std::sort(y.begin(), y.end());
    std::vector<std::string> soA, soB;
    std::set_difference(x.begin(), x.end(), y.begin(), y.end(), std::back_inserter(soA));
    std::set_difference(y.begin(), y.end(), x.begin(), x.end(), std::back_inserter(soB));
    auto r = testing::AssertionFailure() << qual << ": " << a.size() << " rows against " << b.size();
    for (std::size_t i = 0; i < std::min<std::size_t>(soA.size(), 6); ++i) r << "\n  only in the first: " << soA[i];
    for (std::size_t i = 0; i < std::min<std::size_t>(soB.size(), 6); ++i) r << "\n  only in the second: " << soB[i];
    return r;
}

bool Contem(const std::vector<std::string>& linhas, const std::string& trecho) {
    return std::any_of(linhas.begin(), linhas.end(),
                       [&](const std::string& l) { return l.find(trecho) != std::string::npos; });
}

class NovaLojaE2E : public ondaris::teste::DuasLojasE2E {
protected:
    // SQL run with the example tables' logging triggers off: rows that were
    // there before replication was installed.
    static void AntesDaInstalacao(const BancoTeste& banco, const std::string& sqlUtf8) {
        std::string desligar, ligar;
        for (const auto& t : ondaris::teste::TabelasExemplo()) {
            desligar += "ALTER TRIGGER " + t + "_RPL INACTIVE;\n";
            ligar += "ALTER TRIGGER " + t + "_RPL ACTIVE;\n";
        }
        Executar(banco, desligar + "COMMIT;\n" + sqlUtf8 + "\nCOMMIT;\n" + ligar);
    }

    // A technician's command of ondarisd in the agent's folder, logged in
    // as the administrator.
    static Execucao Comando(const AgenteE2E& agente, std::vector<std::string> argumentos) {
        argumentos.insert(argumentos.begin(), (agente.Pasta() / "ondarisd").string());
        auto ambiente = ondaris::teste::AmbienteBrasileiro();
        ambiente.push_back("ISC_USER=SYSDBA");
        ambiente.push_back("ISC_PASSWORD=" + ondaris::teste::SenhaSysdba());
        Processo p(std::move(argumentos), agente.Pasta() / "comando.txt", std::move(ambiente));
        Execucao r;
        r.Status = p.Esperar(120s);
        r.Saida = p.Saida();
        return r;
    }

    static std::vector<std::string> Retrato(const BancoTeste& banco) {
        LeitorLoja leitor(banco);
        return leitor.Retrato();
    }

    // Nothing waits anywhere: the server holds every store's whole log and
    // has nothing for any store beyond what it last asked for.
    bool Quieto(std::size_t lojas) {
        const auto json = ondaris::protocolo::LerJSON(central_->Get("/status"));
        if (!json || !json->Membro("lojas")) return false;
        const auto& estado = json->Membro("lojas")->Elementos();
        for (const auto& l : estado) {
            const auto m = [&](const char* nome) { return l.Membro(nome) ? l.Membro(nome)->Bruto() : "<missing>"; };
            if (m("comandosaguardando") != "0" || m("ultimaordemenviada") != m("ultimomovimentoloja")) return false;
        }
        return estado.size() == lojas;
    }

    // Rounds of one cycle per agent, in the order given, until a round
    // leaves the chain quiet.
    void SincronizarAteQuieto(const std::vector<AgenteE2E*>& agentes) {
        for (int rodada = 0; rodada < 6; ++rodada) {
            for (std::size_t i = 0; i < agentes.size(); ++i) {
                const std::string qual = "agent " + std::to_string(i + 1) + " of round " + std::to_string(rodada + 1);
                ASSERT_NO_FATAL_FAILURE(ondaris::teste::RodarSemFalha(*agentes[i], qual.c_str()));
            }
            if (Quieto(agentes.size())) return;
        }
        FAIL() << "the chain is not quiet after 6 rounds: " << central_->Get("/status");
    }

    // Declared first, destroyed last: the programs are gone before the
    // databases are dropped.
    std::unique_ptr<BancoTeste> loja3_;
    std::unique_ptr<AgenteE2E> agente3_;
};

TEST_F(NovaLojaE2E, RowsFromBeforeInstallationAndANewStoreFromACopyReachEveryStore) {
    // Store 1 had its rows before replication; store 2 had its own version
    // of product 1, which the initial send replaces.
    AntesDaInstalacao(
        *loja1_,
        "INSERT INTO PRODUTOS (CODIGO, DESCRICAO, UNIDADE, PESOLIQUIDO, PRECOREFERENCIA, ATIVO, CADASTRO,"
        " ULTIMAALTERACAO, OBSERVACOES, FOTO, DESCRICAOETIQUETA) VALUES (1, 'Café São João', 'PÇ', 0.5, 0.1, TRUE, DATE '2020-02-29',"
        " TIMESTAMP '2020-03-01 08:15:30.123', 'Moagem média', x'00FF10', 'Café');\n"
        "INSERT INTO PRODUTOS (CODIGO, DESCRICAO) VALUES (2, 'Chá');\n"
        "INSERT INTO PRODUTOS (CODIGO, DESCRICAO, ATIVO) VALUES (3, 'Mate', FALSE);\n"
        "INSERT INTO PRECOS (CODIGOLOJA, CODIGOPRODUTO, PRECOVENDA, VIGENCIA) VALUES (1, 1, 21.9, DATE '2020-01-01');\n"
        "INSERT INTO PRECOS (CODIGOLOJA, CODIGOPRODUTO, PRECOVENDA) VALUES (1, 2, 7.25);\n"
        "INSERT INTO VENDAS (NUMERO, CODIGOLOJA, DATAVENDA, HORAVENDA, TOTAL) VALUES (500, 1, DATE '2020-02-29',"
        " TIME '23:59:59.999', 29.15);\n"
        "INSERT INTO ITENSVENDA (NUMEROVENDA, ITEM, CODIGOPRODUTO, QUANTIDADE, PRECOUNITARIO) VALUES (500, 1, 1, 1, 21.9);\n"
        "INSERT INTO ITENSVENDA (NUMEROVENDA, ITEM, CODIGOPRODUTO, QUANTIDADE, PRECOUNITARIO) VALUES (500, 2, 2, 1, 7.25);");
    AntesDaInstalacao(*loja2_, "INSERT INTO PRODUTOS (CODIGO, DESCRICAO) VALUES (1, 'Nome antigo da loja 2');");
    ASSERT_EQ(Inteiro(*loja1_, "SELECT COUNT(*) FROM LOG_REPLICACAO"), 0);

    // The initial send: first what it would do, then done.
    const std::vector<std::string> tabelas{"PRODUTOS", "PRECOS", "VENDAS", "ITENSVENDA"};
    auto argumentos = tabelas;
    argumentos.insert(argumentos.begin(), "--envio-inicial");
    const auto previa = Comando(*agente1_, argumentos);
    ASSERT_EQ(previa.Status, 0) << previa.Saida;
    EXPECT_NE(previa.Saida.find("PRODUTOS (chave CODIGO): 3 linhas existentes seriam registradas"), std::string::npos)
        << previa.Saida;
    EXPECT_EQ(Inteiro(*loja1_, "SELECT COUNT(*) FROM LOG_REPLICACAO"), 0);
    argumentos.insert(argumentos.begin() + 1, "--confirmar");
    const auto envio = Comando(*agente1_, argumentos);
    ASSERT_EQ(envio.Status, 0) << envio.Saida;
    EXPECT_NE(envio.Saida.find("Total: 8 linhas registradas"), std::string::npos) << envio.Saida;

    // Replication runs; each store changes something of its own.
    Executar(*loja1_, "INSERT INTO PRODUTOS (CODIGO, DESCRICAO) VALUES (4, 'Pão francês');");
    Executar(*loja2_,
             "INSERT INTO PRODUTOS (CODIGO, DESCRICAO) VALUES (20, 'Da loja 2');\n"
             "INSERT INTO PRECOS (CODIGOLOJA, CODIGOPRODUTO, PRECOVENDA) VALUES (2, 1, 22.5);");
    ASSERT_NO_FATAL_FAILURE(SincronizarAteQuieto({agente1_.get(), agente2_.get()}));
    const auto inicio = Retrato(*loja1_);
    ASSERT_TRUE(MesmasLinhas("stores 1 and 2 after the initial send", inicio, Retrato(*loja2_)));
    EXPECT_TRUE(Contem(inicio, "PRODUTOS CODIGO=1 DESCRICAO='Café São João'"));
    EXPECT_FALSE(Contem(inicio, "Nome antigo da loja 2"));
    EXPECT_EQ(inicio.size(), 11u);

    // Store 1 changes a row it has not sent yet when its database is
    // copied; after the copy both stores go on and exchange their changes.
    Executar(*loja1_, "UPDATE PRODUTOS SET DESCRICAO = 'Chá antes da cópia' WHERE CODIGO = 2;");
    loja3_ = std::make_unique<BancoTeste>(loja1_->CopiaRestaurada());
    const std::int64_t posicaoDaCopia =
        Inteiro(*loja3_, "SELECT ULTIMORECEBIMENTO FROM RPL_CONFIGURACOES");
    ASSERT_GT(posicaoDaCopia, 0);
    Executar(*loja1_,
             "UPDATE PRODUTOS SET DESCRICAO = 'Mate depois da cópia' WHERE CODIGO = 3;\n"
             "DELETE FROM ITENSVENDA WHERE NUMEROVENDA = 500 AND ITEM = 2;");
    Executar(*loja2_,
             "INSERT INTO PRODUTOS (CODIGO, DESCRICAO) VALUES (21, 'Da loja 2, depois da cópia');\n"
             "UPDATE PRECOS SET PRECOVENDA = 23.75 WHERE CODIGOLOJA = 2 AND CODIGOPRODUTO = 1;");
    ASSERT_NO_FATAL_FAILURE(SincronizarAteQuieto({agente1_.get(), agente2_.get()}));

    // The copy becomes store 3, with store 3's credential in its link.
    agente3_ = std::make_unique<AgenteE2E>(*loja3_, ondaris::teste::AmbienteBrasileiro());
    const auto link = [&](std::int32_t loja) {
        Executar(*loja3_, "UPDATE RPL_CONFIGURACOES SET LINKCENTRAL = '" + central_->Url(loja) + "';");
    };
    link(3);
    const auto nova = Comando(*agente3_, {"--nova-loja", "3"});
    ASSERT_EQ(nova.Status, 0) << nova.Saida;
    const std::vector<std::string> linhas{
             "Este banco é uma cópia da loja 1 e vai passar a ser a loja 3.\n",
             "O servidor central não tem nada enviado pela loja 3: o código está livre.\n",
             "Posição recebida da cópia: " + std::to_string(posicaoDaCopia) + ".\n",
             "O servidor central tem comandos para a loja 3 até a posição ",
             "A posição recebida continua " + std::to_string(posicaoDaCopia) + ".\n",
             "  PRECOS.CODIGOLOJA: 2 linhas (tabela replicada)\n"
             "  VENDAS.CODIGOLOJA: 1 linha (tabela replicada)\n",
    };
    for (const auto& linha : linhas)
        EXPECT_NE(nova.Saida.find(linha), std::string::npos) << linha << "\n---\n" << nova.Saida;
    EXPECT_EQ(Inteiro(*loja3_, "SELECT COUNT(*) FROM LOG_REPLICACAO"), 0);
    EXPECT_EQ(Inteiro(*loja3_, "SELECT CODIGOLOJA FROM RPL_CONFIGURACOES"), 3);
    // The code of a store that has sent is refused, as the central server
    // tells it; the copy stays store 3.
    link(2);
    const auto emUso = Comando(*agente3_, {"--nova-loja", "2"});
    EXPECT_EQ(emUso.Status, 1) << emUso.Saida;
    EXPECT_NE(emUso.Saida.find("Recusado: o servidor central já tem o log da loja 2 até a posição "),
              std::string::npos)
        << emUso.Saida;
    EXPECT_EQ(Inteiro(*loja3_, "SELECT CODIGOLOJA FROM RPL_CONFIGURACOES"), 3);
    link(3);

    // Store 3 works, and all three replicate until nothing is left.
    Executar(*loja3_,
             "INSERT INTO PRODUTOS (CODIGO, DESCRICAO) VALUES (30, 'Da loja 3');\n"
             "UPDATE PRODUTOS SET DESCRICAO = 'Café da loja 3' WHERE CODIGO = 1;\n"
             "INSERT INTO PRECOS (CODIGOLOJA, CODIGOPRODUTO, PRECOVENDA) VALUES (3, 1, 24.5);");
    ASSERT_NO_FATAL_FAILURE(SincronizarAteQuieto({agente3_.get(), agente1_.get(), agente2_.get()}));

    const auto r1 = Retrato(*loja1_);
    EXPECT_TRUE(MesmasLinhas("stores 1 and 2", r1, Retrato(*loja2_)));
    EXPECT_TRUE(MesmasLinhas("stores 1 and 3", r1, Retrato(*loja3_)));
    for (const char* trecho : {
             "PRODUTOS CODIGO=2 DESCRICAO='Chá antes da cópia'",
             "PRODUTOS CODIGO=3 DESCRICAO='Mate depois da cópia'",
             "PRODUTOS CODIGO=21 DESCRICAO='Da loja 2, depois da cópia'",
             "PRECOS CODIGOLOJA=2 CODIGOPRODUTO=1 PRECOVENDA=237500e-4",
             "PRODUTOS CODIGO=30 DESCRICAO='Da loja 3'",
             "PRODUTOS CODIGO=1 DESCRICAO='Café da loja 3'",
             "PRECOS CODIGOLOJA=3 CODIGOPRODUTO=1",
         })
        EXPECT_TRUE(Contem(r1, trecho)) << trecho;
    EXPECT_FALSE(Contem(r1, "ITENSVENDA NUMEROVENDA=500 ITEM=2 "));
    EXPECT_EQ(r1.size(), 13u);
}

}  // namespace
