#include "db/construtores.h"

#include "db/texto.h"

#include <algorithm>
#include <exception>
#include <vector>

namespace ondaris::db {

namespace {

constexpr const char* kQuebra = "\r\n";


// A name shown in a refusal: the name itself is harmless in a message, but
// a control character would break the log's lines.
std::string Mostrar(std::string_view nome) {
    std::string r = "\"";
    for (char c : nome) r += (static_cast<unsigned char>(c) < 32) ? '?' : c;
    return r + "\"";
}

void ExigirIdentificador(std::string_view nome, const char* papel) {
    if (!IdentificadorValido(nome))
        throw ErroPreparacao(std::string(papel) + " name " + Mostrar(nome) +
                             " is not a plain identifier (a letter, then letters, digits or underscores, at most 31 "
                             "characters)");
}

// The change log carries two key values: the first key column's and one
// for all the others. A key of three or more columns cannot name its row
// there, so such a table is refused as a whole rather than replicated by a
// partial key (where a delete would remove another row).
void ExigirChaveRegistravel(const std::string& tabela, std::size_t colunasChave) {
    if (colunasChave > kMaximoColunasChave)
        throw ErroPreparacao("table " + tabela + " has a primary key of " + std::to_string(colunasChave) +
                             " columns: the change log carries at most " + std::to_string(kMaximoColunasChave) +
                             " key values, so its changes cannot be replicated");
}

// The same kind of failure with another text, so that the caller can still
// tell a lost connection or a lock conflict from any other refusal.
[[noreturn]] void RelancarComTexto(std::exception_ptr falha, const std::string& texto) {
    try {
        std::rethrow_exception(falha);
    } catch (const ErroConexaoPerdida& e) {
        throw ErroConexaoPerdida(texto, e.Codigo(), e.SqlState(), e.Codigos());
    } catch (const ErroConflitoBloqueio& e) {
        throw ErroConflitoBloqueio(texto, e.Codigo(), e.SqlState(), e.Codigos());
    } catch (const ErroPreparacao& e) {
        throw ErroPreparacao(texto, e.Codigo(), e.SqlState(), e.Codigos());
    } catch (const ErroBanco& e) {
        throw ErroBanco(texto, e.Codigo(), e.SqlState(), e.Codigos());
    } catch (const std::exception&) {
        throw ErroPreparacao(texto);
    }
}

std::string MensagemDe(std::exception_ptr falha) {
    try {
        std::rethrow_exception(falha);
    } catch (const std::exception& e) {
        return e.what();
    }
}

}  // namespace

bool IdentificadorValido(std::string_view nome) { return IdentificadorSimples(nome, kTamanhoMaximoIdentificador); }

const char* SufixoTipoSQL(TTipoSQL tipo) {
    switch (tipo) {
        case TTipoSQL::tsUpdateInsert: return "_UI";
        case TTipoSQL::tsDelete: return "_DEL";
        case TTipoSQL::tsSelect: return "_SEL";
    }
    throw ErroUso("unknown statement kind " + std::to_string(static_cast<int>(tipo)));
}

std::string MontarSQLQuerySEL(std::string_view NomeTabela, const std::vector<TCampoCatalogo>& campos) {
    ExigirIdentificador(NomeTabela, "table");
    const std::string tabela(NomeTabela);
    if (campos.empty()) throw ErroPreparacao("table " + tabela + " has no columns in the catalogue");
    ExigirChaveRegistravel(tabela, static_cast<std::size_t>(std::count_if(
                                       campos.begin(), campos.end(), [](const TCampoCatalogo& c) { return c.Chave; })));

    std::string colunas;
    std::string juncao;
    for (const auto& c : campos) {
        ExigirIdentificador(c.Campo, "column");
        colunas += ", T." + c.Campo;
        if (!c.Chave) continue;
        // The first key column is logged in ATUALVALORCHAVE1, the second in
        // ATUALVALORCHAVE2.
        if (juncao.empty())
            juncao = " INNER JOIN LOG_REPLICACAO L ON (T." + c.Campo + " = L.ATUALVALORCHAVE1)";
        else
            juncao += " AND (T." + c.Campo + " = L.ATUALVALORCHAVE2)";
    }
    if (juncao.empty())
        throw ErroPreparacao("table " + tabela + " has no primary key: its rows cannot be found from the log");
    return "SELECT L.ORDEM" + colunas + " FROM " + tabela + " T" + juncao +
           " WHERE L.ORDEM BETWEEN :ORDEMINICIAL AND :ORDEMFINAL AND L.TABELA = " + LiteralSql(tabela) +
           " ORDER BY ORDEM";
}

std::string MontarSQLQueryUI(std::string_view NomeTabela, const std::vector<std::string>& colunas,
                             const std::vector<std::string>& chave) {
    ExigirIdentificador(NomeTabela, "table");
    const std::string tabela(NomeTabela);
    if (colunas.empty()) throw ErroPreparacao("table " + tabela + " has no columns in the structure list");
    std::string nomes, parametros;
    for (const auto& coluna : colunas) {
        ExigirIdentificador(coluna, "column");
        const char* separador = nomes.empty() ? "" : ", ";
        nomes += separador + coluna;
        parametros += separador + (":" + coluna);
    }
    ExigirChaveRegistravel(tabela, chave.size());
    return "UPDATE OR INSERT INTO " + tabela + "(" + nomes + ") VALUES (" + parametros + ")";
}

std::string MontarSQLQueryDEL(std::string_view NomeTabela, const std::vector<std::string>& chave) {
    ExigirIdentificador(NomeTabela, "table");
    const std::string tabela(NomeTabela);
    ExigirChaveRegistravel(tabela, chave.size());
    std::string where;
    for (const auto& coluna : chave) {
        ExigirIdentificador(coluna, "column");
        where += (where.empty() ? " WHERE " : " AND ") + coluna + " = :" + coluna;
    }
    // Without a condition the delete would empty the whole table.
    if (where.empty())
        throw ErroPreparacao("table " + tabela + " has no primary key: a delete would have no condition");
    return "DELETE FROM " + tabela + where;
}

namespace {

std::vector<std::string> Nomes(const std::vector<TCampoCatalogo>& campos) {
    std::vector<std::string> nomes;
    nomes.reserve(campos.size());
    for (const auto& c : campos) nomes.push_back(c.Campo);
    return nomes;
}

// The text of a table's statement, from the catalogue and the structure
// list as they stand. The name is checked before it reaches any query.
std::string TextoDaConsulta(TDM& DM, std::string_view NomeTabela, TTipoSQL TipoSQL) {
    ExigirIdentificador(NomeTabela, "table");
    const std::string tabela(NomeTabela);
    switch (TipoSQL) {
        case TTipoSQL::tsUpdateInsert:
            return MontarSQLQueryUI(tabela, DM.TBEstrutura.CamposDaTabela(tabela),
                                    Nomes(DM.CamposTabela(MaiusculasAscii(tabela), true)));
        case TTipoSQL::tsDelete: return MontarSQLQueryDEL(tabela, Nomes(DM.CamposTabela(tabela, true)));
        case TTipoSQL::tsSelect: return MontarSQLQuerySEL(tabela, DM.CamposTabela(tabela, false));
    }
    throw ErroUso("unknown statement kind " + std::to_string(static_cast<int>(TipoSQL)));
}

}  // namespace

Consulta& PrepararDataset(TDM& DM, TModuloOperacao& DataModule, std::string& Erro, std::string_view NomeTabela,
                          TTipoSQL TipoSQL, std::int64_t OrdemInicial, std::int64_t OrdemFinal) {
    Erro.clear();
    std::string NomeDataset;
    std::string TextoSQL;
    try {
        NomeDataset = "TB" + std::string(NomeTabela) + SufixoTipoSQL(TipoSQL);
        // The table name is checked before it names anything: the cache's
        // name rule alone would let "TB" + a long name through.
        ExigirIdentificador(NomeTabela, "table");
        if (Consulta* existente = DataModule.Procurar(NomeDataset)) return *existente;

        std::string texto = TextoDaConsulta(DM, NomeTabela, TipoSQL);
        Transacao& transacao = TipoSQL == TTipoSQL::tsSelect ? DataModule.TransReplicacaoReadOnly
                                                               : DataModule.TransReplicacaoReadWrite;
        Consulta& consulta = DataModule.Criar(NomeDataset, transacao, texto);
        TextoSQL = texto + kQuebra;
        if (TipoSQL == TTipoSQL::tsUpdateInsert && !transacao.Ativa()) transacao.Iniciar();
        consulta.Preparar();
        if (TipoSQL == TTipoSQL::tsSelect) {
            consulta.Definir("ORDEMINICIAL", OrdemInicial);
            consulta.Definir("ORDEMFINAL", OrdemFinal);
            consulta.Abrir();
        }
        return consulta;
    } catch (const std::exception&) {
        const std::exception_ptr falha = std::current_exception();
        Erro = FormatarMensagemErro("PrepararDataset") + kQuebra + "Tabela: " + NomeDataset + kQuebra + TextoSQL + kQuebra +
               MensagemDe(falha);
        RelancarComTexto(falha, Erro);
    }
}

}  // namespace ondaris::db
