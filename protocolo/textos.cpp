#include "protocolo/textos.h"

#include <charconv>
#include <cmath>
#include <cstdlib>

namespace ondaris::sync {

std::string FormatarGeral(double valor, const db::TConfiguracoesRegionais& regional, int digitos) {
    if (std::isnan(valor)) return "NAN";
    if (std::isinf(valor)) return valor < 0 ? "-INF" : "INF";
    if (valor == 0) return "0";
    if (digitos < 1) digitos = 1;
    if (digitos > 17) digitos = 17;

    // to_chars rounds correctly and ignores the locale: d.ddd...e+XX.
    char buffer[64];
    auto resultado = std::to_chars(buffer, buffer + sizeof buffer, valor, std::chars_format::scientific, digitos - 1);
    std::string_view cientifico(buffer, static_cast<std::size_t>(resultado.ptr - buffer));

    bool negativo = cientifico.front() == '-';
    if (negativo) cientifico.remove_prefix(1);
    auto e = cientifico.find('e');
    std::string algarismos;
    for (char c : cientifico.substr(0, e))
        if (c != '.') algarismos += c;
    int expoente = 0;
    std::string_view textoExpoente = cientifico.substr(e + 1);
    if (!textoExpoente.empty() && textoExpoente.front() == '+') textoExpoente.remove_prefix(1);
    std::from_chars(textoExpoente.data(), textoExpoente.data() + textoExpoente.size(), expoente);
    while (algarismos.size() > 1 && algarismos.back() == '0') algarismos.pop_back();

    std::string saida = negativo ? "-" : "";
    if (expoente >= digitos || expoente < -5) {
        saida += algarismos[0];
        if (algarismos.size() > 1) {
            saida += regional.SeparadorDecimal;
            saida.append(algarismos, 1);
        }
        saida += 'E';
        if (expoente < 0) saida += '-';
        saida += std::to_string(std::abs(expoente));
    } else if (expoente >= 0) {
        auto inteiros = static_cast<std::size_t>(expoente) + 1;
        if (algarismos.size() <= inteiros) {
            saida += algarismos;
            saida.append(inteiros - algarismos.size(), '0');
        } else {
            saida.append(algarismos, 0, inteiros);
            saida += regional.SeparadorDecimal;
            saida.append(algarismos, inteiros);
        }
    } else {
        saida += '0';
        saida += regional.SeparadorDecimal;
        saida.append(static_cast<std::size_t>(-expoente - 1), '0');
        saida += algarismos;
    }
    return saida;
}

std::string TextoInteiro(int64_t valor) { return std::to_string(valor); }

std::string TextoNumeric(int64_t valorEscalado, int escala, const db::TConfiguracoesRegionais& regional) {
    bool negativo = valorEscalado < 0;
    // The magnitude as unsigned, so the most negative value survives.
    uint64_t magnitude = negativo ? (~static_cast<uint64_t>(valorEscalado) + 1) : static_cast<uint64_t>(valorEscalado);
    std::string algarismos = std::to_string(magnitude);
    if (magnitude == 0) return "0";
    if (escala > 0) {
        algarismos.append(static_cast<std::size_t>(escala), '0');
        escala = 0;
    }
    auto casas = static_cast<std::size_t>(-escala);
    if (algarismos.size() <= casas) algarismos.insert(0, casas + 1 - algarismos.size(), '0');
    std::string inteira = algarismos.substr(0, algarismos.size() - casas);
    std::string fracao = algarismos.substr(algarismos.size() - casas);
    while (!fracao.empty() && fracao.back() == '0') fracao.pop_back();
    std::string saida = negativo ? "-" : "";
    saida += inteira;
    if (!fracao.empty()) {
        saida += regional.SeparadorDecimal;
        saida += fracao;
    }
    return saida;
}

std::string TextoFloat(float valor, const db::TConfiguracoesRegionais& regional) {
    return FormatarGeral(static_cast<double>(valor), regional);
}

std::string TextoDouble(double valor, const db::TConfiguracoesRegionais& regional) {
    return FormatarGeral(valor, regional);
}

std::string TextoData(const db::Data& data, const db::TConfiguracoesRegionais& regional) {
    return db::FormatarDataCurta(data, regional);
}

std::string TextoHora(const db::Hora& hora, const db::TConfiguracoesRegionais& regional) {
    return db::FormatarHoraLonga(hora, regional);
}

std::string TextoChar(std::string_view valor) {
    auto fim = valor.find_last_not_of(' ');
    return fim == std::string_view::npos ? std::string() : std::string(valor.substr(0, fim + 1));
}

std::string TextoBooleano(bool valor) { return valor ? "True" : "False"; }

}  // namespace ondaris::sync
