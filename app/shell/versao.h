#pragma once
// The file version of an executable, as four 16-bit numbers. A Windows build
// reads it from the version resource first; ELF files have none, so each of our
// executables carries a small version record (a signature, the four numbers
// and a check word) in a section of its own, and VersaoPrograma finds it by
// reading the file. Not an error: a file without a record, or one that
// cannot be read: the version text is then empty and the caller decides.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ondaris::shell {

struct TVersaoArquivo {
    std::uint16_t V1 = 0, V2 = 0, V3 = 0, V4 = 0;
    bool operator==(const TVersaoArquivo&) const = default;
};

// "1.0.0.0" -> {1,0,0,0}; missing numbers are 0. Usable at compile time.
constexpr TVersaoArquivo VersaoDeTexto(std::string_view texto) {
    std::uint16_t n[4] = {0, 0, 0, 0};
    int i = 0;
    for (char c : texto) {
        if (c == '.') {
            if (++i == 4) {
                break;
            }
        } else if (c >= '0' && c <= '9') {
            n[i] = static_cast<std::uint16_t>(n[i] * 10 + (c - '0'));
        }
    }
    return {n[0], n[1], n[2], n[3]};
}

// The signature is stored with every byte inverted so that the scanning code
// itself does not carry the plain bytes.
inline constexpr std::array<unsigned char, 12> AssinaturaVersaoInvertida = {
    0x80, 0xB0, 0x91, 0x9B, 0x9E, 0x8D, 0x96, 0x8C, 0xA9, 0x9A, 0x8D, 0x8C};  // "\x7fOndarisVers"
inline constexpr std::size_t TamanhoRegistroVersao = 12 + 8 + 4;

constexpr std::uint32_t ConferenciaVersao(const TVersaoArquivo& v) {
    std::uint32_t h = 0x4F6E6461u;
    for (std::uint16_t n : {v.V1, v.V2, v.V3, v.V4}) {
        h = (h ^ n) * 16777619u;
    }
    return h;
}

// The bytes an executable carries: signature, V1..V4 little-endian, check word.
constexpr std::array<unsigned char, TamanhoRegistroVersao> MontarRegistroVersao(TVersaoArquivo v) {
    std::array<unsigned char, TamanhoRegistroVersao> r{};
    for (std::size_t i = 0; i < AssinaturaVersaoInvertida.size(); ++i) {
        r[i] = static_cast<unsigned char>(~AssinaturaVersaoInvertida[i]);
    }
    const std::uint16_t n[4] = {v.V1, v.V2, v.V3, v.V4};
    for (std::size_t i = 0; i < 4; ++i) {
        r[12 + 2 * i] = static_cast<unsigned char>(n[i] & 0xFF);
        r[13 + 2 * i] = static_cast<unsigned char>(n[i] >> 8);
    }
    const std::uint32_t c = ConferenciaVersao(v);
    for (std::size_t i = 0; i < 4; ++i) {
        r[20 + i] = static_cast<unsigned char>((c >> (8 * i)) & 0xFF);
    }
    return r;
}

// The first valid version record in the file, if any.
std::optional<TVersaoArquivo> LerVersaoArquivo(const std::string& Programa);

// "V1.V2.V3", or "V1.V2.V3.V4" with Quatronumeros.
std::string TextoVersao(const TVersaoArquivo& v, bool Quatronumeros);

// The file version of `Programa` as text; empty when it has no record.
std::string VersaoPrograma(const std::string& Programa, bool Quatronumeros);

}  // namespace ondaris::shell

// Puts the version record into the executable being linked; used once, in
// each program's main file. (Compilers without GNU attributes rely on the
// Windows version resource alone.)
#if !defined(__GNUC__)
#define ONDARIS_REGISTRO_VERSAO(texto) static_assert(true)
#else
#define ONDARIS_REGISTRO_VERSAO(texto)                                                  \
    [[gnu::used, gnu::section(".ondaris_versao")]] static constexpr auto                \
        OndarisRegistroVersao =                                                         \
            ::ondaris::shell::MontarRegistroVersao(::ondaris::shell::VersaoDeTexto(texto))
#endif
