// The closing password: its geometry, its check and the dialog itself.
#include "app/aplicacao.h"
#include "app/senha.h"
#include "app/shell/calculos.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QStyle>
#include <QTimer>

#include <functional>
#include <optional>

using ondaris::shell::GeometriaSenha;
using ondaris::shell::MulDiv;
using ondaris::shell::SenhaConfere;

namespace {

TEST(GeometriaSenhaTest, SixByThirteenDialogUnits) {
    const auto g = GeometriaSenha(6, 13);
    EXPECT_EQ(g.ClienteLargura, 270);
    EXPECT_EQ(g.ClienteAltura, 102);
    EXPECT_EQ(g.RotuloEsquerda, 12);
    EXPECT_EQ(g.RotuloTopo, 13);
    EXPECT_EQ(g.EdicaoEsquerda, 12);
    EXPECT_EQ(g.EdicaoTopo, 31);
    EXPECT_EQ(g.EdicaoLargura, 246);
    EXPECT_EQ(g.BotoesTopo, 67);
    EXPECT_EQ(g.BotaoLargura, 75);
    EXPECT_EQ(g.BotaoAltura, 23);
    EXPECT_EQ(g.OkEsquerda, 57);
    EXPECT_EQ(g.CancelarEsquerda, 138);
}

TEST(MulDivTest, RoundsToNearestWithHalvesAwayFromZero) {
    struct Caso {
        int a, b, c, r;
    };
    const Caso casos[] = {{63, 13, 8, 102}, {41, 13, 8, 67}, {5, 1, 2, 3},  {-5, 1, 2, -3},
                          {5, -1, 2, -3},   {7, 1, 0, -1},   {1 << 20, 1 << 20, 1 << 20, 1 << 20}};
    for (const auto& c : casos) {
        EXPECT_EQ(MulDiv(c.a, c.b, c.c), c.r) << c.a << "*" << c.b << "/" << c.c;
    }
}

TEST(SenhaConfereTest, OnlyTheWordInAnyLetterCase) {
    struct Caso {
        const char* digitada;
        bool aceita;
    };
    const Caso casos[] = {{"quenby", true},   {"QUENBY", true},   {"QuEnBy", true},
                          {" quenby", false}, {"quenby ", false}, {"", false},
                          {"quenbyx", false}, {"quenb", false},   {"qu\xC3\xA9nby", false}};
    for (const auto& c : casos) {
        EXPECT_EQ(SenhaConfere(c.digitada), c.aceita) << '"' << c.digitada << '"';
    }
}

// What happened while SenhaTavixSystem ran, seen from outside the dialog.
struct Sessao {
    bool Resultado = false;
    bool DialogoVisto = false;
    QString Titulo;
    QString TextoInicial;
    bool TudoSelecionado = false;
    int Eco = 0;
    int Maximo = 0;
    QRect Edicao, Ok, Cancelar, Rotulo;
    QSize Cliente;
    std::optional<QMessageBox::Icon> IconeMensagem;
    QString TituloMensagem, TextoMensagem;
    int BotoesMensagem = 0;
};

enum class Fechar { PeloOk, PeloEnter, PeloCancelar, PeloEsc };

// Runs the dialog, types `digitar` and closes it the given way; a message
// box that follows is recorded and dismissed with its OK button.
Sessao Executar(const QString& digitar, Fechar como, const QString& valor = QString()) {
    Sessao s;
    QTimer vigia;
    vigia.setInterval(10);
    QObject::connect(&vigia, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* caixa = qobject_cast<QMessageBox*>(modal)) {
            s.IconeMensagem = caixa->icon();
            s.TituloMensagem = caixa->windowTitle();
            s.TextoMensagem = caixa->text();
            s.BotoesMensagem = static_cast<int>(caixa->buttons().size());
            caixa->button(QMessageBox::Ok)->click();
            return;
        }
        auto* dialogo = qobject_cast<QDialog*>(modal);
        if (dialogo == nullptr || s.DialogoVisto) {
            return;
        }
        s.DialogoVisto = true;
        s.Titulo = dialogo->windowTitle();
        s.Cliente = dialogo->size();
        auto* campo = dialogo->findChild<QLineEdit*>();
        auto* rotulo = dialogo->findChild<QLabel*>();
        QPushButton* ok = nullptr;
        QPushButton* cancelar = nullptr;
        for (auto* b : dialogo->findChildren<QPushButton*>()) {
            (b->text() == "Ok" ? ok : cancelar) = b;
        }
        if (campo == nullptr || rotulo == nullptr || ok == nullptr || cancelar == nullptr) {
            ADD_FAILURE() << "dialog lacks its widgets";
            dialogo->reject();
            return;
        }
        s.TextoInicial = campo->text();
        s.TudoSelecionado = campo->selectedText() == campo->text();
        s.Eco = campo->style()->styleHint(QStyle::SH_LineEdit_PasswordCharacter, nullptr, campo);
        s.Maximo = campo->maxLength();
        s.Edicao = campo->geometry();
        s.Ok = ok->geometry();
        s.Cancelar = cancelar->geometry();
        s.Rotulo = rotulo->geometry();
        campo->setText(digitar);
        switch (como) {
            case Fechar::PeloOk:
                ok->click();
                break;
            case Fechar::PeloCancelar:
                cancelar->click();
                break;
            case Fechar::PeloEnter:
            case Fechar::PeloEsc: {
                const int tecla = como == Fechar::PeloEnter ? Qt::Key_Return : Qt::Key_Escape;
                QKeyEvent aperta(QEvent::KeyPress, tecla, Qt::NoModifier);
                QApplication::sendEvent(campo, &aperta);
                break;
            }
        }
    });
    vigia.start();
    s.Resultado = ondaris::app::SenhaTavixSystem("Senha Tavix System",
                                                 "Digite a senha TAVIX SYSTEM", valor);
    vigia.stop();
    return s;
}

