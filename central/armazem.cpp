#include "central/armazem.h"

#include <sqlite3.h>

#include <algorithm>
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
    bool ColNula(int i) const { return sqlite3_column_type(Stmt_, i) == SQLITE_NULL; }
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
// empty or "0" (stored as 0). Anything that is not a store code is refused
// by the caller.
//
// The unary plus keeps SQLite off the destino index: through it the OR
// gathers and sorts every command waiting for the store before the first
// one comes out (about 0.1 s per request with 100,000 waiting), while
// walking the positions from the one asked for stops as soon as the block,
// or the last position, is found.
constexpr const char* kEnderecadoA =
    "(+destino = ?1 OR (+destino = 0 AND loja_origem <> ?1))";

void ExecutarSql(sqlite3* banco, const char* sql) {
    char* erro = nullptr;
    if (sqlite3_exec(banco, sql, nullptr, nullptr, &erro) != SQLITE_OK) {
        std::string msg = erro ? erro : sqlite3_errmsg(banco);
        sqlite3_free(erro);
        throw ErroArmazem("SQLite: " + msg);
    }
}

// BEGIN IMMEDIATE on construction; rolled back unless Confirmar() ran.
class Transacao {
public:
    explicit Transacao(sqlite3* banco) : Banco_(banco) { ExecutarSql(Banco_, "BEGIN IMMEDIATE"); }
    ~Transacao() {
        if (Aberta_) sqlite3_exec(Banco_, "ROLLBACK", nullptr, nullptr, nullptr);
    }
    Transacao(const Transacao&) = delete;
    Transacao& operator=(const Transacao&) = delete;
    void Confirmar() {
        ExecutarSql(Banco_, "COMMIT");
        Aberta_ = false;
    }

private:
    sqlite3* Banco_;
    bool Aberta_ = true;
};

}  // namespace

Armazem::Armazem(const std::string& arquivo) {
    if (sqlite3_open(arquivo.c_str(), &Banco_) != SQLITE_OK) {
        std::string msg = Banco_ ? sqlite3_errmsg(Banco_) : "out of memory";
        sqlite3_close(Banco_);
        throw ErroArmazem("SQLite: cannot open " + arquivo + ": " + msg);
    }
    try {
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
        // Added later: files made before them get them here.
        GarantirColuna("lojas", "ultimo_movimento_loja", "INTEGER");
        GarantirColuna("lojas", "envio_parado_desde", "TEXT");
    } catch (...) {
        sqlite3_close(Banco_);
        throw;
    }
}

Armazem::~Armazem() { sqlite3_close(Banco_); }

void Armazem::Executar(const char* sql) { ExecutarSql(Banco_, sql); }

void Armazem::GarantirColuna(const char* tabela, const char* coluna, const char* tipo) {
    Comando colunas(Banco_, (std::string("SELECT name FROM pragma_table_info('") + tabela + "')").c_str());
    while (colunas.Passo())
        if (colunas.ColTexto(0) == coluna) return;
    Executar((std::string("ALTER TABLE ") + tabela + " ADD COLUMN " + coluna + " " + tipo).c_str());
}

void Armazem::GarantirLoja(std::int32_t loja) {
    Comando garantir(Banco_, "INSERT OR IGNORE INTO lojas (codigo) VALUES (?)");
    garantir.Int(1, loja).Passo();
}

std::int64_t Armazem::LerPosicaoConfirmada(std::int32_t loja) {
    Comando c(Banco_, "SELECT posicao_confirmada FROM lojas WHERE codigo = ?");
    c.Int(1, loja);
    return c.Passo() ? c.ColInt(0) : 0;
}

ResultadoGravacao Armazem::Gravar(const BlocoRecebido& bloco) {
    std::lock_guard trava(Mutex_);
    ResultadoGravacao r;
    Transacao transacao(Banco_);
    GarantirLoja(bloco.Loja);

    std::int64_t confirmada = 0;
    std::optional<std::int64_t> informada;  // the log's end the store last reported
    {
        Comando loja(Banco_, "SELECT posicao_confirmada, ultimo_movimento_loja FROM lojas WHERE codigo = ?");
        loja.Int(1, bloco.Loja);
        if (loja.Passo()) {
            confirmada = loja.ColInt(0);
            if (!loja.ColNula(1)) informada = loja.ColInt(1);
        }
    }
    if (bloco.OrdemInicial && *bloco.OrdemInicial - 1 > confirmada)
        throw BlocoRecusado("the block starts at ordeminicial " + std::to_string(*bloco.OrdemInicial) +
                            ", but the server holds store " + std::to_string(bloco.Loja) + "'s log only up to " +
                            std::to_string(confirmada) + ": the positions between would be skipped");

    std::int64_t nova = confirmada;
    Comando inserir(Banco_,
                    "INSERT OR IGNORE INTO comandos (loja_origem, ordem_origem, destino, json) VALUES (?, ?, ?, ?)");
    for (const auto& cmd : bloco.Comandos) {
        if (cmd.Ordem <= confirmada) {
            ++r.Ignorados;
            continue;
        }
        inserir.Int(1, bloco.Loja).Int(2, cmd.Ordem).Int(3, cmd.Destino).Texto(4, cmd.Json);
        inserir.Passo();
        if (sqlite3_changes(Banco_) == 1) ++r.Aceitos; else ++r.Ignorados;
        inserir.Reiniciar();
        if (cmd.Ordem > nova) nova = cmd.Ordem;
    }
    if (bloco.OrdemFinal && *bloco.OrdemFinal > nova) {
        // Only as far as the store has shown its log to reach.
        const std::int64_t alcance = std::max(nova, informada.value_or(0));
        nova = std::min(*bloco.OrdemFinal, alcance);
    }

    const std::string agora = AgoraUtc();
    Comando mover(Banco_,
                  "UPDATE lojas SET posicao_confirmada = ?1, ultimo_pedido = ?2,"
                  " envio_parado_desde = CASE WHEN ?1 > posicao_confirmada THEN NULL ELSE envio_parado_desde END"
                  " WHERE codigo = ?3");
    mover.Int(1, nova).Texto(2, agora).Int(3, bloco.Loja).Passo();
    transacao.Confirmar();
    r.PosicaoConfirmada = nova;
    return r;
}

