#include "app/shell/calculos.h"

#include "db/conexao.h"
#include "protocolo/texto.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

namespace ondaris::shell {

int MulDiv(int a, int b, int c) {
    if (c == 0) {
        return -1;
    }
    const std::int64_t produto = static_cast<std::int64_t>(a) * b;
    std::int64_t q = produto / c;
    const std::int64_t r = produto % c;
    if (2 * std::llabs(r) >= std::llabs(c)) {
        q += ((produto < 0) != (c < 0)) ? -1 : 1;
    }
    return static_cast<int>(q);
}

TGeometriaSenha GeometriaSenha(int X, int Y) {
    TGeometriaSenha g;
    g.ClienteLargura = MulDiv(180, X, 4);
    g.ClienteAltura = MulDiv(63, Y, 8);
    g.RotuloEsquerda = MulDiv(8, X, 4);
    g.RotuloTopo = MulDiv(8, Y, 8);
    g.EdicaoEsquerda = g.RotuloEsquerda;
    g.EdicaoTopo = MulDiv(19, Y, 8);
    g.EdicaoLargura = MulDiv(164, X, 4);
    g.BotoesTopo = MulDiv(41, Y, 8);
    g.BotaoLargura = MulDiv(50, X, 4);
    g.BotaoAltura = MulDiv(14, Y, 8);
    g.OkEsquerda = MulDiv(38, X, 4);
    g.CancelarEsquerda = MulDiv(92, X, 4);
    return g;
}

int AlturaBarradeTarefas(const TRetangulo& tela, const TRetangulo& disponivel) {
    const int baseTela = tela.Topo + tela.Altura;
    const int baseDisponivel = disponivel.Topo + disponivel.Altura;
    return std::max(0, baseTela - baseDisponivel);
}

TRetangulo AreaSemBarra(const TRetangulo& tela, const TRetangulo& barra) {
    TRetangulo area = tela;
    if (barra.Largura <= 0 || barra.Altura <= 0) return area;
    const int baseTela = tela.Topo + tela.Altura, direitaTela = tela.Esquerda + tela.Largura;
    const bool deitada = barra.Largura >= barra.Altura;
    if (deitada && barra.Topo + barra.Altura >= baseTela && barra.Topo > tela.Topo) {
        area.Altura = std::max(0, barra.Topo - tela.Topo);
    } else if (!deitada && barra.Esquerda + barra.Largura >= direitaTela && barra.Esquerda > tela.Esquerda) {
        area.Largura = std::max(0, barra.Esquerda - tela.Esquerda);
    }
    return area;
}

TPonto PosicaoJanela(const TRetangulo& tela, const TRetangulo& disponivel, int largura, int altura) {
    const int direitaTela = tela.Esquerda + tela.Largura;
    const int direitaDisponivel = disponivel.Esquerda + disponivel.Largura;
    const int barraDireita = std::max(0, direitaTela - direitaDisponivel);
    return {direitaTela - barraDireita - largura,
            tela.Topo + tela.Altura - AlturaBarradeTarefas(tela, disponivel) - altura};
}

bool SenhaConfere(const std::string& digitada) {
    // The closing password is the replication account's word.
    return protocolo::MinusculasAscii(digitada) == db::kSenhaReplicacao;
}

std::string MensagemComPonto(const std::string& mensagem) {
    if (!mensagem.empty() && static_cast<unsigned char>(mensagem.back()) > '.') {
        return mensagem + ".";
    }
    return mensagem;
}

}  // namespace ondaris::shell
