// The chain operator's view of the central server over real HTTP: the page
// rendered by headless Chromium (what a person sees, stalled stores first,
// store data shown as text), /metrics read by a parser of Prometheus' text
// format, and the per-store refusals and conflicts behind both. Time is a
// driven clock shared by the store of commands and the page.
#include <gtest/gtest.h>
#include <httplib.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "central/armazem.h"
#include "central/http.h"
#include "central/credenciais.h"
#include "central/painel.h"
#include "central/servidor.h"
#include "e2e/escuta_teste.h"
#include "support/loja_e2e.h"
#include "support/pasta_temporaria.h"

namespace {

using namespace std::chrono_literals;
using Relogio = std::chrono::system_clock;
using ondaris::central::EstadoLoja;

const char* kEstrutura = R"([{"tabela":"PRODUTOS","campo":"CODIGO","chave":"PRIMARY KEY"}])";

// 2026-03-02 10:00:00 UTC: the scripted mix starts here.
const Relogio::time_point kInicio = Relogio::from_time_t(1772445600);

std::string Comando(long long ordem, const std::string& chave) {
    return R"({"ordem":")" + std::to_string(ordem) +
           R"(","codigolojadestino":"","acao":"U","tabela":"PRODUTOS","atualvalorchave1":")" + chave +
           R"(","atualvalorchave2":"","novovalorchave1":"","ocorrencialocal":"","idtransacao":"7","campos":{"CODIGO":"1"}})";
}

std::string Corpo(int loja, const std::vector<std::string>& comandos) {
    std::string lista;
    for (const auto& c : comandos) lista += (lista.empty() ? "" : ",") + c;
    return R"({"codigolojaorigem":")" + std::to_string(loja) + R"(","comandos":[)" + lista + "]}";
}

// ---- Prometheus' text exposition format, as a scraper reads it ----

struct AmostraMetrica {
    std::string Nome;
    std::map<std::string, std::string> Rotulos;
    double Valor = 0;
};

struct Exposicao {
    std::map<std::string, std::string> Tipos;  // family -> type
    std::map<std::string, std::string> Ajudas;
    std::vector<AmostraMetrica> Amostras;
    std::vector<std::string> Erros;  // one per line that breaks the grammar

    // The value of one series; nothing when it is absent.
    std::optional<double> Valor(const std::string& nome, const std::map<std::string, std::string>& rotulos = {}) const {
        for (const auto& a : Amostras)
            if (a.Nome == nome && a.Rotulos == rotulos) return a.Valor;
        return std::nullopt;
    }
};

bool NomeMetricaValido(const std::string& n) {
    static const std::regex r("[a-zA-Z_:][a-zA-Z0-9_:]*");
    return std::regex_match(n, r);
}

