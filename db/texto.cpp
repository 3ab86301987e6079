#include "db/texto.h"

#include <cstdint>

namespace ondaris::db {

namespace {

// Decodes one UTF-8 sequence at s[i]; returns the code point and advances i.
// An invalid or truncated sequence yields its first byte as a Latin-1 code.
std::uint32_t ProximoCodigo(std::string_view s, std::size_t& i) {
    const auto b0 = static_cast<unsigned char>(s[i]);
    if (b0 < 0x80) {
        ++i;
        return b0;
    }
    int extra = 0;
    std::uint32_t cp = 0;
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
        return b0;
    }
    if (i + static_cast<std::size_t>(extra) >= s.size()) {
        ++i;
        return b0;
    }
    for (int k = 1; k <= extra; ++k) {
        const auto b = static_cast<unsigned char>(s[i + k]);
        if ((b & 0xC0) != 0x80) {
            ++i;
            return b0;
        }
        cp = (cp << 6) | (b & 0x3F);
    }
    // Overlong forms and surrogates are not valid UTF-8.
    static const std::uint32_t minimo[] = {0, 0x80, 0x800, 0x10000};
    if (cp < minimo[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        ++i;
        return b0;
    }
    i += static_cast<std::size_t>(extra) + 1;
    return cp;
}

}  // namespace

std::string Utf8ParaLatin1(std::string_view utf8) {
    std::string saida;
    saida.reserve(utf8.size());
    std::size_t i = 0;
    while (i < utf8.size()) {
        const std::uint32_t cp = ProximoCodigo(utf8, i);
        saida.push_back(cp <= 0xFF ? static_cast<char>(cp) : '?');
    }
    return saida;
}

bool CabeEmLatin1(std::string_view utf8) {
    std::size_t i = 0;
    while (i < utf8.size()) {
        const std::size_t inicio = i;
        const std::uint32_t cp = ProximoCodigo(utf8, i);
        // An invalid sequence comes back as its first byte alone.
        if (cp > 0xFF || (cp >= 0x80 && i - inicio == 1)) return false;
    }
    return true;
}

std::string Latin1ParaUtf8(std::string_view latin1) {
    std::string saida;
    saida.reserve(latin1.size());
    for (char c : latin1) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x80) {
            saida.push_back(c);
        } else {
            saida.push_back(static_cast<char>(0xC0 | (b >> 6)));
            saida.push_back(static_cast<char>(0x80 | (b & 0x3F)));
        }
    }
    return saida;
}

std::size_t ContarCaracteresUtf8(std::string_view utf8) {
    std::size_t n = 0;
    std::size_t i = 0;
    while (i < utf8.size()) {
        ProximoCodigo(utf8, i);
        ++n;
    }
    return n;
}

std::string MaiusculasAscii(std::string_view texto) {
    std::string saida(texto);
    for (char& c : saida)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return saida;
}

bool IguaisSemCaixa(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
        if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
        if (x != y) return false;
    }
    return true;
}

bool IdentificadorSimples(std::string_view nome, std::size_t maximo) {
    const auto letra = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
    if (nome.empty() || nome.size() > maximo || !letra(nome.front())) return false;
    for (char c : nome)
        if (!letra(c) && !(c >= '0' && c <= '9') && c != '_') return false;
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

}  // namespace ondaris::db
