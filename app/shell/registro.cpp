#include "app/shell/registro.h"

#include "protocolo/regional.h"
#include "protocolo/texto.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <system_error>

#include "db/ini.h"

namespace ondaris::shell {

namespace {

enum class TCodificacao { UTF8, UTF16LE, UTF16BE };

struct FecharArquivo {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using TArquivo = std::unique_ptr<std::FILE, FecharArquivo>;

std::string DoisDigitos(int n) {
    return (n < 10 ? "0" : "") + std::to_string(n);
}

// The file by its full name, Unicode included (Windows takes wide names).
std::FILE* AbrirArquivo(const std::filesystem::path& arquivo, const char* modo) {
#ifdef _WIN32
    return _wfopen(arquivo.c_str(), std::wstring(modo, modo + std::strlen(modo)).c_str());
#else
    return std::fopen(arquivo.c_str(), modo);
#endif
}

std::string ErroDoSistema(const std::string& acao, const std::filesystem::path& arquivo, int codigo) {
    return acao + " \"" + arquivo.string() + "\": " + std::strerror(codigo);
}

// What the existing file tells us before appending: its encoding (from a
// byte-order mark) and whether its last line is already ended.
struct TEstadoArquivo {
    TCodificacao Codificacao = TCodificacao::UTF8;
    bool LinhaAberta = false;  // non-empty and not ended by CR or LF
};

TEstadoArquivo Examinar(const std::filesystem::path& arquivo) {
    TEstadoArquivo estado;
    std::error_code ec;
    const bool existe = std::filesystem::exists(arquivo, ec);  // follows a link
    if (ec) {
        throw std::runtime_error(ErroDoSistema("Não foi possível examinar o arquivo de log", arquivo,
                                               ec.value()));
    }
    if (!existe) {
        return estado;
    }
    TArquivo f(AbrirArquivo(arquivo, "rb"));
    if (!f) {
        throw std::runtime_error(
            ErroDoSistema("Não foi possível ler o arquivo de log", arquivo, errno));
    }
    unsigned char inicio[3] = {0, 0, 0};
    const std::size_t lidos = std::fread(inicio, 1, sizeof inicio, f.get());
    if (std::ferror(f.get())) {
        throw std::runtime_error(
            ErroDoSistema("Não foi possível ler o arquivo de log", arquivo, errno ? errno : EIO));
    }
    if (lidos >= 2 && inicio[0] == 0xFF && inicio[1] == 0xFE) {
        estado.Codificacao = TCodificacao::UTF16LE;
    } else if (lidos >= 2 && inicio[0] == 0xFE && inicio[1] == 0xFF) {
        estado.Codificacao = TCodificacao::UTF16BE;
    }
    const bool largo = estado.Codificacao != TCodificacao::UTF8;
    const long unidade = largo ? 2 : 1;
    const std::size_t marca = largo ? 2 : (lidos == 3 && inicio[0] == 0xEF && inicio[1] == 0xBB &&
                                           inicio[2] == 0xBF)
                                              ? 3
                                              : 0;
    if (std::fseek(f.get(), 0, SEEK_END) != 0) {
        throw std::runtime_error(ErroDoSistema("Não foi possível ler o arquivo de log", arquivo, errno));
    }
    const long tamanho = std::ftell(f.get());
    if (tamanho < 0) {
        throw std::runtime_error(ErroDoSistema("Não foi possível ler o arquivo de log", arquivo, errno));
    }
    if (static_cast<std::size_t>(tamanho) <= marca) {
        return estado;  // nothing but the mark: the first entry starts at once
    }
    unsigned char fim[2] = {0, 0};
    if (std::fseek(f.get(), tamanho - unidade, SEEK_SET) != 0 ||
        std::fread(fim, 1, static_cast<std::size_t>(unidade), f.get()) !=
            static_cast<std::size_t>(unidade)) {
        throw std::runtime_error(
            ErroDoSistema("Não foi possível ler o arquivo de log", arquivo, errno ? errno : EIO));
    }
    unsigned ultimo = fim[0];
    if (estado.Codificacao == TCodificacao::UTF16LE) {
        ultimo = fim[0] | (fim[1] << 8);
    } else if (estado.Codificacao == TCodificacao::UTF16BE) {
        ultimo = (fim[0] << 8) | fim[1];
    }
    estado.LinhaAberta = ultimo != '\n' && ultimo != '\r';
    return estado;
}

// UTF-8 to UTF-16 code units in the requested byte order; a malformed byte
// becomes U+FFFD rather than being dropped.
std::string ParaUtf16(const std::string& texto, TCodificacao cod) {
    std::string saida;
    auto unidade = [&](char16_t u) {
        const char alto = static_cast<char>(u >> 8);
        const char baixo = static_cast<char>(u & 0xFF);
        if (cod == TCodificacao::UTF16LE) {
            saida += baixo;
            saida += alto;
        } else {
            saida += alto;
            saida += baixo;
        }
    };
    for (std::size_t i = 0; i < texto.size();) {
        const char32_t cp = protocolo::ProximoCaractereUtf8(texto, i);
        if (cp >= 0x10000) {
            const char32_t v = cp - 0x10000;
            unidade(static_cast<char16_t>(0xD800 + (v >> 10)));
            unidade(static_cast<char16_t>(0xDC00 + (v & 0x3FF)));
        } else {
            unidade(static_cast<char16_t>(cp));
        }
    }
    return saida;
}

}  // namespace

// The user's date and time separators, from the same regional settings as
// every conversion of the engine.
TSeparadores SeparadoresRegionais() {
    const auto regional = protocolo::TConfiguracoesRegionais::DoLocale();
    return TSeparadores{regional.SeparadorData, regional.SeparadorHora};
}

std::string LinhaDeEntrada(const std::tm& m, const TSeparadores& sep, const std::string& msg) {
    return DoisDigitos(m.tm_mday) + sep.Data + DoisDigitos(m.tm_mon + 1) + sep.Data +
           std::to_string(m.tm_year + 1900) + " " + DoisDigitos(m.tm_hour) + sep.Hora +
           DoisDigitos(m.tm_min) + sep.Hora + DoisDigitos(m.tm_sec) + " - " + msg;
}

std::tm HoraLocal() {
    const std::time_t agora = std::time(nullptr);
    std::tm local{};
    localtime_r(&agora, &local);
    return local;
}

std::filesystem::path PastaExecutavel() {
    std::string pasta;
    try {
        pasta = db::PastaExecutavel();
    } catch (const std::exception&) {
        return std::filesystem::current_path();
    }
    // UTF-8 text with its final separator: the folder is its parent path.
    return std::filesystem::path(std::u8string(pasta.begin(), pasta.end())).parent_path();
}

TRegistro::TRegistro(std::filesystem::path pasta, TRelogio relogio, TSeparadores separadores,
                     std::ostream* reserva)
    : Arquivo_(std::move(pasta) / "Ondaris.log"),
      Relogio_(relogio ? std::move(relogio) : TRelogio(&HoraLocal)),
      Separadores_(std::move(separadores)),
      Reserva_(reserva ? reserva : &std::cerr),
      Anterior_(db::DefinirDestinoDiagnostico([this](const std::string& texto) { DoSaveLog(texto); })) {}

TRegistro::~TRegistro() { db::DefinirDestinoDiagnostico(std::move(Anterior_)); }

void TRegistro::DoSaveLog(const std::string& Mensagem) noexcept {
    static const std::string vazia = TextoMensagemVazia;
    const std::string& Msg = Mensagem.empty() ? vazia : Mensagem;
    try {
        Gravar(Msg);
    } catch (const std::exception& e) {
        try {
            *Reserva_ << LinhaDeEntrada(Relogio_(), Separadores_, Msg) << '\n'
                      << LinhaDeEntrada(Relogio_(), Separadores_, e.what()) << std::endl;
        } catch (const std::exception&) {
            // The standard error stream itself failed: nowhere is left to tell.
        }
    }
}

void TRegistro::Gravar(const std::string& Msg) {
    std::string texto;
    TEstadoArquivo estado;
    try {
        estado = Examinar(Arquivo_);
        if (estado.LinhaAberta) {
            texto += "\r\n";
        }
        texto += "\r\n" + LinhaDeEntrada(Relogio_(), Separadores_, Msg) + "\r\n";
    } catch (const std::exception& e) {
        // Record why the file could not be read, then the entry itself: its
        // earlier content stays where it is.
        texto = LinhaDeEntrada(Relogio_(), Separadores_, e.what()) + "\r\n" + "\r\n" +
                LinhaDeEntrada(Relogio_(), Separadores_, Msg) + "\r\n";
    }
    if (estado.Codificacao != TCodificacao::UTF8) {
        texto = ParaUtf16(texto, estado.Codificacao);
    }

    TArquivo f(AbrirArquivo(Arquivo_, "ab"));
    if (!f) {
        throw std::runtime_error(ErroDoSistema("Não foi possível gravar o arquivo de log", Arquivo_, errno));
    }
    if (std::fwrite(texto.data(), 1, texto.size(), f.get()) != texto.size() ||
        std::fflush(f.get()) != 0) {
        throw std::runtime_error(
            ErroDoSistema("Não foi possível gravar o arquivo de log", Arquivo_, errno ? errno : EIO));
    }
    if (std::fclose(f.release()) != 0) {
        throw std::runtime_error(ErroDoSistema("Não foi possível gravar o arquivo de log", Arquivo_, errno));
    }
}

}  // namespace ondaris::shell
