#pragma once
// The agent's log, "Ondaris.log" in the executable's folder: one entry per
// failure that no one else caught, as an empty line followed by
// "DD/MM/YYYY HH:mm:ss - message", every line ended by CR LF. The "/" and ":"
// are the user's date and time separators. Free of Qt: the headless program
// uses it too.
//
// Entries are appended; what the file already holds is never rewritten, so
// a failure half-way through a write cannot lose earlier entries. A file that
// begins with a byte-order mark keeps it, and entries go into it in the
// encoding the mark names (UTF-8, UTF-16 LE or BE); otherwise they are UTF-8.
//
// An entry never goes without a message: an empty one is written as
// TextoMensagemVazia, so that the entry still says something failed.
//
// Not an error: a missing file (created by the first entry). A file that
// cannot be read gets an entry for that failure and then the entry asked for,
// after its untouched content. A file that cannot be written at all: the
// entry goes to the fallback stream (standard error) and nothing is thrown,
// since the caller is the last-resort exception handler.
#include <ctime>
#include <filesystem>
#include <functional>
#include <iosfwd>
#include <string>

#include "db/diagnostico.h"

namespace ondaris::shell {

// What an entry says when the failure came without a message.
inline constexpr const char* TextoMensagemVazia = "Falha sem mensagem: a causa não foi informada";

// The user's date and time separators as the locale's formats show them.
struct TSeparadores {
    std::string Data = "/";
    std::string Hora = ":";
};

// The separators of the user's regional settings, as the engine reads them
// (protocolo::TConfiguracoesRegionais::DoLocale).
TSeparadores SeparadoresRegionais();

// "DD/MM/YYYY HH:mm:ss - msg" with the given separators.
std::string LinhaDeEntrada(const std::tm& momento, const TSeparadores& sep, const std::string& msg);

class TRegistro {
public:
    using TRelogio = std::function<std::tm()>;

    // `pasta` is the folder that holds the log. `relogio` gives the local
    // time of each entry (default: the system clock); `separadores` default
    // to the locale's; `reserva` receives entries that could not be written.
    // While it lives, the database layer's diagnostics (a failure in a
    // destructor, db/diagnostico.h) are entries of this log too; destroying
    // it puts back the destination that was set before.
    explicit TRegistro(std::filesystem::path pasta, TRelogio relogio = {},
                       TSeparadores separadores = SeparadoresRegionais(),
                       std::ostream* reserva = nullptr);
    ~TRegistro();
    TRegistro(const TRegistro&) = delete;
    TRegistro& operator=(const TRegistro&) = delete;

    const std::filesystem::path& Arquivo() const { return Arquivo_; }

    // Appends one entry for `Msg` (TextoMensagemVazia when it is empty).
    // Never throws.
    void DoSaveLog(const std::string& Msg) noexcept;

private:
    void Gravar(const std::string& Msg);

    std::filesystem::path Arquivo_;
    TRelogio Relogio_;
    TSeparadores Separadores_;
    std::ostream* Reserva_;
    db::TDestinoDiagnostico Anterior_;
};

// Local time now.
std::tm HoraLocal();
// Folder of the running executable.
std::filesystem::path PastaExecutavel();

}  // namespace ondaris::shell
