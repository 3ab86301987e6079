#include "db/construtores.h"

#include "db/mensagens.h"
#include "protocolo/texto.h"

#include <algorithm>
#include <exception>
#include <vector>

namespace ondaris::db {
using protocolo::IdentificadorValido;
using protocolo::LiteralSql;
using protocolo::MaiusculasAscii;

namespace {

constexpr const char* kQuebra = "\r\n";


// A name shown in a refusal: the name itself is harmless in a message, but
// a control character would break the log's lines.
std::string Mostrar(std::string_view nome) {
    std::string r = "\"";
    for (char c : nome) r += (static_cast<unsigned char>(c) < 32) ? '?' : c;
    return r + "\"";
}

void ExigirIdentificador(std::string_view nome, bool deTabela) {
    if (!IdentificadorValido(nome)) throw ErroPreparacao(NomeNaoSimples(deTabela, Mostrar(nome)));
}

// The change log carries two key values: the first key column's and one
// for all the others. A key of three or more columns cannot name its row
// there, so such a table is refused as a whole rather than replicated by a
// partial key (where a delete would remove another row).
void ExigirChaveRegistravel(const std::string& tabela, std::size_t colunasChave) {
    if (colunasChave > kMaximoColunasChave)
        throw ErroPreparacao(ChaveLongaDemais(tabela, colunasChave, kMaximoColunasChave));
}

}  // namespace

const char* SufixoTipoSQL(TTipoSQL tipo) {
    switch (tipo) {
        case TTipoSQL::tsUpdateInsert: return "_UI";
        case TTipoSQL::tsDelete: return "_DEL";
        case TTipoSQL::tsSelect: return "_SEL";
    }
    throw ErroUso("tipo de comando desconhecido: " + std::to_string(static_cast<int>(tipo)));
}

namespace {

constexpr int kTipoBlob = 261;           // RDB$FIELD_TYPE of a blob
constexpr unsigned kMensagemMaxima = 65535;  // the largest row message the server builds
// Per column of a row message at most: its NULL indicator, a VARCHAR's
// length and the alignment before the next value.
constexpr unsigned kSobraPorColuna = 12;
// Left free in a row message whatever the estimate says.
constexpr unsigned kReservaMensagem = 1024;

// A blob whose stored bytes are what reading it gives: binary blobs, and
// text blobs in the connection's own character set (ISO8859_1), in NONE or
// in OCTETS. Text in any other character set is transliterated when the
// blob is read, so its stored bytes would not be the same text.
bool BlobEmLinha(const TCampoCatalogo& c) {
    if (c.Tipo != kTipoBlob) return false;
    return c.SubTipo != 1 || c.ConjuntoCaracteres == static_cast<int>(kCharsetNone) ||
           c.ConjuntoCaracteres == static_cast<int>(kCharsetOctets) ||
           c.ConjuntoCaracteres == static_cast<int>(kCharsetLatin1);
}

// The inline length that keeps the row message within its limit: what the
// table's columns leave free, shared among the blobs that come inline, at
// most kBytesBlobEmLinha; 0 when nothing is left.
unsigned BytesEmLinha(const std::vector<TCampoCatalogo>& campos) {
    unsigned ocupados = kReservaMensagem + 8 + kSobraPorColuna;  // ORDEM
    unsigned blobs = 0;
    for (const auto& c : campos) {
        ocupados += static_cast<unsigned>(std::max(c.Tamanho, 8)) + kSobraPorColuna;
        if (BlobEmLinha(c)) ++blobs;
    }
    if (blobs == 0 || ocupados >= kMensagemMaxima) return 0;
    const unsigned porBlob = (kMensagemMaxima - ocupados) / blobs;
    if (porBlob <= kSobraPorColuna) return 0;
    return std::min(kBytesBlobEmLinha, porBlob - kSobraPorColuna);
}

}  // namespace

std::string MontarSQLQuerySEL(std::string_view NomeTabela, const std::vector<TCampoCatalogo>& campos) {
    ExigirIdentificador(NomeTabela, true);
    const std::string tabela(NomeTabela);
    if (campos.empty()) throw ErroPreparacao(TabelaSemColunas(tabela, false));
    ExigirChaveRegistravel(tabela, static_cast<std::size_t>(std::count_if(
                                       campos.begin(), campos.end(), [](const TCampoCatalogo& c) { return c.Chave; })));

    std::string colunas;
    std::string juncao;
    for (const auto& c : campos) {
        ExigirIdentificador(c.Campo, false);
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
        throw ErroPreparacao(TabelaSemChave(tabela, false));
    // After the table's columns, one more per blob column: its bytes when
    // they are few, so that the row brings them along instead of a call to
    // read the blob; NULL otherwise (a NULL or longer blob, or one whose
    // bytes would not be its text).
    const unsigned emLinha = BytesEmLinha(campos);
    for (const auto& c : campos) {
        if (c.Tipo != kTipoBlob) continue;
        if (emLinha > 0 && BlobEmLinha(c)) {
            const std::string n = std::to_string(emLinha);
            colunas += ", CASE WHEN OCTET_LENGTH(T." + c.Campo + ") <= " + n + " THEN CAST(T." + c.Campo +
                       " AS VARCHAR(" + n + ") CHARACTER SET OCTETS) END";
        } else {
            colunas += ", CAST(NULL AS VARCHAR(1) CHARACTER SET OCTETS)";
        }
    }
    return "SELECT L.ORDEM" + colunas + " FROM " + tabela + " T" + juncao +
           " WHERE L.ORDEM BETWEEN :ORDEMINICIAL AND :ORDEMFINAL AND L.TABELA = " + LiteralSql(tabela) +
           " ORDER BY ORDEM";
}

std::string MontarComandoRecebido(TTipoSQL tipo, std::string_view NomeTabela, const std::vector<std::string>& colunas,
                                  const std::vector<std::string>& parametros) {
    if (tipo == TTipoSQL::tsSelect) throw ErroUso("um comando recebido grava ou exclui, não seleciona");
    if (parametros.size() != colunas.size())
        throw ErroUso("um comando recebido precisa de um parâmetro por coluna (" + std::to_string(colunas.size()) +
                      " colunas, " + std::to_string(parametros.size()) + " parâmetros)");
    ExigirIdentificador(NomeTabela, true);
    const std::string tabela(NomeTabela);
    const bool exclusao = tipo == TTipoSQL::tsDelete;
    // Without a condition a delete would empty the whole table.
    if (colunas.empty())
        throw ErroPreparacao(exclusao ? TabelaSemChave(tabela, true) : TabelaSemColunas(tabela, true));
    std::string nomes, valores, condicao;
    for (std::size_t i = 0; i < colunas.size(); ++i) {
        ExigirIdentificador(colunas[i], false);
        const char* separador = i ? ", " : "";
        nomes += separador + colunas[i];
        valores += separador + (":" + parametros[i]);
        condicao += (i ? " AND " : " WHERE ") + colunas[i] + " = :" + parametros[i];
    }
    if (exclusao) return "DELETE FROM " + tabela + condicao;
    return "UPDATE OR INSERT INTO " + tabela + "(" + nomes + ") VALUES (" + valores + ")";
}

std::string MontarSQLQueryUI(std::string_view NomeTabela, const std::vector<std::string>& colunas,
                             const std::vector<std::string>& chave) {
    std::string texto = MontarComandoRecebido(TTipoSQL::tsUpdateInsert, NomeTabela, colunas, colunas);
    ExigirChaveRegistravel(std::string(NomeTabela), chave.size());
    return texto;
}

std::string MontarSQLQueryDEL(std::string_view NomeTabela, const std::vector<std::string>& chave) {
    ExigirIdentificador(NomeTabela, true);
    ExigirChaveRegistravel(std::string(NomeTabela), chave.size());
    return MontarComandoRecebido(TTipoSQL::tsDelete, NomeTabela, chave, chave);
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
    ExigirIdentificador(NomeTabela, true);
    const std::string tabela(NomeTabela);
    switch (TipoSQL) {
        case TTipoSQL::tsUpdateInsert:
            return MontarSQLQueryUI(tabela, DM.TBEstrutura().CamposDaTabela(tabela),
                                    Nomes(DM.Catalogo().Campos(MaiusculasAscii(tabela), true)));
        case TTipoSQL::tsDelete: return MontarSQLQueryDEL(tabela, Nomes(DM.Catalogo().Campos(tabela, true)));
        case TTipoSQL::tsSelect: return MontarSQLQuerySEL(tabela, DM.Catalogo().Campos(tabela, false));
    }
    throw ErroUso("tipo de comando desconhecido: " + std::to_string(static_cast<int>(TipoSQL)));
}

}  // namespace

Consulta& ComandoDaTabelaPronto(TDM& DM, TModuloOperacao& DataModule, std::string_view NomeTabela, TTipoSQL TipoSQL,
                          std::int64_t OrdemInicial, std::int64_t OrdemFinal) {
    std::string NomeDataset;
    std::string TextoSQL;
    try {
        NomeDataset = "TB" + std::string(NomeTabela) + SufixoTipoSQL(TipoSQL);
        // The table name is checked before it names anything: the cache's
        // name rule alone would let "TB" + a long name through.
        ExigirIdentificador(NomeTabela, true);
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
    } catch (...) {
        FalhaDaRotina("PrepararDataset", std::string(kQuebra) + "Tabela: " + NomeDataset + kQuebra + TextoSQL + kQuebra);
    }
}

}  // namespace ondaris::db
