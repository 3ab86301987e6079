#pragma once
// Base64 text of binary blobs in replication messages: the standard
// alphabet with "=" padding and a CR LF after every complete run of 76
// characters (also at the very end when the data fills the last line).
// Decoding takes line breaks anywhere and "=" padding at the end, or none;
// anything else is ErroBase64: bytes made up from a text that is not base64
// would be stored as if they were the blob.
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace ondaris::protocolo {

std::string StreamtoBase64(std::span<const uint8_t> dados);
std::string StreamtoBase64(std::string_view dados);

class ErroBase64 : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The decoded bytes. A trailing group of 2 or 3 characters (with or without
// its padding) gives 1 or 2 bytes; a single left-over character, a
// character outside the alphabet, or anything after the padding throws.
std::vector<uint8_t> Base64toStream(std::string_view texto);

}  // namespace ondaris::protocolo
