#include "db/manutencao.h"

#include <algorithm>

#include "db/catalogo.h"
#include "db/consulta.h"
#include "protocolo/texto.h"

namespace ondaris::db {
using protocolo::DataHora;
using protocolo::LiteralSql;
using protocolo::MaiusculasAscii;

namespace {

constexpr int kSmallint = kCatalogoSmallint, kInteger = kCatalogoInteger, kBigint = kCatalogoBigint,
              kChar = kCatalogoChar, kVarchar = kCatalogoVarchar;
constexpr unsigned kCharsetAscii = 2, kCharsetUnicodeFss = 3;

std::string Texto(const Valor& v) {
    if (const auto* s = std::get_if<std::string>(&v)) return *s;
    return {};
}

std::int64_t Inteiro(const Valor& v) {
    if (const auto* a = std::get_if<std::int16_t>(&v)) return *a;
    if (const auto* b = std::get_if<std::int32_t>(&v)) return *b;
    if (const auto* c = std::get_if<std::int64_t>(&v)) return *c;
    return 0;
}

bool Nulo(const Valor& v) { return std::holds_alternative<std::monostate>(v); }

std::string Declaracao(int tipo, int subTipo, int escala, int precisao, int caracteres) {
    const auto nome = NomeTipoSql(CategoriaDoCatalogo(tipo, subTipo), subTipo, escala,
                                  static_cast<unsigned>(caracteres), precisao);
    return nome ? *nome : "tipo " + std::to_string(tipo);
}

// A key text in `chave` arrives in the log's column of character set `log`
// without loss (a NONE text is copied byte for byte).
bool Compativel(unsigned chave, unsigned log) {
    if (chave == kCharsetOctets) return false;
    if (chave == log || chave == kCharsetNone || chave == kCharsetAscii) return true;
    return log == kCharsetUtf8 || log == kCharsetUnicodeFss;
}

constexpr const char* kSqlTabelas =
    "SELECT R.RDB$RELATION_NAME FROM RDB$RELATIONS R\n"
    "WHERE COALESCE(R.RDB$SYSTEM_FLAG, 0) = 0 AND R.RDB$VIEW_BLR IS NULL\n"
    "AND COALESCE(R.RDB$RELATION_TYPE, 0) = 0\n"
    "ORDER BY R.RDB$RELATION_NAME";

// Each object of kObjetosReplicacao with its kind in the catalogue.
constexpr const char* kSqlObjeto =
    "SELECT 1 FROM RDB$DATABASE WHERE\n"
    "EXISTS (SELECT 1 FROM RDB$RELATIONS WHERE RDB$RELATION_NAME = :NOME)\n"
    "OR EXISTS (SELECT 1 FROM RDB$GENERATORS WHERE RDB$GENERATOR_NAME = :NOME)\n"
    "OR EXISTS (SELECT 1 FROM RDB$PROCEDURES WHERE RDB$PROCEDURE_NAME = :NOME)";

constexpr const char* kSqlTiposColunas =
    "SELECT RF.RDB$FIELD_NAME, F.RDB$FIELD_TYPE, F.RDB$FIELD_SUB_TYPE, F.RDB$FIELD_SCALE,\n"
    "F.RDB$FIELD_PRECISION, F.RDB$CHARACTER_LENGTH, F.RDB$CHARACTER_SET_ID, CS.RDB$CHARACTER_SET_NAME\n"
    "FROM RDB$RELATION_FIELDS RF JOIN RDB$FIELDS F ON F.RDB$FIELD_NAME = RF.RDB$FIELD_SOURCE\n"
    "LEFT JOIN RDB$CHARACTER_SETS CS ON CS.RDB$CHARACTER_SET_ID = F.RDB$CHARACTER_SET_ID\n"
    "WHERE RF.RDB$RELATION_NAME = :TABELA";

}  // namespace

std::string NormalizarCorpo(std::string_view corpo) {
    std::string r;
    std::string linha;
    const auto fecharLinha = [&] {
        while (!linha.empty() && (linha.back() == ' ' || linha.back() == '\t' || linha.back() == '\r')) linha.pop_back();
        r += linha;
        linha.clear();
    };
    for (char c : corpo) {
        if (c == '\n') {
            fecharLinha();
            r += '\n';
        } else {
            linha += c;
        }
    }
    fecharLinha();
    while (!r.empty() && (r.back() == '\n' || r.back() == ' ')) r.pop_back();
    return r;
}

TCatalogoLoja::TCatalogoLoja(Conexao& conexao)
    : conexao_(conexao), transacao_(conexao, "TRCatalogo", OpcoesTransacao::Leitura()) {}

TCatalogoLoja::~TCatalogoLoja() = default;

std::vector<std::vector<Valor>> TCatalogoLoja::Linhas(const std::string& sql, const std::vector<std::string>& textos) {
    Consulta c(conexao_, transacao_, sql);
    for (std::size_t i = 0; i < textos.size(); ++i) c.DefinirPosicao(i, Valor(textos[i]));
    std::vector<std::vector<Valor>> linhas;
    for (bool ha = c.Abrir(); ha; ha = c.Proximo()) {
        std::vector<Valor> linha;
        for (std::size_t i = 0; i < c.Colunas().size(); ++i) linha.push_back(c.Ler(i));
        linhas.push_back(std::move(linha));
    }
    return linhas;
}

std::vector<std::string> TCatalogoLoja::ObjetosFaltando() {
    std::vector<std::string> faltando;
    for (const char* nome : kObjetosReplicacao) {
        Consulta c(conexao_, transacao_, kSqlObjeto);
        c.Definir("NOME", nome);
        if (!c.Abrir()) faltando.emplace_back(nome);
        c.Fechar();
    }
    return faltando;
}

int TCatalogoLoja::VersaoObjetos() {
    if (!ObjetosFaltando().empty()) return 0;
    if (Linhas("SELECT 1 FROM RDB$PROCEDURES WHERE RDB$PROCEDURE_NAME = 'PROC_VERSAO_REPLICACAO'").empty()) return 1;
    const auto v = Linhas("SELECT VERSAO FROM PROC_VERSAO_REPLICACAO");
    if (v.empty() || v.front().empty() || Nulo(v.front().front()))
        throw ErroBanco("PROC_VERSAO_REPLICACAO não devolveu nenhuma versão");
    return static_cast<int>(Inteiro(v.front().front()));
}

std::vector<std::string> TCatalogoLoja::Tabelas() {
    std::vector<std::string> tabelas;
    for (const auto& l : Linhas(kSqlTabelas)) tabelas.push_back(Texto(l.at(0)));
    return tabelas;
}

bool TCatalogoLoja::TabelaExiste(const std::string& tabela) {
    const auto t = Tabelas();
    return std::find(t.begin(), t.end(), tabela) != t.end();
}

std::vector<TCampoCatalogo> TCatalogoLoja::Campos(const std::string& tabela, bool somenteChave) {
    std::vector<TCampoCatalogo> campos;
    for (const auto& l : Linhas(somenteChave ? kSqlCamposChave : kSqlCamposTabela, {tabela}))
        campos.push_back(CampoDoCatalogo(l));
    return campos;
}

unsigned TCatalogoLoja::ConjuntoDoLog() {
    if (conjuntoDoLog_) return *conjuntoDoLog_;
    auto l = Linhas(
        "SELECT F.RDB$CHARACTER_SET_ID FROM RDB$RELATION_FIELDS RF\n"
        "JOIN RDB$FIELDS F ON F.RDB$FIELD_NAME = RF.RDB$FIELD_SOURCE\n"
        "WHERE RF.RDB$RELATION_NAME = 'LOG_REPLICACAO' AND RF.RDB$FIELD_NAME = 'ATUALVALORCHAVE1'");
    if (l.empty() || Nulo(l.front().front()))
        // No log yet: it will take the database's default character set.
        l = Linhas(
            "SELECT C.RDB$CHARACTER_SET_ID FROM RDB$DATABASE D\n"
            "JOIN RDB$CHARACTER_SETS C ON C.RDB$CHARACTER_SET_NAME = D.RDB$CHARACTER_SET_NAME");
    conjuntoDoLog_ = l.empty() ? kCharsetNone : static_cast<unsigned>(Inteiro(l.front().front()));
    return *conjuntoDoLog_;
}

std::vector<TColunaChave> TCatalogoLoja::ColunasChave(const std::string& tabela) {
    const auto tipos = Linhas(kSqlTiposColunas, {tabela});
    std::vector<TColunaChave> chave;
    for (const auto& campo : Campos(tabela, true)) {
        TColunaChave c;
        c.Nome = campo.Campo;
        const auto t = std::find_if(tipos.begin(), tipos.end(),
                                    [&](const std::vector<Valor>& l) { return Texto(l.at(0)) == c.Nome; });
        if (t == tipos.end()) throw ErroBanco("o catálogo do banco não tem o tipo da coluna " + c.Nome + " de " + tabela);
        const int tipo = static_cast<int>(Inteiro(t->at(1)));
        const int escala = static_cast<int>(Inteiro(t->at(3)));
        const int caracteres = static_cast<int>(Inteiro(t->at(5)));
        c.Declaracao = Declaracao(tipo, static_cast<int>(Inteiro(t->at(2))), escala, static_cast<int>(Inteiro(t->at(4))),
                                  caracteres);
        if ((tipo == kSmallint || tipo == kInteger || tipo == kBigint) && escala == 0) {
            c.Tipo = TTipoColunaChave::tcInteiro;
        } else if (tipo == kChar || tipo == kVarchar) {
            c.Tipo = TTipoColunaChave::tcTexto;
            c.Caracteres = static_cast<std::size_t>(caracteres);
            const unsigned conjunto = Nulo(t->at(6)) ? kCharsetNone : static_cast<unsigned>(Inteiro(t->at(6)));
            c.ConjuntoCompativel = Compativel(conjunto, ConjuntoDoLog());
            if (!c.ConjuntoCompativel) c.Declaracao += " CHARACTER SET " + Texto(t->at(7));
        } else {
            c.Tipo = TTipoColunaChave::tcOutro;
        }
        chave.push_back(std::move(c));
    }
    return chave;
}

std::vector<std::string> TCatalogoLoja::OrdemDaChave(const std::string& tabela) {
    std::vector<std::string> colunas;
    for (const auto& l : Linhas(
             "SELECT S.RDB$FIELD_NAME FROM RDB$RELATION_CONSTRAINTS C\n"
             "JOIN RDB$INDEX_SEGMENTS S ON S.RDB$INDEX_NAME = C.RDB$INDEX_NAME\n"
             "WHERE C.RDB$RELATION_NAME = ? AND C.RDB$CONSTRAINT_TYPE = 'PRIMARY KEY'\n"
             "ORDER BY S.RDB$FIELD_POSITION",
             {tabela}))
        colunas.push_back(Texto(l.at(0)));
    return colunas;
}

std::optional<TGatilhoExistente> TCatalogoLoja::Gatilho(const std::string& nome) {
    const auto l = Linhas(
        "SELECT RDB$TRIGGER_NAME, RDB$RELATION_NAME, RDB$TRIGGER_SOURCE, RDB$TRIGGER_INACTIVE,\n"
        "RDB$TRIGGER_TYPE, RDB$TRIGGER_SEQUENCE FROM RDB$TRIGGERS WHERE RDB$TRIGGER_NAME = ?",
        {nome});
    if (l.empty()) return std::nullopt;
    TGatilhoExistente g;
    g.Nome = Texto(l[0][0]);
    g.Tabela = Texto(l[0][1]);
    g.Corpo = NormalizarCorpo(Texto(l[0][2]));
    g.Ativo = Inteiro(l[0][3]) == 0;
    // 114: after insert, after update, after delete, in one trigger.
    g.ComoGerado = g.Ativo && Inteiro(l[0][4]) == 114 && Inteiro(l[0][5]) == 100;
    return g;
}

std::vector<std::string> TCatalogoLoja::OutrosGatilhosDeRegistro(const std::string& tabela, const std::string& exceto) {
    std::vector<std::string> nomes;
    for (const auto& l : Linhas(
             "SELECT DISTINCT T.RDB$TRIGGER_NAME FROM RDB$TRIGGERS T\n"
             "JOIN RDB$DEPENDENCIES D ON D.RDB$DEPENDENT_NAME = T.RDB$TRIGGER_NAME AND D.RDB$DEPENDENT_TYPE = 2\n"
             "WHERE T.RDB$RELATION_NAME = ? AND T.RDB$TRIGGER_NAME <> ?\n"
             "AND D.RDB$DEPENDED_ON_NAME IN ('PROC_REGISTRA_ALTERACAO', 'LOG_REPLICACAO')\n"
             "ORDER BY 1",
             {tabela, exceto}))
        nomes.push_back(Texto(l.at(0)));
    return nomes;
}

bool TCatalogoLoja::GatilhoPodeRegistrar(const std::string& nome) {
    return !Linhas(
                "SELECT 1 FROM RDB$USER_PRIVILEGES WHERE RDB$PRIVILEGE = 'X'\n"
                "AND RDB$RELATION_NAME = 'PROC_REGISTRA_ALTERACAO'\n"
                "AND ((RDB$USER = ? AND RDB$USER_TYPE = 2) OR RDB$USER = 'PUBLIC')",
                {nome})
                .empty();
}

// ------------------------------------------------------------ changes

namespace {

// Runs statements in one transaction and commits it; a failure rolls it
// back before it reaches the caller.
void ExecutarEmTransacao(Conexao& conexao, const std::vector<std::string>& comandos) {
    Transacao t(conexao, "TRManutencao", OpcoesTransacao::Escrita());
    t.Iniciar();
    for (const auto& sql : comandos) {
        Consulta c(conexao, t, sql);
        c.Executar();
    }
    t.Commit();
}

}  // namespace

void InstalarGatilho(Conexao& conexao, const TGatilhoRegistro& gatilho) {
    std::vector<std::string> comandos{gatilho.Criacao};
    comandos.insert(comandos.end(), gatilho.Permissoes.begin(), gatilho.Permissoes.end());
    ExecutarEmTransacao(conexao, comandos);
}

bool RemoverGatilho(Conexao& conexao, const std::string& tabela) {
    bool existia = false;
    {
        TCatalogoLoja catalogo(conexao);
        existia = catalogo.Gatilho(NomeGatilhoRegistro(tabela)).has_value();
    }
    auto comandos = ComandosRemocao(tabela);
    if (!existia) comandos.erase(comandos.begin());
    ExecutarEmTransacao(conexao, comandos);
    return existia;
}

// ------------------------------------------------------------ housekeeping

TLimpezaLog LimparLogReplicacao(Conexao& conexao, std::int64_t ateOrdem, int dias, int porLote,
                                const std::function<void(const TLimpezaLog&)>& aoLote) {
    if (dias < 0) throw ErroUso("número de dias negativo");
    if (porLote < 1) throw ErroUso("lote de menos de uma linha");
    TLimpezaLog r;
    std::optional<DataHora> limite;
    {
        Transacao leitura(conexao, "TRLimpezaLeitura", OpcoesTransacao::Leitura());
        Consulta c(conexao, leitura,
                   "SELECT GEN_ID(GEN_LOG_REPLICACAO, 0) AS GERADA,\n"
                   "CAST(DATEADD(DAY, -CAST(:DIAS AS INTEGER), CURRENT_TIMESTAMP) AS TIMESTAMP) AS LIMITE FROM RDB$DATABASE");
        c.Definir("DIAS", dias);
        c.Abrir();
        const std::int64_t gerada = c.Ler<std::int64_t>("GERADA").value_or(0);
        limite = c.Ler<DataHora>("LIMITE");
        c.Fechar();
        if (ateOrdem > gerada)
            throw ErroBanco("o servidor central diz ter recebido até a posição " + std::to_string(ateOrdem) +
                            ", mas o log desta loja só chegou a " + std::to_string(gerada) +
                            ": o log e o servidor não combinam (um backup restaurado? o código de outra loja?); "
                            "nada foi apagado");
    }
    if (ateOrdem <= 0 || !limite) return r;

    // Each batch: the position of its last row, then the rows up to it, in
    // one short transaction. The reservation test keeps the rows by which
    // the block procedure tells that a transaction has ended.
    const std::string condicao =
        "L.ORDEM > :DESDE AND L.ORDEM <= :ATE AND L.OCORRENCIA_LOCAL < :LIMITE\n"
        "AND NOT EXISTS (SELECT 1 FROM RPL_RESERVAS R WHERE R.ID_TRANSACAO = L.ID_TRANSACAO)";
    Transacao t(conexao, "TRLimpeza", OpcoesTransacao::Escrita());
    Consulta fim(conexao, t,
                 "SELECT MAX(ORDEM) AS FIM FROM (SELECT FIRST (:QUANTAS) L.ORDEM FROM LOG_REPLICACAO L WHERE " +
                     condicao + " ORDER BY L.ORDEM)");
    Consulta apagar(conexao, t, "DELETE FROM LOG_REPLICACAO L WHERE " + condicao);
    std::int64_t desde = 0;
    for (;;) {
        t.Iniciar();
        fim.Definir("QUANTAS", porLote);
        fim.Definir("DESDE", desde);
        fim.Definir("ATE", ateOrdem);
        fim.Definir("LIMITE", limite);
        fim.Abrir();
        const auto ultima = fim.Ler<std::int64_t>("FIM");
        fim.Fechar();
        if (!ultima) {
            t.Commit();
            break;
        }
        apagar.Definir("DESDE", desde);
        apagar.Definir("ATE", *ultima);
        apagar.Definir("LIMITE", limite);
        apagar.Executar();
        const std::int64_t apagadas = apagar.LinhasAfetadas();
        t.Commit();
        r.Apagadas += apagadas;
        ++r.Lotes;
        if (apagadas > 0) r.MaiorOrdemApagada = *ultima;
        if (aoLote) aoLote(r);
        desde = *ultima;
        if (*ultima >= ateOrdem) break;
    }
    return r;
}

// ------------------------------------------------------------ a new store

namespace {

// A name from the catalogue as a quoted identifier.
std::string Identificador(const std::string& nome) {
    std::string r = "\"";
    for (char c : nome) r += c == '"' ? std::string("\"\"") : std::string(1, c);
    return r + "\"";
}

}  // namespace

std::optional<TConfiguracaoLoja> LerConfiguracaoLoja(Conexao& conexao) {
    Transacao t(conexao, "TRConfiguracaoLoja", OpcoesTransacao::Leitura());
    Consulta c(conexao, t,
               "SELECT FIRST 1 CODIGO, CODIGOLOJA, LINKCENTRAL, ULTIMORECEBIMENTO FROM RPL_CONFIGURACOES ORDER BY CODIGO");
    if (!c.Abrir()) return std::nullopt;
    TConfiguracaoLoja r;
    r.Codigo = c.Ler<std::int32_t>("CODIGO").value_or(0);
    r.CodigoLoja = c.Ler<std::int32_t>("CODIGOLOJA").value_or(0);
    r.LinkCentral = c.Ler<std::string>("LINKCENTRAL").value_or("");
    r.UltimoRecebimento = c.Ler<std::int64_t>("ULTIMORECEBIMENTO").value_or(0);
    return r;
}

std::optional<std::string> MotivoRecusaNovaLoja(std::int64_t novo, std::int32_t anterior) {
    if (novo < 1 || novo > kMaiorCodigoLoja)
        return std::to_string(novo) + " não é um código de loja (um número inteiro de 1 a " +
               std::to_string(kMaiorCodigoLoja) + ")";
    if (novo == anterior)
        return "este banco já é da loja " + std::to_string(anterior) +
               ": a cópia precisa de um código novo, que nenhuma outra loja use";
    return std::nullopt;
}

TNovaLoja TornarNovaLoja(Conexao& conexao, const TConfiguracaoLoja& lida, std::int32_t novo) {
    if (auto motivo = MotivoRecusaNovaLoja(novo, lida.CodigoLoja)) throw ErroBanco(*motivo);
    TNovaLoja r;
    r.CodigoAnterior = lida.CodigoLoja;
    r.CodigoNovo = novo;
    r.PosicaoRecebida = lida.UltimoRecebimento;

    // Columns that may say which store a row belongs to: integers, or text
    // holding the code's digits.
    struct TCandidata {
        std::string Tabela, Coluna;
        bool EhTexto = false;
    };
    std::vector<TCandidata> candidatas;
    std::vector<std::string> replicadas;
    {
        TCatalogoLoja catalogo(conexao);
        for (const auto& l : catalogo.Linhas(
                 "SELECT RF.RDB$RELATION_NAME, RF.RDB$FIELD_NAME, F.RDB$FIELD_TYPE FROM RDB$RELATION_FIELDS RF\n"
                 "JOIN RDB$RELATIONS R ON R.RDB$RELATION_NAME = RF.RDB$RELATION_NAME\n"
                 "JOIN RDB$FIELDS F ON F.RDB$FIELD_NAME = RF.RDB$FIELD_SOURCE\n"
                 "WHERE COALESCE(R.RDB$SYSTEM_FLAG, 0) = 0 AND R.RDB$VIEW_BLR IS NULL\n"
                 "AND COALESCE(R.RDB$RELATION_TYPE, 0) = 0 AND F.RDB$COMPUTED_SOURCE IS NULL\n"
                 "AND UPPER(RF.RDB$FIELD_NAME) CONTAINING 'LOJA'\n"
                 "AND ((F.RDB$FIELD_TYPE IN (7, 8, 16) AND COALESCE(F.RDB$FIELD_SCALE, 0) = 0)\n"
                 "     OR F.RDB$FIELD_TYPE IN (14, 37))\n"
                 "ORDER BY 1, 2")) {
            TCandidata c{Texto(l.at(0)), Texto(l.at(1)), Inteiro(l.at(2)) == kChar || Inteiro(l.at(2)) == kVarchar};
            if (TabelaDaReplicacao(c.Tabela)) continue;
            if (std::find(replicadas.begin(), replicadas.end(), c.Tabela) == replicadas.end() &&
                catalogo.Gatilho(NomeGatilhoRegistro(c.Tabela)))
                replicadas.push_back(c.Tabela);
            candidatas.push_back(std::move(c));
        }
    }

    Transacao t(conexao, "TRNovaLoja", OpcoesTransacao::Escrita().Instantanea());
    t.Iniciar();  // rolled back by its end unless committed below
    {
        // The row must still be the one read: the code and position shown
        // to the technician are the ones that stay.
        Consulta configuracao(conexao, t,
                              "UPDATE RPL_CONFIGURACOES SET CODIGOLOJA = :NOVO\n"
                              "WHERE CODIGO = :CODIGO AND CODIGOLOJA = :ANTERIOR AND ULTIMORECEBIMENTO = :POSICAO\n"
                              "AND NOT EXISTS (SELECT 1 FROM RPL_CONFIGURACOES A WHERE A.CODIGO < :CODIGO)");
        configuracao.Definir("NOVO", novo);
        configuracao.Definir("CODIGO", lida.Codigo);
        configuracao.Definir("ANTERIOR", lida.CodigoLoja);
        configuracao.Definir("POSICAO", lida.UltimoRecebimento);
        configuracao.Executar();
        if (configuracao.LinhasAfetadas() != 1)
            throw ErroBanco("as configurações da replicação (RPL_CONFIGURACOES) mudaram desde que foram lidas: "
                            "rode o comando de novo");

        Consulta log(conexao, t, "DELETE FROM LOG_REPLICACAO");
        log.Executar();
        r.LinhasLogApagadas = log.LinhasAfetadas();
        Consulta reservas(conexao, t, "DELETE FROM RPL_RESERVAS");
        reservas.Executar();
        r.ReservasApagadas = reservas.LinhasAfetadas();
        // The copy still names the previous store's agent as its holder:
        // this database's own agent must not wait for that claim to expire.
        Consulta posse(conexao, t,
                       "UPDATE RPL_POSSE SET CHAVE = NULL, VALIDADE = NULL, PROGRAMA = NULL, MAQUINA = NULL,\n"
                       "PROCESSO = NULL, DESDE = NULL, RENOVADA = NULL, PAINEL_RECEBIMENTO = NULL, PAINEL_ENVIO = NULL,\n"
                       "PUBLICADO = NULL, ULTIMA_FALHA = NULL, MOMENTO_FALHA = NULL");
        posse.Executar();

        for (const auto& c : candidatas) {
            Consulta contar(conexao, t,
                            "SELECT COUNT(*) AS LINHAS FROM " + Identificador(c.Tabela) + " WHERE " +
                                (c.EhTexto ? "TRIM(" + Identificador(c.Coluna) + ") = CAST(:LOJA AS VARCHAR(11))"
                                         : Identificador(c.Coluna) + " = CAST(:LOJA AS BIGINT)"));
            if (c.EhTexto) contar.Definir("LOJA", std::to_string(lida.CodigoLoja));
            else contar.Definir("LOJA", static_cast<std::int64_t>(lida.CodigoLoja));
            contar.Abrir();
            const std::int64_t linhas = contar.Ler<std::int64_t>("LINHAS").value_or(0);
            contar.Fechar();
            if (linhas > 0)
                r.LinhasDaLojaAnterior.push_back(
                    {c.Tabela, c.Coluna,
                     std::find(replicadas.begin(), replicadas.end(), c.Tabela) != replicadas.end(), linhas});
        }
    }
    t.Commit();
    return r;
}

// ------------------------------------------------------------ initial send

std::optional<std::string> MotivoRecusaEnvioInicial(TCatalogoLoja& catalogo, const std::string& tabela) {
    if (!catalogo.TabelaExiste(tabela)) return tabela + " não existe neste banco";
    if (auto motivo = MotivoRecusa(tabela, catalogo.ColunasChave(tabela))) return motivo;
    const std::string nome = NomeGatilhoRegistro(tabela);
    const auto gatilho = catalogo.Gatilho(nome);
    if (!gatilho)
        return tabela + " não é replicada: não tem o gatilho de registro " + nome +
               " (instale-o com --instalar-gatilhos antes)";
    const auto gerado = GerarGatilhoRegistro(tabela, catalogo.ColunasChave(tabela));
    if (!gatilho->ComoGerado || gatilho->Corpo != NormalizarCorpo(gerado.Corpo))
        return "o gatilho " + nome + " de " + tabela +
               " não é o que --instalar-gatilhos gera (inativo ou alterado): instale-o de novo antes, para que o "
               "log receba as chaves como o gatilho as registra";
    return std::nullopt;
}

std::int64_t ContarLinhas(Conexao& conexao, const std::string& tabela) {
    Transacao t(conexao, "TRContagem", OpcoesTransacao::Leitura());
    Consulta c(conexao, t, "SELECT COUNT(*) AS LINHAS FROM " + Identificador(tabela));
    c.Abrir();
    return c.Ler<std::int64_t>("LINHAS").value_or(0);
}

TEnvioInicial RegistrarEnvioInicial(Conexao& conexao, const std::string& tabela, int porLote,
                                    const std::function<void(const TEnvioInicial&)>& aoLote) {
    if (porLote < 1) throw ErroUso("lote de menos de uma linha");
    std::vector<TColunaChave> chave;
    std::vector<std::string> ordem;
    {
        TCatalogoLoja catalogo(conexao);
        if (auto motivo = MotivoRecusaEnvioInicial(catalogo, tabela))
            throw ErroUso("envio inicial de uma tabela recusada: " + *motivo);
        chave = catalogo.ColunasChave(tabela);
        ordem = catalogo.OrdemDaChave(tabela);
        const auto usuario = catalogo.Linhas("SELECT CURRENT_USER FROM RDB$DATABASE");
        if (!usuario.empty() && MaiusculasAscii(Texto(usuario.front().at(0))) == kUsuarioReplicacao)
            throw ErroBanco(std::string("a conta ") + kUsuarioReplicacao +
                            " não registra alterações no log (o procedimento de registro ignora as dela): entre "
                            "como administrador");
    }
    if (ordem.size() != chave.size()) throw ErroBanco("o catálogo do banco dá duas chaves diferentes para " + tabela);

    // The key walked in its index's order; each log row gets the key
    // columns in column order, as the trigger passes them. A text key read
    // back as empty arrives here as NULL (the layer's rule for empty text),
    // and key columns are never NULL: it is the empty text again.
    const std::string t = tabela;
    const auto tipo = [&](const std::string& coluna) { return "TYPE OF COLUMN " + t + "." + coluna; };
    const auto saida = [&](const std::string& coluna) {
        return "U" + std::to_string(std::find(ordem.begin(), ordem.end(), coluna) - ordem.begin() + 1);
    };
    std::string entradas = "QUANTAS INTEGER = ?", retornos = "LINHAS INTEGER", colunas, destinos, inicio;
    for (std::size_t i = 0; i < ordem.size(); ++i) {
        const std::string n = std::to_string(i + 1);
        entradas += ", D" + n + " " + tipo(ordem[i]) + " = ?";
        retornos += ", U" + n + " " + tipo(ordem[i]);
        colunas += (i ? ", " : "") + ordem[i];
        destinos += std::string(i ? ", " : "") + ":U" + n;
        const auto& c = *std::find_if(chave.begin(), chave.end(), [&](const TColunaChave& k) { return k.Nome == ordem[i]; });
        if (c.Tipo == TTipoColunaChave::tcTexto) inicio += "    D" + n + " = COALESCE(D" + n + ", '');\n";
    }
    std::string depois = ordem[0] + " > :D1";
    if (ordem.size() == 2) depois = ordem[0] + " >= :D1 AND (" + ordem[0] + " > :D1 OR " + ordem[1] + " > :D2)";
    const std::string chamada = std::string("EXECUTE PROCEDURE ") + kProcedimentoRegistro + "(" + LiteralSql(t) +
                                ", 'U', :" + saida(chave[0].Nome) + ", " +
                                (chave.size() == 2 ? ":" + saida(chave[1].Nome) : std::string("NULL")) + ", NULL);";
    const auto bloco = [&](bool primeiro) {
        return "EXECUTE BLOCK (" + std::string(primeiro ? "QUANTAS INTEGER = ?" : entradas) + ")\nRETURNS (" +
               retornos + ")\nAS\nBEGIN\n    LINHAS = 0;\n" + (primeiro ? std::string() : inicio) +
               "    FOR SELECT FIRST (:QUANTAS) " + colunas + " FROM " + t +
               (primeiro ? std::string() : "\n        WHERE " + depois) + "\n        ORDER BY " + colunas +
               "\n        INTO " + destinos + "\n    DO\n    BEGIN\n        " + chamada +
               "\n        LINHAS = LINHAS + 1;\n    END\n    SUSPEND;\nEND";
    };

    TEnvioInicial r;
    Transacao tr(conexao, "TREnvioInicial", OpcoesTransacao::Escrita());
    Consulta primeiro(conexao, tr, bloco(true));
    Consulta seguinte(conexao, tr, bloco(false));
    std::vector<Valor> ultima;
    for (bool inicial = true;; inicial = false) {
        Consulta& c = inicial ? primeiro : seguinte;
        tr.Iniciar();
        c.DefinirPosicao(0, porLote);
        for (std::size_t i = 0; i < ultima.size(); ++i) c.DefinirPosicao(i + 1, ultima[i]);
        if (!c.Abrir()) throw ErroBanco("o bloco do envio inicial de " + tabela + " não devolveu nenhuma linha");
        const std::int64_t linhas = c.Ler<std::int64_t>("LINHAS").value_or(0);
        ultima.clear();
        for (std::size_t i = 0; i < ordem.size(); ++i) ultima.push_back(c.Ler("U" + std::to_string(i + 1)));
        c.Fechar();
        tr.Commit();
        if (linhas == 0) break;
        r.Registradas += linhas;
        ++r.Lotes;
        if (aoLote) aoLote(r);
        if (linhas < porLote) break;
    }
    return r;
}

}  // namespace ondaris::db
