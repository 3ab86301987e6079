#pragma once
// The real programs around two or more store databases, for the end-to-end
// suite: the reference central server as a child process on a free port,
// one agent folder per store (a copy of ondarisd beside its korvin.ini),
// and a reader that renders the rows of a store as comparable text.
//
// Every child process belongs to the object that started it: its destructor
// kills it (SIGKILL) and reaps it, on every path, so a failing test leaves no
// program running. Temporary folders are removed by their owners too.
//
// Not errors: a program that exits with a non-zero status (the caller reads
// the status and the output); a program that outlives its time limit is
// killed and reported with ErroProcesso, carrying what it wrote so far.
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "support/banco_teste.h"
#include "support/certificados.h"
#include "support/pasta_temporaria.h"

namespace ondaris::db {
class Conexao;
class Transacao;
}  // namespace ondaris::db

namespace ondaris::teste {

// A child process could not be started, did not come up, or outlived its
// time limit; what() says which and carries its output.
class ErroProcesso : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// One child process, standard output and error together in one file.
class Processo {
public:
    // Starts argv[0] (a path) with the given arguments; `ambienteExtra`
    // entries ("NAME=value") replace or add to the test's environment.
    Processo(std::vector<std::string> argumentos, std::filesystem::path arquivoSaida,
             std::vector<std::string> ambienteExtra = {});
    ~Processo();  // kills the process if it still runs
    Processo(const Processo&) = delete;
    Processo& operator=(const Processo&) = delete;

    pid_t Pid() const { return pid_; }
    // True once the process has ended (reaped here).
    bool Terminou();
    // Waits for the end; kills the process and throws ErroProcesso when the
    // limit passes first. Returns the exit status (128 + signal when killed).
    int Esperar(std::chrono::milliseconds limite);
    // SIGKILL and reap; returns the status as Esperar does.
    int Matar();
    std::string Saida() const;

private:
    pid_t pid_ = -1;
    bool vivo_ = false;
    int status_ = 0;
    std::filesystem::path arquivoSaida_;
};

// The reference central server, started with a temporary SQLite file and
// the given structure list on a free port of 127.0.0.1; stopped (killed) by
// the destructor. With `tls` it serves https with that certificate.
class CentralE2E {
public:
    explicit CentralE2E(const std::string& estruturaJson, const CertificadoServidor* tls = nullptr);
    ~CentralE2E();
    CentralE2E(const CentralE2E&) = delete;
    CentralE2E& operator=(const CentralE2E&) = delete;

    int Porta() const { return porta_; }
    // The link store `loja` puts in LINKCENTRAL: "http://loja<N>:<secret>@
    // 127.0.0.1:<port>/" (https with a certificate). The store's credential
    // is created with the program's own command the first time.
    std::string Url(std::int32_t loja);
    // The same address without credentials.
    std::string UrlSemCredenciais() const;
    // Runs "ondaris-central --banco <its file> credencial <argumentos>" and
    // returns its output; throws ErroProcesso when it fails.
    std::string Credencial(const std::vector<std::string>& argumentos);
    // GET of a path ("/status"); throws ErroProcesso unless the answer is 200.
    // A store's endpoint ("/receber/2/0") is asked with that store's
    // credentials. For https, `autoridade` is the authority to trust.
    std::string Get(const std::string& caminho, const std::filesystem::path& autoridade = {});

private:
    PastaTemporaria pasta_;
    std::unique_ptr<Processo> processo_;
    std::filesystem::path banco_;
    bool tls_ = false;
    int porta_ = 0;
    std::map<std::int32_t, std::string> segredos_;
};

// The structure list a central server hands out for a store database: every
// non-computed column of every table that has a logging trigger (the
// project's scripts/estrutura-json run on the database).
std::string EstruturaDe(const BancoTeste& banco);

// Fills the settings row of a store database: its store code and the
// central server's address, received position 0.
void ConfigurarLoja(const BancoTeste& banco, std::int32_t codigoLoja, const std::string& urlCentral);

// Environment entries that run a program under Brazilian regional settings
// (pt_BR.UTF-8: dates dd/mm/yyyy, decimal comma), as the stores' machines
// have them. The locale is compiled once per test process with localedef
// into a temporary folder (LOCPATH), so the machine needs only the locale
// sources of Debian's "locales" package; ErroProcesso when that fails.
std::vector<std::string> AmbienteBrasileiro();

// One store's agent: a folder holding a copy of ondarisd and a korvin.ini
// that points at the store database.
class AgenteE2E {
public:
    // `ambiente`: entries ("NAME=value") added to the environment of every
    // run; `programa`: the agent's executable (the test build with fault
    // points is ondarisd_falhas).
    explicit AgenteE2E(const BancoTeste& banco, std::vector<std::string> ambiente = {},
                       const std::filesystem::path& programa = ONDARIS_BINARY_DIR "/app/ondarisd");
    AgenteE2E(const AgenteE2E&) = delete;
    AgenteE2E& operator=(const AgenteE2E&) = delete;

