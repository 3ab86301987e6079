// Several central servers over one PostgreSQL database serve one chain: two
// real server processes behind clients that alternate between them, stores
// sending and receiving at once, and every command reaches every store it
// is addressed to once and in order. And positions become visible in the
// order they were handed out, so a store that moves past one never misses
// one below it that committed later.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "central/armazem.h"
#include "central/credenciais.h"
#include "e2e/postgres_teste.h"
#include "protocolo/json.h"
#include "support/loja_e2e.h"
#include "support/pasta_temporaria.h"

namespace {

using namespace std::chrono_literals;
using ondaris::protocolo::LerJSON;
using ondaris::protocolo::TValorJSON;

int PortaLivre() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t tamanho = sizeof a;
    int porta = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &tamanho) == 0)
        porta = ntohs(a.sin_port);
    ::close(fd);
    return porta;
}

// The real ondaris-central over `banco`, on a free port of 127.0.0.1.
class ProcessoCentral {
public:
    ProcessoCentral(const std::string& banco, const std::filesystem::path& pasta, const std::string& nome) {
        const auto estrutura = pasta / "estrutura.json";
        ondaris::teste::GravarBytes(estrutura, R"([{"tabela":"PRODUTOS","campo":"CODIGO","chave":"PRIMARY KEY"}])");
        std::string saida;
        for (int tentativa = 0; tentativa < 5 && !processo_; ++tentativa) {
            const int porta = PortaLivre();
            auto p = std::make_unique<ondaris::teste::Processo>(
                std::vector<std::string>{ONDARIS_BINARY_DIR "/central/ondaris-central", "--banco", banco, "--estrutura",
                                         estrutura.string(), "--porta", std::to_string(porta)},
                pasta / (nome + ".out"));
            const auto fim = std::chrono::steady_clock::now() + 10s;
            while (std::chrono::steady_clock::now() < fim) {
                saida = p->Saida();
                if (saida.find("escutando") != std::string::npos) {
                    processo_ = std::move(p);
                    porta_ = porta;
                    break;
                }
                if (p->Terminou()) break;  // the port was taken meanwhile
                std::this_thread::sleep_for(10ms);
            }
        }
        if (!processo_) throw std::runtime_error("the central server did not come up; its output:\n" + saida);
    }
    int Porta() const { return porta_; }
    std::string Saida() const { return processo_->Saida(); }

private:
    std::unique_ptr<ondaris::teste::Processo> processo_;
    int porta_ = 0;
};

// A command of store `loja`, its own row, addressed to `destino` (0: every
// store but `loja`); its "campos" carry "loja-ordem" to be recognised.
std::string Comando(int loja, long long ordem, int destino) {
    const std::string marca = std::to_string(loja) + "-" + std::to_string(ordem);
    return R"({"ordem":")" + std::to_string(ordem) + R"(","codigolojadestino":")" + std::to_string(destino) +
           R"(","acao":"U","tabela":"PRODUTOS","atualvalorchave1":")" + marca +
           R"(","atualvalorchave2":"","idtransacao":"1","campos":{"CODIGO":")" + marca + R"("}})";
}

struct Enviado {
    int Loja;
    long long Ordem;
    int Destino;
};

// One store as its agent behaves towards the central server, each request
// to the next of the given servers in turn.
class LojaSimulada {
public:
    // `segredo`: the store's credential at the central server.
    LojaSimulada(int codigo, const std::string& segredo, const std::vector<int>& portas) : codigo_(codigo) {
        for (int p : portas) {
            clientes_.push_back(std::make_unique<httplib::Client>("127.0.0.1", p));
            clientes_.back()->set_read_timeout(30, 0);
            clientes_.back()->set_basic_auth(ondaris::central::UsuarioDaLoja(codigo), segredo);
        }
    }

