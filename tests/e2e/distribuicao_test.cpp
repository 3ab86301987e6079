// Serving many stores from the central server's window of commands never
// changes what a store is served: every answer, over real HTTP, is checked
// against what the stored commands say directly (the rule written as one
// plain query over the database file), through a scripted mix of stores
// sending and receiving, with rows changed by several stores, commands
// addressed to one store or to all, stores asking again from older
// positions, a second server over the same file and the oldest commands
// removed.
#include <gtest/gtest.h>
#include <httplib.h>
#include <sqlite3.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "central/armazem.h"
#include "central/http.h"
#include "central/servidor.h"
#include "e2e/escuta_teste.h"
#include "protocolo/json.h"

namespace {

using namespace std::chrono_literals;
using ondaris::protocolo::LerJSON;
using ondaris::protocolo::TValorJSON;

// A stored command as the database file holds it.
struct Esperado {
    std::int64_t Posicao;
    std::string Json;
};

// What `loja` must be served after `depoisDe`, read straight from the file:
// addressed to it, and no later command of its own for the same row.
std::vector<Esperado> ServirDoArquivo(const std::string& arquivo, int loja, std::int64_t depoisDe) {
    sqlite3* banco = nullptr;
    EXPECT_EQ(sqlite3_open_v2(arquivo.c_str(), &banco, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    sqlite3_stmt* st = nullptr;
    EXPECT_EQ(sqlite3_prepare_v2(
                  banco,
                  "SELECT c.posicao, c.json FROM comandos c WHERE c.posicao > ?2 AND"
                  " (c.destino = ?1 OR (c.destino = 0 AND c.loja_origem <> ?1)) AND NOT EXISTS (SELECT 1 FROM"
                  " comandos s WHERE s.loja_origem = ?1 AND s.tabela = c.tabela AND s.chave1 = c.chave1 AND"
                  " s.chave2 IS c.chave2 AND s.posicao > c.posicao) ORDER BY c.posicao",
                  -1, &st, nullptr),
              SQLITE_OK)
        << sqlite3_errmsg(banco);
    sqlite3_bind_int(st, 1, loja);
    sqlite3_bind_int64(st, 2, depoisDe);
    std::vector<Esperado> lista;
    while (sqlite3_step(st) == SQLITE_ROW)
        lista.push_back({sqlite3_column_int64(st, 0), reinterpret_cast<const char*>(sqlite3_column_text(st, 1))});
    sqlite3_finalize(st);
    sqlite3_close(banco);
    return lista;
}

// The stored command as a store receives it: "ordem" (its first member, as
// these tests write them) carries the position.
std::string ComoServido(const Esperado& e) {
    const std::string inicio = R"({"ordem":")";
    EXPECT_EQ(e.Json.rfind(inicio, 0), 0u) << e.Json;
    return inicio + std::to_string(e.Posicao) + e.Json.substr(e.Json.find('"', inicio.size()));
}

class DistribuicaoTest : public ::testing::Test {
protected:
    void SetUp() override {
        arquivo_ = (std::filesystem::temp_directory_path() /
                    ("ondaris-distribuicao-" + std::to_string(getpid()) + "-" +
                     ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".sqlite"))
                       .string();
        Remover();
        armazem_ = std::make_unique<ondaris::central::Armazem>(arquivo_);
        central_ = std::make_unique<ondaris::central::ServidorCentral>(
            *armazem_, R"([{"tabela":"PRODUTOS","campo":"CODIGO","chave":"PRIMARY KEY"}])");
        servidor_ = std::make_unique<ondaris::central::ServidorHttp>();
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
        Remover();
    }
    void Remover() {
        for (auto sufixo : {"", "-wal", "-shm"}) std::filesystem::remove(arquivo_ + sufixo);
    }

    // Sends `n` commands from `loja` (its log goes on from where it was),
    // each for one of a few rows of two tables or for no row, addressed to
    // everyone or to one store.
    void Enviar(int loja, int n, std::mt19937& acaso, httplib::Client* cliente = nullptr) {
        std::int64_t& log = logs_[loja];
        std::string lista;
        for (int i = 0; i < n; ++i) {
            const std::int64_t ordem = ++log;
            const int tipo = std::uniform_int_distribution<int>(0, 9)(acaso);
            const int destino = tipo < 6 ? 0 : std::uniform_int_distribution<int>(1, kLojas)(acaso);
            std::string c = R"({"ordem":")" + std::to_string(ordem) + R"(","codigolojadestino":")" +
                            std::to_string(destino) + R"(","acao":"U","tabela":")";
            if (tipo == 9) {
                c += R"(VENDAS")";  // names no row
            } else {
                // Few rows, so stores often change the same one; the second
                // key left out, empty or given.
                c += std::string(tipo % 2 ? "PRODUTOS" : "precos") + R"(","atualvalorchave1":")" +
                     std::to_string(std::uniform_int_distribution<int>(1, 6)(acaso)) + "\"";
                const int chave2 = std::uniform_int_distribution<int>(0, 2)(acaso);
                if (chave2 == 1) c += R"(,"atualvalorchave2":"")";
                if (chave2 == 2) c += R"(,"atualvalorchave2":"B")";
            }
            c += R"(,"idtransacao":")" + std::to_string(ordem) + R"(","campos":{"CODIGO":")" + std::to_string(ordem) +
                 R"(","NOME":"a \"b\" \u00e7"}})";
            lista += (lista.empty() ? "" : ",") + c;
        }
        auto r = (cliente ? cliente : cliente_.get())->Put(("/enviar/" + std::to_string(loja)).c_str(),
                               R"({"codigolojaorigem":")" + std::to_string(loja) + R"(","comandos":[)" + lista + "]}",
                               "application/json");
        ASSERT_TRUE(r);
        ASSERT_EQ(r->status, 200) << r->body;
    }

    // One request over HTTP, checked against the file: the commands, their
    // bytes and the bounds. Returns where the store goes on from.
    std::int64_t ReceberConferindo(int loja, std::int64_t depoisDe, httplib::Client* cliente = nullptr) {
        const std::vector<Esperado> tudo = ServirDoArquivo(arquivo_, loja, depoisDe);
        auto r = (cliente ? cliente : cliente_.get())
                     ->Get(("/receber/" + std::to_string(loja) + "/" + std::to_string(depoisDe)).c_str());
        EXPECT_TRUE(r);
        if (!r) return depoisDe;
        EXPECT_EQ(r->status, 200) << r->body;
        const std::size_t n = std::min<std::size_t>(tudo.size(), 1000);
        const auto texto = [](std::int64_t p) { return "\"" + std::to_string(p) + "\""; };
        std::string esperado = "{\"ordeminicial\":" + texto(n ? tudo.front().Posicao : 0) +
                               ",\"ordemfinal\":" + texto(n ? tudo[n - 1].Posicao : 0) +
                               ",\"ultimaordem\":" + texto(n ? tudo.back().Posicao : 0) + ",\"comandos\":[";
        for (std::size_t i = 0; i < n; ++i) esperado += (i ? "," : "") + ComoServido(tudo[i]);
        esperado += "]}";
        EXPECT_EQ(r->body, esperado) << "loja " << loja << " depois de " << depoisDe;
        EXPECT_TRUE(LerJSON(r->body)) << r->body;
        ++conferidos_;
        return n ? tudo[n - 1].Posicao : depoisDe;
    }

    // The same request to the store of commands itself, with a small block.
    void ReceberEmBlocosConferindo(ondaris::central::Armazem& armazem, int loja, std::int64_t depoisDe, int limite) {
        const std::vector<Esperado> tudo = ServirDoArquivo(arquivo_, loja, depoisDe);
        const auto b = armazem.Receber(loja, depoisDe, limite);
        ASSERT_EQ(b.UltimaPosicao, tudo.empty() ? 0 : tudo.back().Posicao) << "loja " << loja << " depois de " << depoisDe;
        ASSERT_EQ(b.Comandos.size(), std::min<std::size_t>(tudo.size(), static_cast<std::size_t>(limite)));
        for (std::size_t i = 0; i < b.Comandos.size(); ++i) {
            EXPECT_EQ(b.Comandos[i].Posicao, tudo[i].Posicao);
            EXPECT_EQ(b.Comandos[i].Json, ComoServido(tudo[i]));
        }
        ++conferidos_;
    }

    void ConferirAguardando() {
        auto r = cliente_->Get("/status");
        ASSERT_TRUE(r);
        const auto status = LerJSON(r->body);
        ASSERT_TRUE(status);
        for (const TValorJSON& l : status->Membro("lojas")->Elementos()) {
            const int loja = std::stoi(l.Membro("loja")->Bruto());
            const std::int64_t recebida = std::stoll(l.Membro("ultimaordemrecebida")->Bruto());
            EXPECT_EQ(l.Membro("comandosaguardando")->Bruto(),
                      std::to_string(ServirDoArquivo(arquivo_, loja, recebida).size()))
                << "loja " << loja;
        }
    }

    // The oldest commands removed, as the operator's command does once
    // every store has received them.
    void RemoverAte(std::int64_t posicao) {
        sqlite3* banco = nullptr;
        ASSERT_EQ(sqlite3_open(arquivo_.c_str(), &banco), SQLITE_OK);
        sqlite3_busy_timeout(banco, 5000);
        const std::string sql = "DELETE FROM comandos WHERE posicao <= " + std::to_string(posicao);
        EXPECT_EQ(sqlite3_exec(banco, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(banco);
        sqlite3_close(banco);
    }

    static constexpr int kLojas = 6;
    std::string arquivo_;
    std::unique_ptr<ondaris::central::Armazem> armazem_;
    std::unique_ptr<ondaris::central::ServidorCentral> central_;
    std::unique_ptr<ondaris::central::ServidorHttp> servidor_;
    std::unique_ptr<ondaris::teste::EscutaCentral> escuta_;
    int porta_ = 0;
    std::unique_ptr<httplib::Client> cliente_;
    std::map<int, std::int64_t> logs_;
    int conferidos_ = 0;
};

// Stores send and receive in turn; each answer is what the file says. The
// first request comes after much was stored (the window then starts late
// and grows back when stores ask from before it), stores ask again from
// older positions and from 0, and each store's own later changes of a row
// pass commands over.
TEST_F(DistribuicaoTest, EveryAnswerIsWhatTheStoredCommandsSay) {
    std::mt19937 acaso(7);
    for (int loja = 1; loja <= kLojas; ++loja) Enviar(loja, 40, acaso);
    std::map<int, std::int64_t> posicoes;
    // The first request asks from near the end.
    posicoes[3] = ReceberConferindo(3, 200);
    for (int passo = 0; passo < 120; ++passo) {
        const int loja = std::uniform_int_distribution<int>(1, kLojas)(acaso);
        switch (std::uniform_int_distribution<int>(0, 3)(acaso)) {
        case 0:
            Enviar(loja, std::uniform_int_distribution<int>(1, 30)(acaso), acaso);
            break;
        case 1:  // goes on from where it is
            posicoes[loja] = ReceberConferindo(loja, posicoes[loja]);
            break;
        case 2:  // asks again from an older position
            ReceberConferindo(loja, std::uniform_int_distribution<std::int64_t>(0, posicoes[loja])(acaso));
            break;
        case 3:  // in small blocks, from anywhere
            ReceberEmBlocosConferindo(*armazem_, loja, std::uniform_int_distribution<std::int64_t>(0, 400)(acaso),
                                      std::uniform_int_distribution<int>(1, 9)(acaso));
            break;
        }
    }
    ConferirAguardando();
    EXPECT_GT(conferidos_, 80);
}

// A second server over the same file (as several central processes share
// one database) answers as the first while both take blocks in turn.
TEST_F(DistribuicaoTest, ASecondServerOverTheSameFileServesTheSame) {
    std::mt19937 acaso(11);
    ondaris::central::Armazem outro(arquivo_);
    ondaris::central::ServidorCentral central(outro, "[]");
    ondaris::central::ServidorHttp servidor;
    central.Registrar(servidor);
    ondaris::teste::EscutaCentral escuta(servidor);
    ASSERT_TRUE(escuta.Pronta());
    httplib::Client cliente("127.0.0.1", escuta.Porta());
    cliente.set_read_timeout(10, 0);
    for (int rodada = 0; rodada < 16; ++rodada) {
        Enviar(1 + rodada % kLojas, 25, acaso, rodada % 2 ? &cliente : nullptr);
        for (int loja = 1; loja <= kLojas; ++loja) {
            const std::int64_t depoisDe = std::uniform_int_distribution<std::int64_t>(0, 25 * rodada)(acaso);
            ReceberEmBlocosConferindo(outro, loja, depoisDe, 10);
            ReceberConferindo(loja, depoisDe, &cliente);
            ReceberConferindo(loja, depoisDe);
        }
    }
}

// Once the oldest commands are removed, no store is served them again,
// from any position, and the rest is served as before.
TEST_F(DistribuicaoTest, RemovedCommandsAreNotServedAgain) {
    std::mt19937 acaso(3);
    for (int loja = 1; loja <= kLojas; ++loja) Enviar(loja, 30, acaso);
    for (int loja = 1; loja <= kLojas; ++loja) ReceberConferindo(loja, 0);
    RemoverAte(100);
    for (int loja = 1; loja <= kLojas; ++loja) {
        ReceberConferindo(loja, 0);
        ReceberConferindo(loja, 150);
    }
    RemoverAte(1000);  // all of them
    for (int loja = 1; loja <= kLojas; ++loja) EXPECT_EQ(ReceberConferindo(loja, 0), 0);
    Enviar(2, 5, acaso);
    for (int loja = 1; loja <= kLojas; ++loja) ReceberConferindo(loja, 0);
    ConferirAguardando();
}

// What every store has received is let go from the window once it has
// taken in enough since; a store asking again from before gets it as
// before.
TEST_F(DistribuicaoTest, WhatEveryStoreReceivedIsServedAgainWhenAskedFor) {
    std::mt19937 acaso(5);
    const auto receberTudo = [&](int loja, std::int64_t posicao) {
        for (std::int64_t antes = -1; posicao != antes;) {
            antes = posicao;
            posicao = ReceberConferindo(loja, posicao);
        }
    };
    for (int i = 0; i < 12; ++i) Enviar(1 + i % 2, 1000, acaso);
    for (int loja = 1; loja <= 3; ++loja) receberTudo(loja, 0);
    for (int i = 0; i < 11; ++i) Enviar(3, 1000, acaso);
    for (int loja = 1; loja <= 3; ++loja) receberTudo(loja, 12000);
    // Asked again from 0 and from the middle, after the window let go.
    for (int loja = 1; loja <= 3; ++loja) {
        ReceberConferindo(loja, 0);
        ReceberConferindo(loja, 6500);
        ReceberEmBlocosConferindo(*armazem_, loja, 100, 50);
    }
    ConferirAguardando();
}

}  // namespace
