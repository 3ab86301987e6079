#pragma once
// The operations one synchronisation run calls, on the real engine: the
// global data module's settings row and log position, and the four server
// operations (structure download, block receiving, send position, block
// sending). Both programs and the cycle's tests use this one binding.
//
// Ownership: borrows the data module and the status window; both must
// outlive it. `PastaIni` is the folder of "korvin.ini" that every block's
// own connection reads anew (empty: the executable's folder). It hands its
// own refusal listener to the operations, so it is neither copied nor moved.
// The warning time for sending held back is read from that korvin.ini once,
// at construction.
//
// Receiving keeps one module (connection and prepared statements) from one
// block to the next of a run (db::TModuloDaExecucao) and closes it as soon
// as the run stops receiving: when the server has nothing more, refused, or
// failed, when the run goes on to another operation, when the next run
// starts, and at destruction. Sending keeps another for its loop, closed
// when the loop is over (EnvioRetido), at a failure, when the next run
// starts, and at destruction. The global connection is closed at the end
// of every run too (LiberarConexoes) and opened again by the next: an agent
// waiting for its next run holds no attachment of its own, and none is left
// for the server to cut while the agent waits.
//
// A received value that this store drops, because its table lacks the
// column, is told once per table and column while the program runs (an
// entry in the log and the receive panel, through the cycle); applying
// goes on.
//
// Receiving sets aside commands for rows this store has changed and the
// central server has not yet ordered (sync/receber.h): the pending changes
// are read when the run's first block comes and kept for its other blocks.
//
// The hold on the store database (db/posse.h): claimed right after the
// settings are read, renewed between blocks when a run lasts, its panels
// published at the end of the run, freed by LiberarPosse. The agent is
// named by the executable's name unless DefinirPrograma says otherwise.
//
// Every run starts by opening the global connection when it is not open
// (TDM::Conectar), so an agent that started, or lost its connection, while
// the database server was down carries on by itself once it is back.
#include <chrono>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "db/posse.h"
#include "db/udm.h"
#include "sync/ciclo.h"
#include "sync/janela.h"
#include "sync/pendentes.h"
#include "sync/receber.h"
#include "sync/servidor.h"

namespace ondaris::sync {

class TOperacoesMotor final : public IOperacoesCiclo {
public:
    TOperacoesMotor(db::TDM& DM, IJanelaStatus& janela, TContextoServidor contexto, std::string PastaIni = {});
    TOperacoesMotor(const TOperacoesMotor&) = delete;
    TOperacoesMotor& operator=(const TOperacoesMotor&) = delete;

    void AtualizarConfiguracoes() override;
    std::string LinkCentral() override;
    std::int32_t CodigoLoja() override;
    std::int64_t UltimoRecebimento() override;
    std::int64_t UltimaOrdemLoja() override { return UltimaOrdemLoja_; }

    void ObterEstruturaBanco(const std::string& URL) override;
    std::int64_t ReceberDados(const std::string& URL, std::int32_t CodigoLoja, std::int64_t Ordem,
                              std::int64_t PosicaoConfirmada) override;
    std::vector<TAvisoRecebimento> AvisosRecebimento() override;
    TPosicaoEnvio UltimoMovimentoEnviado(const std::string& URL, std::int32_t CodigoLoja,
                                         std::int64_t UltimoMovimentoLoja) override;
    bool EnviarDados(const std::string& URL, std::int32_t CodigoLoja,
                     std::int64_t Ordem) override;
    std::optional<TRecusa> Recusa() override { return Recusa_; }
    std::optional<TEnvioRetido> EnvioRetido() override;
    std::optional<std::string> LiberarConexoes() override;
    TPosseCiclo ReivindicarPosse() override;
    std::optional<std::string> PublicarPosse(const std::string& recebimento, const std::string& envio,
                                             const std::optional<std::string>& falha) override;
    std::optional<std::string> LiberarPosse() override;

    // How this agent is named to others ("ondarisd (serviço)").
    void DefinirPrograma(std::string programa) { Identidade_.Programa = std::move(programa); }
    const db::TIdentidadeAgente& Identidade() const { return Identidade_; }

    // Only for the tests that show what setting commands aside prevents:
    // from now on every received command is applied as it comes, whatever
    // this store changed and has not yet sent. The programs never call it.
    void AplicarTudoSemPrecedencia() { PrecedenciaLocal_ = false; }

private:
    db::TDM& DM_;
    IJanelaStatus& Janela_;
    TContextoServidor Contexto_;
    std::string PastaIni_;
    std::int64_t UltimaOrdemLoja_ = 0;
    std::optional<TRecusa> Recusa_;  // of the server operation called last
    std::chrono::seconds AvisoEnvioRetido_;  // SegundosEnvioRetido
    // The block procedure's answer for this run's last block, if it asked.
    std::optional<db::TIndicesEnvio> UltimosIndices_;
    db::TModuloDaExecucao Recebimento_;  // the run's receiving module, between its blocks
    db::TModuloDaExecucao Envio_;        // the run's sending module, between its blocks
    // Columns whose received values this store drops: those told already
    // (once per table and column while the program runs), and those of the
    // last ReceberDados still to be told.
    std::set<std::pair<std::string, std::string>> ColunasAvisadas_;
    std::vector<std::pair<std::string, std::string>> ColunasAAvisar_;
    // This store's changes not yet ordered by the server, read once per run
    // when the first block comes.
    TAlteracoesPendentes Pendentes_;
    std::vector<TAvisoRecebimento> Avisos_;  // of the receive steps, until asked for
    // Renews the hold when the run has gone on for a while since the last
    // claim; raises when another agent has taken it meanwhile.
    void RenovarPosse();
    db::TIdentidadeAgente Identidade_;
    bool DetemPosse_ = false;
    std::chrono::steady_clock::time_point UltimaReivindicacao_{};
    bool PrecedenciaLocal_ = true;
    bool PosicaoRepetidaAvisada_ = false;  // told once while the program runs
};

// Another agent as the cycle shows it, from the row of the hold.
TOutroAgente OutroAgente(const db::TDetentorPosse& detentor);

// The notice of a server that sent again the command at the position asked
// for.
std::string TextoPosicaoRepetida(std::int64_t ordem);

// The log entry of a connection to the store database that could not be
// closed: `qual` names it, `causa` is the failure.
std::string TextoFalhaAoFechar(const std::string& qual, const std::string& causa);

// The notice of a received column that this store's table lacks.
std::string TextoColunaAusente(const std::string& tabela, const std::string& coluna, std::int64_t ordem);

}  // namespace ondaris::sync
