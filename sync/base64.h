#pragma once
// Base64 text of binary blobs in replication messages: the standard
// alphabet with "=" padding and a CR LF after every complete run of 76
// characters (also at the very end when the data fills the last line).
// Decoding is forgiving on purpose: every character outside the alphabet
// (line breaks, blanks, "=", anything else) is skipped, and it never fails.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace ondaris::sync {

std::string StreamtoBase64(std::span<const uint8_t> dados);
std::string StreamtoBase64(std::string_view dados);

// The decoded bytes. A trailing group of 2 or 3 characters gives 1 or 2
// bytes; a single left-over character gives none.
std::vector<uint8_t> Base64toStream(std::string_view texto);

}  // namespace ondaris::sync
