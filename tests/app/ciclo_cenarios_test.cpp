// Whole synchronisation runs: TCiclo over the real engine (TOperacoesMotor on
// a TDM opened on a throwaway store database) against a central server inside
// the test process. The server keeps what a central server keeps: the store's
// acknowledged log position, advanced by every block it accepts, and the
// commands waiting for the store; a scenario can replace any endpoint's
// answers one request at a time. Refusals and failures are followed to the
// log file the headless program writes and to the two status panels.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "app/shell/registro.h"
#include "app/shell/servico.h"
#include "db/udm.h"
#include "protocolo/json.h"
#include "support/banco_teste.h"
#include "support/janela_gravadora.h"
#include "support/pasta_temporaria.h"
#include "support/servidor_http.h"
#include "sync/ciclo.h"
#include "sync/operacoes.h"
#include "sync/requisicao.h"

namespace ondaris::sync {
using protocolo::LerJSON;
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
            RespostaProgramada resposta = Proxima(Envios, RespostaProgramada::Json("{}"));
            // An accepted block moves the acknowledged position to its last
            // command, also when the answer is then lost on its way back.
            if (resposta.Status != 200) return resposta;
            if (const auto corpo = LerJSON(r.Corpo); corpo && corpo->Membro("comandos")) {
                for (const auto& c : corpo->Membro("comandos")->Elementos())
                    Confirmada = std::max<std::int64_t>(Confirmada, std::stoll(c.Membro("ordem")->Bruto()));
            }
            return resposta;
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
        // The window's panels and pumps go onto the timeline with the pauses.
        explicit Motor(teste::JanelaGravadora& janela, Linha& linha, TCiclo::TRelogio agora = {})
            : DM(db::OpcoesTDM{.Pasta = Pasta()}),
              Operacoes(DM, janela,
                        TContextoServidor{.TempoLimite = 10000, .Regional = protocolo::TConfiguracoesRegionais::Brasileiras()},
                        Pasta()),
              Ciclo(
                  Operacoes, janela, [this](const std::string& m) { Registros.push_back(m); },
                  [&linha](std::chrono::milliseconds ms) { linha.Anotar("pausa " + std::to_string(ms.count())); },
                  {}, std::move(agora)) {
            janela.AoAnotar = [&linha](const std::string& e) { linha.Anotar(e); };
            DM.DataModuleCreate();
        }
        db::TDM DM;
        TOperacoesMotor Operacoes;
        std::vector<std::string> Registros;
        TCiclo Ciclo;
    };

    static std::string Sql(const std::string& sql) { return banco_->ExecutarSql(sql); }

    // Attachments of the replication account to the store database, as the
    // administrator sees them (the test's own isql is SYSDBA's).
    static int AnexosDaReplicacao() {
        const std::string saida = Sql(std::string("SET LIST ON; SELECT COUNT(*) AS N FROM MON$ATTACHMENTS WHERE "
                                                  "MON$USER = '") + teste::kUsuarioReplicacao + "';");
        const auto p = saida.find("N ");
        return p == std::string::npos ? -1 : std::stoi(saida.substr(p + 2));
    }

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

    teste::JanelaGravadora janela;
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

    // How far the server holds the store's log is asked before receiving;
    // the same answer starts the send loop.
    const std::vector<std::string> esperados = {
        "GET /estruturabd",
        kPosicaoDaLoja,
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
              (std::vector<std::string>{"GET /estruturabd", kPosicaoDaLoja, "GET /receber/7/4102"}));
    EXPECT_EQ(janela.Cronometros.front(), "02:00");
}

// "{base}" in an expected text stands for the server's base address (with
// its final "/"), "{outro}" for a second server's.
std::string Expandir(std::string texto, const ServidorHttp& http, const ServidorHttp* outro = nullptr) {
    for (const auto& [marca, valor] : {std::pair<std::string, std::string>{"{base}", http.Base()},
                                       {"{outro}", outro ? outro->Base() : std::string()}}) {
        for (auto i = texto.find(marca); i != std::string::npos; i = texto.find(marca, i + valor.size()))
            texto.replace(i, marca.size(), valor);
    }
    return texto;
}

