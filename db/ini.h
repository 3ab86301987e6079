#pragma once
// The settings file "korvin.ini" beside the executable, and the settings
// read from it, all in section "Korvin": "Servidor" and "Caminho" (where the
// database is) and "SegundosEnvioRetido" (see LerSegundosEnvioRetido).
//
// The file is only ever read, anew for every connection that is configured.
// A missing file, section or key is not an error: the default applies. A
// key that is present with an empty value gives the empty text.
#include <chrono>
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

// The attachment string: servidor + "/" + porta + ":" + caminho.
std::string StringConexao(const std::string& servidor, const std::string& porta, const std::string& caminho);

struct ConfiguracaoBanco {
    std::string Servidor;
    std::string Porta = std::to_string(kPortaBanco);
    std::string Caminho;

};

// Reads "korvin.ini" in the given folder (which ends with its separator, as
// PastaExecutavel() gives it). Defaults: "localhost" and the folder followed
// by "KORVIN.FDB". The port is 3050, unless "Servidor" names another the way
// Firebird's own attachment strings do, after a slash ("srv01/3051"): that
// is the one way to reach a server that does not listen on 3050, and a
// value with a slash would otherwise make an attachment string no server
// accepts.
ConfiguracaoBanco LerConfiguracaoBanco(const std::string& pasta);
// The same for the executable's own folder.
ConfiguracaoBanco LerConfiguracaoBanco();

// How long sending may stay held back by an open store transaction before
// the agent says so in its log and its window: key "SegundosEnvioRetido"
// of section "Korvin", in seconds; 600 when the key is missing or is not a
// whole number of at least 1.
inline constexpr std::chrono::seconds kEnvioRetidoPadrao{600};
std::chrono::seconds LerSegundosEnvioRetido(const std::string& pasta);

}  // namespace ondaris::db
