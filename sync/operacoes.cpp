#include "sync/operacoes.h"

#include <utility>

#include "db/erros.h"
#include "db/ini.h"
#include "protocolo/texto.h"
#include "sync/enviar.h"
#include "sync/receber.h"
#include "sync/retencao.h"

namespace ondaris::sync {

TOperacoesMotor::TOperacoesMotor(db::TDM& DM, IJanelaStatus& janela, TContextoServidor contexto,
                                 std::string PastaIni)
    : DM_(DM), Janela_(janela), Contexto_(std::move(contexto)), PastaIni_(std::move(PastaIni)),
      AvisoEnvioRetido_(db::LerSegundosEnvioRetido(PastaIni_.empty() ? db::PastaExecutavel() : PastaIni_)),
      Identidade_(db::NovaIdentidade({})) {}

void TOperacoesMotor::AtualizarConfiguracoes() {
    DM_.Conectar();
    DM_.Configuracoes().AbrirConfiguracoes();
    UltimaOrdemLoja_ = DM_.LogReplicacao().UltimoMovimentoLoja();
}

std::string TOperacoesMotor::LinkCentral() { return DM_.Configuracoes().LinkCentral(); }
std::int32_t TOperacoesMotor::CodigoLoja() { return DM_.Configuracoes().CodigoLoja(); }
std::int64_t TOperacoesMotor::UltimoRecebimento() { return DM_.Configuracoes().UltimoRecebimento(); }

std::optional<TRecusa> TOperacoesMotor::ObterEstruturaBanco(const std::string& URL) {
    return sync::ObterEstruturaBanco(URL, DM_.TBEstrutura(), Contexto_);
}

// The blocks of one receive loop, on one module kept between them.
class TOperacoesMotor::TSessaoRecebimento final : public ISessaoRecebimento {
public:
    TSessaoRecebimento(TOperacoesMotor& motor, std::int64_t PosicaoConfirmada)
        : Motor_(motor), PosicaoConfirmada_(PosicaoConfirmada) {}

    TResultado<std::int64_t> ReceberDados(const std::string& URL, std::int32_t CodigoLoja,
                                          std::int64_t Ordem) override {
        TOperacoesMotor& m = Motor_;
        TAmbienteRecebimento ambiente{m.DM_, m.Janela_, m.Contexto_, m.PastaIni_, &Modulo_};
        // Notices stay until the cycle asks for them, after every call,
        // failed ones included: a column told then is told once, whatever
        // the block.
        ambiente.AoDescartarColuna = [&m](const std::string& tabela, const std::string& coluna, std::int64_t ordem) {
            std::pair<std::string, std::string> chave{protocolo::MaiusculasAscii(tabela), protocolo::MaiusculasAscii(coluna)};
            if (m.ColunasAvisadas_.count(chave) != 0) return;
            for (const auto& c : m.ColunasAAvisar_)
                if (c == chave) return;
            m.ColunasAAvisar_.push_back(chave);
            m.Avisos_.push_back({TextoColunaAusente(chave.first, coluna, ordem), true});
        };
        ambiente.AoRepetirPosicao = [&m](std::int64_t ordem) {
            if (m.PosicaoRepetidaAvisada_) return;
            m.PosicaoRepetidaAvisada_ = true;
            m.Avisos_.push_back({TextoPosicaoRepetida(ordem), false});
        };
        if (m.PrecedenciaLocal_) {
            ambiente.Pendentes = &Pendentes_;
            ambiente.PosicaoConfirmada = PosicaoConfirmada_;
            ambiente.AoPorDeLado = [&m](const std::string& texto) { m.Avisos_.push_back({texto, false}); };
        }
        m.RenovarPosse();
        const TResultado<TTipoUltimoMovimentoRecebido> r = sync::ReceberDados(URL, CodigoLoja, Ordem, ambiente);
        if (const TRecusa* recusa = r.Recusa()) return *recusa;
        return r->UltimaOrdem;
    }

