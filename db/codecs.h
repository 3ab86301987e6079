#pragma once
// One encoder and one decoder per kind of column (TTipoCampo), chosen by
// the kind itself: every bind and every read of a statement goes through
// them, so each conversion rule lives here once. They work on a message
// buffer and a blob's content and call no server, so they are tested on
// their own.
//
// An encoder decides before it writes: a value it refuses leaves the
// parameter as it was. Texts are UTF-8 on this side; in the message they
// are in the column's character set (Latin-1 unless UTF-8 or OCTETS).
#include <optional>
#include <string>
#include <string_view>

#include "db/valor.h"

namespace ondaris::db {

enum class Gravacao { Gravado, Nulo, TipoErrado, NaoCabe };

// Writes `v` (never NULL) into the parameter's place in the message, or,
// for a blob, into `blob`, kept aside until execution.
using Codificador = Gravacao (*)(const DescricaoCampo& p, const Valor& v, unsigned char* dado,
                                 std::optional<std::string>& blob);
// The column's value from its place in the message (not NULL there), or
// from its blob's content for a blob.
using Decodificador = Valor (*)(const DescricaoCampo& c, const unsigned char* dado, std::string_view blob);

struct Codec {
    Codificador Gravar;  // null: no value can be bound to the kind
    Decodificador Ler;   // null: this layer cannot read the kind
};

// The codec of a parameter's or column's kind. `textosExatos`: the texts
// of a statement with exact texts (Consulta::DefinirTextosExatos), kept as
// they are instead of an empty text as NULL and a CHAR's trailing blanks
// dropped.
const Codec& CodecDe(const DescricaoCampo& d, bool textosExatos);

}  // namespace ondaris::db
