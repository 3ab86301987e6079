// The reference central server's contract, over real HTTP: what a store's
// agent relies on from each endpoint, and the refusals of bad input.
#include <gtest/gtest.h>
#include <httplib.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <unistd.h>

#include "central/armazem.h"
#include "central/servidor.h"
#include "sync/json.h"

namespace {

using ondaris::sync::LerJSON;
using ondaris::sync::TValorJSON;

const char* kEstrutura = R"([{"tabela":"PRODUTOS","campo":"CODIGO","chave":"PRIMARY KEY"}])";

std::string Comando(long long ordem, const std::string& destino, const std::string& tabela = "PRODUTOS",
                    const std::string& campos = R"({"CODIGO":"1"})") {
    return R"({"ordem":")" + std::to_string(ordem) + R"(","codigolojadestino":")" + destino +
           R"(","acao":"U","tabela":")" + tabela +
           R"(","atualvalorchave1":"1","atualvalorchave2":"","novovalorchave1":"","ocorrencialocal":"","idtransacao":"7","campos":)" +
           campos + "}";
}

std::string Corpo(int loja, const std::vector<std::string>& comandos, const std::string& extra = "") {
    std::string lista;
    for (const auto& c : comandos) lista += (lista.empty() ? "" : ",") + c;
    return R"({"codigolojaorigem":")" + std::to_string(loja) + R"(","comandos":[)" + lista + "]" + extra + "}";
}

class CentralTest : public ::testing::Test {
protected:
    void SetUp() override {
        arquivo_ = std::filesystem::temp_directory_path() /
                   ("ondaris-central-" + std::to_string(getpid()) + "-" +
                    ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".sqlite");
        std::filesystem::remove(arquivo_);
        armazem_ = std::make_unique<ondaris::central::Armazem>(arquivo_.string());
        central_ = std::make_unique<ondaris::central::ServidorCentral>(*armazem_, kEstrutura);
        central_->Registrar(servidor_);
        porta_ = servidor_.bind_to_any_port("127.0.0.1");
        ASSERT_GT(porta_, 0);
        fio_ = std::thread([this] { servidor_.listen_after_bind(); });
        while (!servidor_.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        cliente_ = std::make_unique<httplib::Client>("127.0.0.1", porta_);
    }
    void TearDown() override {
        servidor_.stop();
        fio_.join();
        central_.reset();
        armazem_.reset();
        for (auto sufixo : {"", "-wal", "-shm"}) std::filesystem::remove(arquivo_.string() + sufixo);
    }

    httplib::Result Enviar(int loja, const std::string& corpo) {
        return cliente_->Put(("/enviar/" + std::to_string(loja)).c_str(), corpo, "application/json");
    }
    TValorJSON Get(const std::string& caminho) {
        auto r = cliente_->Get(caminho.c_str());
        EXPECT_TRUE(r);
        EXPECT_EQ(r->status, 200) << r->body;
        EXPECT_EQ(r->get_header_value("Content-Type"), "application/json");
        auto v = LerJSON(r->body);
        EXPECT_TRUE(v) << r->body;
        return v ? *v : TValorJSON();
    }
    static std::string M(const TValorJSON& v, const char* nome) {
        const TValorJSON* m = v.Membro(nome);
        return m ? m->Bruto() : "<missing>";
    }

    std::filesystem::path arquivo_;
    std::unique_ptr<ondaris::central::Armazem> armazem_;
    std::unique_ptr<ondaris::central::ServidorCentral> central_;
    httplib::Server servidor_;
    int porta_ = 0;
    std::thread fio_;
    std::unique_ptr<httplib::Client> cliente_;
};

TEST_F(CentralTest, StructureListIsServedAsGiven) {
    auto r = cliente_->Get("/estruturabd");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 200);
    EXPECT_EQ(r->body, kEstrutura);
}

TEST_F(CentralTest, SentBlockMovesTheAcknowledgedPositionAndASecondSendChangesNothing) {
    std::string corpo = Corpo(1, {Comando(3, ""), Comando(4, "2"), Comando(6, "")});
    auto r = Enviar(1, corpo);
    ASSERT_TRUE(r);
    ASSERT_EQ(r->status, 200) << r->body;

    auto indice = Get("/obterindiceenvio/1/10");
    EXPECT_EQ(M(indice, "ultimaordemenviada"), "6");
    EXPECT_EQ(M(indice, "ultimomovimentoloja"), "10");

    ASSERT_EQ(Enviar(1, corpo)->status, 200);
    auto bloco = Get("/receber/2/0");
    EXPECT_EQ(bloco.Membro("comandos")->Elementos().size(), 3u) << "a block sent twice is stored once";
}

TEST_F(CentralTest, BlockBoundsMovePastRowsTheStoreLeftOut) {
    // Every row of the block was deleted before it was sent: without the
    // bounds the store would send the same empty block forever.
    ASSERT_EQ(Enviar(1, Corpo(1, {}, R"(,"ordeminicial":"1","ordemfinal":"40")"))->status, 200);
    EXPECT_EQ(M(Get("/obterindiceenvio/1/40"), "ultimaordemenviada"), "40");
    ASSERT_EQ(Enviar(1, Corpo(1, {Comando(41, "")}, R"(,"ordeminicial":"41","ordemfinal":"39")"))->status, 200);
    EXPECT_EQ(M(Get("/obterindiceenvio/1/41"), "ultimaordemenviada"), "41") << "a lower bound never moves it back";
}

