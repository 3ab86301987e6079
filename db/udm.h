#pragma once
// TDM, the global data module: the global connection Connquelbor with its
// transaction TRPrincipal, the fixed statements on it, and the in-memory
// structure list TBEstrutura. One instance lives for the whole run.
//
// Constructing a TDM connects nothing; DataModuleCreate() (that is,
// ConfigurarBancodeDados) reads "korvin.ini", opens the connection as the
// replication account and, when that fails, provisions the account through
// the administrator login and opens again; an error of that second opening
// reaches the caller, and the module stays usable (the connection then
// opens on demand with its parameters as they stand).
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

// One column of a table as the catalogue query gives it.
struct TCampoCatalogo {
    std::string Campo;
    bool Chave = false;  // part of the primary key
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
    // Configures and opens the global connection (see above). Always false;
    // the result means nothing.
    bool ConfigurarBancodeDados();
    // Creates the replication account through the services interface,
    // logging in as the administrator with each of its two known passwords
    // in turn. True when the account was created. The connection keeps the
    // administrator's credentials afterwards and is open when a login
    // succeeded. Failures become the false result; the last one's text is
    // kept in UltimoErroProvisionamento().
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
    // Bounds of the next block to send after `ordem` (inclusive both).
    std::pair<std::int64_t, std::int64_t> RetornaIndices(std::int64_t ordem,
                                                         std::int32_t quantidade = kQuantidadeComandos);
    // The catalogue query for a table (its name as the catalogue stores
    // it), run in TBCamposTabela: every non-computed column, or only the
    // primary-key ones, in column order.
    std::vector<TCampoCatalogo> CamposTabela(const std::string& tabela, bool somenteChave);

    OpcoesTDM Opcoes;
    Conexao Connquelbor;
    Transacao TRPrincipal;
    Consulta TBLogReplicacao;
    Consulta TBUltimoMovimentoLoja;
    Consulta TBRetornaIndices;
    Consulta TBConfiguracoes;
    Consulta TBCamposTabela;
    Consulta TBCamposChave;
    TEstrutura TBEstrutura;

private:
    static constexpr const char* kNomeGravacaoModulo = "TBConfiguracoesPost";
    std::string SqlGravacaoUltimoRecebimento(std::vector<std::pair<std::string, const Valor*>>& condicoes);
    static void ExecutarGravacao(Consulta& gravacao, std::int64_t valor,
                                 const std::vector<std::pair<std::string, const Valor*>>& condicoes);
    std::string Pasta() const;
    void CriarUsuarioNoServidor(const std::string& senhaAdministrador);

    struct LinhaConfiguracao {
        Valor Codigo, CodigoLoja, LinkCentral, NivelReplicacao, UltimoRecebimento;
    };
    std::optional<LinhaConfiguracao> configuracao_;
    std::optional<std::vector<std::string>> chaveConfiguracoes_;
    std::unique_ptr<Consulta> gravacao_;  // the write-back of ULTIMORECEBIMENTO
    std::string ultimoErroProvisionamento_;
};

}  // namespace ondaris::db
