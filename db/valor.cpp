#include "db/valor.h"

#include <cmath>
#include <firebird/Interface.h>

namespace ondaris::db {

double Numerico::ComoDouble() const { return static_cast<double>(Valor) * std::pow(10.0, Escala); }

const char* NomeTipoValor(const Valor& v) {
    static const char* const nomes[] = {"NULL",   "boolean", "16-bit integer", "32-bit integer", "64-bit integer",
                                        "numeric", "float",  "double",         "date",           "time",
                                        "timestamp", "text", "bytes"};
    return nomes[v.index()];
}

std::string DescricaoCampo::NomeTipo() const {
    const auto numerico = [&](int digitos) {
        return std::string(SubTipo == 2 ? "DECIMAL(" : "NUMERIC(") + std::to_string(digitos) + "," +
               std::to_string(-Escala) + ")";
    };
    switch (Categoria) {
        case TTipoCampo::tcSmallint: return Escala < 0 ? numerico(4) : "SMALLINT";
        case TTipoCampo::tcInteger: return Escala < 0 ? numerico(9) : "INTEGER";
        case TTipoCampo::tcBigint: return Escala < 0 ? numerico(18) : "BIGINT";
        case TTipoCampo::tcFloat: return "FLOAT";
        case TTipoCampo::tcDouble: return "DOUBLE PRECISION";
        case TTipoCampo::tcData: return "DATE";
        case TTipoCampo::tcHora: return "TIME";
        case TTipoCampo::tcDataHora: return "TIMESTAMP";
        case TTipoCampo::tcChar:
            return "CHAR(" + std::to_string(TamanhoCaracteres()) + ")" +
                   (ConjuntoCaracteres == kCharsetOctets ? " CHARACTER SET OCTETS" : "");
        case TTipoCampo::tcVarchar:
            return "VARCHAR(" + std::to_string(TamanhoCaracteres()) + ")" +
                   (ConjuntoCaracteres == kCharsetOctets ? " CHARACTER SET OCTETS" : "");
        case TTipoCampo::tcBlobTexto: return "BLOB SUB_TYPE TEXT";
        case TTipoCampo::tcBlobBinario: return "BLOB SUB_TYPE " + std::to_string(SubTipo);
        case TTipoCampo::tcBooleano: return "BOOLEAN";
        case TTipoCampo::tcNulo: return "NULL";
        case TTipoCampo::tcOutro: break;
    }
    return "SQL type " + std::to_string(Tipo);
}

}  // namespace ondaris::db
