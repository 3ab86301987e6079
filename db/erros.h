#pragma once
// Exceptions of the database layer, typed by what the caller can do about
// them rather than by where they came from:
//   ErroConexaoPerdida  - the attachment to the server is gone (or could not be
//                         made); reconnecting later may help.
//   ErroConflitoBloqueio - another transaction holds a row we want to change;
//                         retrying after that transaction ends may help.
//   ErroLoginRecusado   - the server refused the user name or password; only
//                         another account, or creating this one, helps.
//   ErroBanco           - any other refusal of the server (syntax, constraint,
//                         rights, missing object). The three above derive from
//                         it, so one catch of ErroBanco sees every server failure.
//   ErroUso             - the program used the layer wrongly (unknown parameter,
//                         type mismatch, statement not prepared): a bug.
//   ErroBibliotecaCliente - the Firebird client library could not be loaded
//                         (Windows, db/fbclient.h): nothing reaches any
//                         database until it is installed.
// A server that cannot be reached is ErroConexaoPerdida, never
// ErroLoginRecusado: only the server's own refusal (ISC code isc_login) says
// that an account is missing or its password wrong.
// Every server error keeps its ISC error code, its SQLSTATE and the server's
// formatted text; callers decide by type, never by matching the text.
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace ondaris::db {

// Prefix of the failure texts of the operations that name themselves
// (PrepararDataset here; ObterEstruturaBanco and ReceberDados in the engine).
inline constexpr std::string_view MensagemErro = "Falha ao executar a rotina %s: ";
// MensagemErro with the routine's name in place of %s.
inline std::string FormatarMensagemErro(std::string_view rotina) {
    const std::size_t marca = MensagemErro.find("%s");
    std::string texto(MensagemErro.substr(0, marca));
    texto.append(rotina).append(MensagemErro.substr(marca + 2));
    return texto;
}

class ErroBanco : public std::runtime_error {
public:
    ErroBanco(const std::string& mensagem, std::intptr_t codigo = 0, std::string sqlState = {},
              std::vector<std::intptr_t> codigos = {})
        : std::runtime_error(mensagem), codigo_(codigo), sqlState_(std::move(sqlState)),
          codigos_(std::move(codigos)) {}

    // First ISC error code of the status vector (0 when the error is ours).
    std::intptr_t Codigo() const noexcept { return codigo_; }
    // Five-character SQLSTATE, empty when the server gave none.
    const std::string& SqlState() const noexcept { return sqlState_; }
    // Every ISC error code of the status vector, in order.
    const std::vector<std::intptr_t>& Codigos() const noexcept { return codigos_; }
    bool Contem(std::intptr_t codigo) const noexcept {
        for (auto c : codigos_)
            if (c == codigo) return true;
        return false;
    }

private:
    std::intptr_t codigo_;
    std::string sqlState_;
    std::vector<std::intptr_t> codigos_;
};

class ErroConexaoPerdida : public ErroBanco {
public:
    using ErroBanco::ErroBanco;
};

class ErroConflitoBloqueio : public ErroBanco {
public:
    using ErroBanco::ErroBanco;
};

class ErroLoginRecusado : public ErroBanco {
public:
    using ErroBanco::ErroBanco;
};

class ErroUso : public std::logic_error {
public:
    using std::logic_error::logic_error;
};

class ErroBibliotecaCliente : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// What a caller can do about a routine's failure, read from its cause's
// type when the failure was raised.
enum class TCausaRotina {
    ConexaoPerdida,    // the attachment is gone: reconnecting later may help
    ConflitoBloqueio,  // another transaction holds a row: a later try may pass
    Banco,             // any other refusal of the database server (Codigo says which)
    Outra,             // anything else: the central server, its answer, the program
};

// The failure of a routine that names itself (PrepararDataset,
// ObterEstruturaBanco, ReceberDados): its text is MensagemErro with the
// routine's name followed by `detalhe` (where the routine was, then the
// cause's own text); that is the whole text the log and the panel show.
// Callers decide by Causa(), never by the text.
class ErroRotina : public std::runtime_error {
public:
    ErroRotina(std::string_view rotina, std::string detalhe, TCausaRotina causa, std::intptr_t codigo = 0)
        : std::runtime_error(FormatarMensagemErro(rotina) + detalhe),
          rotina_(rotina),
          detalhe_(std::move(detalhe)),
          causa_(causa),
          codigo_(codigo) {}
    const std::string& Rotina() const noexcept { return rotina_; }
    // The text after the routine's prefix.
    const std::string& Detalhe() const noexcept { return detalhe_; }
    TCausaRotina Causa() const noexcept { return causa_; }
    // The database server's ISC error code when the cause was its refusal; 0 otherwise.
    std::intptr_t Codigo() const noexcept { return codigo_; }
    // A later try may pass: the connection was lost or a row was locked.
    bool Passageira() const noexcept {
        return causa_ == TCausaRotina::ConexaoPerdida || causa_ == TCausaRotina::ConflitoBloqueio;
    }

private:
    std::string rotina_;
    std::string detalhe_;
    TCausaRotina causa_;
    std::intptr_t codigo_;
};

// Raises the exception being handled as a failure of `rotina`, after
// `contexto`. A failure that already names its routine goes on as it is,
// only `acrescimo` added at its end: one text never carries two prefixes,
// and it names the routine where the failure happened. Call it only inside
// a catch block.
[[noreturn]] void FalhaDaRotina(std::string_view rotina, const std::string& contexto = {},
                                const std::string& acrescimo = {});

}  // namespace ondaris::db
