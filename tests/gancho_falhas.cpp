// Arms the agent's fault points from the environment. ONDARIS_FALHA holds a
// point's name, optionally followed by ":n" (the n-th pass, 1 by default).
// At that pass the process dies by SIGKILL, as in a power cut or a killed
// service: no destructor runs, no transaction is ended by the client.
// With ONDARIS_FALHA_ESPERA=<file> it stops there instead: it creates the
// file and waits (60 s at most) until the test removes it, so that the test
// can take the database away at that exact instant.
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <thread>

#include "db/ponto_falha.h"

namespace {

std::string alvo;
std::string espera;
long passagem = 1;

void Gancho(std::string_view ponto) {
    if (ponto != alvo || --passagem != 0) return;
    if (espera.empty()) {
        std::fprintf(stderr, "ondarisd_falhas: killed at %s\n", alvo.c_str());
        std::fflush(stderr);
        std::raise(SIGKILL);
    }
    std::ofstream(espera) << alvo << '\n';
    const auto limite = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::filesystem::exists(espera) && std::chrono::steady_clock::now() < limite)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    std::fprintf(stderr, "ondarisd_falhas: went on from %s\n", alvo.c_str());
}

const bool armado = [] {
    const char* valor = std::getenv("ONDARIS_FALHA");
    if (!valor || !*valor) return false;
    alvo = valor;
    if (const auto dois = alvo.rfind(':'); dois != std::string::npos) {
        passagem = std::strtol(alvo.c_str() + dois + 1, nullptr, 10);
        alvo.resize(dois);
    }
    if (const char* arquivo = std::getenv("ONDARIS_FALHA_ESPERA")) espera = arquivo;
    ondaris::db::DefinirGanchoFalha(&Gancho);
    return true;
}();

}  // namespace
