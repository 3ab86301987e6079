#pragma once
// The row a command names, as the agent and the central server both judge
// it: its table in upper case (ASCII, as the catalogue keeps it) and the two
// key texts of the sender's log ("atualvalorchave1", "atualvalorchave2").
// A one-column key's second text travels as "": a missing second key value
// and an empty one are the same. Neither side needs the table's primary key
// for this, so a store and the server that knows no catalogue name one row
// alike.
#include <string>
#include <string_view>

namespace ondaris::protocolo {

struct TIdentidadeLinha {
    std::string Tabela;  // upper case
    std::string Chave1;
    std::string Chave2;  // empty for a one-column key

    // The text a hash set holds: unambiguous whatever the key texts hold.
    std::string Chave() const;
    // "PRECOS (1, 20)", "PRODUTOS (20)" for log entries.
    std::string Descricao() const;
};

// `chave2` is empty when the command or log row has no second key text.
TIdentidadeLinha IdentidadeDe(std::string_view tabela, std::string chave1, std::string chave2);

}  // namespace ondaris::protocolo
