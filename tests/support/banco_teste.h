#pragma once
// Throwaway store databases for the test suites.
//
// A BancoTeste owns one database file on the local Firebird server: its
// constructor creates the file (ISO8859_1, as the stores use) and, unless
// asked for another content, runs sql/replicacao.sql and sql/exemplos.sql
// on it (the replication objects and the example tables); its destructor drops the
// whole database. Tables are never dropped one by one: after bulk DML the
// garbage collector can hold them and forcing the drop has damaged databases.
//
// Everything runs through isql-fb as SYSDBA with the script in a file (isql
// drops bytes beyond ASCII from a pipe). A failing isql run throws
// ErroBancoTeste carrying isql's own output. Dropping a database that still
// has attachments fails: the destructor reports that on stderr and leaves
// the file behind rather than throwing.
#include <filesystem>
#include <stdexcept>
#include <string>

#include "db/conexao.h"

namespace ondaris::teste {

// An isql run or the set-up of a test database failed; what() holds the
// command's output, which names the server's error.
class ErroBancoTeste : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The SYSDBA password: ONDARIS_SYSDBA_PASSWORD when set, otherwise
// ISC_PASSWORD from /etc/firebird/3.0/SYSDBA.password.
std::string SenhaSysdba();

// The replication account the agent logs in with, and its password: the
// program's own constants.
using db::kSenhaReplicacao;
using db::kUsuarioReplicacao;

// Creates the replication account, or resets its password, as SYSDBA.
// Accounts live in the server's one security database: suites that create
// or drop accounts must not run in parallel.
void GarantirUsuarioReplicacao();

// Where the test databases live: a folder the server's own user can write.
std::string PastaBancosTeste();

class BancoTeste {
public:
    // Loja: the replication objects and the example tables; Objetos: the
    // objects alone, as on a store; Vazio: nothing.
    enum class Conteudo { Loja, Objetos, Vazio };

    // Creates a fresh database with that content.
    explicit BancoTeste(Conteudo conteudo = Conteudo::Loja);
    ~BancoTeste();

    BancoTeste(const BancoTeste&) = delete;
    BancoTeste& operator=(const BancoTeste&) = delete;
    BancoTeste(BancoTeste&& outro) noexcept;
    BancoTeste& operator=(BancoTeste&& outro) noexcept;

    // A new database restored from a backup of this one (gbak -b, then
    // gbak -c), as a technician copies a store's database; dropped by its
    // own destructor.
    BancoTeste CopiaRestaurada() const;

    // The database file's path on the server's machine (empty once moved from).
    const std::string& Caminho() const { return caminho_; }
    // An attachment to this database on the local server, as `usuario`
    // (by default the replication account).
    db::ParametrosConexao Parametros(const std::string& usuario = kUsuarioReplicacao,
                                     const std::string& senha = kSenhaReplicacao) const {
        db::ParametrosConexao p;
        p.Servidor = "127.0.0.1";
        p.Caminho = caminho_;
        p.Usuario = usuario;
        p.Senha = senha;
        return p;
    }
    // The same, as SYSDBA.
    db::ParametrosConexao ParametrosSysdba() const { return Parametros("SYSDBA", SenhaSysdba()); }
    // "127.0.0.1/3050:" followed by the path.
    std::string StringConexao() const;

    // Runs an SQL script as SYSDBA (-ch ISO8859_1) and commits at its end;
    // returns isql's output. The statements run in isql's own transaction, a
    // snapshot, unless the script sets another. isql stops at the first
    // failing statement and the call throws ErroBancoTeste with that output.
    std::string ExecutarSql(const std::string& sql) const;
    // The same as another user, e.g. the replication account.
    std::string ExecutarSqlComo(const std::string& usuario, const std::string& senha,
                                const std::string& sql) const;
    // Runs a script file as SYSDBA.
    std::string ExecutarArquivo(const std::string& arquivo) const;

private:
    BancoTeste(std::string caminho, bool existente);  // adopts a database that exists
    void Descartar() noexcept;
    std::string caminho_;
};

// A temporary folder holding a "korvin.ini" that points the agent at a
// test database on 127.0.0.1; removed with everything in it on destruction.
class PastaKorvin {
public:
    explicit PastaKorvin(const BancoTeste& banco);
    ~PastaKorvin();
    PastaKorvin(const PastaKorvin&) = delete;
    PastaKorvin& operator=(const PastaKorvin&) = delete;

    // The folder with its final separator, as the database layer takes it.
    std::string Pasta() const { return caminho_.string() + "/"; }
    const std::filesystem::path& Caminho() const { return caminho_; }

private:
    std::filesystem::path caminho_;
};

}  // namespace ondaris::teste
