// The reference central server's contract, over real HTTP: what a store's
// agent relies on from each endpoint, the refusals of bad input, and serving
// everyone while some clients are slow or send too much.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <poll.h>
#include <sqlite3.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "central/armazem.h"
#include "central/http.h"
#include "central/servidor.h"
#include "e2e/escuta_teste.h"
#include "protocolo/json.h"
#include "sync/requisicao.h"

namespace {

using namespace std::chrono_literals;
using namespace ondaris::protocolo;
using ondaris::central::LimitesHttp;
using ondaris::protocolo::LerJSON;
using ondaris::protocolo::TValorJSON;

const char* kEstrutura = R"([{"tabela":"PRODUTOS","campo":"CODIGO","chave":"PRIMARY KEY"}])";

// A command for the row `chave` of `tabela`; by default each command its
// own row (the key is the command's "ordem"), so that no store's command
// supersedes another's.
std::string Comando(long long ordem, const std::string& destino, const std::string& tabela = "PRODUTOS",
                    const std::string& campos = R"({"CODIGO":"1"})", const std::string& chave = "") {
    return R"({"ordem":")" + std::to_string(ordem) + R"(","codigolojadestino":")" + destino +
           R"(","acao":"U","tabela":")" + tabela + R"(","atualvalorchave1":")" +
           (chave.empty() ? std::to_string(ordem) : chave) +
           R"(","atualvalorchave2":"","novovalorchave1":"","ocorrencialocal":"","idtransacao":"7","campos":)" +
           campos + "}";
}

std::string Corpo(int loja, const std::vector<std::string>& comandos, const std::string& extra = "") {
    std::string lista;
    for (const auto& c : comandos) lista += (lista.empty() ? "" : ",") + c;
    return R"({"codigolojaorigem":")" + std::to_string(loja) + R"(","comandos":[)" + lista + "]" + extra + "}";
}

// A client socket on 127.0.0.1 that sends raw bytes, for what an HTTP
// client library would not send. Every wait is bounded.
class SocketCliente {
public:
    explicit SocketCliente(int porta) {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<std::uint16_t>(porta));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        conectado_ = fd_ >= 0 && ::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    }
    ~SocketCliente() {
        if (fd_ >= 0) ::close(fd_);
    }
    SocketCliente(const SocketCliente&) = delete;
    SocketCliente& operator=(const SocketCliente&) = delete;

    bool Conectado() const { return conectado_; }
    bool Enviar(const std::string& texto) {
        return ::send(fd_, texto.data(), texto.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(texto.size());
    }
    // What arrives until the server closes, at most `limite` from now.
    std::string LerAteFechar(std::chrono::milliseconds limite = 5000ms) {
        std::string lido;
        const auto fim = std::chrono::steady_clock::now() + limite;
        for (;;) {
            const auto resta = std::chrono::duration_cast<std::chrono::milliseconds>(fim - std::chrono::steady_clock::now());
            if (resta.count() <= 0) break;
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(resta.count())) <= 0) break;
            char buf[4096];
            const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
            if (n <= 0) {
                fechou_ = true;
                break;
            }
            lido.append(buf, static_cast<std::size_t>(n));
        }
        return lido;
    }
    // True once the server has ended the connection (without waiting).
    bool ServidorFechou() {
        if (!fechou_) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 0) > 0) {
                char buf[4096];
                const ssize_t n = ::recv(fd_, buf, sizeof buf, MSG_DONTWAIT);
                if (n > 0) recebido_.append(buf, static_cast<std::size_t>(n));
                else fechou_ = true;
            }
        }
        return fechou_;
    }
    const std::string& Recebido() const { return recebido_; }

private:
    int fd_ = -1;
    bool conectado_ = false;
    bool fechou_ = false;
    std::string recebido_;
};

// Sends `texto` one byte per `intervalo` until `parar` is set, the text is
// exhausted or the server ends the connection; true in that last case.
bool Gotejar(SocketCliente& cliente, const std::string& texto, std::chrono::milliseconds intervalo,
             const std::atomic<bool>& parar) {
    for (char c : texto) {
        if (!cliente.Enviar(std::string(1, c))) return true;
        for (auto esperado = 0ms; esperado < intervalo; esperado += 20ms) {
            if (cliente.ServidorFechou()) return true;
            if (parar) return false;
            std::this_thread::sleep_for(20ms);
        }
    }
    return cliente.ServidorFechou();
}

class CentralTest : public ::testing::Test {
protected:
    virtual LimitesHttp Limites() const { return {}; }

