#include "db/udm.h"

#include <algorithm>
#include <cstring>

#include "db/fb.h"
#include "db/ini.h"
#include "db/mensagens.h"
#include "db/texto.h"

namespace ondaris::db {

const char* const TDM::kSqlConfiguracoes =
    "SELECT CODIGO\n"
    "     , CODIGOLOJA\n"
    "     , LINKCENTRAL\n"
    "     , NIVELREPLICACAO\n"
    "     , ULTIMORECEBIMENTO\n"
    "FROM RPL_CONFIGURACOES\n"
    "ORDER BY CODIGO";

const char* const TDM::kSqlUltimoMovimentoLoja =
    "SELECT COALESCE(MAX(ORDEM), 0) AS ULTIMAORDEM\n"
    "FROM LOG_REPLICACAO";

// The server's time comes with the answer, read by the same statement: how
// long a reservation has held sending is measured on the clock that dated
// it, never against this machine's.
const char* const TDM::kSqlRetornaIndices =
    "SELECT P.*, CAST(CURRENT_TIMESTAMP AS TIMESTAMP) AS MOMENTO_SERVIDOR\n"
    "FROM PROC_RETORNA_INDICE(:ORDEM, :CODIGOLOJA, :QTDCOMANDOS) P";

const char* const TDM::kSqlLogReplicacao =
    "SELECT ORDEM\n"
    "     , CODIGOLOJAORIGEM\n"
    "     , CODIGOLOJADESTINO\n"
    "     , TIPO\n"
    "     , TABELA\n"
    "     , ATUALVALORCHAVE1\n"
    "     , ATUALVALORCHAVE2\n"
    "     , NOVOVALORCHAVE1\n"
    "     , OCORRENCIA_LOCAL\n"
    "     , ID_TRANSACAO\n"
    "FROM LOG_REPLICACAO\n"
    "WHERE ORDEM BETWEEN :ORDEMINICIAL AND :ORDEMFINAL\n"
    "ORDER BY ORDEM";

#define ONDARIS_CATALOGO_INICIO                                                                   \
    "SELECT R.RDB$FIELD_NAME AS CAMPO, PK.RDB$CONSTRAINT_TYPE AS CHAVE, F.RDB$FIELD_TYPE AS TIPO,\n" \
    "F.RDB$FIELD_SUB_TYPE AS SUBTIPO, F.RDB$CHARACTER_SET_ID AS CONJUNTO, F.RDB$FIELD_LENGTH AS TAMANHO\n" \
    "FROM RDB$RELATIONS T\n"                                                                        \
    "INNER JOIN RDB$RELATION_FIELDS R ON T.RDB$RELATION_NAME = R.RDB$RELATION_NAME\n"             \
    "INNER JOIN RDB$FIELDS F ON R.RDB$FIELD_SOURCE = F.RDB$FIELD_NAME\n"                          \
    "LEFT JOIN (SELECT TC.RDB$RELATION_NAME, IDX.RDB$FIELD_NAME, TC.RDB$CONSTRAINT_TYPE\n"        \
    "           FROM RDB$RELATION_CONSTRAINTS TC\n"                                               \
    "           INNER JOIN RDB$INDEX_SEGMENTS IDX ON (IDX.RDB$INDEX_NAME = TC.RDB$INDEX_NAME)\n"  \
    "           WHERE TC.RDB$CONSTRAINT_TYPE = 'PRIMARY KEY') PK\n"                               \
    "ON (T.RDB$RELATION_NAME = PK.RDB$RELATION_NAME) AND (R.RDB$FIELD_NAME = PK.RDB$FIELD_NAME)\n" \
    "WHERE COALESCE(F.RDB$COMPUTED_SOURCE, '') = ''\n"                                            \
    "AND T.RDB$RELATION_NAME = :TABELA\n"

const char* const TDM::kSqlCamposChave = ONDARIS_CATALOGO_INICIO
    "AND UPPER(PK.RDB$CONSTRAINT_TYPE) = 'PRIMARY KEY'\n"
    "ORDER BY R.RDB$FIELD_POSITION";

const char* const TDM::kSqlCamposTabela = ONDARIS_CATALOGO_INICIO "ORDER BY R.RDB$FIELD_POSITION";

#undef ONDARIS_CATALOGO_INICIO

namespace {
constexpr const char* kColunasConfiguracao[] = {"CODIGO", "CODIGOLOJA", "LINKCENTRAL", "NIVELREPLICACAO",
                                                "ULTIMORECEBIMENTO"};
}

TDM::TDM(OpcoesTDM opcoes)
    : Opcoes_(std::move(opcoes)),
      conexaoGlobal_(ParametrosConexao{}, "ConexaoGlobal"),
      TRPrincipal_(conexaoGlobal_, "TRPrincipal", OpcoesTransacao::EscritaAutomatica()),
      TBUltimoMovimentoLoja_(conexaoGlobal_, TRPrincipal_, kSqlUltimoMovimentoLoja, "TBUltimoMovimentoLoja"),
      TBRetornaIndices_(conexaoGlobal_, TRPrincipal_, kSqlRetornaIndices, "TBRetornaIndices"),
      TBConfiguracoes_(conexaoGlobal_, TRPrincipal_, kSqlConfiguracoes, "TBConfiguracoes"),
      TBCamposTabela_(conexaoGlobal_, TRPrincipal_, kSqlCamposTabela, "TBCamposTabela"),
      TBCamposChave_(conexaoGlobal_, TRPrincipal_, kSqlCamposChave, "TBCamposChave") {}

std::string TDM::Pasta() const { return Opcoes_.Pasta.empty() ? PastaExecutavel() : Opcoes_.Pasta; }

bool TDM::ConfigurarBancodeDados() {
    const ConfiguracaoBanco cfg = LerConfiguracaoBanco(Pasta());
    conexaoGlobal_.Fechar();
    ParametrosConexao p = ParametrosConexao::De(cfg);
    p.Usuario = Opcoes_.Usuario;
    p.Senha = Opcoes_.Senha;
    conexaoGlobal_.Parametros() = p;
    Conectar();
    return false;
}

void TDM::Conectar() {
    if (conexaoGlobal_.Aberta()) return;
    try {
        conexaoGlobal_.Abrir();
        return;
    } catch (const ErroLoginRecusado&) {
        // The one case that means the account is missing (or its password
        // was changed): a server that cannot be reached says otherwise.
    }
    const bool criada = AdicionaUsuarioFirebird();
    try {
        conexaoGlobal_.Abrir();
    } catch (const ErroLoginRecusado& e) {
        if (criada) throw;
        throw ErroLoginRecusado(std::string(e.what()) + " (a criação da conta " + Opcoes_.Usuario +
                                    " pelo login de administrador falhou: " + ultimoErroProvisionamento_ + ")",
                                e.Codigo(), e.SqlState(), e.Codigos());
    }
}

bool TDM::AdicionaUsuarioFirebird() {
    ultimoErroProvisionamento_.clear();
    conexaoGlobal_.Fechar();
    // The administrator logs in on an attachment of its own, so that the
    // global connection keeps the replication account's credentials.
    ParametrosConexao administrador = conexaoGlobal_.Parametros();
    administrador.Usuario = kAdministrador;
    bool logado = false;
    for (const char* senha : kSenhasAdministrador) {
        administrador.Senha = senha;
        try {
            Conexao prova(administrador, "Administrador");
            prova.Abrir();
            prova.Fechar();
            logado = true;
            break;
        } catch (const ErroBanco& e) {
            ultimoErroProvisionamento_ = e.what();
        }
    }
    if (!logado) return false;
    try {
        CriarUsuarioNoServidor(administrador);
    } catch (const ErroBanco& e) {
        ultimoErroProvisionamento_ = e.what();
        return false;
    }
    return true;
}

void TDM::CriarUsuarioNoServidor(const ParametrosConexao& p) {
    int porta = kPortaBanco;
    try {
        std::size_t usados = 0;
        porta = std::stoi(p.Porta, &usados);
        if (usados != p.Porta.size()) porta = kPortaBanco;
    } catch (const std::logic_error&) {
        porta = kPortaBanco;  // not an integer: the fixed port
    }
    const std::string alvo = p.Servidor + "/" + std::to_string(porta) + ":service_mgr";

    std::vector<unsigned char> spb{isc_spb_version, isc_spb_current_version};
    const auto curto = [&](unsigned char item, const std::string& valor) {
        spb.push_back(item);
        spb.push_back(static_cast<unsigned char>(std::min<std::size_t>(valor.size(), 255)));
        spb.insert(spb.end(), valor.begin(), valor.begin() + std::min<std::size_t>(valor.size(), 255));
    };
    curto(isc_spb_user_name, kAdministrador);
    curto(isc_spb_password, p.Senha);

    std::vector<unsigned char> acao{isc_action_svc_add_user};
    const auto longo = [&](unsigned char item, const std::string& valor) {
        acao.push_back(item);
        acao.push_back(static_cast<unsigned char>(valor.size() & 0xFF));
        acao.push_back(static_cast<unsigned char>((valor.size() >> 8) & 0xFF));
        acao.insert(acao.end(), valor.begin(), valor.end());
    };
    longo(isc_spb_sec_username, Opcoes_.Usuario);
    longo(isc_spb_sec_password, Opcoes_.Senha);

    fb::ServicoFb servico(fb::Chamar([&](fb::Status& s) {
        return fb::Provedor()->attachServiceManager(&s, alvo.c_str(), static_cast<unsigned>(spb.size()), spb.data());
    }));
    fb::Chamar([&](fb::Status& s) {
        servico->start(&s, static_cast<unsigned>(acao.size()), acao.data());
        // Ask for output until the service says it has nothing more: that
        // is when it has finished. The text itself is of no use here.
        const unsigned char pedido[] = {isc_info_svc_line};
        unsigned char resposta[1024];
        for (;;) {
            servico->query(&s, 0, nullptr, sizeof pedido, pedido, sizeof resposta, resposta);
            if (resposta[0] != isc_info_svc_line) break;
            const auto tamanho = static_cast<unsigned>(resposta[1]) | (static_cast<unsigned>(resposta[2]) << 8);
            if (tamanho == 0) break;
        }
    });
    servico.Finalizar([](fb::Status* s, Firebird::IService* sv) { sv->detach(s); });
}

// ------------------------------------------------------------ settings row

void TDM::AbrirConfiguracoes() {
    configuracao_.reset();
    if (!TBConfiguracoes_.Abrir()) throw ErroBanco("RPL_CONFIGURACOES não tem nenhuma linha: faltam as configurações da replicação");
    LinhaConfiguracao l;
    l.Codigo = TBConfiguracoes_.Ler("CODIGO");
    l.CodigoLoja = TBConfiguracoes_.Ler("CODIGOLOJA");
    l.LinkCentral = TBConfiguracoes_.Ler("LINKCENTRAL");
    l.NivelReplicacao = TBConfiguracoes_.Ler("NIVELREPLICACAO");
    l.UltimoRecebimento = TBConfiguracoes_.Ler("ULTIMORECEBIMENTO");
    // Only the first row counts; ending the result set ends the transaction.
    TBConfiguracoes_.Fechar();
    configuracao_ = std::move(l);
}

namespace {
std::optional<std::int64_t> Inteiro(Valor v) {
    std::int64_t x = 0;
    if (!ValorComo(std::move(v), x)) return std::nullopt;
    return x;
}
}  // namespace

std::int32_t TDM::CodigoLoja() const {
    if (!configuracao_) throw ErroUso("a linha de configurações ainda não foi lida");
    const auto v = Inteiro(configuracao_->CodigoLoja);
    if (!v) throw ErroBanco("RPL_CONFIGURACOES.CODIGOLOJA está NULL ou não é um número inteiro");
    return static_cast<std::int32_t>(*v);
}

std::string TDM::LinkCentral() const {
    if (!configuracao_) throw ErroUso("a linha de configurações ainda não foi lida");
    if (const auto* s = std::get_if<std::string>(&configuracao_->LinkCentral)) return *s;
    return {};
}

std::int64_t TDM::UltimoRecebimento() const {
    if (!configuracao_) throw ErroUso("a linha de configurações ainda não foi lida");
    const auto v = Inteiro(configuracao_->UltimoRecebimento);
    return v ? *v : 0;
}

std::string TDM::SqlGravacaoUltimoRecebimento(std::vector<std::pair<std::string, const Valor*>>& condicoes) {
    if (!configuracao_) AbrirConfiguracoes();
    if (!chaveConfiguracoes_) {
        std::vector<std::string> chave;
        for (const auto& c : CamposTabela("RPL_CONFIGURACOES", true)) chave.push_back(c.Campo);
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

void TDM::ExecutarGravacao(Consulta& gravacao, std::int64_t valor,
                           const std::vector<std::pair<std::string, const Valor*>>& condicoes) {
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

void TDM::GravarUltimoRecebimento(std::int64_t valor) {
    std::vector<std::pair<std::string, const Valor*>> condicoes;
    const std::string sql = SqlGravacaoUltimoRecebimento(condicoes);
    if (!gravacao_ || gravacao_->Sql() != sql)
        gravacao_ = std::make_unique<Consulta>(conexaoGlobal_, TRPrincipal_, sql, "TBConfiguracoes.Post");
    ExecutarGravacao(*gravacao_, valor, condicoes);
    configuracao_->UltimoRecebimento = valor;
}

void TDM::GravarUltimoRecebimento(std::int64_t valor, TModuloOperacao& modulo) {
    std::vector<std::pair<std::string, const Valor*>> condicoes;
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

void TDM::UltimoRecebimentoConfirmado(std::int64_t valor) {
    if (configuracao_) configuracao_->UltimoRecebimento = valor;
}

// ------------------------------------------------------ other statements

std::int64_t TDM::UltimoMovimentoLoja() {
    if (!TBUltimoMovimentoLoja_.Abrir()) throw ErroBanco("a consulta da última posição do log não devolveu nenhuma linha");
    const auto v = TBUltimoMovimentoLoja_.Ler<std::int64_t>("ULTIMAORDEM");
    TBUltimoMovimentoLoja_.Fechar();
    return v.value_or(0);
}

TIndicesEnvio TDM::RetornaIndices(std::int64_t ordem, std::int32_t quantidade) {
    TBRetornaIndices_.Fechar();
    TBRetornaIndices_.Definir("ORDEM", ordem);
    TBRetornaIndices_.Definir("CODIGOLOJA", Valor());
    TBRetornaIndices_.Definir("QTDCOMANDOS", quantidade);
    if (!TBRetornaIndices_.Abrir()) throw ErroBanco("PROC_RETORNA_INDICE não devolveu nenhuma linha");
    TIndicesEnvio r;
    r.OrdemInicial = TBRetornaIndices_.Ler<std::int64_t>("ORDEMINICIAL").value_or(0);
    r.OrdemFinal = TBRetornaIndices_.Ler<std::int64_t>("ORDEMFINAL").value_or(0);
    r.UltimaOrdem = TBRetornaIndices_.Ler<std::int64_t>("ULTIMAORDEM").value_or(0);
    r.MomentoServidor = TBRetornaIndices_.Ler<DataHora>("MOMENTO_SERVIDOR");
    // The limit and its holder come from the procedure of the current
    // script; a database prepared with an earlier one just does not say.
    if (TBRetornaIndices_.IndiceColuna("LIMITE")) {
        r.Limite = TBRetornaIndices_.Ler<std::int64_t>("LIMITE");
        if (const auto transacao = TBRetornaIndices_.Ler<std::int64_t>("RETENTOR_TRANSACAO")) {
            TRetentorEnvio quem;
            quem.Transacao = *transacao;
            quem.Conexao = TBRetornaIndices_.Ler<std::int64_t>("RETENTOR_CONEXAO");
            quem.Usuario = TBRetornaIndices_.Ler<std::string>("RETENTOR_USUARIO").value_or("");
            quem.Endereco = TBRetornaIndices_.Ler<std::string>("RETENTOR_ENDERECO").value_or("");
            quem.Programa = TBRetornaIndices_.Ler<std::string>("RETENTOR_PROGRAMA").value_or("");
            quem.Momento = TBRetornaIndices_.Ler<DataHora>("RETENTOR_MOMENTO");
            r.Retentor = std::move(quem);
        }
    }
    TBRetornaIndices_.Fechar();
    return r;
}

std::vector<TCampoCatalogo> TDM::CamposTabela(const std::string& tabela, bool somenteChave) {
    // Each question has its own statement, prepared once: a block asks both
    // of one table, and one statement switching texts would be prepared
    // again every time.
    Consulta& consulta = somenteChave ? TBCamposChave_ : TBCamposTabela_;
    consulta.Definir("TABELA", tabela);
    std::vector<TCampoCatalogo> campos;
    for (bool linha = consulta.Abrir(); linha; linha = consulta.Proximo()) {
        TCampoCatalogo c;
        c.Campo = consulta.Ler<std::string>("CAMPO").value_or("");
        c.Chave = MaiusculasAscii(consulta.Ler<std::string>("CHAVE").value_or("")) == "PRIMARY KEY";
        c.Tipo = consulta.Ler<std::int32_t>("TIPO").value_or(0);
        c.SubTipo = consulta.Ler<std::int32_t>("SUBTIPO").value_or(0);
        c.ConjuntoCaracteres = consulta.Ler<std::int32_t>("CONJUNTO").value_or(0);
        c.Tamanho = consulta.Ler<std::int32_t>("TAMANHO").value_or(0);
        campos.push_back(std::move(c));
    }
    return campos;
}

}  // namespace ondaris::db
