// The stores' credentials at the central server, over real HTTP with the
// server wired as ondaris-central wires it: which requests are refused, with
// which answer, and that a refused request stores and serves nothing.
#include <gtest/gtest.h>
#include <httplib.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "central/armazem.h"
#include "central/credenciais.h"
#include "central/http.h"
#include "central/servidor.h"
#include "e2e/escuta_teste.h"
#include "protocolo/base64.h"
#include "protocolo/json.h"
#include "sync/ciclo.h"
#include "support/loja_e2e.h"
#include "support/pasta_temporaria.h"
#include "sync/requisicao.h"

namespace {

using namespace std::chrono_literals;
using ondaris::central::Credenciais;

const char* kEstrutura = R"([{"tabela":"PRODUTOS","campo":"CODIGO","chave":"PRIMARY KEY"}])";

std::string Corpo(int loja, long long ordem, int destino) {
    return R"({"codigolojaorigem":")" + std::to_string(loja) + R"(","comandos":[{"ordem":")" +
           std::to_string(ordem) + R"(","codigolojadestino":")" + std::to_string(destino) +
           R"(","acao":"U","tabela":"PRODUTOS","atualvalorchave1":")" + std::to_string(ordem) +
           R"(","atualvalorchave2":"","novovalorchave1":"","ocorrencialocal":"","idtransacao":"7","campos":{"CODIGO":")" +
           std::to_string(ordem) + R"("}}]})";
}

std::string Basic(const std::string& usuario, const std::string& segredo) {
    std::string valor = ondaris::protocolo::StreamtoBase64(usuario + ":" + segredo);
    std::erase_if(valor, [](char c) { return c == '\r' || c == '\n'; });  // broken into lines at 76
    return "Basic " + valor;
}

class CredenciaisTest : public ::testing::Test {
protected:
    void SetUp() override {
        arquivo_ = std::filesystem::temp_directory_path() /
                   ("ondaris-credenciais-" + std::to_string(getpid()) + "-" +
                    ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".sqlite");
        Remover();
        armazem_ = std::make_unique<ondaris::central::Armazem>(arquivo_.string());
        credenciais_ = std::make_unique<Credenciais>(arquivo_.string());
        central_ = std::make_unique<ondaris::central::ServidorCentral>(*armazem_, kEstrutura);
        central_->DefinirCredenciais(credenciais_.get());
        servidor_ = std::make_unique<ondaris::central::ServidorHttp>();
        ondaris::central::ExigirCredenciais(*servidor_, *credenciais_);
        central_->Registrar(*servidor_);
        escuta_ = std::make_unique<ondaris::teste::EscutaCentral>(*servidor_);
        ASSERT_TRUE(escuta_->Pronta());
        porta_ = escuta_->Porta();
    }
    void TearDown() override {
        escuta_.reset();
        central_.reset();
        credenciais_.reset();
        armazem_.reset();
        Remover();
    }
    void Remover() {
        for (auto sufixo : {"", "-wal", "-shm"}) std::filesystem::remove(arquivo_.string() + sufixo);
    }

    // One request with the given Authorization value (none when empty).
    httplib::Result Pedir(const std::string& metodo, const std::string& caminho, const std::string& autorizacao,
                          const std::string& corpo = "") {
        httplib::Client cliente("127.0.0.1", porta_);
        cliente.set_read_timeout(10, 0);
        httplib::Headers cabecalhos;
        if (!autorizacao.empty()) cabecalhos.emplace("Authorization", autorizacao);
        if (metodo == "PUT") return cliente.Put(caminho.c_str(), cabecalhos, corpo, "application/json");
        return cliente.Get(caminho.c_str(), cabecalhos);
    }

    std::string Url(const std::string& credenciais) const {
        return "http://" + credenciais + "127.0.0.1:" + std::to_string(porta_) + "/";
    }

    std::filesystem::path arquivo_;
    std::unique_ptr<ondaris::central::Armazem> armazem_;
    std::unique_ptr<Credenciais> credenciais_;
    std::unique_ptr<ondaris::central::ServidorCentral> central_;
    std::unique_ptr<ondaris::central::ServidorHttp> servidor_;
    std::unique_ptr<ondaris::teste::EscutaCentral> escuta_;
    int porta_ = 0;
};

