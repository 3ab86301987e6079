#include "db/fb.h"

#include <string>
#include <vector>

#ifdef _WIN32
#include "db/fbclient.h"
#else
#include <ibase.h>
#endif

namespace ondaris::db::fb {

#ifndef _WIN32
namespace {

// On SIGINT or SIGTERM the client library ends every attachment of the
// process at once and takes no new one. The programs stop by themselves on
// those signals, after the step in progress, and free the hold on the store
// database on their way out (db/posse.h), which takes one more attachment:
// so the library is told to leave the stopping to them.
int RecusarParadaPorSinal(const int motivo, const int, void*) { return motivo == fb_shutrsn_signal ? 1 : 0; }

Firebird::IMaster* MestreLinux() {
    Firebird::IMaster* const mestre = Firebird::fb_get_master_interface();
    ISC_STATUS_ARRAY status = {};
    fb_shutdown_callback(status, RecusarParadaPorSinal, fb_shut_confirmation, nullptr);
    return mestre;
}

}  // namespace
#endif

Firebird::IMaster* Mestre() {
#ifdef _WIN32
    // fbclient.dll is loaded by the first call that needs it; a failure
    // throws, and the next call tries again.
    static Firebird::IMaster* const mestre = CarregarMestreFbclient();
#else
    static Firebird::IMaster* const mestre = MestreLinux();
#endif
    return mestre;
}

Firebird::IUtil* Util() { return Mestre()->getUtilInterface(); }

Firebird::IProvider* Provedor() {
    // The dispatcher is reference counted; one reference for the whole run.
    static Firebird::IProvider* const provedor = Mestre()->getDispatcher();
    return provedor;
}

namespace {

bool ConexaoPerdida(std::intptr_t c) {
    switch (c) {
        case isc_network_error:
        case isc_net_read_err:
        case isc_net_write_err:
        case isc_net_connect_err:
        case isc_net_connect_listen_err:
        case isc_lost_db_connection:
        case isc_conn_lost:
        case isc_att_shutdown:
        case isc_shutdown:
        case isc_shutinprog:
            return true;
        default:
            return false;
    }
}

bool Conflito(std::intptr_t c) {
    return c == isc_lock_conflict || c == isc_update_conflict || c == isc_deadlock;
}

}  // namespace

void LancarErro(const Firebird::IStatus* status) {
    const std::intptr_t* v = status->getErrors();
    std::vector<std::intptr_t> codigos;
    for (std::size_t k = 0; v[k] != isc_arg_end;) {
        const auto tipo = v[k];
        if (tipo == isc_arg_gds) codigos.push_back(v[k + 1]);
        k += tipo == isc_arg_cstring ? 3 : 2;
    }
    char texto[2048] = {};
    Util()->formatStatus(texto, sizeof texto - 1, const_cast<Firebird::IStatus*>(status));
#ifdef _WIN32
    const std::string sqlState = SqlStateDoStatus(v);
#else
    char sqlState[6] = {};
    fb_sqlstate(sqlState, v);
#endif
    const std::intptr_t primeiro = codigos.empty() ? 0 : codigos.front();
    std::string mensagem = texto;
    while (!mensagem.empty() && (mensagem.back() == '\n' || mensagem.back() == '\r')) mensagem.pop_back();

    bool perdida = false, conflito = false;
    for (auto c : codigos) {
        perdida = perdida || ConexaoPerdida(c);
        conflito = conflito || Conflito(c);
    }
    if (perdida) throw ErroConexaoPerdida(mensagem, primeiro, sqlState, std::move(codigos));
    for (auto c : codigos)
        if (c == isc_login) throw ErroLoginRecusado(mensagem, primeiro, sqlState, std::move(codigos));
    if (conflito) throw ErroConflitoBloqueio(mensagem, primeiro, sqlState, std::move(codigos));
    throw ErroBanco(mensagem, primeiro, sqlState, std::move(codigos));
}

}  // namespace ondaris::db::fb
