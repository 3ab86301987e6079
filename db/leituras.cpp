#include "db/leituras.h"

#include "db/mensagens.h"
#include "protocolo/texto.h"

#include <charconv>
#include <cctype>
#include <ctime>
#include <limits>
#include <type_traits>

namespace ondaris::db {
using protocolo::Data;
using protocolo::DataHora;
using protocolo::Hora;
using protocolo::IguaisSemCaixa;
using protocolo::TConfiguracoesRegionais;
using protocolo::TOrdemData;
namespace {

bool EhBranco(char c) { return c == ' ' || c == '\t'; }

std::string_view SemBrancos(std::string_view t) {
    while (!t.empty() && EhBranco(t.front())) t.remove_prefix(1);
    while (!t.empty() && EhBranco(t.back())) t.remove_suffix(1);
    return t;
}

bool Digito(char c) { return c >= '0' && c <= '9'; }

int ValorHex(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

template <class T>
std::optional<T> LerInteiro(std::string_view t) {
    using U = std::make_unsigned_t<T>;
    while (!t.empty() && EhBranco(t.front())) t.remove_prefix(1);
    bool negativo = false;
    if (!t.empty() && (t.front() == '+' || t.front() == '-')) {
        negativo = t.front() == '-';
        t.remove_prefix(1);
    }
    int base = 10;
    if (t.starts_with("0x") || t.starts_with("0X")) {
        base = 16;
        t.remove_prefix(2);
    } else if (!t.empty() && (t.front() == '$' || t.front() == 'x' || t.front() == 'X')) {
        base = 16;
        t.remove_prefix(1);
    }
    if (t.empty()) return std::nullopt;
    U magnitude = 0;
    for (char c : t) {
        int d = base == 16 ? ValorHex(c) : (Digito(c) ? c - '0' : -1);
        if (d < 0) return std::nullopt;
        if (magnitude > (std::numeric_limits<U>::max() - static_cast<U>(d)) / static_cast<U>(base)) return std::nullopt;
        magnitude = magnitude * static_cast<U>(base) + static_cast<U>(d);
    }
    if (base == 16) {
        // Hexadecimal texts are bit patterns: $FFFFFFFF is -1 for 32 bits.
        T v = static_cast<T>(magnitude);
        return negativo ? static_cast<T>(U(0) - static_cast<U>(v)) : v;
    }
    const U limite = static_cast<U>(std::numeric_limits<T>::max()) + (negativo ? 1u : 0u);
    if (magnitude > limite) return std::nullopt;
    return negativo ? static_cast<T>(U(0) - magnitude) : static_cast<T>(magnitude);
}

// The digits of |numero| * 10^casas rounded to an integer, without leading
// zeros ("" for zero).
std::string DigitosEscalados(const TDecimal& numero, int casas, TArredondamento regra) {
    const std::string& d = numero.Digitos;
    if (d.empty()) return {};
    long long e = static_cast<long long>(numero.Expoente) + casas;
    if (e >= 0) {
        if (e > 40) return std::string(41, '9');  // far beyond any 64-bit value
        return d + std::string(static_cast<std::size_t>(e), '0');
    }
    std::size_t cortar = static_cast<std::size_t>(-e);
    std::string inteiro, resto;
    if (cortar >= d.size()) {
        resto = std::string(cortar - d.size(), '0') + d;
    } else {
        inteiro = d.substr(0, d.size() - cortar);
        resto = d.substr(d.size() - cortar);
    }
    bool subir = false;
    if (resto[0] > '5') {
        subir = true;
    } else if (resto[0] == '5') {
        bool acimaDaMetade = resto.find_first_not_of('0', 1) != std::string::npos;
        if (acimaDaMetade || regra == TArredondamento::MetadeLongeDoZero) {
            subir = true;
        } else {
            int ultimo = inteiro.empty() ? 0 : inteiro.back() - '0';
            subir = ultimo % 2 == 1;
        }
    }
    if (subir) {
        int i = static_cast<int>(inteiro.size()) - 1;
        while (i >= 0 && inteiro[static_cast<std::size_t>(i)] == '9') inteiro[static_cast<std::size_t>(i--)] = '0';
        if (i < 0) inteiro.insert(inteiro.begin(), '1');
        else ++inteiro[static_cast<std::size_t>(i)];
    }
    std::size_t zeros = inteiro.find_first_not_of('0');
    return zeros == std::string::npos ? std::string() : inteiro.substr(zeros);
}

std::optional<std::int64_t> DigitosParaInt64(const std::string& digitos, bool negativo) {
    if (digitos.empty()) return 0;
    if (digitos.size() > 19) return std::nullopt;
    std::uint64_t m = 0;
    for (char c : digitos) m = m * 10 + static_cast<std::uint64_t>(c - '0');
    const std::uint64_t limite = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) + (negativo ? 1u : 0u);
    if (m > limite) return std::nullopt;
    return negativo ? static_cast<std::int64_t>(0 - m) : static_cast<std::int64_t>(m);
}

template <class F>
std::optional<F> LerFlutuante(std::string_view texto, const TConfiguracoesRegionais& regional) {
    auto n = LerDecimal(texto, regional);
    if (!n) return std::nullopt;
    if (n->Digitos.empty()) return F(0);
    std::string canonico = (n->Negativo ? "-" : "") + n->Digitos + "e" + std::to_string(n->Expoente);
    F valor{};
    auto [fim, erro] = std::from_chars(canonico.data(), canonico.data() + canonico.size(), valor);
    if (erro == std::errc::result_out_of_range) {
        // Beyond the type's range: an underflow is zero (as close as the
        // type gets), an overflow does not fit.
        if (n->Expoente < 0) return F(0);
        return std::nullopt;
    }
    if (erro != std::errc() || fim != canonico.data() + canonico.size()) return std::nullopt;
    return valor;
}


bool BissextoAno(int a) { return (a % 4 == 0 && a % 100 != 0) || a % 400 == 0; }

int DiasNoMes(int ano, int mes) {
    static const int dias[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return mes == 2 && BissextoAno(ano) ? 29 : dias[mes - 1];
}

// Up to `maximo` digits at the start of `t`; -1 when there is none.
int Numero(std::string_view& t, int maximo, int* quantos = nullptr) {
    int n = 0, lidos = 0;
    while (lidos < maximo && !t.empty() && Digito(t.front())) {
        n = n * 10 + (t.front() - '0');
        t.remove_prefix(1);
        ++lidos;
    }
    if (quantos) *quantos = lidos;
    return lidos == 0 ? -1 : n;
}

bool Consumir(std::string_view& t, std::string_view separador) {
    if (separador.empty() || !t.starts_with(separador)) return false;
    t.remove_prefix(separador.size());
    return true;
}

std::optional<Data> TentarData(std::string_view t, const TConfiguracoesRegionais& r, int anoAtual) {
    t = SemBrancos(t);
    int numeros[3];
    int digitos[3];
    int lidos = 0;
    while (lidos < 3) {
        numeros[lidos] = Numero(t, 4, &digitos[lidos]);
        if (numeros[lidos] < 0) return std::nullopt;
        ++lidos;
        if (t.empty()) break;
        if (!Consumir(t, r.SeparadorData)) return std::nullopt;
    }
    if (!t.empty() || lidos < 2) return std::nullopt;

    int dia, mes, ano, digitosAno;
    if (lidos == 2) {
        ano = anoAtual;
        digitosAno = 4;
        if (r.OrdemData == TOrdemData::DiaMesAno) { dia = numeros[0]; mes = numeros[1]; }
        else { mes = numeros[0]; dia = numeros[1]; }
    } else {
        switch (r.OrdemData) {
            case TOrdemData::DiaMesAno: dia = numeros[0]; mes = numeros[1]; ano = numeros[2]; digitosAno = digitos[2]; break;
            case TOrdemData::MesDiaAno: mes = numeros[0]; dia = numeros[1]; ano = numeros[2]; digitosAno = digitos[2]; break;
            default: ano = numeros[0]; digitosAno = digitos[0]; mes = numeros[1]; dia = numeros[2]; break;
        }
    }
    if (digitosAno <= 2) {
        // The hundred years that start 50 years before this one.
        int base = anoAtual - 50;
        ano += (base / 100) * 100;
        if (ano < base) ano += 100;
    }
    if (ano < 1 || ano > 9999 || mes < 1 || mes > 12 || dia < 1 || dia > DiasNoMes(ano, mes)) return std::nullopt;
    return Data{ano, mes, dia};
}

std::optional<Hora> TentarHora(std::string_view t, const TConfiguracoesRegionais& r) {
    t = SemBrancos(t);
    // An AM/PM marker, before or after the time.
    int marcador = 0;  // 1 AM, 2 PM
    auto tirarMarcador = [&](bool noInicio) {
        for (auto [texto, valor] : {std::pair<std::string_view, int>{r.SimboloAM, 1}, {r.SimboloPM, 2},
                                    {"AM", 1}, {"PM", 2}}) {
            if (texto.empty() || t.size() < texto.size()) continue;
            std::string_view parte = noInicio ? t.substr(0, texto.size()) : t.substr(t.size() - texto.size());
            if (IguaisSemCaixa(parte, texto)) {
                if (noInicio) t.remove_prefix(texto.size()); else t.remove_suffix(texto.size());
                t = SemBrancos(t);
                marcador = valor;
                return;
            }
        }
    };
    tirarMarcador(true);
    if (marcador == 0) tirarMarcador(false);

    Hora h;
    h.Horas = Numero(t, 2);
    if (h.Horas < 0) return std::nullopt;
    if (Consumir(t, r.SeparadorHora)) {
        h.Minutos = Numero(t, 2);
        if (h.Minutos < 0) return std::nullopt;
        if (Consumir(t, r.SeparadorHora)) {
            h.Segundos = Numero(t, 2);
            if (h.Segundos < 0) return std::nullopt;
            if (Consumir(t, r.SeparadorDecimal)) {
                // A fraction of a second, kept to the ten-thousandth the
                // database stores; further digits are dropped.
                int digitos = 0;
                int fracao = Numero(t, 4, &digitos);
                if (fracao < 0) return std::nullopt;
                for (int i = digitos; i < 4; ++i) fracao *= 10;
                while (!t.empty() && Digito(t.front())) t.remove_prefix(1);
                h.DecimosMilesimos = fracao;
            }
        }
    }
    if (!t.empty()) return std::nullopt;
    if (marcador != 0) {
        if (h.Horas > 12) return std::nullopt;
        if (marcador == 1 && h.Horas == 12) h.Horas = 0;
        if (marcador == 2 && h.Horas < 12) h.Horas += 12;
    }
    if (h.Horas > 23 || h.Minutos > 59 || h.Segundos > 59) return std::nullopt;
    return h;
}


}  // namespace

std::optional<std::int64_t> LerInteiro64(std::string_view texto) { return LerInteiro<std::int64_t>(texto); }

std::optional<TDecimal> LerDecimal(std::string_view t, const TConfiguracoesRegionais& regional) {
    t = SemBrancos(t);
    TDecimal n;
    if (!t.empty() && (t.front() == '+' || t.front() == '-')) {
        n.Negativo = t.front() == '-';
        t.remove_prefix(1);
    }
    std::string digitos;
    int casas = 0;
    bool separador = false;
    while (!t.empty()) {
        if (Digito(t.front())) {
            digitos += t.front();
            if (separador) ++casas;
            t.remove_prefix(1);
        } else if (!separador && Consumir(t, regional.SeparadorDecimal)) {
            separador = true;
        } else {
            break;
        }
    }
    if (digitos.empty()) return std::nullopt;
    long long expoente = 0;
    if (!t.empty() && (t.front() == 'e' || t.front() == 'E')) {
        t.remove_prefix(1);
        bool negativo = false;
        if (!t.empty() && (t.front() == '+' || t.front() == '-')) {
            negativo = t.front() == '-';
            t.remove_prefix(1);
        }
        if (t.empty() || !Digito(t.front())) return std::nullopt;
        while (!t.empty() && Digito(t.front())) {
            if (expoente < 100000) expoente = expoente * 10 + (t.front() - '0');
            t.remove_prefix(1);
        }
        if (negativo) expoente = -expoente;
    }
    if (!t.empty()) return std::nullopt;
    std::size_t zeros = digitos.find_first_not_of('0');
    n.Digitos = zeros == std::string::npos ? std::string() : digitos.substr(zeros);
    n.Expoente = static_cast<int>(expoente - casas);
    if (n.Digitos.empty()) n.Negativo = false;
    return n;
}

std::optional<std::int64_t> DecimalEscalado(const TDecimal& numero, int casas, TArredondamento regra) {
    return DigitosParaInt64(DigitosEscalados(numero, casas, regra), numero.Negativo);
}

std::optional<std::int64_t> LerNumerico(std::string_view texto, int escala, const TConfiguracoesRegionais& regional) {
    auto n = LerDecimal(texto, regional);
    if (!n) return std::nullopt;
    if (escala <= 4) {
        TDecimal quatroCasas{n->Negativo, DigitosEscalados(*n, 4, TArredondamento::MetadeParaPar), -4};
        return DecimalEscalado(quatroCasas, escala, TArredondamento::MetadeLongeDoZero);
    }
    return DecimalEscalado(*n, escala, TArredondamento::MetadeLongeDoZero);
}

std::optional<double> LerDouble(std::string_view texto, const TConfiguracoesRegionais& regional) {
    return LerFlutuante<double>(texto, regional);
}

std::optional<float> LerFloat(std::string_view texto, const TConfiguracoesRegionais& regional) {
    return LerFlutuante<float>(texto, regional);
}

std::optional<bool> LerBooleano(std::string_view texto) {
    if (IguaisSemCaixa(texto, "true")) return true;
    if (IguaisSemCaixa(texto, "false")) return false;
    return std::nullopt;
}

int AnoAtual() {
    std::time_t agora = std::time(nullptr);
    std::tm local{};
    localtime_r(&agora, &local);
    return local.tm_year + 1900;
}

Data LerData(std::string_view texto, const TConfiguracoesRegionais& regional, int anoAtual) {
    if (auto d = TentarData(texto, regional, anoAtual)) return *d;
    throw ErroLeitura(TextoNaoEhData(texto));
}

Hora LerHora(std::string_view texto, const TConfiguracoesRegionais& regional) {
    if (auto h = TentarHora(texto, regional)) return *h;
    throw ErroLeitura(TextoNaoEhHora(texto));
}

DataHora LerDataHora(std::string_view texto, const TConfiguracoesRegionais& regional, int anoAtual) {
    std::string_view t = SemBrancos(texto);
    std::size_t branco = t.find_first_of(" \t");
    std::string_view parteData = t.substr(0, branco);
    std::string_view parteHora = branco == std::string_view::npos ? std::string_view() : SemBrancos(t.substr(branco));
    auto d = TentarData(parteData, regional, anoAtual);
    std::optional<Hora> h = parteHora.empty() ? std::optional<Hora>(Hora{}) : TentarHora(parteHora, regional);
    if (!d || !h) throw ErroLeitura(TextoNaoEhDataHora(texto));
    return DataHora{*d, *h};
}

}  // namespace ondaris::db
