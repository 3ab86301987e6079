#pragma once
// The self-check of a store's installation (--verificar): each prerequisite
// of replication checked in turn, the way the agent itself meets it, and
// reported as one plain Portuguese line, with what to do after each failure.
//
//   1. "korvin.ini" found beside the program and read, with both keys;
//   2. the database server reachable (a network failure tells it apart
//      from a refused login or a database that cannot be opened);
//   3. the replication account's login on the store database;
//   4. our objects present, of the version this program expects
//      (db::kVersaoObjetosReplicacao), with the account's rights on them;
//   5. the settings row (store code, central server's address);
//   6. the central server reachable and its structure list readable and
//      not empty;
//   7. each table of the structure list: present, its name and its
//      columns' names within the identifier rule (protocolo::IdentificadorValido,
//      upper case as the catalogue keeps unquoted names), every column the
//      list names present here (otherwise nothing of the table could be
//      received), a key the log can carry, its logging trigger as the
//      generator makes it (and no second one), and the grants the trigger
//      and the account need; a warning for a column of this store that the
//      list does not name (its values are sent, other stores do not write
//      them);
//   8. the regional settings in effect (decimal separator, date order): a
//      locale that exists, not the bare C locale.
// Every check that can run is run, so that one report shows every fault
// at once. A check that depends on one that failed (the login on the
// server, the objects on the login, the settings row on the settings table
// and the right to read it, the central server on the settings row's
// address, the tables on the structure list, a table's trigger on its key)
// is not run and says so, naming what it depends on; the failed one says
// what to do. Nothing is changed anywhere: the database work runs as the
// replication account, and whatever it writes to test a right is rolled
// back.
#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "db/conexao.h"
#include "protocolo/regional.h"
#include "sync/requisicao.h"

namespace ondaris::shell {

struct TItemVerificacao {
    bool Ok = false;
    std::string Texto;      // what was checked and what was found
    std::string OQueFazer;  // after a failure or a warning: what to do
    // A warning: nothing fails, but the technician should know (Ok stays
    // true, and the check still passes).
    bool Aviso = false;
    // Not run, because a check it depends on failed: Texto names it and
    // what it depends on (Ok is false; the failure says what to do).
    bool NaoVerificado = false;
};

// The locale the program runs with.
struct TRegionalEmVigor {
    // On Linux as the environment names it (LC_ALL, else LC_NUMERIC and
    // LC_TIME, else LANG; empty: none); on Windows "Windows".
    std::string NomeLocale;
    bool Existe = true;  // the named locale could be loaded
    protocolo::TConfiguracoesRegionais Regional;
    // Of this process (verificacao_posix.cpp, verificacao_win.cpp).
    static TRegionalEmVigor DoAmbiente();
};

struct TOpcoesVerificacao {
    std::string Pasta;  // folder of "korvin.ini" with its separator; empty: the executable's
    std::int32_t TempoLimite = sync::Timeout;  // milliseconds per request to the central server
    // The replication account. Fixed in production; a test may name
    // another so as not to disturb others sharing the server.
    std::string Usuario = db::kUsuarioReplicacao;
    std::string Senha = db::kSenhaReplicacao;
    TRegionalEmVigor Regional;
};

std::vector<TItemVerificacao> Verificar(const TOpcoesVerificacao& opcoes);

// "OK     <texto>", or "FALHA  <texto>" / "AVISO  <texto>" and
// "       O que fazer: <...>", or "--     <texto>" for a check not run,
// then a last line that counts the failures, the warnings and the checks
// not run.
std::string TextoVerificacao(const std::vector<TItemVerificacao>& itens);

// Runs the check, writes its lines, returns 0 when every item passed
// (warnings included), else 1.
int ExecutarVerificacao(const TOpcoesVerificacao& opcoes, std::ostream& saida);

}  // namespace ondaris::shell
