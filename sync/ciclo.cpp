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

std::string TextoRecusa(const TRecusa& recusa) {
    // The request is named without the link's user and secret (DescreverPedido).
    std::string texto = recusa.StatusCode == 401
                            ? std::string(kTextoCredenciaisRecusadas) + " em " + recusa.Pedido + ": 401"
                            : "O servidor central recusou " + recusa.Pedido + ": " + std::to_string(recusa.StatusCode);
    if (!recusa.FraseStatus.empty()) {
        texto += " " + recusa.FraseStatus;
    }
    const std::string trecho = TrechoDoCorpo(recusa.Conteudo);
    return texto + (trecho.empty() ? " (sem texto)" : ": " + trecho);
}

TCiclo::TCiclo(IOperacoesCiclo& operacoes, IJanelaStatus& janela, TRegistrar registrar,
               TDormir dormir, TParada parada, TRelogio agora)
    : Operacoes_(operacoes),
      Janela_(janela),
      Registrar_(std::move(registrar)),
      Dormir_(std::move(dormir)),
      Parada_(std::move(parada)),
      Agora_(std::move(agora)) {
    if (!Dormir_) {
        Dormir_ = [](std::chrono::milliseconds ms) { std::this_thread::sleep_for(ms); };
    }
    if (!Registrar_) {
        Registrar_ = [](const std::string&) {};
    }
    if (!Agora_) {
        Agora_ = [] { return std::chrono::steady_clock::now(); };
    }
}

TCiclo::~TCiclo() {
    if (!DetemPosse_) return;
    try {
        if (const std::optional<std::string> falha = Operacoes_.LiberarPosse()) Registrar_(*falha);
    } catch (...) {
        // LiberarPosse never raises; a log that cannot be written is no
        // reason to end a program that is stopping anyway.
    }
}

std::string TextoPosseRecusada(const TOutroAgente& outro) {
    return "Outro agente sincroniza este banco: " + outro.Descricao +
           ". Este agente não sincroniza enquanto aquele tiver a posse do banco e mostra o estado dele; para que "
           "este sincronize, pare o outro (a posse passa para este na sincronização seguinte)";
}

std::string TextoPosseAssumida(const std::string& anterior) {
    return "Este agente assumiu a sincronização deste banco, que estava com " + anterior +
           ": a posse daquele venceu sem ser renovada (o agente parou sem liberá-la ou perdeu o acesso ao banco)";
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
    Incompleta_ = false;
    Retido_ = false;
    EnvioIniciado_ = false;
    OutroAgente_ = false;
    PosseNestaExecucao_ = false;
    try {
        ExecutarPassos();
    } catch (const std::exception& e) {
        const std::string texto = *e.what() ? e.what() : TextoInterrompido;
        MostrarFalha(texto);
        TerminarExecucao(texto);
        throw;  // the owner's exception handler logs it
    } catch (...) {
        MostrarFalha(TextoInterrompido);
        TerminarExecucao(std::string(TextoInterrompido));
        throw;
    }
    FalhaRegistrada_.reset();  // a later failure is news again
    TerminarExecucao();
}

void TCiclo::TerminarExecucao(const std::optional<std::string>& falha) {
    // What this run showed, for an agent refused the database to show.
    if (PosseNestaExecucao_) {
        if (const std::optional<std::string> erro = Operacoes_.PublicarPosse(PainelRecebimento_, PainelEnvio_, falha)) {
            Incompleta_ = true;
            // After a failed run it is that failure's consequence (the
            // database gone, most often), and the failure is logged already.
            if (!falha && RegistrarDeNovo(PublicacaoRegistrada_, *erro)) Registrar_(*erro);
        } else {
            PublicacaoRegistrada_.reset();
        }
    }
    if (const std::optional<std::string> erro = Operacoes_.LiberarConexoes()) Interromper(*erro);
    IniciarContagemRegressiva();
}

