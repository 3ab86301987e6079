#pragma once
// Setting aside a command that stops a store for good: a row of this
// store's log that cannot be prepared for sending (its table was dropped,
// or has a key the log cannot carry), or a received command this store
// cannot apply. Nothing is ever set aside by itself: the failure's log
// entry names the technician's command that does it (app/shell/manutencao.h),
// which records the command whole in RPL_POSTOS_DE_LADO and lets the rest
// flow. The texts live here so that the entry and the command agree.
#include <cstdint>
#include <string>

namespace ondaris::sync {

inline constexpr const char* kOpcaoPorDeLadoRecebido = "--por-de-lado-recebido";
inline constexpr const char* kOpcaoPorDeLadoEnvio = "--por-de-lado-envio";

// The end of a failure's log entry for a received command this store
// cannot apply.
inline std::string TextoComoPorDeLadoRecebido(std::int64_t ordem) {
    return "\nO comando de ordem " + std::to_string(ordem) +
           " recebido do servidor central não pode ser aplicado nesta loja e segura todo o recebimento; para pôr "
           "este comando de lado: ondarisd " + std::string(kOpcaoPorDeLadoRecebido) + " " + std::to_string(ordem);
}

// The end of a failure's log entry for a row of this store's log whose
// table cannot be prepared for sending.
inline std::string TextoComoPorDeLadoEnvio(std::int64_t ordem) {
    return "\nA linha de ordem " + std::to_string(ordem) +
           " do LOG_REPLICACAO não pode ser enviada e segura todo o envio; para pôr este comando de lado: "
           "ondarisd " + std::string(kOpcaoPorDeLadoEnvio) + " " + std::to_string(ordem);
}

}  // namespace ondaris::sync
