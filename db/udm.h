#pragma once
// TDM, the global data module: the global connection ConexaoGlobal with its
// transaction TRPrincipal, the fixed statements on it, and the in-memory
// structure list TBEstrutura. One instance lives for the whole run.
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
// module is still being read.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "db/conexao.h"
#include "db/consulta.h"
#include "db/datahora.h"
#include "db/estrutura.h"
#include "db/modulo_operacao.h"

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

// The open store transaction whose reservation sets the block limit (see
// sql/replicacao.sql): who made it, as the server knew it then.
struct TRetentorEnvio {
    std::int64_t Transacao = 0;
    std::optional<std::int64_t> Conexao;  // the attachment (CURRENT_CONNECTION)
    std::string Usuario;
    std::string Endereco;  // client address
    std::string Programa;  // client program
    std::optional<DataHora> Momento;  // when it reserved, server time
};

// What PROC_RETORNA_INDICE answers for the next block.
struct TIndicesEnvio {
    std::int64_t OrdemInicial = 0;
    std::int64_t OrdemFinal = 0;
    std::int64_t UltimaOrdem = 0;  // the highest committed position
    // The highest position no open transaction may still fill; absent when
    // the database's procedure does not say (objects of an older script).
    std::optional<std::int64_t> Limite;
    std::optional<TRetentorEnvio> Retentor;
    // The database server's time when it answered (CURRENT_TIMESTAMP of the
    // same statement): the clock the holder's Momento was read from.
    std::optional<DataHora> MomentoServidor;
    // Committed changes wait behind a store transaction that is still open.
    bool Retido() const { return Limite && *Limite < UltimaOrdem && Retentor; }
};

// One column of a table as the catalogue query gives it.
struct TCampoCatalogo {
    std::string Campo;
    bool Chave = false;  // part of the primary key
    // The column's type as the catalogue keeps it (RDB$FIELDS): what the
    // select of a block needs to bring short blobs inline and to keep its
    // row within the message limit. Zero where the catalogue has NULL.
    int Tipo = 0;                 // RDB$FIELD_TYPE: 261 a blob
    int SubTipo = 0;              // for a blob, 1 text
    int ConjuntoCaracteres = 0;   // of a text or a text blob
    int Tamanho = 0;              // bytes of a row's value (RDB$FIELD_LENGTH; a blob's id 8)
    bool operator==(const TCampoCatalogo&) const = default;
};

class TDM {
public:
    static constexpr const char* kAdministrador = "SYSDBA";
    static constexpr const char* kSenhasAdministrador[2] = {kSenhaReplicacao, "fowlbinch"};
    static constexpr std::int32_t kQuantidadeComandos = 1000;

    static const char* const kSqlConfiguracoes;
    static const char* const kSqlUltimoMovimentoLoja;
    static const char* const kSqlRetornaIndices;
    static const char* const kSqlLogReplicacao;
    // The catalogue query of a table's columns: with the key-only line, and
    // the same without it.
    static const char* const kSqlCamposChave;
    static const char* const kSqlCamposTabela;

    explicit TDM(OpcoesTDM opcoes = {});
    TDM(const TDM&) = delete;
    TDM& operator=(const TDM&) = delete;

    void DataModuleCreate() { ConfigurarBancodeDados(); }
    // Reads "korvin.ini" into the global connection's parameters, with the
    // replication account, and opens it (Conectar). Always false; the
    // result means nothing.
    bool ConfigurarBancodeDados();
    // Opens the global connection unless it is open: as the replication
    // account; when the server refuses that login (ErroLoginRecusado), the
    // account is provisioned and the connection opened again as the
    // replication account. Every other failure propagates as it came, and
    // so does the second opening's (with the provisioning's failure in its
    // text when that failed too).
    void Conectar();
    // Creates the replication account through the services interface,
    // logging in as the administrator with each of its two known passwords
    // in turn, on an attachment of its own: the global connection is left
    // closed, with the replication account's credentials. True when the
    // account was created. Failures become the false result; the last one's
    // text is kept in UltimoErroProvisionamento().
    bool AdicionaUsuarioFirebird();
    const std::string& UltimoErroProvisionamento() const { return ultimoErroProvisionamento_; }