bool TCiclo::Reivindicar() {
    TPosseCiclo posse = Operacoes_.ReivindicarPosse();
    if (!posse.Detentor) {
        if (posse.Anterior) {
            Registrar_(TextoPosseAssumida(*posse.Anterior));
        } else if (DetentorRegistrado_) {
            Registrar_(TextoPosseRetomada);
        }
        DetentorRegistrado_.reset();  // a later refusal is news again
        DetemPosse_ = true;
        PosseNestaExecucao_ = true;
        return true;
    }
    const TOutroAgente& outro = *posse.Detentor;
    DetemPosse_ = false;
    OutroAgente_ = true;
    Incompleta_ = true;
    // Once per holder, however long it holds the database: a refusal every
    // run would fill the log of a tray program left open beside the service.
    if (RegistrarDeNovo(DetentorRegistrado_, outro.Chave, std::chrono::steady_clock::duration::max()))
        Registrar_(TextoPosseRecusada(outro));
    Janela_.StatusRecebimento(outro.Nome + ": " +
                              (outro.PainelRecebimento.empty() ? std::string(TextoOutroAgenteSemPainel)
                                                               : outro.PainelRecebimento));
    Janela_.StatusEnvio(outro.Falha ? *outro.Falha : outro.PainelEnvio);
    EnvioConcluidoNoPainel_ = false;
    Janela_.ProcessarMensagens();
    return false;
}

bool TCiclo::RegistrarDeNovo(std::optional<TEntradaRegistrada>& registrada, std::string chave,
                             std::chrono::steady_clock::duration intervalo) {
    const auto agora = Agora_();
    if (registrada && registrada->Chave == chave && agora - registrada->Quando < intervalo) return false;
    registrada = TEntradaRegistrada{std::move(chave), agora};
    return true;
}

bool TCiclo::RegistrarFalha(const std::string& texto) { return RegistrarDeNovo(FalhaRegistrada_, texto); }

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

void TCiclo::Mostrar(TPainel painel, const std::string& texto) {
    (Janela_.*painel)(texto);
    if (painel == &IJanelaStatus::StatusEnvio) {
        EnvioConcluidoNoPainel_ = texto == TextoEnvioConcluido;
        PainelEnvio_ = texto;
    } else {
        PainelRecebimento_ = texto;
    }
    Janela_.ProcessarMensagens();
}

void TCiclo::MostrarFalha(const std::string& texto) {
    Incompleta_ = true;
    const std::string falha = texto.empty() ? std::string(TextoInterrompido) : texto;
    // No message pump here: the owner is about to log the failure, and the
    // window gets its turn as soon as the handler returns.
    if (EnvioIniciado_) {
        Janela_.StatusEnvio(falha);
        PainelEnvio_ = falha;
    } else {
        Janela_.StatusRecebimento(falha);
        PainelRecebimento_ = falha;
        // The send panel still tells of an earlier run's success: this run
        // never got there.
        if (EnvioConcluidoNoPainel_) {
            Janela_.StatusEnvio(TextoInterrompido);
            PainelEnvio_ = TextoInterrompido;
        }
    }
    EnvioConcluidoNoPainel_ = false;
}

void TCiclo::Interromper(const std::string& texto) {
    Incompleta_ = true;
    Registrar_(texto);
}

std::optional<std::string> TCiclo::Conferir(TEtapa etapa, const TRecusa* recusa) {
    std::optional<TEntradaRegistrada>& registrada = Registradas_[etapa];
    if (!recusa) {
        registrada.reset();  // accepted: a later refusal is news again
        return std::nullopt;
    }
    Incompleta_ = true;
    const std::string texto = TextoRecusa(*recusa);
    // The request's positions are left out: they change from run to run
    // while the server keeps refusing for the same reason.
    std::string chave = std::to_string(recusa->StatusCode) + '\n' + recusa->FraseStatus + '\n' + recusa->Conteudo;
    if (RegistrarDeNovo(registrada, std::move(chave))) Registrar_(texto);
    return texto;
}

std::optional<std::string> TCiclo::ConferirRetencao(ISessaoEnvio& sessao) {
    std::optional<TEnvioRetido> retido = sessao.EnvioRetido();
    if (!retido) {
        RetencaoRegistrada_.reset();  // no longer held: a later holding is news again
        return std::nullopt;
    }
    Retido_ = true;
    if (RegistrarDeNovo(RetencaoRegistrada_, retido->Registro, IntervaloRepeticaoEnvioRetido))
        Registrar_(retido->Registro);
    return std::move(retido->TextoPainel);
}

