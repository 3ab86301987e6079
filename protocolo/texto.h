#pragma once
// Text helpers. Our strings are UTF-8; the attachment talks ISO 8859-1
// (Latin-1), so every text crosses that boundary here, and every reader of
// UTF-8 in the project decodes through ProximoCaractereUtf8, with one rule
// for a byte that does not start a valid sequence: it reads as U+FFFD and
// only that byte is consumed. A character that Latin-1 cannot hold (U+FFFD
// included) becomes "?" in Utf8ParaLatin1; callers that must not change a
// value ask CabeEmLatin1 first.
#include <cstddef>
#include <string>
#include <string_view>

namespace ondaris::protocolo {

inline constexpr char32_t kCaractereSubstituto = 0xFFFD;

// The character at texto[i] (i < texto.size()), advancing i past it.
char32_t ProximoCaractereUtf8(std::string_view texto, std::size_t& i);
// The UTF-8 bytes of one character (at most U+10FFFF).
void AcrescentarUtf8(std::string& saida, char32_t c);

std::string Utf8ParaLatin1(std::string_view utf8);
// True when Utf8ParaLatin1 keeps every character of the text: it is valid
// UTF-8 and holds nothing beyond U+00FF.
bool CabeEmLatin1(std::string_view utf8);
std::string Latin1ParaUtf8(std::string_view latin1);

// Number of characters of a UTF-8 text (invalid bytes count one each).
// The first `maximo` characters of a UTF-8 text, cut at a character's end,
// and within `bytes` bytes.
std::string PrimeirosCaracteresUtf8(std::string_view utf8, std::size_t maximo,
                                    std::size_t bytes = std::string_view::npos);
std::size_t ContarCaracteresUtf8(std::string_view utf8);

// The one letter-case rule: ASCII only (a-z and A-Z), other bytes
// unchanged, whatever the locale. Identifiers, names in the catalogue, media
// types, charsets and format letters are compared this way.
constexpr char MaiusculaAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }
constexpr char MinusculaAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
std::string MaiusculasAscii(std::string_view texto);
std::string MinusculasAscii(std::string_view texto);
bool IguaisSemCaixa(std::string_view a, std::string_view b);

// The one rule for the names of tables and columns that the agent puts
// into SQL text, and that the trigger installer, the self-check and the
// central server accept: an identifier as Firebird takes it without
// quotes, an ASCII letter first, then ASCII letters, digits, "_" and "$",
// at most kTamanhoMaximoIdentificador characters (Firebird 3's limit, and
// the size of LOG_REPLICACAO.TABELA). Anything else (a blank, a quote, a
// semicolon, a letter beyond ASCII) never reaches a statement.
// `maximo` serves names the agent makes itself from such a name
// (a statement's "TB" + table + suffix), which may be longer.
inline constexpr std::size_t kTamanhoMaximoIdentificador = 31;
bool IdentificadorValido(std::string_view nome, std::size_t maximo = kTamanhoMaximoIdentificador);
// The rule in words, for refusals.
inline constexpr const char* kRegraIdentificador =
    "uma letra, depois letras, dígitos, _ ou $, até 31 caracteres, sem aspas";

// An SQL text literal: the text between single quotes, each quote doubled.
std::string LiteralSql(std::string_view texto);

}  // namespace ondaris::protocolo
