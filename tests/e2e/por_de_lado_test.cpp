// A command that stops a store for good, set aside by the technician's
// command its failure names, through the real programs: the reference
// central server and one "ondarisd" per store. A row of the sending store's
// log for a table that is gone holds back all its sending, and a received
// command the other store cannot apply holds back all its receiving, cycle
// after cycle, until the command the log entry names sets it aside; then
// the rest flows. Nothing is set aside by the agent itself.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "support/banco_teste.h"
#include "support/loja_e2e.h"

namespace {

using namespace std::chrono_literals;
using ondaris::teste::AgenteE2E;
using ondaris::teste::BancoTeste;
using ondaris::teste::CentralE2E;
using ondaris::teste::LeitorLoja;
using ondaris::teste::Linhas;
using ondaris::teste::Inteiro;

class PorDeLadoE2E : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ondaris::teste::GarantirUsuarioReplicacao(); }

    void SetUp() override {
        loja1_ = std::make_unique<BancoTeste>();
        loja2_ = std::make_unique<BancoTeste>();
        central_ = std::make_unique<CentralE2E>(ondaris::teste::EstruturaDe(*loja1_));
        ondaris::teste::ConfigurarLoja(*loja1_, 1, central_->Url(1));
        ondaris::teste::ConfigurarLoja(*loja2_, 2, central_->Url(2));
        agente1_ = std::make_unique<AgenteE2E>(*loja1_);
        agente2_ = std::make_unique<AgenteE2E>(*loja2_);
    }

    // The command the log's last failure names, as the technician copies it:
    // "ondarisd <opcao> <ordem>"; empty when there is none.
    static std::vector<std::string> ComandoNomeado(const std::string& log) {
        static const std::regex comando("para pôr este comando de lado: ondarisd (--por-de-lado-[a-z]+) ([0-9]+)");
        std::vector<std::string> r;
        for (std::sregex_iterator it(log.begin(), log.end(), comando), fim; it != fim; ++it)
            r = {(*it)[1].str(), (*it)[2].str()};
        return r;
    }

    // Two failed runs of the agent in a row, each with its own entry naming
    // the same command; nothing set aside by them.
    std::vector<std::string> ParadaDuasVezes(AgenteE2E& agente, const BancoTeste& banco) {
        std::vector<std::string> nomeado;
        for (int vez = 1; vez <= 2; ++vez) {
            const std::string antes = agente.Log();
            EXPECT_EQ(agente.RodarUmaVez(120s), 1) << "run " << vez << ":\n" << agente.Saida();
            const std::string novo = agente.Log().substr(antes.size());
            const auto comando = ComandoNomeado(novo);
            EXPECT_EQ(comando.size(), 2u) << "run " << vez << " logged:\n" << novo;
            if (vez == 1) nomeado = comando;
            else EXPECT_EQ(comando, nomeado);
            EXPECT_EQ(Inteiro(banco, "SELECT COUNT(*) FROM RPL_POSTOS_DE_LADO"), 0);
        }
        return nomeado;
    }

    std::unique_ptr<BancoTeste> loja1_, loja2_;
    std::unique_ptr<CentralE2E> central_;
    std::unique_ptr<AgenteE2E> agente1_, agente2_;
};

