// The regional settings as Windows keeps them for the user (GetLocaleInfoEx):
// decimal separator, short date and long time pictures with their
// separators, AM and PM markers. The user's own changes in the Control
// Panel count, as they do for every other program on the machine.
#include "protocolo/regional.h"

#include <windows.h>

#include <iterator>
#include <optional>
#include <string_view>

#include "protocolo/utf16_win.h"

namespace ondaris::protocolo {

namespace {

// One item of a locale; empty when the locale or the item does not exist.
std::string Item(const wchar_t* local, LCTYPE item) {
    wchar_t valor[256] = {};
    const int n = GetLocaleInfoEx(local, item, valor, static_cast<int>(std::size(valor)));
    return n > 1 ? Utf16ParaUtf8(std::wstring_view(valor, static_cast<std::size_t>(n - 1))) : std::string();
}

// Appends a literal so that it is never read as a field or a separator.
void Literal(std::string& formato, std::string_view texto) {
    if (texto.empty()) return;
    const char aspa = texto.find('"') == std::string_view::npos ? '"' : '\'';
    formato += aspa;
    formato += texto;
    formato += aspa;
}

// Walks a Windows picture: quoted text ('' is a quote), runs of one letter
// (handed to `campo` with their length, which answers the token to write or
// nothing), the separator (written as `marcador`) and any other character.
template <class Campo>
TFormatoConvertido Converter(const std::string& figura, const std::string& separador, char marcador, Campo campo) {
    TFormatoConvertido r;
    for (std::size_t i = 0; i < figura.size();) {
        const char c = figura[i];
        if (c == '\'') {
            std::string texto;
            std::size_t j = i + 1;
            for (; j < figura.size(); ++j) {
                if (figura[j] != '\'') {
                    texto += figura[j];
                } else if (j + 1 < figura.size() && figura[j + 1] == '\'') {
                    texto += '\'';
                    ++j;
                } else {
                    break;
                }
            }
            Literal(r.Formato, texto);
            i = j + 1;
        } else if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) {
            std::size_t n = 1;
            while (i + n < figura.size() && figura[i + n] == c) ++n;
            if (const auto token = campo(c, n)) r.Formato += *token;
            else if (!campo.Conhecida(c)) Literal(r.Formato, figura.substr(i, n));
            i += n;
        } else if (!separador.empty() && figura.compare(i, separador.size(), separador) == 0) {
            r.Formato += marcador;
            r.Separador = separador;
            i += separador.size();
        } else if (c == '/' || c == ':' || c == '"') {
            Literal(r.Formato, std::string(1, c));
            ++i;
        } else {
            r.Formato += c;
            ++i;
        }
    }
    return r;
}

// Tokens of the numeric fields of a short date; names of days and months
// and the era are left out, as they are no part of a numeric date.
struct CamposData {
    std::optional<std::string> operator()(char c, std::size_t n) const {
        if (c == 'd' && n <= 2) return std::string(n, 'd');
        if (c == 'M' && n <= 2) return std::string(n, 'm');
        if (c == 'y') return n <= 2 ? "yy" : "yyyy";
        return std::nullopt;
    }
    bool Conhecida(char c) const { return c == 'd' || c == 'M' || c == 'y' || c == 'g'; }
};

struct CamposHora {
    std::optional<std::string> operator()(char c, std::size_t n) const {
        if (c == 'h' || c == 'H') return std::string(n >= 2 ? 2 : 1, 'h');
        if (c == 'm') return std::string(n >= 2 ? 2 : 1, 'n');
        if (c == 's') return std::string(n >= 2 ? 2 : 1, 's');
        if (c == 't') return "ampm";
        return std::nullopt;
    }
    bool Conhecida(char c) const { return c == 'h' || c == 'H' || c == 'm' || c == 's' || c == 't'; }
};

// "pt_BR.UTF-8" (a Linux locale name, as the README's setting reads) is
// "pt-BR" here.
std::wstring NomeWindows(const std::string& nome) {
    std::string n = nome.substr(0, nome.find_first_of(".@"));
    for (char& c : n)
        if (c == '_') c = '-';
    return Utf8ParaUtf16(n);
}

TConfiguracoesRegionais DoLocaleWindows(const wchar_t* local) {
    TConfiguracoesRegionais r;
    if (local && !IsValidLocaleName(local)) {
        // A locale Windows does not know ("C" among them): the settings of the
        // C locale, as on Linux.
        r.FormatoHoraLonga = "hh:nn:ss";
        return r;
    }
    if (const std::string decimal = Item(local, LOCALE_SDECIMAL); !decimal.empty()) r.SeparadorDecimal = decimal;

    const auto data = ConverterFormatoDataWindows(Item(local, LOCALE_SSHORTDATE), Item(local, LOCALE_SDATE));
    if (data.Formato.find('d') != std::string::npos) {
        r.FormatoDataCurta = data.Formato;
        if (!data.Separador.empty()) r.SeparadorData = data.Separador;
        r.OrdemData = OrdemDoFormato(data.Formato);
    }
    const auto hora = ConverterFormatoHoraWindows(Item(local, LOCALE_STIMEFORMAT), Item(local, LOCALE_STIME));
    if (hora.Formato.find('h') != std::string::npos) {
        r.FormatoHoraLonga = hora.Formato;
        if (!hora.Separador.empty()) r.SeparadorHora = hora.Separador;
    }
    r.SimboloAM = Item(local, LOCALE_S1159);
    r.SimboloPM = Item(local, LOCALE_S2359);
    return r;
}

}  // namespace

TFormatoConvertido ConverterFormatoDataWindows(const std::string& figura, const std::string& separador) {
    return Converter(figura, separador, '/', CamposData{});
}

TFormatoConvertido ConverterFormatoHoraWindows(const std::string& figura, const std::string& separador) {
    return Converter(figura, separador, ':', CamposHora{});
}

TConfiguracoesRegionais TConfiguracoesRegionais::DoLocale(const std::string& nome) {
    if (nome.empty()) return DoLocaleWindows(LOCALE_NAME_USER_DEFAULT);
    const std::wstring local = NomeWindows(nome);
    return DoLocaleWindows(local.c_str());
}

TConfiguracoesRegionais TConfiguracoesRegionais::DoProcesso() { return DoLocale(""); }

}  // namespace ondaris::protocolo
