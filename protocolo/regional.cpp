#include "protocolo/regional.h"

#include "protocolo/texto.h"

#include <cctype>
#include <string_view>

namespace ondaris::protocolo {

namespace {


std::string ComZeros(int valor, int largura) {
    if (valor < 0) valor = -valor;
    std::string texto = std::to_string(valor);
    if (static_cast<int>(texto.size()) < largura)
        texto.insert(0, static_cast<std::size_t>(largura) - texto.size(), '0');
    return texto;
}

// Length of the run of the letter at fmt[i] (case-insensitive).
std::size_t Sequencia(std::string_view fmt, std::size_t i) {
    char letra = MinusculaAscii(fmt[i]);
    std::size_t n = 0;
    while (i + n < fmt.size() && MinusculaAscii(fmt[i + n]) == letra) ++n;
    return n;
}

bool ComecaSemCaixa(std::string_view texto, std::size_t i, std::string_view prefixo) {
    return IguaisSemCaixa(texto.substr(i, prefixo.size()), prefixo);
}

// Copies a quoted literal starting at fmt[i]; returns the index after it.
std::size_t CopiarLiteral(std::string_view fmt, std::size_t i, std::string& saida) {
    char aspa = fmt[i];
    std::size_t j = i + 1;
    while (j < fmt.size() && fmt[j] != aspa) saida += fmt[j++];
    return j < fmt.size() ? j + 1 : j;
}

// What a format holds besides its fields, from fmt[i]: the marker of the
// regional separator (written as `separador`), or any other character as
// it stands. Returns the index after it.
std::size_t CopiarOutro(std::string_view fmt, std::size_t i, char marcador, const std::string& separador,
                        std::string& saida) {
    if (fmt[i] == marcador) saida += separador;
    else saida += fmt[i];
    return i + 1;
}

struct Conversor {
    char marcadorSeparador;  // '/' for dates, ':' for times
    std::string formato;
    std::string separador;
    bool antesEraCampo = false;