    void Encerrar() override { Modulo_.Liberar(); }

private:
    TOperacoesMotor& Motor_;
    const std::int64_t PosicaoConfirmada_;
    db::TModuloDaExecucao Modulo_;
    // This store's changes not yet ordered by the server, read when the
    // first block comes.
    TAlteracoesPendentes Pendentes_;
};

std::unique_ptr<ISessaoRecebimento> TOperacoesMotor::AbrirRecebimento(std::int64_t PosicaoConfirmada) {
    return std::make_unique<TSessaoRecebimento>(*this, PosicaoConfirmada);
}

TResultado<TPosicaoEnvio> TOperacoesMotor::UltimoMovimentoEnviado(const std::string& URL, std::int32_t CodigoLoja,
                                                                  std::int64_t UltimoMovimentoLoja) {
    const TResultado<TTipoUltimoMovimentoEnviado> r =
        sync::UltimoMovimentoEnviado(URL, CodigoLoja, UltimoMovimentoLoja, Contexto_);
    if (const TRecusa* recusa = r.Recusa()) return *recusa;
    return TPosicaoEnvio{r->UltimaOrdemEnviada, r->UltimoMovimentoLoja};
}

// The blocks of one send loop, on one module kept between them.
class TOperacoesMotor::TSessaoEnvio final : public ISessaoEnvio {
public:
    explicit TSessaoEnvio(TOperacoesMotor& motor) : Motor_(motor) {}

    TBlocoEnviado EnviarDados(const std::string& URL, std::int32_t CodigoLoja, std::int64_t Ordem) override {
        TOperacoesMotor& m = Motor_;
        m.RenovarPosse();
        db::TIndicesEnvio indices;
        indices.OrdemFinal = Ordem;
        const TResultado<std::string> r =
            sync::EnviarDados(URL, CodigoLoja, Ordem, m.DM_, m.Contexto_, m.PastaIni_, &indices, &Modulo_);
        UltimosIndices_ = indices;
        TBlocoEnviado enviado;
        enviado.HaviaBloco = indices.OrdemFinal > Ordem;
        if (const TRecusa* recusa = r.Recusa()) enviado.Recusa = *recusa;
        return enviado;
    }

    void Encerrar() override { Modulo_.Liberar(); }

