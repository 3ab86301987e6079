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

std::string MontarSQLQuerySEL(TDM& DM, std::string_view NomeTabela) {
    ExigirIdentificador(NomeTabela, "table");
    const std::string tabela(NomeTabela);
    const std::vector<TCampoCatalogo> campos = DM.CamposTabela(tabela, false);
    if (campos.empty()) throw ErroPreparacao("table " + tabela + " has no columns in the catalogue");
    ExigirChaveRegistravel(tabela, static_cast<std::size_t>(std::count_if(
                                       campos.begin(), campos.end(), [](const TCampoCatalogo& c) { return c.Chave; })));

    std::string parte1 = "SELECT L.ORDEM";
    std::string parte2;
    std::string juncao;
    const std::string where =
        " WHERE L.ORDEM BETWEEN :ORDEMINICIAL AND :ORDEMFINAL AND L.TABELA = " + LiteralSql(tabela);
    for (const auto& c : campos) {
        ExigirIdentificador(c.Campo, "column");
        parte2 += ", T." + c.Campo;
        if (!c.Chave) continue;
        // The first key column is logged in ATUALVALORCHAVE1, every further
        // one in ATUALVALORCHAVE2.
        if (juncao.empty())
            juncao = " INNER JOIN LOG_REPLICACAO L ON (T." + c.Campo + " = L.ATUALVALORCHAVE1)";
        else
            juncao += " AND (T." + c.Campo + " = L.ATUALVALORCHAVE2)";
    }
    if (juncao.empty())
        throw ErroPreparacao("table " + tabela + " has no primary key: its rows cannot be found from the log");
    return parte1 + parte2 + " FROM " + tabela + " T" + juncao + where + " ORDER BY ORDEM";
}

std::string MontarSQLQueryUI(TDM& DM, std::string_view NomeTabela) {
    ExigirIdentificador(NomeTabela, "table");
    const std::vector<std::string> campos = DM.TBEstrutura.CamposDaTabela(NomeTabela);
    if (campos.empty())
        throw ErroPreparacao("table " + std::string(NomeTabela) + " has no columns in the structure list");
    std::string comando = "UPDATE OR INSERT INTO " + std::string(NomeTabela) + "(";
    std::string parametros = " VALUES (";
    bool primeiro = true;
    for (const auto& campo : campos) {
        ExigirIdentificador(campo, "column");
        if (!primeiro) {
            comando += ", ";
            parametros += ", ";
        }
        comando += campo;
        parametros += ":" + campo;
        primeiro = false;
    }
    ExigirChaveRegistravel(std::string(NomeTabela), DM.CamposTabela(MaiusculasAscii(NomeTabela), true).size());
    return comando + ")" + parametros + ")";
}

std::string MontarSQLQueryDEL(TDM& DM, std::string_view NomeTabela) {
    ExigirIdentificador(NomeTabela, "table");
    const std::string tabela(NomeTabela);
    std::string comando = "DELETE FROM " + tabela;
    std::string where;
    const std::vector<TCampoCatalogo> chave = DM.CamposTabela(tabela, true);
    ExigirChaveRegistravel(tabela, chave.size());
    for (const auto& c : chave) {
        ExigirIdentificador(c.Campo, "column");
        where += where.empty() ? " WHERE " : " AND ";
        where += c.Campo + " = :" + c.Campo;
    }
    // Without a condition the delete would empty the whole table.
    if (where.empty())
        throw ErroPreparacao("table " + tabela + " has no primary key: a delete would have no condition");
    return comando + where;
}

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

        std::string texto;
        switch (TipoSQL) {
            case TTipoSQL::tsUpdateInsert: texto = MontarSQLQueryUI(DM, NomeTabela); break;
            case TTipoSQL::tsDelete: texto = MontarSQLQueryDEL(DM, NomeTabela); break;
            case TTipoSQL::tsSelect: texto = MontarSQLQuerySEL(DM, NomeTabela); break;
        }
        Transacao& transacao = TipoSQL == TTipoSQL::tsSelect ? DataModule.TransReplicacaoReadOnly
                                                               : DataModule.TransReplicacaoReadWrite;
        Consulta& consulta = DataModule.Criar(NomeDataset, transacao, texto);
        TextoSQL = texto + kQuebra;
        if (TipoSQL == TTipoSQL::tsUpdateInsert && !transacao.Ativa()) transacao.Iniciar();
        consulta.Preparar();
        if (TipoSQL == TTipoSQL::tsSelect) {
            consulta.DefinirInt64("ORDEMINICIAL", OrdemInicial);
            consulta.DefinirInt64("ORDEMFINAL", OrdemFinal);
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
