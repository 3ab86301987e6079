#pragma once
// The operations one synchronisation run calls, on the real engine: the
// global data module's settings row and log position, and the four server
// operations (structure download, block receiving, send position, block
// sending). Both programs and the cycle's tests use this one binding.
//
// Ownership: borrows the data module and the status window; both must
// outlive it, and it must outlive the sessions it opens, which borrow it.
// `PastaIni` is the folder of "korvin.ini" that every block's own
// connection reads anew (empty: the executable's folder). The warning time
// for sending held back is read from that korvin.ini once, at construction.
//
// Receiving and sending each work in a session (sync/ciclo.h) that owns one
// module (connection and prepared statements, db::TModuloDaExecucao) from
// one block to the next of its loop; the cycle owns the session, and the
// module closes when the loop ends, whichever way. A session's pending
// changes and last block bounds are its own, so nothing of one run is left
// for the next. The global connection is closed at the end of every run too
// (LiberarConexoes) and opened again by the next: an agent waiting for its
// next run holds no attachment of its own, and none is left for the server
// to cut while the agent waits.
//
// A received value that this store drops, because its table lacks the
// column, is told once per table and column while the program runs (an
// entry in the log and the receive panel, through the cycle); applying
// goes on.
//
// Receiving sets aside commands for rows this store has changed and the
// central server has not yet ordered (sync/receber.h): the pending changes
// are read when the session's first block comes and kept for its other
// blocks.
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
#include <memory>
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

    std::optional<TRecusa> ObterEstruturaBanco(const std::string& URL) override;
    std::unique_ptr<ISessaoRecebimento> AbrirRecebimento(std::int64_t PosicaoConfirmada) override;
    std::vector<TAvisoRecebimento> AvisosRecebimento() override;
    TResultado<TPosicaoEnvio> UltimoMovimentoEnviado(const std::string& URL, std::int32_t CodigoLoja,
                                                     std::int64_t UltimoMovimentoLoja) override;
    std::unique_ptr<ISessaoEnvio> AbrirEnvio() override;
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
    class TSessaoRecebimento;
    class TSessaoEnvio;

    db::TDM& DM_;
    IJanelaStatus& Janela_;
    TContextoServidor Contexto_;
    std::string PastaIni_;
    std::int64_t UltimaOrdemLoja_ = 0;
    std::chrono::seconds AvisoEnvioRetido_;  // SegundosEnvioRetido
    // Columns whose received values this store drops: those told already
    // (once per table and column while the program runs), and those of the
    // last ReceberDados still to be told.
    std::set<std::pair<std::string, std::string>> ColunasAvisadas_;
    std::vector<std::pair<std::string, std::string>> ColunasAAvisar_;
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
