// The central server over TLS and the agent verifying it, with a certificate
// authority the test makes: the agent reaches a server whose certificate
// its authorities vouch for, and refuses, in clear words, one they do not;
// the transport's limits hold over TLS; two stores replicate through the
// real programs over https with their credentials.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "central/armazem.h"
#include "central/credenciais.h"
#include "central/http.h"
#include "central/servidor.h"
#include "e2e/escuta_teste.h"
#include "support/certificados.h"
#include "support/loja_e2e.h"
#include "sync/mensagens.h"
#include "sync/requisicao.h"

namespace {

using namespace std::chrono_literals;
using ondaris::teste::CertificadoServidor;
using ondaris::teste::CertificadosTeste;

const char* kEstrutura = R"([{"tabela":"PRODUTOS","campo":"CODIGO","chave":"PRIMARY KEY"}])";

// ONDARIS_CA for the life of the object (unset when empty), as before after.
class AutoridadesDoAgente {
public:
    explicit AutoridadesDoAgente(const std::string& arquivo) {
        if (const char* v = std::getenv(ondaris::sync::kVariavelAutoridades)) anterior_ = v;
        if (arquivo.empty()) ::unsetenv(ondaris::sync::kVariavelAutoridades);
        else ::setenv(ondaris::sync::kVariavelAutoridades, arquivo.c_str(), 1);
    }
    ~AutoridadesDoAgente() {
        if (anterior_) ::setenv(ondaris::sync::kVariavelAutoridades, anterior_->c_str(), 1);
        else ::unsetenv(ondaris::sync::kVariavelAutoridades);
    }

private:
    std::optional<std::string> anterior_;
};

// The central server as ondaris-central runs it with --certificado/--chave.
class CentralTls {
public:
    CentralTls(const CertificadoServidor& certificado, ondaris::central::LimitesHttp limites = {})
        : arquivo_(std::filesystem::temp_directory_path() /
                   ("ondaris-https-" + std::to_string(getpid()) + "-" + std::to_string(++contador_) + ".sqlite")),
          armazem_(arquivo_.string()), credenciais_(arquivo_.string()), central_(armazem_, kEstrutura),
          servidor_(limites) {
        servidor_.UsarTls(certificado.Certificado.string(), certificado.Chave.string());
        ondaris::central::ExigirCredenciais(servidor_, credenciais_);
        central_.Registrar(servidor_);
        escuta_ = std::make_unique<ondaris::teste::EscutaCentral>(servidor_);
        segredo_ = credenciais_.Criar(1);
    }
    ~CentralTls() {
        escuta_.reset();
        for (auto sufixo : {"", "-wal", "-shm"}) std::filesystem::remove(arquivo_.string() + sufixo);
    }
    bool Pronto() const { return escuta_->Pronta(); }
    int Porta() const { return escuta_->Porta(); }
    std::string Endereco(const std::string& esquema, const std::string& caminho) const {
        return esquema + "://loja1:" + segredo_ + "@127.0.0.1:" + std::to_string(Porta()) + "/" + caminho;
    }
    const std::string& Segredo() const { return segredo_; }

private:
    static inline int contador_ = 0;
    std::filesystem::path arquivo_;
    ondaris::central::Armazem armazem_;
    ondaris::central::Credenciais credenciais_;
    ondaris::central::ServidorCentral central_;
    ondaris::central::ServidorHttp servidor_;
    std::unique_ptr<ondaris::teste::EscutaCentral> escuta_;
    std::string segredo_;
};

class HttpsTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { certificados_ = std::make_unique<CertificadosTeste>(); }
    static void TearDownTestSuite() { certificados_.reset(); }
    static inline std::unique_ptr<CertificadosTeste> certificados_;
};

TEST_F(HttpsTest, TheAgentReachesAServerWhoseCertificateItsAuthoritiesVouchFor) {
    CentralTls central(certificados_->Valido());
    ASSERT_TRUE(central.Pronto());
    AutoridadesDoAgente ca(certificados_->Autoridade().string());
    auto r = ondaris::sync::ExecutarRequisicao("GET", central.Endereco("https", "estruturabd"), "");
    EXPECT_EQ(r.StatusCode, 200) << r.Conteudo;
    EXPECT_EQ(r.Conteudo, kEstrutura);
    // The body of a PUT travels whole over TLS.
    const std::string corpo = R"({"codigolojaorigem":"1","comandos":[]})";
    auto enviado = ondaris::sync::ExecutarRequisicao("PUT", central.Endereco("https", "enviar/1"), corpo);
    EXPECT_EQ(enviado.StatusCode, 200) << enviado.Conteudo;
}