TEST_F(CentralTest, CommandsReachTheirStoresNumberedByTheServer) {
    ASSERT_EQ(Enviar(1, Corpo(1, {Comando(10, ""), Comando(11, "3"), Comando(12, "0")}))->status, 200);
    ASSERT_EQ(Enviar(2, Corpo(2, {Comando(500, "")}))->status, 200);

    struct Caso {
        int loja;
        std::vector<std::string> ordens;  // the server's positions it receives
    };
    for (const Caso& c : std::vector<Caso>{{1, {"4"}}, {2, {"1", "3"}}, {3, {"1", "2", "3", "4"}}}) {
        auto bloco = Get("/receber/" + std::to_string(c.loja) + "/0");
        std::vector<std::string> ordens;
        for (const auto& cmd : bloco.Membro("comandos")->Elementos()) ordens.push_back(M(cmd, "ordem"));
        EXPECT_EQ(ordens, c.ordens) << "store " << c.loja;
        EXPECT_EQ(M(bloco, "ordeminicial"), c.ordens.front());
        EXPECT_EQ(M(bloco, "ordemfinal"), c.ordens.back());
        EXPECT_EQ(M(bloco, "ultimaordem"), c.ordens.back());
        // After the last position nothing is waiting.
        auto vazio = Get("/receber/" + std::to_string(c.loja) + "/" + c.ordens.back());
        EXPECT_EQ(M(vazio, "ultimaordem"), "0");
        EXPECT_TRUE(vazio.Membro("comandos")->Elementos().empty());
    }
}

TEST_F(CentralTest, ReceivedCommandsKeepEveryMemberButTheirPosition) {
    std::string campos = R"({"CODIGO":"1","NOME":"Caf\u00E9 \"forte\"","FOTO":"AAEC\r\n"})";
    ASSERT_EQ(Enviar(1, Corpo(1, {Comando(77, "", "PRODUTOS", campos)}))->status, 200);
    auto cmd = Get("/receber/2/0").Membro("comandos")->Elementos().at(0);
    auto esperado = *LerJSON(Comando(1, "", "PRODUTOS", campos));
    EXPECT_EQ(cmd, esperado);
}

TEST_F(CentralTest, BlocksHoldAtMostAThousandCommands) {
    std::vector<std::string> comandos;
    for (int i = 1; i <= 1001; ++i) comandos.push_back(Comando(i, ""));
    ASSERT_EQ(Enviar(1, Corpo(1, comandos))->status, 200);
    auto bloco = Get("/receber/2/0");
    EXPECT_EQ(bloco.Membro("comandos")->Elementos().size(), 1000u);
    EXPECT_EQ(M(bloco, "ordemfinal"), "1000");
    EXPECT_EQ(M(bloco, "ultimaordem"), "1001");
    EXPECT_EQ(Get("/receber/2/1000").Membro("comandos")->Elementos().size(), 1u);
}

TEST_F(CentralTest, MalformedRequestsAreRefusedWithATextAndStoreNothing) {
    struct Caso {
        const char* nome;
        std::string caminho;
        std::string corpo;
    };
    const std::vector<Caso> casos = {
        {"not JSON", "/enviar/1", "{"},
        {"not an object", "/enviar/1", "[]"},
        {"origin differs from the path", "/enviar/1", Corpo(2, {Comando(1, "")})},
        {"origin missing", "/enviar/1", R"({"comandos":[]})"},
        {"comandos not an array", "/enviar/1", R"({"codigolojaorigem":"1","comandos":{}})"},
        {"command not an object", "/enviar/1", Corpo(1, {"\"x\""})},
        {"ordem not a number", "/enviar/1", Corpo(1, {Comando(1, ""), R"({"ordem":"1x","acao":"U","tabela":"T","idtransacao":"1","campos":{}})"})},
        {"destination not a store", "/enviar/1", Corpo(1, {Comando(1, "loja")})},
        {"campos missing", "/enviar/1", Corpo(1, {R"({"ordem":"1","acao":"U","tabela":"T","idtransacao":"1"})"})},
        {"ordemfinal not a number", "/enviar/1", Corpo(1, {}, R"(,"ordemfinal":"x")")},
        {"store code not a number", "/enviar/abc", Corpo(1, {})},
        {"store code out of range", "/enviar/99999999999", Corpo(1, {})},
    };
    for (const Caso& c : casos) {
        auto r = cliente_->Put(c.caminho.c_str(), c.corpo, "application/json");
        ASSERT_TRUE(r) << c.nome;
        EXPECT_GE(r->status, 400) << c.nome;
        EXPECT_LT(r->status, 500) << c.nome;
        EXPECT_FALSE(r->body.empty()) << c.nome;
        EXPECT_EQ(r->get_header_value("Content-Type").rfind("text/plain", 0), 0u) << c.nome;
    }
    EXPECT_EQ(M(Get("/obterindiceenvio/1/0"), "ultimaordemenviada"), "0");
    EXPECT_EQ(M(Get("/receber/2/0"), "ultimaordem"), "0");

    for (const char* caminho : {"/receber/1/x", "/obterindiceenvio/x/1", "/receber/1/99999999999999999999"}) {
        auto r = cliente_->Get(caminho);
        ASSERT_TRUE(r);
        EXPECT_EQ(r->status, 400) << caminho;
    }
}

TEST_F(CentralTest, StatusShowsEachStoresPositionsAndWhatWaits) {
    ASSERT_EQ(Enviar(1, Corpo(1, {Comando(5, ""), Comando(6, "")}))->status, 200);
    Get("/receber/2/1");
    auto status = Get("/status");
    const auto& lojas = status.Membro("lojas")->Elementos();
    ASSERT_EQ(lojas.size(), 2u);
    EXPECT_EQ(M(lojas[0], "ultimaordemenviada"), "6");
    EXPECT_EQ(M(lojas[1], "ultimaordemrecebida"), "1");
    EXPECT_EQ(M(lojas[1], "comandosaguardando"), "1");
    EXPECT_NE(M(lojas[1], "ultimopedido"), "");
}

}  // namespace
