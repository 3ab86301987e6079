#include "db/ini.h"

#include <charconv>
#include <fstream>
#include <sstream>
#include <unistd.h>

#include "db/erros.h"
#include "protocolo/texto.h"

namespace ondaris::db {
using protocolo::IguaisSemCaixa;
using protocolo::Latin1ParaUtf8;

namespace {

constexpr std::size_t kMaximoCaracteres = 2047;

std::string_view Aparar(std::string_view s) {
    const auto branco = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v'; };
    while (!s.empty() && branco(s.front())) s.remove_prefix(1);
    while (!s.empty() && branco(s.back())) s.remove_suffix(1);
    return s;
}

std::string ParaUtf8(std::string_view bruto) {
    bool soAscii = true;
    for (char c : bruto)
        if (static_cast<unsigned char>(c) >= 0x80) soAscii = false;
    if (soAscii) return std::string(bruto);
    // Valid UTF-8 decodes to fewer characters than bytes and re-encodes the
    // same; anything else is an ANSI (Latin-1) file.
    std::size_t i = 0;
    bool valido = true;
    while (i < bruto.size()) {
        const auto b = static_cast<unsigned char>(bruto[i]);
        std::size_t n = b < 0x80 ? 1 : (b & 0xE0) == 0xC0 ? 2 : (b & 0xF0) == 0xE0 ? 3 : (b & 0xF8) == 0xF0 ? 4 : 0;
        if (n == 0 || i + n > bruto.size()) {
            valido = false;
            break;
        }
        for (std::size_t k = 1; k < n; ++k)
            if ((static_cast<unsigned char>(bruto[i + k]) & 0xC0) != 0x80) valido = false;
        if (!valido) break;
        i += n;
    }
    return valido ? std::string(bruto) : Latin1ParaUtf8(bruto);
}

std::string CortarCaracteres(const std::string& utf8, std::size_t maximo) {
    std::size_t contados = 0;
    std::size_t i = 0;
    while (i < utf8.size()) {
        if (contados == maximo) return utf8.substr(0, i);
        const auto b = static_cast<unsigned char>(utf8[i]);
        i += b < 0x80 ? 1 : (b & 0xE0) == 0xC0 ? 2 : (b & 0xF0) == 0xE0 ? 3 : 4;
        ++contados;
    }
    return utf8;
}

}  // namespace

std::string LerValorIni(const std::filesystem::path& arquivo, std::string_view secao,
                        std::string_view chave, std::string_view padrao) {
    std::ifstream in(arquivo, std::ios::binary);
    if (!in) return std::string(padrao);
    std::stringstream buffer;
    buffer << in.rdbuf();
    std::string conteudo = buffer.str();
    if (conteudo.rfind("\xEF\xBB\xBF", 0) == 0) conteudo.erase(0, 3);

    bool naSecao = false;
    bool secaoVista = false;
    std::string_view resto(conteudo);
    while (!resto.empty()) {
        const auto fim = resto.find('\n');
        std::string_view linha = resto.substr(0, fim);
        resto = fim == std::string_view::npos ? std::string_view{} : resto.substr(fim + 1);
        linha = Aparar(linha);
        if (linha.empty() || linha.front() == ';') continue;
        if (linha.front() == '[') {
            if (naSecao) break;  // only the first section of the name counts
            const auto fecha = linha.find(']');
            const std::string_view nome =
                Aparar(linha.substr(1, fecha == std::string_view::npos ? std::string_view::npos : fecha - 1));
            naSecao = !secaoVista && IguaisSemCaixa(nome, secao);
            secaoVista = secaoVista || naSecao;
            continue;
        }
        if (!naSecao) continue;
        const auto igual = linha.find('=');
        if (igual == std::string_view::npos) continue;
        if (!IguaisSemCaixa(Aparar(linha.substr(0, igual)), chave)) continue;
        std::string_view valor = Aparar(linha.substr(igual + 1));
        if (valor.size() >= 2 && (valor.front() == '"' || valor.front() == '\'') && valor.back() == valor.front())
            valor = valor.substr(1, valor.size() - 2);
        return CortarCaracteres(ParaUtf8(valor), kMaximoCaracteres);
    }
    return std::string(padrao);
}

#ifndef _WIN32  // Windows: sistema_win.cpp
std::string PastaExecutavel() {
    std::error_code erro;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", erro);
    if (erro) throw ErroUso("não foi possível achar o executável em execução: " + erro.message());
    std::string pasta = exe.parent_path().string();
    if (pasta.empty() || pasta.back() != '/') pasta.push_back('/');
    return pasta;
}
#endif

std::string StringConexao(const std::string& servidor, const std::string& porta, const std::string& caminho) {
    return servidor + "/" + porta + ":" + caminho;
}

ConfiguracaoBanco LerConfiguracaoBanco(const std::string& pasta) {
    // The folder is UTF-8 text; a path made from a plain string would take it
    // in the system's code page on Windows.
    const std::string nome = pasta + "korvin.ini";
    const std::filesystem::path arquivo(std::u8string(nome.begin(), nome.end()));
    ConfiguracaoBanco c;
    c.Servidor = LerValorIni(arquivo, "Korvin", "Servidor", "localhost");
    c.Caminho = LerValorIni(arquivo, "Korvin", "Caminho", pasta + "KORVIN.FDB");
    const auto barra = c.Servidor.rfind('/');
    if (barra != std::string::npos && barra > 0 && barra + 1 < c.Servidor.size()) {
        c.Porta = c.Servidor.substr(barra + 1);
        c.Servidor.resize(barra);
    }
    return c;
}

std::chrono::seconds LerSegundosEnvioRetido(const std::string& pasta) {
    const std::string texto = LerValorIni(pasta + "korvin.ini", "Korvin", "SegundosEnvioRetido", "");
    long long segundos = 0;
    const auto [fim, erro] = std::from_chars(texto.data(), texto.data() + texto.size(), segundos);
    if (texto.empty() || erro != std::errc() || fim != texto.data() + texto.size() || segundos < 1)
        return kEnvioRetidoPadrao;
    return std::chrono::seconds(segundos);
}

ConfiguracaoBanco LerConfiguracaoBanco() { return LerConfiguracaoBanco(PastaExecutavel()); }

}  // namespace ondaris::db
