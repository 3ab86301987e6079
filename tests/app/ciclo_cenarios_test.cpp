// Whole synchronisation runs: TCiclo over the real engine (TOperacoesMotor on
// a TDM opened on a throwaway store database) against a central server inside
// the test process. The server keeps what a central server keeps: the store's
// acknowledged log position, advanced by every block it accepts, and the
// commands waiting for the store; a scenario can replace any endpoint's
// answers one request at a time.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unistd.h>
#include <vector>

#include "db/udm.h"
#include "support/banco_teste.h"
#include "support/servidor_http.h"
#include "sync/ciclo.h"
#include "sync/json.h"
#include "sync/operacoes.h"
#include "sync/requisicao.h"

namespace ondaris::sync {
namespace {

using teste::BancoTeste;
using teste::RequisicaoRecebida;
using teste::RespostaProgramada;
using teste::ServidorHttp;

constexpr std::int32_t kLoja = 7;
// The store's log holds 5001 to 5003 (see SetUpTestSuite).
constexpr std::int64_t kUltimaDaLoja = 5003;
// ULTIMORECEBIMENTO at the start of every run.
constexpr std::int64_t kRecebidoAntes = 4100;
constexpr std::int64_t k2a32 = std::int64_t{1} << 32;

const std::string kVerificando = TextoVerificandoEnvio;
const std::string kEnvioConcluido = TextoEnvioConcluido;
const std::string kRecebimentoConcluido = TextoRecebimentoConcluido;
const std::string kPosicaoDaLoja = "GET /obterindiceenvio/7/5003";

std::string Enviando(std::int64_t desde) { return TextoEnviandoBloco + std::to_string(desde); }

// What happened in order: status texts ("R:", "E:"), message pumps ("~"),
// pauses and the requests the servers received. The servers write from
// their own thread while the run waits for their answer.
class Linha {
public:
    void Anotar(std::string evento) {
        std::lock_guard trava(mutex_);
        eventos_.push_back(std::move(evento));
    }
    std::vector<std::string> Eventos() const {
        std::lock_guard trava(mutex_);
        return eventos_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> eventos_;
};

class JanelaGravadora final : public IJanelaStatus {
public:
    explicit JanelaGravadora(Linha& linha) : linha_(linha) {}
    void StatusRecebimento(const std::string& t) override {
        Recebimento.push_back(t);
        linha_.Anotar("R:" + t);
    }
    void StatusEnvio(const std::string& t) override {
        Envio.push_back(t);
        linha_.Anotar("E:" + t);
        if (AoMostrarEnvio) AoMostrarEnvio(t);
    }
    void Cronometro(const std::string& t) override { Cronometros.push_back(t); }
    void ProcessarMensagens() override { linha_.Anotar("~"); }

    std::vector<std::string> Recebimento, Envio, Cronometros;
    std::function<void(const std::string&)> AoMostrarEnvio;

private:
    Linha& linha_;
};

// A command for PRODUTOS as the server hands it to the store.
std::string ComandoProduto(std::int64_t ordem) {
    return R"({"ordem":")" + std::to_string(ordem) + R"(","tabela":"PRODUTOS","acao":"U","idtransacao":"A",)" +
           R"("campos":{"CODIGO":")" + std::to_string(ordem) + R"(","DESCRICAO":"recebido )" + std::to_string(ordem) +
           R"("}})";
}

RespostaProgramada Bloco(std::int64_t inicial, std::int64_t final_, std::int64_t ultima,
                         const std::vector<std::int64_t>& ordens) {
    std::string comandos;
    for (const auto o : ordens) comandos += (comandos.empty() ? "" : ",") + ComandoProduto(o);
    return RespostaProgramada::Json(R"({"ordeminicial":")" + std::to_string(inicial) + R"(","ordemfinal":")" +
                                    std::to_string(final_) + R"(","ultimaordem":")" + std::to_string(ultima) +
                                    R"(","comandos":[)" + comandos + "]}");
}