// Reads every line; a line that does not follow the grammar is an error
// with its number, and so is a sample without a TYPE before it, a counter
// not named *_total, a family typed twice and a series given twice.
Exposicao LerExposicao(const std::string& texto) {
    Exposicao e;
    std::map<std::string, bool> series;
    std::size_t inicio = 0;
    int numero = 0;
    if (texto.empty() || texto.back() != '\n') e.Erros.push_back("o texto não termina com uma quebra de linha");
    while (inicio < texto.size()) {
        std::size_t fim = texto.find('\n', inicio);
        if (fim == std::string::npos) fim = texto.size();
        const std::string linha = texto.substr(inicio, fim - inicio);
        inicio = fim + 1;
        ++numero;
        const auto erro = [&](const std::string& msg) {
            e.Erros.push_back("linha " + std::to_string(numero) + ": " + msg + ": " + linha);
        };
        if (linha.empty()) continue;
        if (linha[0] == '#') {
            static const std::regex meta(R"(# (HELP|TYPE) ([^ ]+) (.*))");
            std::smatch m;
            if (!std::regex_match(linha, m, meta)) continue;  // a plain comment
            const std::string nome = m[2];
            if (!NomeMetricaValido(nome)) erro("nome inválido");
            if (m[1] == "TYPE") {
                static const std::regex tipos("counter|gauge|histogram|summary|untyped");
                if (!std::regex_match(m[3].str(), tipos)) erro("tipo desconhecido");
                if (e.Tipos.count(nome)) erro("TYPE repetido");
                if (m[3] == "counter" && nome.size() < 6) erro("contador sem _total");
                else if (m[3] == "counter" && nome.compare(nome.size() - 6, 6, "_total") != 0) erro("contador sem _total");
                e.Tipos[nome] = m[3];
            } else {
                if (e.Ajudas.count(nome)) erro("HELP repetido");
                e.Ajudas[nome] = m[3];
            }
            continue;
        }
        AmostraMetrica a;
        std::size_t i = 0;
        while (i < linha.size() && linha[i] != '{' && linha[i] != ' ') ++i;
        a.Nome = linha.substr(0, i);
        if (!NomeMetricaValido(a.Nome)) {
            erro("nome inválido");
            continue;
        }
        std::string chaveSerie = a.Nome + "{";
        bool ok = true;
        if (i < linha.size() && linha[i] == '{') {
            ++i;
            while (ok && i < linha.size() && linha[i] != '}') {
                std::size_t j = i;
                while (j < linha.size() && linha[j] != '=') ++j;
                const std::string rotulo = linha.substr(i, j - i);
                static const std::regex nomeRotulo("[a-zA-Z_][a-zA-Z0-9_]*");
                if (!std::regex_match(rotulo, nomeRotulo) || j + 1 >= linha.size() || linha[j + 1] != '"') {
                    ok = false;
                    break;
                }
                std::string valor;
                for (j += 2; j < linha.size() && linha[j] != '"'; ++j) {
                    if (linha[j] == '\\') {
                        const char c = j + 1 < linha.size() ? linha[++j] : '\0';
                        if (c == '\\') valor += '\\';
                        else if (c == '"') valor += '"';
                        else if (c == 'n') valor += '\n';
                        else ok = false;
                    } else {
                        valor += linha[j];
                    }
                }
                if (j >= linha.size()) ok = false;
                i = j + 1;
                if (ok && i < linha.size() && linha[i] == ',') ++i;
                if (a.Rotulos.count(rotulo)) ok = false;
                a.Rotulos[rotulo] = valor;
                chaveSerie += rotulo + "=" + valor + ",";
            }
            if (!ok || i >= linha.size()) {
                erro("rótulos malformados");
                continue;
            }
            ++i;  // '}'
        }
        if (i >= linha.size() || linha[i] != ' ') {
            erro("falta o valor");
            continue;
        }
        const std::string resto = linha.substr(i + 1);
        static const std::regex valorTs(R"(([-+]?(\d+(\.\d*)?|\.\d+)([eE][-+]?\d+)?|[-+]?Inf|NaN)( -?\d+)?)");
        std::smatch m;
        if (!std::regex_match(resto, m, valorTs)) {
            erro("valor inválido");
            continue;
        }
        a.Valor = std::strtod(m[1].str().c_str(), nullptr);
        if (!e.Tipos.count(a.Nome)) erro("amostra sem TYPE antes dela");
        if (series[chaveSerie]) erro("série repetida");
        series[chaveSerie] = true;
        e.Amostras.push_back(std::move(a));
    }
    return e;
}

// ---- The server, in process, with a driven clock ----

class PainelTest : public ::testing::Test {
protected:
    void SetUp() override {
        arquivo_ = std::filesystem::temp_directory_path() /
                   ("ondaris-painel-" + std::to_string(getpid()) + "-" +
                    ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".sqlite");
        for (auto sufixo : {"", "-wal", "-shm"}) std::filesystem::remove(arquivo_.string() + sufixo);
        Ajustar(kInicio);
        armazem_ = std::make_unique<ondaris::central::Armazem>(arquivo_.string());
        armazem_->DefinirRelogio([this] { return Agora(); });
        central_ = std::make_unique<ondaris::central::ServidorCentral>(*armazem_, kEstrutura);
        ondaris::central::OpcoesPainel opcoes;
        opcoes.Relogio = [this] { return Agora(); };
        painel_ = std::make_unique<ondaris::central::Painel>(*armazem_, opcoes);
        servidor_ = std::make_unique<ondaris::central::ServidorHttp>();
        central_->Registrar(*servidor_);
        painel_->Registrar(*servidor_);
        escuta_ = std::make_unique<ondaris::teste::EscutaCentral>(*servidor_);
        ASSERT_TRUE(escuta_->Pronta());
        porta_ = escuta_->Porta();
        cliente_ = std::make_unique<httplib::Client>("127.0.0.1", porta_);
        cliente_->set_read_timeout(10, 0);
    }
    void TearDown() override {
        escuta_.reset();
        painel_.reset();
        central_.reset();
        armazem_.reset();
        for (auto sufixo : {"", "-wal", "-shm"}) std::filesystem::remove(arquivo_.string() + sufixo);
    }

