#include "db/valor.h"

#include <cmath>
#include <firebird/Interface.h>
#include <limits>
#include <optional>
#include <type_traits>

namespace ondaris::db {
using protocolo::Data;
using protocolo::DataHora;
using protocolo::Hora;

double Numerico::ComoDouble() const { return static_cast<double>(Valor) * std::pow(10.0, Escala); }

const char* NomeTipoValor(const Valor& v) {
    static const char* const nomes[] = {"NULL",     "booleano", "inteiro de 16 bits", "inteiro de 32 bits",
                                        "inteiro de 64 bits", "numérico", "float", "double", "data", "hora",
                                        "data e hora", "texto", "bytes"};
    return nomes[v.index()];
}

namespace {
std::optional<std::int64_t> Inteiro(const Valor& v) {
    if (const auto* a = std::get_if<std::int16_t>(&v)) return *a;
    if (const auto* b = std::get_if<std::int32_t>(&v)) return *b;
    if (const auto* c = std::get_if<std::int64_t>(&v)) return *c;
    return std::nullopt;
}
}  // namespace

template <class T>
bool ValorComo(Valor&& v, T& saida) {
    if (auto* exato = std::get_if<T>(&v)) {
        saida = std::move(*exato);
        return true;
    }
    if constexpr (std::is_integral_v<T> && !std::is_same_v<T, bool>) {
        const auto i = Inteiro(v);
        if (!i || *i < std::numeric_limits<T>::min() || *i > std::numeric_limits<T>::max()) return false;
        saida = static_cast<T>(*i);
        return true;
    } else if constexpr (std::is_same_v<T, Numerico>) {
        const auto i = Inteiro(v);
        if (!i) return false;
        saida = Numerico{*i, 0};
        return true;
    } else if constexpr (std::is_same_v<T, double>) {
        if (const auto i = Inteiro(v)) saida = static_cast<double>(*i);
        else if (const auto* f = std::get_if<float>(&v)) saida = *f;
        else if (const auto* n = std::get_if<Numerico>(&v)) saida = n->ComoDouble();
        else return false;
        return true;
    }
    return false;
}

template bool ValorComo(Valor&&, bool&);
template bool ValorComo(Valor&&, std::int16_t&);
template bool ValorComo(Valor&&, std::int32_t&);
template bool ValorComo(Valor&&, std::int64_t&);
template bool ValorComo(Valor&&, Numerico&);
template bool ValorComo(Valor&&, float&);
template bool ValorComo(Valor&&, double&);
template bool ValorComo(Valor&&, Data&);
template bool ValorComo(Valor&&, Hora&);
template bool ValorComo(Valor&&, DataHora&);
template bool ValorComo(Valor&&, std::string&);
template bool ValorComo(Valor&&, Bytes&);

std::optional<std::string> NomeTipoSql(TTipoCampo categoria, int subTipo, int escala, unsigned caracteres,
                                       int digitos) {
    const auto numerico = [&](int maximo) {
        return std::string(subTipo == 2 ? "DECIMAL(" : "NUMERIC(") + std::to_string(digitos > 0 ? digitos : maximo) +
               "," + std::to_string(-escala) + ")";
    };
    switch (categoria) {
        case TTipoCampo::tcSmallint: return escala < 0 ? numerico(4) : "SMALLINT";
        case TTipoCampo::tcInteger: return escala < 0 ? numerico(9) : "INTEGER";
        case TTipoCampo::tcBigint: return escala < 0 ? numerico(18) : "BIGINT";
        case TTipoCampo::tcFloat: return "FLOAT";
        case TTipoCampo::tcDouble: return "DOUBLE PRECISION";
        case TTipoCampo::tcData: return "DATE";
        case TTipoCampo::tcHora: return "TIME";
        case TTipoCampo::tcDataHora: return "TIMESTAMP";
        case TTipoCampo::tcChar: return "CHAR(" + std::to_string(caracteres) + ")";
        case TTipoCampo::tcVarchar: return "VARCHAR(" + std::to_string(caracteres) + ")";
        case TTipoCampo::tcBlobTexto: return "BLOB SUB_TYPE TEXT";
        case TTipoCampo::tcBlobBinario: return "BLOB SUB_TYPE " + std::to_string(subTipo);
        case TTipoCampo::tcBooleano: return "BOOLEAN";
        case TTipoCampo::tcNulo: return "NULL";
        case TTipoCampo::tcOutro: break;
    }
    return std::nullopt;
}

std::string DescricaoCampo::NomeTipo() const {
    auto nome = NomeTipoSql(Categoria, SubTipo, Escala, TamanhoCaracteres());
    if (!nome) return "tipo SQL " + std::to_string(Tipo);
    if (EhTexto() && ConjuntoCaracteres == kCharsetOctets) *nome += " CHARACTER SET OCTETS";
    return *nome;
}

}  // namespace ondaris::db
