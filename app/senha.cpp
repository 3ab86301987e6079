#include "app/senha.h"

#include "app/aplicacao.h"
#include "app/shell/calculos.h"

#include <QDialog>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProxyStyle>
#include <QPushButton>
#include <QScreen>

namespace ondaris::app {

namespace {

// Shows "*" for every character typed, whatever the platform style uses.
class TEstiloSenha final : public QProxyStyle {
public:
    int styleHint(StyleHint hint, const QStyleOption* opcao, const QWidget* widget,
                  QStyleHintReturn* retorno) const override {
        if (hint == QStyle::SH_LineEdit_PasswordCharacter) {
            return '*';
        }
        return QProxyStyle::styleHint(hint, opcao, widget, retorno);
    }
};

}  // namespace

QPoint GetAveCharSize(const QFont& fonte) {
    const QFontMetrics medidas(fonte);
    const QString letras = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    return {medidas.horizontalAdvance(letras) / 52, medidas.height()};
}

std::optional<QString> PedirSenhaTavixSystem(const QString& ACaption, const QString& APrompt,
                                             const QString& Value) {
    TEstiloSenha estilo;  // outlives the field that uses it

    // An ordinary resizable window, not a dialog frame.
    QDialog Form(nullptr, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                              Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);
    Form.setObjectName(QStringLiteral("SenhaTavixSystem"));
    const QPoint DialogUnits = GetAveCharSize(Form.font());
    const shell::TGeometriaSenha g = shell::GeometriaSenha(DialogUnits.x(), DialogUnits.y());

    Form.setWindowTitle(ACaption);
    Form.resize(g.ClienteLargura, g.ClienteAltura);
    if (const QScreen* tela = QGuiApplication::primaryScreen()) {
        const QRect area = tela->geometry();
        Form.move(area.center() - QPoint(g.ClienteLargura / 2, g.ClienteAltura / 2));
    }

    QLabel Prompt(APrompt, &Form);
    Prompt.adjustSize();
    Prompt.move(g.RotuloEsquerda, g.RotuloTopo);

    QLineEdit Edit(&Form);
    Edit.setStyle(&estilo);
    Edit.setEchoMode(QLineEdit::Password);
    Edit.setMaxLength(255);
    Edit.setText(Value);
    Edit.selectAll();
    Edit.setGeometry(g.EdicaoEsquerda, g.EdicaoTopo, g.EdicaoLargura, Edit.sizeHint().height());

    QPushButton Ok(QStringLiteral("Ok"), &Form);
    Ok.setDefault(true);
    Ok.setGeometry(g.OkEsquerda, g.BotoesTopo, g.BotaoLargura, g.BotaoAltura);
    QObject::connect(&Ok, &QPushButton::clicked, &Form, &QDialog::accept);

    QPushButton Cancelar(QStringLiteral("Cancelar"), &Form);
    Cancelar.setGeometry(g.CancelarEsquerda, g.BotoesTopo, g.BotaoLargura, g.BotaoAltura);
    QObject::connect(&Cancelar, &QPushButton::clicked, &Form, &QDialog::reject);  // Esc too

    Edit.setFocus();
    if (Form.exec() == QDialog::Accepted) return Edit.text();
    return std::nullopt;
}

bool SenhaTavixSystem(const QString& ACaption, const QString& APrompt, const QString& Value) {
    std::optional<std::string> digitada;
    if (const auto texto = PedirSenhaTavixSystem(ACaption, APrompt, Value)) digitada = texto->toStdString();
    return shell::SenhaAceita(digitada, [](const std::string& aviso) {
        QMessageBox mensagem(QMessageBox::NoIcon, TituloDaAplicacao(), QString::fromStdString(aviso),
                             QMessageBox::Ok);
        mensagem.exec();
    });
}

}  // namespace ondaris::app
