#include "protocolo/linha.h"

#include <utility>

#include "protocolo/texto.h"

namespace ondaris::protocolo {

std::string TIdentidadeLinha::Chave() const {
    return std::to_string(Tabela.size()) + ':' + Tabela + std::to_string(Chave1.size()) + ':' + Chave1 + Chave2;
}

std::string TIdentidadeLinha::Descricao() const {
    return Tabela + " (" + Chave1 + (Chave2.empty() ? "" : ", " + Chave2) + ")";
}

TIdentidadeLinha IdentidadeDe(std::string_view tabela, std::string chave1, std::string chave2) {
    return TIdentidadeLinha{MaiusculasAscii(tabela), std::move(chave1), std::move(chave2)};
}

}  // namespace ondaris::protocolo