    void SetUp() override {
        arquivo_ = std::filesystem::temp_directory_path() /
                   ("ondaris-central-" + std::to_string(getpid()) + "-" +
                    ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".sqlite");
        std::filesystem::remove(arquivo_);
        armazem_ = std::make_unique<ondaris::central::Armazem>(arquivo_.string());
        central_ = std::make_unique<ondaris::central::ServidorCentral>(*armazem_, kEstrutura);
        servidor_ = std::make_unique<ondaris::central::ServidorHttp>(Limites());
        central_->Registrar(*servidor_);
        escuta_ = std::make_unique<ondaris::teste::EscutaCentral>(*servidor_);
        ASSERT_TRUE(escuta_->Pronta());
        porta_ = escuta_->Porta();
        cliente_ = std::make_unique<httplib::Client>("127.0.0.1", porta_);
        cliente_->set_read_timeout(10, 0);
    }
    void TearDown() override {
        escuta_.reset();
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
    std::unique_ptr<ondaris::central::ServidorHttp> servidor_;
    std::unique_ptr<ondaris::teste::EscutaCentral> escuta_;
    int porta_ = 0;
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
    EXPECT_EQ(M(Get("/obterindiceenvio/1/40"), "ultimaordemenviada"), "0");
    ASSERT_EQ(Enviar(1, Corpo(1, {}, R"(,"ordeminicial":"1","ordemfinal":"40")"))->status, 200);
    EXPECT_EQ(M(Get("/obterindiceenvio/1/41"), "ultimaordemenviada"), "40");
    ASSERT_EQ(Enviar(1, Corpo(1, {Comando(41, "")}, R"(,"ordeminicial":"41","ordemfinal":"41")"))->status, 200);
    // The first block again (an answer lost on the way): nothing moves back.
    auto r = Enviar(1, Corpo(1, {}, R"(,"ordeminicial":"1","ordemfinal":"40")"));
    ASSERT_EQ(r->status, 200) << r->body;
    EXPECT_EQ(M(*LerJSON(r->body), "ultimaordemenviada"), "41");
    EXPECT_EQ(M(Get("/obterindiceenvio/1/41"), "ultimaordemenviada"), "41") << "a lower bound never moves it back";
}

TEST_F(CentralTest, BoundsMoveThePositionOnlyAsFarAsTheStoreHasShownItsLog) {
    const std::string enorme = R"(,"ordeminicial":"1","ordemfinal":"9223372036854775807")";
    // Nothing reported yet: an empty block proves nothing.
    ASSERT_EQ(Enviar(1, Corpo(1, {}, enorme))->status, 200);
    EXPECT_EQ(M(Get("/obterindiceenvio/1/40"), "ultimaordemenviada"), "0");
    // The store reported 40: its commands and its report are the reach.
    auto r = Enviar(1, Corpo(1, {Comando(5, "")}, enorme));
    ASSERT_EQ(r->status, 200) << r->body;
    EXPECT_EQ(M(*LerJSON(r->body), "ultimaordemenviada"), "40");
    // What the store logs afterwards is still taken.
    EXPECT_EQ(M(Get("/obterindiceenvio/1/45"), "ultimaordemenviada"), "40");
    r = Enviar(1, Corpo(1, {Comando(41, ""), Comando(45, "")}, R"(,"ordeminicial":"41","ordemfinal":"47")"));
    ASSERT_EQ(r->status, 200) << r->body;
    EXPECT_EQ(M(*LerJSON(r->body), "aceitos"), "2");
    EXPECT_EQ(M(*LerJSON(r->body), "ultimaordemenviada"), "45") << "47 lies beyond the store's report and commands";
    EXPECT_EQ(Get("/receber/2/0").Membro("comandos")->Elementos().size(), 3u);
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
    ASSERT_EQ(Enviar(1, Corpo(1, {Comando(77, "", "PRODUTOS", campos, "1")}))->status, 200);
    auto cmd = Get("/receber/2/0").Membro("comandos")->Elementos().at(0);
    auto esperado = *LerJSON(Comando(1, "", "PRODUTOS", campos, "1"));
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

TEST_F(CentralTest, BadRequestsAreRefusedWithATextAndStoreNothingWhileCorrectOnesAreTaken) {
    const std::string json = "application/json";
    const std::string limites = R"(,"ordeminicial":"1","ordemfinal":"9")";
    auto comCampos = [](const std::string& campos) { return Comando(1, "", "PRODUTOS", campos); };
    struct Caso {
        const char* nome;
        std::string metodo;
        std::string caminho;
        std::string tipo;
        std::string corpo;
        int status;
        std::string trecho;  // part of the refusal's text
    };
    const std::vector<Caso> casos = {
        // Store codes.
        {"store -1 in the path", "PUT", "/enviar/-1", json, Corpo(-1, {Comando(1, "")}), 400, "código de loja no caminho"},
        {"store 0 in the path", "PUT", "/enviar/0", json, Corpo(0, {}), 400, "código de loja no caminho"},
        {"store beyond 32 bits", "PUT", "/enviar/2147483648", json, Corpo(1, {}), 400, "código de loja no caminho"},
        {"store not a number", "PUT", "/enviar/abc", json, Corpo(1, {}), 400, "código de loja no caminho"},
        {"origin 0", "PUT", "/enviar/1", json, R"({"codigolojaorigem":"0","comandos":[]})", 400, "codigolojaorigem"},
        {"origin differs from the path", "PUT", "/enviar/1", json, Corpo(2, {Comando(1, "")}), 400, "difere"},
        {"origin missing", "PUT", "/enviar/1", json, R"({"comandos":[]})", 400, "codigolojaorigem"},
        {"destination -1", "PUT", "/enviar/1", json, Corpo(1, {Comando(1, "-1")}), 400, "codigolojadestino"},
        {"destination not a store", "PUT", "/enviar/1", json, Corpo(1, {Comando(1, "loja")}), 400, "codigolojadestino"},
        {"destination beyond 32 bits", "PUT", "/enviar/1", json, Corpo(1, {Comando(1, "99999999999")}), 400,
         "codigolojadestino"},
        // Positions.
        {"ordem negative", "PUT", "/enviar/1", json, Corpo(1, {Comando(-5, "")}), 400, "\"ordem\" não é uma posição"},
        {"ordem 0", "PUT", "/enviar/1", json, Corpo(1, {Comando(0, "")}), 400, "\"ordem\" não é uma posição"},
        {"ordem beyond 64 bits", "PUT", "/enviar/1", json,
         Corpo(1, {R"({"ordem":"9223372036854775808","acao":"U","tabela":"T","idtransacao":"1","campos":{}})"}), 400,
         "\"ordem\" não é uma posição"},
        {"ordem with a fraction", "PUT", "/enviar/1", json,
         Corpo(1, {R"({"ordem":1.5,"acao":"U","tabela":"T","idtransacao":"1","campos":{}})"}), 400,
         "\"ordem\" não é uma posição"},
        {"ordem not a number", "PUT", "/enviar/1", json,
         Corpo(1, {R"({"ordem":"1x","acao":"U","tabela":"T","idtransacao":"1","campos":{}})"}), 400,
         "\"ordem\" não é uma posição"},
        {"ordemfinal negative", "PUT", "/enviar/1", json, Corpo(1, {}, R"(,"ordeminicial":"1","ordemfinal":"-1")"),
         400, "ordemfinal"},
        {"ordeminicial 0", "PUT", "/enviar/1", json, Corpo(1, {}, R"(,"ordeminicial":"0","ordemfinal":"0")"), 400,
         "ordeminicial"},
        {"ordemfinal not a number", "PUT", "/enviar/1", json, Corpo(1, {}, R"(,"ordeminicial":"1","ordemfinal":"x")"),
         400, "ordemfinal"},
        // Bounds that do not fit the commands.
        {"ordemfinal alone", "PUT", "/enviar/1", json, Corpo(1, {}, R"(,"ordemfinal":"9223372036854775807")"), 400,
         "vêm juntos"},
        {"ordeminicial alone", "PUT", "/enviar/1", json, Corpo(1, {Comando(1, "")}, R"(,"ordeminicial":"1")"), 400,
         "vêm juntos"},
        {"bounds reversed", "PUT", "/enviar/1", json, Corpo(1, {}, R"(,"ordeminicial":"5","ordemfinal":"3")"), 400,
         "além de \"ordemfinal\""},
        {"command beyond ordemfinal", "PUT", "/enviar/1", json, Corpo(1, {Comando(2, ""), Comando(12, "")}, limites),
         400, "fora dos limites do bloco"},
        {"command before ordeminicial", "PUT", "/enviar/1", json,
         Corpo(1, {Comando(2, "")}, R"(,"ordeminicial":"3","ordemfinal":"9")"), 400, "fora dos limites do bloco"},
        {"commands falling", "PUT", "/enviar/1", json, Corpo(1, {Comando(3, ""), Comando(2, "")}, limites), 400,
         "estritamente crescentes"},
        {"command repeated", "PUT", "/enviar/1", json, Corpo(1, {Comando(3, ""), Comando(3, "")}), 400,
         "estritamente crescentes"},
        {"block starting past the held position", "PUT", "/enviar/1", json,
         Corpo(1, {}, R"(,"ordeminicial":"5","ordemfinal":"9223372036854775807")"), 409, "seriam puladas"},
        // Names.
        {"table with SQL in it", "PUT", "/enviar/1", json, Corpo(1, {Comando(1, "", "PRECOS; DROP TABLE X")}), 400,
         "\"tabela\" não é um identificador simples"},
        {"table empty", "PUT", "/enviar/1", json, Corpo(1, {Comando(1, "", "")}), 400, "\"tabela\""},
        {"table starting with a digit", "PUT", "/enviar/1", json, Corpo(1, {Comando(1, "", "1PRODUTOS")}), 400,
         "\"tabela\""},
        {"table quoted", "PUT", "/enviar/1", json, Corpo(1, {Comando(1, "", R"(\"PRODUTOS\")")}), 400, "\"tabela\""},
        {"table of 64 characters", "PUT", "/enviar/1", json, Corpo(1, {Comando(1, "", std::string(64, 'T'))}), 400,
         "\"tabela\""},
        {"column with SQL in it", "PUT", "/enviar/1", json, Corpo(1, {comCampos(R"({"CODIGO = 1; --":"1"})")}), 400,
         "nome de coluna"},
        {"column with a blank", "PUT", "/enviar/1", json, Corpo(1, {comCampos(R"({"NO ME":"1"})")}), 400,
         "nome de coluna"},
        {"column value null", "PUT", "/enviar/1", json, Corpo(1, {comCampos(R"({"CODIGO":null})")}), 400,
         "deve ser um texto"},
        {"column value an object", "PUT", "/enviar/1", json, Corpo(1, {comCampos(R"({"CODIGO":{}})")}), 400,
         "deve ser um texto"},
        // Bodies.
        {"not JSON", "PUT", "/enviar/1", json, "{", 400, "não é JSON válido"},
        {"not an object", "PUT", "/enviar/1", json, "[]", 400, "objeto JSON"},
        {"comandos not an array", "PUT", "/enviar/1", json, R"({"codigolojaorigem":"1","comandos":{}})", 400,
         "\"comandos\" deve ser uma lista"},
        {"command not an object", "PUT", "/enviar/1", json, Corpo(1, {"\"x\""}), 400, "deve ser um objeto"},
        {"campos missing", "PUT", "/enviar/1", json,
         Corpo(1, {R"({"ordem":"1","acao":"U","tabela":"T","idtransacao":"1"})"}), 400, "\"campos\""},
        {"sent as text/plain", "PUT", "/enviar/1", "text/plain", Corpo(1, {Comando(1, "")}), 415, "application/json"},
        {"sent as a form", "PUT", "/enviar/1", "application/x-www-form-urlencoded", Corpo(1, {Comando(1, "")}), 415,
         "application/json"},
        // Paths of the questions.
        {"receive for store -1", "GET", "/receber/-1/0", "", "", 400, "código de loja no caminho"},
        {"receive after -1", "GET", "/receber/1/-1", "", "", 400, "posição no caminho"},
        {"receive after x", "GET", "/receber/1/x", "", "", 400, "posição no caminho"},
        {"receive beyond 64 bits", "GET", "/receber/1/99999999999999999999", "", "", 400, "posição no caminho"},
        {"index for store 0", "GET", "/obterindiceenvio/0/1", "", "", 400, "código de loja no caminho"},
        {"index with a negative end", "GET", "/obterindiceenvio/1/-5", "", "", 400, "último movimento"},
        {"no such endpoint", "GET", "/enviar/1", "", "", 404, "endereço inexistente: GET /enviar/1"},
    };
    for (const Caso& c : casos) {
        SCOPED_TRACE(c.nome);
        httplib::Result r = c.metodo == "PUT" ? cliente_->Put(c.caminho.c_str(), c.corpo, c.tipo.c_str())
                                              : cliente_->Get(c.caminho.c_str());
        ASSERT_TRUE(r);
        EXPECT_EQ(r->status, c.status) << r->body;
        EXPECT_NE(r->body.find(c.trecho), std::string::npos) << r->body;
        EXPECT_EQ(r->get_header_value("Content-Type").rfind("text/plain", 0), 0u);
    }
    // No request above reached the store of commands: not even a store
    // row was made.
    EXPECT_TRUE(armazem_->Estado().empty());

    // The send loop of a store: its report, then blocks from the held
    // position on, the last one empty while a sale holds the next position.
    EXPECT_EQ(M(Get("/obterindiceenvio/7/12"), "ultimaordemenviada"), "0");
    struct Envio {
        std::string corpo;
        std::string posicao;  // the acknowledged position after it
    };
    for (const Envio& c : std::vector<Envio>{
             {Corpo(7, {Comando(1, ""), Comando(3, "8", "PRECOS_2$", R"({"A$B":"1","C_1":2})")},
                    R"(,"ordeminicial":"1","ordemfinal":"4")"),
              "4"},
             {Corpo(7, {}, R"(,"ordeminicial":"5","ordemfinal":"4")"), "4"},
             {Corpo(7, {Comando(5, "0"), Comando(12, "")}, R"(,"ordeminicial":"5","ordemfinal":"12")"), "12"},
             {Corpo(7, {Comando(13, "")}), "13"},  // without bounds, as some agents send
         }) {
        auto r = cliente_->Put("/enviar/7", c.corpo, "application/json; charset=utf-8");
        ASSERT_TRUE(r);
        ASSERT_EQ(r->status, 200) << r->body << "\n" << c.corpo;
        EXPECT_EQ(M(*LerJSON(r->body), "ultimaordemenviada"), c.posicao);
    }
}

TEST_F(CentralTest, AChunkedBodyIsRefusedUnread) {
    SocketCliente s(porta_);
    ASSERT_TRUE(s.Conectado());
    ASSERT_TRUE(s.Enviar("PUT /enviar/1 HTTP/1.1\r\nHost: x\r\nContent-Type: application/json\r\n"
                         "Transfer-Encoding: chunked\r\n\r\n" +
                         [] {
                             const std::string corpo = Corpo(1, {Comando(1, "")});
                             char tamanho[32];
                             std::snprintf(tamanho, sizeof tamanho, "%zx\r\n", corpo.size());
                             return tamanho + corpo + "\r\n0\r\n\r\n";
                         }()));
    const std::string resposta = s.LerAteFechar();
    EXPECT_EQ(resposta.rfind("HTTP/1.1 411", 0), 0u) << resposta;
    EXPECT_NE(resposta.find("Content-Length"), std::string::npos) << resposta;
    EXPECT_TRUE(armazem_->Estado().empty());
}

TEST_F(CentralTest, AnOversizedBodyIsAnswered413) {
    const std::size_t maximo = ondaris::central::TamanhoMaximoCorpo;
    // Announced and not sent: the answer comes from the head alone.
    for (const char* metodo : {"PUT /enviar/1", "GET /status"}) {
        SCOPED_TRACE(metodo);
        SocketCliente s(porta_);
        ASSERT_TRUE(s.Conectado());
        ASSERT_TRUE(s.Enviar(std::string(metodo) + " HTTP/1.1\r\nHost: x\r\nContent-Type: application/json\r\n" +
                             "Content-Length: " + std::to_string(maximo + 1) + "\r\n\r\n{"));
        const std::string resposta = s.LerAteFechar();
        EXPECT_EQ(resposta.rfind("HTTP/1.1 413", 0), 0u) << resposta;
        EXPECT_NE(resposta.find("corpo grande demais: " + std::to_string(maximo + 1) + " bytes"), std::string::npos)
            << resposta;
        EXPECT_NE(resposta.find("no máximo " + std::to_string(maximo) + " bytes"), std::string::npos) << resposta;
    }
    // Sent whole by the agents' own HTTP client: it reads the refusal.
    std::string corpo = Corpo(1, {Comando(1, "")});
    corpo.resize(maximo + 1, ' ');
    auto r = ondaris::sync::ExecutarRequisicao("PUT", "http://127.0.0.1:" + std::to_string(porta_) + "/enviar/1",
                                               corpo, 20000);
    EXPECT_EQ(r.StatusCode, 413);
    EXPECT_NE(r.Conteudo.find("corpo grande demais"), std::string::npos) << r.Conteudo;
    EXPECT_TRUE(armazem_->Estado().empty());
    // The largest body taken is taken.
    r = ondaris::sync::ExecutarRequisicao("PUT", "http://127.0.0.1:" + std::to_string(porta_) + "/enviar/1",
                                          corpo.substr(0, maximo), 20000);
    EXPECT_EQ(r.StatusCode, 200) << r.Conteudo;
}

TEST_F(CentralTest, SlowClientsDoNotStarveTheOthers) {
    ASSERT_EQ(Enviar(1, Corpo(1, {Comando(1, "")}))->status, 200);
    // Ten clients trickle a request one byte a second, and hold on.
    std::atomic<bool> parar{false};
    std::vector<std::unique_ptr<SocketCliente>> lentos;
    std::vector<std::thread> gotejadores;
    for (int i = 0; i < 10; ++i) {
        lentos.push_back(std::make_unique<SocketCliente>(porta_));
        ASSERT_TRUE(lentos.back()->Conectado());
        gotejadores.emplace_back([&, s = lentos.back().get()] {
            Gotejar(*s, "GET /status HTTP/1.1\r\nHost: x\r\n\r\n", 1000ms, parar);
        });
    }
    std::this_thread::sleep_for(300ms);  // they are accepted and being read

    // Forty ordinary clients at once, each with a few seconds to be answered.
    std::atomic<int> atendidos{0};
    std::vector<std::thread> normais;
    for (int i = 0; i < 40; ++i) {
        normais.emplace_back([&, i] {
            httplib::Client c("127.0.0.1", porta_);
            c.set_connection_timeout(5, 0);
            c.set_read_timeout(5, 0);
            c.set_write_timeout(5, 0);
            auto r = c.Get(i % 2 ? "/status" : "/receber/2/0");
            if (r && r->status == 200 && r->body.find(i % 2 ? "\"lojas\"" : "\"comandos\"") != std::string::npos)
                ++atendidos;
        });
    }
    for (auto& t : normais) t.join();
    parar = true;
    for (auto& t : gotejadores) t.join();
    EXPECT_EQ(atendidos.load(), 40);
}

class CentralCarenciaCurtaTest : public CentralTest {
protected:
    LimitesHttp Limites() const override {
        LimitesHttp l;
        l.Carencia = 1000ms;
        return l;
    }
};

TEST_F(CentralCarenciaCurtaTest, ATricklingClientIsCutAndToldWhy) {
    std::atomic<bool> nunca{false};
    // Trickling the request line: the connection ends, there is nothing to
    // answer yet. Forty bytes take eight seconds, the allowance is one.
    {
        SocketCliente s(porta_);
        ASSERT_TRUE(s.Conectado());
        EXPECT_TRUE(Gotejar(s, "GET /status HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n", 200ms, nunca));
    }
    // Trickling the headers after the request line: told with a 408.
    {
        SocketCliente s(porta_);
        ASSERT_TRUE(s.Conectado());
        ASSERT_TRUE(s.Enviar("PUT /enviar/1 HTTP/1.1\r\n"));
        EXPECT_TRUE(Gotejar(s, "Host: 127.0.0.1\r\nContent-Type: application/json\r\nX: yyyyyy\r\n\r\n", 200ms, nunca));
        const std::string resposta = s.Recebido() + s.LerAteFechar();
        EXPECT_EQ(resposta.rfind("HTTP/1.1 408", 0), 0u) << resposta;
        EXPECT_NE(resposta.find("não recebida a tempo"), std::string::npos) << resposta;
    }
    // Others are served meanwhile and after.
    EXPECT_EQ(Get("/status").Membro("lojas")->Elementos().size(), 0u);
}

// A command with the key texts given as they stand ("atualvalorchave2"
// left out when `chave2` is null).
std::string ComandoDaLinha(long long ordem, const std::string& tabela, const char* chave1, const char* chave2 = "") {
    std::string c = R"({"ordem":")" + std::to_string(ordem) + R"(","codigolojadestino":"","acao":"U","tabela":")" +
                    tabela + "\"";
    if (chave1) c += R"(,"atualvalorchave1":")" + std::string(chave1) + "\"";
    if (chave2) c += R"(,"atualvalorchave2":")" + std::string(chave2) + "\"";
    return c + R"(,"idtransacao":"7","campos":{"CODIGO":"1"}})";
}

