#pragma once
// TValorJSON: the JSON value as the central server's messages need it. It
// keeps what a general-purpose document model throws away: the order of an
// object's members, members that repeat a name (look-up returns the first),
// and the exact text of every number, so that a 19-digit position is never
// squeezed through a double. A value owns its members and elements.
//
// Reading never throws for bad input: LerJSON returns nothing for text that
// is not one valid JSON value (or nests deeper than ProfundidadeMaxima), and
// the caller decides what that means. The writers cannot fail.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "protocolo/regional.h"

namespace ondaris::protocolo {

enum class TTipoJSON { Nulo, Falso, Verdadeiro, Numero, Texto, Objeto, Matriz };

class TValorJSON {
public:
    TValorJSON() = default;  // null

    static TValorJSON Nulo() { return TValorJSON(); }
    static TValorJSON Booleano(bool valor);
    // `texto` must be the number as it stands in JSON text (digits, sign,
    // fraction, exponent); it is kept and written back unchanged.
    static TValorJSON Numero(std::string texto);
    static TValorJSON Numero(long long valor);
    static TValorJSON Texto(std::string texto);  // UTF-8
    static TValorJSON Objeto();
    static TValorJSON Matriz();

    TTipoJSON Tipo() const { return tipo_; }
    bool EhObjeto() const { return tipo_ == TTipoJSON::Objeto; }
    bool EhMatriz() const { return tipo_ == TTipoJSON::Matriz; }
    bool EhNulo() const { return tipo_ == TTipoJSON::Nulo; }

    // The characters of a string or the raw text of a number; empty for
    // every other kind.
    const std::string& Bruto() const { return texto_; }

    // Object members in the order they were added or read.
    const std::vector<std::pair<std::string, TValorJSON>>& Membros() const { return membros_; }
    // Array elements in order.
    const std::vector<TValorJSON>& Elementos() const { return elementos_; }

    // The first member whose name equals `nome` exactly; nullptr when there
    // is none or this is not an object.
    const TValorJSON* Membro(std::string_view nome) const;

    // Builders; a value of the wrong kind is a programming error and throws
    // std::logic_error.
    TValorJSON& Adicionar(std::string nome, TValorJSON valor);  // object
    TValorJSON& Adicionar(TValorJSON valor);                    // array

    bool operator==(const TValorJSON&) const = default;

private:
    TTipoJSON tipo_ = TTipoJSON::Nulo;
    std::string texto_;
    std::vector<std::pair<std::string, TValorJSON>> membros_;
    std::vector<TValorJSON> elementos_;
};

inline constexpr std::size_t ProfundidadeMaxima = 512;

// Parses UTF-8 JSON text (exactly one value, blanks around it allowed).
std::optional<TValorJSON> LerJSON(std::string_view texto);

// Compact text, ASCII only: no blanks between tokens; in strings the
// quotation mark, backslash and slash get a backslash, \b \t \n \f \r are
// used, every other character below 32 or above 127 becomes \uXXXX with
// uppercase hex (two escapes, a surrogate pair, beyond U+FFFF), and 32..127
// stand as they are. Invalid UTF-8 bytes are written as U+FFFD.
std::string EscreverJSONCompacto(const TValorJSON& valor);

// Writes compact text straight into one string, by the rules of
// EscreverJSONCompacto, for a large text built once (a send body) without a
// tree of values in between. The caller keeps the nesting right: every
// member is a Nome() followed by its value; the string belongs to the
// caller and only grows.
class TEscritorJSON {
public:
    explicit TEscritorJSON(std::string& saida) : saida_(saida) {}
    void AbrirObjeto() { Abrir('{'); }
    void FecharObjeto() { Fechar('}'); }
    void AbrirMatriz() { Abrir('['); }
    void FecharMatriz() { Fechar(']'); }
    void Nome(std::string_view nome);
    void Texto(std::string_view texto);

private:
    void Separar() {
        if (virgula_) saida_ += ',';
    }
    void Abrir(char c) {
        Separar();
        saida_ += c;
        virgula_ = false;
    }
    void Fechar(char c) {
        saida_ += c;
        virgula_ = true;
    }
    std::string& saida_;
    bool virgula_ = false;  // a value was written at this level: the next one needs ","
};

// Indented text: containers open with "{" or "[" and CR LF, one member or
// element per line indented by four blanks a level, ": " between name and
// value, "," ending every line but a container's last, the closing bracket
// on its own line at its parent's indentation; empty containers are "{}"
// and "[]". Strings escape the quotation mark, backslash, slash and
// \b \t \n \f \r; other control characters become \u00XX so the text always
// reads back as the same value; everything else stays unchanged (UTF-8).
// Numbers keep their text.
std::string EscreverJSONIndentado(const TValorJSON& valor);

// The text form of a value: a string's characters; "true", "false",
// "null"; empty text for an object or array; a number longer than 11
// characters without "." that is a valid 64-bit integer as that integer in
// decimal; any other number through a double, in the general format with
// 15 significant digits and the regional decimal separator.
std::string TextoDoValor(const TValorJSON& valor, const TConfiguracoesRegionais& regional);

}  // namespace ondaris::protocolo