// Every way a store can lack its credentials, on every store endpoint: 401
// with the challenge and a text that says what is wrong, never the secret;
// nothing stored, nothing served. Then the same requests with the right
// credentials, and from a store allowed without them, go through.
TEST_F(CredenciaisTest, WithoutItsOwnValidCredentialsAStoreIsRefusedAndNothingIsStoredOrServed) {
    const std::string segredo1 = credenciais_->Criar(1);
    const std::string segredo2 = credenciais_->Criar(2);
    const std::string segredo4 = credenciais_->Criar(4);
    ASSERT_TRUE(credenciais_->Revogar(4));
    credenciais_->PermitirSemSenha(3);
    // A command from store 2 waits for store 1: a refused "receber" must not
    // hand it out.
    {
        auto r = Pedir("PUT", "/enviar/2", Basic("loja2", segredo2), Corpo(2, 1, 1));
        ASSERT_TRUE(r);
        ASSERT_EQ(r->status, 200) << r->body;
    }

    struct Caso {
        const char* nome;
        int loja;                  // the store in the path
        std::string autorizacao;   // empty: none
        const char* texto;         // part of the refusal; nullptr: accepted
    };
    const std::vector<Caso> casos = {
        {"none", 1, "", "credenciais ausentes: a loja 1 deve enviar"},
        {"wrong secret", 1, Basic("loja1", segredo1 + "0"), "segredo errado para o usuário loja1"},
        {"empty secret", 1, Basic("loja1", ""), "segredo errado para o usuário loja1"},
        {"another store's secret", 1, Basic("loja2", segredo2), "as credenciais de loja2 não valem para a loja 1"},
        {"the other store's secret under this store's name", 1, Basic("loja1", segredo2),
         "segredo errado para o usuário loja1"},
        {"revoked", 4, Basic("loja4", segredo4), "a credencial da loja 4 foi revogada em"},
        {"a store without any credential", 5, Basic("loja5", segredo1), "a loja 5 não tem credencial nesta central"},
        {"a user that names no store", 1, Basic("admin", segredo1), "usuário 'admin' não é de uma loja"},
        {"not HTTP Basic", 1, "Bearer " + segredo1, "só aceita HTTP Basic"},
        {"allowed without credentials, sending wrong ones", 3, Basic("loja3", "x"), "a loja 3 não tem credencial"},
        {"valid", 1, Basic("loja1", segredo1), nullptr},
        {"allowed without credentials by the operator", 3, "", nullptr},
    };
    for (const Caso& caso : casos) {
        SCOPED_TRACE(caso.nome);
        const std::string loja = std::to_string(caso.loja);
        const std::vector<std::pair<std::string, std::string>> pedidos = {
            {"PUT", "/enviar/" + loja}, {"GET", "/obterindiceenvio/" + loja + "/9"}, {"GET", "/receber/" + loja + "/0"}};
        for (const auto& [metodo, caminho] : pedidos) {
            SCOPED_TRACE(metodo + " " + caminho);
            auto r = Pedir(metodo, caminho, caso.autorizacao, Corpo(caso.loja, 1, 0));
            ASSERT_TRUE(r);
            if (!caso.texto) {
                EXPECT_EQ(r->status, 200) << r->body;
                continue;
            }
            EXPECT_EQ(r->status, 401);
            EXPECT_EQ(r->get_header_value("WWW-Authenticate"), "Basic realm=\"ondaris\"");
            EXPECT_EQ(r->get_header_value("Content-Type"), "text/plain; charset=utf-8");
            EXPECT_NE(r->body.find("credenciais recusadas: "), std::string::npos) << r->body;
            EXPECT_NE(r->body.find(caso.texto), std::string::npos) << r->body;
            for (const auto& s : {segredo1, segredo2, segredo4}) EXPECT_EQ(r->body.find(s), std::string::npos);
            EXPECT_EQ(r->body.find("comandos"), std::string::npos) << r->body;
        }
        // Nothing of a refused request reached the store of commands: only
        // the accepted cases add stores and commands.
        if (caso.texto) {
            const auto estado = armazem_->Estado();
            ASSERT_EQ(estado.size(), 1u);  // store 2's own sending
            EXPECT_EQ(estado[0].Loja, 2);
        }
    }
    // What the accepted requests did: store 1's block stored, store 2's
    // command served to store 1, store 3 admitted and shown as such.
    std::optional<ondaris::central::EstadoLoja> loja1, loja3;
    for (const auto& e : armazem_->Estado()) {
        if (e.Loja == 1) loja1 = e;
        if (e.Loja == 3) loja3 = e;
    }
    ASSERT_TRUE(loja1 && loja3);
    EXPECT_EQ(loja1->PosicaoConfirmada, 1);
    EXPECT_EQ(loja3->PosicaoConfirmada, 1);
    auto status = Pedir("GET", "/status", "");
    ASSERT_TRUE(status);
    ASSERT_EQ(status->status, 200);
    const auto json = ondaris::protocolo::LerJSON(status->body);
    ASSERT_TRUE(json);
    std::map<std::string, std::string> credencial;
    for (const auto& l : json->Membro("lojas")->Elementos())
        credencial[l.Membro("loja")->Bruto()] = l.Membro("credencial")->Bruto();
    EXPECT_EQ(credencial["1"], "segredo");
    EXPECT_EQ(credencial["2"], "segredo");
    EXPECT_EQ(credencial["3"], "sem senha");
}

