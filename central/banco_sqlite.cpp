// The store of commands in one SQLite file (central/banco.h).
#include <sqlite3.h>

#include "central/armazem.h"
#include "central/banco.h"

namespace ondaris::central {
namespace {

constexpr Dialeto kSqlite{
    "SQLite",
    "INTEGER",
    "INTEGER PRIMARY KEY AUTOINCREMENT",
    nullptr,
    nullptr,
    nullptr,
};

[[noreturn]] void Falhar(sqlite3* banco) { throw ErroArmazem(std::string("SQLite: ") + sqlite3_errmsg(banco)); }

// One prepared statement, finalized on every path.
class ConsultaSqlite : public Consulta {
public:
    ConsultaSqlite(sqlite3* banco, const std::string& sql) : Banco_(banco) {
        if (sqlite3_prepare_v2(banco, sql.c_str(), -1, &Stmt_, nullptr) != SQLITE_OK) Falhar(banco);
    }
    ~ConsultaSqlite() override { sqlite3_finalize(Stmt_); }

    void Int(int indice, std::int64_t valor) override { sqlite3_bind_int64(Stmt_, indice, valor); }
    void Texto(int indice, const std::string& valor) override {
        sqlite3_bind_text(Stmt_, indice, valor.data(), static_cast<int>(valor.size()), SQLITE_TRANSIENT);
    }
    bool Passo() override {
        int rc = sqlite3_step(Stmt_);
        if (rc == SQLITE_ROW) return true;
        if (rc == SQLITE_DONE) {
            Alteradas_ = sqlite3_changes(Banco_);
            return false;
        }
        Falhar(Banco_);
    }
    void Reiniciar() override {
        sqlite3_reset(Stmt_);
        sqlite3_clear_bindings(Stmt_);
    }
    std::int64_t Alteradas() const override { return Alteradas_; }
    std::int64_t ColInt(int i) const override { return sqlite3_column_int64(Stmt_, i); }
    bool ColNula(int i) const override { return sqlite3_column_type(Stmt_, i) == SQLITE_NULL; }
    std::string ColTexto(int i) const override {
        auto* p = reinterpret_cast<const char*>(sqlite3_column_text(Stmt_, i));
        return p ? std::string(p, static_cast<std::size_t>(sqlite3_column_bytes(Stmt_, i))) : std::string();
    }

private:
    sqlite3* Banco_;
    sqlite3_stmt* Stmt_ = nullptr;
    std::int64_t Alteradas_ = 0;
};

class ConexaoSqlite : public Conexao {
public:
    explicit ConexaoSqlite(const std::string& arquivo) {
        if (sqlite3_open(arquivo.c_str(), &Banco_) != SQLITE_OK) {
            std::string msg = Banco_ ? sqlite3_errmsg(Banco_) : "memória insuficiente";
            sqlite3_close(Banco_);
            throw ErroArmazem("SQLite: não foi possível abrir " + arquivo + ": " + msg);
        }
        try {
            sqlite3_busy_timeout(Banco_, 5000);
            Executar("PRAGMA journal_mode=WAL");
            Executar("PRAGMA synchronous=NORMAL");
        } catch (...) {
            sqlite3_close(Banco_);
            throw;
        }
    }
    ~ConexaoSqlite() override { sqlite3_close(Banco_); }

    std::unique_ptr<Consulta> Preparar(const std::string& sql) override {
        return std::make_unique<ConsultaSqlite>(Banco_, sql);
    }
    void Executar(const std::string& sql) override {
        char* erro = nullptr;
        if (sqlite3_exec(Banco_, sql.c_str(), nullptr, nullptr, &erro) != SQLITE_OK) {
            std::string msg = erro ? erro : sqlite3_errmsg(Banco_);
            sqlite3_free(erro);
            throw ErroArmazem("SQLite: " + msg);
        }
    }
    // IMMEDIATE: the write lock from the start, so that two writers never
    // both read and then find they cannot write.
    void Iniciar() override { Executar("BEGIN IMMEDIATE"); }
    void Confirmar() override { Executar("COMMIT"); }
    void Desfazer() noexcept override { sqlite3_exec(Banco_, "ROLLBACK", nullptr, nullptr, nullptr); }
    bool TemColuna(const std::string& tabela, const std::string& coluna) override {
        ConsultaSqlite colunas(Banco_, "SELECT 1 FROM pragma_table_info(?) WHERE name = ?");
        colunas.Texto(1, tabela);
        colunas.Texto(2, coluna);
        return colunas.Passo();
    }
    const central::Dialeto& Dialeto() const override { return kSqlite; }

private:
    sqlite3* Banco_ = nullptr;
};

}  // namespace

std::unique_ptr<Conexao> AbrirSqlite(const std::string& arquivo) { return std::make_unique<ConexaoSqlite>(arquivo); }

}  // namespace ondaris::central
