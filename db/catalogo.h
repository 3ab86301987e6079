#pragma once
// What the catalogue says of a table's columns, read one way: the query of
// a table's columns (all, or the primary key's), the one mapping of its
// rows to TCampoCatalogo, and the catalogue's type codes as the kinds the
// rest of the layer knows. The agent runs the query on the global
// connection (TCamposCatalogo); the maintenance commands run it through
// their own catalogue reader (db/manutencao.h); both map rows here.
#include <string>
#include <vector>

#include "db/conexao.h"
#include "db/consulta.h"
#include "db/valor.h"

namespace ondaris::db {

// One column of a table as the catalogue query gives it.
struct TCampoCatalogo {
    std::string Campo;
    bool Chave = false;  // part of the primary key
    // The column's type as the catalogue keeps it (RDB$FIELDS): what the
    // select of a block needs to bring short blobs inline and to keep its
    // row within the message limit. Zero where the catalogue has NULL.
    int Tipo = 0;                 // RDB$FIELD_TYPE: 261 a blob
    int SubTipo = 0;              // for a blob, 1 text
    int ConjuntoCaracteres = 0;   // of a text or a text blob
    int Tamanho = 0;              // bytes of a row's value (RDB$FIELD_LENGTH; a blob's id 8)
    bool operator==(const TCampoCatalogo&) const = default;
};

// Catalogue type codes (RDB$FIELDS.RDB$FIELD_TYPE).
inline constexpr int kCatalogoSmallint = 7, kCatalogoInteger = 8, kCatalogoFloat = 10, kCatalogoDate = 12,
                     kCatalogoTime = 13, kCatalogoChar = 14, kCatalogoBigint = 16, kCatalogoBooleano = 23,
                     kCatalogoDouble = 27, kCatalogoTimestamp = 35, kCatalogoVarchar = 37, kCatalogoBlob = 261;

// The kind of a catalogue type code (tcOutro for one the layer does not
// handle). A blob of sub-type 1 is text.
TTipoCampo CategoriaDoCatalogo(int tipo, int subTipo);

// The catalogue query of a table's columns (:TABELA, the name as the
// catalogue stores it), every non-computed one in column order, and the
// same restricted to the primary key's. Columns in this order: CAMPO,
// CHAVE, TIPO, SUBTIPO, CONJUNTO, TAMANHO.
extern const char* const kSqlCamposTabela;
extern const char* const kSqlCamposChave;

// A row of that query, its values in column order.
TCampoCatalogo CampoDoCatalogo(const std::vector<Valor>& linha);

// The catalogue query on a connection the caller keeps open, one statement
// per question prepared once: a block asks both of one table, and one
// statement switching texts would be prepared again every time.
class TCamposCatalogo {
public:
    TCamposCatalogo(Conexao& conexao, Transacao& transacao);
    // Every non-computed column, or only the primary-key ones, in column
    // order.
    std::vector<TCampoCatalogo> Campos(const std::string& tabela, bool somenteChave);

private:
    Consulta campos_;
    Consulta chave_;
};

}  // namespace ondaris::db