TEST_F(CicloCenarios, HowEachRunEndsByWhatTheServerAnswers) {
    struct Cenario {
        const char* nome;
        std::deque<RespostaProgramada> estrutura, recebimentos, posicoes, envios;
        std::int64_t confirmada;               // the server's position before the run
        std::vector<std::string> pedidos;      // every request of the run, in order
        std::vector<std::string> envio;        // the send panel's texts
        std::string recebimento;               // the receive panel's last text
        bool lanca;                            // the run ends by an exception
        std::int64_t recebidoDepois;           // ULTIMORECEBIMENTO after the run
        std::vector<std::string> registrados;  // the cycle's own log entries
        bool soAvisos = false;                 // those entries are notices, the run complete
    };
    const auto P = kPosicaoDaLoja;
    const std::vector<std::string> nadaAEnviar = {kVerificando, kEnvioConcluido};
    const std::string estruturaRecusada =
        "O servidor central recusou GET {base}estruturabd: 404 Not Found: estrutura indisponivel";
    const std::string recebimentoRecusado =
        "O servidor central recusou GET {base}receber/7/4100: 404 Not Found: loja desconhecida";
    const std::string posicaoRecusada =
        "O servidor central recusou GET {base}obterindiceenvio/7/5003: 404 Not Found: loja desconhecida";
    const std::string blocoRecusado = "O servidor central recusou PUT {base}enviar/7: 409 Conflict: bloco recusado";
    const std::string recebimentoParado =
        "Recebimento interrompido nesta sincronização em receber/7/4100: a posição recebida não avançou de 4100 "
        "(o servidor informou ultimaordem 4150)";
    const std::string envioVoltou =
        "Envio interrompido nesta sincronização em enviar/7: a posição confirmada pelo servidor voltou de 5001 "
        "para 5000, de onde já se enviou nesta sincronização";
    const Cenario cenarios[] = {
        {"a refused structure download skips receiving, not sending, and is told",
         {RespostaProgramada::Texto("estrutura indisponivel", 404)}, {}, {}, {}, 5000,
         {"GET /estruturabd", P, "PUT /enviar/7", P},
         {kVerificando, Enviando(5000), kVerificando, kEnvioConcluido}, estruturaRecusada, false, kRecebidoAntes,
         {estruturaRecusada}},
        {"a refusal without a body skips receiving all the same",
         {RespostaProgramada::Texto("", 403)}, {}, {}, {}, kUltimaDaLoja,
         {"GET /estruturabd", P}, nadaAEnviar, "O servidor central recusou GET {base}estruturabd: 403 Forbidden (sem texto)",
         false, kRecebidoAntes, {"O servidor central recusou GET {base}estruturabd: 403 Forbidden (sem texto)"}},
        {"a refused position query skips receiving and sending, and is told once",
         {}, {}, {RespostaProgramada::Texto("loja desconhecida", 404)}, {}, 5000,
         {"GET /estruturabd", P}, {kVerificando, posicaoRecusada}, posicaoRecusada, false, kRecebidoAntes,
         {posicaoRecusada}},
        {"nothing waits on either side: one receive request, equal positions send nothing",
         {}, {}, {}, {}, kUltimaDaLoja,
         {"GET /estruturabd", P, "GET /receber/7/4100"}, nadaAEnviar, kRecebimentoConcluido, false, kRecebidoAntes, {}},
        {"a refused receive request ends receiving, is told, and the run goes on",
         {}, {RespostaProgramada::Texto("loja desconhecida", 404)}, {}, {}, kUltimaDaLoja,
         {"GET /estruturabd", P, "GET /receber/7/4100"}, nadaAEnviar, recebimentoRecusado, false, kRecebidoAntes,
         {recebimentoRecusado}},
        {"an ultimaordem that is not 0 only in its upper 32 bits keeps receiving",
         {}, {Bloco(4101, 4101, k2a32, {4101}), Bloco(4102, 4102, 2 * k2a32, {4102})}, {}, {}, kUltimaDaLoja,
         {"GET /estruturabd", P, "GET /receber/7/4100", "GET /receber/7/4101", "GET /receber/7/4102"},
         nadaAEnviar, kRecebimentoConcluido, false, 4102, {}},
        {"a store ahead beyond 32 bits is sent to (2^32 + 5 against 7)",
         {}, {}, {Posicao(7, k2a32 + 5), Posicao(k2a32 + 5, k2a32 + 5)}, {}, 0,
         {"GET /estruturabd", P, "GET /receber/7/4100", "PUT /enviar/7", P},
         {kVerificando, Enviando(7), kVerificando, kEnvioConcluido}, kRecebimentoConcluido, false, kRecebidoAntes, {}},
        {"a 503 from the position query inside the send loop ends the run, shown on the send panel",
         {}, {}, {Posicao(5000, kUltimaDaLoja), RespostaProgramada::Texto("em manutencao", 503)}, {}, 0,
         {"GET /estruturabd", P, "GET /receber/7/4100", "PUT /enviar/7", P},
         {kVerificando, Enviando(5000), kVerificando,
          "HTTP/1.1 503 Service Unavailable: em manutencao (GET {base}obterindiceenvio/7/5003)"},
         kRecebimentoConcluido, true, kRecebidoAntes, {}},
        {"a server answering from the position asked for: the command applied last is left out, told once",
         {}, {Bloco(4100, 4101, 4101, {4100, 4101}), Bloco(4101, 4101, 4101, {4101})}, {}, {}, kUltimaDaLoja,
         {"GET /estruturabd", P, "GET /receber/7/4100", "GET /receber/7/4101"}, nadaAEnviar, kRecebimentoConcluido,
         false, 4101, {ondaris::sync::TextoPosicaoRepetida(4100)}, true},
        {"a receive pass that leaves the position where it was stops receiving",
         {}, {Bloco(4101, 4150, 4150, {})}, {}, {}, kUltimaDaLoja,
         {"GET /estruturabd", P, "GET /receber/7/4100"}, nadaAEnviar, recebimentoParado, false, kRecebidoAntes,
         {recebimentoParado}},
        {"a refused block that moves nothing stops sending with the refusal alone",
         {}, {}, {}, {RespostaProgramada::Texto("bloco recusado", 409)}, 5001,
         {"GET /estruturabd", P, "GET /receber/7/4100", "PUT /enviar/7", P},
         {kVerificando, Enviando(5001), kVerificando, blocoRecusado}, kRecebimentoConcluido, false, kRecebidoAntes,
         {blocoRecusado}},
        {"a server whose acknowledged position goes back and forth stops sending",
         {}, {}, VaiEVem(Posicao(5000, kUltimaDaLoja), Posicao(5001, kUltimaDaLoja)), {}, 0,
         {"GET /estruturabd", P, "GET /receber/7/4100", "PUT /enviar/7", P, "PUT /enviar/7", P},
         {kVerificando, Enviando(5000), kVerificando, Enviando(5001), kVerificando, envioVoltou},
         kRecebimentoConcluido, false, kRecebidoAntes, {envioVoltou}},
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
        teste::JanelaGravadora janela;
        Motor motor(janela, linha);
        motor.Ciclo.Iniciar();
        if (c.lanca) {
            EXPECT_THROW(motor.Ciclo.Tick(), TErroStatusServidor);
        } else {
            EXPECT_NO_THROW(motor.Ciclo.Tick());
        }

        EXPECT_EQ(central.Pedidos(), c.pedidos);
        std::vector<std::string> envio;
        for (const auto& t : c.envio) envio.push_back(Expandir(t, http));
        EXPECT_EQ(janela.Envio, envio);
        EXPECT_EQ(janela.Recebimento.empty() ? "" : janela.Recebimento.back(), Expandir(c.recebimento, http));
        // However the run ended, an agent waiting for its next run holds no
        // attachment: neither the blocks' nor the global connection's.
        EXPECT_EQ(AnexosDaReplicacao(), 0);
        motor.DM.Configuracoes().AbrirConfiguracoes();
        EXPECT_EQ(motor.DM.Configuracoes().UltimoRecebimento(), c.recebidoDepois);

        std::vector<std::string> registrados;
        for (const auto& t : c.registrados) registrados.push_back(Expandir(t, http));
        EXPECT_EQ(motor.Registros, registrados);
        EXPECT_EQ(motor.Ciclo.ExecucaoIncompleta(), c.lanca || (!registrados.empty() && !c.soAvisos));

        // However the run ended, the countdown starts at 02:00.
        EXPECT_FALSE(motor.Ciclo.TimerHabilitado());
        EXPECT_TRUE(motor.Ciclo.TimerContagemRegressivaHabilitado());
        motor.Ciclo.Tick();
        EXPECT_EQ(janela.Cronometros, std::vector<std::string>{"02:00"});
    }
}

