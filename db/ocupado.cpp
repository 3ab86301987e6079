#include "db/ocupado.h"

#include <exception>
#include <iostream>

namespace ondaris::db {

namespace {
GanchoOcupado& Gancho() {
    static GanchoOcupado gancho;
    return gancho;
}
int profundidade = 0;

void Avisar(bool ocupado) noexcept {
    if (!Gancho()) return;
    try {
        Gancho()(ocupado);
    } catch (const std::exception& e) {
        // A cosmetic hook must never change the outcome of a statement.
        std::cerr << "ondaris: falha no aviso de banco ocupado: " << e.what() << '\n';
    }
}
}  // namespace

void DefinirGanchoOcupado(GanchoOcupado gancho) { Gancho() = std::move(gancho); }

MarcaOcupado::MarcaOcupado() {
    if (profundidade++ == 0) Avisar(true);
}

MarcaOcupado::~MarcaOcupado() {
    if (--profundidade == 0) Avisar(false);
}

}  // namespace ondaris::db
