#include "central/armazem.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <utility>

#include "central/banco.h"
#include "protocolo/linha.h"
#include "protocolo/texto.h"

namespace ondaris::central {
namespace {

// One prepared statement of the store's database (central/banco.h).
class Comando {
public:
    Comando(const std::unique_ptr<Conexao>& banco, const std::string& sql) : Stmt_(banco->Preparar(sql)) {}

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

std::string AgoraUtc(std::chrono::system_clock::time_point agora) {
    std::time_t t = std::chrono::system_clock::to_time_t(agora);
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

// A later command of the store being served (?1) for the same row as the
// command `c`: its position, or NULL. Commands that name no row (chave1
// NULL) match nothing. ?4 is the store's newest position: nothing after it
// can be superseded, which spares the look-up for most commands.
constexpr const char* kVencedora =
    "(CASE WHEN c.posicao < ?4 THEN (SELECT MAX(s.posicao) FROM comandos s WHERE s.tabela = c.tabela"
    " AND s.chave1 = c.chave1 AND s.chave2 = c.chave2 AND s.loja_origem = ?1 AND s.posicao > c.posicao) END)";

// A write transaction (BEGIN IMMEDIATE on SQLite), rolled back unless
// Confirmar() ran.
class Transacao {
public:
    explicit Transacao(const std::unique_ptr<Conexao>& banco) : Banco_(*banco) { Banco_.Iniciar(); }
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

// Takes one of the dialect's locks (central/banco.h), where it has them.
void Travar(const std::unique_ptr<Conexao>& banco, const char* sql, std::int64_t loja = 0) {
    if (!sql) return;
    Comando trava(banco, sql);
    trava.Int(1, loja);
    while (trava.Passo()) {
    }
}

std::optional<std::string> TextoOpcional(const Comando& c, int i) {
    if (c.ColNula(i)) return std::nullopt;
    return c.ColTexto(i);
}

void LigarOpcional(Comando& c, int i, const std::optional<std::string>& valor) {
    if (valor) c.Texto(i, *valor);
}

}  // namespace

LinhaComando LinhaDoComando(const protocolo::TValorJSON& comando) {
    LinhaComando l;
    const auto texto = [&](const char* nome) -> std::optional<std::string> {
        const protocolo::TValorJSON* m = comando.Membro(nome);
        if (!m || m->EhNulo()) return std::nullopt;
        return m->Bruto();
    };
    const std::optional<std::string> chave1 = texto("atualvalorchave1");
    protocolo::TIdentidadeLinha linha =
        protocolo::IdentidadeDe(texto("tabela").value_or(""), chave1.value_or(""), texto("atualvalorchave2").value_or(""));
    l.Tabela = std::move(linha.Tabela);
    if (chave1) {
        l.Chave1 = std::move(linha.Chave1);
        l.Chave2 = std::move(linha.Chave2);
    }
    return l;
}

Armazem::Armazem(const std::string& banco) : Banco_(AbrirBanco(banco)) {
    const Dialeto& d = Banco_->Dialeto();
    const std::string inteiro = d.Inteiro;
    // In one transaction, under a lock: several servers starting together
    // over one database make the tables once.
    Transacao transacao(Banco_);
    Travar(Banco_, d.TravaEsquema);
    Executar(
        "CREATE TABLE IF NOT EXISTS comandos ("
        " posicao " + std::string(d.ChaveAutomatica) + ","
        " loja_origem " + inteiro + " NOT NULL,"
        " ordem_origem " + inteiro + " NOT NULL,"
        " destino " + inteiro + " NOT NULL,"
        " json TEXT NOT NULL,"
        " UNIQUE (loja_origem, ordem_origem))");
    Executar("CREATE INDEX IF NOT EXISTS comandos_destino ON comandos (destino, posicao)");
    Executar(
        "CREATE TABLE IF NOT EXISTS lojas ("
        " codigo " + inteiro + " PRIMARY KEY,"
        " posicao_confirmada " + inteiro + " NOT NULL DEFAULT 0,"
        " posicao_recebida " + inteiro + " NOT NULL DEFAULT 0,"
        " ultimo_pedido TEXT)");
    // Added later: files made before them get them here.
    GarantirColuna("lojas", "ultimo_movimento_loja", inteiro);
    GarantirColuna("lojas", "envio_parado_desde", "TEXT");
    GarantirColuna("lojas", "recebimento_parado_desde", "TEXT");
    {
        // The row of each command: a file made before these columns
        // gets them filled from its stored commands, all in one go.
        const bool novas = GarantirColuna("comandos", "tabela", "TEXT");
        GarantirColuna("comandos", "chave1", "TEXT");
        GarantirColuna("comandos", "chave2", "TEXT");
        if (novas) PreencherLinhas();
        Executar("CREATE INDEX IF NOT EXISTS comandos_linha ON comandos (tabela, chave1, chave2, loja_origem, posicao)");
    }
    // What a store reported its log to reach, with the position it had
    // received up to then: which commands it got while a change of its
    // own was waiting to be sent. Kept only above its acknowledged
    // position.
    Executar(
        "CREATE TABLE IF NOT EXISTS relatos ("
        " loja " + inteiro + " NOT NULL,"
        " movimento " + inteiro + " NOT NULL,"
        " recebida " + inteiro + " NOT NULL,"
        " PRIMARY KEY (loja, movimento))");
    Executar(
        "CREATE TABLE IF NOT EXISTS conflitos ("
        " id " + std::string(d.ChaveAutomatica) + ","
        " loja " + inteiro + " NOT NULL,"
        " posicao_preterida " + inteiro + " NOT NULL,"
        " loja_preterida " + inteiro + " NOT NULL,"
        " posicao_vencedora " + inteiro + " NOT NULL,"
        " tabela TEXT NOT NULL,"
        " chave1 TEXT,"
        " chave2 TEXT,"
        " quando TEXT NOT NULL,"
        " UNIQUE (loja, posicao_preterida))");
    Executar("CREATE TABLE IF NOT EXISTS contadores (nome TEXT PRIMARY KEY, valor " + inteiro + " NOT NULL)");
    // Per store, for the operator's page (see OcorrenciasLoja).
    Executar(
        "CREATE TABLE IF NOT EXISTS ocorrencias_lojas ("
        " loja " + inteiro + " PRIMARY KEY,"
        " recusas " + inteiro + " NOT NULL DEFAULT 0,"
        " ultima_recusa TEXT,"
        " ultima_recusa_quando TEXT,"
        " conflitos " + inteiro + " NOT NULL DEFAULT 0,"
        " postos_de_lado " + inteiro + " NOT NULL DEFAULT 0)");
    transacao.Confirmar();
}

Armazem::~Armazem() = default;

void Armazem::Executar(const std::string& sql) { Banco_->Executar(sql); }

bool Armazem::GarantirColuna(const char* tabela, const char* coluna, const std::string& tipo) {
    if (Banco_->TemColuna(tabela, coluna)) return false;
    Executar(std::string("ALTER TABLE ") + tabela + " ADD COLUMN " + coluna + " " + tipo);
    return true;
}

void Armazem::PreencherLinhas() {
    Comando ler(Banco_, "SELECT posicao, json FROM comandos");
    Comando gravar(Banco_, "UPDATE comandos SET tabela = ?2, chave1 = ?3, chave2 = ?4 WHERE posicao = ?1");
    while (ler.Passo()) {
        const auto json = protocolo::LerJSON(ler.ColTexto(1));
        // Stored commands were all checked objects; anything else names no row.
        const LinhaComando linha = json && json->EhObjeto() ? LinhaDoComando(*json) : LinhaComando{};
        gravar.Int(1, ler.ColInt(0)).Texto(2, linha.Tabela);
        LigarOpcional(gravar, 3, linha.Chave1);
        LigarOpcional(gravar, 4, linha.Chave2);
        gravar.Passo();
        gravar.Reiniciar();
    }
}

void Armazem::DefinirPrecedenciaDaLoja(bool ligada) {
    std::lock_guard trava(Mutex_);
    Precedencia_ = ligada;
}

void Armazem::RegistrarConflito(const Conflito& c) {
    Comando inserir(Banco_,
                    "INSERT INTO conflitos (loja, posicao_preterida, loja_preterida, posicao_vencedora,"
                    " tabela, chave1, chave2, quando) VALUES (?, ?, ?, ?, ?, ?, ?, ?) ON CONFLICT DO NOTHING");
    inserir.Int(1, c.Loja).Int(2, c.PosicaoPreterida).Int(3, c.LojaPreterida).Int(4, c.PosicaoVencedora);
    inserir.Texto(5, c.Tabela);
    LigarOpcional(inserir, 6, c.Chave1);
    LigarOpcional(inserir, 7, c.Chave2);
    inserir.Texto(8, c.Quando);
    inserir.Passo();
    if (inserir.Alteradas() != 1) return;  // known already
    Executar("INSERT INTO contadores (nome, valor) VALUES ('conflitos', 1)"
             " ON CONFLICT (nome) DO UPDATE SET valor = contadores.valor + 1");
    ContarConflito(c);
    Comando podar(Banco_, "DELETE FROM conflitos WHERE id <= (SELECT MAX(id) FROM conflitos) - ?");
    podar.Int(1, kLimiteConflitos).Passo();
}

void Armazem::ConflitosDoEnvio(std::int32_t loja, std::int64_t desde, std::int64_t ate, std::int64_t posicao,
                               const LinhaComando& linha) {
    Comando preteridos(Banco_,
                       "SELECT c.posicao, c.loja_origem FROM comandos c WHERE c.tabela = ?2 AND c.chave1 = ?3 AND"
                       " c.chave2 = ?4 AND c.posicao > ?5 AND c.posicao <= ?6 AND"
                       " (c.destino = ?1 OR (c.destino = 0 AND c.loja_origem <> ?1))");
    preteridos.Int(1, loja).Texto(2, linha.Tabela).Texto(3, *linha.Chave1);
    LigarOpcional(preteridos, 4, linha.Chave2);
    preteridos.Int(5, desde).Int(6, ate);
    std::vector<Conflito> achados;
    while (preteridos.Passo())
        achados.push_back({loja, preteridos.ColInt(0), static_cast<std::int32_t>(preteridos.ColInt(1)), posicao,
                           linha.Tabela, linha.Chave1, linha.Chave2, Agora(), true});
    for (const Conflito& c : achados) RegistrarConflito(c);
}

void Armazem::GarantirLoja(std::int32_t loja) {
    Comando garantir(Banco_, "INSERT INTO lojas (codigo) VALUES (?) ON CONFLICT DO NOTHING");
    garantir.Int(1, loja).Passo();
    // One request of a store at a time, whichever server process takes it.
    Travar(Banco_, Banco_->Dialeto().TravaLoja, loja);
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
    // Positions are handed out in commit order. A reader that has seen
    // position 12 takes it as its new start and never looks below it again,
    // so 11 must not commit after 12: it would be skipped for good. The
    // database numbers commands as they are inserted, not as they commit,
    // so where several processes write at once (PostgreSQL) one block at a
    // time takes positions, under a lock held until its commit. SQLite's
    // write transactions already exclude each other.
    Travar(Banco_, Banco_->Dialeto().TravaPosicoes);
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
        throw BlocoRecusado("o bloco começa em ordeminicial " + std::to_string(*bloco.OrdemInicial) +
                            ", mas o servidor tem o log da loja " + std::to_string(bloco.Loja) + " só até " +
                            std::to_string(confirmada) + ": as posições entre elas seriam puladas");

    std::int64_t nova = confirmada;
    Comando inserir(Banco_,
                    "INSERT INTO comandos (loja_origem, ordem_origem, destino, json, tabela, chave1, chave2)"
                    " VALUES (?, ?, ?, ?, ?, ?, ?) ON CONFLICT DO NOTHING RETURNING posicao");
    // The store's reports above its position (a few), and what it has
    // received by now: a command it sends was judged by the store against
    // what it was served after it first reported its log to reach that
    // command. Read once per block; a command is looked for in the row
    // index only when something was served to the store since.
    std::vector<std::pair<std::int64_t, std::int64_t>> relatos;  // (log end, received by then), ascending
    std::int64_t recebida = 0;
    if (Precedencia_) {
        Comando ler(Banco_,
                    "SELECT r.movimento, r.recebida, l.posicao_recebida FROM relatos r JOIN lojas l ON l.codigo = r.loja"
                    " WHERE r.loja = ? AND r.movimento > ? ORDER BY r.movimento");
        ler.Int(1, bloco.Loja).Int(2, confirmada);
        while (ler.Passo()) {
            relatos.emplace_back(ler.ColInt(0), ler.ColInt(1));
            recebida = ler.ColInt(2);
        }
    }
    const auto servidoDesde = [&](std::int64_t ordem) -> std::optional<std::int64_t> {
        const auto r = std::lower_bound(relatos.begin(), relatos.end(), std::pair{ordem, std::int64_t{0}},
                                        [](const auto& a, const auto& b) { return a.first < b.first; });
        if (r == relatos.end() || r->second >= recebida) return std::nullopt;
        return r->second;
    };
    for (const auto& cmd : bloco.Comandos) {
        if (cmd.Ordem <= confirmada) {
            ++r.Ignorados;
            continue;
        }
        inserir.Int(1, bloco.Loja).Int(2, cmd.Ordem).Int(3, cmd.Destino).Texto(4, cmd.Json).Texto(5, cmd.Linha.Tabela);
        LigarOpcional(inserir, 6, cmd.Linha.Chave1);
        LigarOpcional(inserir, 7, cmd.Linha.Chave2);
        if (inserir.Passo()) {
            ++r.Aceitos;
            if (const auto desde = cmd.Linha.Chave1 ? servidoDesde(cmd.Ordem) : std::nullopt)
                ConflitosDoEnvio(bloco.Loja, *desde, recebida, inserir.ColInt(0), cmd.Linha);
        } else {
            ++r.Ignorados;
        }
        inserir.Reiniciar();
        if (cmd.Ordem > nova) nova = cmd.Ordem;
    }
    if (bloco.OrdemFinal && *bloco.OrdemFinal > nova) {
        // Only as far as the store has shown its log to reach.
        const std::int64_t alcance = std::max(nova, informada.value_or(0));
        nova = std::min(*bloco.OrdemFinal, alcance);
    }

    const std::string agora = Agora();
    Comando mover(Banco_,
                  "UPDATE lojas SET posicao_confirmada = ?1, ultimo_pedido = ?2,"
                  " envio_parado_desde = CASE WHEN ?1 > posicao_confirmada THEN NULL ELSE envio_parado_desde END"
                  " WHERE codigo = ?3");
    mover.Int(1, nova).Texto(2, agora).Int(3, bloco.Loja).Passo();
    {
        Comando podar(Banco_, "DELETE FROM relatos WHERE loja = ? AND movimento <= ?");
        podar.Int(1, bloco.Loja).Int(2, nova).Passo();
    }
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
    c.Int(1, loja).Int(2, ultimoMovimentoLoja).Texto(3, Agora()).Passo();
    const std::int64_t confirmada = LerPosicaoConfirmada(loja);
    if (ultimoMovimentoLoja > confirmada) {
        // The first report of each log end, with what the store had
        // received by then (see ConflitosDoEnvio).
        Comando relato(Banco_,
                       "INSERT INTO relatos (loja, movimento, recebida)"
                       " SELECT codigo, ?2, posicao_recebida FROM lojas WHERE codigo = ?1 ON CONFLICT DO NOTHING");
        relato.Int(1, loja).Int(2, ultimoMovimentoLoja).Passo();
    }
    transacao.Confirmar();
    return confirmada;
}

BlocoParaLoja Armazem::Receber(std::int32_t loja, std::int64_t depoisDe, int limite) {
    std::lock_guard trava(Mutex_);
    Transacao transacao(Banco_);
    GarantirLoja(loja);
    const std::string agora = Agora();
    {
        // Asking from another position ends a held receiving (see
        // RecebimentoParadoDesde); it starts below, when commands are served.
        Comando c(Banco_,
                  "UPDATE lojas SET posicao_recebida = ?1, ultimo_pedido = ?2,"
                  " recebimento_parado_desde = CASE WHEN posicao_recebida = ?1 THEN recebimento_parado_desde END"
                  " WHERE codigo = ?3");
        c.Int(1, depoisDe).Texto(2, agora).Int(3, loja).Passo();
    }

    BlocoParaLoja b;
    // The store's own newest command: only commands before it can be
    // superseded by one of its own.
    std::int64_t propria = 0;
    if (Precedencia_) {
        Comando c(Banco_, "SELECT posicao FROM comandos WHERE loja_origem = ? ORDER BY ordem_origem DESC LIMIT 1");
        c.Int(1, loja);
        if (c.Passo()) propria = c.ColInt(0);
    }
    const std::string vencedora = propria > depoisDe ? kVencedora : "NULL";
    // The last one the store will be served, walking back from the newest.
    Comando ultimo(Banco_, ("SELECT c.posicao FROM comandos c WHERE c.posicao > ?2 AND " + std::string(kEnderecadoA) +
                            " AND " + vencedora + " IS NULL ORDER BY c.posicao DESC LIMIT 1")
                               .c_str());
    ultimo.Int(1, loja).Int(2, depoisDe);
    if (propria > depoisDe) ultimo.Int(4, propria);
    if (ultimo.Passo()) b.UltimaPosicao = ultimo.ColInt(0);
    // Walked in order until the block is full; the commands passed over on
    // the way are conflicts. With nothing to serve, the walk still records
    // those passed over (they stay ahead of the store's position, a few at
    // most, until a later command is served to it).
    if (b.UltimaPosicao != 0 || propria > depoisDe) {
        Comando bloco(Banco_, ("SELECT c.posicao, c.loja_origem, c.json, " + vencedora +
                               ", c.tabela, c.chave1, c.chave2 FROM comandos c WHERE c.posicao > ?2 AND c.posicao <= ?3"
                               " AND " + std::string(kEnderecadoA) + " ORDER BY c.posicao")
                                  .c_str());
        bloco.Int(1, loja).Int(2, depoisDe).Int(3, b.UltimaPosicao != 0 ? b.UltimaPosicao : propria);
        if (propria > depoisDe) bloco.Int(4, propria);
        bloco.AosPoucos(limite);  // the range may hold far more than one block
        std::vector<Conflito> preteridos;
        while (static_cast<int>(b.Comandos.size()) < limite && bloco.Passo()) {
            if (!bloco.ColNula(3)) {
                preteridos.push_back({loja, bloco.ColInt(0), static_cast<std::int32_t>(bloco.ColInt(1)),
                                      bloco.ColInt(3), bloco.ColTexto(4), TextoOpcional(bloco, 5),
                                      TextoOpcional(bloco, 6), Agora()});
                continue;
            }
            b.Comandos.push_back({bloco.ColInt(0), static_cast<std::int32_t>(bloco.ColInt(1)), bloco.ColTexto(2)});
        }
        for (const Conflito& c : preteridos) RegistrarConflito(c);
    }
    if (!b.Comandos.empty()) {
        Comando c(Banco_,
                  "UPDATE lojas SET recebimento_parado_desde = COALESCE(recebimento_parado_desde, ?2) WHERE codigo = ?1");
        c.Int(1, loja).Texto(2, agora).Passo();
    }
    transacao.Confirmar();
    return b;
}

std::vector<EstadoLoja> Armazem::Estado() {
    std::lock_guard trava(Mutex_);
    std::vector<EstadoLoja> lojas;
    // Waiting: what the store will be served (superseded commands are not).
    const std::string superada =
        Precedencia_ ? " AND NOT EXISTS (SELECT 1 FROM comandos s WHERE s.tabela = c.tabela AND s.chave1 = c.chave1"
                       " AND s.chave2 = c.chave2 AND s.loja_origem = l.codigo AND s.posicao > c.posicao)"
                     : "";
    Comando c(Banco_,
              ("SELECT l.codigo, l.posicao_confirmada, l.posicao_recebida, COALESCE(l.ultimo_pedido, ''),"
               " (SELECT COUNT(*) FROM comandos c WHERE c.posicao > l.posicao_recebida AND"
               " (c.destino = l.codigo OR (c.destino = 0 AND c.loja_origem <> l.codigo))" + superada + "),"
               " l.ultimo_movimento_loja, COALESCE(l.envio_parado_desde, ''),"
               " COALESCE(l.recebimento_parado_desde, '')"
               " FROM lojas l ORDER BY l.codigo").c_str());
    while (c.Passo()) {
        EstadoLoja e;
        e.Loja = static_cast<std::int32_t>(c.ColInt(0));
        e.PosicaoConfirmada = c.ColInt(1);
        e.PosicaoRecebida = c.ColInt(2);
        e.UltimoPedido = c.ColTexto(3);
        e.ComandosAguardando = c.ColInt(4);
        if (!c.ColNula(5)) e.UltimoMovimentoLoja = c.ColInt(5);
        e.EnvioParadoDesde = c.ColTexto(6);
        e.RecebimentoParadoDesde = c.ColTexto(7);
        lojas.push_back(std::move(e));
    }
    return lojas;
}

}  // namespace ondaris::central

namespace ondaris::central {

ConflitosRegistrados Armazem::Conflitos() {
    std::lock_guard trava(Mutex_);
    ConflitosRegistrados r;
    {
        Comando total(Banco_, "SELECT valor FROM contadores WHERE nome = 'conflitos'");
        if (total.Passo()) r.Total = total.ColInt(0);
    }
    Comando c(Banco_,
              "SELECT loja, posicao_preterida, loja_preterida, posicao_vencedora, tabela, chave1, chave2, quando"
              " FROM conflitos ORDER BY id DESC LIMIT ?");
    c.Int(1, kLimiteConflitos);
    while (c.Passo())
        r.Recentes.push_back({static_cast<std::int32_t>(c.ColInt(0)), c.ColInt(1), static_cast<std::int32_t>(c.ColInt(2)),
                              c.ColInt(3), c.ColTexto(4), TextoOpcional(c, 5), TextoOpcional(c, 6), c.ColTexto(7)});
    return r;
}

}  // namespace ondaris::central

namespace ondaris::central {

ResultadoPurga Armazem::Purgar() {
    std::lock_guard trava(Mutex_);
    ResultadoPurga r;
    Transacao transacao(Banco_);
    {
        Comando limite(Banco_,
                       "SELECT MIN(p) FROM (SELECT posicao_recebida AS p FROM lojas"
                       " UNION ALL SELECT recebida FROM relatos) t");
        if (limite.Passo() && !limite.ColNula(0)) r.AtePosicao = limite.ColInt(0);
    }
    {
        Comando atrasadas(Banco_,
                          "SELECT codigo FROM lojas WHERE posicao_recebida = ?1 OR codigo IN"
                          " (SELECT loja FROM relatos WHERE recebida = ?1) ORDER BY codigo");
        atrasadas.Int(1, r.AtePosicao);
        while (atrasadas.Passo()) r.Atrasadas.push_back(static_cast<std::int32_t>(atrasadas.ColInt(0)));
    }
    if (r.AtePosicao > 0) {
        Comando remover(Banco_, "DELETE FROM comandos WHERE posicao <= ?");
        remover.Int(1, r.AtePosicao);
        remover.Passo();
        r.Removidos = remover.Alteradas();
    }
    transacao.Confirmar();
    return r;
}

}  // namespace ondaris::central

// What went wrong per store, for the operator's page.
namespace ondaris::central {

std::string Armazem::Agora() const {
    return AgoraUtc(Relogio_ ? Relogio_() : std::chrono::system_clock::now());
}

void Armazem::DefinirRelogio(std::function<std::chrono::system_clock::time_point()> relogio) {
    std::lock_guard trava(Mutex_);
    Relogio_ = std::move(relogio);
}

// Runs inside RegistrarConflito, for a conflict recorded the first time.
void Armazem::ContarConflito(const Conflito& c) {
    Comando contar(Banco_, c.PostoDeLado
                               ? "INSERT INTO ocorrencias_lojas (loja, postos_de_lado) VALUES (?, 1) ON CONFLICT (loja)"
                                 " DO UPDATE SET postos_de_lado = ocorrencias_lojas.postos_de_lado + 1"
                               : "INSERT INTO ocorrencias_lojas (loja, conflitos) VALUES (?, 1) ON CONFLICT (loja)"
                                 " DO UPDATE SET conflitos = ocorrencias_lojas.conflitos + 1");
    contar.Int(1, c.Loja).Passo();
}

void Armazem::RegistrarRecusa(std::int32_t loja, const std::string& motivo) {
    std::lock_guard trava(Mutex_);
    Comando registrar(Banco_,
                      "INSERT INTO ocorrencias_lojas (loja, recusas, ultima_recusa, ultima_recusa_quando)"
                      " VALUES (CASE WHEN EXISTS (SELECT 1 FROM lojas WHERE codigo = ?1) THEN ?1 ELSE 0 END, 1, ?2, ?3)"
                      " ON CONFLICT (loja) DO UPDATE SET recusas = ocorrencias_lojas.recusas + 1,"
                      " ultima_recusa = excluded.ultima_recusa, ultima_recusa_quando = excluded.ultima_recusa_quando");
    registrar.Int(1, loja).Texto(2, protocolo::PrimeirosCaracteresUtf8(motivo, kTamanhoMotivoRecusa, kTamanhoMotivoRecusa));
    registrar.Texto(3, Agora()).Passo();
}

std::vector<OcorrenciasLoja> Armazem::Ocorrencias() {
    std::lock_guard trava(Mutex_);
    std::vector<OcorrenciasLoja> r;
    Comando c(Banco_,
              "SELECT loja, recusas, COALESCE(ultima_recusa, ''), COALESCE(ultima_recusa_quando, ''), conflitos,"
              " postos_de_lado FROM ocorrencias_lojas ORDER BY loja");
    while (c.Passo())
        r.push_back({static_cast<std::int32_t>(c.ColInt(0)), c.ColInt(1), c.ColTexto(2), c.ColTexto(3), c.ColInt(4),
                     c.ColInt(5)});
    return r;
}

}  // namespace ondaris::central