    // Logs `destinos.size()` changes and sends them: asks how far the server
    // holds its log, then sends the rest in one block with its bounds.
    void Enviar(const std::vector<int>& destinos) {
        for (int d : destinos) {
            ++fimLog_;
            enviados_.push_back({codigo_, fimLog_, d});
        }
        const auto indice = Pedir("/obterindiceenvio/" + std::to_string(codigo_) + "/" + std::to_string(fimLog_));
        const long long confirmada = std::stoll(indice.Membro("ultimaordemenviada")->Bruto());
        std::string lista;
        for (const Enviado& e : enviados_)
            if (e.Ordem > confirmada) lista += (lista.empty() ? "" : ",") + Comando(codigo_, e.Ordem, e.Destino);
        const std::string corpo = R"({"codigolojaorigem":")" + std::to_string(codigo_) + R"(","comandos":[)" + lista +
                                  R"(],"ordeminicial":")" + std::to_string(confirmada + 1) + R"(","ordemfinal":")" +
                                  std::to_string(fimLog_) + "\"}";
        auto r = Cliente().Put(("/enviar/" + std::to_string(codigo_)).c_str(), corpo, "application/json");
        if (!r || r->status != 200) {
            ADD_FAILURE() << "store " << codigo_ << ": enviar failed: " << (r ? r->body : httplib::to_string(r.error()));
            return;
        }
        EXPECT_EQ(LerJSON(r->body)->Membro("ultimaordemenviada")->Bruto(), std::to_string(fimLog_));
    }

    // Receives until nothing waits, as the agent does: each block after the
    // last position it applied.
    void ReceberTudo() {
        for (;;) {
            const TValorJSON bloco = Pedir("/receber/" + std::to_string(codigo_) + "/" + std::to_string(recebida_));
            const auto& comandos = bloco.Membro("comandos")->Elementos();
            if (comandos.empty()) return;
            for (const TValorJSON& c : comandos) {
                const long long posicao = std::stoll(c.Membro("ordem")->Bruto());
                EXPECT_GT(posicao, recebida_) << "store " << codigo_ << " was served a position out of order";
                recebida_ = posicao;
                marcas_.push_back(c.Membro("campos")->Membro("CODIGO")->Bruto());
            }
            recebida_ = std::stoll(bloco.Membro("ordemfinal")->Bruto());
        }
    }

    int Codigo() const { return codigo_; }
    const std::vector<Enviado>& Enviados() const { return enviados_; }
    const std::vector<std::string>& Marcas() const { return marcas_; }

private:
    httplib::Client& Cliente() { return *clientes_[pedido_++ % clientes_.size()]; }
    TValorJSON Pedir(const std::string& caminho) {
        auto r = Cliente().Get(caminho.c_str());
        if (!r || r->status != 200) {
            ADD_FAILURE() << "GET " << caminho << ": " << (r ? r->body : httplib::to_string(r.error()));
            return *LerJSON(R"({"comandos":[],"ultimaordemenviada":"0"})");
        }
        return *LerJSON(r->body);
    }

    int codigo_;
    std::vector<std::unique_ptr<httplib::Client>> clientes_;
    std::size_t pedido_ = 0;
    long long fimLog_ = 0;
    long long recebida_ = 0;
    std::vector<Enviado> enviados_;
    std::vector<std::string> marcas_;
};

class CentralPostgresTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* base = ondaris::teste::EnderecoPostgresDeTeste();
        if (!base) GTEST_SKIP() << ondaris::teste::kSemPostgres;
        banco_ = std::make_unique<ondaris::teste::BancoPostgresDeTeste>(base);
    }
    std::unique_ptr<ondaris::teste::BancoPostgresDeTeste> banco_;
};