RespostaProgramada Posicao(std::int64_t enviada, std::int64_t loja) {
    return RespostaProgramada::Json(R"({"ultimaordemenviada":)" + std::to_string(enviada) +
                                    R"(,"ultimomovimentoloja":)" + std::to_string(loja) + "}");
}

// Two answers taken in turn, more often than any run may ask.
std::deque<RespostaProgramada> VaiEVem(const RespostaProgramada& um, const RespostaProgramada& outro) {
    std::deque<RespostaProgramada> fila;
    for (int i = 0; i < 20; ++i) {
        fila.push_back(um);
        fila.push_back(outro);
    }
    return fila;
}

// The central server's side for one store.
class Central {
public:
    explicit Central(ServidorHttp& http, Linha* linha = nullptr) : linha_(linha) {
        http.Manipulador([this](const RequisicaoRecebida& r) { return Atender(r); });
    }

    // Answers that replace the usual ones, first in first out, per endpoint.
    std::deque<RespostaProgramada> Estrutura, Recebimentos, Posicoes, Envios;
    // The last log position of the store that the server holds.
    std::int64_t Confirmada = 0;

    std::vector<std::string> Pedidos() const {
        std::lock_guard trava(mutex_);
        return pedidos_;
    }
    std::vector<std::string> Corpos() const {
        std::lock_guard trava(mutex_);
        return corpos_;
    }

private:
    // A loop that never ends would hang the suite; past this many requests
    // every answer is a refusal, which ends any loop of the cycle.
    static constexpr std::size_t kLimite = 40;

    static RespostaProgramada Proxima(std::deque<RespostaProgramada>& fila, RespostaProgramada usual) {
        if (fila.empty()) return usual;
        RespostaProgramada r = std::move(fila.front());
        fila.pop_front();
        return r;
    }

    RespostaProgramada Atender(const RequisicaoRecebida& r) {
        std::lock_guard trava(mutex_);
        const std::string pedido = r.Metodo + " " + r.Caminho;
        pedidos_.push_back(pedido);
        if (linha_) linha_->Anotar(pedido);
        if (pedidos_.size() > kLimite) return RespostaProgramada::Texto("pedidos demais", 429);

        if (r.Caminho == "/estruturabd") {
            return Proxima(Estrutura, RespostaProgramada::Json(R"([{"tabela":"PRODUTOS","campo":"CODIGO","chave":"S"},)"
                                                               R"({"tabela":"PRODUTOS","campo":"DESCRICAO"}])"));
        }
        if (r.Caminho.rfind("/receber/7/", 0) == 0) {
            return Proxima(Recebimentos, Bloco(0, 0, 0, {}));
        }
        if (r.Caminho.rfind("/obterindiceenvio/7/", 0) == 0) {
            const std::int64_t loja = std::stoll(r.Caminho.substr(r.Caminho.rfind('/') + 1));
            return Proxima(Posicoes, Posicao(Confirmada, loja));
        }
        if (r.Metodo == "PUT" && r.Caminho == "/enviar/7") {
            corpos_.push_back(r.Corpo);
            if (!Envios.empty()) return Proxima(Envios, {});
            // An accepted block moves the acknowledged position to its last command.
            if (const auto corpo = LerJSON(r.Corpo); corpo && corpo->Membro("comandos")) {
                for (const auto& c : corpo->Membro("comandos")->Elementos())
                    Confirmada = std::max<std::int64_t>(Confirmada, std::stoll(c.Membro("ordem")->Bruto()));
            }
            return RespostaProgramada::Json("{}");
        }
        return RespostaProgramada::Texto("rota desconhecida", 404);
    }

    mutable std::mutex mutex_;
    Linha* linha_;
    std::vector<std::string> pedidos_, corpos_;
};

