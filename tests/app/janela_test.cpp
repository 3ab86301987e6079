// The status window: placement, title, version, window commands and the
// route of uncaught exceptions to the log.
#include "app/aplicacao.h"
#include "app/principal.h"
#include "app/shell/calculos.h"
#include "app/shell/ligacao.h"
#include "app/shell/registro.h"
#include "app/shell/versao.h"

#include "support/pasta_temporaria.h"

#include <gtest/gtest.h>

#include <regex>

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QEventLoop>
#include <QGuiApplication>
#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QMenu>
#include <QScreen>
#include <QTimer>

#include <functional>

#include <stdexcept>

using ondaris::shell::AlturaBarradeTarefas;
using ondaris::shell::MensagemComPonto;
using ondaris::shell::PosicaoJanela;
using ondaris::shell::TPonto;
using ondaris::shell::TRetangulo;
using ondaris::teste::GravarBytes;
using ondaris::teste::LerBytes;
using ondaris::teste::PastaTemporaria;

namespace {

TEST(PosicaoJanelaTest, BottomRightOfTheAvailableArea) {
    struct Caso {
        const char* nome;
        TRetangulo tela, disponivel;
        TPonto esperado;
        int barra;
    };
    const TRetangulo fullHd{0, 0, 1920, 1080};
    const Caso casos[] = {
        {"40 px panel at the bottom", fullHd, {0, 0, 1920, 1040}, {1404, 756}, 40},
        {"no panel", fullHd, fullHd, {1404, 796}, 0},
        {"panel at the top", fullHd, {0, 30, 1920, 1050}, {1404, 796}, 0},
        {"panel at the left", fullHd, {60, 0, 1860, 1080}, {1404, 796}, 0},
        {"panel at the right", fullHd, {0, 0, 1860, 1080}, {1344, 796}, 0},
        {"primary screen right of another", {1920, 0, 1280, 1024}, {1920, 0, 1280, 984}, {2684, 700}, 40},
    };
    for (const auto& c : casos) {
        SCOPED_TRACE(c.nome);
        EXPECT_EQ(PosicaoJanela(c.tela, c.disponivel, 516, 284), c.esperado);
        EXPECT_EQ(AlturaBarradeTarefas(c.tela, c.disponivel), c.barra);
    }
}

TEST(VersaoProgramaTest, ReadsTheRecordCarriedByTheFile) {
    PastaTemporaria pasta;
    auto arquivoCom = [&](const std::string& nome, const std::string& conteudo) {
        const auto caminho = pasta.Caminho() / nome;
        GravarBytes(caminho, conteudo);
        return caminho.string();
    };
    auto registro = [](const char* versao) {
        const auto r = ondaris::shell::MontarRegistroVersao(ondaris::shell::VersaoDeTexto(versao));
        return std::string(r.begin(), r.end());
    };
    const std::string um = arquivoCom("um", "\x7f" "ELF lixo" + registro("1.0.0.0") + "resto");
    EXPECT_EQ(ondaris::shell::VersaoPrograma(um, false), "1.0.0");
    EXPECT_EQ(ondaris::shell::VersaoPrograma(um, true), "1.0.0.0");

    // A signature followed by garbage is skipped for the valid record after it.
    std::string falsa = registro("9.9.9.9");
    falsa[20] ^= 0x5A;
    const std::string dois = arquivoCom("dois", falsa + registro("2.10.3.7"));
    EXPECT_EQ(ondaris::shell::VersaoPrograma(dois, false), "2.10.3");
    EXPECT_EQ(ondaris::shell::VersaoPrograma(dois, true), "2.10.3.7");

    const std::string maior = arquivoCom("maior", registro("65535.0.1.2"));
    EXPECT_EQ(ondaris::shell::VersaoPrograma(maior, true), "65535.0.1.2");

    EXPECT_EQ(ondaris::shell::VersaoPrograma(arquivoCom("sem", "nada aqui"), false), "");
    EXPECT_EQ(ondaris::shell::VersaoPrograma(arquivoCom("cortado", registro("1.2.3.4").substr(0, 20)), false), "");
    EXPECT_EQ(ondaris::shell::VersaoPrograma((pasta.Caminho() / "ausente").string(), false), "");
}

TEST(TituloAplicacaoTest, FileNameUpToTheFirstDotCapitalisedOnce) {
    struct Caso {
        const char* caminho;
        const char* titulo;
    };
    const Caso casos[] = {{"/opt/ondaris/Ondaris", "Ondaris"},
                          {"C:/Program Files/Ondaris/Ondaris.exe", "Ondaris"},
                          {"/x/ONDARIS.tar.gz", "Ondaris"},
                          {"/x/ondarisd", "ondarisd"},
                          {"/x/.oculto", ""},
                          {"/x/AÇÃO", "Ação"}};
    for (const auto& c : casos) {
        EXPECT_EQ(ondaris::app::TituloAplicacao(QString::fromUtf8(c.caminho)), QString::fromUtf8(c.titulo))
            << c.caminho;
    }
}

TEST(MensagemComPontoTest, AppendsADotAfterCharactersThatSortAfterIt) {
    struct Caso {
        const char* entrada;
        const char* saida;
    };
    const Caso casos[] = {{"Falha", "Falha."},   {"Falha.", "Falha."}, {"Falha!", "Falha!"},
                          {"erro 42", "erro 42."}, {"", ""},         {"conexão", "conexão."},
                          {"a-", "a-"},           {"a/", "a/."}};
    for (const auto& c : casos) {
        EXPECT_EQ(MensagemComPonto(c.entrada), c.saida) << c.entrada;
    }
}

class JanelaTest : public ::testing::Test {
protected:
    PastaTemporaria Pasta;
    ondaris::shell::TRegistro Registro{Pasta.Caminho()};
    ondaris::shell::TLigacao Ligacao;
};

TEST_F(JanelaTest, StartsHiddenWithItsDesignedTexts) {
    ondaris::app::TFrmPrincipal janela(Ligacao, Registro);
    EXPECT_FALSE(janela.isVisible());
    EXPECT_EQ(janela.size(), QSize(516, 284));
    EXPECT_EQ(janela.PnTitulo->text(), QString("Ondaris Tavix System - Versão 1.0.0"));
    EXPECT_EQ(janela.LblCronometro->text(), QString("0:00"));
    EXPECT_EQ(janela.PnStatusRecebimento->text(), QString("Status do Recebimento de Dados"));
    EXPECT_EQ(janela.PnStatusEnvio->text(), QString("Status do Envio de Dados"));
    EXPECT_EQ(janela.Ciclo().Estado(), ondaris::sync::TEstadoCiclo::ecAguardando);
    QStringList itens;
    for (auto* acao : janela.PopupMenu1->actions()) {
        itens << acao->text();
    }
    EXPECT_EQ(itens, QStringList({"Restaurar Aplicação", "Ocultar Aplicação", "Verificar Instalação",
                                  "Fechar Aplicação"}));
}

TEST_F(JanelaTest, TheMenuRunsTheInstallationCheckOfTheAgentsFolder) {
    ondaris::app::TFrmPrincipal janela(Ligacao, Registro);
    bool tudoCerto = true;
    // The test program's folder holds no korvin.ini: the check says so
    // and what to do, as "ondarisd --verificar" would.
    const QString texto = janela.TextoVerificacaoInstalacao(tudoCerto);
    EXPECT_FALSE(tudoCerto);
    EXPECT_TRUE(texto.startsWith("FALHA  korvin.ini não encontrado em ")) << texto.toStdString();
    EXPECT_TRUE(texto.contains("       O que fazer: crie ")) << texto.toStdString();
    // Nor is there a database beside it: what depends on it says so.
    EXPECT_TRUE(texto.contains("\n--     Objetos da replicação não verificados: dependem da conexão ao banco"))
        << texto.toStdString();
    EXPECT_TRUE(texto.endsWith("itens não verificados, por dependerem do que falhou.\n")) << texto.toStdString();
}

TEST_F(JanelaTest, TheCountdownTextFitsItsLabel) {
    ondaris::app::TFrmPrincipal janela(Ligacao, Registro);
    const QFontMetrics medidas(janela.LblCronometro->font());
    EXPECT_LE(medidas.horizontalAdvance("02:00"), janela.LblCronometro->width());
}

TEST_F(JanelaTest, RestoreOnlyPlacesAWindowThatWasHidden) {
    ondaris::app::TFrmPrincipal janela(Ligacao, Registro);
    const QScreen* tela = QGuiApplication::primaryScreen();
    ASSERT_NE(tela, nullptr);
    const QRect area = tela->availableGeometry();
    const QPoint canto(area.right() + 1 - 516, area.bottom() + 1 - 284);

    janela.RestaurarAplicacao();
    EXPECT_TRUE(janela.isVisible());
    EXPECT_EQ(janela.pos(), canto);

    janela.move(10, 20);
    janela.RestaurarAplicacao();
    EXPECT_EQ(janela.pos(), QPoint(10, 20)) << "an already shown window stays where it is";

    janela.hide();
    janela.RestaurarAplicacao();
    EXPECT_EQ(janela.pos(), canto) << "a hidden window is placed anew";
    EXPECT_FALSE(janela.isMinimized());
    janela.hide();
}

TEST_F(JanelaTest, UncaughtExceptionsInHandlersBecomeLogEntries) {
    class Explosivo : public QObject {
    public:
        bool event(QEvent* e) override {
            if (e->type() == QEvent::User) {
                throw std::runtime_error("falha no tratador");
            }
            return QObject::event(e);
        }
    } alvo;
    {
        ondaris::app::TFrmPrincipal janela(Ligacao, Registro);
        QEvent evento(QEvent::User);
        QApplication::sendEvent(&alvo, &evento);  // does not throw out of the event loop
        const std::string log = LerBytes(Registro.Arquivo());
        EXPECT_NE(log.find(" - falha no tratador\r\n"), std::string::npos) << log;
    }
    // The window's handler goes with the window.
    std::filesystem::remove(Registro.Arquivo());
    QEvent evento(QEvent::User);
    QApplication::sendEvent(&alvo, &evento);
    EXPECT_FALSE(std::filesystem::exists(Registro.Arquivo()));
}


// Runs the event loop until `condicao` holds or `limite` ms have passed.
bool EsperarAte(const std::function<bool()>& condicao, int limite) {
    QElapsedTimer relogio;
    relogio.start();
    while (!condicao()) {
        if (relogio.elapsed() > limite) {
            return false;
        }
        QEventLoop laco;
        QTimer::singleShot(20, &laco, &QEventLoop::quit);
        laco.exec();
    }
    return true;
}

TEST_F(JanelaTest, TheFirstRunComesAfterASecondAndItsFailureIsLoggedThenTheCountdownShows) {
    // Every bound is measured from before the window exists: the window's
    // ticks never come early, and a loaded machine only makes each event,
    // and our noticing it, later. A difference between two noticed moments
    // would shrink when the first is noticed late, so none is asserted.
    QElapsedTimer relogio;
    relogio.start();
    ondaris::app::TFrmPrincipal janela(Ligacao, Registro);
    const auto arquivo = Registro.Arquivo();
    // The data module was never opened (no store database here): the run
    // fails on its first step and that failure is the log's one entry.
    ASSERT_TRUE(EsperarAte([&] { return std::filesystem::exists(arquivo); }, 10000));
    EXPECT_GE(relogio.elapsed(), 1000);
    EXPECT_TRUE(std::regex_search(LerBytes(arquivo),
                                  std::regex("^\r\n\\d\\d/\\d\\d/\\d{4} \\d\\d:\\d\\d:\\d\\d - \\S")))
        << LerBytes(arquivo);
    EXPECT_EQ(janela.Ciclo().Estado(), ondaris::sync::TEstadoCiclo::ecContagemRegressiva);
    EXPECT_EQ(janela.PnStatusEnvio->text(), QString("Status do Envio de Dados"));

    // The countdown's first second is the tick after the run's.
    ASSERT_TRUE(EsperarAte([&] { return janela.LblCronometro->text() == "02:00"; }, 10000));
    EXPECT_GE(relogio.elapsed(), 2000);
    ASSERT_TRUE(EsperarAte([&] { return janela.LblCronometro->text() == "01:59"; }, 10000));
    EXPECT_GE(relogio.elapsed(), 3000);
}


TEST_F(JanelaTest, TheMenusCheckRunsOffTheWindowsThreadAndShowsItsResultWhenDone) {
    ondaris::app::TFrmPrincipal janela(Ligacao, Registro);
    QString mostrado;
    // The check runs on its own thread: the menu command returns at once,
    // and its message box comes later, on the window's thread.
    QAction* verificar = janela.PopupMenu1->actions().at(2);
    ASSERT_EQ(verificar->text(), QString("Verificar Instalação"));
    bool aberta = false;
    QTimer vigia;
    vigia.setInterval(10);
    QObject::connect(&vigia, &QTimer::timeout, [&] {
        if (auto* caixa = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            aberta = true;
            mostrado = caixa->text();
            caixa->button(QMessageBox::Ok)->click();
        }
    });
    vigia.start();
    verificar->trigger();
    EXPECT_FALSE(aberta) << "the check ran on the window's thread";
    ASSERT_TRUE(EsperarAte([&] { return aberta; }, 20000));
    EXPECT_TRUE(mostrado.startsWith("FALHA  korvin.ini não encontrado em ")) << mostrado.toStdString();
}

TEST_F(JanelaTest, OnlyTheRightPasswordEndsTheProgram) {
    ondaris::app::TFrmPrincipal janela(Ligacao, Registro);
    QStringList tentativas = {"errada", "QUENBY"};
    int mensagens = 0;
    QTimer vigia;
    vigia.setInterval(10);
    QObject::connect(&vigia, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* caixa = qobject_cast<QMessageBox*>(modal)) {
            ++mensagens;
            caixa->button(QMessageBox::Ok)->click();
            // The user chooses the command again.
            QTimer::singleShot(0, &janela, &ondaris::app::TFrmPrincipal::FecharAplicacao);
        } else if (auto* dialogo = qobject_cast<QDialog*>(modal); dialogo && !tentativas.isEmpty()) {
            dialogo->findChild<QLineEdit*>()->setText(tentativas.takeFirst());
            for (auto* b : dialogo->findChildren<QPushButton*>()) {
                if (b->text() == "Ok") {
                    b->click();
                }
            }
        }
    });
    vigia.start();
    // A limit that dies with the test: a pending free timer would fire in
    // a later test, ending its event loop and every one after it.
    bool esgotado = false;
    QTimer limite;
    limite.setSingleShot(true);
    QObject::connect(&limite, &QTimer::timeout, [&] {
        esgotado = true;
        QCoreApplication::exit(2);
    });
    limite.start(15000);
    QTimer::singleShot(0, &janela, &ondaris::app::TFrmPrincipal::FecharAplicacao);
    EXPECT_EQ(QApplication::exec(), 0);
    EXPECT_FALSE(esgotado);
    EXPECT_EQ(mensagens, 1);
    EXPECT_TRUE(tentativas.isEmpty());
}

}  // namespace
