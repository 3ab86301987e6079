#include "central/armazem.h"

#include <sqlite3.h>

#include <chrono>
#include <ctime>
#include <utility>

namespace ondaris::central {
namespace {

// One prepared statement, finalized on every path.
class Comando {
public:
    Comando(sqlite3* banco, const char* sql) : Banco_(banco) {
        if (sqlite3_prepare_v2(banco, sql, -1, &Stmt_, nullptr) != SQLITE_OK)
            throw ErroArmazem(std::string("SQLite: ") + sqlite3_errmsg(banco));
    }
    ~Comando() { sqlite3_finalize(Stmt_); }
    Comando(const Comando&) = delete;
    Comando& operator=(const Comando&) = delete;

    Comando& Int(int indice, std::int64_t valor) {
        sqlite3_bind_int64(Stmt_, indice, valor);
        return *this;
    }
    Comando& Texto(int indice, const std::string& valor) {
        sqlite3_bind_text(Stmt_, indice, valor.data(), static_cast<int>(valor.size()), SQLITE_TRANSIENT);
        return *this;
    }
    // True while a row is available.
    bool Passo() {
        int rc = sqlite3_step(Stmt_);
        if (rc == SQLITE_ROW) return true;
        if (rc == SQLITE_DONE) return false;
        throw ErroArmazem(std::string("SQLite: ") + sqlite3_errmsg(Banco_));
    }
    void Reiniciar() {
        sqlite3_reset(Stmt_);
        sqlite3_clear_bindings(Stmt_);
    }
    std::int64_t ColInt(int i) const { return sqlite3_column_int64(Stmt_, i); }
    std::string ColTexto(int i) const {
        auto* p = reinterpret_cast<const char*>(sqlite3_column_text(Stmt_, i));
        return p ? std::string(p, static_cast<std::size_t>(sqlite3_column_bytes(Stmt_, i))) : std::string();
    }

private:
    sqlite3* Banco_;
    sqlite3_stmt* Stmt_ = nullptr;
};

std::string AgoraUtc() {
    std::time_t t = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::tm tm{};
    gmtime_r(&t, &tm);
    char texto[32];
    std::strftime(texto, sizeof texto, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return texto;
}

// "codigolojadestino" names one store, or every store but the origin when
// empty or "0". Anything that is not a store code is refused by the caller.
constexpr const char* kEnderecadoA =
    "(destino = ?1 OR (destino = 0 AND loja_origem <> ?1))";

}  // namespace

Armazem::Armazem(const std::string& arquivo) {
    if (sqlite3_open(arquivo.c_str(), &Banco_) != SQLITE_OK) {
        std::string msg = Banco_ ? sqlite3_errmsg(Banco_) : "out of memory";
        sqlite3_close(Banco_);
        throw ErroArmazem("SQLite: cannot open " + arquivo + ": " + msg);
    }
    sqlite3_busy_timeout(Banco_, 5000);
    Executar("PRAGMA journal_mode=WAL");
    Executar("PRAGMA synchronous=NORMAL");
    Executar(
        "CREATE TABLE IF NOT EXISTS comandos ("
        " posicao INTEGER PRIMARY KEY AUTOINCREMENT,"
        " loja_origem INTEGER NOT NULL,"
        " ordem_origem INTEGER NOT NULL,"
        " destino INTEGER NOT NULL,"
        " json TEXT NOT NULL,"
        " UNIQUE (loja_origem, ordem_origem))");
    Executar("CREATE INDEX IF NOT EXISTS comandos_destino ON comandos (destino, posicao)");
    Executar(
        "CREATE TABLE IF NOT EXISTS lojas ("
        " codigo INTEGER PRIMARY KEY,"
        " posicao_confirmada INTEGER NOT NULL DEFAULT 0,"
        " posicao_recebida INTEGER NOT NULL DEFAULT 0,"
        " ultimo_pedido TEXT)");
}

Armazem::~Armazem() { sqlite3_close(Banco_); }

void Armazem::Executar(const char* sql) {
    char* erro = nullptr;
    if (sqlite3_exec(Banco_, sql, nullptr, nullptr, &erro) != SQLITE_OK) {
        std::string msg = erro ? erro : "unknown error";
        sqlite3_free(erro);
        throw ErroArmazem("SQLite: " + msg);
    }
}

std::int64_t Armazem::PosicaoConfirmada(std::int32_t loja) {
    Comando c(Banco_, "SELECT posicao_confirmada FROM lojas WHERE codigo = ?");
    c.Int(1, loja);
    return c.Passo() ? c.ColInt(0) : 0;
}

ResultadoGravacao Armazem::Gravar(std::int32_t loja, const std::vector<ComandoRecebido>& comandos,
                                  std::optional<std::int64_t> ordemFinal) {
    ResultadoGravacao r;
    Executar("BEGIN IMMEDIATE");
    try {
        Comando garantir(Banco_, "INSERT OR IGNORE INTO lojas (codigo) VALUES (?)");
        garantir.Int(1, loja).Passo();
        std::int64_t confirmada = PosicaoConfirmada(loja);
        std::int64_t nova = confirmada;

        Comando inserir(Banco_,
                        "INSERT OR IGNORE INTO comandos (loja_origem, ordem_origem, destino, json)"
                        " VALUES (?, ?, ?, ?)");
        for (const auto& cmd : comandos) {
            if (cmd.Ordem <= confirmada) {
                ++r.Ignorados;
                continue;
            }
            std::int64_t destino = cmd.Destino.empty() ? 0 : std::stoll(cmd.Destino);
            inserir.Int(1, loja).Int(2, cmd.Ordem).Int(3, destino).Texto(4, cmd.Json);
            inserir.Passo();
            if (sqlite3_changes(Banco_) == 1) ++r.Aceitos; else ++r.Ignorados;
            inserir.Reiniciar();
            if (cmd.Ordem > nova) nova = cmd.Ordem;
        }
        if (ordemFinal && *ordemFinal > nova) nova = *ordemFinal;

        Comando mover(Banco_, "UPDATE lojas SET posicao_confirmada = ?, ultimo_pedido = ? WHERE codigo = ?");
        mover.Int(1, nova).Texto(2, AgoraUtc()).Int(3, loja).Passo();
        Executar("COMMIT");
        r.PosicaoConfirmada = nova;
    } catch (...) {
        sqlite3_exec(Banco_, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
    return r;
}

BlocoParaLoja Armazem::Proximos(std::int32_t loja, std::int64_t depoisDe, int limite) {
    BlocoParaLoja b;
    Comando ultimo(Banco_, (std::string("SELECT COALESCE(MAX(posicao), 0) FROM comandos WHERE posicao > ?2 AND ") +
                            kEnderecadoA).c_str());
    ultimo.Int(1, loja).Int(2, depoisDe);
    if (ultimo.Passo()) b.UltimaPosicao = ultimo.ColInt(0);
    if (b.UltimaPosicao == 0) return b;

    Comando bloco(Banco_, (std::string("SELECT posicao, loja_origem, json FROM comandos WHERE posicao > ?2 AND ") +
                           kEnderecadoA + " ORDER BY posicao LIMIT ?3").c_str());
    bloco.Int(1, loja).Int(2, depoisDe).Int(3, limite);
    while (bloco.Passo())
        b.Comandos.push_back({bloco.ColInt(0), static_cast<std::int32_t>(bloco.ColInt(1)), bloco.ColTexto(2)});
    return b;
}

void Armazem::RegistrarPedido(std::int32_t loja, std::optional<std::int64_t> posicaoRecebida) {
    Comando garantir(Banco_, "INSERT OR IGNORE INTO lojas (codigo) VALUES (?)");
    garantir.Int(1, loja).Passo();
    if (posicaoRecebida) {
        Comando c(Banco_, "UPDATE lojas SET posicao_recebida = ?, ultimo_pedido = ? WHERE codigo = ?");
        c.Int(1, *posicaoRecebida).Texto(2, AgoraUtc()).Int(3, loja).Passo();
    } else {
        Comando c(Banco_, "UPDATE lojas SET ultimo_pedido = ? WHERE codigo = ?");
        c.Texto(1, AgoraUtc()).Int(2, loja).Passo();
    }
}

std::vector<EstadoLoja> Armazem::Estado() {
    std::vector<EstadoLoja> lojas;
    Comando c(Banco_,
              (std::string("SELECT l.codigo, l.posicao_confirmada, l.posicao_recebida, COALESCE(l.ultimo_pedido, ''),"
                           " (SELECT COUNT(*) FROM comandos WHERE posicao > l.posicao_recebida AND"
                           " (destino = l.codigo OR (destino = 0 AND loja_origem <> l.codigo)))"
                           " FROM lojas l ORDER BY l.codigo")).c_str());
    while (c.Passo()) {
        EstadoLoja e;
        e.Loja = static_cast<std::int32_t>(c.ColInt(0));
        e.PosicaoConfirmada = c.ColInt(1);
        e.PosicaoRecebida = c.ColInt(2);
        e.UltimoPedido = c.ColTexto(3);
        e.ComandosAguardando = c.ColInt(4);
        lojas.push_back(std::move(e));
    }
    return lojas;
}

}  // namespace ondaris::central