// The message of each entry of a log file, in order.
std::vector<std::string> EntradasDoLog(const std::filesystem::path& arquivo) {
    std::vector<std::string> mensagens;
    const std::string bytes = teste::LerBytes(arquivo);
    std::size_t inicio = 0;
    while (inicio < bytes.size()) {
        std::size_t fim = bytes.find("\r\n", inicio);
        if (fim == std::string::npos) fim = bytes.size();
        const std::string linha = bytes.substr(inicio, fim - inicio);
        const auto separador = linha.find(" - ");
        if (!linha.empty()) mensagens.push_back(separador == std::string::npos ? linha : linha.substr(separador + 3));
        inicio = fim + 2;
    }
    return mensagens;
}

TEST_F(CicloCenarios, EveryRefusalAndFailureIsLoggedWithItsRequestAndCauseAndShownOnItsPanel) {
    enum TPainel { pRecebimento, pEnvio };
    struct Caso {
        const char* nome;
        std::deque<RespostaProgramada> estrutura, recebimentos, posicoes, envios;
        std::int64_t confirmada;     // the server's position before the run
        TPainel painel;              // the panel that shows what the entry says
        std::string outroPainel;     // the other panel's last text
        std::vector<std::string> partes;  // the one entry holds each of these; none: no entry at all
        std::int64_t confirmadaDepois = -1;  // the server's position after the run, when it matters
        std::string pedido = {};             // a request the server must have received
    };
    const auto semCorpo = [](int status) { return RespostaProgramada::Texto("", status); };
    const std::string intocado;  // a panel this run never reached keeps its (here empty) text
    const std::string recusaMsg = "recusado: " + std::string(RegraDeRedirecionamento);
    const Caso casos[] = {
        // 404 on each of the four requests.
        {"404 on estruturabd", {RespostaProgramada::Texto("estrutura indisponivel", 404)}, {}, {}, {}, kUltimaDaLoja,
         pRecebimento, kEnvioConcluido,
         {"O servidor central recusou GET {base}estruturabd: 404 Not Found: estrutura indisponivel"}},
        {"404 on receber", {}, {RespostaProgramada::Texto("loja desconhecida", 404)}, {}, {}, kUltimaDaLoja,
         pRecebimento, kEnvioConcluido,
         {"O servidor central recusou GET {base}receber/7/4100: 404 Not Found: loja desconhecida"}},
        // Asked before receiving: refused, it skips receiving as well, and
        // both panels say why.
        {"404 on obterindiceenvio", {}, {}, {RespostaProgramada::Texto("loja desconhecida", 404)}, {}, kUltimaDaLoja,
         pEnvio, "O servidor central recusou GET {base}obterindiceenvio/7/5003: 404 Not Found: loja desconhecida",
         {"O servidor central recusou GET {base}obterindiceenvio/7/5003: 404 Not Found: loja desconhecida"}},
        {"404 on enviar", {}, {}, {}, {RespostaProgramada::Texto("rota de envio desconhecida", 404)}, 5000,
         pEnvio, kRecebimentoConcluido,
         {"O servidor central recusou PUT {base}enviar/7: 404 Not Found: rota de envio desconhecida"}},
        {"404 without a body", {}, {semCorpo(404)}, {}, {}, kUltimaDaLoja, pRecebimento, kEnvioConcluido,
         {"O servidor central recusou GET {base}receber/7/4100: 404 Not Found (sem texto)"}},
        // 500 and 503, with and without a body.
        {"500 with a body on estruturabd", {RespostaProgramada::Texto("banco central fora do ar", 500)}, {}, {}, {},
         kUltimaDaLoja, pRecebimento, intocado,
         {"Falha ao executar a rotina ObterEstruturaBanco: HTTP/1.1 500 Internal Server Error: banco central fora "
          "do ar (GET {base}estruturabd)"}},
        {"503 without a body on receber", {}, {semCorpo(503)}, {}, {}, kUltimaDaLoja, pRecebimento, intocado,
         {"HTTP/1.1 503 Service Unavailable (GET {base}receber/7/4100)"}},
        {"503 with a body on obterindiceenvio", {}, {}, {RespostaProgramada::Texto("em manutencao", 503)}, {},
         kUltimaDaLoja, pRecebimento, intocado,
         {"HTTP/1.1 503 Service Unavailable: em manutencao (GET {base}obterindiceenvio/7/5003)"}},
        {"500 without a body on enviar", {}, {}, {}, {semCorpo(500)}, 5000, pEnvio, kRecebimentoConcluido,
         {"HTTP/1.1 500 Internal Server Error (PUT {base}enviar/7)"}},
        {"503 with a body on enviar", {}, {}, {}, {RespostaProgramada::Texto("fila cheia", 503)}, 5000, pEnvio,
         kRecebimentoConcluido, {"HTTP/1.1 503 Service Unavailable: fila cheia (PUT {base}enviar/7)"}},
        // No answer.
        {"connection reset on receber", {}, {RespostaProgramada::Reinicio()}, {}, {}, kUltimaDaLoja, pRecebimento,
         intocado, {"REST request failed: ", "reset", " (GET {base}receber/7/4100)"}},
        {"closed without an answer on obterindiceenvio", {}, {}, {RespostaProgramada::SemResposta()}, {},
         kUltimaDaLoja, pRecebimento, intocado,
         {"REST request failed: Empty reply from server (GET {base}obterindiceenvio/7/5003)"}},
        {"the answer lost after the server stored the block", {}, {}, {}, {RespostaProgramada::SemResposta()}, 5000,
         pEnvio, kRecebimentoConcluido, {"REST request failed: Empty reply from server (PUT {base}enviar/7)"},
         kUltimaDaLoja},
        // Malformed answers.
        {"receber answered with text that is not JSON", {}, {RespostaProgramada::Json("<html>erro</html>")}, {}, {},
         kUltimaDaLoja, pRecebimento, intocado,
         {"resposta malformada do servidor central a GET {base}receber/7/4100: o corpo não é JSON válido; "
          "\"ordeminicial\" não pode ser lido"}},
        {"estruturabd answered with a page instead of the list",
         {RespostaProgramada::Texto("<html>entrar</html>", 200, "text/html")}, {}, {}, {}, kUltimaDaLoja,
         pRecebimento, intocado,
         {"Falha ao executar a rotina ObterEstruturaBanco: resposta malformada do servidor central a GET "
          "{base}estruturabd: o corpo não é JSON válido"}},
        {"obterindiceenvio answered with broken JSON", {}, {}, {RespostaProgramada::Json(R"({"ultimaordemenviada":)")},
         {}, kUltimaDaLoja, pRecebimento, intocado,
         {"resposta malformada do servidor central a GET {base}obterindiceenvio/7/5003: o corpo não é JSON "
          "válido; \"ultimaordemenviada\" não pode ser lido"}},
        {"a position that is not a number", {}, {},
         {RespostaProgramada::Json(R"({"ultimaordemenviada":"5x","ultimomovimentoloja":5003})")}, {}, kUltimaDaLoja,
         pRecebimento, intocado,
         {"A resposta do servidor central a GET {base}obterindiceenvio/7/5003 traz o membro "
          "\"ultimaordemenviada\" com '5x', que não é um número inteiro"}},
        {"obterindiceenvio without ultimomovimentoloja is no completed send", {}, {},
         {RespostaProgramada::Json(R"({"ultimaordemenviada":5003})")}, {}, kUltimaDaLoja, pRecebimento, intocado,
         {"A resposta do servidor central a GET {base}obterindiceenvio/7/5003 não traz o membro "
          "\"ultimomovimentoloja\" (resposta do tipo application/json)"}},
        {"ultimaordem that is not a number", {},
         {RespostaProgramada::Json(R"({"ordeminicial":"4101","ordemfinal":"4101","ultimaordem":"muitos","comandos":[]})")},
         {}, {}, kUltimaDaLoja, pRecebimento, intocado,
         {"A resposta do servidor central a GET {base}receber/7/4100 traz o membro \"ultimaordem\" com 'muitos', "
          "que não é um número inteiro"}},
        {"receber without ultimaordem", {},
         {RespostaProgramada::Json(R"({"ordeminicial":"4101","ordemfinal":"4101","comandos":[]})")}, {}, {},
         kUltimaDaLoja, pRecebimento, intocado,
         {"A resposta do servidor central a GET {base}receber/7/4100 não traz o membro \"ultimaordem\" (resposta "
          "do tipo application/json)"}},
        // Redirects.
        {"a redirect to another port is refused and names its target",
         {RespostaProgramada::Redirecao("{outro}estruturabd")}, {}, {}, {}, kUltimaDaLoja, pRecebimento, intocado,
         {"Falha ao executar a rotina ObterEstruturaBanco: REST request failed: redirecionamento para {outro}estruturabd " +
          recusaMsg + " (GET {base}estruturabd)"}},
        {"a redirect on the same server is followed", {},
         {RespostaProgramada::Redirecao("/receber/7/4100?via=redirecionamento", 307)}, {}, {}, kUltimaDaLoja,
         pRecebimento, kEnvioConcluido, {}, -1, "GET /receber/7/4100?via=redirecionamento"},
    };

    for (const auto& caso : casos) {
        SCOPED_TRACE(caso.nome);
        ServidorHttp http, outro;
        Central central(http);
        central.Estrutura = caso.estrutura;
        central.Recebimentos = caso.recebimentos;
        central.Posicoes = caso.posicoes;
        central.Envios = caso.envios;
        central.Confirmada = caso.confirmada;
        for (auto* fila : {&central.Estrutura, &central.Recebimentos, &central.Posicoes, &central.Envios})
            for (auto& r : *fila)
                for (auto& [nome, valor] : r.Cabecalhos) valor = Expandir(valor, http, &outro);
        Configurar(http.Base(), kRecebidoAntes);

        teste::PastaTemporaria pasta;
        shell::TRegistro registro(pasta.Caminho());
        Linha linha;
        teste::JanelaGravadora janela;
        janela.AoAnotar = [&linha](const std::string& e) { linha.Anotar(e); };
        db::TDM DM(db::OpcoesTDM{.Pasta = Pasta()});
        DM.DataModuleCreate();
        TOperacoesMotor operacoes(
            DM, janela, TContextoServidor{.TempoLimite = 10000, .Regional = protocolo::TConfiguracoesRegionais::Brasileiras()},
            Pasta());
        std::ostringstream erros;
        shell::TAmbienteServico ambiente{operacoes, janela, registro, erros, {}, [](std::chrono::milliseconds) {}};
        const int status = shell::ExecutarServico(shell::TOpcoesServico{.UmaVez = true}, ambiente);

        const std::vector<std::string> entradas = EntradasDoLog(registro.Arquivo());
        const std::string recebimento = janela.Recebimento.empty() ? "" : janela.Recebimento.back();
        const std::string envio = janela.Envio.empty() ? "" : janela.Envio.back();
        if (!caso.pedido.empty()) {
            const auto pedidos = central.Pedidos();
            EXPECT_NE(std::find(pedidos.begin(), pedidos.end(), caso.pedido), pedidos.end());
        }
        if (caso.partes.empty()) {
            EXPECT_EQ(status, 0);
            EXPECT_TRUE(entradas.empty()) << entradas.front();
            EXPECT_EQ(recebimento, kRecebimentoConcluido);
            EXPECT_EQ(envio, kEnvioConcluido);
            continue;
        }
        std::vector<std::string> partes;
        for (const auto& p : caso.partes) partes.push_back(Expandir(p, http, &outro));

        // One entry, never empty, naming the request and carrying the cause.
        EXPECT_EQ(status, 1) << "a run that failed or was refused must not exit as a success";
        ASSERT_EQ(entradas.size(), 1u) << teste::LerBytes(registro.Arquivo());
        const std::string& entrada = entradas.front();
        EXPECT_FALSE(entrada.empty());
        for (const auto& parte : partes) EXPECT_NE(entrada.find(parte), std::string::npos) << entrada << "\n" << parte;
        if (partes.size() == 1) {
            EXPECT_EQ(entrada, partes.front());
        }

        // The step's panel shows what the entry says; no panel claims a
        // synchronisation that did not happen.
        EXPECT_EQ(caso.painel == pRecebimento ? recebimento : envio, entrada);
        EXPECT_EQ(caso.painel == pRecebimento ? envio : recebimento, Expandir(caso.outroPainel, http, &outro));
        if (caso.confirmadaDepois >= 0) {
            EXPECT_EQ(central.Confirmada, caso.confirmadaDepois);
        }
        EXPECT_EQ(outro.Quantidade(), 0u);
    }
}