class CicloCenarios : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        teste::GarantirUsuarioReplicacao();
        banco_ = std::make_unique<BancoTeste>();
        // Three local changes waiting to be sent, logged as 5001 to 5003.
        banco_->ExecutarSql(
            "INSERT INTO RPL_CONFIGURACOES (CODIGO, CODIGOLOJA, LINKCENTRAL, NIVELREPLICACAO, ULTIMORECEBIMENTO)"
            " VALUES (1, 7, 'http://central/', 1, 0);"
            "COMMIT;"
            "ALTER SEQUENCE GEN_LOG_REPLICACAO RESTART WITH 5000;"
            "COMMIT;"
            "INSERT INTO PRODUTOS (CODIGO, DESCRICAO) VALUES (1, 'um');"
            "INSERT INTO PRODUTOS (CODIGO, DESCRICAO) VALUES (2, 'dois');"
            "INSERT INTO PRODUTOS (CODIGO, DESCRICAO) VALUES (3, 'tres');");
        pasta_ = std::make_unique<teste::PastaKorvin>(*banco_);
    }
    static void TearDownTestSuite() {
        pasta_.reset();
        banco_.reset();
    }

    static std::string Pasta() { return pasta_->Pasta(); }

    // The settings row as the store's staff would leave it between runs.
    static void Configurar(const std::string& link, std::int64_t recebido) {
        banco_->ExecutarSql("UPDATE RPL_CONFIGURACOES SET LINKCENTRAL = '" + link +
                            "', ULTIMORECEBIMENTO = " + std::to_string(recebido) + ";");
    }

    // The engine of one program: its data module, the operations and the cycle.
    struct Motor {
        explicit Motor(IJanelaStatus& janela, Linha& linha)
            : DM(db::OpcoesTDM{.Pasta = Pasta()}),
              Operacoes(DM, janela,
                        TContextoServidor{.TempoLimite = 10000, .Regional = db::TConfiguracoesRegionais::Brasileiras()},
                        Pasta()),
              Ciclo(
                  Operacoes, janela, [this](const std::string& m) { Registros.push_back(m); },
                  [&linha](std::chrono::milliseconds ms) { linha.Anotar("pausa " + std::to_string(ms.count())); }) {
            DM.DataModuleCreate();
        }
        db::TDM DM;
        TOperacoesMotor Operacoes;
        std::vector<std::string> Registros;
        TCiclo Ciclo;
    };

    static std::string Sql(const std::string& sql) { return banco_->ExecutarSql(sql); }

    static inline std::unique_ptr<BancoTeste> banco_;
    static inline std::unique_ptr<teste::PastaKorvin> pasta_;
};