TEST_F(PorDeLadoE2E, ALogRowOfADroppedTableIsSetAsideByTheCommandItsFailureNamesAndTheRestIsSent) {
    // A table that was replicated and then dropped: its log row stays.
    loja1_->ExecutarSql("INSERT INTO PRODUTOS (CODIGO, DESCRICAO) VALUES (1, 'antes');\nCOMMIT;\n"
                        "INSERT INTO LOG_REPLICACAO (TIPO, TABELA, ATUALVALORCHAVE1) VALUES ('U', 'SUMIDA', '7');\n"
                        "COMMIT;\n"
                        "INSERT INTO PRODUTOS (CODIGO, DESCRICAO) VALUES (2, 'depois');\nCOMMIT;\n");
    const std::int64_t ordem = Inteiro(*loja1_, "SELECT ORDEM FROM LOG_REPLICACAO WHERE TABELA = 'SUMIDA'");

    const auto nomeado = ParadaDuasVezes(*agente1_, *loja1_);
    ASSERT_EQ(nomeado, (std::vector<std::string>{"--por-de-lado-envio", std::to_string(ordem)}));
    EXPECT_EQ(Inteiro(*loja1_, "SELECT COUNT(*) FROM LOG_REPLICACAO"), 3);

    // A row that can be sent is no row to set aside.
    const std::int64_t outra = Inteiro(*loja1_, "SELECT MAX(ORDEM) FROM LOG_REPLICACAO");
    const auto recusado = agente1_->Comando({"--por-de-lado-envio", std::to_string(outra)}, true);
    EXPECT_EQ(recusado.first, 1) << recusado.second;
    EXPECT_NE(recusado.second.find("pode ser enviada: não há o que pôr de lado"), std::string::npos)
        << recusado.second;
    EXPECT_EQ(Inteiro(*loja1_, "SELECT COUNT(*) FROM LOG_REPLICACAO"), 3);

    const auto feito = agente1_->Comando(nomeado, true);
    ASSERT_EQ(feito.first, 0) << feito.second;
    EXPECT_NE(feito.second.find("foi posta de lado sem ser enviada"), std::string::npos) << feito.second;
    EXPECT_EQ(Linhas(*loja1_, "SELECT LADO, ORDEM, TIPO, TABELA, ATUALVALORCHAVE1 FROM RPL_POSTOS_DE_LADO"),
              std::vector<std::string>{"'E' | " + std::to_string(ordem) + " | 'U' | 'SUMIDA' | '7'"});
    EXPECT_NE(Linhas(*loja1_, "SELECT MOTIVO FROM RPL_POSTOS_DE_LADO").front().find("SUMIDA"), std::string::npos);
    EXPECT_EQ(Inteiro(*loja1_, "SELECT COUNT(*) FROM LOG_REPLICACAO WHERE TABELA = 'SUMIDA'"), 0);

    ASSERT_NO_FATAL_FAILURE(ondaris::teste::RodarSemFalha(*agente1_, "store 1 after the command"));
    ASSERT_NO_FATAL_FAILURE(ondaris::teste::RodarSemFalha(*agente2_, "store 2"));
    EXPECT_EQ(Linhas(*loja2_, "SELECT CODIGO, DESCRICAO FROM PRODUTOS ORDER BY CODIGO"),
              (std::vector<std::string>{"1 | 'antes'", "2 | 'depois'"}));

    // The self-check lists it.
    const auto verificacao = agente1_->Comando({"--verificar"});
    EXPECT_NE(verificacao.second.find("1 comando posto de lado"), std::string::npos) << verificacao.second;
}

TEST_F(PorDeLadoE2E, AReceivedCommandTheStoreCannotApplyIsSetAsideByTheCommandItsFailureNamesAndTheRestFlows) {
    // Store 2 refuses product 13; store 1 makes it, then two more.
    loja2_->ExecutarSql("ALTER TABLE PRODUTOS ADD CONSTRAINT CK_SEM_TREZE CHECK (CODIGO <> 13);\nCOMMIT;\n");
    loja1_->ExecutarSql("INSERT INTO PRODUTOS (CODIGO, DESCRICAO) VALUES (12, 'doze');\nCOMMIT;\n"
                        "INSERT INTO PRODUTOS (CODIGO, DESCRICAO) VALUES (13, 'treze');\nCOMMIT;\n"
                        "INSERT INTO PRODUTOS (CODIGO, DESCRICAO) VALUES (14, 'catorze');\nCOMMIT;\n");
    ASSERT_NO_FATAL_FAILURE(ondaris::teste::RodarSemFalha(*agente1_, "store 1"));

    const auto nomeado = ParadaDuasVezes(*agente2_, *loja2_);
    ASSERT_EQ(nomeado.size(), 2u);
    EXPECT_EQ(nomeado[0], "--por-de-lado-recebido");
    const std::int64_t posicao = Inteiro(*loja2_, "SELECT ULTIMORECEBIMENTO FROM RPL_CONFIGURACOES");
    EXPECT_EQ(Linhas(*loja2_, "SELECT CODIGO FROM PRODUTOS ORDER BY CODIGO"), std::vector<std::string>{"12"});

    // Only the command that comes next, and fails, is set aside.
    for (const std::string& errada : {std::string("999"), std::to_string(std::stoll(nomeado[1]) + 1)}) {
        const auto recusado = agente2_->Comando({"--por-de-lado-recebido", errada}, true);
        EXPECT_EQ(recusado.first, 1) << errada << ":\n" << recusado.second;
        EXPECT_NE(recusado.second.find("Nada foi posto de lado"), std::string::npos) << recusado.second;
        EXPECT_EQ(Inteiro(*loja2_, "SELECT COUNT(*) FROM RPL_POSTOS_DE_LADO"), 0);
        EXPECT_EQ(Inteiro(*loja2_, "SELECT ULTIMORECEBIMENTO FROM RPL_CONFIGURACOES"), posicao);
        EXPECT_EQ(Linhas(*loja2_, "SELECT CODIGO FROM PRODUTOS ORDER BY CODIGO"), std::vector<std::string>{"12"});
    }

    const auto feito = agente2_->Comando(nomeado, true);
    ASSERT_EQ(feito.first, 0) << feito.second;
    EXPECT_NE(feito.second.find("foi posto de lado sem ser aplicado"), std::string::npos) << feito.second;
    EXPECT_EQ(Linhas(*loja2_, "SELECT LADO, ORDEM FROM RPL_POSTOS_DE_LADO"),
              std::vector<std::string>{"'R' | " + nomeado[1]});
    const std::string comando = Linhas(*loja2_, "SELECT COMANDO FROM RPL_POSTOS_DE_LADO").front();
    EXPECT_NE(comando.find("\"treze\""), std::string::npos) << comando;
    EXPECT_NE(Linhas(*loja2_, "SELECT MOTIVO FROM RPL_POSTOS_DE_LADO").front().find("CK_SEM_TREZE"),
              std::string::npos);
    EXPECT_EQ(Inteiro(*loja2_, "SELECT ULTIMORECEBIMENTO FROM RPL_CONFIGURACOES"), std::stoll(nomeado[1]));

    ASSERT_NO_FATAL_FAILURE(ondaris::teste::RodarSemFalha(*agente2_, "store 2 after the command"));
    EXPECT_EQ(Linhas(*loja2_, "SELECT CODIGO FROM PRODUTOS ORDER BY CODIGO"),
              (std::vector<std::string>{"12", "14"}));
    const auto verificacao = agente2_->Comando({"--verificar"});
    EXPECT_NE(verificacao.second.find("1 comando posto de lado"), std::string::npos) << verificacao.second;
}

