// A store's own tables taken into replication with the generated triggers,
// as a technician does it: "ondarisd --instalar-gatilhos" in each store,
// then every kind of change in both stores travels through the real central
// server and agents and both stores end equal.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "protocolo/texto.h"
#include "support/banco_teste.h"
#include "support/loja_e2e.h"

namespace {

using namespace std::chrono_literals;
using ondaris::teste::AgenteE2E;
using ondaris::teste::BancoTeste;
using ondaris::teste::CentralE2E;
using ondaris::teste::LeitorLoja;

// Keys of one and two columns, of integer and text types; ESTOQUE declares
// its key (PRODUTO, DEPOSITO) while DEPOSITO stands first.
constexpr const char* kTabelas =
    "CREATE TABLE CLIENTES (CODIGO INTEGER NOT NULL PRIMARY KEY, NOME VARCHAR(60), SALDO NUMERIC(15,2));\n"
    "CREATE TABLE CIDADES (SIGLA VARCHAR(20) NOT NULL PRIMARY KEY, NOME VARCHAR(60));\n"
    "CREATE TABLE ESTOQUE (DEPOSITO VARCHAR(12) NOT NULL, PRODUTO BIGINT NOT NULL, QTD INTEGER,"
    " CONSTRAINT PK_ESTOQUE PRIMARY KEY (PRODUTO, DEPOSITO));\n"
    "CREATE TABLE PARES (A SMALLINT NOT NULL, B INTEGER NOT NULL, V VARCHAR(20), PRIMARY KEY (A, B));\n"
    "CREATE TABLE TRES (A INTEGER NOT NULL, B INTEGER NOT NULL, C INTEGER NOT NULL, PRIMARY KEY (A, B, C));\n";

const std::vector<std::pair<std::string, std::string>> kConsultas = {
    {"CLIENTES", "SELECT CODIGO, NOME, SALDO FROM CLIENTES ORDER BY CODIGO"},
    {"CIDADES", "SELECT SIGLA, NOME FROM CIDADES ORDER BY SIGLA"},
    {"ESTOQUE", "SELECT DEPOSITO, PRODUTO, QTD FROM ESTOQUE ORDER BY DEPOSITO, PRODUTO"},
    {"PARES", "SELECT A, B, V FROM PARES ORDER BY A, B"},
};

class GatilhosGeradosTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ondaris::teste::GarantirUsuarioReplicacao(); }

    void SetUp() override {
        for (auto* loja : {&loja1_, &loja2_}) {
            *loja = std::make_unique<BancoTeste>();
            (*loja)->ExecutarSql(kTabelas);
        }
        agente1_ = std::make_unique<AgenteE2E>(*loja1_, ondaris::teste::AmbienteBrasileiro());
        agente2_ = std::make_unique<AgenteE2E>(*loja2_, ondaris::teste::AmbienteBrasileiro());
    }

    // "ondarisd <argumentos>" in the agent's folder, as the administrator.
    static std::pair<int, std::string> Comando(const AgenteE2E& agente, std::vector<std::string> argumentos) {
        return agente.Comando(std::move(argumentos), true);
    }

    static void Executar(const BancoTeste& banco, const std::string& sqlUtf8) {
        banco.ExecutarSql(ondaris::protocolo::Utf8ParaLatin1(sqlUtf8));
    }

    static void Rodar(AgenteE2E& agente, const char* qual) { ondaris::teste::RodarSemFalha(agente, qual); }

    static std::vector<std::string> Linhas(const BancoTeste& banco) {
        LeitorLoja leitor(banco);
        std::vector<std::string> r;
        for (const auto& [tabela, sql] : kConsultas)
            for (auto& l : leitor.Linhas(sql)) r.push_back(tabela + " " + l);
        return r;
    }

    std::unique_ptr<BancoTeste> loja1_, loja2_;
    std::unique_ptr<CentralE2E> central_;
    std::unique_ptr<AgenteE2E> agente1_, agente2_;
};

