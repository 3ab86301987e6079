#include "db/log_replicacao.h"

namespace ondaris::db {
using protocolo::DataHora;

const char* const TLogReplicacao::kSqlUltimoMovimentoLoja =
    "SELECT COALESCE(MAX(ORDEM), 0) AS ULTIMAORDEM\n"
    "FROM LOG_REPLICACAO";

// The server's time comes with the answer, read by the same statement: how
// long a reservation has held sending is measured on the clock that dated
// it, never against this machine's.
const char* const TLogReplicacao::kSqlRetornaIndices =
    "SELECT P.*, CAST(CURRENT_TIMESTAMP AS TIMESTAMP) AS MOMENTO_SERVIDOR\n"
    "FROM PROC_RETORNA_INDICE(:ORDEM, :CODIGOLOJA, :QTDCOMANDOS) P";

const char* const TLogReplicacao::kSqlLogReplicacao =
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

TLogReplicacao::TLogReplicacao(Conexao& conexao, Transacao& transacao)
    : ultimoMovimento_(conexao, transacao, kSqlUltimoMovimentoLoja, "TBUltimoMovimentoLoja"),
      indices_(conexao, transacao, kSqlRetornaIndices, "TBRetornaIndices") {}

std::int64_t TLogReplicacao::UltimoMovimentoLoja() {
    if (!ultimoMovimento_.Abrir()) throw ErroBanco("a consulta da última posição do log não devolveu nenhuma linha");
    const auto v = ultimoMovimento_.Ler<std::int64_t>("ULTIMAORDEM");
    ultimoMovimento_.Fechar();
    return v.value_or(0);
}

TIndicesEnvio TLogReplicacao::RetornaIndices(std::int64_t ordem, std::int32_t quantidade) {
    indices_.Fechar();
    indices_.Definir("ORDEM", ordem);
    indices_.Definir("CODIGOLOJA", Valor());
    indices_.Definir("QTDCOMANDOS", quantidade);
    if (!indices_.Abrir()) throw ErroBanco("PROC_RETORNA_INDICE não devolveu nenhuma linha");
    TIndicesEnvio r;
    r.OrdemInicial = indices_.Ler<std::int64_t>("ORDEMINICIAL").value_or(0);
    r.OrdemFinal = indices_.Ler<std::int64_t>("ORDEMFINAL").value_or(0);
    r.UltimaOrdem = indices_.Ler<std::int64_t>("ULTIMAORDEM").value_or(0);
    r.MomentoServidor = indices_.Ler<DataHora>("MOMENTO_SERVIDOR");
    // The limit and its holder come from the procedure of the current
    // script; a database prepared with an earlier one just does not say.
    if (indices_.IndiceColuna("LIMITE")) {
        r.Limite = indices_.Ler<std::int64_t>("LIMITE");
        if (const auto transacao = indices_.Ler<std::int64_t>("RETENTOR_TRANSACAO")) {
            TRetentorEnvio quem;
            quem.Transacao = *transacao;
            quem.Conexao = indices_.Ler<std::int64_t>("RETENTOR_CONEXAO");
            quem.Usuario = indices_.Ler<std::string>("RETENTOR_USUARIO").value_or("");
            quem.Endereco = indices_.Ler<std::string>("RETENTOR_ENDERECO").value_or("");
            quem.Programa = indices_.Ler<std::string>("RETENTOR_PROGRAMA").value_or("");
            quem.Momento = indices_.Ler<DataHora>("RETENTOR_MOMENTO");
            r.Retentor = std::move(quem);
        }
    }
    indices_.Fechar();
    return r;
}

}  // namespace ondaris::db