TEST_F(CicloCenarios, AFailedRunLeavesNoEarlierCompletionOnThePanels) {
    ServidorHttp http;
    Central central(http);
    central.Confirmada = kUltimaDaLoja;
    Configurar(http.Base(), kRecebidoAntes);
    Linha linha;
    teste::JanelaGravadora janela;
    Motor motor(janela, linha);
    const auto paineis = [&] { return std::pair{janela.Recebimento.back(), janela.Envio.back()}; };
    using Paineis = std::pair<std::string, std::string>;

    motor.Ciclo.TimerTimer();
    EXPECT_EQ(paineis(), (Paineis{kRecebimentoConcluido, kEnvioConcluido}));

    // Failing before sending: the send panel no longer tells of the run before.
    central.Estrutura.push_back(RespostaProgramada::Texto("", 503));
    EXPECT_THROW(motor.Ciclo.TimerTimer(), db::ErroRotina);
    EXPECT_EQ(paineis(), (Paineis{Expandir("Falha ao executar a rotina ObterEstruturaBanco: HTTP/1.1 503 Service "
                                           "Unavailable (GET {base}estruturabd)",
                                           http),
                                  TextoInterrompido}));

    motor.Ciclo.TimerTimer();
    EXPECT_EQ(paineis(), (Paineis{kRecebimentoConcluido, kEnvioConcluido}));

    // Failing while sending: this run's receiving did finish.
    central.Confirmada = 5000;
    central.Envios.push_back(RespostaProgramada::Texto("", 500));
    EXPECT_THROW(motor.Ciclo.TimerTimer(), TErroStatusServidor);
    EXPECT_EQ(paineis(), (Paineis{kRecebimentoConcluido,
                                  Expandir("HTTP/1.1 500 Internal Server Error (PUT {base}enviar/7)", http)}));
}

