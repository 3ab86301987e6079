#pragma once
// The change log as sending reads it: the last position logged, the bounds
// of the next block and what holds it back, and the query of a block's log
// rows. The fixed statements run on the global connection, in its
// transaction; the block's rows in the block's own.
#include <cstdint>
#include <optional>
#include <string>

#include "db/conexao.h"
#include "db/consulta.h"
#include "protocolo/datahora.h"

namespace ondaris::db {

// The open store transaction whose reservation sets the block limit (see
// sql/replicacao.sql): who made it, as the server knew it then.
struct TRetentorEnvio {
    std::int64_t Transacao = 0;
    std::optional<std::int64_t> Conexao;  // the attachment (CURRENT_CONNECTION)
    std::string Usuario;
    std::string Endereco;  // client address
    std::string Programa;  // client program
    std::optional<protocolo::DataHora> Momento;  // when it reserved, server time
};

// What PROC_RETORNA_INDICE answers for the next block.
struct TIndicesEnvio {
    std::int64_t OrdemInicial = 0;
    std::int64_t OrdemFinal = 0;
    std::int64_t UltimaOrdem = 0;  // the highest committed position
    // The highest position no open transaction may still fill; absent when
    // the database's procedure does not say (objects of an older script).
    std::optional<std::int64_t> Limite;
    std::optional<TRetentorEnvio> Retentor;
    // The database server's time when it answered (CURRENT_TIMESTAMP of the
    // same statement): the clock the holder's Momento was read from.
    std::optional<protocolo::DataHora> MomentoServidor;
    // Committed changes wait behind a store transaction that is still open.
    bool Retido() const { return Limite && *Limite < UltimaOrdem && Retentor; }
};

class TLogReplicacao {
public:
    static const char* const kSqlUltimoMovimentoLoja;
    static const char* const kSqlRetornaIndices;
    // A block's log rows, :ORDEMINICIAL to :ORDEMFINAL, in position order.
    static const char* const kSqlLogReplicacao;

    // Both outlive it.
    TLogReplicacao(Conexao& conexao, Transacao& transacao);

    // MAX(ORDEM) of the log, 0 when it is empty.
    std::int64_t UltimoMovimentoLoja();
    // Bounds of the next block to send after `ordem` (inclusive both), of
    // at most `quantidade` commands, and what holds it back.
    TIndicesEnvio RetornaIndices(std::int64_t ordem, std::int32_t quantidade);

private:
    Consulta ultimoMovimento_;
    Consulta indices_;
};

}  // namespace ondaris::db
