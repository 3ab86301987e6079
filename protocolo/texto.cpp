#include "protocolo/texto.h"

#include <algorithm>
#include <cstdint>

namespace ondaris::protocolo {

char32_t ProximoCaractereUtf8(std::string_view s, std::size_t& i) {
    const auto b0 = static_cast<unsigned char>(s[i]);
    if (b0 < 0x80) {
        ++i;
        return b0;
    }
    int extra = 0;
    char32_t cp = 0;
    if ((b0 & 0xE0) == 0xC0) {
        extra = 1;
        cp = b0 & 0x1F;
    } else if ((b0 & 0xF0) == 0xE0) {
        extra = 2;
        cp = b0 & 0x0F;
    } else if ((b0 & 0xF8) == 0xF0) {
        extra = 3;
        cp = b0 & 0x07;
    } else {
        ++i;
        return kCaractereSubstituto;
    }
    if (i + static_cast<std::size_t>(extra) >= s.size()) {
        ++i;
        return kCaractereSubstituto;
    }
    for (int k = 1; k <= extra; ++k) {
        const auto b = static_cast<unsigned char>(s[i + static_cast<std::size_t>(k)]);
        if ((b & 0xC0) != 0x80) {
            ++i;
            return kCaractereSubstituto;
        }
        cp = (cp << 6) | (b & 0x3F);
    }
    // Overlong forms and surrogates are not valid UTF-8.
    static const char32_t minimo[] = {0, 0x80, 0x800, 0x10000};
    if (cp < minimo[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        ++i;
        return kCaractereSubstituto;
    }
    i += static_cast<std::size_t>(extra) + 1;
    return cp;
}

void AcrescentarUtf8(std::string& saida, char32_t c) {
    if (c < 0x80) {
        saida += static_cast<char>(c);
    } else if (c < 0x800) {
        saida += static_cast<char>(0xC0 | (c >> 6));
        saida += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        saida += static_cast<char>(0xE0 | (c >> 12));
        saida += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        saida += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        saida += static_cast<char>(0xF0 | (c >> 18));
        saida += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        saida += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        saida += static_cast<char>(0x80 | (c & 0x3F));
    }
}


std::string Utf8ParaLatin1(std::string_view utf8) {
    std::string saida;
    saida.reserve(utf8.size());
    std::size_t i = 0;
    while (i < utf8.size()) {
        const char32_t cp = ProximoCaractereUtf8(utf8, i);
        saida.push_back(cp <= 0xFF ? static_cast<char>(cp) : '?');
    }
    return saida;
}

bool CabeEmLatin1(std::string_view utf8) {
    std::size_t i = 0;
    while (i < utf8.size()) {
        if (ProximoCaractereUtf8(utf8, i) > 0xFF) return false;
    }
    return true;
}

std::string Latin1ParaUtf8(std::string_view latin1) {
    std::string saida;
    saida.reserve(latin1.size());
    for (char c : latin1) AcrescentarUtf8(saida, static_cast<unsigned char>(c));
    return saida;
}

std::size_t ContarCaracteresUtf8(std::string_view utf8) {
    std::size_t n = 0;
    std::size_t i = 0;
    while (i < utf8.size()) {
        ProximoCaractereUtf8(utf8, i);
        ++n;
    }
    return n;
}

std::string PrimeirosCaracteresUtf8(std::string_view utf8, std::size_t maximo, std::size_t bytes) {
    std::size_t i = 0, n = 0;
    while (i < utf8.size() && n < maximo) {
        std::size_t proximo = i;
        ProximoCaractereUtf8(utf8, proximo);
        if (proximo > bytes) break;
        i = proximo;
        ++n;
    }
    return std::string(utf8.substr(0, i));
}

std::string MaiusculasAscii(std::string_view texto) {
    std::string saida(texto);
    for (char& c : saida) c = MaiusculaAscii(c);
    return saida;
}

std::string MinusculasAscii(std::string_view texto) {
    std::string saida(texto);
    for (char& c : saida) c = MinusculaAscii(c);
    return saida;
}

bool IguaisSemCaixa(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return MaiusculaAscii(x) == MaiusculaAscii(y);
           });
}

bool IdentificadorValido(std::string_view nome, std::size_t maximo) {
    const auto letra = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
    if (nome.empty() || nome.size() > maximo || !letra(nome.front())) return false;
    for (char c : nome)
        if (!letra(c) && !(c >= '0' && c <= '9') && c != '_' && c != '$') return false;
    return true;
}

std::string LiteralSql(std::string_view texto) {
    std::string r = "'";
    for (char c : texto) {
        if (c == '\'') r += '\'';
        r += c;
    }
    return r + "'";
}

}  // namespace ondaris::protocolo
