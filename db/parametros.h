#pragma once
// Named statement parameters: the text ":NAME" becomes the positional "?"
// the server understands, and each name maps to every position where it
// occurs (a name may be used twice). Names compare without regard to case.
//
// String literals, quoted identifiers and comments are copied unchanged. In
// an EXECUTE BLOCK only the header (before its AS) is rewritten: inside the
// body ":NAME" refers to the block's own variables. A colon not followed by a
// name (an array slice, a stray colon) is left as it stands. Existing "?"
// markers are kept and take their place in the positional order, unnamed.
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace ondaris::db {

struct SqlPosicional {
    std::string Texto;                     // the statement with "?" markers
    std::vector<std::string> Nomes;        // name of each position, upper case; empty for "?"
    // upper-case name -> zero-based positions, in text order
    std::unordered_map<std::string, std::vector<std::size_t>> Posicoes;
};

SqlPosicional ReescreverParametros(std::string_view sql);

}  // namespace ondaris::db
