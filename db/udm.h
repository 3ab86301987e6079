#pragma once
// TDM, the global data module: the global connection ConexaoGlobal with its
// transaction TRPrincipal, and what works on them, each in its own unit:
// the settings row (db/configuracoes_replicacao.h), the change log as
// sending reads it (db/log_replicacao.h), the catalogue query
// (db/catalogo.h); the replication account is made through db/conta.h. It
// also keeps the in-memory structure list TBEstrutura. One instance lives
// for the whole run.
//
// Constructing a TDM connects nothing; DataModuleCreate() (that is,
// ConfigurarBancodeDados) reads "korvin.ini" and opens the connection as the
// replication account (Conectar). Only when the server refuses that login
// is the account provisioned, through the administrator login, and the
// connection opened again, as the replication account: the global
// connection never works as the administrator. A server that cannot be
// reached, a wrong path, any other failure just reaches the caller; the
// module stays usable, the connection opens on demand with the replication
// account, and Conectar() at a later cycle recovers by itself. The cycle's
// operations close it at the end of every run (sync/operacoes.h), so that
// it is open only while a run needs it.
//
// Every statement of the module runs in TRPrincipal, which starts by itself
// and commits as soon as none of its statements is active, so a write-back
// of ULTIMORECEBIMENTO is committed at once unless a result set of the
// module is still being read; what is still pending then is committed when
// the module goes.
#include <cstdint>
#include <string>

#include "db/catalogo.h"
#include "db/conexao.h"
#include "db/configuracoes_replicacao.h"
#include "db/conta.h"
#include "db/estrutura.h"
#include "db/log_replicacao.h"

namespace ondaris::db {

struct OpcoesTDM {
    // Folder holding "korvin.ini" (with its final separator); empty: the
    // executable's folder.
    std::string Pasta;
    // The replication account. Fixed in production; a test may use another
    // account so as not to disturb others sharing the server.
    std::string Usuario = kUsuarioReplicacao;
    std::string Senha = kSenhaReplicacao;
};

class TDM {
public:

    explicit TDM(OpcoesTDM opcoes = {});
    ~TDM();
    TDM(const TDM&) = delete;
    TDM& operator=(const TDM&) = delete;

    void DataModuleCreate() { ConfigurarBancodeDados(); }
    // Reads "korvin.ini" into the global connection's parameters, with the
    // replication account, and opens it (Conectar). Failures propagate as
    // Conectar raises them.
    void ConfigurarBancodeDados();
    // Opens the global connection unless it is open: as the replication
    // account; when the server refuses that login (ErroLoginRecusado), the
    // account is provisioned and the connection opened again as the
    // replication account. Every other failure propagates as it came, and
    // so does the second opening's (with the provisioning's failure in its
    // text when that failed too).
    void Conectar();
    // Creates the replication account (ProvisionarConta, db/conta.h) on the
    // global connection's server; the global connection is left closed,
    // with the replication account's credentials. Throws
    // ErroProvisionamento.
    void ProvisionarContaReplicacao();

    // The global connection: the shell logs in and reads the catalogue on
    // it, the engine's statements run on it.
    Conexao& ConexaoGlobal() { return conexaoGlobal_; }
    // The transaction every statement of the module runs in.
    Transacao& TRPrincipal() { return TRPrincipal_; }
    TConfiguracoesReplicacao& Configuracoes() { return configuracoes_; }
    TLogReplicacao& LogReplicacao() { return log_; }
    TCamposCatalogo& Catalogo() { return catalogo_; }
    // The replicated tables and columns, as the last structure download left them.
    TEstrutura& TBEstrutura() { return TBEstrutura_; }
    const TEstrutura& TBEstrutura() const { return TBEstrutura_; }

private:
    std::string Pasta() const;

    OpcoesTDM Opcoes_;
    Conexao conexaoGlobal_;
    Transacao TRPrincipal_;
    TCamposCatalogo catalogo_;
    TConfiguracoesReplicacao configuracoes_;
    TLogReplicacao log_;
    TEstrutura TBEstrutura_;
};

}  // namespace ondaris::db
