// Arms the agent's fault points from the environment: ONDARIS_FALHA holds a
// point's name, optionally followed by ":n" (the n-th pass, 1 by default).
// At that pass the process dies by SIGKILL, as in a power cut or a killed
// service: no destructor runs, no transaction is ended by the client.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "db/ponto_falha.h"

namespace {

std::string alvo;
long passagem = 1;

void Gancho(std::string_view ponto) {
    if (ponto != alvo || --passagem > 0) return;
    std::fprintf(stderr, "ondarisd_falhas: killed at %s\n", alvo.c_str());
    std::fflush(stderr);
    std::raise(SIGKILL);
}

const bool armado = [] {
    const char* valor = std::getenv("ONDARIS_FALHA");
    if (!valor || !*valor) return false;
    alvo = valor;
    if (const auto dois = alvo.rfind(':'); dois != std::string::npos) {
        passagem = std::strtol(alvo.c_str() + dois + 1, nullptr, 10);
        alvo.resize(dois);
    }
    ondaris::db::DefinirGanchoFalha(&Gancho);
    return true;
}();

}  // namespace
