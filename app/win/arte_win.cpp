#include "app/win/arte_win.h"

#include <algorithm>
#include <memory>

// GDI+'s headers use min and max without defining them.
namespace Gdiplus {
using std::max;
using std::min;
}  // namespace Gdiplus
#include <gdiplus.h>

namespace ondaris::win {

using namespace Gdiplus;

TGdiPlus::TGdiPlus() {
    GdiplusStartupInput entrada;
    GdiplusStartup(&Token_, &entrada, nullptr);
}

TGdiPlus::~TGdiPlus() {
    if (Token_ != 0) GdiplusShutdown(Token_);
}

namespace {

Color Cor(int r, int g, int b, int a = 255) {
    return Color(static_cast<BYTE>(a), static_cast<BYTE>(r), static_cast<BYTE>(g), static_cast<BYTE>(b));
}

// Qt's lighter(150) and darker(130), closely enough for a gradient.
Color Clarear(const Color& c, double fator) {
    auto canal = [&](BYTE v) { return static_cast<int>(std::min(255.0, v * fator)); };
    return Cor(canal(c.GetR()), canal(c.GetG()), canal(c.GetB()));
}

void RetanguloArredondado(Graphics& g, const Brush* fundo, const Pen* borda, RectF r, REAL raio) {
    GraphicsPath caminho;
    const REAL d = raio * 2;
    caminho.AddArc(r.X, r.Y, d, d, 180, 90);
    caminho.AddArc(r.X + r.Width - d, r.Y, d, d, 270, 90);
    caminho.AddArc(r.X + r.Width - d, r.Y + r.Height - d, d, d, 0, 90);
    caminho.AddArc(r.X, r.Y + r.Height - d, d, d, 90, 90);
    caminho.CloseFigure();
    if (fundo) g.FillPath(fundo, &caminho);
    if (borda) g.DrawPath(borda, &caminho);
}

// One monitor: bezel, screen with a little content, neck and foot.
void DesenharMonitor(Graphics& g, const RectF& caixa, const Color& tela) {
    const REAL w = caixa.Width;
    const REAL h = caixa.Height;
    const RectF moldura(caixa.X, caixa.Y, w, h * 0.72f);
    const REAL centroX = caixa.X + w / 2;

    // foot and neck
    LinearGradientBrush metal(PointF(caixa.X, 0), PointF(caixa.X + w, 0), Cor(0x8A, 0x93, 0x9C),
                              Cor(0x7A, 0x83, 0x8C));
    const Color cores[3] = {Cor(0x8A, 0x93, 0x9C), Cor(0xC9, 0xCF, 0xD5), Cor(0x7A, 0x83, 0x8C)};
    const REAL posicoes[3] = {0, 0.5f, 1};
    metal.SetInterpolationColors(cores, posicoes, 3);
    g.FillRectangle(&metal, RectF(centroX - w * 0.07f, moldura.Y + moldura.Height - 1, w * 0.14f, h * 0.17f));
    RetanguloArredondado(g, &metal, nullptr, RectF(centroX - w * 0.26f, caixa.Y + h - h * 0.12f, w * 0.52f, h * 0.12f),
                         4);

    // bezel
    LinearGradientBrush aro(PointF(0, moldura.Y), PointF(0, moldura.Y + moldura.Height), Cor(0x4B, 0x52, 0x5A),
                            Cor(0x23, 0x28, 0x2E));
    Pen contorno(Cor(0x1A, 0x1E, 0x22), 1);
    RetanguloArredondado(g, &aro, &contorno, moldura, 6);

    // screen
    const RectF vidro(moldura.X + w * 0.06f, moldura.Y + w * 0.06f, moldura.Width - w * 0.12f,
                      moldura.Height - w * 0.14f);
    LinearGradientBrush brilho(PointF(vidro.X, vidro.Y), PointF(vidro.X + vidro.Width, vidro.Y + vidro.Height),
                               Clarear(tela, 1.5), Clarear(tela, 1 / 1.3));
    g.FillRectangle(&brilho, vidro);

    // a window with a few text lines on the screen
    SolidBrush folhaCor(Cor(255, 255, 255, 200));
    const RectF folha(vidro.X + vidro.Width * 0.12f, vidro.Y + vidro.Height * 0.16f,
                      vidro.Width * (1 - 0.12f - 0.3f), vidro.Height * (1 - 0.16f - 0.2f));
    g.FillRectangle(&folhaCor, folha);
    SolidBrush linhaCor(Clarear(tela, 1 / 1.1));
    for (int i = 0; i < 3; ++i) {
        g.FillRectangle(&linhaCor, RectF(folha.X + folha.Width * 0.1f, folha.Y + folha.Height * (0.2f + 0.25f * i),
                                         folha.Width * (i == 2 ? 0.45f : 0.75f), folha.Height * 0.1f));
    }
    // glare
    const PointF reflexo[3] = {PointF(vidro.X, vidro.Y), PointF(vidro.X + vidro.Width * 0.45f, vidro.Y),
                               PointF(vidro.X, vidro.Y + vidro.Height * 0.55f)};
    SolidBrush reflexoCor(Cor(255, 255, 255, 45));
    g.FillPolygon(&reflexoCor, reflexo, 3);
}

}  // namespace

HICON DesenharIconeBandeja(int lado) {
    Bitmap imagem(lado, lado, PixelFormat32bppARGB);
    {
        Graphics g(&imagem);
        g.SetSmoothingMode(SmoothingModeAntiAlias);
        g.Clear(Cor(0, 0, 0, 0));
        g.ScaleTransform(lado / 32.0f, lado / 32.0f);

        // A disc lit from its upper left.
        GraphicsPath disco;
        disco.AddEllipse(0.5f, 0.5f, 31.0f, 31.0f);
        PathGradientBrush fundo(&disco);
        fundo.SetCenterPoint(PointF(12, 10));
        fundo.SetCenterColor(Cor(0x2E, 0x4A, 0x66));
        Color borda = Cor(0x12, 0x1E, 0x2C);
        INT n = 1;
        fundo.SetSurroundColors(&borda, &n);
        g.FillPath(&fundo, &disco);

        // A trunk with one branch: three nodes joined by white strokes.
        Pen traco(Cor(255, 255, 255), 2.4f);
        traco.SetStartCap(LineCapRound);
        traco.SetEndCap(LineCapRound);
        traco.SetLineJoin(LineJoinRound);
        g.DrawLine(&traco, PointF(11, 10.5f), PointF(11, 21.5f));
        g.DrawBezier(&traco, PointF(11, 19), PointF(11, 14), PointF(21.5f, 17), PointF(21.5f, 12.5f));

        SolidBrush branco(Cor(255, 255, 255));
        const REAL r = 3.1f;
        for (const PointF& c : {PointF(11, 8.5f), PointF(11, 23.5f), PointF(21.5f, 10.5f)}) {
            g.FillEllipse(&branco, c.X - r, c.Y - r, 2 * r, 2 * r);
        }
    }
    HICON icone = nullptr;
    if (imagem.GetHICON(&icone) != Ok) return nullptr;
    return icone;
}

HBITMAP DesenharIlustracao() {
    constexpr int lado = 256;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = lado;
    info.bmiHeader.biHeight = -lado;  // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (bitmap == nullptr) return nullptr;
    // Drawn into a bitmap over the section's memory, premultiplied as
    // AlphaBlend expects.
    Bitmap imagem(lado, lado, lado * 4, PixelFormat32bppPARGB, static_cast<BYTE*>(bits));
    Graphics g(&imagem);
    g.SetSmoothingMode(SmoothingModeAntiAlias);
    g.Clear(Cor(0, 0, 0, 0));

    // The window shows it from y 3 in a 241 x 225 box whose top 45 pixels lie
    // under the title bar: everything stands between y 48 and y 222.
    const RectF topo(78, 50, 84, 70);
    const RectF esquerda(12, 140, 84, 70);
    const RectF direita(144, 140, 84, 70);
    const PointF cubo(120, 164);

    // network: cables from each screen to a hub, with data dots on them
    Pen cabo(Cor(0x2F, 0x80, 0xC8), 4);
    cabo.SetStartCap(LineCapRound);
    cabo.SetEndCap(LineCapRound);
    const PointF pontas[3] = {PointF(topo.X + topo.Width / 2, topo.Y + topo.Height - 2),
                              PointF(esquerda.X + esquerda.Width - 4, cubo.Y),
                              PointF(direita.X + 4, cubo.Y)};
    for (const PointF& ponta : pontas) g.DrawLine(&cabo, cubo, ponta);
    DesenharMonitor(g, topo, Cor(0x1E, 0x6F, 0xB8));
    DesenharMonitor(g, esquerda, Cor(0x1B, 0x8A, 0x6B));
    DesenharMonitor(g, direita, Cor(0xC2, 0x6A, 0x1A));

    SolidBrush azul(Cor(0x2F, 0x80, 0xC8));
    Pen branco(Cor(255, 255, 255), 2);
    g.FillEllipse(&azul, cubo.X - 9, cubo.Y - 9, 18.0f, 18.0f);
    g.DrawEllipse(&branco, cubo.X - 9, cubo.Y - 9, 18.0f, 18.0f);
    SolidBrush dado(Cor(0xF2, 0xB1, 0x34));
    for (const PointF& ponta : pontas) {
        const PointF p(cubo.X + (ponta.X - cubo.X) * 0.55f, cubo.Y + (ponta.Y - cubo.Y) * 0.55f);
        g.FillEllipse(&dado, p.X - 4, p.Y - 4, 8.0f, 8.0f);
    }
    g.Flush(FlushIntentionSync);
    return bitmap;
}

}  // namespace ondaris::win
