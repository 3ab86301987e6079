#pragma once
// ReceberDados: one request for the next block of commands the central
// server holds for this store, and the block applied to the store database.
//
// Phase 1 asks "receber/<store>/<position>" and returns the block's
// positions (TTipoUltimoMovimentoRecebido). An answer other than 200 below
// 500 is not an error: the refusal is the result, nothing is raised. A
// failed exchange or a position that cannot be read is raised as it came
// (TErroServidorCentral).
//
// Phase 2 runs when the answer was 200 and "ultimaordem" is not 0. It
// applies "comandos" in order inside a per-operation module (its own
// connection, opened from the korvin.ini in PastaIni: the run's module when
// the caller keeps one, otherwise one closed on every path of this block),
// one local transaction per run of equal "idtransacao"; "-1"
// commands join the transaction in progress, which is also committed at a
// "-1" command that follows 2000 or more commands of one id. ULTIMORECEBIMENTO
// moves only at commit points, to the "ordem" of the last command that
// the commit covered, so after any failure the next request gets again
// every command that was rolled back, and none is skipped. An "acao" of
// "S" changes nothing and is passed over; any acao other than "U", "D" or
// "S" fails the block. Text keeps every character the store's character
// set can hold, and arrives whole: an empty text as an empty text, line
// breaks as sent; a text longer than its column fails the block.
//
// Received commands and this store's own changes: a command for a row that
// this store has changed since the central server last acknowledged its
// log (a log row above "ultimaordemenviada", TAlteracoesPendentes) is set
// aside, not applied; the position still moves past it. The store's own
// change goes to the server after it, is ordered after it, and so is the
// one every store ends with, this one included. Each command set aside is
// told once, after the position has moved past it for good. Without a
// pending set (a caller outside a synchronisation run, which has not asked
// the server how far it holds the log) every command is applied.
//
// Failures while applying roll back the transaction in progress (earlier
// groups stay committed) and raise ErroRotina (db/erros.h): "Falha ao
// executar a rotina ReceberDados: " and the failure's message (a command
// that the database refused is named by its ordem), the failure kept as
// its cause: a database refusal (ErroConexaoPerdida, ErroConflitoBloqueio,
// ErroBanco) or a block that cannot be used as it stands
// (TErroRespostaInvalida: malformed, an unknown acao, an unreadable value).
// A statement that cannot be prepared raises PrepararDataset's own failure.
//
// Qt-free: the window is reached through IJanelaStatus, whose messages are
// pumped once per block.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "db/estrutura.h"
#include "db/modulo_operacao.h"
#include "db/udm.h"
#include "sync/janela.h"
#include "sync/pendentes.h"
#include "sync/servidor.h"

namespace ondaris::sync {

// Commands executed under one transaction id after which a "-1" command
// commits the work so far.
inline constexpr std::int32_t kLimiteComandosTransacao = 2000;

// What ReceberDados works with besides its arguments. Nothing is owned.
struct TAmbienteRecebimento {
    db::TDM& DM;              // settings row write-back, catalogue and structure list
    IJanelaStatus& Janela;    // PnStatusRecebimento and the message pump
    TContextoServidor Contexto;
    std::string PastaIni;     // folder of korvin.ini for the block's connection; empty: the executable's
    // The run's module, kept between blocks; null: each block opens and
    // closes a module of its own.
    db::TModuloDaExecucao* Modulo = nullptr;
    // Told of a member of "campos" that matches no parameter of its
    // statement because this store's table lacks that column (its value is
    // dropped, the rest of the row applied): table, column and the
    // command's ordem, for every such member of a block applied or not.
    // A member of a column the table has but the structure list does not
    // name is dropped without a word: the list decides what is written.
    std::function<void(const std::string& tabela, const std::string& coluna, std::int64_t ordem)>
        AoDescartarColuna{};
    // This store's changes that the server has not yet ordered, prepared
    // here for PosicaoConfirmada (kept by the caller from block to block of
    // a run); null: every command is applied.
    TAlteracoesPendentes* Pendentes = nullptr;
    // "ultimaordemenviada" as the server answered it in this run, before
    // receiving.
    std::int64_t PosicaoConfirmada = 0;
    // Told when the answer began with the command at the position asked
    // for (the one applied last, sent again by a server that answers from
    // that position on): it was left out, not applied again.
    std::function<void(std::int64_t ordem)> AoRepetirPosicao{};
    // Told once of each command set aside, with the log entry's text.
    std::function<void(const std::string&)> AoPorDeLado{};
    // The technician's command to set aside a received command this store
    // cannot apply (sync/de_lado.h): the command of this "ordem" must be in
    // the block, or nothing runs. The commands before it are applied as
    // ever; it runs alone and, only when it fails, is recorded whole in
    // RPL_POSTOS_DE_LADO with the failure's text in the transaction that
    // moves the position past it; the commands after it are left for the
    // next cycle. One that applies fails the block (rolled back); the
    // failure's text recorded comes back with the block's result.
    std::optional<std::int64_t> PorDeLado{};
};

TResultado<TTipoUltimoMovimentoRecebido> ReceberDados(std::string_view URL, std::int32_t CodigoLoja,
                                                      std::int64_t Ordem, TAmbienteRecebimento& ambiente);

// The receive panel's text while a block is applied.
std::string TextoGravandoBloco(std::int64_t OrdemInicial, std::int64_t OrdemFinal, std::int64_t UltimaOrdem);

}  // namespace ondaris::sync