    Relogio::time_point Agora() const { return Relogio::time_point(Relogio::duration(agora_.load())); }
    void Ajustar(Relogio::time_point t) { agora_ = t.time_since_epoch().count(); }

    int Status(httplib::Result r) { return r ? r->status : -1; }
    int Indice(int loja, long long ultimo) {
        return Status(cliente_->Get(("/obterindiceenvio/" + std::to_string(loja) + "/" + std::to_string(ultimo)).c_str()));
    }
    int Enviar(int loja, const std::vector<std::string>& comandos) {
        return Status(cliente_->Put(("/enviar/" + std::to_string(loja)).c_str(), Corpo(loja, comandos), "application/json"));
    }
    int Receber(int loja, long long depoisDe) {
        return Status(cliente_->Get(("/receber/" + std::to_string(loja) + "/" + std::to_string(depoisDe)).c_str()));
    }
    std::string Pagina() {
        auto r = cliente_->Get("/painel");
        EXPECT_TRUE(r);
        if (!r) return {};
        EXPECT_EQ(r->status, 200) << r->body;
        EXPECT_EQ(r->get_header_value("Content-Type"), "text/html; charset=utf-8");
        return r->body;
    }
    Exposicao Metricas() {
        auto r = cliente_->Get("/metrics");
        EXPECT_TRUE(r);
        if (!r) return {};
        EXPECT_EQ(r->status, 200) << r->body;
        EXPECT_EQ(r->get_header_value("Content-Type"), "text/plain; version=0.0.4; charset=utf-8");
        Exposicao e = LerExposicao(r->body);
        for (const auto& erro : e.Erros) ADD_FAILURE() << erro;
        return e;
    }
    EstadoLoja Estado(int loja) {
        for (const auto& e : armazem_->Estado())
            if (e.Loja == loja) return e;
        ADD_FAILURE() << "loja " << loja << " ausente";
        return {};
    }

    // The scripted mix of stores, over 60 minutes from kInicio:
    // - 7 reported its log to reach 40 and was never heard of again: its
    //   sending is held and it makes no contact (stalled);
    // - 30 was served commands at minute 30 and keeps asking from the same
    //   position until minute 58: its receiving does not move (stalled);
    // - 12 sent 3 commands (the third for a row whose key is markup), had
    //   one request refused with a text that quotes markup, and asked again
    //   at minute 56;
    // - 3 changed that row too, after 12: 12's command was passed over for
    //   it (a conflict), and it has received everything else;
    // - 25 was served at minute 50 and has not asked again yet (not stalled);
    // - one request named a store code no store has used.
    void MisturaDeLojas() {
        const std::string marcacao = "<script>alert(1)</script>";
        ASSERT_EQ(Indice(7, 40), 200);
        Ajustar(kInicio + 20min);
        ASSERT_EQ(Indice(12, 3), 200);
        ASSERT_EQ(Enviar(12, {Comando(1, "1"), Comando(2, "2"), Comando(3, marcacao)}), 200);
        ASSERT_EQ(Indice(3, 1), 200);
        ASSERT_EQ(Enviar(3, {Comando(1, marcacao)}), 200);
        Ajustar(kInicio + 30min);
        ASSERT_EQ(Receber(30, 0), 200);
        Ajustar(kInicio + 50min);
        ASSERT_EQ(Receber(25, 0), 200);
        ASSERT_EQ(Receber(3, 0), 200);
        ASSERT_EQ(Receber(3, 2), 200);
        Ajustar(kInicio + 55min);
        auto r = cliente_->Put("/enviar/12", "{}", "text/<img src=x onerror=alert(1)>");
        ASSERT_TRUE(r);
        ASSERT_EQ(r->status, 415);
        r = cliente_->Put("/enviar/999", "{}", "text/plain");
        ASSERT_TRUE(r);
        ASSERT_EQ(r->status, 415);
        Ajustar(kInicio + 56min);
        ASSERT_EQ(Indice(12, 3), 200);
        Ajustar(kInicio + 58min);
        ASSERT_EQ(Receber(30, 0), 200);
        Ajustar(kInicio + 60min);
    }

