#include "db/ocupado.h"

#include "db/diagnostico.h"

#include <exception>

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
        Diagnosticar(std::string("Falha no aviso de banco ocupado: ") + e.what());
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
