#include "support/banco_teste.h"

#include "protocolo/texto.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <spawn.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace ondaris::teste {
namespace {

constexpr const char* kIsql = "/usr/bin/isql-fb";
constexpr const char* kGbak = "/usr/bin/gbak";
constexpr const char* kArquivoSenha = "/etc/firebird/3.0/SYSDBA.password";
constexpr auto kLimiteIsql = std::chrono::seconds(300);

std::atomic<unsigned> contadorArquivos{0};

// A name no other process or instance uses at the same time.
std::string NomeUnico(const std::string& prefixo, const std::string& extensao) {
    const auto agora = std::chrono::steady_clock::now().time_since_epoch().count();
    std::ostringstream nome;
    nome << prefixo << '-' << ::getpid() << '-' << contadorArquivos.fetch_add(1) << '-'
         << agora << extensao;
    return nome.str();
}

std::string LerArquivo(const std::string& caminho) {
    std::ifstream entrada(caminho, std::ios::binary);
    std::ostringstream texto;
    texto << entrada.rdbuf();
    return texto.str();
}

void GravarArquivo(const std::string& caminho, const std::string& texto) {
    std::ofstream saida(caminho, std::ios::binary | std::ios::trunc);
    saida << texto;
    saida.close();
    if (!saida) throw ErroBancoTeste("cannot write the script file " + caminho);
}

// A temporary file removed when it goes out of scope.
class ArquivoTemporario {
public:
    explicit ArquivoTemporario(const std::string& extensao)
        : caminho_((std::filesystem::temp_directory_path() / NomeUnico("ondaris-isql", extensao))
                       .string()) {}
    ~ArquivoTemporario() { std::remove(caminho_.c_str()); }
    ArquivoTemporario(const ArquivoTemporario&) = delete;
    ArquivoTemporario& operator=(const ArquivoTemporario&) = delete;
    const std::string& Caminho() const { return caminho_; }

private:
    std::string caminho_;
};

// The process environment with the login isql should use; the password
// travels in the environment rather than on a command line others can read.
std::vector<std::string> Ambiente(const std::string& usuario, const std::string& senha) {
    std::vector<std::string> ambiente;
    for (char** v = environ; *v != nullptr; ++v) {
        if (std::strncmp(*v, "ISC_USER=", 9) == 0 || std::strncmp(*v, "ISC_PASSWORD=", 13) == 0)
            continue;
        ambiente.emplace_back(*v);
    }
    ambiente.push_back("ISC_USER=" + usuario);
    ambiente.push_back("ISC_PASSWORD=" + senha);
    return ambiente;
}

std::vector<char*> Ponteiros(std::vector<std::string>& textos) {
    std::vector<char*> p;
    for (auto& t : textos) p.push_back(t.data());
    p.push_back(nullptr);
    return p;
}

// Runs a Firebird tool (isql-fb by default) with the given arguments, its
// output into one file; returns the exit status and the output. Kills the
// tool when it outlives the limit.
std::pair<int, std::string> RodarIsql(std::vector<std::string> argumentos,
                                      const std::string& usuario, const std::string& senha,
                                      const char* programa = kIsql) {
    ArquivoTemporario saida(".out");
    argumentos.insert(argumentos.begin(), programa);
    auto ambiente = Ambiente(usuario, senha);
    auto argv = Ponteiros(argumentos);
    auto envp = Ponteiros(ambiente);

    posix_spawn_file_actions_t acoes;
    posix_spawn_file_actions_init(&acoes);
    posix_spawn_file_actions_addopen(&acoes, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&acoes, 1, saida.Caminho().c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&acoes, 1, 2);
    pid_t pid = -1;
    const int erro = posix_spawn(&pid, programa, &acoes, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&acoes);
    if (erro != 0)
        throw ErroBancoTeste(std::string("cannot start ") + programa + ": " + std::strerror(erro));

    const auto fim = std::chrono::steady_clock::now() + kLimiteIsql;
    int status = 0;
    for (;;) {
        const pid_t r = ::waitpid(pid, &status, WNOHANG);
        if (r == pid) break;
        if (r < 0 && errno != EINTR)
            throw ErroBancoTeste(std::string("waiting for ") + programa + ": " + std::strerror(errno));
        if (std::chrono::steady_clock::now() > fim) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            throw ErroBancoTeste(std::string(programa) + " did not finish in time:\n" + LerArquivo(saida.Caminho()));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    const int codigo = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return {codigo, LerArquivo(saida.Caminho())};
}

// Runs a script file with isql stopping at the first error (-b).
std::string RodarScript(const std::string& arquivo, const std::string& banco,
                        const std::string& usuario, const std::string& senha) {
    std::vector<std::string> argumentos{"-q", "-b", "-ch", "ISO8859_1", "-i", arquivo};
    if (!banco.empty()) argumentos.push_back(banco);
    auto [codigo, saida] = RodarIsql(std::move(argumentos), usuario, senha);
    if (codigo != 0)
        throw ErroBancoTeste("isql-fb failed (exit " + std::to_string(codigo) + ") on " +
                             (banco.empty() ? arquivo : banco) + ":\n" + saida);
    return saida;
}

enum class Final { Commit, Nada };

std::string RodarTexto(const std::string& sql, const std::string& banco,
                       const std::string& usuario, const std::string& senha,
                       Final final = Final::Commit) {
    ArquivoTemporario script(".sql");
    GravarArquivo(script.Caminho(), final == Final::Commit ? sql + "\nCOMMIT;\n" : sql + "\n");
    return RodarScript(script.Caminho(), banco, usuario, senha);
}

std::string ConexaoDe(const std::string& caminho) { return "127.0.0.1/3050:" + caminho; }

}  // namespace

std::string SenhaSysdba() {
    if (const char* senha = std::getenv("ONDARIS_SYSDBA_PASSWORD"); senha != nullptr && *senha)
        return senha;
    std::ifstream arquivo(kArquivoSenha);
    if (!arquivo)
        throw ErroBancoTeste(std::string("cannot read ") + kArquivoSenha +
                             " and ONDARIS_SYSDBA_PASSWORD is not set");
    std::string linha;
    while (std::getline(arquivo, linha)) {
        const std::string chave = "ISC_PASSWORD=";
        if (linha.rfind(chave, 0) != 0) continue;
        std::string valor = linha.substr(chave.size());
        while (!valor.empty() && (valor.back() == '\r' || valor.back() == ' ')) valor.pop_back();
        if (valor.size() >= 2 && (valor.front() == '"' || valor.front() == '\'') &&
            valor.back() == valor.front())
            valor = valor.substr(1, valor.size() - 2);
        return valor;
    }
    throw ErroBancoTeste(std::string("no ISC_PASSWORD line in ") + kArquivoSenha);
}

std::string PastaBancosTeste() {
    const std::filesystem::path pasta = "/tmp/ondaris-test-dbs";
    std::error_code erro;
    std::filesystem::create_directories(pasta, erro);
    // The server writes the files as its own user: everyone may create here,
    // only the owner may remove (sticky bit).
    if (::chmod(pasta.c_str(), 01777) != 0 && !std::filesystem::is_directory(pasta))
        throw ErroBancoTeste("cannot prepare " + pasta.string() + ": " + std::strerror(errno));
    return pasta.string();
}

void GarantirUsuarioReplicacao() {
    // Any database serves to reach the security database; a throwaway empty
    // one keeps this independent of the suites' own files.
    BancoTeste banco(BancoTeste::Conteudo::Vazio);
    banco.ExecutarSql(std::string("CREATE OR ALTER USER ") + kUsuarioReplicacao + " PASSWORD " +
                      protocolo::LiteralSql(kSenhaReplicacao) + ";");
}

BancoTeste::BancoTeste(Conteudo conteudo)
    : caminho_(PastaBancosTeste() + "/" + NomeUnico("loja", ".fdb")) {
    const std::string senha = SenhaSysdba();
    RodarTexto("SET SQL DIALECT 3;\nCREATE DATABASE " + protocolo::LiteralSql(StringConexao()) +
                   " USER 'SYSDBA' PASSWORD " + protocolo::LiteralSql(senha) +
                   " PAGE_SIZE 8192 DEFAULT CHARACTER SET ISO8859_1;",
               "", "SYSDBA", senha);
    if (conteudo != Conteudo::Vazio) {
        try {
            ExecutarArquivo(std::string(ONDARIS_SOURCE_DIR) + "/sql/replicacao.sql");
            if (conteudo == Conteudo::Loja) ExecutarArquivo(std::string(ONDARIS_SOURCE_DIR) + "/sql/exemplos.sql");
        } catch (...) {
            Descartar();
            throw;
        }
    }
}

BancoTeste::BancoTeste(std::string caminho, bool) : caminho_(std::move(caminho)) {}

BancoTeste BancoTeste::CopiaRestaurada() const {
    // The backup file is the client's (gbak writes and reads it here), so
    // the test can remove it whoever the server runs as.
    ArquivoTemporario copia(".fbk");
    const std::string senha = SenhaSysdba();
    const auto gbak = [&](std::vector<std::string> argumentos) {
        auto [codigo, saida] = RodarIsql(std::move(argumentos), "SYSDBA", senha, kGbak);
        if (codigo != 0) throw ErroBancoTeste("gbak failed (exit " + std::to_string(codigo) + "):\n" + saida);
    };
    gbak({"-b", StringConexao(), copia.Caminho()});
    BancoTeste restaurado(PastaBancosTeste() + "/" + NomeUnico("copia", ".fdb"), true);
    gbak({"-c", copia.Caminho(), restaurado.StringConexao()});
    return restaurado;
}

BancoTeste::~BancoTeste() { Descartar(); }

BancoTeste::BancoTeste(BancoTeste&& outro) noexcept : caminho_(std::move(outro.caminho_)) {
    outro.caminho_.clear();
}

BancoTeste& BancoTeste::operator=(BancoTeste&& outro) noexcept {
    if (this != &outro) {
        Descartar();
        caminho_ = std::move(outro.caminho_);
        outro.caminho_.clear();
    }
    return *this;
}

std::string BancoTeste::StringConexao() const { return ConexaoDe(caminho_); }

std::string BancoTeste::ExecutarSql(const std::string& sql) const {
    return RodarTexto(sql, StringConexao(), "SYSDBA", SenhaSysdba());
}

std::string BancoTeste::ExecutarSqlComo(const std::string& usuario, const std::string& senha,
                                        const std::string& sql) const {
    return RodarTexto(sql, StringConexao(), usuario, senha);
}

std::string BancoTeste::ExecutarArquivo(const std::string& arquivo) const {
    return RodarScript(arquivo, StringConexao(), "SYSDBA", SenhaSysdba());
}

void BancoTeste::Descartar() noexcept {
    if (caminho_.empty()) return;
    std::string ultimoErro;
    // A connection the test has just closed may take a moment to leave the
    // server; a few tries cover that without hiding a real leak.
    for (int tentativa = 0; tentativa < 5; ++tentativa) {
        try {
            RodarTexto("DROP DATABASE;", StringConexao(), "SYSDBA", SenhaSysdba(), Final::Nada);
            caminho_.clear();
            return;
        } catch (const std::exception& e) {
            ultimoErro = e.what();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
    std::cerr << "warning: test database " << caminho_ << " was not dropped: " << ultimoErro
              << '\n';
    caminho_.clear();
}

PastaKorvin::PastaKorvin(const BancoTeste& banco) {
    static int contador = 0;
    caminho_ = std::filesystem::temp_directory_path() /
               ("ondaris-korvin-" + std::to_string(::getpid()) + "-" + std::to_string(contador++));
    std::filesystem::create_directories(caminho_);
    std::ofstream(caminho_ / "korvin.ini") << "[Korvin]\nServidor=127.0.0.1\nCaminho=" << banco.Caminho() << "\n";
}

PastaKorvin::~PastaKorvin() {
    std::error_code ignorado;
    std::filesystem::remove_all(caminho_, ignorado);
}

}  // namespace ondaris::teste
