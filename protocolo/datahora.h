#pragma once
// Calendar values exchanged between the database layer and the message
// format. Plain values with no time zone, as Firebird stores them.
#include <cstdint>
#include <compare>

namespace ondaris::protocolo {

struct Data {
    int Ano = 0;   // 1..9999
    int Mes = 0;   // 1..12
    int Dia = 0;   // 1..31
    auto operator<=>(const Data&) const = default;
};

struct Hora {
    int Horas = 0;             // 0..23
    int Minutos = 0;           // 0..59
    int Segundos = 0;          // 0..59
    int DecimosMilesimos = 0;  // 0..9999, Firebird's 1/10000 s
    auto operator<=>(const Hora&) const = default;
};

struct DataHora {
    Data D;
    Hora H;
    auto operator<=>(const DataHora&) const = default;
};

}  // namespace ondaris::protocolo