TEST_F(GatilhosGeradosTest, EveryChangeOfOneAndTwoColumnKeysReplicatesAndAThreeColumnKeyIsRefused) {
    const auto tres = Comando(*agente1_, {"--instalar-gatilhos", "TRES"});
    EXPECT_EQ(tres.first, 1) << tres.second;
    EXPECT_NE(tres.second.find("Recusada: TRES tem chave primária de 3 colunas"), std::string::npos) << tres.second;

    for (auto* agente : {agente1_.get(), agente2_.get()}) {
        const auto r = Comando(*agente, {"--instalar-gatilhos", "CLIENTES", "CIDADES", "ESTOQUE", "PARES"});
        ASSERT_EQ(r.first, 0) << r.second;
        EXPECT_NE(r.second.find("Gatilho ESTOQUE_RPL instalado em ESTOQUE (chave DEPOSITO, PRODUTO)"),
                  std::string::npos)
            << r.second;
    }
    central_ = std::make_unique<CentralE2E>(ondaris::teste::EstruturaDe(*loja1_));
    ondaris::teste::ConfigurarLoja(*loja1_, 1, central_->Url(1));
    ondaris::teste::ConfigurarLoja(*loja2_, 2, central_->Url(2));

    // Store 1 starts everything; store 2 adds its own rows meanwhile.
    Executar(*loja1_,
             "INSERT INTO CLIENTES (CODIGO, NOME, SALDO) VALUES (1, 'Ana', 10.5);\n"
             "INSERT INTO CLIENTES (CODIGO, NOME, SALDO) VALUES (2, 'Bruno', -3);\n"
             "INSERT INTO CLIENTES (CODIGO, NOME) VALUES (3, 'Célia');\n"
             "INSERT INTO CIDADES (SIGLA, NOME) VALUES ('SÃO PAULO', 'São Paulo');\n"
             "INSERT INTO CIDADES (SIGLA, NOME) VALUES ('D''ÁGUA', 'Olho d''Água');\n"
             "INSERT INTO CIDADES (SIGLA, NOME) VALUES ('RIO ', 'com espaço no fim');\n"
             "INSERT INTO ESTOQUE (DEPOSITO, PRODUTO, QTD) VALUES ('Sul', 100, 5);\n"
             "INSERT INTO ESTOQUE (DEPOSITO, PRODUTO, QTD) VALUES ('Norte', 100, 7);\n"
             "INSERT INTO ESTOQUE (DEPOSITO, PRODUTO, QTD) VALUES ('Sul', 9223372036854775807, 1);\n"
             "INSERT INTO PARES (A, B, V) VALUES (-32768, 1, 'menor');\n"
             "INSERT INTO PARES (A, B, V) VALUES (1, 2, 'um-dois');\n"
             "INSERT INTO PARES (A, B, V) VALUES (1, 3, 'um-três');\n"
             "INSERT INTO TRES (A, B, C) VALUES (1, 2, 3);\n");
    Executar(*loja2_,
             "INSERT INTO CLIENTES (CODIGO, NOME) VALUES (200, 'da loja 2');\n"
             "INSERT INTO CIDADES (SIGLA, NOME) VALUES ('CURITIBA', 'Curitiba');\n"
             "INSERT INTO ESTOQUE (DEPOSITO, PRODUTO, QTD) VALUES ('Leste', 200, 2);\n"
             "INSERT INTO PARES (A, B, V) VALUES (2, 2, 'dois-dois');\n");
    ASSERT_NO_FATAL_FAILURE(Rodar(*agente1_, "store 1"));
    ASSERT_NO_FATAL_FAILURE(Rodar(*agente2_, "store 2"));
    ASSERT_NO_FATAL_FAILURE(Rodar(*agente1_, "store 1"));
    ASSERT_EQ(Linhas(*loja1_), Linhas(*loja2_)) << "the starting rows did not arrive";

    // Then updates, key changes of each key column, deletes, and a row
    // deleted and made again under the same key, in both stores.
    Executar(*loja1_,
             "UPDATE CLIENTES SET SALDO = SALDO + 1 WHERE CODIGO = 1;\n"
             "UPDATE CLIENTES SET CODIGO = 10, NOME = 'Bruno (novo código)' WHERE CODIGO = 2;\n"
             "DELETE FROM CLIENTES WHERE CODIGO = 3;\n"
             "INSERT INTO CLIENTES (CODIGO, NOME) VALUES (3, 'outra Célia');\n"
             "COMMIT;\n"
             "UPDATE CIDADES SET SIGLA = 'SAMPA' WHERE SIGLA = 'SÃO PAULO';\n"
             "UPDATE CIDADES SET NOME = 'Olho-d''Água' WHERE SIGLA = 'D''ÁGUA';\n"
             "DELETE FROM CIDADES WHERE SIGLA = 'RIO ';\n"
             "COMMIT;\n"
             "UPDATE ESTOQUE SET QTD = QTD - 1 WHERE DEPOSITO = 'Sul' AND PRODUTO = 100;\n"
             "UPDATE ESTOQUE SET DEPOSITO = 'Oeste' WHERE DEPOSITO = 'Norte' AND PRODUTO = 100;\n"
             "UPDATE ESTOQUE SET PRODUTO = 101 WHERE DEPOSITO = 'Sul' AND PRODUTO = 100;\n"
             "DELETE FROM ESTOQUE WHERE PRODUTO = 9223372036854775807;\n"
             "COMMIT;\n"
             "UPDATE PARES SET A = 5, B = 6 WHERE A = 1 AND B = 2;\n"
             "UPDATE PARES SET B = 4 WHERE A = 1 AND B = 3;\n"
             "DELETE FROM PARES WHERE A = -32768;\n");
    Executar(*loja2_,
             "UPDATE CLIENTES SET NOME = 'da loja 2, alterado' WHERE CODIGO = 200;\n"
             "UPDATE CIDADES SET SIGLA = 'CWB' WHERE SIGLA = 'CURITIBA';\n"
             "DELETE FROM ESTOQUE WHERE DEPOSITO = 'Leste';\n"
             "UPDATE PARES SET A = 3 WHERE A = 2 AND B = 2;\n");
    ASSERT_NO_FATAL_FAILURE(Rodar(*agente1_, "store 1"));
    ASSERT_NO_FATAL_FAILURE(Rodar(*agente2_, "store 2"));
    ASSERT_NO_FATAL_FAILURE(Rodar(*agente1_, "store 1"));

    const auto linhas1 = Linhas(*loja1_);
    EXPECT_EQ(linhas1, Linhas(*loja2_));
    // Written out, so that a change lost on both sides alike cannot pass.
    EXPECT_EQ(linhas1, (std::vector<std::string>{
                           "CLIENTES 1 | 'Ana' | 1150e-2",
                           "CLIENTES 3 | 'outra Célia' | NULL",
                           "CLIENTES 10 | 'Bruno (novo código)' | -300e-2",
                           "CLIENTES 200 | 'da loja 2, alterado' | NULL",
                           "CIDADES 'CWB' | 'Curitiba'",
                           "CIDADES 'D'ÁGUA' | 'Olho-d'Água'",
                           "CIDADES 'SAMPA' | 'São Paulo'",
                           "ESTOQUE 'Oeste' | 100 | 7",
                           "ESTOQUE 'Sul' | 101 | 4",
                           "PARES 1 | 4 | 'um-três'",
                           "PARES 3 | 2 | 'dois-dois'",
                           "PARES 5 | 6 | 'um-dois'",
                       }));
    // The three-column table was never logged, hence never sent.
    LeitorLoja leitor2(*loja2_);
    EXPECT_EQ(leitor2.Inteiro("SELECT COUNT(*) FROM TRES"), 0);
    EXPECT_EQ(leitor2.Inteiro("SELECT COUNT(*) FROM LOG_REPLICACAO WHERE TABELA = 'CLIENTES' AND ATUALVALORCHAVE1 <> '200'"),
              0)
        << "changes applied by the agent are not logged again";
}

}  // namespace