std::vector<std::string> Ordens(const TValorJSON& bloco) {
    std::vector<std::string> ordens;
    for (const auto& cmd : bloco.Membro("comandos")->Elementos()) ordens.push_back(cmd.Membro("ordem")->Bruto());
    return ordens;
}

// Per conflict in /status: "tabela chave1 chave2 loja lojapreterida
// posicaopreterida lojavencedora posicaovencedora".
std::vector<std::string> Conflitos(const TValorJSON& status) {
    std::vector<std::string> lista;
    for (const auto& c : status.Membro("ultimosconflitos")->Elementos()) {
        std::string linha;
        for (const char* nome : {"tabela", "atualvalorchave1", "atualvalorchave2", "loja", "lojapreterida",
                                 "posicaopreterida", "lojavencedora", "posicaovencedora"}) {
            const TValorJSON* m = c.Membro(nome);
            linha += (linha.empty() ? "" : " ") + (!m ? "<missing>" : m->EhNulo() ? "null" : m->Bruto());
        }
        lista.push_back(linha);
    }
    return lista;
}

// A store is not served a command for a row when a later command of its own
// for that row is held: the row is its table (any letter case) and both key
// texts. Positions stay the server's; what is passed over simply is not
// there, "ultimaordem" included, and is listed as a conflict once.
TEST_F(CentralTest, AStoreIsNotServedWhatItsOwnLaterChangeOfTheRowSupersedes) {
    // Store 1: positions 1 to 5.
    ASSERT_EQ(Enviar(1, Corpo(1, {ComandoDaLinha(1, "PRODUTOS", "20"), ComandoDaLinha(2, "PRECOS", "1", "20"),
                                  ComandoDaLinha(3, "PRECOS", "1", "21"), ComandoDaLinha(4, "VENDAS", nullptr),
                                  ComandoDaLinha(5, "ITENS", "7", nullptr)}))
                  ->status,
              200);
    // Store 2: positions 6 to 10, the same rows where the keys agree.
    ASSERT_EQ(Enviar(2, Corpo(2, {ComandoDaLinha(1, "produtos", "20"), ComandoDaLinha(2, "PRECOS", "1", "22"),
                                  ComandoDaLinha(3, "PRECOS", "1", "21"), ComandoDaLinha(4, "VENDAS", nullptr),
                                  ComandoDaLinha(5, "ITENS", "7", "")}))
                  ->status,
              200);
    EXPECT_EQ(M(Get("/status").Membro("lojas")->Elementos().at(1), "comandosaguardando"), "2");

    // Passed over: PRODUTOS 20 (table in other case), PRECOS 1/21, ITENS 7
    // (no second key is an empty one). Served: another PRECOS key, and a
    // command that names no row.
    const TValorJSON bloco = Get("/receber/2/0");
    EXPECT_EQ(Ordens(bloco), (std::vector<std::string>{"2", "4"}));
    EXPECT_EQ(M(bloco, "ordeminicial"), "2");
    EXPECT_EQ(M(bloco, "ordemfinal"), "4");
    EXPECT_EQ(M(bloco, "ultimaordem"), "4");
    EXPECT_EQ(M(Get("/receber/2/4"), "ultimaordem"), "0");
    // Store 1 and store 3 get everything addressed to them.
    EXPECT_EQ(Ordens(Get("/receber/1/0")), (std::vector<std::string>{"6", "7", "8", "9", "10"}));
    EXPECT_EQ(Ordens(Get("/receber/3/0")).size(), 10u);

    const TValorJSON status = Get("/status");
    EXPECT_EQ(M(status, "conflitos"), "3");
    EXPECT_EQ(Conflitos(status), (std::vector<std::string>{"ITENS 7  2 1 5 2 10", "PRECOS 1 21 2 1 3 2 8",
                                                           "PRODUTOS 20  2 1 1 2 6"}));
    EXPECT_EQ(M(status.Membro("lojas")->Elementos().at(1), "comandosaguardando"), "0");
    // Asked again, the same passing over is not counted again.
    Get("/receber/2/0");
    EXPECT_EQ(M(Get("/status"), "conflitos"), "3");
}