TEST_F(CicloCenarios, TheSameRefusalIsLoggedOnceUntilItsTextChangesAnHourPassesOrTheStepIsAccepted) {
    ServidorHttp http;
    Central central(http);
    central.Confirmada = kUltimaDaLoja;
    Configurar(http.Base(), kRecebidoAntes);
    Linha linha;
    teste::JanelaGravadora janela;
    auto agora = std::chrono::steady_clock::time_point{};
    Motor motor(janela, linha, [&agora] { return agora; });

    const auto recusa = [](const char* texto) { return RespostaProgramada::Texto(texto, 404); };
    const std::string desconhecida =
        Expandir("O servidor central recusou GET {base}obterindiceenvio/7/5003: 404 Not Found: loja desconhecida", http);
    const std::string bloqueada =
        Expandir("O servidor central recusou GET {base}obterindiceenvio/7/5003: 404 Not Found: loja bloqueada", http);
    struct Execucao {
        const char* nome;
        std::optional<RespostaProgramada> resposta;  // none: the usual answer
        std::chrono::minutes passados;               // since the run before
        std::vector<std::string> novas;              // entries this run adds
    };
    const Execucao execucoes[] = {
        {"first refusal", recusa("loja desconhecida"), std::chrono::minutes(0), {desconhecida}},
        {"the same, next run", recusa("loja desconhecida"), std::chrono::minutes(2), {}},
        {"the same, 59 minutes after it was logged", recusa("loja desconhecida"), std::chrono::minutes(57), {}},
        {"another text", recusa("loja bloqueada"), std::chrono::minutes(2), {bloqueada}},
        {"the same again", recusa("loja bloqueada"), std::chrono::minutes(30), {}},
        {"an hour after it was logged", recusa("loja bloqueada"), std::chrono::minutes(30), {bloqueada}},
        {"accepted", std::nullopt, std::chrono::minutes(2), {}},
        {"refused again after being accepted", recusa("loja bloqueada"), std::chrono::minutes(2), {bloqueada}},
    };
    std::vector<std::string> esperados;
    for (const auto& e : execucoes) {
        SCOPED_TRACE(e.nome);
        agora += e.passados;
        if (e.resposta) central.Posicoes.push_back(*e.resposta);
        motor.Ciclo.TimerTimer();
        esperados.insert(esperados.end(), e.novas.begin(), e.novas.end());
        EXPECT_EQ(motor.Registros, esperados);
        // Logged or not, the panel says it every run.
        EXPECT_EQ(janela.Envio.back(), e.resposta ? (e.resposta->Corpo == "loja desconhecida" ? desconhecida : bloqueada)
                                                  : std::string(kEnvioConcluido));
        EXPECT_EQ(motor.Ciclo.ExecucaoIncompleta(), e.resposta.has_value());
    }
}

}  // namespace
}  // namespace ondaris::sync
