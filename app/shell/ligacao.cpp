#include "app/shell/ligacao.h"

#include "db/regional.h"
#include "db/udm.h"
#include "sync/servidor.h"

#include <stdexcept>

namespace ondaris::shell {

namespace {

class TOperacoesMotor final : public sync::IOperacoesCiclo {
public:
    TOperacoesMotor(const std::unique_ptr<db::TDM>& dm, sync::IJanelaStatus& janela)
        : DM_(dm), Janela_(janela) {
        Contexto_.Regional = db::TConfiguracoesRegionais::DoLocale();
    }

    void AtualizarConfiguracoes() override {
        DM().AbrirConfiguracoes();
        UltimaOrdemLoja_ = DM().UltimoMovimentoLoja();
    }
    std::string LinkCentral() override { return DM().LinkCentral(); }
    std::int32_t CodigoLoja() override { return DM().CodigoLoja(); }
    std::int64_t UltimoRecebimento() override { return DM().UltimoRecebimento(); }
    std::int64_t UltimaOrdemLoja() override { return UltimaOrdemLoja_; }

    void ObterEstruturaBanco(std::string& Erro, const std::string& URL) override {
        sync::ObterEstruturaBanco(Erro, URL, DM().TBEstrutura, Contexto_);
    }
    std::int64_t ReceberDados(std::string& Erro, const std::string&, std::int32_t,
                              std::int64_t) override {
        Erro.clear();
        Indisponivel("ReceberDados");
    }
    sync::TPosicaoEnvio UltimoMovimentoEnviado(std::string& Erro, const std::string& URL,
                                               std::int32_t CodigoLoja,
                                               std::int64_t UltimoMovimentoLoja) override {
        const sync::TTipoUltimoMovimentoEnviado r =
            sync::UltimoMovimentoEnviado(Erro, URL, CodigoLoja, UltimoMovimentoLoja, Contexto_);
        return {r.UltimaOrdemEnviada, r.UltimoMovimentoLoja};
    }
    void EnviarDados(std::string& Erro, const std::string&, std::int32_t, std::int64_t) override {
        Erro.clear();
        Indisponivel("EnviarDados");
    }

private:
    db::TDM& DM() {
        if (DM_ == nullptr) {
            throw std::logic_error("O módulo de dados não foi criado");
        }
        return *DM_;
    }
    [[noreturn]] static void Indisponivel(const char* rotina) {
        throw std::runtime_error(std::string("A rotina ") + rotina +
                                 " ainda não está disponível nesta versão");
    }

    const std::unique_ptr<db::TDM>& DM_;  // created by CriarModuloDados, maybe later
    [[maybe_unused]] sync::IJanelaStatus& Janela_;  // the receive step's progress texts
    sync::TContextoServidor Contexto_;
    std::int64_t UltimaOrdemLoja_ = 0;
};

}  // namespace

TLigacao::TLigacao() = default;

TLigacao::~TLigacao() = default;

void TLigacao::CriarModuloDados() {
    DM_ = std::make_unique<db::TDM>();
    DM_->DataModuleCreate();
}

std::unique_ptr<sync::IOperacoesCiclo> TLigacao::CriarOperacoes(sync::IJanelaStatus& janela) {
    return std::make_unique<TOperacoesMotor>(DM_, janela);
}

}  // namespace ondaris::shell
