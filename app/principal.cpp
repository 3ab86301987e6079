#include "app/principal.h"

#include "app/aplicacao.h"
#include "app/arte.h"
#include "app/fontes.h"
#include "app/senha.h"
#include "app/shell/calculos.h"
#include "app/shell/verificacao.h"
#include "app/shell/versao.h"

#include <algorithm>
#include <sstream>

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTimer>

namespace ondaris::app {

namespace {

constexpr int LarguraJanela = 516;
constexpr int AlturaJanela = 284;

shell::TRetangulo Retangulo(const QRect& r) {
    return {r.x(), r.y(), r.width(), r.height()};
}

QLabel* NovoRotulo(QWidget* pai, const QString& texto, const QRect& caixa, const QFont& fonte,
                   Qt::Alignment alinhamento) {
    auto* rotulo = new QLabel(texto, pai);
    rotulo->setGeometry(caixa);
    rotulo->setFont(fonte);
    rotulo->setAlignment(alinhamento);
    rotulo->setContentsMargins(0, 0, 0, 0);
    return rotulo;
}

}  // namespace

TPainel::TPainel(QWidget* parent, const QColor& cor, int bevelExterno, int bevelInterno)
    : QWidget(parent), Cor_(cor), BevelExterno_(bevelExterno), BevelInterno_(bevelInterno) {}

void TPainel::setText(const QString& texto) {
    if (texto != Texto_) {
        Texto_ = texto;
        update();
    }
}

void TPainel::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), Cor_);
    const QColor claro = palette().color(QPalette::Light);
    const QColor escuro = palette().color(QPalette::Dark);
    QRect r = rect();
    // One line per pixel: top and left in the first colour, bottom and right
    // in the second; raised outside, lowered inside.
    auto bevel = [&](int largura, const QColor& alto, const QColor& baixo) {
        for (int i = 0; i < largura; ++i) {
            p.setPen(alto);
            p.drawLine(r.topLeft(), r.topRight());
            p.drawLine(r.topLeft(), r.bottomLeft());
            p.setPen(baixo);
            p.drawLine(r.bottomLeft(), r.bottomRight());
            p.drawLine(r.topRight(), r.bottomRight());
            r.adjust(1, 1, -1, -1);
        }
    };
    bevel(BevelExterno_, claro, escuro);
    bevel(BevelInterno_, escuro, claro);
    if (!Texto_.isEmpty()) {
        p.setPen(palette().color(QPalette::WindowText));
        p.setFont(font());
        p.drawText(r, Qt::AlignCenter | Qt::TextSingleLine, Texto_);
    }
}

QString TituloJanela(const QString& caminhoExecutavel) {
    std::string versao = shell::VersaoPrograma(caminhoExecutavel.toStdString(), false);
    if (versao.empty()) {
        // No version record in the file (a foreign build): the version this
        // code was compiled as.
        versao = shell::TextoVersao(shell::VersaoDeTexto(ONDARIS_VERSION), false);
    }
    return QStringLiteral("Ondaris Tavix System - Versão ") + QString::fromStdString(versao);
}