std::int64_t Armazem::RegistrarIndice(std::int32_t loja, std::int64_t ultimoMovimentoLoja) {
    std::lock_guard trava(Mutex_);
    Transacao transacao(Banco_);
    GarantirLoja(loja);
    // Held since the first report of more than the server has, until the
    // position moves (Gravar) or the store reports nothing more to send.
    Comando c(Banco_,
              "UPDATE lojas SET ultimo_movimento_loja = ?2, ultimo_pedido = ?3,"
              " envio_parado_desde = CASE WHEN ?2 > posicao_confirmada"
              " THEN COALESCE(envio_parado_desde, ?3) ELSE NULL END"
              " WHERE codigo = ?1");
    c.Int(1, loja).Int(2, ultimoMovimentoLoja).Texto(3, AgoraUtc()).Passo();
    const std::int64_t confirmada = LerPosicaoConfirmada(loja);
    transacao.Confirmar();
    return confirmada;
}

BlocoParaLoja Armazem::Receber(std::int32_t loja, std::int64_t depoisDe, int limite) {
    std::lock_guard trava(Mutex_);
    Transacao transacao(Banco_);
    GarantirLoja(loja);
    {
        Comando c(Banco_, "UPDATE lojas SET posicao_recebida = ?, ultimo_pedido = ? WHERE codigo = ?");
        c.Int(1, depoisDe).Texto(2, AgoraUtc()).Int(3, loja).Passo();
    }

    BlocoParaLoja b;
    // The last one addressed to the store, walking back from the newest.
    Comando ultimo(Banco_, (std::string("SELECT posicao FROM comandos WHERE posicao > ?2 AND ") + kEnderecadoA +
                            " ORDER BY posicao DESC LIMIT 1").c_str());
    ultimo.Int(1, loja).Int(2, depoisDe);
    if (ultimo.Passo()) b.UltimaPosicao = ultimo.ColInt(0);
    if (b.UltimaPosicao != 0) {
        Comando bloco(Banco_, (std::string("SELECT posicao, loja_origem, json FROM comandos WHERE posicao > ?2 AND ") +
                               kEnderecadoA + " ORDER BY posicao LIMIT ?3").c_str());
        bloco.Int(1, loja).Int(2, depoisDe).Int(3, limite);
        while (bloco.Passo())
            b.Comandos.push_back({bloco.ColInt(0), static_cast<std::int32_t>(bloco.ColInt(1)), bloco.ColTexto(2)});
    }
    transacao.Confirmar();
    return b;
}

std::vector<EstadoLoja> Armazem::Estado() {
    std::lock_guard trava(Mutex_);
    std::vector<EstadoLoja> lojas;
    Comando c(Banco_,
              "SELECT l.codigo, l.posicao_confirmada, l.posicao_recebida, COALESCE(l.ultimo_pedido, ''),"
              " (SELECT COUNT(*) FROM comandos WHERE posicao > l.posicao_recebida AND"
              " (destino = l.codigo OR (destino = 0 AND loja_origem <> l.codigo))),"
              " l.ultimo_movimento_loja, COALESCE(l.envio_parado_desde, '')"
              " FROM lojas l ORDER BY l.codigo");
    while (c.Passo()) {
        EstadoLoja e;
        e.Loja = static_cast<std::int32_t>(c.ColInt(0));
        e.PosicaoConfirmada = c.ColInt(1);
        e.PosicaoRecebida = c.ColInt(2);
        e.UltimoPedido = c.ColTexto(3);
        e.ComandosAguardando = c.ColInt(4);
        if (!c.ColNula(5)) e.UltimoMovimentoLoja = c.ColInt(5);
        e.EnvioParadoDesde = c.ColTexto(6);
        lojas.push_back(std::move(e));
    }
    return lojas;
}

}  // namespace ondaris::central
