#include "db/estrutura.h"

#include "db/texto.h"

#include <cstdint>

namespace ondaris::db {

namespace {

// Decodes one UTF-8 sequence at texto[i]; returns the code point, or -1 for
// an invalid sequence, and advances i past what it consumed.
int32_t ProximoCodigo(std::string_view texto, std::size_t& i) {
    auto byte = [&](std::size_t k) { return static_cast<unsigned char>(texto[k]); };
    unsigned char c = byte(i);
    if (c < 0x80) {
        ++i;
        return c;
    }
    int extras = 0;
    int32_t codigo = 0;
    int32_t minimo = 0;
    if ((c & 0xE0) == 0xC0) { extras = 1; codigo = c & 0x1F; minimo = 0x80; }
    else if ((c & 0xF0) == 0xE0) { extras = 2; codigo = c & 0x0F; minimo = 0x800; }
    else if ((c & 0xF8) == 0xF0) { extras = 3; codigo = c & 0x07; minimo = 0x10000; }
    else { ++i; return -1; }
    if (i + static_cast<std::size_t>(extras) >= texto.size()) {
        ++i;
        return -1;
    }
    for (int k = 1; k <= extras; ++k) {
        unsigned char cont = byte(i + static_cast<std::size_t>(k));
        if ((cont & 0xC0) != 0x80) {
            ++i;
            return -1;
        }
        codigo = (codigo << 6) | (cont & 0x3F);
    }
    i += static_cast<std::size_t>(extras) + 1;
    if (codigo < minimo || codigo > 0x10FFFF || (codigo >= 0xD800 && codigo <= 0xDFFF)) return -1;
    return codigo;
}

}  // namespace

std::string CortarLatin1(std::string_view texto, std::size_t largura) {
    std::string saida;
    std::size_t caracteres = 0;
    for (std::size_t i = 0; i < texto.size() && caracteres < largura; ++caracteres) {
        int32_t codigo = ProximoCodigo(texto, i);
        if (codigo < 0 || codigo > 0xFF) {
            saida += '?';
        } else if (codigo < 0x80) {
            saida += static_cast<char>(codigo);
        } else {
            saida += static_cast<char>(0xC0 | (codigo >> 6));
            saida += static_cast<char>(0x80 | (codigo & 0x3F));
        }
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
