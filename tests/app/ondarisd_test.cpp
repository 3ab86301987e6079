// The headless program as it is installed: the built ondarisd copied into a
// folder of its own beside its korvin.ini, run with --once against a store
// database and a central server inside the test process.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "protocolo/json.h"
#include "support/banco_teste.h"
#include "support/pasta_temporaria.h"
#include "support/servidor_http.h"

extern char** environ;

namespace ondaris::teste {
namespace {

// The store's log holds 201 and 202 (see SetUpTestSuite).
const std::string kPosicaoDaLoja = "GET /obterindiceenvio/7/202";

struct Execucao {
    int Status = -1;  // exit status; -1 when the program did not exit by itself
    std::string Saida, Erros;
};

// Starts `programa` with `argumentos`, its output into "saida.txt" and
// "erros.txt" of `pasta`.
pid_t Iniciar(const std::filesystem::path& programa, const std::vector<std::string>& argumentos,
              const std::filesystem::path& pasta) {
    const auto saida = pasta / "saida.txt";
    const auto erros = pasta / "erros.txt";
    posix_spawn_file_actions_t acoes;
    posix_spawn_file_actions_init(&acoes);
    posix_spawn_file_actions_addopen(&acoes, STDOUT_FILENO, saida.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&acoes, STDERR_FILENO, erros.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<std::string> textos{programa.string()};
    textos.insert(textos.end(), argumentos.begin(), argumentos.end());
    std::vector<char*> argv;
    for (auto& t : textos) argv.push_back(t.data());
    argv.push_back(nullptr);

    pid_t pid = 0;
    const int falha = posix_spawn(&pid, programa.c_str(), &acoes, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&acoes);
    if (falha != 0) throw std::runtime_error("could not start " + programa.string());
    return pid;
}

// Waits for the end of the program started in `pasta`; kills it when it
// outlives `limite`.
Execucao EsperarFim(pid_t pid, const std::filesystem::path& pasta, std::chrono::seconds limite) {
    Execucao r;
    const auto fim = std::chrono::steady_clock::now() + limite;
    int estado = 0;
    for (;;) {
        const pid_t terminado = ::waitpid(pid, &estado, WNOHANG);
        if (terminado == pid) {
            if (WIFEXITED(estado)) r.Status = WEXITSTATUS(estado);
            break;
        }
        if (std::chrono::steady_clock::now() > fim) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &estado, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    r.Saida = LerBytes(pasta / "saida.txt");
    r.Erros = LerBytes(pasta / "erros.txt");
    return r;
}

// Runs `programa` with `argumentos` to its end, its output into files of
// `pasta`; kills it when it outlives `limite`.
Execucao Executar(const std::filesystem::path& programa, const std::vector<std::string>& argumentos,
                  const std::filesystem::path& pasta, std::chrono::seconds limite) {
    return EsperarFim(Iniciar(programa, argumentos, pasta), pasta, limite);
}

// The central server's side: a structure list with no tables, nothing to
// receive, and the acknowledged position moved by every accepted block.
class Central {
public:
    explicit Central(ServidorHttp& http) {
        http.Manipulador([this](const RequisicaoRecebida& r) {
            std::lock_guard trava(mutex_);
            pedidos_.push_back(r.Metodo + " " + r.Caminho);
            if (r.Caminho == "/estruturabd") return RespostaProgramada::Json("[]");
            if (r.Caminho.rfind("/receber/7/", 0) == 0)
                return RespostaProgramada::Json(R"({"ordeminicial":0,"ordemfinal":0,"ultimaordem":0,"comandos":[]})");
            if (r.Caminho.rfind("/obterindiceenvio/7/", 0) == 0)
                return RespostaProgramada::Json(R"({"ultimaordemenviada":)" + std::to_string(confirmada_) +
                                                R"(,"ultimomovimentoloja":)" +
                                                r.Caminho.substr(r.Caminho.rfind('/') + 1) + "}");
            if (r.Metodo == "PUT" && r.Caminho == "/enviar/7") {
                if (const auto corpo = protocolo::LerJSON(r.Corpo); corpo && corpo->Membro("comandos"))
                    for (const auto& c : corpo->Membro("comandos")->Elementos())
                        confirmada_ = std::max<std::int64_t>(confirmada_, std::stoll(c.Membro("ordem")->Bruto()));
                return RespostaProgramada::Json("{}");
            }
            return RespostaProgramada::Texto("rota desconhecida", 404);
        });
    }
    std::vector<std::string> Pedidos() const {
        std::lock_guard trava(mutex_);
        return pedidos_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> pedidos_;
    std::int64_t confirmada_ = 0;
};

class Ondarisd : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        GarantirUsuarioReplicacao();
        banco_ = std::make_unique<BancoTeste>();
        banco_->ExecutarSql(
            "INSERT INTO RPL_CONFIGURACOES (CODIGO, CODIGOLOJA, LINKCENTRAL, NIVELREPLICACAO, ULTIMORECEBIMENTO)"
            " VALUES (1, 7, 'http://central/', 1, 0);"
            "COMMIT;"
            "ALTER SEQUENCE GEN_LOG_REPLICACAO RESTART WITH 200;"
            "COMMIT;"
            "INSERT INTO PRODUTOS (CODIGO, DESCRICAO) VALUES (1, 'um');"
            "INSERT INTO PRODUTOS (CODIGO, DESCRICAO) VALUES (2, 'dois');");
    }
    static void TearDownTestSuite() { banco_.reset(); }

    // The program installed in a folder of its own, with its settings file,
    // its settings row pointing at `http`.
    std::filesystem::path Instalar(const ServidorHttp& http) {
        banco_->ExecutarSql("UPDATE RPL_CONFIGURACOES SET LINKCENTRAL = '" + http.Base() + "';");
        const auto programa = pasta_.Caminho() / "ondarisd";
        std::filesystem::copy_file(ONDARIS_BINARY_DIR "/app/ondarisd", programa,
                                   std::filesystem::copy_options::overwrite_existing);
        GravarBytes(pasta_.Caminho() / "korvin.ini",
                    "[Korvin]\r\nServidor=127.0.0.1\r\nCaminho=" + banco_->Caminho() + "\r\n");
        return programa;
    }

    static inline std::unique_ptr<BancoTeste> banco_;
    PastaTemporaria pasta_;
};

TEST_F(Ondarisd, OnceRunsOneWholeCycleAndExitsWithZero) {
    ServidorHttp http;
    Central central(http);
    const auto r = Executar(Instalar(http), {"--once"}, pasta_.Caminho(), std::chrono::seconds(60));

    EXPECT_EQ(r.Status, 0) << r.Erros;
    EXPECT_EQ(central.Pedidos(), (std::vector<std::string>{"GET /estruturabd", kPosicaoDaLoja, "GET /receber/7/0",
                                                           "PUT /enviar/7", kPosicaoDaLoja}));
    const auto pedidos = http.Recebidas();
    const auto envio = std::find_if(pedidos.begin(), pedidos.end(), [](const auto& p) { return p.Metodo == "PUT"; });
    ASSERT_NE(envio, pedidos.end());
    EXPECT_NE(envio->Corpo.find(R"("ordem":"202")"), std::string::npos) << envio->Corpo;
    EXPECT_NE(r.Saida.find("Envio: Todos os dados de envio foram sincronizados\n"), std::string::npos) << r.Saida;
    EXPECT_FALSE(std::filesystem::exists(pasta_.Caminho() / "Ondaris.log")) << LerBytes(pasta_.Caminho() / "Ondaris.log");
}

TEST_F(Ondarisd, OnceExitsWithOneAndOneLogEntryWhenTheRunRaises) {
    ServidorHttp http;
    http.Responder(RespostaProgramada::Texto("em manutencao", 503));
    const auto r = Executar(Instalar(http), {"--once"}, pasta_.Caminho(), std::chrono::seconds(60));

    EXPECT_EQ(r.Status, 1) << r.Erros;
    ASSERT_EQ(http.Quantidade(), 1u) << "the run ends at the failed structure download";
    EXPECT_EQ(http.Ultima().Caminho, "/estruturabd");
    const std::string log = LerBytes(pasta_.Caminho() / "Ondaris.log");
    // One entry: an empty line, then the time stamp and the message.
    ASSERT_EQ(log.rfind("\r\n", 0), 0u) << log;
    EXPECT_EQ(log.find("\r\n", 2), log.size() - 2) << log;
    EXPECT_NE(log.find(" - Falha ao executar a rotina ObterEstruturaBanco: HTTP/1.1 503"), std::string::npos) << log;
    EXPECT_EQ(r.Saida.find("Todos os dados"), std::string::npos) << r.Saida;
}

// The service as it runs: after its first run, while it waits for the next,
// it holds no attachment to the store database; a stop then has nothing to
// close, frees the hold on the database and ends without a word on standard
// error.
TEST_F(Ondarisd, WaitingForTheNextRunHoldsNoAttachmentAndAStopIsQuiet) {
    ServidorHttp http;
    Central central(http);
    const pid_t pid = Iniciar(Instalar(http), {}, pasta_.Caminho());
    const auto fim = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    // The countdown's first line comes once the run has ended.
    while (LerBytes(pasta_.Caminho() / "saida.txt").find("Próxima sincronização em 02:00") == std::string::npos &&
           std::chrono::steady_clock::now() < fim && ::waitpid(pid, nullptr, WNOHANG) == 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const std::string saida = LerBytes(pasta_.Caminho() / "saida.txt");
    const std::string anexos = banco_->ExecutarSql(
        std::string("SET LIST ON; SELECT COUNT(*) AS N FROM MON$ATTACHMENTS WHERE MON$USER = '") +
        kUsuarioReplicacao + "';");
    ::kill(pid, SIGTERM);
    const Execucao r = EsperarFim(pid, pasta_.Caminho(), std::chrono::seconds(30));

    ASSERT_NE(saida.find("Próxima sincronização em 02:00"), std::string::npos) << saida << r.Erros;
    EXPECT_NE(saida.find("Envio: Todos os dados de envio foram sincronizados\n"), std::string::npos) << saida;
    // The count is the administrator's isql's: the agent's own are none.
    const auto n = anexos.find("N ");
    ASSERT_NE(n, std::string::npos) << anexos;
    EXPECT_EQ(std::stoi(anexos.substr(n + 2)), 0) << anexos;
    EXPECT_EQ(r.Status, 0);
    EXPECT_EQ(r.Erros, "");
    EXPECT_FALSE(std::filesystem::exists(pasta_.Caminho() / "Ondaris.log")) << LerBytes(pasta_.Caminho() / "Ondaris.log");
    // The stop freed the hold on the database for another agent.
    const std::string posse = banco_->ExecutarSql("SET LIST ON; SELECT COALESCE(CHAVE, 'LIVRE') AS C FROM RPL_POSSE;");
    EXPECT_NE(posse.find("LIVRE"), std::string::npos) << posse;
}

}  // namespace
}  // namespace ondaris::teste
