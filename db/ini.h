#pragma once
// The settings file "korvin.ini" beside the executable, and the attachment
// settings read from it (section "Korvin", keys "Servidor" and "Caminho").
//
// The file is only ever read, anew for every connection that is configured.
// A missing file, section or key is not an error: the default applies. A
// key that is present with an empty value gives the empty text.
#include <filesystem>
#include <string>
#include <string_view>

namespace ondaris::db {

// Reads one value with the usual profile-file rules: section and key match
// without regard to case; the first section of that name and the first key
// in it count; blanks around the value are dropped; one pair of matching
// single or double quotes around it is removed; the value is cut to 2047
// characters. Lines starting with ';' are comments. The file may be UTF-8 or
// Latin-1 (a byte sequence that is not UTF-8 is read as Latin-1); the result
// is UTF-8.
std::string LerValorIni(const std::filesystem::path& arquivo, std::string_view secao,
                        std::string_view chave, std::string_view padrao);

// Folder of the running executable, with its final separator ("\" on
// Windows), as UTF-8 text.
std::string PastaExecutavel();

inline constexpr int kPortaBanco = 3050;

struct ConfiguracaoBanco {
    std::string Servidor;
    std::string Caminho;

    // Servidor + "/3050:" + Caminho.
    std::string StringConexao() const;
};

// Reads "korvin.ini" in the given folder (which ends with its separator, as
// PastaExecutavel() gives it). Defaults: "localhost" and the folder followed
// by "KORVIN.FDB".
ConfiguracaoBanco LerConfiguracaoBanco(const std::string& pasta);
// The same for the executable's own folder.
ConfiguracaoBanco LerConfiguracaoBanco();

}  // namespace ondaris::db