    std::filesystem::path arquivo_;
    std::atomic<Relogio::rep> agora_{0};
    std::unique_ptr<ondaris::central::Armazem> armazem_;
    std::unique_ptr<ondaris::central::ServidorCentral> central_;
    std::unique_ptr<ondaris::central::Painel> painel_;
    std::unique_ptr<ondaris::central::ServidorHttp> servidor_;
    std::unique_ptr<ondaris::teste::EscutaCentral> escuta_;
    int porta_ = 0;
    std::unique_ptr<httplib::Client> cliente_;
};

std::string Hora(Relogio::time_point t) {
    const std::time_t tt = Relogio::to_time_t(t);
    std::tm tm{};
    gmtime_r(&tt, &tm);
    char texto[32];
    std::strftime(texto, sizeof texto, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return texto;
}

TEST(MotivosParadaTest, EachReasonCountsOnlyPastTheLimit) {
    const auto agora = kInicio + 2h;
    const auto ha = [&](std::chrono::seconds d) { return Hora(agora - d); };
    struct Caso {
        const char* nome;
        std::string contato, envioParado, recebimentoParado;
        std::int64_t aguardando;
        std::vector<std::string> motivos;
    };
    const std::vector<Caso> casos = {
        {"recente, nada parado", ha(1min), "", "", 0, {}},
        {"contato no limite exato", ha(15min), "", "", 0, {}},
        {"sem contato", ha(15min + 1s), "", "", 0, {"sem contato há 15 min"}},
        {"nunca pediu", "", "", "", 0, {"nenhum contato registrado"}},
        {"envio parado curto", ha(1min), ha(14min), "", 0, {}},
        {"envio parado", ha(1min), ha(2h), "", 0, {"envio parado há 2 h"}},
        {"recebimento sem avançar", ha(1min), "", ha(40min), 3, {"recebimento sem avançar há 40 min"}},
        {"recebimento sem nada aguardando", ha(1min), "", ha(40min), 0, {}},
        {"tudo parado", ha(26h + 5min), ha(26h + 5min), ha(3h + 20min), 5,
         {"sem contato há 1 dia 2 h", "envio parado há 1 dia 2 h", "recebimento sem avançar há 3 h 20 min"}},
    };
    for (const auto& c : casos) {
        EstadoLoja e;
        e.UltimoPedido = c.contato;
        e.EnvioParadoDesde = c.envioParado;
        e.RecebimentoParadoDesde = c.recebimentoParado;
        e.ComandosAguardando = c.aguardando;
        EXPECT_EQ(ondaris::central::MotivosParada(e, agora, 15min), c.motivos) << c.nome;
    }
}

TEST(EscaparTest, HtmlAndLabelValues) {
    EXPECT_EQ(ondaris::central::EscaparHtml(R"(<a href="x" title='y'>&amp;</a>)"),
              "&lt;a href=&quot;x&quot; title=&#39;y&#39;&gt;&amp;amp;&lt;/a&gt;");
    // A label value survives the scraper's reading whatever it holds.
    const std::string hostil = "a\"b\\c\nd}e,f=\"g";
    const std::string linha = "x{loja=\"" + ondaris::central::EscaparRotulo(hostil) + "\"} 1\n";
    const Exposicao e = LerExposicao("# TYPE x gauge\n" + linha);
    EXPECT_TRUE(e.Erros.empty()) << linha;
    EXPECT_EQ(e.Valor("x", {{"loja", hostil}}), 1.0);
}

TEST_F(PainelTest, ReceivingThatDoesNotMoveIsTimedFromTheFirstServing) {
    ASSERT_EQ(Enviar(12, {Comando(1, "1"), Comando(2, "2")}), 200);
    ASSERT_EQ(Receber(4, 0), 200);  // served 12's two commands
    EXPECT_EQ(Estado(4).RecebimentoParadoDesde, Hora(kInicio));
    Ajustar(kInicio + 20min);
    ASSERT_EQ(Receber(4, 0), 200);  // the same position again: still held since the first time
    EXPECT_EQ(Estado(4).RecebimentoParadoDesde, Hora(kInicio));
    ASSERT_EQ(Receber(4, 2), 200);  // moved on, nothing more to serve
    EXPECT_EQ(Estado(4).RecebimentoParadoDesde, "");
    // A store with nothing to be served is never held.
    ASSERT_EQ(Receber(12, 0), 200);
    EXPECT_EQ(Estado(12).RecebimentoParadoDesde, "");
}

TEST_F(PainelTest, RefusalsCountForTheStoreThePathNamesWhenTheServerKnowsIt) {
    ASSERT_EQ(Indice(5, 0), 200);
    Ajustar(kInicio + 1min);
    auto r = cliente_->Put("/enviar/5", Corpo(5, {Comando(3, "1")}) , "application/json");
    ASSERT_TRUE(r);
    ASSERT_EQ(r->status, 200);
    r = cliente_->Put("/enviar/5", R"({"codigolojaorigem":"5","comandos":[],"ordeminicial":"9","ordemfinal":"9"})",
                      "application/json");
    ASSERT_TRUE(r);
    ASSERT_EQ(r->status, 409);
    Ajustar(kInicio + 2min);
    r = cliente_->Get("/receber/5/-1");
    ASSERT_TRUE(r);
    ASSERT_EQ(r->status, 400);
    const std::string ultima = r->body;
    // Codes no store has used, and paths that name none, count apart.
    for (const char* caminho : {"/receber/6/0x", "/receber/abc/0", "/obterindiceenvio/2147483648/0"})
        ASSERT_EQ(Status(cliente_->Get(caminho)), 400) << caminho;

    std::map<int, ondaris::central::OcorrenciasLoja> por;
    for (const auto& o : armazem_->Ocorrencias()) por[o.Loja] = o;
    ASSERT_EQ(por.size(), 2u);
    EXPECT_EQ(por[5].Recusas, 2);
    EXPECT_EQ(por[5].UltimaRecusa, ultima);
    EXPECT_EQ(por[5].UltimaRecusaQuando, Hora(kInicio + 2min));
    EXPECT_EQ(por[0].Recusas, 3);
    // Store 6 was not made known by its refused request.
    for (const auto& e : armazem_->Estado()) EXPECT_NE(e.Loja, 6);

    const Exposicao m = Metricas();
    EXPECT_EQ(m.Valor("ondaris_central_loja_recusas_total", {{"loja", "5"}}), 2.0);
    EXPECT_EQ(m.Valor("ondaris_central_recusas_sem_loja_total"), 3.0);
    EXPECT_EQ(m.Valor("ondaris_central_recusas_total"), 5.0);
}

TEST_F(PainelTest, ConflictsAndSetAsideCommandsCountForTheStoreThatDidNotApplyThem) {
    // Passed over by the server: 3 changed row A after 12 did, before
    // receiving 12's command.
    ASSERT_EQ(Enviar(12, {Comando(1, "A")}), 200);
    ASSERT_EQ(Enviar(3, {Comando(1, "A")}), 200);
    ASSERT_EQ(Receber(3, 0), 200);
    // Set aside by the agent: 4 reported a change of row B, was served 12's
    // command for B, and its own change arrived afterwards.
    ASSERT_EQ(Indice(4, 1), 200);
    ASSERT_EQ(Enviar(12, {Comando(2, "B")}), 200);
    ASSERT_EQ(Receber(4, 0), 200);
    ASSERT_EQ(Receber(4, 3), 200);
    ASSERT_EQ(Enviar(4, {Comando(1, "B")}), 200);

    std::map<int, ondaris::central::OcorrenciasLoja> por;
    for (const auto& o : armazem_->Ocorrencias()) por[o.Loja] = o;
    EXPECT_EQ(por[3].Conflitos, 1);
    EXPECT_EQ(por[3].PostosDeLado, 0);
    EXPECT_EQ(por[4].Conflitos, 0);
    EXPECT_EQ(por[4].PostosDeLado, 1);
    EXPECT_EQ(por.count(12), 0u);

    const Exposicao m = Metricas();
    EXPECT_EQ(m.Valor("ondaris_central_loja_conflitos_total", {{"loja", "3"}}), 1.0);
    EXPECT_EQ(m.Valor("ondaris_central_loja_postos_de_lado_total", {{"loja", "4"}}), 1.0);
    EXPECT_EQ(m.Valor("ondaris_central_loja_postos_de_lado_total", {{"loja", "12"}}), 0.0);
    EXPECT_EQ(m.Valor("ondaris_central_conflitos_total"), 2.0);
}

TEST_F(PainelTest, MetricsFollowTheTextFormatAndCarryEachStoresFigures) {
    MisturaDeLojas();
    // Two requests this test makes itself are counted too.
    ASSERT_EQ(Status(cliente_->Get("/nao/existe")), 404);
    ASSERT_EQ(Status(cliente_->Get("/")), 302);
    const Exposicao m = Metricas();
    ASSERT_TRUE(m.Erros.empty());
    for (const auto& [nome, tipo] : m.Tipos) EXPECT_TRUE(m.Ajudas.count(nome)) << nome << " sem HELP";

    EXPECT_EQ(m.Valor("ondaris_central_lojas"), 5.0);
    EXPECT_EQ(m.Valor("ondaris_central_lojas_paradas"), 2.0);
    for (const auto& e : armazem_->Estado()) {
        const std::map<std::string, std::string> loja{{"loja", std::to_string(e.Loja)}};
        EXPECT_EQ(m.Valor("ondaris_central_loja_comandos_aguardando", loja), double(e.ComandosAguardando)) << e.Loja;
        EXPECT_EQ(m.Valor("ondaris_central_loja_posicao_confirmada", loja), double(e.PosicaoConfirmada)) << e.Loja;
        EXPECT_EQ(m.Valor("ondaris_central_loja_posicao_recebida", loja), double(e.PosicaoRecebida)) << e.Loja;
        EXPECT_EQ(m.Valor("ondaris_central_loja_parada", loja), e.Loja == 7 || e.Loja == 30 ? 1.0 : 0.0) << e.Loja;
    }
    EXPECT_EQ(m.Valor("ondaris_central_loja_ultimo_movimento", {{"loja", "7"}}), 40.0);
    EXPECT_EQ(m.Valor("ondaris_central_loja_ultimo_movimento", {{"loja", "30"}}), std::nullopt);
    EXPECT_EQ(m.Valor("ondaris_central_loja_envio_parado_desde_timestamp_seconds", {{"loja", "7"}}),
              double(Relogio::to_time_t(kInicio)));
    EXPECT_EQ(m.Valor("ondaris_central_loja_ultimo_contato_timestamp_seconds", {{"loja", "30"}}),
              double(Relogio::to_time_t(kInicio + 58min)));
    EXPECT_EQ(m.Valor("ondaris_central_loja_recusas_total", {{"loja", "12"}}), 1.0);
    EXPECT_EQ(m.Valor("ondaris_central_loja_conflitos_total", {{"loja", "3"}}), 1.0);
    EXPECT_EQ(m.Valor("ondaris_central_requisicoes_total", {{"endpoint", "enviar"}, {"status", "200"}}), 2.0);
    EXPECT_EQ(m.Valor("ondaris_central_requisicoes_total", {{"endpoint", "enviar"}, {"status", "415"}}), 2.0);
    EXPECT_EQ(m.Valor("ondaris_central_requisicoes_total", {{"endpoint", "receber"}, {"status", "200"}}), 5.0);
    EXPECT_EQ(m.Valor("ondaris_central_requisicoes_total", {{"endpoint", "outro"}, {"status", "404"}}), 1.0);
    EXPECT_EQ(m.Valor("ondaris_central_requisicoes_total", {{"endpoint", "raiz"}, {"status", "302"}}), 1.0);
}

TEST_F(PainelTest, AStoreAdmittedWithoutCredentialsIsMarkedOnThePageAndInTheMetrics) {
    ondaris::central::Credenciais credenciais(arquivo_.string());
    credenciais.PermitirSemSenha(12);
    credenciais.Criar(3);
    painel_->DefinirCredenciais(&credenciais);
    MisturaDeLojas();
    const std::string pagina = Pagina();
    const auto linha12 = pagina.find("data-loja=\"12\"");
    const auto selo = pagina.find("sem credencial</span>");
    ASSERT_NE(selo, std::string::npos) << pagina;
    EXPECT_EQ(pagina.find("sem credencial</span>", selo + 1), std::string::npos) << "only store 12 is marked";
    EXPECT_TRUE(linha12 != std::string::npos && selo > linha12 && selo - linha12 < 200) << pagina;
    const Exposicao m = Metricas();
    EXPECT_EQ(m.Valor("ondaris_central_loja_sem_credencial", {{"loja", "12"}}), 1.0);
    EXPECT_EQ(m.Valor("ondaris_central_loja_sem_credencial", {{"loja", "3"}}), 0.0);
    painel_->DefinirCredenciais(nullptr);
}

TEST_F(PainelTest, RootSendsTheBrowserToThePage) {
    auto r = cliente_->Get("/");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 302);
    EXPECT_EQ(r->get_header_value("Location"), "/painel");
    // With no store yet the page says so rather than showing an empty table.
    const std::string p = Pagina();
    EXPECT_NE(p.find("Nenhuma loja fez contato com este servidor ainda."), std::string::npos) << p;
}