TEST_F(CentralPostgresTest, TwoServerProcessesServeEveryCommandOnceAndInOrderToEveryStore) {
    ondaris::teste::PastaTemporaria pasta("ondaris-central-postgres");
    ProcessoCentral a(banco_->Uri(), pasta.Caminho(), "a");
    ProcessoCentral b(banco_->Uri(), pasta.Caminho(), "b");

    constexpr int kLojas = 6;
    constexpr int kRodadas = 20;
    std::vector<std::unique_ptr<LojaSimulada>> lojas;
    ondaris::central::Credenciais credenciais(banco_->Uri());
    for (int i = 1; i <= kLojas; ++i)
        lojas.push_back(std::make_unique<LojaSimulada>(i, credenciais.Criar(i),
                                                       i % 2 ? std::vector<int>{a.Porta(), b.Porta()}
                                                             : std::vector<int>{b.Porta(), a.Porta()}));
    // Every store sends and receives at once: blocks of 1 to 7 changes,
    // every third one addressed to one other store (never itself), the rest
    // to all.
    std::vector<std::thread> fios;
    for (auto& loja : lojas)
        fios.emplace_back([&loja] {
            for (int rodada = 0; rodada < kRodadas; ++rodada) {
                std::vector<int> destinos;
                for (int i = 0; i < 1 + (loja->Codigo() * 3 + rodada) % 7; ++i)
                    destinos.push_back((rodada + i) % 3 == 0 ? 1 + (loja->Codigo() + i % (kLojas - 1)) % kLojas : 0);
                loja->Enviar(destinos);
                loja->ReceberTudo();
            }
        });
    for (auto& f : fios) f.join();
    for (auto& loja : lojas) loja->ReceberTudo();

    std::size_t total = 0;
    for (auto& destino : lojas) {
        std::multiset<std::string> esperado;
        std::map<int, std::vector<long long>> porOrigem;
        for (auto& origem : lojas)
            for (const Enviado& e : origem->Enviados())
                if (e.Loja != destino->Codigo() && (e.Destino == 0 || e.Destino == destino->Codigo()))
                    esperado.insert(std::to_string(e.Loja) + "-" + std::to_string(e.Ordem));
        const std::multiset<std::string> recebido(destino->Marcas().begin(), destino->Marcas().end());
        std::vector<std::string> faltam, sobram;
        std::set_difference(esperado.begin(), esperado.end(), recebido.begin(), recebido.end(),
                            std::back_inserter(faltam));
        std::set_difference(recebido.begin(), recebido.end(), esperado.begin(), esperado.end(),
                            std::back_inserter(sobram));
        EXPECT_TRUE(faltam.empty() && sobram.empty())
            << "store " << destino->Codigo() << ": missing " << ::testing::PrintToString(faltam) << ", more than once "
            << "or not addressed to it " << ::testing::PrintToString(sobram);
        // Each store's commands arrive in the order of its log.
        for (const std::string& m : destino->Marcas())
            porOrigem[std::stoi(m.substr(0, m.find('-')))].push_back(std::stoll(m.substr(m.find('-') + 1)));
        for (const auto& [origem, ordens] : porOrigem)
            EXPECT_TRUE(std::is_sorted(ordens.begin(), ordens.end())) << "store " << origem << "'s commands at store "
                                                                      << destino->Codigo();
        total += recebido.size();
    }
    EXPECT_GT(total, 500u);
    // Both processes served.
    for (const ProcessoCentral* p : {&a, &b}) {
        httplib::Client c("127.0.0.1", p->Porta());
        auto r = c.Get("/status");
        ASSERT_TRUE(r);
        EXPECT_EQ(LerJSON(r->body)->Membro("lojas")->Elementos().size(), static_cast<std::size_t>(kLojas));
    }
}

// Stores send one command per block as fast as they can, each over its own
// connection (as separate server processes do), while another store keeps
// receiving and moving its position past what it was served. Were a
// position to become visible before a lower one, the lower one would be
// skipped for good: the reader would miss it.
TEST_F(CentralPostgresTest, PositionsBecomeVisibleInTheOrderTheyWereHandedOut) {
    constexpr int kEscritores = 6;
    constexpr int kPorEscritor = 150;
    std::atomic<int> terminados{0};
    std::vector<std::thread> fios;
    for (int loja = 1; loja <= kEscritores; ++loja)
        fios.emplace_back([&, loja] {
            ondaris::central::Armazem armazem(banco_->Uri());
            for (int ordem = 1; ordem <= kPorEscritor; ++ordem) {
                ondaris::central::BlocoRecebido bloco;
                bloco.Loja = loja;
                ondaris::central::ComandoRecebido c;
                c.Ordem = ordem;
                c.Json = Comando(loja, ordem, 0);
                c.Linha = ondaris::central::LinhaDoComando(*LerJSON(c.Json));
                bloco.Comandos.push_back(std::move(c));
                armazem.Gravar(bloco);
            }
            ++terminados;
        });
    std::set<std::int64_t> vistos;
    std::int64_t recebida = 0;
    int leituras = 0;
    {
        ondaris::central::Armazem leitor(banco_->Uri());
        for (bool ultima = false; !ultima;) {
            ultima = terminados == kEscritores;  // after every writer has committed: one last read
            for (;;) {
                const auto bloco = leitor.Receber(99, recebida, 1000);
                ++leituras;
                if (bloco.Comandos.empty()) break;
                for (const auto& c : bloco.Comandos) {
                    EXPECT_GT(c.Posicao, recebida);
                    vistos.insert(c.Posicao);
                    recebida = c.Posicao;
                }
            }
        }
    }
    for (auto& f : fios) f.join();
    EXPECT_EQ(vistos.size(), static_cast<std::size_t>(kEscritores * kPorEscritor)) << "after " << leituras << " reads";
    ondaris::central::Armazem conferir(banco_->Uri());
    EXPECT_EQ(conferir.Receber(100, 0, 1000000).Comandos.size(), static_cast<std::size_t>(kEscritores * kPorEscritor));
}

}  // namespace
