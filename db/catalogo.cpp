#include "db/catalogo.h"

#include "protocolo/texto.h"

namespace ondaris::db {
using protocolo::MaiusculasAscii;

#define ONDARIS_CATALOGO_INICIO                                                                   \
    "SELECT R.RDB$FIELD_NAME AS CAMPO, PK.RDB$CONSTRAINT_TYPE AS CHAVE, F.RDB$FIELD_TYPE AS TIPO,\n" \
    "F.RDB$FIELD_SUB_TYPE AS SUBTIPO, F.RDB$CHARACTER_SET_ID AS CONJUNTO, F.RDB$FIELD_LENGTH AS TAMANHO\n" \
    "FROM RDB$RELATIONS T\n"                                                                        \
    "INNER JOIN RDB$RELATION_FIELDS R ON T.RDB$RELATION_NAME = R.RDB$RELATION_NAME\n"             \
    "INNER JOIN RDB$FIELDS F ON R.RDB$FIELD_SOURCE = F.RDB$FIELD_NAME\n"                          \
    "LEFT JOIN (SELECT TC.RDB$RELATION_NAME, IDX.RDB$FIELD_NAME, TC.RDB$CONSTRAINT_TYPE\n"        \
    "           FROM RDB$RELATION_CONSTRAINTS TC\n"                                               \
    "           INNER JOIN RDB$INDEX_SEGMENTS IDX ON (IDX.RDB$INDEX_NAME = TC.RDB$INDEX_NAME)\n"  \
    "           WHERE TC.RDB$CONSTRAINT_TYPE = 'PRIMARY KEY') PK\n"                               \
    "ON (T.RDB$RELATION_NAME = PK.RDB$RELATION_NAME) AND (R.RDB$FIELD_NAME = PK.RDB$FIELD_NAME)\n" \
    "WHERE COALESCE(F.RDB$COMPUTED_SOURCE, '') = ''\n"                                            \
    "AND T.RDB$RELATION_NAME = :TABELA\n"

const char* const kSqlCamposChave = ONDARIS_CATALOGO_INICIO
    "AND UPPER(PK.RDB$CONSTRAINT_TYPE) = 'PRIMARY KEY'\n"
    "ORDER BY R.RDB$FIELD_POSITION";

const char* const kSqlCamposTabela = ONDARIS_CATALOGO_INICIO "ORDER BY R.RDB$FIELD_POSITION";

#undef ONDARIS_CATALOGO_INICIO

TTipoCampo CategoriaDoCatalogo(int tipo, int subTipo) {
    switch (tipo) {
        case kCatalogoSmallint: return TTipoCampo::tcSmallint;
        case kCatalogoInteger: return TTipoCampo::tcInteger;
        case kCatalogoBigint: return TTipoCampo::tcBigint;
        case kCatalogoFloat: return TTipoCampo::tcFloat;
        case kCatalogoDouble: return TTipoCampo::tcDouble;
        case kCatalogoDate: return TTipoCampo::tcData;
        case kCatalogoTime: return TTipoCampo::tcHora;
        case kCatalogoTimestamp: return TTipoCampo::tcDataHora;
        case kCatalogoChar: return TTipoCampo::tcChar;
        case kCatalogoVarchar: return TTipoCampo::tcVarchar;
        case kCatalogoBlob: return subTipo == 1 ? TTipoCampo::tcBlobTexto : TTipoCampo::tcBlobBinario;
        case kCatalogoBooleano: return TTipoCampo::tcBooleano;
        default: return TTipoCampo::tcOutro;
    }
}

namespace {
std::string Texto(const Valor& v) {
    if (const auto* s = std::get_if<std::string>(&v)) return *s;
    return {};
}
int Inteiro(const Valor& v) {
    std::int32_t x = 0;
    return ValorComo(Valor(v), x) ? x : 0;
}
}  // namespace

TCampoCatalogo CampoDoCatalogo(const std::vector<Valor>& l) {
    TCampoCatalogo c;
    c.Campo = Texto(l.at(0));
    c.Chave = MaiusculasAscii(Texto(l.at(1))) == "PRIMARY KEY";
    c.Tipo = Inteiro(l.at(2));
    c.SubTipo = Inteiro(l.at(3));
    c.ConjuntoCaracteres = Inteiro(l.at(4));
    c.Tamanho = Inteiro(l.at(5));
    return c;
}

TCamposCatalogo::TCamposCatalogo(Conexao& conexao, Transacao& transacao)
    : campos_(conexao, transacao, kSqlCamposTabela, "TBCamposTabela"),
      chave_(conexao, transacao, kSqlCamposChave, "TBCamposChave") {}

std::vector<TCampoCatalogo> TCamposCatalogo::Campos(const std::string& tabela, bool somenteChave) {
    Consulta& consulta = somenteChave ? chave_ : campos_;
    consulta.Definir("TABELA", tabela);
    std::vector<TCampoCatalogo> campos;
    for (bool linha = consulta.Abrir(); linha; linha = consulta.Proximo()) {
        std::vector<Valor> valores;
        for (std::size_t i = 0; i < 6; ++i) valores.push_back(consulta.Ler(i));
        campos.push_back(CampoDoCatalogo(valores));
    }
    return campos;
}

}  // namespace ondaris::db