void TCiclo::Pausar() {
    Dormir_(DuracaoPausa);
    Janela_.ProcessarMensagens();
}

void TCiclo::ExecutarPassos() {
    Operacoes_.AtualizarConfiguracoes();
    // One agent per store database: another one's run would receive and
    // apply the same blocks.
    if (!Reivindicar()) return;
    if (ParadaPedida()) {
        return;
    }
    const std::optional<TRecusa> recusaEstrutura = Operacoes_.ObterEstruturaBanco(Operacoes_.LinkCentral());
    // A refused download skips receiving.
    const std::optional<std::string> problemaEstrutura =
        Conferir(etEstrutura, recusaEstrutura ? &*recusaEstrutura : nullptr);
    if (ParadaPedida()) {
        return;
    }
    // How far the server holds this store's log is asked before receiving:
    // receiving sets aside commands for rows this store changed beyond that
    // position, so the answer must be the server's current one. An earlier
    // answer could be behind it (a block stored whose answer never came
    // back), and a command that ought to win would be set aside. Receiving
    // sends nothing and only this store's blocks move that position, so the
    // same answer starts the send loop. Refused, it skips both; failed, it
    // ends the run, as any failure does.
    const TResultado<TPosicaoEnvio> posicao =
        Operacoes_.UltimoMovimentoEnviado(Operacoes_.LinkCentral(), Operacoes_.CodigoLoja(), Operacoes_.UltimaOrdemLoja());
    const std::optional<std::string> problemaPosicao = Conferir(etPosicaoEnvio, posicao.Recusa());
    // Refused, both loops are skipped and the position is never read.
    const TPosicaoEnvio lida = posicao.Recusado() ? TPosicaoEnvio{} : *posicao;
    ReceberTudo(problemaEstrutura ? problemaEstrutura : problemaPosicao, lida.UltimaOrdemEnviada);
    if (ParadaPedida()) {
        return;
    }
    EnviarTudo(lida, problemaPosicao);
}

void TCiclo::RegistrarAvisos(std::optional<std::string>& painel) {
    for (TAvisoRecebimento& aviso : Operacoes_.AvisosRecebimento()) {
        Registrar_(aviso.Texto);
        if (aviso.NoPainel) painel = std::move(aviso.Texto);
    }
}

void TCiclo::ReceberTudo(std::optional<std::string> problema, std::int64_t confirmada) {
    // A server that keeps announcing more while the stored position stays
    // put, or moves it back to one already asked from, would keep this loop
    // requesting for ever: it stops at a position this run has asked from.
    std::set<std::int64_t> pedidas;
    std::int64_t UltimaOrdem = -1;
    std::optional<std::string> aviso;
    // Its connection and statements serve every block of this loop and go
    // with it, whichever way the loop ends.
    const std::unique_ptr<ISessaoRecebimento> sessao = Operacoes_.AbrirRecebimento(confirmada);
    while (!problema && UltimaOrdem != 0) {
        if (ParadaPedida()) {
            return;
        }
        const std::int64_t posicao = Operacoes_.UltimoRecebimento();
        const std::int32_t loja = Operacoes_.CodigoLoja();
        pedidas.insert(posicao);
        std::optional<TResultado<std::int64_t>> recebido;
        try {
            recebido = sessao->ReceberDados(Operacoes_.LinkCentral(), loja, posicao);
        } catch (...) {
            RegistrarAvisos(aviso);  // of the groups committed before the failure
            throw;
        }
        RegistrarAvisos(aviso);
        problema = Conferir(etRecebimento, recebido->Recusa());
        if (problema) {
            break;
        }
        UltimaOrdem = recebido->Valor();
        const std::int64_t nova = Operacoes_.UltimoRecebimento();
        if (UltimaOrdem != 0 && pedidas.count(nova) != 0) {
            problema = "Recebimento interrompido nesta sincronização em " + CaminhoReceber(loja, posicao) +
                       ": a posição recebida " +
                       (nova == posicao ? "não avançou de " + std::to_string(posicao)
                                        : "voltou de " + std::to_string(posicao) + " para " +
                                              std::to_string(nova) + ", já pedida nesta sincronização") +
                       " (o servidor informou ultimaordem " + std::to_string(UltimaOrdem) + ")";
            Interromper(*problema);
            break;
        }
    }
    // The run receives nothing more: no attachment stays open idle.
    sessao->Encerrar();
    // A problem of this run comes first, then a value this store dropped.
    Mostrar(&IJanelaStatus::StatusRecebimento,
            problema.value_or(aviso.value_or(std::string(TextoRecebimentoConcluido))));
}

