#include "sync/ciclo.h"

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

    std::int64_t UltimaOrdem = -1;
    while (UltimaOrdem != 0 && Erro.empty()) {
        if (ParadaPedida()) {
            return;
        }
        const std::int64_t posicao = Operacoes_.UltimoRecebimento();
        UltimaOrdem = Operacoes_.ReceberDados(Erro, Operacoes_.LinkCentral(),
                                              Operacoes_.CodigoLoja(), posicao);
        // A server that keeps announcing more while the stored position stays
        // put would keep this loop requesting the same block for ever.
        if (UltimaOrdem != 0 && Erro.empty() && Operacoes_.UltimoRecebimento() == posicao) {
            Registrar_("Recebimento interrompido nesta sincronização: a posição recebida "
                       "não avançou de " + std::to_string(posicao) +
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

    while (UltimoMovimentoEnv.UltimoMovimentoLoja > UltimoMovimentoEnv.UltimaOrdemEnviada &&
           Erro.empty()) {
        if (ParadaPedida()) {
            return;
        }
        const std::int64_t enviada = UltimoMovimentoEnv.UltimaOrdemEnviada;
        Mostrar(&IJanelaStatus::StatusEnvio, TextoEnviandoBloco + std::to_string(enviada));
        Operacoes_.EnviarDados(Erro, Operacoes_.LinkCentral(), Operacoes_.CodigoLoja(), enviada);
        Mostrar(&IJanelaStatus::StatusEnvio, TextoVerificandoEnvio);
        UltimoMovimentoEnv = Operacoes_.UltimoMovimentoEnviado(
            Erro, Operacoes_.LinkCentral(), Operacoes_.CodigoLoja(), UltimaOrdemLoja);
        // A block the server keeps refusing would otherwise be sent again and
        // again without pause; the next run tries it again.
        if (Erro.empty() &&
            UltimoMovimentoEnv.UltimoMovimentoLoja > UltimoMovimentoEnv.UltimaOrdemEnviada &&
            UltimoMovimentoEnv.UltimaOrdemEnviada == enviada) {
            Registrar_("Envio interrompido nesta sincronização: a posição confirmada pelo "
                       "servidor não avançou de " + std::to_string(enviada));
            break;
        }
    }
    Mostrar(&IJanelaStatus::StatusEnvio, TextoEnvioConcluido);
}

}  // namespace ondaris::sync
