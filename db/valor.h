#pragma once
// Values exchanged with statements, and the description of a statement's
// parameters and columns as the server reports them.
//
// A Valor holding std::monostate is SQL NULL. Text (std::string) is UTF-8;
// Bytes is binary content (binary blobs, OCTETS text). A Numerico is an
// exact fixed-point number: Valor * 10^Escala, Escala <= 0, as the server
// stores NUMERIC and DECIMAL.
#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "protocolo/datahora.h"

namespace ondaris::db {

struct Numerico {
    std::int64_t Valor = 0;
    int Escala = 0;
    bool operator==(const Numerico&) const = default;
    double ComoDouble() const;
};

using Bytes = std::vector<std::uint8_t>;

using Valor = std::variant<std::monostate, bool, std::int16_t, std::int32_t, std::int64_t, Numerico, float,
                           double, protocolo::Data, protocolo::Hora, protocolo::DataHora, std::string, Bytes>;

// Name of the kind of value a Valor holds, for error messages.
const char* NomeTipoValor(const Valor& v);

// The one rule by which a value is read as a C++ type T (one of Valor's
// alternatives other than std::monostate): the value of type T, or one
// that T holds without loss: an integer as any integer type it fits, an
// integer as a Numerico of scale 0, an integer, float or Numerico as a
// double. False for NULL and for anything else, `saida` then untouched.
template <class T>
bool ValorComo(Valor&& v, T& saida);

// NomeTipoValor of the alternative T.
template <class T>
const char* NomeTipo() {
    return NomeTipoValor(Valor(std::in_place_type<T>));
}

// Kind of a parameter or column by its storage. Scaled numbers (NUMERIC,
// DECIMAL) have an integer kind and a negative Escala.
enum class TTipoCampo {
    tcSmallint,
    tcInteger,
    tcBigint,
    tcFloat,
    tcDouble,
    tcData,
    tcHora,
    tcDataHora,
    tcChar,
    tcVarchar,
    tcBlobTexto,
    tcBlobBinario,
    tcBooleano,
    tcNulo,
    tcOutro
};

inline constexpr unsigned kCharsetNone = 0;
inline constexpr unsigned kCharsetOctets = 1;
inline constexpr unsigned kCharsetUtf8 = 4;
inline constexpr unsigned kCharsetLatin1 = 21;

// The SQL spelling of a type by its kind: "SMALLINT", "NUMERIC(15,2)",
// "VARCHAR(10)", "BLOB SUB_TYPE TEXT"... `escala` negative makes an integer
// kind a NUMERIC (a DECIMAL with `subTipo` 2) of `digitos` digits, or of
// the most its storage holds when `digitos` is 0; `caracteres` is a text's
// declared length. No character set is named. Nothing for tcOutro.
std::optional<std::string> NomeTipoSql(TTipoCampo categoria, int subTipo, int escala, unsigned caracteres,
                                       int digitos = 0);

struct DescricaoCampo {
    std::string Nome;          // column alias, or parameter name in upper case ("" for a bare "?")
    std::string Relacao;       // table of a column, when the server names one
    unsigned Tipo = 0;         // SQL_* type code, without the nullable bit
    int SubTipo = 0;           // blob sub-type (1 = text); for numbers 1 NUMERIC, 2 DECIMAL
    int Escala = 0;            // 0, or negative for NUMERIC/DECIMAL
    unsigned Tamanho = 0;      // bytes in the message (text: declared length in bytes)
    unsigned ConjuntoCaracteres = 0;
    TTipoCampo Categoria = TTipoCampo::tcOutro;
    unsigned Deslocamento = 0;      // offset of the value in the message buffer
    unsigned DeslocamentoNulo = 0;  // offset of its 2-byte NULL indicator

    bool EhNumerico() const {
        return Escala < 0 && (Categoria == TTipoCampo::tcSmallint || Categoria == TTipoCampo::tcInteger ||
                              Categoria == TTipoCampo::tcBigint);
    }
    bool EhTexto() const { return Categoria == TTipoCampo::tcChar || Categoria == TTipoCampo::tcVarchar; }
    bool EhBlob() const { return Categoria == TTipoCampo::tcBlobTexto || Categoria == TTipoCampo::tcBlobBinario; }
    // Declared length of a text in characters.
    unsigned TamanhoCaracteres() const { return ConjuntoCaracteres == kCharsetUtf8 ? Tamanho / 4 : Tamanho; }
    // SQL spelling of the type, e.g. "VARCHAR(10)", "NUMERIC(15,2)", "BLOB SUB_TYPE TEXT".
    std::string NomeTipo() const;
};

}  // namespace ondaris::db
