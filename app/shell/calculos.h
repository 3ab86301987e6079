#pragma once
// Pure rules of the shell, kept apart from any window so they can be checked
// directly: the password dialog's geometry, the status window's placement,
// the password check and the text of a start-up failure. Free of Qt.
#include <string>

namespace ondaris::shell {

// a * b / c rounded to the nearest integer, halves away from zero; -1 when c
// is 0 (the Windows function of that name).
int MulDiv(int a, int b, int c);

// The password dialog laid out in dialog units: X and Y are the average
// character width and height of its font.
struct TGeometriaSenha {
    int ClienteLargura = 0, ClienteAltura = 0;
    int RotuloEsquerda = 0, RotuloTopo = 0;
    int EdicaoEsquerda = 0, EdicaoTopo = 0, EdicaoLargura = 0;
    int BotoesTopo = 0, BotaoLargura = 0, BotaoAltura = 0;
    int OkEsquerda = 0, CancelarEsquerda = 0;
};
TGeometriaSenha GeometriaSenha(int X, int Y);

struct TRetangulo {
    int Esquerda = 0, Topo = 0, Largura = 0, Altura = 0;
};
struct TPonto {
    int X = 0, Y = 0;
    bool operator==(const TPonto&) const = default;
};

// Height of a panel docked at the bottom of the screen: what the screen has
// below its available area (0 when the panel is on another edge).
int AlturaBarradeTarefas(const TRetangulo& tela, const TRetangulo& disponivel);

// The primary screen's area outside the taskbar, from the taskbar window's
// rectangle: a bar along the bottom or the right edge takes its thickness
// off that side; a bar elsewhere, or one of no size (none shown), leaves the
// screen whole, since only those two sides move the window.
TRetangulo AreaSemBarra(const TRetangulo& tela, const TRetangulo& barra);

// Top-left corner of the status window: bottom-right corner of the primary
// screen, above a bottom panel and left of a right-hand one. A panel on the
// top or left edge does not move it. (Placing it above the screen by the
// height of a side panel would hide the window altogether.)
TPonto PosicaoJanela(const TRetangulo& tela, const TRetangulo& disponivel, int largura, int altura);

// The closing password, compared after lower-casing A..Z only.
bool SenhaConfere(const std::string& digitada);

// A failure message as a message box shows it: "." appended when its last
// character sorts after ".".
std::string MensagemComPonto(const std::string& mensagem);

}  // namespace ondaris::shell