// The structure list: any store's valid credentials; none while no store
// is allowed without them.
TEST_F(CredenciaisTest, TheStructureListNeedsSomeStoresValidCredentials) {
    const std::string segredo1 = credenciais_->Criar(1);
    const std::string segredo2 = credenciais_->Criar(2);
    struct Caso {
        const char* nome;
        std::string autorizacao;
        int status;
    };
    for (const Caso& caso : std::vector<Caso>{{"store 1", Basic("loja1", segredo1), 200},
                                              {"store 2", Basic("loja2", segredo2), 200},
                                              {"none", "", 401},
                                              {"wrong secret", Basic("loja2", segredo1), 401}}) {
        SCOPED_TRACE(caso.nome);
        auto r = Pedir("GET", "/estruturabd", caso.autorizacao);
        ASSERT_TRUE(r);
        EXPECT_EQ(r->status, caso.status) << r->body;
        if (caso.status == 200) EXPECT_EQ(r->body, kEstrutura);
        else EXPECT_EQ(r->body.find(kEstrutura), std::string::npos);
    }
    credenciais_->PermitirSemSenha(9);
    auto r = Pedir("GET", "/estruturabd", "");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 200) << r->body;
}

// A new secret replaces the old one at once, also for a server that has
// already accepted the old one; a revocation holds at once too.
TEST_F(CredenciaisTest, ANewSecretOrARevocationHoldsAtOnce) {
    const std::string antigo = credenciais_->Criar(1);
    auto r = Pedir("GET", "/receber/1/0", Basic("loja1", antigo));
    ASSERT_TRUE(r);
    ASSERT_EQ(r->status, 200);
    // Another handle on the same file, as the operator's command is.
    const std::string novo = Credenciais(arquivo_.string()).Criar(1);
    EXPECT_NE(novo, antigo);
    EXPECT_EQ(novo.size(), 64u);
    EXPECT_EQ(Pedir("GET", "/receber/1/0", Basic("loja1", antigo))->status, 401);
    EXPECT_EQ(Pedir("GET", "/receber/1/0", Basic("loja1", novo))->status, 200);
    ASSERT_TRUE(Credenciais(arquivo_.string()).Revogar(1));
    EXPECT_EQ(Pedir("GET", "/receber/1/0", Basic("loja1", novo))->status, 401);
    EXPECT_FALSE(credenciais_->Revogar(1));  // nothing left to revoke
}

// Only a salted slow hash is kept: the secret appears nowhere in the file.
TEST_F(CredenciaisTest, TheDatabaseKeepsOnlyASaltedHash) {
    const std::string segredo = credenciais_->Criar(1);
    const std::string outro = credenciais_->Criar(2);
    credenciais_.reset();
    std::string bytes;
    for (auto sufixo : {"", "-wal"}) {
        std::ifstream f(arquivo_.string() + sufixo, std::ios::binary);
        bytes += std::string(std::istreambuf_iterator<char>(f), {});
    }
    EXPECT_EQ(bytes.find(segredo), std::string::npos);
    EXPECT_NE(bytes.find("pbkdf2-sha256$" + std::to_string(Credenciais::kIteracoes) + "$"), std::string::npos);
    credenciais_ = std::make_unique<Credenciais>(arquivo_.string());
    (void)outro;
}

// The agent's side: credentials written in the link travel as HTTP Basic,
// and a refusal reaches the log as a refusal of this store's credentials,
// without the secret.
TEST_F(CredenciaisTest, TheAgentSendsTheLinksCredentialsAndLogsARefusalWithoutTheSecret) {
    const std::string segredo = credenciais_->Criar(1);
    using ondaris::sync::ExecutarRequisicao;
    auto aceita = ExecutarRequisicao("GET", Url("loja1:" + segredo + "@") + "receber/1/0", "");
    EXPECT_EQ(aceita.StatusCode, 200) << aceita.Conteudo;

    const std::string errado = std::string(segredo.rbegin(), segredo.rend());
    const std::string link = Url("loja1:" + errado + "@") + "receber/1/0";
    auto recusada = ExecutarRequisicao("GET", link, "");
    ASSERT_EQ(recusada.StatusCode, 401);
    const std::string texto =
        ondaris::sync::TextoRecusa(ondaris::sync::RecusaDe(ondaris::sync::DescreverPedido("GET", link), recusada));
    EXPECT_EQ(texto.rfind(ondaris::sync::kTextoCredenciaisRecusadas, 0), 0u) << texto;
    EXPECT_NE(texto.find("GET http://127.0.0.1:" + std::to_string(porta_) + "/receber/1/0: 401"), std::string::npos)
        << texto;
    EXPECT_NE(texto.find("segredo errado para o usuário loja1"), std::string::npos) << texto;
    EXPECT_EQ(texto.find(errado), std::string::npos) << texto;
}

