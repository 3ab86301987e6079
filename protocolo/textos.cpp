#include "protocolo/textos.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string>
#include <string_view>

namespace ondaris::protocolo {

namespace {

char Minuscula(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Where the seconds of a long time format end (just after its last "s" or
// "ss" outside quoted text), or npos when the format shows no seconds.
std::size_t FimDosSegundos(std::string_view formato) {
    std::size_t fim = std::string_view::npos;
    for (std::size_t i = 0; i < formato.size();) {
        const char c = formato[i];
        if (c == '"' || c == '\'') {
            const std::size_t fecha = formato.find(c, i + 1);
            i = fecha == std::string_view::npos ? formato.size() : fecha + 1;
        } else if (Minuscula(c) == 's') {
            while (i < formato.size() && Minuscula(formato[i]) == 's') ++i;
            fim = i;
        } else {
            ++i;
        }
    }
    return fim;
}

bool TemAmPm(std::string_view formato) {
    for (std::size_t i = 0; i + 4 <= formato.size(); ++i) {
        std::string s;
        for (std::size_t k = 0; k < 4; ++k) s += Minuscula(formato[i + k]);
        if (s == "ampm") return true;
    }
    return false;
}

// Text put into a format so that it stands as it is: quoted with a quote
// character the text does not hold.
std::string Literal(const std::string& texto) {
    const char aspas = texto.find('"') == std::string::npos ? '"' : '\'';
    return aspas + texto + aspas;
}

// Fractions of a second travel as milliseconds, always three digits: a
// reader built to the message format takes the digits after the separator
// as milliseconds, so a fourth digit (the database keeps ten-thousandths)
// would be out of range there, and fewer would change the value. The
// ten-thousandth is cut, not rounded, so 23:59:59,9999 stays in its second.
int Milissegundos(const Hora& hora) { return hora.DecimosMilesimos / 10; }

std::string Fracao(int milissegundos) { return std::to_string(1000 + milissegundos).substr(1); }

}  // namespace

std::string TextoHoraCompleta(const Hora& hora, const TConfiguracoesRegionais& regional) {
    const std::string& formato = regional.FormatoHoraLonga;
    const std::size_t fimSegundos = FimDosSegundos(formato);
    const int ms = Milissegundos(hora);
    if (ms == 0 && (fimSegundos != std::string_view::npos || hora.Segundos == 0)) {
        Hora semFracao = hora;
        semFracao.DecimosMilesimos = 0;
        return TextoHora(semFracao, regional);
    }

    const std::string sufixo = ms == 0 ? std::string() : Literal(regional.SeparadorDecimal + Fracao(ms));
    TConfiguracoesRegionais ajustado = regional;
    if (fimSegundos != std::string_view::npos) {
        ajustado.FormatoHoraLonga.insert(fimSegundos, sufixo);
    } else {
        // A format without seconds would drop them: write hours, minutes,
        // seconds and fraction, keeping the AM/PM marker of the format.
        ajustado.FormatoHoraLonga = "hh:mm:ss" + sufixo + (TemAmPm(formato) ? " ampm" : "");
    }
    return TextoHora(hora, ajustado);
}

std::string TextoDataHoraCompleta(const DataHora& dataHora, const TConfiguracoesRegionais& regional) {
    std::string texto = TextoData(dataHora.D, regional);
    if (dataHora.H != Hora{}) {
        texto += ' ';
        texto += TextoHoraCompleta(dataHora.H, regional);
    }
    return texto;
}


std::string FormatarGeral(double valor, const TConfiguracoesRegionais& regional, int digitos) {
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

std::string TextoNumeric(int64_t valorEscalado, int escala, const TConfiguracoesRegionais& regional) {
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

std::string TextoFloat(float valor, const TConfiguracoesRegionais& regional) {
    return FormatarGeral(static_cast<double>(valor), regional);
}

std::string TextoDouble(double valor, const TConfiguracoesRegionais& regional) {
    return FormatarGeral(valor, regional);
}

std::string TextoData(const Data& data, const TConfiguracoesRegionais& regional) {
    return FormatarDataCurta(data, regional);
}

std::string TextoHora(const Hora& hora, const TConfiguracoesRegionais& regional) {
    return FormatarHoraLonga(hora, regional);
}

std::string TextoChar(std::string_view valor) {
    auto fim = valor.find_last_not_of(' ');
    return fim == std::string_view::npos ? std::string() : std::string(valor.substr(0, fim + 1));
}

std::string TextoBooleano(bool valor) { return valor ? "True" : "False"; }

}  // namespace ondaris::protocolo
