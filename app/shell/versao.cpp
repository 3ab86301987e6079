#include "app/shell/versao.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

namespace ondaris::shell {

std::optional<TVersaoArquivo> LerVersaoArquivo(const std::string& Programa) {
    std::ifstream f(Programa, std::ios::binary);
    if (!f) {
        return std::nullopt;
    }
    const std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(f)),
                                           std::istreambuf_iterator<char>());
    std::array<unsigned char, AssinaturaVersaoInvertida.size()> assinatura{};
    std::transform(AssinaturaVersaoInvertida.begin(), AssinaturaVersaoInvertida.end(),
                   assinatura.begin(), [](unsigned char b) { return static_cast<unsigned char>(~b); });

    auto pos = bytes.begin();
    while (true) {
        pos = std::search(pos, bytes.end(), assinatura.begin(), assinatura.end());
        if (pos == bytes.end() ||
            static_cast<std::size_t>(bytes.end() - pos) < TamanhoRegistroVersao) {
            return std::nullopt;
        }
        auto numero = [&](std::size_t i) {
            return static_cast<std::uint16_t>(pos[12 + 2 * i] | (pos[13 + 2 * i] << 8));
        };
        const TVersaoArquivo v{numero(0), numero(1), numero(2), numero(3)};
        std::uint32_t conferencia = 0;
        for (std::size_t i = 0; i < 4; ++i) {
            conferencia |= static_cast<std::uint32_t>(pos[20 + i]) << (8 * i);
        }
        if (conferencia == ConferenciaVersao(v)) {
            return v;
        }
        ++pos;
    }
}

std::string TextoVersao(const TVersaoArquivo& v, bool Quatronumeros) {
    std::string texto =
        std::to_string(v.V1) + "." + std::to_string(v.V2) + "." + std::to_string(v.V3);
    if (Quatronumeros) {
        texto += "." + std::to_string(v.V4);
    }
    return texto;
}

#ifdef _WIN32
namespace {

// The fixed file information of the file's version resource.
std::optional<TVersaoArquivo> LerRecursoVersao(const std::string& Programa) {
    const int n = MultiByteToWideChar(CP_UTF8, 0, Programa.c_str(), -1, nullptr, 0);
    if (n <= 0) {
        return std::nullopt;
    }
    std::wstring caminho(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, Programa.c_str(), -1, caminho.data(), n);
    DWORD ignorado = 0;
    const DWORD tamanho = GetFileVersionInfoSizeW(caminho.c_str(), &ignorado);
    if (tamanho == 0) {
        return std::nullopt;
    }
    std::vector<unsigned char> dados(tamanho);
    if (!GetFileVersionInfoW(caminho.c_str(), 0, tamanho, dados.data())) {
        return std::nullopt;
    }
    VS_FIXEDFILEINFO* info = nullptr;
    UINT comprimento = 0;
    if (!VerQueryValueW(dados.data(), L"\\", reinterpret_cast<void**>(&info), &comprimento) ||
        info == nullptr) {
        return std::nullopt;
    }
    return TVersaoArquivo{HIWORD(info->dwFileVersionMS), LOWORD(info->dwFileVersionMS),
                          HIWORD(info->dwFileVersionLS), LOWORD(info->dwFileVersionLS)};
}

}  // namespace
#endif

std::string VersaoPrograma(const std::string& Programa, bool Quatronumeros) {
#ifdef _WIN32
    if (const auto recurso = LerRecursoVersao(Programa)) {
        return TextoVersao(*recurso, Quatronumeros);
    }
#endif
    const auto v = LerVersaoArquivo(Programa);
    return v ? TextoVersao(*v, Quatronumeros) : std::string();
}

}  // namespace ondaris::shell
