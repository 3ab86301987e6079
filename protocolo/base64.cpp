#include "protocolo/base64.h"

#include "protocolo/mensagens.h"

#include <array>

namespace ondaris::protocolo {

namespace {

constexpr char Alfabeto[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr std::array<int8_t, 256> TabelaInversa() {
    std::array<int8_t, 256> tabela{};
    for (auto& t : tabela) t = -1;
    for (int i = 0; i < 64; ++i) tabela[static_cast<unsigned char>(Alfabeto[i])] = static_cast<int8_t>(i);
    return tabela;
}

constexpr auto Inversa = TabelaInversa();

}  // namespace

std::string StreamtoBase64(std::span<const uint8_t> dados) {
    std::string saida;
    saida.reserve((dados.size() + 2) / 3 * 4 + dados.size() / 57 * 2 + 2);
    std::size_t grupos = 0;
    std::size_t i = 0;
    for (; i + 3 <= dados.size(); i += 3) {
        uint32_t bloco = (uint32_t{dados[i]} << 16) | (uint32_t{dados[i + 1]} << 8) | dados[i + 2];
        saida += Alfabeto[(bloco >> 18) & 63];
        saida += Alfabeto[(bloco >> 12) & 63];
        saida += Alfabeto[(bloco >> 6) & 63];
        saida += Alfabeto[bloco & 63];
        if (++grupos == 19) {
            saida += "\r\n";
            grupos = 0;
        }
    }
    std::size_t resto = dados.size() - i;
    if (resto == 1) {
        uint32_t bloco = uint32_t{dados[i]} << 16;
        saida += Alfabeto[(bloco >> 18) & 63];
        saida += Alfabeto[(bloco >> 12) & 63];
        saida += "==";
    } else if (resto == 2) {
        uint32_t bloco = (uint32_t{dados[i]} << 16) | (uint32_t{dados[i + 1]} << 8);
        saida += Alfabeto[(bloco >> 18) & 63];
        saida += Alfabeto[(bloco >> 12) & 63];
        saida += Alfabeto[(bloco >> 6) & 63];
        saida += '=';
    }
    return saida;
}

std::string StreamtoBase64(std::string_view dados) {
    return StreamtoBase64(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(dados.data()), dados.size()));
}

std::vector<uint8_t> Base64toStream(std::string_view texto) {
    std::vector<uint8_t> saida;
    saida.reserve(texto.size() / 4 * 3 + 2);
    uint32_t acumulado = 0;
    int pendentes = 0;
    int preenchimento = 0;  // "=" seen: only line breaks and more "=" may follow
    for (std::size_t i = 0; i < texto.size(); ++i) {
        const char c = texto[i];
        if (c == '\r' || c == '\n') continue;
        const int8_t valor = Inversa[static_cast<unsigned char>(c)];
        if (c == '=' && (pendentes == 2 || pendentes == 3) && pendentes + preenchimento < 4) {
            ++preenchimento;
            continue;
        }
        if (valor < 0 || preenchimento > 0)
            throw ErroBase64(TextoBase64CaractereInesperado(i + 1));
        acumulado = (acumulado << 6) | static_cast<uint32_t>(valor);
        if (++pendentes == 4) {
            saida.push_back(static_cast<uint8_t>(acumulado >> 16));
            saida.push_back(static_cast<uint8_t>(acumulado >> 8));
            saida.push_back(static_cast<uint8_t>(acumulado));
            acumulado = 0;
            pendentes = 0;
        }
    }
    if (pendentes == 1 || (preenchimento > 0 && pendentes + preenchimento != 4))
        throw ErroBase64(kTextoBase64Incompleto);
    if (pendentes == 2) {
        saida.push_back(static_cast<uint8_t>(acumulado >> 4));
    } else if (pendentes == 3) {
        saida.push_back(static_cast<uint8_t>(acumulado >> 10));
        saida.push_back(static_cast<uint8_t>(acumulado >> 2));
    }
    return saida;
}

}  // namespace ondaris::protocolo
