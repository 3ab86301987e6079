#include "db/diagnostico.h"

#include <exception>
#include <iostream>
#include <mutex>
#include <utility>

namespace ondaris::db {

namespace {

std::mutex& Trava() {
    static std::mutex trava;
    return trava;
}

TDestinoDiagnostico& Destino() {
    static TDestinoDiagnostico destino;
    return destino;
}

void NaSaidaDeErros(const std::string& texto) noexcept {
    try {
        std::cerr << "ondaris: " << texto << '\n';
    } catch (...) {
        // Nowhere left to tell it.
    }
}

}  // namespace

TDestinoDiagnostico DefinirDestinoDiagnostico(TDestinoDiagnostico destino) {
    const std::lock_guard<std::mutex> trava(Trava());
    return std::exchange(Destino(), std::move(destino));
}

void Diagnosticar(const std::string& texto) noexcept {
    try {
        const std::lock_guard<std::mutex> trava(Trava());
        if (Destino()) {
            Destino()(texto);
            return;
        }
    } catch (const std::exception& e) {
        NaSaidaDeErros(texto);
        NaSaidaDeErros(std::string("o registro falhou: ") + e.what());
        return;
    } catch (...) {
        // Falls through to standard error.
    }
    NaSaidaDeErros(texto);
}

}  // namespace ondaris::db
