#pragma once
// RPL_POSTOS_DE_LADO: the commands a technician set aside because they
// stopped this store for good (sync/de_lado.h). A row of this store's log
// that cannot be sent is moved there whole, out of the log; a received
// command this store cannot apply is recorded there by the receive code,
// in the transaction that moves the received position past it
// (sync/receber.h). Nothing here runs by itself.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "db/conexao.h"

namespace ondaris::db {

// The log row set aside, as the log held it.
struct TLinhaLogPostaDeLado {
    std::int64_t Ordem = 0;
    std::string Tipo;
    std::string Tabela;
    std::string Chave1;
    std::string Chave2;
};

// Moves the log row `ordem` into RPL_POSTOS_DE_LADO (LADO 'E', every column
// of the log row, `motivo`) and deletes it from LOG_REPLICACAO, in one
// transaction, committed. Nothing when the log has no such row (nothing
// changed). The block procedure passes over the empty position, and the
// block's bounds tell the central server to move past it.
std::optional<TLinhaLogPostaDeLado> PorDeLadoLinhaLog(Conexao& conexao, std::int64_t ordem,
                                                      const std::string& motivo);

struct TPostoDeLado {
    bool Recebido = false;  // LADO 'R'; otherwise a row of this store's log
    std::int64_t Ordem = 0;
    std::string Momento;    // "yyyy-mm-dd hh:mm:ss"
    std::string Descricao;  // the table and key of a log row; the received command's table
};

struct TPostosDeLado {
    std::int64_t Recebidos = 0;
    std::int64_t Enviados = 0;
    std::vector<TPostoDeLado> Ultimos;  // newest first
};

// How many were set aside on each side and the latest `quantos`.
TPostosDeLado LerPostosDeLado(Conexao& conexao, int quantos);

}  // namespace ondaris::db