TEST(SenhaTavixSystemTest, TheWordInAnyCaseClosesWithoutAMessage) {
    for (const QString& digitada : {QString("quenby"), QString("QUENBY"), QString("qUeNbY")}) {
        const Sessao s = Executar(digitada, Fechar::PeloOk);
        EXPECT_TRUE(s.DialogoVisto);
        EXPECT_TRUE(s.Resultado) << digitada.toStdString();
        EXPECT_FALSE(s.IconeMensagem.has_value());
    }
    EXPECT_TRUE(Executar("Quenby", Fechar::PeloEnter).Resultado);
}

TEST(SenhaTavixSystemTest, AWrongPasswordShowsTheMessage) {
    for (const QString& digitada : {QString(" quenby"), QString("quenby "), QString("quenby1"), QString()}) {
        const Sessao s = Executar(digitada, Fechar::PeloEnter);
        EXPECT_FALSE(s.Resultado) << '"' << digitada.toStdString() << '"';
        ASSERT_TRUE(s.IconeMensagem.has_value()) << '"' << digitada.toStdString() << '"';
        EXPECT_EQ(*s.IconeMensagem, QMessageBox::NoIcon);
        EXPECT_EQ(s.TextoMensagem, QString("Senha Incorreta!!!"));
        EXPECT_EQ(s.TituloMensagem, ondaris::app::TituloDaAplicacao());
        EXPECT_EQ(s.BotoesMensagem, 1);
    }
}

TEST(SenhaTavixSystemTest, CancellingShowsNothingEvenWithTheRightWord) {
    for (Fechar como : {Fechar::PeloCancelar, Fechar::PeloEsc}) {
        const Sessao s = Executar("quenby", como);
        EXPECT_TRUE(s.DialogoVisto);
        EXPECT_FALSE(s.Resultado);
        EXPECT_FALSE(s.IconeMensagem.has_value());
    }
}

TEST(SenhaTavixSystemTest, DialogIsLaidOutInUnitsOfItsFont) {
    const Sessao s = Executar("x", Fechar::PeloCancelar, "inicial");
    ASSERT_TRUE(s.DialogoVisto);
    EXPECT_EQ(s.Titulo, QString("Senha Tavix System"));
    EXPECT_EQ(s.TextoInicial, QString("inicial"));
    EXPECT_TRUE(s.TudoSelecionado);
    EXPECT_EQ(s.Eco, '*');
    EXPECT_EQ(s.Maximo, 255);

    QDialog referencia;  // a new window's default font, as the dialog's
    const QPoint u = ondaris::app::GetAveCharSize(referencia.font());
    const auto g = GeometriaSenha(u.x(), u.y());
    EXPECT_EQ(s.Cliente, QSize(g.ClienteLargura, g.ClienteAltura));
    EXPECT_EQ(s.Rotulo.topLeft(), QPoint(g.RotuloEsquerda, g.RotuloTopo));
    EXPECT_EQ(s.Edicao.topLeft(), QPoint(g.EdicaoEsquerda, g.EdicaoTopo));
    EXPECT_EQ(s.Edicao.width(), g.EdicaoLargura);
    EXPECT_EQ(s.Ok, QRect(g.OkEsquerda, g.BotoesTopo, g.BotaoLargura, g.BotaoAltura));
    EXPECT_EQ(s.Cancelar, QRect(g.CancelarEsquerda, g.BotoesTopo, g.BotaoLargura, g.BotaoAltura));
}

}  // namespace
