#include "support/loja_e2e.h"

#include <gtest/gtest.h>

#include "protocolo/texto.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <httplib.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <thread>
#include <type_traits>
#include <variant>

#include "db/conexao.h"
#include "db/consulta.h"

extern char** environ;

namespace ondaris::teste {
namespace {

// A port of 127.0.0.1 nobody listens on right now. Another process may
// take it before the central server does; the caller retries then.
int PortaLivre() {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    if (s < 0) throw ErroProcesso(std::string("socket: ") + std::strerror(errno));
    sockaddr_in endereco{};
    endereco.sin_family = AF_INET;
    endereco.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    endereco.sin_port = 0;
    socklen_t tamanho = sizeof endereco;
    if (::bind(s, reinterpret_cast<sockaddr*>(&endereco), sizeof endereco) != 0 ||
        ::getsockname(s, reinterpret_cast<sockaddr*>(&endereco), &tamanho) != 0) {
        const std::string erro = std::strerror(errno);
        ::close(s);
        throw ErroProcesso("cannot find a free port: " + erro);
    }
    ::close(s);
    return ntohs(endereco.sin_port);
}

int StatusDeSaida(int status) {
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Text shown with its control characters visible, so that one row is one line.
std::string Visivel(const std::string& texto) {
    std::string r;
    for (unsigned char c : texto) {
        if (c == '\n') r += "\\n";
        else if (c == '\r') r += "\\r";
        else if (c == '\\') r += "\\\\";
        else if (c < 0x20 || c == 0x7F) {
            char h[8];
            std::snprintf(h, sizeof h, "\\x%02X", c);
            r += h;
        } else {
            r += static_cast<char>(c);
        }
    }
    return r;
}

std::string TextoData(const protocolo::Data& d) {
    char t[32];
    std::snprintf(t, sizeof t, "%04d-%02d-%02d", d.Ano, d.Mes, d.Dia);
    return t;
}

std::string TextoHora(const protocolo::Hora& h) {
    char t[32];
    std::snprintf(t, sizeof t, "%02d:%02d:%02d.%04d", h.Horas, h.Minutos, h.Segundos, h.DecimosMilesimos);
    return t;
}

template <class F>
std::string Bits(F valor) {
    using Inteiro = std::conditional_t<sizeof(F) == 8, std::uint64_t, std::uint32_t>;
    Inteiro bits;
    std::memcpy(&bits, &valor, sizeof bits);
    char t[64];
    std::snprintf(t, sizeof t, "%.17g#%0*" PRIx64, static_cast<double>(valor), static_cast<int>(2 * sizeof bits),
                  static_cast<std::uint64_t>(bits));
    return t;
}

// Long contents are shown by their size, a 64-bit FNV-1a hash of every byte
// and their beginning, so that a difference stays readable in a report.
constexpr std::size_t kLongo = 300;

std::string Resumo(const std::string& conteudo, const char* tipo) {
    std::uint64_t h = 14695981039346656037ull;
    for (unsigned char c : conteudo) {
        h ^= c;
        h *= 1099511628211ull;
    }
    char t[64];
    std::snprintf(t, sizeof t, "<%s of %zu bytes #%016" PRIx64 " '", tipo, conteudo.size(), h);
    return t + Visivel(conteudo.substr(0, 60)) + "...'>";
}

// A value exactly as read; NULL is told apart by the caller where it matters.
std::string Renderizar(const db::Valor& valor) {
    return std::visit(
        [](const auto& v) -> std::string {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, std::monostate>) {
                return "NULL";
            } else if constexpr (std::is_same_v<T, bool>) {
                return v ? "TRUE" : "FALSE";
            } else if constexpr (std::is_same_v<T, std::int16_t> || std::is_same_v<T, std::int32_t> ||
                                 std::is_same_v<T, std::int64_t>) {
                return std::to_string(v);
            } else if constexpr (std::is_same_v<T, db::Numerico>) {
                return std::to_string(v.Valor) + "e" + std::to_string(v.Escala);
            } else if constexpr (std::is_same_v<T, float> || std::is_same_v<T, double>) {
                return Bits(v);
            } else if constexpr (std::is_same_v<T, protocolo::Data>) {
                return TextoData(v);
            } else if constexpr (std::is_same_v<T, protocolo::Hora>) {
                return TextoHora(v);
            } else if constexpr (std::is_same_v<T, protocolo::DataHora>) {
                return TextoData(v.D) + " " + TextoHora(v.H);
            } else if constexpr (std::is_same_v<T, std::string>) {
                if (v.size() > kLongo) return Resumo(v, "text");
                return "'" + Visivel(v) + "'";
            } else {
                static_assert(std::is_same_v<T, db::Bytes>);
                if (v.size() > kLongo) return Resumo(std::string(v.begin(), v.end()), "bytes");
                std::string r = "x'";
                char h[4];
                for (auto b : v) {
                    std::snprintf(h, sizeof h, "%02X", b);
                    r += h;
                }
                return r + "'";
            }
        },
        valor);
}

}  // namespace

// ---------------------------------------------------------------- Processo

Processo::Processo(std::vector<std::string> argumentos, std::filesystem::path arquivoSaida,
                   std::vector<std::string> ambienteExtra)
    : arquivoSaida_(std::move(arquivoSaida)) {
    if (argumentos.empty()) throw ErroProcesso("no program to start");
    std::vector<std::string> ambiente;
    for (char** v = environ; *v != nullptr; ++v) {
        const std::string entrada = *v;
        bool substituida = false;
        for (const auto& extra : ambienteExtra) {
            const auto nome = extra.substr(0, extra.find('=') + 1);
            if (entrada.rfind(nome, 0) == 0) substituida = true;
        }
        if (!substituida) ambiente.push_back(entrada);
    }
    ambiente.insert(ambiente.end(), ambienteExtra.begin(), ambienteExtra.end());

    std::vector<char*> argv, envp;
    for (auto& a : argumentos) argv.push_back(a.data());
    argv.push_back(nullptr);
    for (auto& e : ambiente) envp.push_back(e.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t acoes;
    posix_spawn_file_actions_init(&acoes);
    posix_spawn_file_actions_addopen(&acoes, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&acoes, 1, arquivoSaida_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&acoes, 1, 2);
    const int erro = ::posix_spawn(&pid_, argv[0], &acoes, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&acoes);
    if (erro != 0) throw ErroProcesso("cannot start " + argumentos[0] + ": " + std::strerror(erro));
    vivo_ = true;
}

Processo::~Processo() {
    if (vivo_) Matar();
}

bool Processo::Terminou() {
    if (!vivo_) return true;
    int status = 0;
    const pid_t r = ::waitpid(pid_, &status, WNOHANG);
    if (r == pid_) {
        vivo_ = false;
        status_ = StatusDeSaida(status);
        return true;
    }
    return false;
}

int Processo::Esperar(std::chrono::milliseconds limite) {
    const auto fim = std::chrono::steady_clock::now() + limite;
    while (!Terminou()) {
        if (std::chrono::steady_clock::now() > fim) {
            Matar();
            throw ErroProcesso("process " + std::to_string(pid_) + " did not end within " +
                               std::to_string(limite.count()) + " ms; its output:\n" + Saida());
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return status_;
}

int Processo::Matar() {
    if (vivo_) {
        ::kill(pid_, SIGKILL);
        int status = 0;
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        vivo_ = false;
        status_ = StatusDeSaida(status);
    }
    return status_;
}

std::string Processo::Saida() const { return LerBytes(arquivoSaida_); }

// ---------------------------------------------------------------- CentralE2E

CentralE2E::CentralE2E(const std::string& estruturaJson, const CertificadoServidor* tls)
    : pasta_("ondaris-central-e2e"), tls_(tls != nullptr) {
    const auto estrutura = pasta_.Caminho() / "estrutura.json";
    GravarBytes(estrutura, estruturaJson);
    std::string ultimaSaida;
    for (int tentativa = 0; tentativa < 5; ++tentativa) {
        const int porta = PortaLivre();
        const auto banco = pasta_.Caminho() / ("central-" + std::to_string(tentativa) + ".sqlite");
        std::vector<std::string> argumentos{ONDARIS_BINARY_DIR "/central/ondaris-central", "--banco", banco.string(),
                                            "--estrutura", estrutura.string(), "--porta", std::to_string(porta)};
        if (tls) {
            argumentos.insert(argumentos.end(), {"--certificado", tls->Certificado.string(), "--chave",
                                                 tls->Chave.string()});
        }
        auto processo = std::make_unique<Processo>(argumentos, pasta_.Caminho() / "central.out");
        const auto fim = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < fim) {
            ultimaSaida = processo->Saida();
            if (ultimaSaida.find("escutando") != std::string::npos) {
                processo_ = std::move(processo);
                porta_ = porta;
                banco_ = banco;
                return;
            }
            if (processo->Terminou()) break;  // the port was taken meanwhile
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    throw ErroProcesso("the central server did not come up; its output:\n" + ultimaSaida);
}

CentralE2E::~CentralE2E() = default;

std::string CentralE2E::UrlSemCredenciais() const {
    return std::string(tls_ ? "https" : "http") + "://127.0.0.1:" + std::to_string(porta_) + "/";
}

std::string CentralE2E::Credencial(const std::vector<std::string>& argumentos) {
    std::vector<std::string> linha{ONDARIS_BINARY_DIR "/central/ondaris-central", "--banco", banco_.string(),
                                   "credencial"};
    linha.insert(linha.end(), argumentos.begin(), argumentos.end());
    Processo comando(linha, pasta_.Caminho() / "credencial.out");
    const int status = comando.Esperar(std::chrono::seconds(60));
    if (status != 0)
        throw ErroProcesso("ondaris-central credencial failed (status " + std::to_string(status) + "):\n" +
                           comando.Saida());
    return comando.Saida();
}

std::string CentralE2E::Url(std::int32_t loja) {
    auto& segredo = segredos_[loja];
    if (segredo.empty()) {
        const std::string saida = Credencial({"criar", std::to_string(loja)});
        const auto inicio = saida.find("segredo: ");
        if (inicio == std::string::npos) throw ErroProcesso("no secret in the output:\n" + saida);
        segredo = saida.substr(inicio + 9, saida.find('\n', inicio) - inicio - 9);
    }
    return std::string(tls_ ? "https" : "http") + "://loja" + std::to_string(loja) + ":" + segredo +
           "@127.0.0.1:" + std::to_string(porta_) + "/";
}

std::string CentralE2E::Get(const std::string& caminho, const std::filesystem::path& autoridade) {
    httplib::Client cliente(UrlSemCredenciais().substr(0, UrlSemCredenciais().size() - 1));
    if (!autoridade.empty()) cliente.set_ca_cert_path(autoridade.c_str());
    // A store's endpoint is asked as that store.
    for (const std::string prefixo : {"/receber/", "/obterindiceenvio/", "/enviar/"}) {
        if (!caminho.starts_with(prefixo)) continue;
        const std::int32_t loja = std::stoi(caminho.substr(prefixo.size()));
        const std::string link = Url(loja);
        const auto inicio = link.find("://") + 3;
        const auto doisPontos = link.find(':', inicio);
        cliente.set_basic_auth(link.substr(inicio, doisPontos - inicio),
                               link.substr(doisPontos + 1, link.find('@') - doisPontos - 1));
    }
    cliente.set_connection_timeout(10);
    cliente.set_read_timeout(30);
    auto r = cliente.Get(caminho.c_str());
    if (!r) throw ErroProcesso("GET " + caminho + " got no answer: " + httplib::to_string(r.error()));
    if (r->status != 200)
        throw ErroProcesso("GET " + caminho + " answered " + std::to_string(r->status) + ": " + r->body);
    return r->body;
}

// ---------------------------------------------------------------- store set-up

std::string EstruturaDe(const BancoTeste& banco) {
    PastaTemporaria pasta("ondaris-estrutura");
    Processo script({"/bin/bash", ONDARIS_SOURCE_DIR "/scripts/estrutura-json", banco.StringConexao()},
                    pasta.Caminho() / "estrutura.out", {"ISC_USER=SYSDBA", "ISC_PASSWORD=" + SenhaSysdba()});
    const int status = script.Esperar(std::chrono::seconds(60));
    std::string saida = script.Saida();
    if (status != 0 || saida.empty() || saida.front() != '[')
        throw ErroProcesso("scripts/estrutura-json failed (status " + std::to_string(status) + "):\n" + saida);
    return saida;
}

void ConfigurarLoja(const BancoTeste& banco, std::int32_t codigoLoja, const std::string& urlCentral) {
    banco.ExecutarSql(
        "INSERT INTO RPL_CONFIGURACOES (CODIGO, CODIGOLOJA, LINKCENTRAL, NIVELREPLICACAO, ULTIMORECEBIMENTO) "
        "VALUES (1, " +
        std::to_string(codigoLoja) + ", " + protocolo::LiteralSql(urlCentral) + ", 1, 0);");
}

// ---------------------------------------------------------------- AgenteE2E

std::vector<std::string> AmbienteBrasileiro() {
    // Compiled once; the folder goes when the test process ends.
    static PastaTemporaria pasta("ondaris-locale");
    static const std::string erro = [] {
        Processo localedef({"/usr/bin/localedef", "-i", "pt_BR", "-f", "UTF-8",
                            (pasta.Caminho() / "pt_BR.UTF-8").string()},
                           pasta.Caminho() / "localedef.out");
        const int status = localedef.Esperar(std::chrono::seconds(60));
        if (status == 0 && std::filesystem::is_directory(pasta.Caminho() / "pt_BR.UTF-8")) return std::string();
        return "localedef could not compile pt_BR.UTF-8 (status " + std::to_string(status) + "):\n" +
               localedef.Saida();
    }();
    if (!erro.empty()) throw ErroProcesso(erro);
    return {"LOCPATH=" + pasta.Caminho().string(), "LC_ALL=pt_BR.UTF-8", "LANG=pt_BR.UTF-8"};
}

AgenteE2E::AgenteE2E(const BancoTeste& banco, std::vector<std::string> ambiente, const std::filesystem::path& programa)
    : pasta_("ondaris-agente-e2e"), ambiente_(std::move(ambiente)) {
    // The agent reads korvin.ini beside its own executable, hence a copy
    // per store (a symbolic link would resolve to the build folder).
    std::filesystem::copy_file(programa, pasta_.Caminho() / "ondarisd");
    GravarBytes(pasta_.Caminho() / "korvin.ini",
                  "[Korvin]\r\nServidor=127.0.0.1\r\nCaminho=" + banco.Caminho() + "\r\n");
}

std::unique_ptr<Processo> AgenteE2E::Iniciar(const std::vector<std::string>& ambienteExtra) const {
    std::vector<std::string> ambiente = ambiente_;
    ambiente.insert(ambiente.end(), ambienteExtra.begin(), ambienteExtra.end());
    return std::make_unique<Processo>(std::vector<std::string>{(pasta_.Caminho() / "ondarisd").string(), "--once"},
                                      pasta_.Caminho() / "saida.txt", std::move(ambiente));
}

int AgenteE2E::RodarUmaVez(std::chrono::milliseconds limite, const std::vector<std::string>& ambienteExtra) {
    auto processo = Iniciar(ambienteExtra);
    const int status = processo->Esperar(limite);
    saida_ = processo->Saida();
    return status;
}

void RodarSemFalha(AgenteE2E& agente, const char* qual) {
    const std::string logAntes = agente.Log();
    const int status = agente.RodarUmaVez(std::chrono::seconds(120));
    ASSERT_EQ(status, 0) << qual << " failed; its output:\n" << agente.Saida() << "\nits log:\n" << agente.Log();
    EXPECT_EQ(agente.Log(), logAntes) << qual << " logged a failure";
}

std::pair<int, std::string> AgenteE2E::Comando(std::vector<std::string> argumentos, bool comoAdministrador) const {
    argumentos.insert(argumentos.begin(), (pasta_.Caminho() / "ondarisd").string());
    std::vector<std::string> ambiente = ambiente_;
    if (comoAdministrador) {
        ambiente.push_back("ISC_USER=SYSDBA");
        ambiente.push_back("ISC_PASSWORD=" + SenhaSysdba());
    }
    Processo p(std::move(argumentos), pasta_.Caminho() / "comando.txt", std::move(ambiente));
    const int status = p.Esperar(std::chrono::seconds(120));
    return {status, p.Saida()};
}

std::string AgenteE2E::Log() const { return LerBytes(pasta_.Caminho() / "Ondaris.log"); }

// ---------------------------------------------------------------- LeitorLoja

const std::vector<std::string>& TabelasExemplo() {
    static const std::vector<std::string> tabelas{"PRODUTOS", "PRECOS", "VENDAS", "ITENSVENDA"};
    return tabelas;
}

LeitorLoja::LeitorLoja(const BancoTeste& banco) {
    conexao_ = std::make_unique<db::Conexao>(banco.ParametrosSysdba(), "LeitorLoja");
    transacao_ = std::make_unique<db::Transacao>(*conexao_, "Leitura",
                                                 db::OpcoesTransacao::Leitura());
}

LeitorLoja::~LeitorLoja() {
    try {
        transacao_->Commit();
        conexao_->Fechar();
    } catch (const std::exception& e) {
        std::cerr << "warning: closing the test's reader failed: " << e.what() << '\n';
    }
}

namespace {

std::vector<std::vector<db::Valor>> Ler(db::Conexao& conexao, db::Transacao& transacao, const std::string& sql) {
    std::vector<std::vector<db::Valor>> linhas;
    db::Consulta q(conexao, transacao, sql);
    q.DefinirTextosExatos(true);
    for (bool tem = q.Abrir(); tem; tem = q.Proximo()) {
        std::vector<db::Valor> linha;
        for (std::size_t i = 0; i < q.Colunas().size(); ++i) linha.push_back(q.Ler(i));
        linhas.push_back(std::move(linha));
    }
    return linhas;
}

std::string Nome(const db::Valor& v) {
    const auto* s = std::get_if<std::string>(&v);
    if (!s) throw std::runtime_error("the catalogue gave a name that is not text");
    return *s;
}

}  // namespace

std::vector<std::string> LeitorLoja::Linhas(const std::string& sql) {
    std::vector<std::string> r;
    for (const auto& linha : Ler(*conexao_, *transacao_, sql)) {
        std::string texto;
        for (const auto& v : linha) texto += (texto.empty() ? "" : " | ") + Renderizar(v);
        r.push_back(std::move(texto));
    }
    return r;
}

std::string LeitorLoja::Valor(const std::string& sql) {
    auto linhas = Ler(*conexao_, *transacao_, sql);
    if (linhas.empty() || linhas.front().empty()) throw std::runtime_error("no row: " + sql);
    const auto& v = linhas.front().front();
    if (const auto* s = std::get_if<std::string>(&v)) return *s;
    return Renderizar(v);
}

std::int64_t LeitorLoja::Inteiro(const std::string& sql) {
    auto linhas = Ler(*conexao_, *transacao_, sql);
    if (linhas.empty() || linhas.front().empty()) throw std::runtime_error("no row: " + sql);
    return std::visit(
        [&](const auto& v) -> std::int64_t {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, std::int16_t> || std::is_same_v<T, std::int32_t> ||
                          std::is_same_v<T, std::int64_t>)
                return v;
            else
                throw std::runtime_error("not an integer (" + Renderizar(v) + "): " + sql);
        },
        linhas.front().front());
}

std::vector<std::string> LeitorLoja::Retrato(bool comVersoes) {
    std::vector<std::string> r;
    for (const auto& tabela : TabelasExemplo()) {
        std::vector<std::string> colunas, chave;
        for (const auto& l : Ler(*conexao_, *transacao_,
                                 "SELECT TRIM(RF.RDB$FIELD_NAME) FROM RDB$RELATION_FIELDS RF "
                                 "JOIN RDB$FIELDS F ON F.RDB$FIELD_NAME = RF.RDB$FIELD_SOURCE "
                                 "WHERE RF.RDB$RELATION_NAME = '" + tabela + "' AND F.RDB$COMPUTED_SOURCE IS NULL "
                                 "ORDER BY RF.RDB$FIELD_POSITION"))
            colunas.push_back(Nome(l.at(0)));
        for (const auto& l : Ler(*conexao_, *transacao_,
                                 "SELECT TRIM(S.RDB$FIELD_NAME) FROM RDB$RELATION_CONSTRAINTS RC "
                                 "JOIN RDB$INDEX_SEGMENTS S ON S.RDB$INDEX_NAME = RC.RDB$INDEX_NAME "
                                 "WHERE RC.RDB$RELATION_NAME = '" + tabela + "' "
                                 "AND RC.RDB$CONSTRAINT_TYPE = 'PRIMARY KEY' ORDER BY S.RDB$FIELD_POSITION"))
            chave.push_back(Nome(l.at(0)));
        if (colunas.empty() || chave.empty()) throw std::runtime_error("table " + tabela + " has no columns or key");

        std::string sql = "SELECT ";
        for (const auto& c : colunas) sql += c + ", (" + c + " IS NULL), ";
        sql += "RDB$RECORD_VERSION FROM " + tabela + " ORDER BY ";
        for (std::size_t i = 0; i < chave.size(); ++i) sql += (i ? ", " : "") + chave[i];

        for (const auto& linha : Ler(*conexao_, *transacao_, sql)) {
            std::string texto = tabela;
            for (std::size_t i = 0; i < colunas.size(); ++i) {
                const bool nulo = std::get<bool>(linha.at(2 * i + 1));
                const auto& v = linha.at(2 * i);
                // The marker tells NULL apart whatever the reading.
                texto += " " + colunas[i] + "=" + (nulo ? "NULL" : std::holds_alternative<std::monostate>(v)
                                                                       ? "''"
                                                                       : Renderizar(v));
            }
            if (comVersoes) texto += " @" + Renderizar(linha.back());
            r.push_back(std::move(texto));
        }
    }
    return r;
}

std::vector<std::string> Linhas(const BancoTeste& banco, const std::string& sql) {
    LeitorLoja leitor(banco);
    return leitor.Linhas(sql);
}

std::int64_t Inteiro(const BancoTeste& banco, const std::string& sql) {
    LeitorLoja leitor(banco);
    return leitor.Inteiro(sql);
}

void DuasLojasE2E::SetUpTestSuite() { GarantirUsuarioReplicacao(); }

void DuasLojasE2E::SetUp() {
    loja1_ = std::make_unique<BancoTeste>();
    loja2_ = std::make_unique<BancoTeste>();
    central_ = std::make_unique<CentralE2E>(EstruturaDe(*loja1_));
    ConfigurarLoja(*loja1_, 1, central_->Url(1));
    ConfigurarLoja(*loja2_, 2, central_->Url(2));
    agente1_ = std::make_unique<AgenteE2E>(*loja1_, AmbienteBrasileiro());
    agente2_ = std::make_unique<AgenteE2E>(*loja2_, AmbienteBrasileiro());
}

void DuasLojasE2E::Executar(const BancoTeste& banco, const std::string& sqlUtf8) {
    banco.ExecutarSql(protocolo::Utf8ParaLatin1(sqlUtf8));
}

}  // namespace ondaris::teste
