#include "support/pasta_temporaria.h"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>

namespace ondaris::teste {

namespace {
std::atomic<int> contador{0};
}

PastaTemporaria::PastaTemporaria(const std::string& prefixo) {
    const auto agora = std::chrono::steady_clock::now().time_since_epoch().count();
    caminho_ = std::filesystem::temp_directory_path() /
               (prefixo + "-" + std::to_string(::getpid()) + "-" + std::to_string(contador.fetch_add(1)) + "-" +
                std::to_string(agora));
    std::filesystem::create_directories(caminho_);
}

PastaTemporaria::~PastaTemporaria() {
    std::error_code erro;
    std::filesystem::remove_all(caminho_, erro);
    if (erro) std::cerr << "warning: " << caminho_ << " was not removed: " << erro.message() << '\n';
}

std::string LerBytes(const std::filesystem::path& arquivo) {
    std::ifstream entrada(arquivo, std::ios::binary);
    std::ostringstream texto;
    texto << entrada.rdbuf();
    return texto.str();
}

void GravarBytes(const std::filesystem::path& arquivo, const std::string& bytes) {
    std::ofstream saida(arquivo, std::ios::binary | std::ios::trunc);
    saida << bytes;
    saida.close();
    if (!saida) throw std::runtime_error("cannot write " + arquivo.string());
}

}  // namespace ondaris::teste
