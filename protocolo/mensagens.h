#pragma once
// The texts a technician reads that the protocol itself words: the
// counting rule every layer and the central server share ("1 linha",
// "2 linhas" decided in one place), and a blob's base64 text that is not.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace ondaris::protocolo {

// The number and the noun that agrees with it: "1 linha", "0 linhas",
// "2 linhas". Only exactly one (or minus one) takes the singular.
std::string Quantidade(std::int64_t n, std::string_view singular, std::string_view plural);

}  // namespace ondaris::protocolo

namespace ondaris::protocolo {

// A column value in base64 that is not.
std::string TextoBase64CaractereInesperado(std::size_t posicao);
inline constexpr const char* kTextoBase64Incompleto = "o texto não é base64: termina no meio de um grupo";

}  // namespace ondaris::protocolo
