#pragma once
// The settings row of RPL_CONFIGURACOES the agent works by (the first by
// CODIGO): the store's code, the central server's link, and the position
// received, with its write-back.
//
// It reads and writes on the global connection, in its transaction, which
// commits a write-back as soon as no result set of it is being read; the
// write-back inside a received block runs in that block's transaction
// instead and is committed by the block.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "db/catalogo.h"
#include "db/conexao.h"
#include "db/consulta.h"
#include "db/modulo_operacao.h"

namespace ondaris::db {

class TConfiguracoesReplicacao {
public:
    static const char* const kSqlConfiguracoes;

    // `catalogo` names the row's key for the write-back; all three outlive it.
    TConfiguracoesReplicacao(Conexao& conexao, Transacao& transacao, TCamposCatalogo& catalogo);

    // Re-runs the settings query and keeps its first row. Throws ErroBanco
    // when the table has no row.
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
    // caller tells the row with UltimoRecebimentoConfirmado.
    void GravarUltimoRecebimento(std::int64_t valor, TModuloOperacao& modulo);
    void UltimoRecebimentoConfirmado(std::int64_t valor);

private:
    using Condicoes = std::vector<std::pair<std::string, const Valor*>>;
    static constexpr const char* kNomeGravacaoModulo = "TBConfiguracoesPost";
    std::string SqlGravacaoUltimoRecebimento(Condicoes& condicoes);
    static void ExecutarGravacao(Consulta& gravacao, std::int64_t valor, const Condicoes& condicoes);

    struct LinhaConfiguracao {
        Valor Codigo, CodigoLoja, LinkCentral, NivelReplicacao, UltimoRecebimento;
    };
    Conexao& conexao_;
    Transacao& transacao_;
    TCamposCatalogo& catalogo_;
    Consulta leitura_;
    std::optional<LinhaConfiguracao> configuracao_;
    std::optional<std::vector<std::string>> chaveConfiguracoes_;
    std::unique_ptr<Consulta> gravacao_;  // the write-back of ULTIMORECEBIMENTO
};

}  // namespace ondaris::db
