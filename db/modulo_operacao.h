#pragma once
// The per-operation module: what one block sent or received, or the blocks
// of one run, work with. It holds its own connection ConexaoOperacao (configured
// from "korvin.ini" read anew, so an edited file takes effect with the next
// module), the
// caller-controlled read-write transaction TransReplicacaoReadWrite, the
// read-only transaction TransReplicacaoReadOnly, and a cache of the block's
// statements by name (compared without regard to case).
//
// TransReplicacaoReadOnly is a snapshot that starts with its first statement
// and lasts until the module closes (or its caller ends it): every read of a
// block sent sees one and the same state of the database, and a blob read
// from a row stays readable while store users update or delete that row,
// since the row versions a running snapshot can see are kept for it.
//
// Constructing it opens the connection (the error of a failed opening
// propagates; nothing is left behind). Destroying it tears everything down,
// on every path: the connection is closed first, which rolls back
// TransReplicacaoReadWrite when its caller left it active (a failed or
// abandoned block never commits) and commits the read-only one; then the
// transactions and the statements go. Call Fechar() to see a failure of that closing; the
// destructor can only report it to the log (db/diagnostico.h).
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>

#include <vector>

#include "db/conexao.h"
#include "db/consulta.h"
#include "db/estrutura.h"

namespace ondaris::db {

class TModuloOperacao {
public:
    // `pasta`: the folder of "korvin.ini"; empty: the executable's folder.
    explicit TModuloOperacao(const std::string& pasta = {});
    ~TModuloOperacao();
    TModuloOperacao(const TModuloOperacao&) = delete;
    TModuloOperacao& operator=(const TModuloOperacao&) = delete;

    // The cached statement of that name, or null.
    Consulta* Procurar(std::string_view nome);
    // Creates and caches a statement (not yet prepared), with exact texts
    // (db/consulta.h): the module's statements carry replicated values,
    // which must arrive as they left, an empty text as an empty text and
    // never cut. The name must be an identifier by IdentificadorValido
    // (protocolo/texto.h), of any length, not used yet in this module.
    Consulta& Criar(const std::string& nome, Transacao& transacao, std::string sql);
    std::size_t QuantidadeConsultas() const { return consultas_.size(); }

    // Closes the connection now (the rule above).
    void Fechar();
    // Ends what a block read: the statements run in TransReplicacaoReadOnly
    // go and the snapshot is committed, so that the next block, on the same
    // connection, reads from a snapshot of its own and prepares its reads
    // as a new module would.
    void EncerrarLeitura();

    Conexao ConexaoOperacao;
    Transacao TransReplicacaoReadWrite;
    Transacao TransReplicacaoReadOnly;

private:
    // Declared last: statements go before the transactions and connection.
    std::unordered_map<std::string, std::unique_ptr<Consulta>> consultas_;
};

// A module kept from one block to the next of a run, so that the
// connection and the statements of a run are made once instead of once per
// block. Owned by whoever runs the blocks in a loop (the receiving and the
// sending session of sync/operacoes.h). Between blocks it holds no
// transaction, so closing it commits nothing and an idle one holds no lock
// and no old snapshot. After any failure it is dropped (Descartar), so a
// connection that saw a failure never serves another block. Statements
// built from a structure list never serve another: a module taken under
// another list than the one it was opened with is closed and opened anew.
// Liberar() closes it when the run no longer needs it (an idle agent keeps
// no attachment); the destructor does the same.
class TModuloDaExecucao {
public:
    TModuloDaExecucao() = default;
    ~TModuloDaExecucao();
    TModuloDaExecucao(const TModuloDaExecucao&) = delete;
    TModuloDaExecucao& operator=(const TModuloDaExecucao&) = delete;

    // The open module, opened now from the korvin.ini in `pasta` (empty:
    // the executable's folder) when there is none or, when `estrutura` is
    // given, it differs from the list the module was opened under.
    TModuloOperacao& Tomar(const std::string& pasta, const TEstrutura* estrutura = nullptr);
    // Closes the module, raising a failure of that closing.
    void Liberar();
    // Drops the module after a failure; a failure of the closing itself
    // can only go to the log (db/diagnostico.h).
    void Descartar() noexcept;
    bool Aberto() const { return static_cast<bool>(modulo_); }

private:
    std::unique_ptr<TModuloOperacao> modulo_;
    std::vector<TLinhaEstrutura> estrutura_;  // the list the module's statements were built from
};

// The module one block works in: the run's (`daExecucao`), or one of the
// block's own when there is none. Unless the block ends with Concluir(),
// the run's is dropped and the block's own is destroyed (its closing rolls
// back what its caller left active).
class TModuloDoBloco {
public:
    TModuloDoBloco(TModuloDaExecucao* daExecucao, std::string pasta, const TEstrutura* estrutura = nullptr)
        : daExecucao_(daExecucao), pasta_(std::move(pasta)), estrutura_(estrutura) {}
    ~TModuloDoBloco();
    TModuloDoBloco(const TModuloDoBloco&) = delete;
    TModuloDoBloco& operator=(const TModuloDoBloco&) = delete;

    // Takes the run's module, or opens the block's own.
    void Abrir();
    // The block is done: the run's module ends the block's reading and
    // stays for the next block; the block's own is closed.
    void Concluir();
    explicit operator bool() const { return modulo_ != nullptr; }
    TModuloOperacao* operator->() { return modulo_; }
    TModuloOperacao& operator*() { return *modulo_; }

private:
    TModuloDaExecucao* daExecucao_;
    std::string pasta_;
    const TEstrutura* estrutura_;
    std::unique_ptr<TModuloOperacao> proprio_;
    TModuloOperacao* modulo_ = nullptr;
    bool concluido_ = false;
};

}  // namespace ondaris::db