// ---- The page in a real browser ----

// Headless Chromium from Debian (scripts/install-deps): its absence is a
// failure, never a skipped test.
class Navegador {
public:
    Navegador() {
        for (const char* c : {"/usr/bin/chromium", "/usr/bin/chromium-browser"})
            if (std::filesystem::exists(c)) programa_ = c;
    }
    bool Existe() const { return !programa_.empty(); }

    // The DOM after the page loaded, as Chromium serialises it.
    std::string Dom(const std::string& url) { return Rodar({"--dump-dom", url}, true); }
    void Capturar(const std::string& url, const std::filesystem::path& png, const char* tamanho) {
        std::filesystem::create_directories(png.parent_path());
        std::filesystem::remove(png);
        Rodar({"--hide-scrollbars", std::string("--window-size=") + tamanho, "--screenshot=" + png.string(), url},
              false);
    }

private:
    std::string Rodar(std::vector<std::string> extra, bool saida) {
        ondaris::teste::PastaTemporaria perfil("ondaris-chromium");
        std::vector<std::string> args = {programa_,
                                         "--headless",
                                         "--no-sandbox",
                                         "--disable-gpu",
                                         "--disable-quic",
                                         "--no-first-run",
                                         "--disable-background-networking",
                                         "--disable-component-update",
                                         "--disable-sync",
                                         "--lang=pt-BR",
                                         "--user-data-dir=" + (perfil.Caminho() / "perfil").string()};
        args.insert(args.end(), extra.begin(), extra.end());
        // The DOM goes to its own file; Chromium's diagnostics to another.
        std::string comando = "exec";
        for (const auto& a : args) comando += " '" + a + "'";
        comando += " 2>'" + (perfil.Caminho() / "diagnostico.txt").string() + "'";
        ondaris::teste::Processo p({"/bin/sh", "-c", comando}, perfil.Caminho() / "saida.txt");
        const int status = p.Esperar(60s);
        const std::string diagnostico = ondaris::teste::LerBytes(perfil.Caminho() / "diagnostico.txt");
        EXPECT_EQ(status, 0) << diagnostico;
        return saida ? p.Saida() : diagnostico;
    }
    std::string programa_;
};

