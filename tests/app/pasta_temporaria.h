#pragma once
// A fresh folder under the system's temporary folder, removed with its
// content when the guard goes.
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

namespace ondaris::teste {

class PastaTemporaria {
public:
    PastaTemporaria() {
        std::random_device aleatorio;
        Caminho_ = std::filesystem::temp_directory_path() /
                   ("ondaris-app-" + std::to_string(aleatorio()) + std::to_string(aleatorio()));
        std::filesystem::create_directories(Caminho_);
    }
    ~PastaTemporaria() {
        std::error_code ec;
        std::filesystem::remove_all(Caminho_, ec);
    }
    PastaTemporaria(const PastaTemporaria&) = delete;
    PastaTemporaria& operator=(const PastaTemporaria&) = delete;

    const std::filesystem::path& Caminho() const { return Caminho_; }

private:
    std::filesystem::path Caminho_;
};

inline std::string LerBytes(const std::filesystem::path& arquivo) {
    std::ifstream f(arquivo, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

inline void GravarBytes(const std::filesystem::path& arquivo, const std::string& bytes) {
    std::ofstream f(arquivo, std::ios::binary | std::ios::trunc);
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace ondaris::teste
