#include "db/estrutura.h"

#include "protocolo/texto.h"

#include <cstdint>

namespace ondaris::db {
using protocolo::AcrescentarUtf8;
using protocolo::MaiusculasAscii;
using protocolo::ProximoCaractereUtf8;


std::string CortarLatin1(std::string_view texto, std::size_t largura) {
    std::string saida;
    std::size_t caracteres = 0;
    for (std::size_t i = 0; i < texto.size() && caracteres < largura; ++caracteres) {
        const char32_t codigo = ProximoCaractereUtf8(texto, i);
        AcrescentarUtf8(saida, codigo > 0xFF ? U'?' : codigo);
    }
    return saida;
}

void TEstrutura::Adicionar(std::optional<std::string> tabela, std::optional<std::string> campo,
                           std::optional<std::string> chave) {
    TLinhaEstrutura linha;
    if (tabela) linha.TABELA = CortarLatin1(*tabela, LarguraTabela);
    if (campo) linha.CAMPO = CortarLatin1(*campo, LarguraCampo);
    if (chave) linha.CHAVE = CortarLatin1(*chave, LarguraChave);
    linhas_.push_back(std::move(linha));
}

std::vector<std::string> TEstrutura::CamposDaTabela(std::string_view tabela) const {
    const std::string nome = MaiusculasAscii(tabela);
    std::vector<std::string> campos;
    for (const auto& linha : linhas_)
        if (linha.TABELA == nome && linha.CAMPO && !linha.CAMPO->empty()) campos.push_back(*linha.CAMPO);
    return campos;
}

}  // namespace ondaris::db