// A certificate the agent cannot verify ends the exchange before anything
// is sent, with a log text that names the cause and not the secret.
TEST_F(HttpsTest, ACertificateTheAgentCannotVerifyIsRefusedInClearWords) {
    struct Caso {
        const char* nome;
        const CertificadoServidor& certificado;
        std::string autoridades;  // ONDARIS_CA; empty: the system's
        const char* causa;
    };
    const std::vector<Caso> casos = {
        {"signed by an authority the agent does not trust", certificados_->DeOutraAutoridade(),
         certificados_->Autoridade().string(), "não foi emitido por uma autoridade em que esta máquina confia"},
        {"the test's authority is not among the system's", certificados_->Valido(), "",
         "não foi emitido por uma autoridade em que esta máquina confia"},
        {"issued for another name", certificados_->DeOutroNome(), certificados_->Autoridade().string(),
         "emitido para outro nome"},
    };
    for (const Caso& caso : casos) {
        SCOPED_TRACE(caso.nome);
        CentralTls central(caso.certificado);
        ASSERT_TRUE(central.Pronto());
        AutoridadesDoAgente ca(caso.autoridades);
        try {
            ondaris::sync::ExecutarRequisicao("GET", central.Endereco("https", "receber/1/0"), "");
            ADD_FAILURE() << "the exchange succeeded";
        } catch (const ondaris::sync::TErroTransporte& e) {
            const std::string texto = e.what();
            EXPECT_NE(texto.find("o certificado do servidor central não foi aceito, e nada foi enviado: "),
                      std::string::npos)
                << texto;
            EXPECT_NE(texto.find(caso.causa), std::string::npos) << texto;
            EXPECT_NE(texto.find("(GET https://127.0.0.1:" + std::to_string(central.Porta()) + "/receber/1/0)"),
                      std::string::npos)
                << texto;
            EXPECT_EQ(texto.find(central.Segredo()), std::string::npos) << texto;
        }
    }
}

TEST_F(HttpsTest, AnUnreadableAuthoritiesFileIsNamed) {
    CentralTls central(certificados_->Valido());
    ASSERT_TRUE(central.Pronto());
    AutoridadesDoAgente ca("/nao/existe/ca.pem");
    try {
        ondaris::sync::ExecutarRequisicao("GET", central.Endereco("https", "estruturabd"), "");
        ADD_FAILURE() << "the exchange succeeded";
    } catch (const ondaris::sync::TErroTransporte& e) {
        EXPECT_NE(std::string(e.what()).find("o arquivo de autoridades certificadoras '/nao/existe/ca.pem' (ONDARIS_CA)"),
                  std::string::npos)
            << e.what();
    }
}

// The server refuses to start on files it cannot use, saying which.
TEST_F(HttpsTest, TheServerNamesACertificateOrKeyItCannotUse) {
    struct Caso {
        const char* nome;
        std::filesystem::path certificado, chave;
        const char* texto;
    };
    const std::vector<Caso> casos = {
        {"missing certificate", "/nao/existe.pem", certificados_->Valido().Chave,
         "não foi possível carregar o certificado /nao/existe.pem"},
        {"a key that is not the certificate's", certificados_->Valido().Certificado,
         certificados_->DeOutroNome().Chave, "não é a do certificado"},
    };
    for (const Caso& caso : casos) {
        SCOPED_TRACE(caso.nome);
        ondaris::central::ServidorHttp servidor;
        try {
            servidor.UsarTls(caso.certificado.string(), caso.chave.string());
            ADD_FAILURE() << "accepted";
        } catch (const std::runtime_error& e) {
            EXPECT_NE(std::string(e.what()).find(caso.texto), std::string::npos) << e.what();
        }
        EXPECT_FALSE(servidor.Seguro());
    }
}

