#pragma once
// Small UTF-8 helpers shared by the JSON writers and the answer decoder.
// Invalid input is never an error: a byte that does not start a valid
// sequence reads as U+FFFD and only that byte is consumed.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace ondaris::sync {

inline constexpr uint32_t CaractereSubstituto = 0xFFFD;

// Decodes the character at texto[i] and advances i past it.
inline uint32_t ProximoCodigoUTF8(std::string_view texto, std::size_t& i) {
    auto byte = [&](std::size_t k) { return static_cast<unsigned char>(texto[k]); };
    unsigned char c = byte(i);
    if (c < 0x80) {
        ++i;
        return c;
    }
    std::size_t extras = 0;
    uint32_t codigo = 0;
    uint32_t minimo = 0;
    if ((c & 0xE0) == 0xC0) { extras = 1; codigo = c & 0x1Fu; minimo = 0x80; }
    else if ((c & 0xF0) == 0xE0) { extras = 2; codigo = c & 0x0Fu; minimo = 0x800; }
    else if ((c & 0xF8) == 0xF0) { extras = 3; codigo = c & 0x07u; minimo = 0x10000; }
    else { ++i; return CaractereSubstituto; }
    if (i + extras >= texto.size()) { ++i; return CaractereSubstituto; }
    for (std::size_t k = 1; k <= extras; ++k) {
        unsigned char cont = byte(i + k);
        if ((cont & 0xC0) != 0x80) { ++i; return CaractereSubstituto; }
        codigo = (codigo << 6) | (cont & 0x3Fu);
    }
    if (codigo < minimo || codigo > 0x10FFFF || (codigo >= 0xD800 && codigo <= 0xDFFF)) {
        ++i;
        return CaractereSubstituto;
    }
    i += extras + 1;
    return codigo;
}

inline void AcrescentarUTF8(std::string& saida, uint32_t c) {
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

}  // namespace ondaris::sync