// The warning when the server starts names the stores it knows that will
// be refused, and says so when no store has any credential.
TEST_F(CredenciaisTest, TheStartWarningNamesTheStoresThatWillBeRefused) {
    const std::string vazio = credenciais_->AvisoAoIniciar({}, "c.sqlite");
    EXPECT_NE(vazio.find("nenhuma loja tem credencial nesta central"), std::string::npos) << vazio;
    credenciais_->Criar(1);
    credenciais_->PermitirSemSenha(2);
    credenciais_->Criar(5);
    credenciais_->Revogar(5);
    EXPECT_EQ(credenciais_->AvisoAoIniciar({1, 2}, "c.sqlite"), "");
    const std::string aviso = credenciais_->AvisoAoIniciar({1, 2, 5, 7}, "c.sqlite");
    EXPECT_NE(aviso.find("as lojas 5, 7 já conversaram com esta central e não têm credencial"), std::string::npos)
        << aviso;
    EXPECT_NE(aviso.find("ondaris-central --banco c.sqlite credencial criar"), std::string::npos) << aviso;
    EXPECT_EQ(aviso.find("nenhuma loja"), std::string::npos) << aviso;
}

}  // namespace

namespace {

// The operator's commands, as the program runs them: what each prints and
// its exit status.
TEST(CredencialComando, TheOperatorsCommandsSayWhatTheyDid) {
    ondaris::teste::PastaTemporaria pasta("ondaris-credencial-comando");
    const std::string banco = (pasta.Caminho() / "central.sqlite").string();
    const auto rodar = [&](std::vector<std::string> argumentos) {
        argumentos.insert(argumentos.begin(), {ONDARIS_BINARY_DIR "/central/ondaris-central", "--banco", banco});
        ondaris::teste::Processo p(argumentos, pasta.Caminho() / "saida.txt");
        const int status = p.Esperar(std::chrono::seconds(60));
        return std::pair{status, p.Saida()};
    };
    struct Caso {
        std::vector<std::string> argumentos;
        int status;
        std::string trecho;
    };
    const std::vector<Caso> casos = {
        {{"credencial", "listar"}, 0, "nenhuma credencial nesta central: toda loja é recusada"},
        {{"credencial", "criar", "12"}, 0, "usuário: loja12\nsegredo: "},
        {{"credencial", "criar", "12"}, 0, "(o segredo anterior deixou de valer)"},
        {{"credencial", "sem-senha", "3"}, 0, "a loja 3 é admitida sem credenciais"},
        {{"credencial", "listar"}, 0, "loja 3 (usuário loja3): admitida sem credenciais desde "},
        {{"credencial", "revogar", "5"}, 1, "a loja 5 não tinha credencial válida nem admissão sem senha"},
        {{"credencial", "revogar", "12"}, 0, "credencial da loja 12 revogada"},
        {{"credencial", "listar"}, 0, "loja 12 (usuário loja12): revogada em "},
        {{"credencial", "criar", "doze"}, 2, "código de loja inválido: 'doze'"},
        {{"credencial", "apagar", "12"}, 2, "operação de credencial desconhecida: apagar"},
        {{"credencial"}, 2, "falta a operação de credencial"},
    };
    for (const Caso& caso : casos) {
        std::string nome;
        for (const auto& a : caso.argumentos) nome += a + " ";
        SCOPED_TRACE(nome);
        const auto [status, saida] = rodar(caso.argumentos);
        EXPECT_EQ(status, caso.status) << saida;
        EXPECT_NE(saida.find(caso.trecho), std::string::npos) << saida;
    }
    // The secret it printed is the one the server takes.
    const auto [status, saida] = rodar({"credencial", "criar", "7"});
    ASSERT_EQ(status, 0) << saida;
    const auto inicio = saida.find("segredo: ") + 9;
    const std::string segredo = saida.substr(inicio, saida.find('\n', inicio) - inicio);
    EXPECT_EQ(segredo.size(), 64u);
    EXPECT_NE(saida.find("LINKCENTRAL da loja: https://loja7:" + segredo + "@"), std::string::npos) << saida;
    Credenciais credenciais(banco);
    std::string valor = ondaris::protocolo::StreamtoBase64("loja7:" + segredo);
    std::erase_if(valor, [](char c) { return c == '\r' || c == '\n'; });
    EXPECT_FALSE(credenciais.AutorizarPedido("/receber/7/0", "Basic " + valor));
    EXPECT_TRUE(credenciais.AutorizarPedido("/receber/12/0", "Basic " + valor));
}

}  // namespace