    // ---- the settings row (first row by CODIGO)
    // Re-runs TBConfiguracoes and keeps its first row. Throws ErroBanco when
    // the table has no row.
    void AbrirConfiguracoes();
    bool ConfiguracoesAbertas() const { return configuracao_.has_value(); }
    std::int32_t CodigoLoja() const;
    std::string LinkCentral() const;  // NULL reads as empty text
    std::int64_t UltimoRecebimento() const;
    // Writes ULTIMORECEBIMENTO of the settings row (reading it first when
    // not read yet), identified by the table's primary key or, without one,
    // by the values its five columns held when read. Exactly one row must
    // change: otherwise ErroBanco, and nothing is changed. Committed at once
    // on the global connection.
    void GravarUltimoRecebimento(std::int64_t valor);
    // The same write inside the block's TransReplicacaoReadWrite (started
    // when not active), left uncommitted: the caller commits it together
    // with the commands it stands for, so that a crash at any instant leaves
    // the applied data and the position in agreement. After that commit the
    // caller tells the module with UltimoRecebimentoConfirmado.
    void GravarUltimoRecebimento(std::int64_t valor, TModuloOperacao& modulo);
    void UltimoRecebimentoConfirmado(std::int64_t valor);

    // ---- the other fixed statements
    // MAX(ORDEM) of the log, 0 when it is empty.
    std::int64_t UltimoMovimentoLoja();
    // Bounds of the next block to send after `ordem` (inclusive both), and
    // what holds it back.
    TIndicesEnvio RetornaIndices(std::int64_t ordem, std::int32_t quantidade = kQuantidadeComandos);
    // The catalogue query for a table (its name as the catalogue stores
    // it), run in TBCamposTabela: every non-computed column, or only the
    // primary-key ones, in column order.
    std::vector<TCampoCatalogo> CamposTabela(const std::string& tabela, bool somenteChave);

    // The global connection: the shell logs in and reads the catalogue on
    // it, the engine's statements run on it.
    Conexao& ConexaoGlobal() { return conexaoGlobal_; }
    // The transaction every statement of the module runs in.
    Transacao& TRPrincipal() { return TRPrincipal_; }
    // The replicated tables and columns, as the last structure download left them.
    TEstrutura& TBEstrutura() { return TBEstrutura_; }
    const TEstrutura& TBEstrutura() const { return TBEstrutura_; }

private:
    OpcoesTDM Opcoes_;
    Conexao conexaoGlobal_;
    Transacao TRPrincipal_;
    Consulta TBUltimoMovimentoLoja_;
    Consulta TBRetornaIndices_;
    Consulta TBConfiguracoes_;
    Consulta TBCamposTabela_;
    Consulta TBCamposChave_;
    TEstrutura TBEstrutura_;
    static constexpr const char* kNomeGravacaoModulo = "TBConfiguracoesPost";
    std::string SqlGravacaoUltimoRecebimento(std::vector<std::pair<std::string, const Valor*>>& condicoes);
    static void ExecutarGravacao(Consulta& gravacao, std::int64_t valor,
                                 const std::vector<std::pair<std::string, const Valor*>>& condicoes);
    std::string Pasta() const;
    void CriarUsuarioNoServidor(const ParametrosConexao& administrador);

    struct LinhaConfiguracao {
        Valor Codigo, CodigoLoja, LinkCentral, NivelReplicacao, UltimoRecebimento;
    };
    std::optional<LinhaConfiguracao> configuracao_;
    std::optional<std::vector<std::string>> chaveConfiguracoes_;
    std::unique_ptr<Consulta> gravacao_;  // the write-back of ULTIMORECEBIMENTO
    std::string ultimoErroProvisionamento_;
};

}  // namespace ondaris::db
