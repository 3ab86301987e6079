#pragma once
// Rules of the exchange that the agent and the central server must apply
// alike. The identifier rule is protocolo/texto.h's (IdentificadorValido):
// it is a text rule the agent also applies to names it puts into SQL.
#include <cstdint>

namespace ondaris::protocolo {

// Commands in one block: the most a store sends in one request (its log
// rows from one position on) and the most the central server hands a store
// in one answer to receber.
inline constexpr std::int32_t TamanhoBloco = 1000;

}  // namespace ondaris::protocolo