TEST_F(CicloCenarios, OneRunInOrderAndTheSettingsReadAgainByTheNextRun) {
    ServidorHttp httpA, httpB;
    Linha linha;
    Central centralA(httpA, &linha), centralB(httpB, &linha);
    centralA.Recebimentos.push_back(Bloco(4101, 4102, 4102, {4101, 4102}));
    centralA.Confirmada = 5000;
    centralB.Confirmada = kUltimaDaLoja;
    Configurar(httpA.Base(), kRecebidoAntes);

    JanelaGravadora janela(linha);
    Motor motor(janela, linha);
    // The link changes while the run is under way: this run keeps the one it
    // read at its start.
    bool mudado = false;
    janela.AoMostrarEnvio = [&](const std::string&) {
        if (!mudado) Sql("UPDATE RPL_CONFIGURACOES SET LINKCENTRAL = '" + httpB.Base().substr(0, httpB.Base().size() - 1) + "';");
        mudado = true;
    };
    motor.Ciclo.Iniciar();
    motor.Ciclo.Tick();

    const std::vector<std::string> esperados = {
        "GET /estruturabd",
        "R:",
        "GET /receber/7/4100",
        "R:Gravando bloco de registro de 4101 at\xC3\xA9 4102 em um total de 4102 registro(s)",
        "~",
        "R:",
        "GET /receber/7/4102",
        "R:" + kRecebimentoConcluido,
        "~",
        "E:" + kVerificando,
        "~",
        "pausa 500",
        "~",
        kPosicaoDaLoja,
        "E:" + Enviando(5000),
        "~",
        "PUT /enviar/7",
        "E:" + kVerificando,
        "~",
        kPosicaoDaLoja,
        "E:" + kEnvioConcluido,
        "~",
    };
    EXPECT_EQ(linha.Eventos(), esperados);
    EXPECT_TRUE(motor.Registros.empty());
    EXPECT_TRUE(motor.Ciclo.TimerContagemRegressivaHabilitado());

    // The block went with the store's code and the three logged changes.
    ASSERT_EQ(centralA.Corpos().size(), 1u);
    const auto corpo = LerJSON(centralA.Corpos().front());
    ASSERT_TRUE(corpo && corpo->Membro("comandos")) << centralA.Corpos().front();
    EXPECT_EQ(corpo->Membro("codigolojaorigem")->Bruto(), "7");
    std::vector<std::string> ordens;
    for (const auto& c : corpo->Membro("comandos")->Elementos()) ordens.push_back(c.Membro("ordem")->Bruto());
    EXPECT_EQ(ordens, (std::vector<std::string>{"5001", "5002", "5003"}));
    // The received commands were applied with the downloaded columns.
    EXPECT_NE(Sql("SET LIST ON; SELECT DESCRICAO FROM PRODUTOS WHERE CODIGO = 4102;").find("recebido 4102"),
              std::string::npos);

    // After the countdown the next run reads the link and the stored
    // position again.
    for (int tick = 0; tick < 121; ++tick) motor.Ciclo.Tick();
    ASSERT_TRUE(motor.Ciclo.TimerHabilitado());
    const auto pedidosA = centralA.Pedidos().size();
    motor.Ciclo.Tick();
    EXPECT_EQ(centralA.Pedidos().size(), pedidosA);
    EXPECT_EQ(centralB.Pedidos(),
              (std::vector<std::string>{"GET /estruturabd", "GET /receber/7/4102", kPosicaoDaLoja}));
    EXPECT_EQ(janela.Cronometros.front(), "02:00");
}

