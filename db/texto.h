#pragma once
// Text helpers of the database layer. Our strings are UTF-8; the attachment
// talks ISO 8859-1 (Latin-1), so every text crosses that boundary here.
// A character that Latin-1 cannot hold becomes "?" (not an error); bytes
// that are not valid UTF-8 are taken as Latin-1 characters themselves, so
// that no input is ever refused or silently dropped.
#include <cstddef>
#include <string>
#include <string_view>

namespace ondaris::db {

std::string Utf8ParaLatin1(std::string_view utf8);
// True when Utf8ParaLatin1 keeps every character of the text: it is valid
// UTF-8 and holds nothing beyond U+00FF.
bool CabeEmLatin1(std::string_view utf8);
std::string Latin1ParaUtf8(std::string_view latin1);

// Number of characters of a UTF-8 text (invalid bytes count one each).
std::size_t ContarCaracteresUtf8(std::string_view utf8);

// ASCII-only upper case (a-z to A-Z); other bytes unchanged. Identifiers
// and names in the catalogue are compared this way.
std::string MaiusculasAscii(std::string_view texto);
bool IguaisSemCaixa(std::string_view a, std::string_view b);

// A letter, then letters, digits or underscores, at most `maximo` characters.
bool IdentificadorSimples(std::string_view nome, std::size_t maximo);

// An SQL text literal: the text between single quotes, each quote doubled.
std::string LiteralSql(std::string_view texto);

}  // namespace ondaris::db
