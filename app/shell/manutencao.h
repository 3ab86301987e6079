#pragma once
// The technician's commands that change a store database: installing and
// removing the logging triggers of the store's own tables, deleting log
// rows the central server already holds, turning a copy of a store's
// database into a new store, and logging a table's existing rows once. Each writes plain Portuguese lines
// to its output, failures to its error stream, and returns the exit status:
// 0 only when everything asked for was done.
//
// They read "korvin.ini" as the agent does and log in as the database's
// administrator (creating triggers and granting rights needs it; the
// replication account may not delete log rows): ISC_USER and ISC_PASSWORD
// of the environment, the names the Firebird tools use, or, without them,
// SYSDBA with each of the administrator passwords the agent knows. Only
// printing the triggers for review reads the catalogue as the replication
// account, with no administrator password.
//
// Nothing here runs by itself: the agent never calls these.
#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/shell/servico.h"
#include "db/conexao.h"
#include "db/conta.h"
#include "sync/servidor.h"

namespace ondaris::shell {

using TLogin = db::TLogin;

struct TAmbienteManutencao {
    std::string Pasta;                      // folder of "korvin.ini" with its separator; empty: the executable's
    std::optional<TLogin> Administrador;    // empty: SYSDBA with the agent's known passwords
    sync::TContextoServidor Contexto;       // time limit and regional settings of requests
    std::ostream& Saida;
    std::ostream& Erros;
};

// ISC_USER and ISC_PASSWORD of the environment, when both are set.
std::optional<TLogin> AdministradorDoAmbiente();

// Opens a connection to the store database of "korvin.ini" in `pasta` as
// the administrator (see above). Throws db::ErroBanco naming the database
// and, for a refused login, how to give the right one.
void AbrirComoAdministrador(db::Conexao& conexao, const std::optional<TLogin>& administrador);

// --instalar-gatilhos: the logging trigger and the grants of each named
// table (names in upper case) or, with none, of every table that has a
// primary key. A named table that cannot be logged is refused with its
// reason and then nothing is installed; without names, tables that cannot
// be logged are listed with their reasons and the others installed. With
// `somenteImprimir` the SQL is written to the output and nothing changes.
// Refused as a whole when the database lacks our objects of the version
// this program expects.
int InstalarGatilhos(TAmbienteManutencao& ambiente, const std::vector<std::string>& tabelas, bool somenteImprimir);

// --remover-gatilhos: drops the logging trigger and revokes the
// replication account's rights on each named table or, with none, on every
// table that has a logging trigger.
int RemoverGatilhos(TAmbienteManutencao& ambiente, const std::vector<std::string>& tabelas);

// --limpar-log: asks the central server how far it holds this store's log
// (the send-position request) and deletes the log rows at or below that
// position that are older than `dias` days, in batches of
// db::kLinhasPorLote rows, each its own short transaction. Nothing is
// deleted when the server cannot be asked or refuses.
int LimparLog(TAmbienteManutencao& ambiente, int dias);

// --nova-loja: turns the restored copy of a store's database that
// "korvin.ini" names into the store `codigo` (db::TornarNovaLoja), after
// asking the central server with the agent's own requests whether a store
// of that code has sent anything (refused then) and up to which position
// it holds commands for it (only shown; when it cannot be asked, said so).
// The copy keeps its own received position. Refused, changing nothing,
// for the copy's own code, a code in use or a server that cannot be asked.
int NovaLoja(TAmbienteManutencao& ambiente, std::int32_t codigo);

// --envio-inicial: says how many rows of each named table would be logged
// and what that does to the other stores; with `confirmar` logs them
// (db::RegistrarEnvioInicial) and reports the counts. A named table that
// is refused (db::MotivoRecusaEnvioInicial) stops the whole run before
// anything is logged.
int EnvioInicial(TAmbienteManutencao& ambiente, const std::vector<std::string>& tabelas, bool confirmar);

// --por-de-lado-recebido: sets aside the received command `ordem` that this
// store cannot apply. As a cycle does, it downloads the structure list,
// asks how far the server holds this store's log and receives the next
// block (the receive code itself, as the replication account): `ordem`
// must be among its commands (else nothing runs), the commands before it
// are applied as ever, and it is tried alone; only when it fails is it
// recorded in RPL_POSTOS_DE_LADO with the failure, in the transaction that
// moves the received position past it. The rest comes with the next cycle.
int PorDeLadoRecebido(TAmbienteManutencao& ambiente, std::int64_t ordem);

// --por-de-lado-envio: sets aside the row `ordem` of this store's log whose
// table cannot be prepared for sending (the send code tries it): moves the
// row into RPL_POSTOS_DE_LADO and out of the log in one transaction. A row
// that can be sent is refused.
int PorDeLadoEnvio(TAmbienteManutencao& ambiente, std::int64_t ordem);

// Runs the command of `opcoes` (--verificar, --instalar-gatilhos,
// --remover-gatilhos, --limpar-log, --nova-loja, --envio-inicial) with
// "korvin.ini" beside the executable,
// the environment's administrator login and regional settings, and the
// process's standard output and error; returns its exit status.
int ExecutarComandoInstalacao(const TOpcoesServico& opcoes);

}  // namespace ondaris::shell