    // Starts "ondarisd --once"; the caller owns the running process.
    // `ambienteExtra` is added to this run's environment only.
    std::unique_ptr<Processo> Iniciar(const std::vector<std::string>& ambienteExtra = {}) const;
    // Runs "ondarisd --once" to its end within `limite` (killed and
    // ErroProcesso otherwise); returns its exit status, output in Saida().
    int RodarUmaVez(std::chrono::milliseconds limite = std::chrono::seconds(60),
                    const std::vector<std::string>& ambienteExtra = {});
    // Runs "ondarisd <argumentos>" in the agent's folder to its end (the
    // trigger commands, --verificar), with the agent's environment and, when
    // `comoAdministrador`, SYSDBA's login in ISC_USER/ISC_PASSWORD as the
    // README tells the technician; returns the exit status and the output.
    std::pair<int, std::string> Comando(std::vector<std::string> argumentos, bool comoAdministrador = false) const;
    // Output of the last run, and the agent's own log file (empty if none).
    const std::string& Saida() const { return saida_; }
    std::string Log() const;
    const std::filesystem::path& Pasta() const { return pasta_.Caminho(); }

private:
    PastaTemporaria pasta_;
    std::vector<std::string> ambiente_;
    std::string saida_;
};

// One "ondarisd --once" of `agente` that must succeed (status 0) without a
// new entry in its log; a test failure naming `qual` otherwise. Call it
// through ASSERT_NO_FATAL_FAILURE to stop the test there.
void RodarSemFalha(AgenteE2E& agente, const char* qual);

// Reads a store database as SYSDBA through the project's database layer,
// with one attachment kept open until destruction (so that polling costs
// no attachment each time). Values are read with exact texts (an empty
// text is no NULL, db/consulta.h) and rendered exactly: NULL apart from
// empty text, doubles and floats by their bits, numerics by their digits and
// scale, dates and times with their fractions, binary content in hex; a
// text or binary value longer than 300 bytes by its size, a 64-bit hash of
// every byte and its beginning, so that a report stays readable.
class LeitorLoja {
public:
    explicit LeitorLoja(const BancoTeste& banco);
    ~LeitorLoja();
    LeitorLoja(const LeitorLoja&) = delete;
    LeitorLoja& operator=(const LeitorLoja&) = delete;

    // Every row of a query, each as its values joined by " | ", read in a
    // fresh read-committed transaction.
    std::vector<std::string> Linhas(const std::string& sql);
    // The first column of the first row; throws std::runtime_error when the
    // query gives no row.
    std::string Valor(const std::string& sql);
    std::int64_t Inteiro(const std::string& sql);

    // Every row of every replicated example table, in key order, every
    // non-computed column (with a NULL marker of its own, so that NULL and
    // empty text differ). With `comVersoes`, each line ends with the record
    // version (the transaction that last wrote the row).
    std::vector<std::string> Retrato(bool comVersoes = false);

private:
    std::unique_ptr<db::Conexao> conexao_;
    std::unique_ptr<db::Transacao> transacao_;
};

// One query read through a LeitorLoja of its own: its rows, or the first
// column of its first row as a number.
std::vector<std::string> Linhas(const BancoTeste& banco, const std::string& sql);
std::int64_t Inteiro(const BancoTeste& banco, const std::string& sql);

// The replicated example tables.
const std::vector<std::string>& TabelasExemplo();

// Two store databases, 1 and 2, with the example tables, the reference
// central server and one agent each, under Brazilian regional settings: the
// stores' machines have them, and every agent of a chain must share them
// (the C locale's short date has a two-digit year, which cannot carry a
// date outside the century around today). Made anew for every test.
class DuasLojasE2E : public ::testing::Test {
protected:
    static void SetUpTestSuite();
    void SetUp() override;

    // The test writes UTF-8; the script file is read as ISO8859_1.
    static void Executar(const BancoTeste& banco, const std::string& sqlUtf8);

    std::unique_ptr<BancoTeste> loja1_, loja2_;
    std::unique_ptr<CentralE2E> central_;
    std::unique_ptr<AgenteE2E> agente1_, agente2_;
};

}  // namespace ondaris::teste
