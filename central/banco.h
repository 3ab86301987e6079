#pragma once
// The little the store of commands (central/armazem.h) asks of a database,
// so that its rules and statements are written once and run on SQLite (one
// file, one server process) and on PostgreSQL (several server processes over
// one database).
//
// Statements are written in the SQL both understand, with SQLite's
// placeholders ("?" and "?N"; the PostgreSQL side renumbers them as "$N"), and
// bound by position. A placeholder left unbound is NULL. What the two do not
// share is told by Dialeto, and nowhere else.
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

namespace ondaris::central {

// One prepared statement: bind, then step through its rows.
class Consulta {
public:
    virtual ~Consulta() = default;
    virtual void Int(int indice, std::int64_t valor) = 0;
    virtual void Texto(int indice, const std::string& valor) = 0;
    // Runs the statement on the first call; true while a row is available.
    virtual bool Passo() = 0;
    // Rows are to be read `linhas` at a time, not all at once: for a
    // statement inside a transaction whose reading may stop early. SQLite
    // reads one row at a time anyway.
    virtual void AosPoucos(int linhas) { (void)linhas; }
    // Ready to run again, every placeholder unbound.
    virtual void Reiniciar() = 0;
    // Rows changed by the statement's last run.
    virtual std::int64_t Alteradas() const = 0;
    virtual std::int64_t ColInt(int i) const = 0;
    virtual bool ColNula(int i) const = 0;
    virtual std::string ColTexto(int i) const = 0;
};

// What differs between the two databases.
struct Dialeto {
    const char* Nome;             // for messages: "SQLite", "PostgreSQL"
    const char* Inteiro;          // a 64-bit integer column
    const char* ChaveAutomatica;  // a 64-bit key the database numbers, ascending, never reused
    // Statements that take a lock held until the transaction ends; nullptr
    // where a write transaction already excludes every other writer (SQLite).
    const char* TravaEsquema;     // while the tables are made
    const char* TravaPosicoes;    // while commands get their positions (see Armazem::Gravar)
    const char* TravaLoja;        // one store's row (?1): its requests one at a time
};

class Conexao {
public:
    virtual ~Conexao() = default;
    virtual std::unique_ptr<Consulta> Preparar(const std::string& sql) = 0;
    virtual void Executar(const std::string& sql) = 0;
    // A transaction that will write; Desfazer never throws.
    virtual void Iniciar() = 0;
    virtual void Confirmar() = 0;
    virtual void Desfazer() noexcept = 0;
    virtual bool TemColuna(const std::string& tabela, const std::string& coluna) = 0;
    virtual const central::Dialeto& Dialeto() const = 0;
};

// One prepared statement for one use, bound in a chain:
// Comando(banco, sql).Int(1, loja).Texto(2, quando).Passo().
class Comando {
public:
    Comando(Conexao& banco, const std::string& sql) : Stmt_(banco.Preparar(sql)) {}
    Comando(const std::unique_ptr<Conexao>& banco, const std::string& sql) : Comando(*banco, sql) {}

    Comando& Int(int indice, std::int64_t valor) {
        Stmt_->Int(indice, valor);
        return *this;
    }
    Comando& Texto(int indice, const std::string& valor) {
        Stmt_->Texto(indice, valor);
        return *this;
    }
    // True while a row is available.
    bool Passo() { return Stmt_->Passo(); }
    void Reiniciar() { Stmt_->Reiniciar(); }
    void AosPoucos(int linhas) { Stmt_->AosPoucos(linhas); }
    std::int64_t Alteradas() const { return Stmt_->Alteradas(); }
    std::int64_t ColInt(int i) const { return Stmt_->ColInt(i); }
    bool ColNula(int i) const { return Stmt_->ColNula(i); }
    std::string ColTexto(int i) const { return Stmt_->ColTexto(i); }

private:
    std::unique_ptr<Consulta> Stmt_;
};

// A write transaction (BEGIN IMMEDIATE on SQLite), rolled back unless
// Confirmar() ran.
class Transacao {
public:
    explicit Transacao(Conexao& banco) : Banco_(banco) { Banco_.Iniciar(); }
    explicit Transacao(const std::unique_ptr<Conexao>& banco) : Transacao(*banco) {}
    ~Transacao() {
        if (Aberta_) Banco_.Desfazer();
    }
    Transacao(const Transacao&) = delete;
    Transacao& operator=(const Transacao&) = delete;
    void Confirmar() {
        Banco_.Confirmar();
        Aberta_ = false;
    }

private:
    Conexao& Banco_;
    bool Aberta_ = true;
};

// Takes one of the dialect's locks (Dialeto), where it has them; `loja`
// is ?1 of TravaLoja.
void Travar(Conexao& banco, const char* sql, std::int64_t loja = 0);

// A moment as the tables keep it: UTC, ISO 8601 to the second
// ("2026-03-02T10:00:00Z"), so that text order is time order.
std::string TextoUtc(std::chrono::system_clock::time_point momento);

// True for a PostgreSQL connection URI ("postgresql://..." or "postgres://...").
bool EhEnderecoPostgres(const std::string& banco);

// Opens `banco`: a PostgreSQL connection URI, or else the path of a SQLite
// file (made when missing). Throws ErroArmazem (central/armazem.h) when it
// cannot; the text never shows a password the URI holds.
std::unique_ptr<Conexao> AbrirBanco(const std::string& banco);

// `banco` as it may be shown: a URI's password replaced by "***".
std::string BancoParaExibir(const std::string& banco);

}  // namespace ondaris::central
