#pragma once
// The per-operation module: what one block sent, or the blocks one run
// receives, work with. It holds its own connection ConnQuelbor (configured
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
// destructor can only report it on stderr.
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>

#include "db/conexao.h"
#include "db/consulta.h"

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
    // Creates and caches a statement (not yet prepared). The name must be
    // an identifier (letters, digits, underscore, starting with a letter)
    // not used yet in this module.
    Consulta& Criar(const std::string& nome, Transacao& transacao, std::string sql);
    std::size_t QuantidadeConsultas() const { return consultas_.size(); }

    // Closes the connection now (the rule above).
    void Fechar();

    Conexao ConnQuelbor;
    Transacao TransReplicacaoReadWrite;
    Transacao TransReplicacaoReadOnly;

private:
    // Declared last: statements go before the transactions and connection.
    std::unordered_map<std::string, std::unique_ptr<Consulta>> consultas_;
};

}  // namespace ondaris::db