// The rows of the stores table: code, class and the text of each cell.
struct LinhaDom {
    std::string Loja;
    bool Parada = false;
    std::map<std::string, std::string> Celulas;  // the cell's last class -> its text
};

std::string SemMarcas(const std::string& html) {
    static const std::regex marca("<[^>]*>");
    return std::regex_replace(html, marca, " ");
}

std::vector<LinhaDom> LinhasDasLojas(const std::string& dom) {
    std::vector<LinhaDom> linhas;
    const auto corpo = dom.find("<tbody>", dom.find("id=\"lojas\""));
    if (corpo == std::string::npos) return linhas;
    const std::string tbody = dom.substr(corpo, dom.find("</tbody>", corpo) - corpo);
    static const std::regex tr(R"re(<tr( class="parada")? data-loja="(\d+)">([\s\S]*?)</tr>)re");
    static const std::regex td(R"re(<td class="(?:[a-z-]+ )*([a-z-]+)">([\s\S]*?)</td>)re");
    for (auto i = std::sregex_iterator(tbody.begin(), tbody.end(), tr); i != std::sregex_iterator(); ++i) {
        LinhaDom l;
        l.Parada = (*i)[1].matched;
        l.Loja = (*i)[2];
        const std::string celulas = (*i)[3];
        for (auto j = std::sregex_iterator(celulas.begin(), celulas.end(), td); j != std::sregex_iterator(); ++j)
            l.Celulas[(*j)[1]] = std::regex_replace(SemMarcas((*j)[2]), std::regex(R"(\s+)"), " ");
        linhas.push_back(std::move(l));
    }
    return linhas;
}

