#include "protocolo/json.h"

#include <rapidjson/error/en.h>
#include <rapidjson/memorystream.h>
#include <rapidjson/reader.h>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <stdexcept>

#include "protocolo/texto.h"
#include "protocolo/textos.h"

namespace ondaris::protocolo {

TValorJSON TValorJSON::Booleano(bool valor) {
    TValorJSON v;
    v.tipo_ = valor ? TTipoJSON::Verdadeiro : TTipoJSON::Falso;
    return v;
}

TValorJSON TValorJSON::Numero(std::string texto) {
    TValorJSON v;
    v.tipo_ = TTipoJSON::Numero;
    v.texto_ = std::move(texto);
    return v;
}

TValorJSON TValorJSON::Numero(long long valor) { return Numero(std::to_string(valor)); }

TValorJSON TValorJSON::Texto(std::string texto) {
    TValorJSON v;
    v.tipo_ = TTipoJSON::Texto;
    v.texto_ = std::move(texto);
    return v;
}

TValorJSON TValorJSON::Objeto() {
    TValorJSON v;
    v.tipo_ = TTipoJSON::Objeto;
    return v;
}

TValorJSON TValorJSON::Matriz() {
    TValorJSON v;
    v.tipo_ = TTipoJSON::Matriz;
    return v;
}

const TValorJSON* TValorJSON::Membro(std::string_view nome) const {
    if (tipo_ != TTipoJSON::Objeto) return nullptr;
    for (const auto& [n, v] : membros_)
        if (n == nome) return &v;
    return nullptr;
}

TValorJSON& TValorJSON::Adicionar(std::string nome, TValorJSON valor) {
    if (tipo_ != TTipoJSON::Objeto) throw std::logic_error("TValorJSON: membro acrescentado a um valor que não é objeto");
    membros_.emplace_back(std::move(nome), std::move(valor));
    return membros_.back().second;
}

TValorJSON& TValorJSON::Adicionar(TValorJSON valor) {
    if (tipo_ != TTipoJSON::Matriz) throw std::logic_error("TValorJSON: elemento acrescentado a um valor que não é lista");
    elementos_.push_back(std::move(valor));
    return elementos_.back();
}

namespace {

// Builds a TValorJSON from RapidJSON's SAX events. Containers under
// construction live on a stack; a finished value is handed to its parent.
class Construtor {
public:
    std::optional<TValorJSON> resultado;

    bool Null() { return Valor(TValorJSON::Nulo()); }
    bool Bool(bool b) { return Valor(TValorJSON::Booleano(b)); }
    bool Int(int i) { return Valor(TValorJSON::Numero(std::to_string(i))); }
    bool Uint(unsigned u) { return Valor(TValorJSON::Numero(std::to_string(u))); }
    bool Int64(int64_t i) { return Valor(TValorJSON::Numero(std::to_string(i))); }
    bool Uint64(uint64_t u) { return Valor(TValorJSON::Numero(std::to_string(u))); }
    bool Double(double) { return false; }  // numbers always arrive as text
    bool RawNumber(const char* s, rapidjson::SizeType n, bool) {
        return Valor(TValorJSON::Numero(std::string(s, n)));
    }
    bool String(const char* s, rapidjson::SizeType n, bool) { return Valor(TValorJSON::Texto(std::string(s, n))); }
    bool StartObject() { return Abrir(TValorJSON::Objeto()); }
    bool Key(const char* s, rapidjson::SizeType n, bool) {
        chaves_.back() = std::string(s, n);
        return true;
    }
    bool EndObject(rapidjson::SizeType) { return Fechar(); }
    bool StartArray() { return Abrir(TValorJSON::Matriz()); }
    bool EndArray(rapidjson::SizeType) { return Fechar(); }

private:
    std::vector<TValorJSON> pilha_;
    std::vector<std::string> chaves_;