TFrmPrincipal::TFrmPrincipal(shell::TLigacao& ligacao, shell::TRegistro& registro, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      Ligacao_(ligacao),
      Registro_(registro) {
    setObjectName(QStringLiteral("FrmPrincipal"));
    setWindowTitle(QStringLiteral("Ondaris Tavix System"));
    setWindowIcon(IconeBandeja());
    setFixedSize(LarguraJanela, AlturaJanela);
    QFont padrao = font();
    const QString tahoma = CarregarTahoma();
    if (!tahoma.isEmpty()) {
        padrao.setFamily(tahoma);
    }
    padrao.setPixelSize(11);
    setFont(padrao);
    QPalette paleta = palette();
    paleta.setColor(QPalette::Window, paleta.color(QPalette::Button));  // button face
    setPalette(paleta);
    setAutoFillBackground(true);

    Panel1 = new TPainel(this, Qt::white, 3, 3);
    Panel1->setGeometry(0, 0, LarguraJanela, AlturaJanela);

    auto painelPreto = [&](const QRect& caixa, const QString& texto, int pixels) {
        auto* painel = new TPainel(Panel1, Qt::black);
        painel->setGeometry(caixa);
        painel->setFont(FonteArialNegrito(pixels));
        QPalette pp = painel->palette();
        pp.setColor(QPalette::WindowText, Qt::white);
        painel->setPalette(pp);
        painel->setText(texto);
        return painel;
    };

    Image1 = new QLabel(Panel1);
    Image1->setGeometry(0, -3, 241, 225);
    Image1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Image1->setPixmap(QPixmap::fromImage(DesenharIlustracao()));  // unscaled, clipped to the box

    PnTitulo = painelPreto(QRect(6, 6, 504, 35), QStringLiteral("Ondaris Tavix System - Versão 1.0.0"), 16);

    QPalette branco = palette();
    branco.setColor(QPalette::WindowText, Qt::white);
    LblMinimizar = NovoRotulo(PnTitulo, QStringLiteral("-"), QRect(448, -8, 18, 33),
                              FonteArialNegrito(37), Qt::AlignLeft | Qt::AlignTop);
    LblFechar = NovoRotulo(PnTitulo, QStringLiteral("X"), QRect(478, 3, 18, 32),
                           FonteArialNegrito(27), Qt::AlignLeft | Qt::AlignTop);
    for (QLabel* rotulo : {LblMinimizar, LblFechar}) {
        rotulo->setPalette(branco);
        rotulo->setCursor(Qt::PointingHandCursor);
        rotulo->installEventFilter(this);
    }

    Label1 = NovoRotulo(Panel1, QStringLiteral("Próxima Sincronização em"), QRect(248, 64, 248, 22),
                        FonteArialNegrito(19), Qt::AlignLeft | Qt::AlignTop);
    LblCronometro = NovoRotulo(Panel1, QStringLiteral("0:00"), QRect(260, 92, 238, 111),
                               FonteArialNegrito(96), Qt::AlignHCenter | Qt::AlignTop);
    // At 96 px "00:00" is a few pixels wider than the designed 238 px box and
    // would lose the edges of its outer digits: widen the box about the same
    // centre, so the text stands where it was designed to stand.
    const int larguraCronometro = std::max(
        238, QFontMetrics(LblCronometro->font()).horizontalAdvance(QStringLiteral("00:00")));
    LblCronometro->setGeometry(260 + 119 - larguraCronometro / 2, 92, larguraCronometro, 111);

    PnStatusRecebimento = painelPreto(QRect(6, 228, 504, 25),
                                      QStringLiteral("Status do Recebimento de Dados"), 13);
    PnStatusEnvio =
        painelPreto(QRect(6, 253, 504, 25), QStringLiteral("Status do Envio de Dados"), 13);

    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
    RestaurarAplicao1 = PopupMenu1->addAction(QStringLiteral("Restaurar Aplicação"));
    FecharAplicao1 = PopupMenu1->addAction(QStringLiteral("Ocultar Aplicação"));
    VerificarInstalacao1 = PopupMenu1->addAction(QStringLiteral("Verificar Instalação"));
    FecharAplicao2 = PopupMenu1->addAction(QStringLiteral("Fechar Aplicação"));
    connect(RestaurarAplicao1, &QAction::triggered, this, &TFrmPrincipal::RestaurarAplicao1Click);
    connect(FecharAplicao1, &QAction::triggered, this, &TFrmPrincipal::FecharAplicao1Click);
    connect(FecharAplicao2, &QAction::triggered, this, &TFrmPrincipal::FecharAplicao2Click);
    connect(VerificarInstalacao1, &QAction::triggered, this, &TFrmPrincipal::VerificarInstalacao1Click);

    // Created even when no notification area exists yet, so that a desktop
    // panel that starts after the agent still receives the icon; not on the
    // display-less platforms, which never have one.
    const QString plataforma = QGuiApplication::platformName();
    if (plataforma != QLatin1String("offscreen") && plataforma != QLatin1String("minimal")) {
        TrayIcon1 = new QSystemTrayIcon(IconeBandeja(), this);
        TrayIcon1->setToolTip(TituloDaAplicacao().left(127));
        // The platform opens the menu on the context gesture (right button
        // up); plain and double clicks do nothing.
        TrayIcon1->setContextMenu(PopupMenu1);
        TrayIcon1->show();
    }

    Relogio_ = new QTimer(this);
    // Re-armed after each tick, so a busy tick delays the next one and
    // never runs into it. Precise: a coarse timer may fire up to 5% early,
    // and the countdown would then run ahead of the seconds it shows.
    Relogio_->setSingleShot(true);
    Relogio_->setTimerType(Qt::PreciseTimer);
    Relogio_->setInterval(1000);
    connect(Relogio_, &QTimer::timeout, this, &TFrmPrincipal::TickRelogio);

    Operacoes_ = Ligacao_.CriarOperacoes(*this);
    Ciclo_ = std::make_unique<sync::TCiclo>(
        *Operacoes_, *this,
        [this](const std::string& mensagem) { Registro_.DoSaveLog(mensagem); });

    FormCreate();
}

TFrmPrincipal::~TFrmPrincipal() {
    // Each run lets go of its connections as it ends; what start-up opened
    // and no run has closed yet goes here, its failure to the log.
    if (const auto falha = Operacoes_->LiberarConexoes()) Registro_.DoSaveLog(*falha);
    if (auto* aplicacao = dynamic_cast<TAplicacao*>(QCoreApplication::instance())) {
        aplicacao->DefinirManipuladorExcecoes({});
    }
}

void TFrmPrincipal::FormCreate() {
    if (auto* aplicacao = dynamic_cast<TAplicacao*>(QCoreApplication::instance())) {
        aplicacao->DefinirManipuladorExcecoes(
            [this](QObject* Sender, const std::string& mensagem) { ManipulaExcecoes(Sender, mensagem); });
    }
    PnTitulo->setText(TituloJanela(QCoreApplication::applicationFilePath()));
    Ciclo_->Iniciar();
    Relogio_->start();
}

void TFrmPrincipal::TickRelogio() {
    try {
        Ciclo_->Tick();
    } catch (const std::exception& e) {
        if (Ciclo_->RegistrarFalha(e.what())) ManipulaExcecoes(this, e.what());
    } catch (...) {
        const char* texto = "Falha de tipo desconhecido na sincronização";
        if (Ciclo_->RegistrarFalha(texto)) ManipulaExcecoes(this, texto);
    }
    Relogio_->start();
}

void TFrmPrincipal::ManipulaExcecoes(QObject*, const std::string& mensagem) {
    Registro_.DoSaveLog(mensagem);
}

void TFrmPrincipal::StatusRecebimento(const std::string& texto) {
    PnStatusRecebimento->setText(QString::fromStdString(texto));
}

void TFrmPrincipal::StatusEnvio(const std::string& texto) {
    PnStatusEnvio->setText(QString::fromStdString(texto));
}

void TFrmPrincipal::Cronometro(const std::string& texto) {
    LblCronometro->setText(QString::fromStdString(texto));
}

void TFrmPrincipal::ProcessarMensagens() {
    QCoreApplication::processEvents();
}

bool TFrmPrincipal::BandejaDisponivel() {
    return QSystemTrayIcon::isSystemTrayAvailable();
}

QPoint TFrmPrincipal::PosicaoNaTela() const {
    const QScreen* tela = QGuiApplication::primaryScreen();
    if (tela == nullptr) {
        return pos();
    }
    const shell::TPonto p = shell::PosicaoJanela(Retangulo(tela->geometry()),
                                                 Retangulo(tela->availableGeometry()), width(),
                                                 height());
    return {p.X, p.Y};
}

void TFrmPrincipal::FormShow() {
    move(PosicaoNaTela());
}

void TFrmPrincipal::showEvent(QShowEvent* evento) {
    QWidget::showEvent(evento);
    if (!evento->spontaneous()) {
        FormShow();
    }
}

void TFrmPrincipal::RestaurarAplicao1Click() {
    // Clear the minimised state first: showing a minimised window would
    // leave it minimised.
    setWindowState(windowState() & ~Qt::WindowMinimized);
    show();  // a hidden window is placed anew on becoming visible
    raise();
    activateWindow();
}

void TFrmPrincipal::FecharAplicao1Click() {
    ApplicationEvents1Minimize();
}

void TFrmPrincipal::ApplicationEvents1Minimize() {
    if (!BandejaDisponivel()) {
        // Without a notification area a hidden window could never come
        // back: minimise it the ordinary way.
        showMinimized();
        return;
    }
    hide();
    setWindowState(windowState() | Qt::WindowMinimized);
}

void TFrmPrincipal::FecharAplicao2Click() {
    const QString Senha;
    if (SenhaTavixSystem(QStringLiteral("Senha Tavix System"),
                         QStringLiteral("Digite a senha TAVIX SYSTEM"), Senha)) {
        close();
        // The event loop ends when control returns to it, so a run in
        // progress finishes its steps first.
        QCoreApplication::quit();
    }
}

QString TFrmPrincipal::TextoVerificacaoInstalacao(bool& tudoCerto) {
    tudoCerto = false;
    if (Ciclo_->Estado() == sync::TEstadoCiclo::ecExecutando)
        return QStringLiteral("Uma sincronização está em andamento: verifique de novo quando ela terminar.");
    shell::TOpcoesVerificacao opcoes;
    opcoes.Regional = shell::TRegionalEmVigor::DoAmbiente();
    std::ostringstream saida;
    tudoCerto = shell::ExecutarVerificacao(opcoes, saida) == 0;
    return QString::fromStdString(saida.str());
}

void TFrmPrincipal::VerificarInstalacao1Click() {
    bool tudoCerto = false;
    const QString texto = TextoVerificacaoInstalacao(tudoCerto);
    QMessageBox caixa(tudoCerto ? QMessageBox::Information : QMessageBox::Warning, TituloDaAplicacao(), texto,
                      QMessageBox::Ok, this);
    caixa.setTextFormat(Qt::PlainText);
    caixa.exec();
}

void TFrmPrincipal::changeEvent(QEvent* evento) {
    QWidget::changeEvent(evento);
    if (evento->type() == QEvent::WindowStateChange && isVisible() && isMinimized() &&
        BandejaDisponivel()) {
        // The system's own minimise command goes the way of "hide".
        QTimer::singleShot(0, this, &TFrmPrincipal::ApplicationEvents1Minimize);
    }
}

void TFrmPrincipal::closeEvent(QCloseEvent* evento) {
    QWidget::closeEvent(evento);
    // Closing the main window ends the program, however it was asked.
    QCoreApplication::quit();
}

bool TFrmPrincipal::eventFilter(QObject* objeto, QEvent* evento) {
    if (evento->type() == QEvent::MouseButtonRelease) {
        const auto* mouse = static_cast<QMouseEvent*>(evento);
        auto* rotulo = qobject_cast<QLabel*>(objeto);
        if (mouse->button() == Qt::LeftButton && rotulo != nullptr &&
            rotulo->rect().contains(mouse->position().toPoint())) {
            if (rotulo == LblMinimizar) {
                FecharAplicao1Click();
                return true;
            }
            if (rotulo == LblFechar) {
                FecharAplicao2Click();
                return true;
            }
        }
    }
    return QWidget::eventFilter(objeto, evento);
}

}  // namespace ondaris::app
