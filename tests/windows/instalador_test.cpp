// The installer's version resource says what the programs' say: the same
// product version and publisher, read as Windows shows them in a file's
// properties (through the file's own translation).
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>


namespace ondaris::teste {
namespace {

// The build folder: tests\test_plataforma.exe -> the folder above tests.
std::filesystem::path PastaDaCompilacao() {
    wchar_t proprio[MAX_PATH * 4] = {};
    GetModuleFileNameW(nullptr, proprio, MAX_PATH * 4);
    return std::filesystem::path(proprio).parent_path().parent_path();
}

// One text of the version resource, in the file's first translation.
std::wstring TextoDaVersao(const std::filesystem::path& arquivo, const std::wstring& nome) {
    DWORD ignorado = 0;
    const DWORD tamanho = GetFileVersionInfoSizeW(arquivo.c_str(), &ignorado);
    if (tamanho == 0) return L"(sem recurso de versão)";
    std::vector<unsigned char> dados(tamanho);
    if (!GetFileVersionInfoW(arquivo.c_str(), 0, tamanho, dados.data())) return L"(ilegível)";
    struct Traducao {
        WORD Idioma, PaginaDeCodigo;
    }* traducao = nullptr;
    UINT comprimento = 0;
    if (!VerQueryValueW(dados.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&traducao),
                        &comprimento) ||
        comprimento < sizeof(Traducao))
        return L"(sem tradução)";
    wchar_t caminho[128];
    std::swprintf(caminho, 128, L"\\StringFileInfo\\%04x%04x\\%ls", traducao->Idioma, traducao->PaginaDeCodigo,
                  nome.c_str());
    wchar_t* valor = nullptr;
    if (!VerQueryValueW(dados.data(), caminho, reinterpret_cast<void**>(&valor), &comprimento)) return L"(ausente)";
    return valor;
}

TEST(Instalador, CarriesTheProgramsVersionAndPublisher) {
    const auto instalador = PastaDaCompilacao() / "OndarisSetup.exe";
    ASSERT_TRUE(std::filesystem::exists(instalador)) << "the build makes it (makensis)";
    const auto programa = PastaDaCompilacao() / "app" / "ondarisd.exe";
    for (const wchar_t* nome : {L"ProductVersion", L"CompanyName", L"ProductName"}) {
        SCOPED_TRACE(std::filesystem::path(nome).string());
        const std::wstring esperado = TextoDaVersao(programa, nome);
        EXPECT_EQ(esperado.rfind(L"(", 0), std::wstring::npos) << std::filesystem::path(esperado).string();
        EXPECT_EQ(TextoDaVersao(instalador, nome), esperado);
    }
    EXPECT_EQ(std::filesystem::path(TextoDaVersao(instalador, L"ProductVersion")).string(), ONDARIS_VERSION);
}

}  // namespace
}  // namespace ondaris::teste