void TCiclo::EnviarTudo(TPosicaoEnvio UltimoMovimentoEnv, std::optional<std::string> problema) {
    EnvioIniciado_ = true;
    Mostrar(&IJanelaStatus::StatusEnvio, TextoVerificandoEnvio);
    Pausar();

    // Read once per run: changes logged during the run go with a later run.
    const std::int64_t UltimaOrdemLoja = Operacoes_.UltimaOrdemLoja();

    // A block the server keeps refusing, or an acknowledged position that
    // goes back to one already sent from, would otherwise have blocks sent
    // again and again without pause; the next run tries again.
    std::set<std::int64_t> enviadas;
    // Its connection and statements serve every block of this loop and go
    // with it, whichever way the loop ends.
    const std::unique_ptr<ISessaoEnvio> sessao = Operacoes_.AbrirEnvio();
    while (!problema && UltimoMovimentoEnv.UltimoMovimentoLoja > UltimoMovimentoEnv.UltimaOrdemEnviada) {
        if (ParadaPedida()) {
            return;
        }
        const std::int64_t enviada = UltimoMovimentoEnv.UltimaOrdemEnviada;
        const std::int32_t loja = Operacoes_.CodigoLoja();
        enviadas.insert(enviada);
        Mostrar(&IJanelaStatus::StatusEnvio, TextoEnviandoBloco + std::to_string(enviada));
        const TBlocoEnviado bloco = sessao->EnviarDados(Operacoes_.LinkCentral(), loja, enviada);
        const bool haviaBloco = bloco.HaviaBloco;
        const std::optional<std::string> recusaDoBloco = Conferir(etEnvio, bloco.Recusa ? &*bloco.Recusa : nullptr);
        Mostrar(&IJanelaStatus::StatusEnvio, TextoVerificandoEnvio);
        const TResultado<TPosicaoEnvio> posicao =
            Operacoes_.UltimoMovimentoEnviado(Operacoes_.LinkCentral(), loja, UltimaOrdemLoja);
        problema = Conferir(etPosicaoEnvio, posicao.Recusa());
        if (problema) {
            break;
        }
        UltimoMovimentoEnv = *posicao;
        const std::int64_t confirmada = UltimoMovimentoEnv.UltimaOrdemEnviada;
        // A refused block that moved nothing: the refusal says why sending
        // stops here.
        if (recusaDoBloco && enviadas.count(confirmada) != 0) {
            problema = recusaDoBloco;
            break;
        }
        // A sale still open holds the next position: the rest goes with a
        // later run. Only when it stays held for long is it told (below).
        if (!haviaBloco) break;
        if (UltimoMovimentoEnv.UltimoMovimentoLoja > confirmada && enviadas.count(confirmada) != 0) {
            problema = "Envio interrompido nesta sincronização em " + CaminhoEnviar(loja) +
                       ": a posição confirmada pelo servidor " +
                       (confirmada == enviada ? "não avançou de " + std::to_string(enviada)
                                              : "voltou de " + std::to_string(enviada) + " para " +
                                                    std::to_string(confirmada) +
                                                    ", de onde já se enviou nesta sincronização");
            Interromper(*problema);
            break;
        }
    }
    // A problem of this run comes first; otherwise, sending held back by an
    // open store transaction for long is told instead of the completion.
    sessao->Encerrar();  // the send loop is over
    const std::optional<std::string> retido = ConferirRetencao(*sessao);
    Mostrar(&IJanelaStatus::StatusEnvio, problema.value_or(retido.value_or(std::string(TextoEnvioConcluido))));
}

}  // namespace ondaris::sync
