#include "app/shell/ligacao.h"

#include <stdexcept>

namespace ondaris::shell {

namespace {

// Stands where the engine's operations will go.
class TOperacoesIndisponiveis final : public sync::IOperacoesCiclo {
public:
    void AtualizarConfiguracoes() override { Falhar(); }
    std::string LinkCentral() override { Falhar(); }
    std::int32_t CodigoLoja() override { Falhar(); }
    std::int64_t UltimoRecebimento() override { Falhar(); }
    std::int64_t UltimaOrdemLoja() override { Falhar(); }
    void ObterEstruturaBanco(std::string&, const std::string&) override { Falhar(); }
    std::int64_t ReceberDados(std::string&, const std::string&, std::int32_t, std::int64_t) override {
        Falhar();
    }
    sync::TPosicaoEnvio UltimoMovimentoEnviado(std::string&, const std::string&, std::int32_t,
                                               std::int64_t) override {
        Falhar();
    }
    void EnviarDados(std::string&, const std::string&, std::int32_t, std::int64_t) override {
        Falhar();
    }

private:
    [[noreturn]] static void Falhar() {
        throw std::runtime_error(
            "As operações de sincronização com o servidor central não estão disponíveis nesta versão");
    }
};

}  // namespace

TLigacao::TLigacao() : Operacoes_(std::make_unique<TOperacoesIndisponiveis>()) {}

TLigacao::~TLigacao() = default;

void TLigacao::CriarModuloDados() {
    // The global data module is created here once the database layer has it.
}

sync::IOperacoesCiclo& TLigacao::Operacoes() {
    return *Operacoes_;
}

}  // namespace ondaris::shell