TEST_F(CicloCenarios, HowEachRunEndsByWhatTheServerAnswers) {
    struct Cenario {
        const char* nome;
        std::deque<RespostaProgramada> estrutura, recebimentos, posicoes, envios;
        std::int64_t confirmada;               // the server's position before the run
        std::vector<std::string> pedidos;      // every request of the run, in order
        std::vector<std::string> envio;        // the send panel's texts
        bool lanca;                            // the run ends by an exception
        std::int64_t recebidoDepois;           // ULTIMORECEBIMENTO after the run
        std::vector<std::string> registrados;  // each log entry names this position
    };
    const auto P = kPosicaoDaLoja;
    const std::vector<std::string> nadaAEnviar = {kVerificando, kEnvioConcluido};
    const Cenario cenarios[] = {
        {"a refused structure download skips receiving, not sending",
         {RespostaProgramada::Texto("estrutura indisponivel", 404)}, {}, {}, {}, 5000,
         {"GET /estruturabd", P, "PUT /enviar/7", P},
         {kVerificando, Enviando(5000), kVerificando, kEnvioConcluido}, false, kRecebidoAntes, {}},
        {"nothing waits on either side: one receive request, equal positions send nothing",
         {}, {}, {}, {}, kUltimaDaLoja,
         {"GET /estruturabd", "GET /receber/7/4100", P}, nadaAEnviar, false, kRecebidoAntes, {}},
        {"a refused receive request ends receiving and the run goes on",
         {}, {RespostaProgramada::Texto("loja desconhecida", 404)}, {}, {}, kUltimaDaLoja,
         {"GET /estruturabd", "GET /receber/7/4100", P}, nadaAEnviar, false, kRecebidoAntes, {}},
        {"an ultimaordem that is not 0 only in its upper 32 bits keeps receiving",
         {}, {Bloco(4101, 4101, k2a32, {4101}), Bloco(4102, 4102, 2 * k2a32, {4102})}, {}, {}, kUltimaDaLoja,
         {"GET /estruturabd", "GET /receber/7/4100", "GET /receber/7/4101", "GET /receber/7/4102", P},
         nadaAEnviar, false, 4102, {}},
        {"a store ahead beyond 32 bits is sent to (2^32 + 5 against 7)",
         {}, {}, {Posicao(7, k2a32 + 5), Posicao(k2a32 + 5, k2a32 + 5)}, {}, 0,
         {"GET /estruturabd", "GET /receber/7/4100", P, "PUT /enviar/7", P},
         {kVerificando, Enviando(7), kVerificando, kEnvioConcluido}, false, kRecebidoAntes, {}},
        {"a 503 from the position query inside the send loop ends the run",
         {}, {}, {Posicao(5000, kUltimaDaLoja), RespostaProgramada::Texto("em manutencao", 503)}, {}, 0,
         {"GET /estruturabd", "GET /receber/7/4100", P, "PUT /enviar/7", P},
         {kVerificando, Enviando(5000), kVerificando}, true, kRecebidoAntes, {}},
        {"a receive pass that leaves the position where it was stops receiving",
         {}, {Bloco(4101, 4150, 4150, {})}, {}, {}, kUltimaDaLoja,
         {"GET /estruturabd", "GET /receber/7/4100", P}, nadaAEnviar, false, kRecebidoAntes, {"4100"}},
        {"a block the server does not acknowledge stops sending",
         {}, {}, {}, {RespostaProgramada::Texto("bloco recusado", 409)}, 5001,
         {"GET /estruturabd", "GET /receber/7/4100", P, "PUT /enviar/7", P},
         {kVerificando, Enviando(5001), kVerificando, kEnvioConcluido}, false, kRecebidoAntes, {"5001"}},
        {"a server whose acknowledged position goes back and forth stops sending",
         {}, {}, VaiEVem(Posicao(5000, kUltimaDaLoja), Posicao(5001, kUltimaDaLoja)), {}, 0,
         {"GET /estruturabd", "GET /receber/7/4100", P, "PUT /enviar/7", P, "PUT /enviar/7", P},
         {kVerificando, Enviando(5000), kVerificando, Enviando(5001), kVerificando, kEnvioConcluido}, false,
         kRecebidoAntes, {"5000"}},
    };

    for (const auto& c : cenarios) {
        SCOPED_TRACE(c.nome);
        ServidorHttp http;
        Central central(http);
        central.Estrutura = c.estrutura;
        central.Recebimentos = c.recebimentos;
        central.Posicoes = c.posicoes;
        central.Envios = c.envios;
        central.Confirmada = c.confirmada;
        Configurar(http.Base(), kRecebidoAntes);

        Linha linha;
        JanelaGravadora janela(linha);
        Motor motor(janela, linha);
        motor.Ciclo.Iniciar();
        if (c.lanca) {
            EXPECT_THROW(motor.Ciclo.Tick(), TErroStatusServidor);
        } else {
            EXPECT_NO_THROW(motor.Ciclo.Tick());
        }

        EXPECT_EQ(central.Pedidos(), c.pedidos);
        EXPECT_EQ(janela.Envio, c.envio);
        EXPECT_EQ(janela.Recebimento.empty() ? "" : janela.Recebimento.back(), kRecebimentoConcluido);
        motor.DM.AbrirConfiguracoes();
        EXPECT_EQ(motor.DM.UltimoRecebimento(), c.recebidoDepois);

        EXPECT_EQ(motor.Registros.size(), c.registrados.size());
        for (std::size_t i = 0; i < std::min(c.registrados.size(), motor.Registros.size()); ++i) {
            EXPECT_NE(motor.Registros[i].find(" " + c.registrados[i]), std::string::npos) << motor.Registros[i];
        }

        // However the run ended, the countdown starts at 02:00.
        EXPECT_FALSE(motor.Ciclo.TimerHabilitado());
        EXPECT_TRUE(motor.Ciclo.TimerContagemRegressivaHabilitado());
        motor.Ciclo.Tick();
        EXPECT_EQ(janela.Cronometros, std::vector<std::string>{"02:00"});
    }
}

}  // namespace
}  // namespace ondaris::sync