    std::optional<TEnvioRetido> EnvioRetido() override {
        // A loop that never asked for a block (nothing to send, or the first
        // position query was refused) learnt nothing about it.
        if (!UltimosIndices_) return std::nullopt;
        return AvaliarEnvioRetido(*UltimosIndices_, Motor_.AvisoEnvioRetido_);
    }

private:
    TOperacoesMotor& Motor_;
    db::TModuloDaExecucao Modulo_;
    // The block procedure's answer for this loop's last block, if it asked.
    std::optional<db::TIndicesEnvio> UltimosIndices_;
};

std::unique_ptr<ISessaoEnvio> TOperacoesMotor::AbrirEnvio() { return std::make_unique<TSessaoEnvio>(*this); }

std::string TextoFalhaAoFechar(const std::string& qual, const std::string& causa) {
    return "Falha ao fechar a conexão " + qual + " com o banco da loja: " + causa;
}

std::optional<std::string> TOperacoesMotor::LiberarConexoes() {
    std::string falhas;
    const auto fechar = [&](const std::string& qual, const auto& acao) {
        try {
            acao();
        } catch (const std::exception& e) {
            falhas += (falhas.empty() ? "" : "; ") + TextoFalhaAoFechar(qual, e.what());
        } catch (...) {
            falhas += (falhas.empty() ? "" : "; ") + TextoFalhaAoFechar(qual, "falha de tipo desconhecido");
        }
    };
    // The next run opens it again (AtualizarConfiguracoes).
    fechar(DM_.ConexaoGlobal().Nome(), [&] { DM_.ConexaoGlobal().Fechar(); });
    if (falhas.empty()) return std::nullopt;
    return falhas;
}

TOutroAgente OutroAgente(const db::TDetentorPosse& d) {
    TOutroAgente outro;
    outro.Chave = d.Chave;
    outro.Nome = (d.Programa.empty() ? std::string("Outro agente") : d.Programa) +
                 (d.Maquina.empty() ? std::string() : " em " + d.Maquina);
    outro.Descricao = db::DescricaoDetentor(d);
    outro.PainelRecebimento = d.PainelRecebimento;
    outro.PainelEnvio = d.PainelEnvio;
    if (d.FalhouNoUltimo && d.UltimaFalha)
        outro.Falha = "Falha em " + d.MomentoFalha + ": " + *d.UltimaFalha;
    return outro;
}

TPosseCiclo TOperacoesMotor::ReivindicarPosse() {
    DM_.Conectar();
    db::TResultadoPosse r = db::ReivindicarPosse(DM_.ConexaoGlobal(), Identidade_);
    UltimaReivindicacao_ = std::chrono::steady_clock::now();
    DetemPosse_ = !r.Detentor;
    TPosseCiclo posse;
    if (r.Detentor) posse.Detentor = OutroAgente(*r.Detentor);
    if (r.Anterior) posse.Anterior = db::DescricaoDetentor(*r.Anterior);
    return posse;
}

void TOperacoesMotor::RenovarPosse() {
    // A tenth of the claim's life: a run of many blocks never outlasts it.
    if (!DetemPosse_ || std::chrono::steady_clock::now() - UltimaReivindicacao_ < db::kValidadePosse / 10) return;
    const db::TResultadoPosse r = db::ReivindicarPosse(DM_.ConexaoGlobal(), Identidade_);
    UltimaReivindicacao_ = std::chrono::steady_clock::now();
    if (r.Detentor) {
        DetemPosse_ = false;
        throw db::ErroBanco("A posse deste banco passou para " + db::DescricaoDetentor(*r.Detentor) +
                            " durante esta sincronização, que para aqui");
    }
}

std::optional<std::string> TOperacoesMotor::PublicarPosse(const std::string& recebimento, const std::string& envio,
                                                          const std::optional<std::string>& falha) {
    try {
        DM_.Conectar();
        if (db::PublicarPosse(DM_.ConexaoGlobal(), Identidade_.Chave, recebimento, envio, falha)) return std::nullopt;
        DetemPosse_ = false;
        return std::string("O estado desta sincronização não foi publicado em RPL_POSSE: a posse do banco já não é "
                           "deste agente");
    } catch (const std::exception& e) {
        return std::string("O estado desta sincronização não pôde ser publicado em RPL_POSSE: ") + e.what();
    }
}

std::optional<std::string> TOperacoesMotor::LiberarPosse() {
    std::optional<std::string> falha;
    try {
        DM_.Conectar();
        db::LiberarPosse(DM_.ConexaoGlobal(), Identidade_.Chave);
        DetemPosse_ = false;
    } catch (const std::exception& e) {
        falha = std::string("A posse deste banco não pôde ser liberada (outro agente só a assume quando ela vencer): ") +
                e.what();
    }
    if (const std::optional<std::string> fechar = LiberarConexoes())
        falha = falha ? *falha + "; " + *fechar : *fechar;
    return falha;
}

std::string TextoColunaAusente(const std::string& tabela, const std::string& coluna, std::int64_t ordem) {
    return "A tabela " + tabela + " desta loja não tem a coluna " + coluna +
           ", que chegou do servidor central (no comando de ordem " + std::to_string(ordem) +
           "): os valores dessa coluna são descartados e o resto de cada linha é gravado. Crie a coluna nesta "
           "loja como na loja de origem, ou retire-a de lá (ondarisd --verificar mostra as diferenças)";
}

std::string TextoPosicaoRepetida(std::int64_t ordem) {
    return "O servidor central responde a partir da posição pedida: o comando de ordem " + std::to_string(ordem) +
           ", o último que esta loja aplicou, veio de novo e foi passado por cima, sem ser aplicado outra vez "
           "(avisado uma vez enquanto o programa roda)";
}

std::vector<TAvisoRecebimento> TOperacoesMotor::AvisosRecebimento() {
    ColunasAvisadas_.insert(ColunasAAvisar_.begin(), ColunasAAvisar_.end());
    ColunasAAvisar_.clear();
    return std::exchange(Avisos_, {});
}

}  // namespace ondaris::sync
