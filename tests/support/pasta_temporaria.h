#pragma once
// A fresh folder under the system's temporary folder, removed with its
// content when the guard goes, and the two file helpers every suite uses.
#include <filesystem>
#include <string>

namespace ondaris::teste {

class PastaTemporaria {
public:
    explicit PastaTemporaria(const std::string& prefixo = "ondaris-teste");
    ~PastaTemporaria();
    PastaTemporaria(const PastaTemporaria&) = delete;
    PastaTemporaria& operator=(const PastaTemporaria&) = delete;

    const std::filesystem::path& Caminho() const { return caminho_; }
    // The folder with its final separator, as "korvin.ini" readers take it.
    std::string Pasta() const { return caminho_.string() + "/"; }

private:
    std::filesystem::path caminho_;
};

// The whole content of a file ("" when it cannot be read).
std::string LerBytes(const std::filesystem::path& arquivo);
// Replaces a file's content; throws std::runtime_error when it cannot.
void GravarBytes(const std::filesystem::path& arquivo, const std::string& bytes);

}  // namespace ondaris::teste
