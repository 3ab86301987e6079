#include "db/configuracoes_replicacao.h"

#include <algorithm>

#include "db/fb.h"
#include "db/mensagens.h"

namespace ondaris::db {
using protocolo::Quantidade;

const char* const TConfiguracoesReplicacao::kSqlConfiguracoes =
    "SELECT CODIGO\n"
    "     , CODIGOLOJA\n"
    "     , LINKCENTRAL\n"
    "     , NIVELREPLICACAO\n"
    "     , ULTIMORECEBIMENTO\n"
    "FROM RPL_CONFIGURACOES\n"
    "ORDER BY CODIGO";

namespace {
constexpr const char* kColunasConfiguracao[] = {"CODIGO", "CODIGOLOJA", "LINKCENTRAL", "NIVELREPLICACAO",
                                                "ULTIMORECEBIMENTO"};
}

TConfiguracoesReplicacao::TConfiguracoesReplicacao(Conexao& conexao, Transacao& transacao, TCamposCatalogo& catalogo)
    : conexao_(conexao), transacao_(transacao), catalogo_(catalogo),
      leitura_(conexao, transacao, kSqlConfiguracoes, "TBConfiguracoes") {}

// ------------------------------------------------------------ settings row

void TConfiguracoesReplicacao::AbrirConfiguracoes() {
    configuracao_.reset();
    if (!leitura_.Abrir()) throw ErroBanco("RPL_CONFIGURACOES não tem nenhuma linha: faltam as configurações da replicação");
    LinhaConfiguracao l;
    l.Codigo = leitura_.Ler("CODIGO");
    l.CodigoLoja = leitura_.Ler("CODIGOLOJA");
    l.LinkCentral = leitura_.Ler("LINKCENTRAL");
    l.NivelReplicacao = leitura_.Ler("NIVELREPLICACAO");
    l.UltimoRecebimento = leitura_.Ler("ULTIMORECEBIMENTO");
    // Only the first row counts; ending the result set ends the transaction.
    leitura_.Fechar();
    configuracao_ = std::move(l);
}

namespace {
std::optional<std::int64_t> Inteiro(Valor v) {
    std::int64_t x = 0;
    if (!ValorComo(std::move(v), x)) return std::nullopt;
    return x;
}
}  // namespace

std::int32_t TConfiguracoesReplicacao::CodigoLoja() const {
    if (!configuracao_) throw ErroUso("a linha de configurações ainda não foi lida");
    const auto v = Inteiro(configuracao_->CodigoLoja);
    if (!v) throw ErroBanco("RPL_CONFIGURACOES.CODIGOLOJA está NULL ou não é um número inteiro");
    return static_cast<std::int32_t>(*v);
}

std::string TConfiguracoesReplicacao::LinkCentral() const {
    if (!configuracao_) throw ErroUso("a linha de configurações ainda não foi lida");
    if (const auto* s = std::get_if<std::string>(&configuracao_->LinkCentral)) return *s;
    return {};
}

std::int64_t TConfiguracoesReplicacao::UltimoRecebimento() const {
    if (!configuracao_) throw ErroUso("a linha de configurações ainda não foi lida");
    const auto v = Inteiro(configuracao_->UltimoRecebimento);
    return v ? *v : 0;
}

std::string TConfiguracoesReplicacao::SqlGravacaoUltimoRecebimento(Condicoes& condicoes) {
    if (!configuracao_) AbrirConfiguracoes();
    if (!chaveConfiguracoes_) {
        std::vector<std::string> chave;
        for (const auto& c : catalogo_.Campos("RPL_CONFIGURACOES", true)) chave.push_back(c.Campo);
        // A key that the settings query does not select cannot name the row.
        for (const auto& c : chave)
            if (std::find(std::begin(kColunasConfiguracao), std::end(kColunasConfiguracao), c) ==
                std::end(kColunasConfiguracao))
                chave.clear();
        chaveConfiguracoes_ = std::move(chave);
    }
    const Valor* valores[] = {&configuracao_->Codigo, &configuracao_->CodigoLoja, &configuracao_->LinkCentral,
                              &configuracao_->NivelReplicacao, &configuracao_->UltimoRecebimento};
    std::string sql = "UPDATE RPL_CONFIGURACOES SET ULTIMORECEBIMENTO = :NOVOVALOR";
    std::string where;
    for (std::size_t i = 0; i < std::size(kColunasConfiguracao); ++i) {
        const std::string coluna = kColunasConfiguracao[i];
        const bool usar = chaveConfiguracoes_->empty() ||
                          std::find(chaveConfiguracoes_->begin(), chaveConfiguracoes_->end(), coluna) !=
                              chaveConfiguracoes_->end();
        if (!usar) continue;
        where += where.empty() ? " WHERE " : " AND ";
        if (std::holds_alternative<std::monostate>(*valores[i])) {
            // NULL as read may also be the empty text the reading rules
            // turned into NULL.
            where += coluna == "LINKCENTRAL" ? "(LINKCENTRAL IS NULL OR LINKCENTRAL = '')" : coluna + " IS NULL";
        } else {
            where += coluna + " = :ANTIGO_" + coluna;
            condicoes.emplace_back("ANTIGO_" + coluna, valores[i]);
        }
    }
    // RETURNING makes the server refuse, and undo, an update of more than
    // one row; no row at all is caught below.
    return sql + where + " RETURNING ULTIMORECEBIMENTO";
}

void TConfiguracoesReplicacao::ExecutarGravacao(Consulta& gravacao, std::int64_t valor, const Condicoes& condicoes) {
    gravacao.Definir("NOVOVALOR", valor);
    for (const auto& [nome, v] : condicoes) gravacao.Definir(nome, *v);
    try {
        gravacao.Executar();
    } catch (const ErroBanco& e) {
        if (!e.Contem(isc_sing_select_err)) throw;
        throw ErroBanco("gravar ULTIMORECEBIMENTO alteraria mais de uma linha de RPL_CONFIGURACOES; nada "
                        "foi alterado",
                        e.Codigo(), e.SqlState(), e.Codigos());
    }
    if (gravacao.LinhasAfetadas() != 1)
        throw ErroBanco("gravar ULTIMORECEBIMENTO alterou " +
                        Quantidade(gravacao.LinhasAfetadas(), "linha", "linhas") +
                        " de RPL_CONFIGURACOES em vez de uma: a linha de configurações sumiu ou foi alterada");
}

void TConfiguracoesReplicacao::GravarUltimoRecebimento(std::int64_t valor) {
    Condicoes condicoes;
    const std::string sql = SqlGravacaoUltimoRecebimento(condicoes);
    if (!gravacao_ || gravacao_->Sql() != sql)
        gravacao_ = std::make_unique<Consulta>(conexao_, transacao_, sql, "TBConfiguracoes.Post");
    ExecutarGravacao(*gravacao_, valor, condicoes);
    configuracao_->UltimoRecebimento = valor;
}

void TConfiguracoesReplicacao::GravarUltimoRecebimento(std::int64_t valor, TModuloOperacao& modulo) {
    Condicoes condicoes;
    std::string sql = SqlGravacaoUltimoRecebimento(condicoes);
    // Prepared once per block: the text changes only when the row's
    // identifying values do.
    Consulta* gravacao = modulo.Procurar(kNomeGravacaoModulo);
    if (!gravacao) gravacao = &modulo.Criar(kNomeGravacaoModulo, modulo.TransReplicacaoReadWrite, std::move(sql));
    else if (gravacao->Sql() != sql) gravacao->DefinirSql(sql);
    auto& transacao = modulo.TransReplicacaoReadWrite;
    if (!transacao.Ativa()) transacao.Iniciar();
    ExecutarGravacao(*gravacao, valor, condicoes);
}

void TConfiguracoesReplicacao::UltimoRecebimentoConfirmado(std::int64_t valor) {
    if (configuracao_) configuracao_->UltimoRecebimento = valor;
}

}  // namespace ondaris::db
