#include "sync/ciclo.h"

#include <set>
#include <thread>
#include <utility>

namespace ondaris::sync {

std::string FormatarNumero(int Numero) {
    if (Numero >= 10) {
        return std::to_string(Numero);
    }
    return "0" + std::to_string(Numero);
}

std::string ConverteSegundosemMinutos(int Segundos) {
    if (Segundos >= 60) {
        const int minutos = Segundos / 60;  // positive: truncation equals the floor
        const int segundos = Segundos - 60 * minutos;
        return FormatarNumero(minutos) + ":" + FormatarNumero(segundos);
    }
    return "00:" + FormatarNumero(Segundos);
}

TCiclo::TCiclo(IOperacoesCiclo& operacoes, IJanelaStatus& janela, TRegistrar registrar,
               TDormir dormir, TParada parada)
    : Operacoes_(operacoes),
      Janela_(janela),
      Registrar_(std::move(registrar)),
      Dormir_(std::move(dormir)),
      Parada_(std::move(parada)) {
    if (!Dormir_) {
        Dormir_ = [](std::chrono::milliseconds ms) { std::this_thread::sleep_for(ms); };
    }
    if (!Registrar_) {
        Registrar_ = [](const std::string&) {};
    }
}

void TCiclo::Iniciar() {
    Estado_ = TEstadoCiclo::ecAguardando;
}

void TCiclo::Tick() {
    switch (Estado_) {
        case TEstadoCiclo::ecAguardando:
            TimerTimer();
            break;
        case TEstadoCiclo::ecContagemRegressiva:
            TimerContagemRegressivaTimer();
            break;
        case TEstadoCiclo::ecParado:
        case TEstadoCiclo::ecExecutando:
            break;
    }
}

void TCiclo::TimerTimer() {
    if (Estado_ == TEstadoCiclo::ecExecutando) {
        return;  // a run never re-enters itself
    }
    Estado_ = TEstadoCiclo::ecExecutando;
    TempoRestante_ = SegundosContagemRegressiva;
    try {
        ExecutarPassos();
    } catch (...) {
        IniciarContagemRegressiva();
        throw;  // the owner's exception handler logs it
    }
    IniciarContagemRegressiva();
}

void TCiclo::IniciarContagemRegressiva() {
    Estado_ = TEstadoCiclo::ecContagemRegressiva;
}

void TCiclo::TimerContagemRegressivaTimer() {
    Janela_.Cronometro(ConverteSegundosemMinutos(TempoRestante_));
    if (TempoRestante_ == 0) {
        Estado_ = TEstadoCiclo::ecAguardando;
    } else {
        --TempoRestante_;
    }
}

void TCiclo::Mostrar(void (IJanelaStatus::*painel)(const std::string&), const std::string& texto) {
    (Janela_.*painel)(texto);
    Janela_.ProcessarMensagens();
}

void TCiclo::Pausar() {
    Dormir_(DuracaoPausa);
    Janela_.ProcessarMensagens();
}

void TCiclo::ExecutarPassos() {
    Operacoes_.AtualizarConfiguracoes();
    if (ParadaPedida()) {
        return;
    }
    ReceberTudo();
    if (ParadaPedida()) {
        return;
    }
    EnviarTudo();
}

void TCiclo::ReceberTudo() {
    std::string Erro;
    Operacoes_.ObterEstruturaBanco(Erro, Operacoes_.LinkCentral());

    // A server that keeps announcing more while the stored position stays
    // put, or moves it back to one already asked from, would keep this loop
    // requesting for ever: it stops at a position this run has asked from.
    std::set<std::int64_t> pedidas;
    std::int64_t UltimaOrdem = -1;
    while (UltimaOrdem != 0 && Erro.empty()) {
        if (ParadaPedida()) {
            return;
        }
        const std::int64_t posicao = Operacoes_.UltimoRecebimento();
        pedidas.insert(posicao);
        UltimaOrdem = Operacoes_.ReceberDados(Erro, Operacoes_.LinkCentral(),
                                              Operacoes_.CodigoLoja(), posicao);
        const std::int64_t nova = Operacoes_.UltimoRecebimento();
        if (UltimaOrdem != 0 && Erro.empty() && pedidas.count(nova) != 0) {
            Registrar_("Recebimento interrompido nesta sincronização: a posição recebida " +
                       (nova == posicao ? "não avançou de " + std::to_string(posicao)
                                        : "voltou de " + std::to_string(posicao) + " para " +
                                              std::to_string(nova) + ", já pedida nesta sincronização") +
                       " (o servidor informou ultimaordem " + std::to_string(UltimaOrdem) + ")");
            break;
        }
    }
    Mostrar(&IJanelaStatus::StatusRecebimento, TextoRecebimentoConcluido);
}

void TCiclo::EnviarTudo() {
    Mostrar(&IJanelaStatus::StatusEnvio, TextoVerificandoEnvio);
    Pausar();

    // Read once per run: changes logged during the run go with a later run.
    const std::int64_t UltimaOrdemLoja = Operacoes_.UltimaOrdemLoja();
    std::string Erro;
    TPosicaoEnvio UltimoMovimentoEnv = Operacoes_.UltimoMovimentoEnviado(
        Erro, Operacoes_.LinkCentral(), Operacoes_.CodigoLoja(), UltimaOrdemLoja);
    Erro.clear();  // a failed first query leaves zeros: nothing is sent

    // A block the server keeps refusing, or an acknowledged position that
    // goes back to one already sent from, would otherwise have blocks sent
    // again and again without pause; the next run tries again.
    std::set<std::int64_t> enviadas;
    while (UltimoMovimentoEnv.UltimoMovimentoLoja > UltimoMovimentoEnv.UltimaOrdemEnviada &&
           Erro.empty()) {
        if (ParadaPedida()) {
            return;
        }
        const std::int64_t enviada = UltimoMovimentoEnv.UltimaOrdemEnviada;
        enviadas.insert(enviada);
        Mostrar(&IJanelaStatus::StatusEnvio, TextoEnviandoBloco + std::to_string(enviada));
        const bool haviaBloco =
            Operacoes_.EnviarDados(Erro, Operacoes_.LinkCentral(), Operacoes_.CodigoLoja(), enviada);
        Mostrar(&IJanelaStatus::StatusEnvio, TextoVerificandoEnvio);
        UltimoMovimentoEnv = Operacoes_.UltimoMovimentoEnviado(
            Erro, Operacoes_.LinkCentral(), Operacoes_.CodigoLoja(), UltimaOrdemLoja);
        // A sale still open holds the next position: the rest goes with a
        // later run. Only when it stays held for long is it told (below).
        if (!haviaBloco && Erro.empty()) break;
        const std::int64_t confirmada = UltimoMovimentoEnv.UltimaOrdemEnviada;
        if (Erro.empty() && UltimoMovimentoEnv.UltimoMovimentoLoja > confirmada &&
            enviadas.count(confirmada) != 0) {
            Registrar_("Envio interrompido nesta sincronização: a posição confirmada pelo servidor " +
                       (confirmada == enviada ? "não avançou de " + std::to_string(enviada)
                                              : "voltou de " + std::to_string(enviada) + " para " +
                                                    std::to_string(confirmada) +
                                                    ", de onde já se enviou nesta sincronização"));
            break;
        }
    }
    const std::optional<TEnvioRetido> retido = Operacoes_.EnvioRetido();
    if (retido && !retido->Registro.empty()) Registrar_(retido->Registro);
    Mostrar(&IJanelaStatus::StatusEnvio, retido ? retido->TextoPainel : std::string(TextoEnvioConcluido));
}

}  // namespace ondaris::sync
