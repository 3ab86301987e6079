#include "app/arte.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

namespace ondaris::app {

QImage DesenharIconeBandeja(int lado) {
    QImage img(lado, lado, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(lado / 32.0, lado / 32.0);

    QRadialGradient fundo(QPointF(12, 10), 22);
    fundo.setColorAt(0, QColor(0x2E, 0x4A, 0x66));
    fundo.setColorAt(1, QColor(0x12, 0x1E, 0x2C));
    p.setPen(Qt::NoPen);
    p.setBrush(fundo);
    p.drawEllipse(QRectF(0.5, 0.5, 31, 31));

    // A trunk with one branch: three nodes joined by white strokes.
    QPen traco(Qt::white, 2.4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(traco);
    p.setBrush(Qt::NoBrush);
    p.drawLine(QPointF(11, 10.5), QPointF(11, 21.5));
    QPainterPath ramo;
    ramo.moveTo(11, 19);
    ramo.cubicTo(11, 14, 21.5, 17, 21.5, 12.5);
    p.drawPath(ramo);

    p.setBrush(Qt::white);
    p.setPen(Qt::NoPen);
    p.drawEllipse(QPointF(11, 8.5), 3.1, 3.1);
    p.drawEllipse(QPointF(11, 23.5), 3.1, 3.1);
    p.drawEllipse(QPointF(21.5, 10.5), 3.1, 3.1);
    return img;
}

QIcon IconeBandeja() {
    QIcon icone;
    for (int lado : {16, 22, 24, 32, 48, 64}) {
        icone.addPixmap(QPixmap::fromImage(DesenharIconeBandeja(lado)));
    }
    return icone;
}

namespace {

// One monitor: bezel, screen with a little content, neck and foot.
void DesenharMonitor(QPainter& p, const QRectF& caixa, const QColor& tela) {
    const qreal w = caixa.width();
    const qreal h = caixa.height();
    const QRectF moldura(caixa.left(), caixa.top(), w, h * 0.72);

    // foot and neck
    QLinearGradient metal(caixa.left(), 0, caixa.right(), 0);
    metal.setColorAt(0, QColor(0x8A, 0x93, 0x9C));
    metal.setColorAt(0.5, QColor(0xC9, 0xCF, 0xD5));
    metal.setColorAt(1, QColor(0x7A, 0x83, 0x8C));
    p.setPen(Qt::NoPen);
    p.setBrush(metal);
    p.drawRect(QRectF(caixa.center().x() - w * 0.07, moldura.bottom() - 1, w * 0.14, h * 0.17));
    p.drawRoundedRect(QRectF(caixa.center().x() - w * 0.26, caixa.bottom() - h * 0.12, w * 0.52,
                             h * 0.12),
                      4, 4);

    // bezel
    QLinearGradient aro(0, moldura.top(), 0, moldura.bottom());
    aro.setColorAt(0, QColor(0x4B, 0x52, 0x5A));
    aro.setColorAt(1, QColor(0x23, 0x28, 0x2E));
    p.setBrush(aro);
    p.setPen(QPen(QColor(0x1A, 0x1E, 0x22), 1));
    p.drawRoundedRect(moldura, 6, 6);

    // screen
    const QRectF vidro = moldura.adjusted(w * 0.06, w * 0.06, -w * 0.06, -w * 0.08);
    QLinearGradient brilho(vidro.topLeft(), vidro.bottomRight());
    brilho.setColorAt(0, tela.lighter(150));
    brilho.setColorAt(1, tela.darker(130));
    p.setPen(Qt::NoPen);
    p.setBrush(brilho);
    p.drawRect(vidro);

    // a window with a few text lines on the screen
    p.setBrush(QColor(255, 255, 255, 200));
    const QRectF folha = vidro.adjusted(vidro.width() * 0.12, vidro.height() * 0.16,
                                        -vidro.width() * 0.3, -vidro.height() * 0.2);
    p.drawRect(folha);
    p.setBrush(tela.darker(110));
    for (int i = 0; i < 3; ++i) {
        p.drawRect(QRectF(folha.left() + folha.width() * 0.1,
                          folha.top() + folha.height() * (0.2 + 0.25 * i),
                          folha.width() * (i == 2 ? 0.45 : 0.75), folha.height() * 0.1));
    }
    // glare
    QPainterPath reflexo;
    reflexo.moveTo(vidro.topLeft());
    reflexo.lineTo(vidro.left() + vidro.width() * 0.45, vidro.top());
    reflexo.lineTo(vidro.left(), vidro.top() + vidro.height() * 0.55);
    reflexo.closeSubpath();
    p.setBrush(QColor(255, 255, 255, 45));
    p.drawPath(reflexo);
}

}  // namespace

QImage DesenharIlustracao() {
    QImage img(256, 256, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);

    // The window shows it from y 3 in a 241 x 225 box whose top 45 pixels lie
    // under the title bar: everything stands between y 48 and y 222.
    const QRectF topo(78, 50, 84, 70);
    const QRectF esquerda(12, 140, 84, 70);
    const QRectF direita(144, 140, 84, 70);
    const QPointF cubo(120, 164);

    // network: cables from each screen to a hub, with data dots on them
    QPen cabo(QColor(0x2F, 0x80, 0xC8), 4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(cabo);
    p.setBrush(Qt::NoBrush);
    const QPointF pontas[3] = {QPointF(topo.center().x(), topo.bottom() - 2),
                               QPointF(esquerda.right() - 4, cubo.y()),
                               QPointF(direita.left() + 4, cubo.y())};
    for (const QPointF& ponta : pontas) {
        p.drawLine(cubo, ponta);
    }
    DesenharMonitor(p, topo, QColor(0x1E, 0x6F, 0xB8));
    DesenharMonitor(p, esquerda, QColor(0x1B, 0x8A, 0x6B));
    DesenharMonitor(p, direita, QColor(0xC2, 0x6A, 0x1A));

    p.setPen(QPen(Qt::white, 2));
    p.setBrush(QColor(0x2F, 0x80, 0xC8));
    p.drawEllipse(cubo, 9, 9);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xF2, 0xB1, 0x34));
    for (const QPointF& ponta : pontas) {
        p.drawEllipse(cubo + (ponta - cubo) * 0.55, 4, 4);
    }
    return img;
}

}  // namespace ondaris::app