// Switched off (only a test can), every command is served as before.
TEST_F(CentralTest, WithoutTheRuleEveryCommandIsServed) {
    armazem_->DefinirPrecedenciaDaLoja(false);
    ASSERT_EQ(Enviar(1, Corpo(1, {ComandoDaLinha(1, "PRODUTOS", "20")}))->status, 200);
    ASSERT_EQ(Enviar(2, Corpo(2, {ComandoDaLinha(1, "PRODUTOS", "20")}))->status, 200);
    EXPECT_EQ(Ordens(Get("/receber/2/0")), std::vector<std::string>{"1"});
    EXPECT_EQ(M(Get("/status"), "conflitos"), "0");
}

// A command the agent set aside: the store had reported its log to reach its
// own change before it was served the other store's command for that row,
// so when the change arrives the server lists the conflict. A change logged
// after the store had received is no conflict.
TEST_F(CentralTest, ACommandAStoreSetAsideForItsPendingChangeIsListedWhenTheChangeArrives) {
    // Store 1 has logged up to 5 (its change of PRODUTOS 20 is 5), asks
    // before receiving.
    EXPECT_EQ(M(Get("/obterindiceenvio/1/5"), "ultimaordemenviada"), "0");
    // Store 2's changes of PRODUTOS 20 and 21 come in between.
    ASSERT_EQ(Enviar(2, Corpo(2, {ComandoDaLinha(1, "PRODUTOS", "20"), ComandoDaLinha(2, "PRODUTOS", "21")}))->status,
              200);
    EXPECT_EQ(Ordens(Get("/receber/1/0")), (std::vector<std::string>{"1", "2"}));
    EXPECT_EQ(M(Get("/receber/1/2"), "ultimaordem"), "0");
    // Store 1 sends 5 (PRODUTOS 20, pending while it received) and, in a
    // later run, 7 (PRODUTOS 21, logged after it had received).
    ASSERT_EQ(Enviar(1, Corpo(1, {ComandoDaLinha(5, "PRODUTOS", "20")}))->status, 200);
    EXPECT_EQ(M(Get("/obterindiceenvio/1/7"), "ultimaordemenviada"), "5");
    EXPECT_EQ(M(Get("/receber/1/2"), "ultimaordem"), "0");
    ASSERT_EQ(Enviar(1, Corpo(1, {ComandoDaLinha(7, "PRODUTOS", "21")}))->status, 200);

    const TValorJSON status = Get("/status");
    EXPECT_EQ(M(status, "conflitos"), "1");
    EXPECT_EQ(Conflitos(status), std::vector<std::string>{"PRODUTOS 20  1 2 1 1 3"});
}

