#include "app/principal.h"

#include "app/aplicacao.h"
#include "app/arte.h"
#include "app/fontes.h"
#include "app/senha.h"
#include "app/shell/calculos.h"

#include <algorithm>

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

namespace lay = shell::layout;

shell::TRetangulo Retangulo(const QRect& r) {
    return {r.x(), r.y(), r.width(), r.height()};
}

QRect Caixa(const shell::TRetangulo& r) {
    return {r.Esquerda, r.Topo, r.Largura, r.Altura};
}

QString Texto(const std::string& utf8) {
    return QString::fromStdString(utf8);
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

TFrmPrincipal::TFrmPrincipal(shell::TLigacao& ligacao, shell::TRegistro& registro, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
    setObjectName(QStringLiteral("FrmPrincipal"));
    setWindowTitle(Texto(shell::CaptionJanela));
    setWindowIcon(IconeBandeja());
    setFixedSize(lay::Largura, lay::Altura);
    QFont padrao = font();
    const QString tahoma = CarregarTahoma();
    if (!tahoma.isEmpty()) {
        padrao.setFamily(tahoma);
    }
    padrao.setPixelSize(lay::FontePadrao);
    setFont(padrao);
    QPalette paleta = palette();
    paleta.setColor(QPalette::Window, paleta.color(QPalette::Button));  // button face
    setPalette(paleta);
    setAutoFillBackground(true);

    Panel1 = new TPainel(this, Qt::white, lay::Bevel, lay::Bevel);
    Panel1->setGeometry(0, 0, lay::Largura, lay::Altura);

    const shell::TTextosJanela iniciais;
    auto painelPreto = [&](const shell::TRetangulo& caixa, const std::string& texto, int pixels) {
        auto* painel = new TPainel(Panel1, Qt::black);
        painel->setGeometry(Caixa(caixa));
        painel->setFont(FonteArialNegrito(pixels));
        QPalette pp = painel->palette();
        pp.setColor(QPalette::WindowText, Qt::white);
        painel->setPalette(pp);
        painel->setText(Texto(texto));
        return painel;
    };

    Image1 = new QLabel(Panel1);
    Image1->setGeometry(Caixa(lay::Image1));
    Image1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Image1->setPixmap(QPixmap::fromImage(DesenharIlustracao()));  // unscaled, clipped to the box

    PnTitulo = painelPreto(lay::PnTitulo, iniciais.Titulo, lay::FontePnTitulo);

    QPalette branco = palette();
    branco.setColor(QPalette::WindowText, Qt::white);
    LblMinimizar = NovoRotulo(PnTitulo, QStringLiteral("-"), Caixa(lay::LblMinimizar),
                              FonteArialNegrito(lay::FonteLblMinimizar), Qt::AlignLeft | Qt::AlignTop);
    LblFechar = NovoRotulo(PnTitulo, QStringLiteral("X"), Caixa(lay::LblFechar),
                           FonteArialNegrito(lay::FonteLblFechar), Qt::AlignLeft | Qt::AlignTop);
    for (QLabel* rotulo : {LblMinimizar, LblFechar}) {
        rotulo->setPalette(branco);
        rotulo->setCursor(Qt::PointingHandCursor);
        rotulo->installEventFilter(this);
    }

    Label1 = NovoRotulo(Panel1, Texto(shell::TextoLabel1), Caixa(lay::Label1),
                        FonteArialNegrito(lay::FonteLabel1), Qt::AlignLeft | Qt::AlignTop);
    LblCronometro = NovoRotulo(Panel1, Texto(iniciais.Cronometro), Caixa(lay::LblCronometro),
                               FonteArialNegrito(lay::FonteLblCronometro), Qt::AlignHCenter | Qt::AlignTop);
    // At 96 px "00:00" is a few pixels wider than the designed 238 px box and
    // would lose the edges of its outer digits: widen the box about the same
    // centre, so the text stands where it was designed to stand.
    const shell::TRetangulo& cron = lay::LblCronometro;
    const int larguraCronometro = std::max(
        cron.Largura, QFontMetrics(LblCronometro->font()).horizontalAdvance(QStringLiteral("00:00")));
    LblCronometro->setGeometry(cron.Esquerda + cron.Largura / 2 - larguraCronometro / 2, cron.Topo,
                               larguraCronometro, cron.Altura);

    PnStatusRecebimento = painelPreto(lay::PnStatusRecebimento, iniciais.Recebimento, lay::FontePnStatus);
    PnStatusEnvio = painelPreto(lay::PnStatusEnvio, iniciais.Envio, lay::FontePnStatus);

    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
    for (const shell::TItemMenu& item : shell::MenuBandeja) {
        QAction* acao = PopupMenu1->addAction(Texto(item.Texto));
        const shell::TComandoJanela comando = item.Comando;
        connect(acao, &QAction::triggered, this, [this, comando] {
            if (comando == shell::TComandoJanela::cjVerificarInstalacao) {
                VerificarInstalacaoDoMenu();
            } else {
                Modelo_->Executar(comando);
            }
        });
    }

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

    Modelo_ = std::make_unique<shell::TJanela>(*this, ligacao, registro,
                                               QCoreApplication::applicationFilePath().toStdString());
    FormCreate();
}

TFrmPrincipal::~TFrmPrincipal() {
    // The run in progress ends after its current step; the self-check runs
    // to its end. Then the model lets go of the connections, which no
    // thread uses any more.
    Modelo_->PedirParada();
    {
        std::lock_guard trava(MutexRelogio_);
        PararRelogio_ = true;
    }
    SinalRelogio_.notify_all();
    if (Trabalhador_.joinable()) Trabalhador_.join();
    if (Verificacao_.joinable()) Verificacao_.join();
    Modelo_.reset();
    while (Ocupado_ > 0) {
        QGuiApplication::restoreOverrideCursor();
        --Ocupado_;
    }
    if (auto* aplicacao = dynamic_cast<TAplicacao*>(QCoreApplication::instance())) {
        aplicacao->DefinirManipuladorExcecoes({});
    }
}

void TFrmPrincipal::FormCreate() {
    if (auto* aplicacao = dynamic_cast<TAplicacao*>(QCoreApplication::instance())) {
        aplicacao->DefinirManipuladorExcecoes(
            [this](QObject* Sender, const std::string& mensagem) { ManipulaExcecoes(Sender, mensagem); });
    }
    MostrarTextos();
    Modelo_->Iniciar();
    Trabalhador_ = std::thread([this] { Relogio(); });
}

void TFrmPrincipal::Relogio() {
    std::unique_lock trava(MutexRelogio_);
    // Waits against the steady clock, which never jumps with the wall
    // clock; a busy tick delays the next one and never runs into it.
    while (!SinalRelogio_.wait_for(trava, shell::TJanela::IntervaloRelogio, [this] { return PararRelogio_; })) {
        trava.unlock();
        Modelo_->Tick();
        trava.lock();
    }
}

void TFrmPrincipal::VerificarInstalacaoDoMenu() {
    bool livre = false;
    if (!VerificacaoEmCurso_.compare_exchange_strong(livre, true)) return;
    if (Verificacao_.joinable()) Verificacao_.join();
    Verificacao_ = std::thread([this] {
        shell::TResultadoVerificacao resultado;
        try {
            resultado = Modelo_->VerificarInstalacao();
        } catch (const std::exception& e) {
            resultado.Texto = e.what();
        }
        // Shown on the window's thread; dropped if the window has gone.
        QMetaObject::invokeMethod(
            this, [this, resultado] { Modelo_->MostrarVerificacao(resultado); }, Qt::QueuedConnection);
        VerificacaoEmCurso_ = false;
    });
}

void TFrmPrincipal::ManipulaExcecoes(QObject*, const std::string& mensagem) {
    Modelo_->ManipulaExcecoes(mensagem);
}

void TFrmPrincipal::TextosAlterados() {
    // Called from the cycle's thread: shown by the window's own.
    QMetaObject::invokeMethod(this, [this] { MostrarTextos(); }, Qt::QueuedConnection);
}

void TFrmPrincipal::MostrarTextos() {
    const shell::TTextosJanela textos = Modelo_->Textos();
    PnTitulo->setText(Texto(textos.Titulo));
    PnStatusRecebimento->setText(Texto(textos.Recebimento));
    PnStatusEnvio->setText(Texto(textos.Envio));
    LblCronometro->setText(Texto(textos.Cronometro));
}

void TFrmPrincipal::Ocupado(bool ocupado) {
    QMetaObject::invokeMethod(this, [this, ocupado] { MostrarOcupado(ocupado); }, Qt::QueuedConnection);
}

void TFrmPrincipal::MostrarOcupado(bool ocupado) {
    if (ocupado) {
        QGuiApplication::setOverrideCursor(Qt::WaitCursor);
        ++Ocupado_;
    } else if (Ocupado_ > 0) {
        QGuiApplication::restoreOverrideCursor();
        --Ocupado_;
    }
}

bool TFrmPrincipal::BandejaDisponivelAgora() {
    return QSystemTrayIcon::isSystemTrayAvailable();
}

shell::TRetangulo TFrmPrincipal::Tela() {
    const QScreen* tela = QGuiApplication::primaryScreen();
    return tela != nullptr ? Retangulo(tela->geometry()) : Retangulo(geometry());
}

shell::TRetangulo TFrmPrincipal::AreaDisponivel() {
    const QScreen* tela = QGuiApplication::primaryScreen();
    return tela != nullptr ? Retangulo(tela->availableGeometry()) : Retangulo(geometry());
}

void TFrmPrincipal::Mostrar(std::optional<shell::TPonto> posicao) {
    if (posicao) move(posicao->X, posicao->Y);
    // Clear the minimised state first: showing a minimised window would
    // leave it minimised.
    setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
}

void TFrmPrincipal::TrazerParaFrente() {
    raise();
    activateWindow();
}

void TFrmPrincipal::Ocultar() {
    hide();
    setWindowState(windowState() | Qt::WindowMinimized);
}

void TFrmPrincipal::Minimizar() {
    showMinimized();
}

std::optional<std::string> TFrmPrincipal::PedirSenha(const std::string& caption, const std::string& prompt,
                                                     const std::string& valor) {
    const auto digitada = PedirSenhaTavixSystem(Texto(caption), Texto(prompt), Texto(valor));
    if (!digitada) return std::nullopt;
    return digitada->toStdString();
}

void TFrmPrincipal::Mensagem(const std::string& texto, shell::TIconeMensagem icone) {
    QMessageBox::Icon q = QMessageBox::NoIcon;
    switch (icone) {
        case shell::TIconeMensagem::imNenhum: q = QMessageBox::NoIcon; break;
        case shell::TIconeMensagem::imInformacao: q = QMessageBox::Information; break;
        case shell::TIconeMensagem::imAviso: q = QMessageBox::Warning; break;
        case shell::TIconeMensagem::imErro: q = QMessageBox::Critical; break;
    }
    QMessageBox caixa(q, TituloDaAplicacao(), Texto(texto), QMessageBox::Ok, isVisible() ? this : nullptr);
    caixa.setTextFormat(Qt::PlainText);
    caixa.exec();
}

void TFrmPrincipal::Encerrar() {
    close();
    // The event loop ends when control returns to it, so a run in
    // progress finishes its steps first.
    QCoreApplication::quit();
}

QString TFrmPrincipal::TextoVerificacaoInstalacao(bool& tudoCerto) {
    const shell::TResultadoVerificacao r = Modelo_->VerificarInstalacao();
    tudoCerto = r.TudoCerto;
    return Texto(r.Texto);
}

void TFrmPrincipal::changeEvent(QEvent* evento) {
    QWidget::changeEvent(evento);
    if (evento->type() == QEvent::WindowStateChange && isVisible() && isMinimized()) {
        // The system's own minimise command goes the way of "hide".
        QTimer::singleShot(0, this, &TFrmPrincipal::MinimizadaPeloSistema);
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
                OcultarAplicacao();
                return true;
            }
            if (rotulo == LblFechar) {
                FecharAplicacao();
                return true;
            }
        }
    }
    return QWidget::eventFilter(objeto, evento);
}

}  // namespace ondaris::app