std::string Limpo(std::string s) {
    while (!s.empty() && s.front() == ' ') s.erase(s.begin());
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
}

TEST_F(PainelTest, ChromiumShowsStalledStoresFirstWithTheirFiguresAndStoreDataAsText) {
    Navegador navegador;
    ASSERT_TRUE(navegador.Existe()) << "Chromium não está instalado (scripts/install-deps instala o pacote chromium)";
    MisturaDeLojas();
    const std::string url = "http://127.0.0.1:" + std::to_string(porta_) + "/painel";
    const std::string dom = navegador.Dom(url);
    ASSERT_NE(dom.find("</html>"), std::string::npos) << dom;

    // The summary line.
    const auto cartao = [&](const char* id) {
        const auto p = dom.find(std::string("id=\"") + id + "\"");
        if (p == std::string::npos) return std::string("<ausente>");
        const auto inicio = dom.find('>', p) + 1;
        const std::string texto = SemMarcas(dom.substr(inicio, dom.find("</div>", inicio) - inicio));
        return Limpo(std::regex_replace(texto, std::regex(R"(\s+)"), " "));
    };
    EXPECT_EQ(cartao("total-lojas"), "5 lojas");
    EXPECT_EQ(cartao("total-paradas"), "2 paradas");
    std::int64_t aguardando = 0;
    for (const auto& e : armazem_->Estado()) aguardando += e.ComandosAguardando;
    EXPECT_EQ(aguardando, 4 + 4 + 0 + 1 + 4);
    EXPECT_EQ(cartao("total-aguardando"), std::to_string(aguardando) + " comandos aguardando");
    EXPECT_EQ(cartao("total-conflitos"), "1 conflito");

    // Stalled stores first, then by code; the figures of each.
    const std::vector<LinhaDom> linhas = LinhasDasLojas(dom);
    std::vector<std::string> ordem;
    for (const auto& l : linhas) ordem.push_back(l.Loja + (l.Parada ? " parada" : ""));
    EXPECT_EQ(ordem, (std::vector<std::string>{"7 parada", "30 parada", "3", "12", "25"}));
    ASSERT_EQ(linhas.size(), 5u);
    const LinhaDom& sete = linhas[0];
    EXPECT_EQ(Limpo(sete.Celulas.at("loja")), "7 parada sem contato há 1 h; envio parado há 1 h");
    EXPECT_EQ(Limpo(sete.Celulas.at("contato")), "02/03/2026 10:00:00 há 1 h");
    EXPECT_EQ(Limpo(sete.Celulas.at("movimento")), "40");
    EXPECT_EQ(Limpo(sete.Celulas.at("confirmada")), "0");
    EXPECT_EQ(Limpo(sete.Celulas.at("aguardando")), "4");
    EXPECT_EQ(Limpo(sete.Celulas.at("envio-parado")), "02/03/2026 10:00:00 há 1 h");
    EXPECT_EQ(Limpo(linhas[1].Celulas.at("loja")), "30 parada recebimento sem avançar há 30 min");
    EXPECT_EQ(Limpo(linhas[1].Celulas.at("contato")), "02/03/2026 10:58:00 há 2 min");
    const LinhaDom& tres = linhas[2];
    EXPECT_EQ(Limpo(tres.Celulas.at("recebida")), "2");
    EXPECT_EQ(Limpo(tres.Celulas.at("aguardando")), "0");
    EXPECT_EQ(Limpo(tres.Celulas.at("conflitos")), "1");
    EXPECT_EQ(Limpo(tres.Celulas.at("envio-parado")), "—");
    const LinhaDom& doze = linhas[3];
    EXPECT_EQ(Limpo(doze.Celulas.at("confirmada")), "3");
    EXPECT_EQ(Limpo(doze.Celulas.at("recusas")),
              "1 há 5 min: o corpo deve ser enviado como application/json, não 'text/&lt;img src=x onerror=alert(1)&gt;'");
    EXPECT_EQ(Limpo(linhas[4].Celulas.at("aguardando")), "4");
    EXPECT_EQ(Limpo(linhas[4].Celulas.at("loja")), "25");

    // Store data is text: the markup it carries made no element.
    EXPECT_EQ(dom.find("<img"), std::string::npos);
    EXPECT_EQ(dom.find("<script"), std::string::npos);
    EXPECT_NE(dom.find("&lt;script&gt;alert(1)&lt;/script&gt;"), std::string::npos) << "a chave do conflito";
    EXPECT_NE(dom.find("id=\"recusas-sem-loja\""), std::string::npos);

    // For people: a picture of the page (also made by scripts/capturas).
    const char* pasta = std::getenv("ONDARIS_CAPTURAS");
    const std::filesystem::path png =
        std::filesystem::path(pasta && *pasta ? pasta : ONDARIS_BINARY_DIR "/capturas") / "painel.png";
    navegador.Capturar(url, png, "1400,900");
    EXPECT_GT(std::filesystem::exists(png) ? std::filesystem::file_size(png) : 0, 10000u) << png;
}

}  // namespace