// A file made before commands had their row columns: opened, it gets them,
// filled from the commands it holds, and the rule applies to those too.
TEST_F(CentralTest, AnExistingFileGetsTheRowOfEveryCommandItHolds) {
    TearDown();
    sqlite3* banco = nullptr;
    ASSERT_EQ(sqlite3_open(arquivo_.c_str(), &banco), SQLITE_OK);
    const std::string comando1 = ComandoDaLinha(1, "produtos", "20");
    const std::string comando2 = ComandoDaLinha(1, "PRODUTOS", "20");
    const std::string antigo =
        "CREATE TABLE comandos (posicao INTEGER PRIMARY KEY AUTOINCREMENT, loja_origem INTEGER NOT NULL,"
        " ordem_origem INTEGER NOT NULL, destino INTEGER NOT NULL, json TEXT NOT NULL,"
        " UNIQUE (loja_origem, ordem_origem));"
        "CREATE INDEX comandos_destino ON comandos (destino, posicao);"
        "CREATE TABLE lojas (codigo INTEGER PRIMARY KEY, posicao_confirmada INTEGER NOT NULL DEFAULT 0,"
        " posicao_recebida INTEGER NOT NULL DEFAULT 0, ultimo_pedido TEXT, ultimo_movimento_loja INTEGER,"
        " envio_parado_desde TEXT);"
        "INSERT INTO lojas (codigo, posicao_confirmada) VALUES (1, 1), (2, 1);"
        "INSERT INTO comandos (loja_origem, ordem_origem, destino, json) VALUES (1, 1, 0, '" + comando1 + "');" +
        "INSERT INTO comandos (loja_origem, ordem_origem, destino, json) VALUES (2, 1, 0, '" + comando2 + "');";
    ASSERT_EQ(sqlite3_exec(banco, antigo.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(banco);
    sqlite3_close(banco);

    const auto posicoes = [](const ondaris::central::BlocoParaLoja& b) {
        std::vector<std::int64_t> p;
        for (const auto& c : b.Comandos) p.push_back(c.Posicao);
        return p;
    };
    {
        ondaris::central::Armazem armazem(arquivo_.string());
        EXPECT_EQ(posicoes(armazem.Receber(2, 0, 1000)), std::vector<std::int64_t>{});
        EXPECT_EQ(posicoes(armazem.Receber(1, 0, 1000)), std::vector<std::int64_t>{2});
        EXPECT_EQ(armazem.Conflitos().Total, 1);
        // The stored commands are served as they were.
        const auto todos = armazem.Receber(3, 0, 1000);
        ASSERT_EQ(todos.Comandos.size(), 2u);
        EXPECT_EQ(todos.Comandos[0].Json, comando1);
    }
    // Opened again, nothing changes.
    ondaris::central::Armazem armazem(arquivo_.string());
    EXPECT_EQ(posicoes(armazem.Receber(1, 0, 1000)), std::vector<std::int64_t>{2});
    EXPECT_EQ(armazem.Conflitos().Total, 1);
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

TEST_F(CentralTest, StatusShowsSinceWhenAStoresSendingIsHeld) {
    auto loja = [this](int codigo) {
        const TValorJSON status = Get("/status");
        for (const auto& l : status.Membro("lojas")->Elementos())
            if (M(l, "loja") == std::to_string(codigo)) return l;
        ADD_FAILURE() << "store " << codigo << " is not in the status";
        return TValorJSON();
    };
    // The server's clock, driven: an hour passes between the first report
    // and the next ones.
    std::atomic<std::chrono::system_clock::rep> agora{
        std::chrono::system_clock::now().time_since_epoch().count()};
    armazem_->DefinirRelogio([&agora] {
        return std::chrono::system_clock::time_point(std::chrono::system_clock::duration(agora.load()));
    });
    // Store 1 has logged up to 10, the server holds nothing of it.
    EXPECT_EQ(M(Get("/obterindiceenvio/1/10"), "ultimaordemenviada"), "0");
    EXPECT_EQ(M(Get("/obterindiceenvio/2/0"), "ultimaordemenviada"), "0");
    const std::string desde = M(loja(1), "envioparadodesde");
    EXPECT_EQ(desde.size(), 20u) << desde;  // 2024-01-31T12:00:00Z
    EXPECT_EQ(loja(1).Membro("envioparadodesde")->Tipo(), ondaris::protocolo::TTipoJSON::Texto);
    EXPECT_EQ(M(loja(1), "ultimomovimentoloja"), "10");
    EXPECT_TRUE(loja(2).Membro("envioparadodesde")->EhNulo()) << "store 2 has nothing to send";

    // A sale holds position 1: the store keeps sending empty blocks and
    // asking; the time stays the first one.
    agora += std::chrono::duration_cast<std::chrono::system_clock::duration>(std::chrono::hours(1)).count();
    ASSERT_EQ(Enviar(1, Corpo(1, {}, R"(,"ordeminicial":"1","ordemfinal":"0")"))->status, 200);
    EXPECT_EQ(M(Get("/obterindiceenvio/1/10"), "ultimaordemenviada"), "0");
    EXPECT_EQ(M(loja(1), "envioparadodesde"), desde);

    // The sale ends and everything is sent.
    ASSERT_EQ(Enviar(1, Corpo(1, {Comando(1, ""), Comando(10, "")}, R"(,"ordeminicial":"1","ordemfinal":"10")"))
                  ->status,
              200);
    EXPECT_TRUE(loja(1).Membro("envioparadodesde")->EhNulo());
    EXPECT_EQ(M(Get("/obterindiceenvio/1/10"), "ultimaordemenviada"), "10");
    EXPECT_TRUE(loja(1).Membro("envioparadodesde")->EhNulo());
    EXPECT_EQ(M(loja(1), "ultimaordemenviada"), "10");
}

}  // namespace