    void Campo(std::string_view token) {
        formato += token;
        antesEraCampo = true;
    }
    void Literal(char c) {
        bool candidato = !std::isalnum(static_cast<unsigned char>(c)) && c != ' ' && c != '%' &&
                         static_cast<unsigned char>(c) < 0x80;
        if (candidato && antesEraCampo && (separador.empty() || separador[0] == c)) {
            separador = std::string(1, c);
            formato += marcadorSeparador;
        } else if (std::isalpha(static_cast<unsigned char>(c)) || c == '/' || c == ':' ||
                   c == '"' || c == '\'' || static_cast<unsigned char>(c) >= 0x80) {
            // Would be read as a token or a separator: quote it.
            formato += '"';
            formato += c;
            formato += '"';
        } else {
            formato += c;
        }
        antesEraCampo = false;
    }
};

// The position of the conversion letter of the directive whose "%" stands
// at `i`, past its flags and modifiers (%-d, %Ey, ...).
std::size_t Diretiva(std::string_view padrao, std::size_t i) {
    ++i;
    while (i + 1 < padrao.size() && std::string_view("EO-_0^#").find(padrao[i]) != std::string_view::npos) ++i;
    return i;
}

// Walks a strftime pattern: plain characters are literals of `conv`, and
// each directive's conversion letter goes to `diretiva`.
template <class F>
void Percorrer(std::string_view padrao, Conversor& conv, F diretiva) {
    for (std::size_t i = 0; i < padrao.size(); ++i) {
        if (padrao[i] != '%' || i + 1 >= padrao.size()) {
            conv.Literal(padrao[i]);
            continue;
        }
        i = Diretiva(padrao, i);
        diretiva(padrao[i]);
    }
}

void ConverterData(std::string_view padrao, Conversor& conv, int profundidade) {
    Percorrer(padrao, conv, [&](char letra) {
        switch (letra) {
            case 'd': conv.Campo("dd"); break;
            case 'e': conv.Campo("d"); break;
            case 'm': conv.Campo("mm"); break;
            case 'y': conv.Campo("yy"); break;
            case 'Y': conv.Campo("yyyy"); break;
            case 'D': if (profundidade < 2) ConverterData("%m/%d/%y", conv, profundidade + 1); break;
            case 'F': if (profundidade < 2) ConverterData("%Y-%m-%d", conv, profundidade + 1); break;
            case '%': conv.Literal('%'); break;
            default: break;  // names of days and months: not part of a numeric short date
        }
    });
}

void ConverterHora(std::string_view padrao, std::string_view padraoAmPm, Conversor& conv, int profundidade) {
    Percorrer(padrao, conv, [&](char letra) {
        switch (letra) {
            case 'H': case 'I': conv.Campo("hh"); break;
            case 'k': case 'l': conv.Campo("h"); break;
            case 'M': conv.Campo("nn"); break;
            case 'S': conv.Campo("ss"); break;
            case 'p': case 'P': conv.Campo("ampm"); break;
            case 'T': if (profundidade < 2) ConverterHora("%H:%M:%S", padraoAmPm, conv, profundidade + 1); break;
            case 'R': if (profundidade < 2) ConverterHora("%H:%M", padraoAmPm, conv, profundidade + 1); break;
            case 'r':
                if (profundidade < 2)
                    ConverterHora(padraoAmPm.empty() ? "%I:%M:%S %p" : padraoAmPm, padraoAmPm, conv,
                                  profundidade + 1);
                break;
            case '%': conv.Literal('%'); break;
            default: break;
        }
    });
}

}  // namespace

TFormatoConvertido ConverterFormatoDataLocale(const std::string& padrao) {
    Conversor conv{'/', {}, {}};
    ConverterData(padrao, conv, 0);
    return {conv.formato, conv.separador};
}

TFormatoConvertido ConverterFormatoHoraLocale(const std::string& padrao, const std::string& padraoAmPm) {
    Conversor conv{':', {}, {}};
    ConverterHora(padrao, padraoAmPm, conv, 0);
    return {conv.formato, conv.separador};
}

TOrdemData OrdemDoFormato(std::string_view formato) {
    auto d = formato.find_first_of("dD");
    auto m = formato.find_first_of("mM");
    auto y = formato.find_first_of("yY");
    if (y != std::string_view::npos && (d == std::string_view::npos || y < d) &&
        (m == std::string_view::npos || y < m))
        return TOrdemData::AnoMesDia;
    if (m != std::string_view::npos && (d == std::string_view::npos || m < d))
        return TOrdemData::MesDiaAno;
    return TOrdemData::DiaMesAno;
}

TConfiguracoesRegionais TConfiguracoesRegionais::Brasileiras() {
    TConfiguracoesRegionais r;
    r.SeparadorDecimal = ",";
    r.SeparadorData = "/";
    r.OrdemData = TOrdemData::DiaMesAno;
    r.FormatoDataCurta = "dd/mm/yyyy";
    r.FormatoHoraLonga = "hh:mm:ss";
    r.SeparadorHora = ":";
    r.SimboloAM = "";
    r.SimboloPM = "";
    return r;
}

std::string FormatarDataCurta(const Data& data, const TConfiguracoesRegionais& regional) {
    std::string_view fmt = regional.FormatoDataCurta;
    std::string saida;
    for (std::size_t i = 0; i < fmt.size();) {
        char c = MinusculaAscii(fmt[i]);
        if (fmt[i] == '"' || fmt[i] == '\'') {
            i = CopiarLiteral(fmt, i, saida);
        } else if (c == 'd' || c == 'm' || c == 'y') {
            std::size_t n = Sequencia(fmt, i);
            if (c == 'd') saida += ComZeros(data.Dia, n >= 2 ? 2 : 1);
            else if (c == 'm') saida += ComZeros(data.Mes, n >= 2 ? 2 : 1);
            // The year is always written in full, also where the format asks
            // for two digits (the C locale's mm/dd/yy): a reader places a
            // two-digit year in its own hundred-year window, so 9999-12-31
            // would arrive as 1999-12-31.
            else saida += ComZeros(data.Ano, 4);
            i += n;
        } else {
            i = CopiarOutro(fmt, i, '/', regional.SeparadorData, saida);
        }
    }
    return saida;
}

std::string FormatarHoraLonga(const Hora& hora, const TConfiguracoesRegionais& regional) {
    std::string_view fmt = regional.FormatoHoraLonga;
    bool doze = false;
    for (std::size_t i = 0; i < fmt.size(); ++i)
        if (ComecaSemCaixa(fmt, i, "ampm")) doze = true;

    std::string saida;
    for (std::size_t i = 0; i < fmt.size();) {
        char c = MinusculaAscii(fmt[i]);
        if (fmt[i] == '"' || fmt[i] == '\'') {
            i = CopiarLiteral(fmt, i, saida);
        } else if (ComecaSemCaixa(fmt, i, "ampm")) {
            saida += hora.Horas < 12 ? regional.SimboloAM : regional.SimboloPM;
            i += 4;
        } else if (c == 'h' || c == 'm' || c == 'n' || c == 's' || c == 'z') {
            std::size_t n = Sequencia(fmt, i);
            int largura = n >= 2 ? 2 : 1;
            if (c == 'h') {
                int h = hora.Horas;
                if (doze) {
                    h %= 12;
                    if (h == 0) h = 12;
                }
                saida += ComZeros(h, largura);
            } else if (c == 'm' || c == 'n') {
                saida += ComZeros(hora.Minutos, largura);
            } else if (c == 's') {
                saida += ComZeros(hora.Segundos, largura);
            } else {
                saida += ComZeros(hora.DecimosMilesimos / 10, n >= 3 ? 3 : 1);
            }
            i += n;
        } else {
            i = CopiarOutro(fmt, i, ':', regional.SeparadorHora, saida);
        }
    }
    return saida;
}

}  // namespace ondaris::protocolo
