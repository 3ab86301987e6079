#pragma once
// The replication account on the database server: the administrator's
// logins the agent knows, the one loop that tries logins in turn, and the
// creation of the account through the services interface.
//
// Not an error: a login the server refuses while another one is left to
// try. Everything else reaches the caller as the server said it.
#include <string>
#include <vector>

#include "db/conexao.h"
#include "db/erros.h"

namespace ondaris::db {

struct TLogin {
    std::string Usuario;
    std::string Senha;
};

inline constexpr const char* kAdministrador = "SYSDBA";
inline constexpr const char* kSenhasAdministrador[2] = {kSenhaReplicacao, "fowlbinch"};

// SYSDBA with each password the agent knows, in the order they are tried.
std::vector<TLogin> LoginsAdministradorConhecidos();

// Opens `conexao` with each login in turn, written into its parameters,
// until the server takes one; the parameters keep the login that entered.
// A refused login (ErroLoginRecusado) passes to the next one; the last
// refusal, or any other failure at once, reaches the caller as it came,
// with the connection closed. `logins` must not be empty.
void AbrirComLogins(Conexao& conexao, const std::vector<TLogin>& logins);

// The replication account could not be created: no known administrator
// login was taken, or the server refused the creation. The text is the
// cause's.
class ErroProvisionamento : public ErroBanco {
public:
    using ErroBanco::ErroBanco;
};

// Creates the account `conta` on the server of `banco` (its server and
// port; its login is not used), logging in as the administrator with
// `administradores` in turn on an attachment of its own. Throws
// ErroProvisionamento, with the codes of its cause.
void ProvisionarConta(const ParametrosConexao& banco, const TLogin& conta,
                      const std::vector<TLogin>& administradores = LoginsAdministradorConhecidos());

}  // namespace ondaris::db