// A client that connects and never completes the handshake holds a thread
// only for the server's allowance, like a slow plain client; a plain HTTP
// request to the TLS port gets no answer, but the server goes on serving.
TEST_F(HttpsTest, TheTransportsLimitsHoldOverTls) {
    ondaris::central::LimitesHttp limites;
    limites.Threads = 1;
    limites.Carencia = 300ms;
    CentralTls central(certificados_->Valido(), limites);
    ASSERT_TRUE(central.Pronto());

    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(central.Porta()));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    // The one thread is taken by this silent client until its allowance ends.
    const auto inicio = std::chrono::steady_clock::now();
    pollfd p{s, POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 10000), 1);
    char c;
    EXPECT_LE(::recv(s, &c, 1, 0), 0);  // closed, without an answer
    EXPECT_LT(std::chrono::steady_clock::now() - inicio, 5s);
    ::close(s);

    try {
        ondaris::sync::ExecutarRequisicao("GET", central.Endereco("http", "estruturabd"), "", 5000);
        ADD_FAILURE() << "plain http got an answer from the TLS port";
    } catch (const ondaris::sync::TErroTransporte&) {
    }
    AutoridadesDoAgente ca(certificados_->Autoridade().string());
    EXPECT_EQ(ondaris::sync::ExecutarRequisicao("GET", central.Endereco("https", "estruturabd"), "").StatusCode, 200);
}

// Two stores replicate through the real programs over https, each with its
// own credentials; a store whose credential is revoked is refused, and its
// log says so without the secret.
class HttpsE2ETest : public ondaris::teste::DuasLojasE2E {
protected:
    void SetUp() override {
        certificados_ = std::make_unique<CertificadosTeste>();
        loja1_ = std::make_unique<ondaris::teste::BancoTeste>();
        loja2_ = std::make_unique<ondaris::teste::BancoTeste>();
        central_ = std::make_unique<ondaris::teste::CentralE2E>(ondaris::teste::EstruturaDe(*loja1_),
                                                                &certificados_->Valido());
        ondaris::teste::ConfigurarLoja(*loja1_, 1, central_->Url(1));
        ondaris::teste::ConfigurarLoja(*loja2_, 2, central_->Url(2));
        auto ambiente = ondaris::teste::AmbienteBrasileiro();
        ambiente.push_back(std::string(ondaris::sync::kVariavelAutoridades) + "=" +
                           certificados_->Autoridade().string());
        agente1_ = std::make_unique<ondaris::teste::AgenteE2E>(*loja1_, ambiente);
        agente2_ = std::make_unique<ondaris::teste::AgenteE2E>(*loja2_, ambiente);
    }
    std::unique_ptr<CertificadosTeste> certificados_;
};

TEST_F(HttpsE2ETest, TwoStoresReplicateOverHttpsWithTheirCredentials) {
    Executar(*loja1_, "INSERT INTO PRODUTOS (CODIGO, DESCRICAO, UNIDADE, ATIVO) VALUES (7, 'Pão de queijo', 'UN', TRUE);");
    ASSERT_NO_FATAL_FAILURE(ondaris::teste::RodarSemFalha(*agente1_, "store 1"));
    ASSERT_NO_FATAL_FAILURE(ondaris::teste::RodarSemFalha(*agente2_, "store 2"));
    EXPECT_EQ(ondaris::teste::Linhas(*loja2_, "SELECT CODIGO, DESCRICAO FROM PRODUTOS"),
              std::vector<std::string>{"7 | 'Pão de queijo'"});

    const std::string link2 = central_->Url(2);
    const std::string segredo2 = link2.substr(link2.find(':', 8) + 1, 64);
    central_->Credencial({"revogar", "2"});
    Executar(*loja1_, "INSERT INTO PRODUTOS (CODIGO, DESCRICAO, UNIDADE, ATIVO) VALUES (8, 'Broa', 'UN', TRUE);");
    ASSERT_NO_FATAL_FAILURE(ondaris::teste::RodarSemFalha(*agente1_, "store 1"));
    agente2_->RodarUmaVez(std::chrono::seconds(120));
    const std::string log = agente2_->Log();
    EXPECT_NE(log.find(ondaris::sync::kTextoCredenciaisRecusadas), std::string::npos) << log;
    EXPECT_NE(log.find("a credencial da loja 2 foi revogada"), std::string::npos) << log;
    EXPECT_EQ(log.find(segredo2), std::string::npos) << log;
    EXPECT_EQ(ondaris::teste::Linhas(*loja2_, "SELECT CODIGO FROM PRODUTOS ORDER BY CODIGO"),
              std::vector<std::string>{"7"});
}

}  // namespace