    bool Abrir(TValorJSON recipiente) {
        if (pilha_.size() >= ProfundidadeMaxima) return false;
        pilha_.push_back(std::move(recipiente));
        chaves_.emplace_back();
        return true;
    }
    bool Fechar() {
        TValorJSON pronto = std::move(pilha_.back());
        pilha_.pop_back();
        chaves_.pop_back();
        return Valor(std::move(pronto));
    }
    bool Valor(TValorJSON v) {
        if (pilha_.empty()) {
            resultado = std::move(v);
        } else if (pilha_.back().EhObjeto()) {
            pilha_.back().Adicionar(std::move(chaves_.back()), std::move(v));
        } else {
            pilha_.back().Adicionar(std::move(v));
        }
        return true;
    }
};

void EscaparUnicode(std::string& saida, uint32_t unidade) {
    static const char hex[] = "0123456789ABCDEF";
    saida += "\\u";
    for (int deslocamento = 12; deslocamento >= 0; deslocamento -= 4) saida += hex[(unidade >> deslocamento) & 0xF];
}

// The escapes both writers share; returns false for a character that the
// caller writes its own way.
bool EscapeComum(std::string& saida, uint32_t c) {
    switch (c) {
        case '"': saida += "\\\""; return true;
        case '\\': saida += "\\\\"; return true;
        case '/': saida += "\\/"; return true;
        case '\b': saida += "\\b"; return true;
        case '\t': saida += "\\t"; return true;
        case '\n': saida += "\\n"; return true;
        case '\f': saida += "\\f"; return true;
        case '\r': saida += "\\r"; return true;
        default: return false;
    }
}

// Bytes that stand for themselves in compact text.
bool Simples(unsigned char c) { return c >= 32 && c <= 127 && c != '"' && c != '\\' && c != '/'; }

void TextoCompacto(std::string& saida, std::string_view texto) {
    saida += '"';
    for (std::size_t i = 0; i < texto.size();) {
        // Runs of plain ASCII, the bulk of a body, are copied as they are.
        std::size_t fim = i;
        while (fim < texto.size() && Simples(static_cast<unsigned char>(texto[fim]))) ++fim;
        if (fim > i) {
            saida.append(texto.data() + i, fim - i);
            i = fim;
            continue;
        }
        uint32_t c = ProximoCaractereUtf8(texto, i);
        if (EscapeComum(saida, c)) continue;
        if (c >= 32 && c <= 127) {
            saida += static_cast<char>(c);
        } else if (c > 0xFFFF) {
            c -= 0x10000;
            EscaparUnicode(saida, 0xD800 + (c >> 10));
            EscaparUnicode(saida, 0xDC00 + (c & 0x3FF));
        } else {
            EscaparUnicode(saida, c);
        }
    }
    saida += '"';
}

void TextoIndentado(std::string& saida, std::string_view texto) {
    saida += '"';
    for (std::size_t i = 0; i < texto.size();) {
        std::size_t inicio = i;
        uint32_t c = ProximoCaractereUtf8(texto, i);
        if (EscapeComum(saida, c)) continue;
        if (c < 32) EscaparUnicode(saida, c);
        else if (c == kCaractereSubstituto && (i - inicio) != 3) AcrescentarUtf8(saida, c);  // invalid byte: write a valid replacement
        else saida.append(texto.substr(inicio, i - inicio));
    }
    saida += '"';
}

void Compacto(std::string& saida, const TValorJSON& v) {
    switch (v.Tipo()) {
        case TTipoJSON::Nulo: saida += "null"; break;
        case TTipoJSON::Falso: saida += "false"; break;
        case TTipoJSON::Verdadeiro: saida += "true"; break;
        case TTipoJSON::Numero: saida += v.Bruto(); break;
        case TTipoJSON::Texto: TextoCompacto(saida, v.Bruto()); break;
        case TTipoJSON::Objeto: {
            saida += '{';
            bool primeiro = true;
            for (const auto& [nome, valor] : v.Membros()) {
                if (!primeiro) saida += ',';
                primeiro = false;
                TextoCompacto(saida, nome);
                saida += ':';
                Compacto(saida, valor);
            }
            saida += '}';
            break;
        }
        case TTipoJSON::Matriz: {
            saida += '[';
            bool primeiro = true;
            for (const auto& elemento : v.Elementos()) {
                if (!primeiro) saida += ',';
                primeiro = false;
                Compacto(saida, elemento);
            }
            saida += ']';
            break;
        }
    }
}

void Indentado(std::string& saida, const TValorJSON& v, std::size_t nivel) {
    auto recuo = [&](std::size_t n) { saida.append(4 * n, ' '); };
    switch (v.Tipo()) {
        case TTipoJSON::Objeto: {
            if (v.Membros().empty()) {
                saida += "{}";
                break;
            }
            saida += "{\r\n";
            const auto& membros = v.Membros();
            for (std::size_t k = 0; k < membros.size(); ++k) {
                recuo(nivel + 1);
                TextoIndentado(saida, membros[k].first);
                saida += ": ";
                Indentado(saida, membros[k].second, nivel + 1);
                saida += (k + 1 < membros.size()) ? ",\r\n" : "\r\n";
            }
            recuo(nivel);
            saida += '}';
            break;
        }
        case TTipoJSON::Matriz: {
            if (v.Elementos().empty()) {
                saida += "[]";
                break;
            }
            saida += "[\r\n";
            const auto& elementos = v.Elementos();
            for (std::size_t k = 0; k < elementos.size(); ++k) {
                recuo(nivel + 1);
                Indentado(saida, elementos[k], nivel + 1);
                saida += (k + 1 < elementos.size()) ? ",\r\n" : "\r\n";
            }
            recuo(nivel);
            saida += ']';
            break;
        }
        case TTipoJSON::Texto: TextoIndentado(saida, v.Bruto()); break;
        default: Compacto(saida, v); break;
    }
}

}  // namespace

std::optional<TValorJSON> LerJSON(std::string_view texto) {
    // A NUL byte would end RapidJSON's input early and hide what follows.
    if (texto.find('\0') != std::string_view::npos) return std::nullopt;
    rapidjson::MemoryStream entrada(texto.data(), texto.size());
    rapidjson::Reader leitor;
    Construtor construtor;
    constexpr unsigned opcoes =
        rapidjson::kParseNumbersAsStringsFlag | rapidjson::kParseIterativeFlag | rapidjson::kParseValidateEncodingFlag;
    if (leitor.Parse<opcoes>(entrada, construtor).IsError()) return std::nullopt;
    return std::move(construtor.resultado);
}

std::string EscreverJSONCompacto(const TValorJSON& valor) {
    std::string saida;
    Compacto(saida, valor);
    return saida;
}

void TEscritorJSON::Nome(std::string_view nome) {
    Separar();
    TextoCompacto(saida_, nome);
    saida_ += ':';
    virgula_ = false;
}

void TEscritorJSON::Texto(std::string_view texto) {
    Separar();
    TextoCompacto(saida_, texto);
    virgula_ = true;
}

std::string EscreverJSONIndentado(const TValorJSON& valor) {
    std::string saida;
    Indentado(saida, valor, 0);
    return saida;
}

std::string TextoDoValor(const TValorJSON& valor, const TConfiguracoesRegionais& regional) {
    switch (valor.Tipo()) {
        case TTipoJSON::Texto: return valor.Bruto();
        case TTipoJSON::Verdadeiro: return "true";
        case TTipoJSON::Falso: return "false";
        case TTipoJSON::Nulo: return "null";
        case TTipoJSON::Objeto:
        case TTipoJSON::Matriz: return {};
        case TTipoJSON::Numero: break;
    }
    const std::string& bruto = valor.Bruto();
    if (bruto.size() > 11 && bruto.find('.') == std::string::npos) {
        int64_t inteiro = 0;
        auto [fim, erro] = std::from_chars(bruto.data(), bruto.data() + bruto.size(), inteiro);
        if (erro == std::errc() && fim == bruto.data() + bruto.size()) return std::to_string(inteiro);
    }
    double d = 0;
    auto [fim, erro] = std::from_chars(bruto.data(), bruto.data() + bruto.size(), d);
    if (erro == std::errc::result_out_of_range) {
        // from_chars leaves d untouched then: decide by the exponent's sign.
        bool negativo = !bruto.empty() && bruto[0] == '-';
        auto e = bruto.find_first_of("eE");
        bool pequeno = e != std::string::npos && e + 1 < bruto.size() && bruto[e + 1] == '-';
        d = pequeno ? 0.0 : (negativo ? -HUGE_VAL : HUGE_VAL);
    }
    (void)fim;
    return FormatarGeral(d, regional);
}

}  // namespace ondaris::protocolo
