#include "central/armazem.h"

#include <algorithm>
#include <chrono>
#include <limits>
#include <utility>

#include "central/banco.h"
#include "central/distribuicao.h"
#include "protocolo/linha.h"
#include "protocolo/texto.h"

namespace ondaris::central {
namespace {

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

Armazem::Armazem(const std::string& banco)
    : Banco_(AbrirBanco(banco)), Janela_(std::make_unique<JanelaComandos>()) {
    const Dialeto& d = Banco_->Dialeto();
    const std::string inteiro = d.Inteiro;
    // In one transaction, under a lock: several servers starting together
    // over one database make the tables once.
    Transacao transacao(Banco_);
    Travar(*Banco_, d.TravaEsquema);
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
    Travar(*Banco_, Banco_->Dialeto().TravaLoja, loja);
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
    Travar(*Banco_, Banco_->Dialeto().TravaPosicoes);
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
    SelecaoParaLoja s = JanelaAtualizada(depoisDe).Selecionar(loja, depoisDe, limite, Precedencia_);
    if (!s.Preteridos.empty()) {
        for (Conflito& c : s.Preteridos) {
            c.Quando = agora;
            RegistrarConflito(c);
        }
    }
    if (!s.Bloco.Comandos.empty()) {
        Comando c(Banco_,
                  "UPDATE lojas SET recebimento_parado_desde = COALESCE(recebimento_parado_desde, ?2) WHERE codigo = ?1");
        c.Int(1, loja).Texto(2, agora).Passo();
    }
    transacao.Confirmar();
    return std::move(s.Bloco);
}

std::vector<ComandoLido> Armazem::LerComandos(std::int64_t depoisDe, std::int64_t ate) {
    Comando ler(Banco_,
                "SELECT posicao, loja_origem, destino, json, tabela, chave1, chave2 FROM comandos"
                " WHERE posicao > ? AND posicao <= ? ORDER BY posicao");
    ler.Int(1, depoisDe).Int(2, ate);
    std::vector<ComandoLido> lidos;
    while (ler.Passo()) {
        ComandoLido c;
        c.Posicao = ler.ColInt(0);
        c.LojaOrigem = static_cast<std::int32_t>(ler.ColInt(1));
        c.Destino = static_cast<std::int32_t>(ler.ColInt(2));
        c.Json = ler.ColTexto(3);
        c.Linha.Tabela = ler.ColTexto(4);
        c.Linha.Chave1 = TextoOpcional(ler, 5);
        c.Linha.Chave2 = TextoOpcional(ler, 6);
        lidos.push_back(std::move(c));
    }
    return lidos;
}

// How many commands the window takes in between two looks at what every
// store has received.
constexpr std::int64_t kDescarteACada = 10000;

JanelaComandos& Armazem::JanelaAtualizada(std::int64_t depoisDe) {
    JanelaComandos& janela = *Janela_;
    // The oldest command still held (older ones may have been removed since),
    // and the newest.
    std::int64_t primeira = std::numeric_limits<std::int64_t>::max(), ultima = 0;
    {
        Comando limites(Banco_, "SELECT (SELECT MIN(posicao) FROM comandos), (SELECT MAX(posicao) FROM comandos)");
        if (limites.Passo() && !limites.ColNula(0)) {
            primeira = limites.ColInt(0);
            ultima = limites.ColInt(1);
        }
    }
    if (!janela.Iniciada()) janela.Iniciar(ultima);
    if (janela.Acrescentados() >= kDescarteACada) {
        // What every store has received is not kept (a store asking again
        // from before has it read once more).
        Comando recebida(Banco_, "SELECT MIN(posicao_recebida) FROM lojas");
        if (recebida.Passo() && !recebida.ColNula(0)) primeira = std::max(primeira, recebida.ColInt(0) + 1);
        janela.RecomecarContagem();
    }
    janela.DescartarAntes(primeira);
    if (ultima > janela.Ate()) janela.AcrescentarNoFim(LerComandos(janela.Ate(), ultima));
    // Nothing lies before the oldest command held.
    const std::int64_t desde = std::min(janela.Desde(), std::max(depoisDe, primeira - 1));
    if (desde < janela.Desde()) janela.AcrescentarNoInicio(desde, LerComandos(desde, janela.Desde()));
    return janela;
}

std::vector<EstadoLoja> Armazem::Estado() {
    std::lock_guard trava(Mutex_);
    std::vector<EstadoLoja> lojas;
    {
        Comando c(Banco_,
                  "SELECT codigo, posicao_confirmada, posicao_recebida, COALESCE(ultimo_pedido, ''),"
                  " ultimo_movimento_loja, COALESCE(envio_parado_desde, ''), COALESCE(recebimento_parado_desde, '')"
                  " FROM lojas ORDER BY codigo");
        while (c.Passo()) {
            EstadoLoja e;
            e.Loja = static_cast<std::int32_t>(c.ColInt(0));
            e.PosicaoConfirmada = c.ColInt(1);
            e.PosicaoRecebida = c.ColInt(2);
            e.UltimoPedido = c.ColTexto(3);
            if (!c.ColNula(4)) e.UltimoMovimentoLoja = c.ColInt(4);
            e.EnvioParadoDesde = c.ColTexto(5);
            e.RecebimentoParadoDesde = c.ColTexto(6);
            lojas.push_back(std::move(e));
        }
    }
    if (lojas.empty()) return lojas;
    // Waiting: what the store will be served (superseded commands are not).
    std::int64_t desde = lojas.front().PosicaoRecebida;
    for (const EstadoLoja& e : lojas) desde = std::min(desde, e.PosicaoRecebida);
    const JanelaComandos& janela = JanelaAtualizada(desde);
    for (EstadoLoja& e : lojas) e.ComandosAguardando = janela.Aguardando(e.Loja, e.PosicaoRecebida, Precedencia_);
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
    return TextoUtc(Relogio_ ? Relogio_() : std::chrono::system_clock::now());
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
