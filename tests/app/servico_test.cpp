// The headless program's arguments, status lines and single run.
#include "app/shell/servico.h"

#include "support/pasta_temporaria.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <sstream>
#include <stdexcept>

using ondaris::shell::ErroArgumento;
using ondaris::shell::LerArgumentos;
using ondaris::teste::LerBytes;
using ondaris::teste::PastaTemporaria;

namespace {

TEST(LerArgumentosTest, KnowsOnceAndHelpAndRefusesTheRest) {
    EXPECT_FALSE(LerArgumentos({}).UmaVez);
    EXPECT_TRUE(LerArgumentos({"--once"}).UmaVez);
    EXPECT_TRUE(LerArgumentos({"--help"}).Ajuda);
    for (const char* ruim : {"--onc", "-once", "once", ""}) {
        EXPECT_THROW(LerArgumentos({ruim}), ErroArgumento) << ruim;
    }
}

TEST(LerArgumentosTest, TakesOneSetupCommandWithItsOwnArguments) {
    using ondaris::shell::TComandoServico;
    const auto verificar = LerArgumentos({"--verificar"});
    EXPECT_EQ(verificar.Comando, TComandoServico::csVerificar);
    EXPECT_EQ(LerArgumentos({}).Comando, TComandoServico::csSincronizar);

    const auto instalar = LerArgumentos({"--instalar-gatilhos", "produtos", "--somente-imprimir", "Itens_Venda"});
    EXPECT_EQ(instalar.Comando, TComandoServico::csInstalarGatilhos);
    EXPECT_TRUE(instalar.SomenteImprimir);
    EXPECT_EQ(instalar.Tabelas, (std::vector<std::string>{"PRODUTOS", "ITENS_VENDA"}));
    EXPECT_TRUE(LerArgumentos({"--instalar-gatilhos"}).Tabelas.empty());

    const auto remover = LerArgumentos({"--remover-gatilhos", "PRECOS"});
    EXPECT_EQ(remover.Comando, TComandoServico::csRemoverGatilhos);
    EXPECT_EQ(remover.Tabelas, std::vector<std::string>{"PRECOS"});

    const auto limpar = LerArgumentos({"--limpar-log", "30"});
    EXPECT_EQ(limpar.Comando, TComandoServico::csLimparLog);
    EXPECT_EQ(limpar.Dias, 30);
    EXPECT_EQ(LerArgumentos({"--limpar-log", "0"}).Dias, 0);
    EXPECT_EQ(LerArgumentos({"--limpar-log", "36500"}).Dias, 36500);

    const auto nova = LerArgumentos({"--nova-loja", "2147483647"});
    EXPECT_EQ(nova.Comando, TComandoServico::csNovaLoja);
    EXPECT_EQ(nova.CodigoLoja, 2147483647);
    EXPECT_EQ(LerArgumentos({"--nova-loja", "007"}).CodigoLoja, 7);

    const auto envio = LerArgumentos({"--envio-inicial", "produtos", "--confirmar", "PRECOS"});
    EXPECT_EQ(envio.Comando, TComandoServico::csEnvioInicial);
    EXPECT_TRUE(envio.Confirmar);
    EXPECT_EQ(envio.Tabelas, (std::vector<std::string>{"PRODUTOS", "PRECOS"}));
    EXPECT_FALSE(LerArgumentos({"--envio-inicial", "PRODUTOS"}).Confirmar);

    const auto recebido = LerArgumentos({"--por-de-lado-recebido", "9007199254740993"});
    EXPECT_EQ(recebido.Comando, TComandoServico::csPorDeLadoRecebido);
    EXPECT_EQ(recebido.Ordem, 9007199254740993);
    const auto naoEnviado = LerArgumentos({"--por-de-lado-envio", "12"});
    EXPECT_EQ(naoEnviado.Comando, TComandoServico::csPorDeLadoEnvio);
    EXPECT_EQ(naoEnviado.Ordem, 12);

    const std::vector<std::vector<std::string>> ruins = {
        {"--por-de-lado-recebido"},
        {"--por-de-lado-recebido", "0"},
        {"--por-de-lado-recebido", "-5"},
        {"--por-de-lado-recebido", "5a"},
        {"--por-de-lado-recebido", "9999999999999999999"},
        {"--por-de-lado-recebido", "5", "PRODUTOS"},
        {"--por-de-lado-recebido", "5", "--por-de-lado-envio", "6"},
        {"--por-de-lado-envio", "5", "--confirmar"},
        {"--once", "--por-de-lado-envio", "5"},
        {"--nova-loja"},
        {"--nova-loja", "0"},
        {"--nova-loja", "-3"},
        {"--nova-loja", "+3"},
        {"--nova-loja", "2147483648"},
        {"--nova-loja", "99999999999"},
        {"--nova-loja", "3.0"},
        {"--nova-loja", "tres"},
        {"--nova-loja", "3", "PRODUTOS"},
        {"--nova-loja", "3", "--confirmar"},
        {"--nova-loja", "3", "--limpar-log", "30"},
        {"--envio-inicial"},
        {"--envio-inicial", "--confirmar"},
        {"--envio-inicial", "PRODUTOS;DROP"},
        {"--envio-inicial", "PRODUTOS", "--somente-imprimir"},
        {"--confirmar"},
        {"--instalar-gatilhos", "--confirmar"},
        {"--limpar-log"},
        {"--limpar-log", "-1"},
        {"--limpar-log", "36501"},
        {"--limpar-log", "trinta"},
        {"--limpar-log", "30", "PRODUTOS"},
        {"--verificar", "--instalar-gatilhos"},
        {"--verificar", "PRODUTOS"},
        {"--once", "--verificar"},
        {"--somente-imprimir"},
        {"--remover-gatilhos", "--somente-imprimir"},
        {"--instalar-gatilhos", "PRODUTOS;DROP"},
        {"--instalar-gatilhos", "1PRODUTOS"},
        {"PRODUTOS"},
    };
    for (const auto& r : ruins) {
        std::string juntos;
        for (const auto& a : r) juntos += a + " ";
        EXPECT_THROW(LerArgumentos(r), ErroArgumento) << juntos;
    }
}

TEST(TJanelaTextoTest, StatusTextsAreLinesAndTheCountdownIsShownOncePerPause) {
    std::ostringstream saida;
    ondaris::shell::TJanelaTexto janela(saida);
    janela.StatusRecebimento("");
    janela.StatusRecebimento("Todos os dados de recebimento foram sincronizados");
    for (const char* t : {"02:00", "01:59", "00:01", "00:00", "02:00", "01:59"}) {
        janela.Cronometro(t);
    }
    janela.StatusEnvio("Enviando bloco de registros a partir de 7");
    EXPECT_EQ(saida.str(),
              "Recebimento: Todos os dados de recebimento foram sincronizados\n"
              "Próxima sincronização em 02:00\n"
              "Próxima sincronização em 02:00\n"
              "Envio: Enviando bloco de registros a partir de 7\n");
}

// The database cannot be reached: the first operation of a run fails, and
// nothing after it may be called.
class OperacoesSemBanco final : public ondaris::sync::IOperacoesCiclo {
public:
    void AtualizarConfiguracoes() override { throw std::runtime_error("sem banco"); }
    std::string LinkCentral() override { Proibida(); }
    std::int32_t CodigoLoja() override { Proibida(); }
    std::int64_t UltimoRecebimento() override { Proibida(); }
    std::int64_t UltimaOrdemLoja() override { Proibida(); }
    std::optional<ondaris::sync::TRecusa> ObterEstruturaBanco(const std::string&) override { Proibida(); }
    std::unique_ptr<ondaris::sync::ISessaoRecebimento> AbrirRecebimento(std::int64_t) override { Proibida(); }
    ondaris::sync::TResultado<ondaris::sync::TPosicaoEnvio> UltimoMovimentoEnviado(const std::string&, std::int32_t,
                                                                                 std::int64_t) override {
        Proibida();
    }
    std::unique_ptr<ondaris::sync::ISessaoEnvio> AbrirEnvio() override { Proibida(); }

private:
    [[noreturn]] static void Proibida() {
        throw std::logic_error("operação chamada depois da falha do banco");
    }
};

TEST(ExecutarServicoTest, OnceReportsAFailedRunInItsStatusAndTheLog) {
    PastaTemporaria pasta;
    ondaris::shell::TRegistro registro(pasta.Caminho());
    OperacoesSemBanco operacoes;
    std::ostringstream saida, erros;
    ondaris::shell::TJanelaTexto janela(saida);
    ondaris::shell::TAmbienteServico ambiente{operacoes, janela, registro, erros, {}, {}};
    ondaris::shell::TOpcoesServico opcoes;
    opcoes.UmaVez = true;
    EXPECT_EQ(ondaris::shell::ExecutarServico(opcoes, ambiente), 1);
    EXPECT_NE(LerBytes(registro.Arquivo()).find(" - sem banco\r\n"), std::string::npos);
    EXPECT_NE(erros.str().find("sem banco"), std::string::npos);
}

TEST(ExecutarServicoTest, AStopEndsTheLoopWithoutARun) {
    PastaTemporaria pasta;
    ondaris::shell::TRegistro registro(pasta.Caminho());
    OperacoesSemBanco operacoes;
    std::ostringstream saida, erros;
    ondaris::shell::TJanelaTexto janela(saida);
    int dormidas = 0;
    bool parar = false;
    ondaris::shell::TAmbienteServico ambiente{
        operacoes, janela, registro, erros, [&] { return parar; },
        [&](std::chrono::milliseconds) { parar = ++dormidas == 1; }};
    EXPECT_EQ(ondaris::shell::ExecutarServico({}, ambiente), 0);
    EXPECT_EQ(dormidas, 1);
    EXPECT_FALSE(std::filesystem::exists(registro.Arquivo())) << "no run after the stop";
}

}  // namespace
