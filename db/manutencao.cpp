#include "db/manutencao.h"

#include <algorithm>

#include "db/consulta.h"
#include "db/texto.h"

namespace ondaris::db {

namespace {

// Catalogue type codes (RDB$FIELDS.RDB$FIELD_TYPE).
constexpr int kSmallint = 7, kInteger = 8, kFloat = 10, kDate = 12, kTime = 13, kChar = 14, kBigint = 16,
              kBooleano = 23, kDouble = 27, kTimestamp = 35, kVarchar = 37, kBlob = 261;
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
    const auto numerico = [&](int digitos) {
        return std::string(subTipo == 2 ? "DECIMAL(" : "NUMERIC(") + std::to_string(precisao > 0 ? precisao : digitos) +
               "," + std::to_string(-escala) + ")";
    };
    switch (tipo) {
        case kSmallint: return escala < 0 ? numerico(4) : "SMALLINT";
        case kInteger: return escala < 0 ? numerico(9) : "INTEGER";
        case kBigint: return escala < 0 ? numerico(18) : "BIGINT";
        case kFloat: return "FLOAT";
        case kDouble: return "DOUBLE PRECISION";
        case kDate: return "DATE";
        case kTime: return "TIME";
        case kTimestamp: return "TIMESTAMP";
        case kChar: return "CHAR(" + std::to_string(caracteres) + ")";
        case kVarchar: return "VARCHAR(" + std::to_string(caracteres) + ")";
        case kBlob: return "BLOB";
        case kBooleano: return "BOOLEAN";
        default: return "tipo " + std::to_string(tipo);
    }
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
    : conexao_(conexao), transacao_(conexao, "TRCatalogo", OpcoesTransacao{true, true, true}) {}

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
        throw ErroBanco("PROC_VERSAO_REPLICACAO returned no version");
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
    for (const auto& l : Linhas(somenteChave ? TDM::kSqlCamposChave : TDM::kSqlCamposTabela, {tabela})) {
        TCampoCatalogo c;
        c.Campo = Texto(l.at(0));
        c.Chave = MaiusculasAscii(Texto(l.at(1))) == "PRIMARY KEY";
        campos.push_back(std::move(c));
    }
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
        if (t == tipos.end()) throw ErroBanco("the catalogue has no type for column " + c.Nome + " of " + tabela);
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
    Transacao t(conexao, "TRManutencao", OpcoesTransacao{false, false, false});
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
    if (dias < 0) throw ErroUso("a negative number of days");
    if (porLote < 1) throw ErroUso("a batch of fewer than one row");
    TLimpezaLog r;
    std::optional<DataHora> limite;
    {
        Transacao leitura(conexao, "TRLimpezaLeitura", OpcoesTransacao{true, true, true});
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
    Transacao t(conexao, "TRLimpeza", OpcoesTransacao{false, false, false});
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

}  // namespace ondaris::db
