#pragma once
// One attachment to the store database (Conexao) and the transactions that
// run on it (Transacao).
//
// Conexao owns the attachment and knows, without owning them, every
// Transacao and Consulta created on it; those must not outlive it. It opens
// on demand: the first statement run on a closed connection attaches with
// the parameters as they stand. Closing commits every automatic-end
// transaction still active, rolls back every caller-controlled one (its
// caller did not commit it: it may hold half of a unit of work), and
// detaches; the statements stay usable and are prepared again on
// their next use.
//
// Automatic reconnection: when an operation fails because the attachment is
// lost, the connection drops every handle of the old attachment and attaches
// again, up to three attempts: at once, then after a pause, then after
// another pause (3000 ms each; the pause is injectable for tests). After a
// successful attempt the failed operation is repeated; statements are
// prepared again on that use and keep their parameter values. When all three
// attempts fail the error of the last one reaches the caller.
// An operation is not repeated when the transaction it ran in had changes
// that were not committed yet: those changes died with the attachment, and
// repeating the last statement alone would commit half of the work. The
// caller then gets ErroConexaoPerdida (the connection itself is usable
// again) and decides; a failed commit is never repeated either.
//
// Transactions are read committed with record versions, or snapshot
// (concurrency) when asked for, and NO WAIT: a write that meets another
// transaction's uncommitted change fails at once with ErroConflitoBloqueio. An automatic-start transaction starts when one of
// its statements needs it; an automatic-end one commits as soon as none of
// its statements is active (each result set read to its end or closed, each
// execution finished). A transaction destroyed while still active rolls
// back, whatever its options: only a commit keeps work.
// Not thread-safe: one thread uses a connection and everything on it.
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "db/erros.h"
#include "db/fb.h"
#include "db/ini.h"

namespace ondaris::db {

class Consulta;
class Transacao;

inline constexpr const char* kUsuarioReplicacao = "ONDARIS";
inline constexpr const char* kSenhaReplicacao = "quenby";

struct ParametrosConexao {
    std::string Servidor = "localhost";
    std::string Caminho;
    std::string Porta = std::to_string(kPortaBanco);
    std::string Usuario = kUsuarioReplicacao;
    std::string Senha = kSenhaReplicacao;

    // Servidor + "/" + Porta + ":" + Caminho.
    std::string StringConexao() const;
    static ParametrosConexao De(const ConfiguracaoBanco& c);
};

using FuncaoPausa = std::function<void(std::chrono::milliseconds)>;

class Conexao {
public:
    static constexpr int kTentativasReconexao = 3;
    static constexpr std::chrono::milliseconds kPausaReconexao{3000};

    explicit Conexao(ParametrosConexao parametros, std::string nome = "ConexaoGlobal");
    ~Conexao();
    Conexao(const Conexao&) = delete;
    Conexao& operator=(const Conexao&) = delete;

    const std::string& Nome() const { return nome_; }
    // Changes take effect at the next attachment.
    ParametrosConexao& Parametros() { return parametros_; }
    const ParametrosConexao& Parametros() const { return parametros_; }

    void Abrir();
    // Commits the active automatic-end transactions, rolls back the active
    // caller-controlled ones, and detaches. The first failure is rethrown
    // after the attachment has been given up. An attachment the server has
    // cut already is no failure: it is closed, as asked, unless a
    // transaction with changes not yet committed died with it.
    void Fechar();
    bool Aberta() const { return static_cast<bool>(anexo_); }

    // The pause between reconnection attempts (std::this_thread::sleep_for
    // by default).
    void DefinirPausa(FuncaoPausa pausa) { pausa_ = std::move(pausa); }
    // Successful re-attachments after a lost attachment, since construction.
    int Reconexoes() const { return reconexoes_; }

    // The attachment, opened on demand. For the layer's own classes.
    Firebird::IAttachment* Anexo();

    // Runs op() under the reconnection rule above. `transacao` is the
    // transaction op works in (may be null). For the layer's own classes.
    template <class F>
    decltype(auto) Operar(Transacao* transacao, F&& op);