// The command that fails comes after another of the same store
// transaction: receiving stays before both, the entry names the one that
// fails, and setting it aside applies the one before it as a cycle would.
TEST_F(PorDeLadoE2E, ACommandThatFailsInTheMiddleOfItsTransactionIsSetAsideAfterTheOnesBeforeIt) {
    loja2_->ExecutarSql("ALTER TABLE PRODUTOS ADD CONSTRAINT CK_SEM_TREZE CHECK (CODIGO <> 13);\nCOMMIT;\n");
    loja1_->ExecutarSql("INSERT INTO PRODUTOS (CODIGO, DESCRICAO) VALUES (12, 'doze');\n"
                        "INSERT INTO PRODUTOS (CODIGO, DESCRICAO) VALUES (13, 'treze');\nCOMMIT;\n"
                        "INSERT INTO PRODUTOS (CODIGO, DESCRICAO) VALUES (14, 'catorze');\nCOMMIT;\n");
    ASSERT_NO_FATAL_FAILURE(ondaris::teste::RodarSemFalha(*agente1_, "store 1"));

    const auto nomeado = ParadaDuasVezes(*agente2_, *loja2_);
    ASSERT_EQ(nomeado.size(), 2u);
    EXPECT_EQ(Inteiro(*loja2_, "SELECT COUNT(*) FROM PRODUTOS"), 0) << "the whole transaction waits";
    EXPECT_LT(Inteiro(*loja2_, "SELECT ULTIMORECEBIMENTO FROM RPL_CONFIGURACOES"), std::stoll(nomeado[1]) - 1);

    const auto feito = agente2_->Comando(nomeado, true);
    ASSERT_EQ(feito.first, 0) << feito.second;
    EXPECT_EQ(Linhas(*loja2_, "SELECT LADO, ORDEM, TABELA, TIPO FROM RPL_POSTOS_DE_LADO"),
              std::vector<std::string>{"'R' | " + nomeado[1] + " | 'PRODUTOS' | 'U'"});
    EXPECT_EQ(Linhas(*loja2_, "SELECT CODIGO FROM PRODUTOS ORDER BY CODIGO"), std::vector<std::string>{"12"});
    EXPECT_EQ(Inteiro(*loja2_, "SELECT ULTIMORECEBIMENTO FROM RPL_CONFIGURACOES"), std::stoll(nomeado[1]));
    // What the store applied itself is never sent back.
    EXPECT_EQ(Inteiro(*loja2_, "SELECT COUNT(*) FROM LOG_REPLICACAO"), 0);

    ASSERT_NO_FATAL_FAILURE(ondaris::teste::RodarSemFalha(*agente2_, "store 2 after the command"));
    EXPECT_EQ(Linhas(*loja2_, "SELECT CODIGO FROM PRODUTOS ORDER BY CODIGO"),
              (std::vector<std::string>{"12", "14"}));
}

}  // namespace