    // Drops every handle of a lost attachment and attaches again (the three
    // attempts). Throws the last attempt's error.
    void Reconectar();

private:
    friend class Transacao;
    friend class Consulta;
    void Registrar(Transacao* t) { transacoes_.push_back(t); }
    void Registrar(Consulta* c) { consultas_.push_back(c); }
    void Remover(Transacao* t) noexcept;
    void Remover(Consulta* c) noexcept;
    void FecharCursores(const Transacao& t) noexcept;
    void DescartarHandles() noexcept;
    bool TemAlteracoesPendentes(const Transacao* t) const;
    [[noreturn]] void LancarPerdaDeAlteracoes(const ErroConexaoPerdida& e, const Transacao& t);

    ParametrosConexao parametros_;
    std::string nome_;
    fb::Anexo anexo_;
    std::vector<Transacao*> transacoes_;
    std::vector<Consulta*> consultas_;
    FuncaoPausa pausa_;
    int reconexoes_ = 0;
};

enum class TIsolamento {
    LeituraConfirmada,  // each statement sees what is committed when it runs
    Instantaneo,        // snapshot: the whole transaction sees the database as at its start
};

// How a transaction starts and ends. Write them by name (Leitura(),
// Escrita(), EscritaAutomatica(), .Instantanea()): a list of three bools
// cannot be read. Whatever the options, a transaction that goes out of
// scope still active rolls back: nothing is committed that its owner did
// not commit, or that did not end by FimAutomatico.
struct OpcoesTransacao {
    bool SomenteLeitura = false;
    // Starts at its first statement; otherwise its user starts it (Iniciar).
    bool InicioAutomatico = false;
    // Commits as soon as none of its statements is active; otherwise its
    // user commits it.
    bool FimAutomatico = false;
    TIsolamento Isolamento = TIsolamento::LeituraConfirmada;

    // Reads only; starts at its first statement and ends when its last
    // result set closes.
    static constexpr OpcoesTransacao Leitura() { return {true, true, true}; }
    // Writes; its user starts it and commits it.
    static constexpr OpcoesTransacao Escrita() { return {false, false, false}; }
    // Writes; starts at its first statement and commits when none of its
    // statements is active.
    static constexpr OpcoesTransacao EscritaAutomatica() { return {false, true, true}; }
    // The same options with snapshot isolation.
    constexpr OpcoesTransacao Instantanea() const {
        OpcoesTransacao o = *this;
        o.Isolamento = TIsolamento::Instantaneo;
        return o;
    }
};

class Transacao {
public:
    Transacao(Conexao& conexao, std::string nome, OpcoesTransacao opcoes);
    ~Transacao();
    Transacao(const Transacao&) = delete;
    Transacao& operator=(const Transacao&) = delete;

    const std::string& Nome() const { return nome_; }
    const OpcoesTransacao& Opcoes() const { return opcoes_; }
    Conexao& ConexaoDona() { return conexao_; }

    // Starts it; starting an active transaction is a usage error.
    void Iniciar();
    // Commit and rollback close the result sets still open in it. Both do
    // nothing when the transaction is not active. A rollback that fails
    // drops the whole attachment (the server then undoes the work) before
    // its error reaches the caller, so the work can never be committed.
    void Commit();
    void Rollback();
    bool Ativa() const { return static_cast<bool>(handle_); }

    // For the layer's own classes: the active handle (starting it when it
    // starts automatically; a usage error otherwise), and the bookkeeping
    // of active statements and uncommitted changes.
    Firebird::ITransaction* Garantir();
    void ComandoIniciou() { ++ativos_; }
    void ComandoTerminou();
    void MarcarAlteracao() { alteracoes_ = true; }
    bool TemAlteracoes() const { return Ativa() && alteracoes_; }

private:
    friend class Conexao;
    void StartFb();
    // The attachment is gone: forget the handle without a server call.
    void Perdida() noexcept;

    Conexao& conexao_;
    std::string nome_;
    OpcoesTransacao opcoes_;
    fb::TransacaoFb handle_;
    int ativos_ = 0;
    bool alteracoes_ = false;
    bool reiniciarAposReconexao_ = false;
};

template <class F>
decltype(auto) Conexao::Operar(Transacao* transacao, F&& op) {
    const bool pendentes = TemAlteracoesPendentes(transacao);
    try {
        return op();
    } catch (const ErroConexaoPerdida& e) {
        Reconectar();
        if (pendentes) LancarPerdaDeAlteracoes(e, *transacao);
    }
    return op();
}

}  // namespace ondaris::db
