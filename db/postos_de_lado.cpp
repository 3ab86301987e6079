#include "db/postos_de_lado.h"

#include <cstdio>

#include "db/consulta.h"

namespace ondaris::db {

std::optional<TLinhaLogPostaDeLado> PorDeLadoLinhaLog(Conexao& conexao, std::int64_t ordem,
                                                      const std::string& motivo) {
    Transacao t(conexao, "TRPorDeLadoLinhaLog", OpcoesTransacao::Escrita().Instantanea());
    t.Iniciar();  // rolled back by its end unless committed below
    TLinhaLogPostaDeLado r;
    {
        Consulta ler(conexao, t,
                     "SELECT ORDEM, TIPO, TABELA, ATUALVALORCHAVE1, ATUALVALORCHAVE2 FROM LOG_REPLICACAO\n"
                     "WHERE ORDEM = :ORDEM WITH LOCK");
        ler.Definir("ORDEM", ordem);
        if (!ler.Abrir()) return std::nullopt;
        r.Ordem = ordem;
        r.Tipo = ler.Ler<std::string>("TIPO").value_or("");
        r.Tabela = ler.Ler<std::string>("TABELA").value_or("");
        r.Chave1 = ler.Ler<std::string>("ATUALVALORCHAVE1").value_or("");
        r.Chave2 = ler.Ler<std::string>("ATUALVALORCHAVE2").value_or("");
        ler.Fechar();

        Consulta gravar(conexao, t,
                        "INSERT INTO RPL_POSTOS_DE_LADO (LADO, ORDEM, MOTIVO, CODIGOLOJAORIGEM, CODIGOLOJADESTINO,\n"
                        "TIPO, TABELA, ATUALVALORCHAVE1, ATUALVALORCHAVE2, NOVOVALORCHAVE1, OCORRENCIA_LOCAL,\n"
                        "ID_TRANSACAO)\n"
                        "SELECT 'E', ORDEM, CAST(:MOTIVO AS BLOB SUB_TYPE TEXT CHARACTER SET UTF8), CODIGOLOJAORIGEM,\n"
                        "CODIGOLOJADESTINO, TIPO, TABELA, ATUALVALORCHAVE1, ATUALVALORCHAVE2, NOVOVALORCHAVE1,\n"
                        "OCORRENCIA_LOCAL, ID_TRANSACAO FROM LOG_REPLICACAO WHERE ORDEM = :ORDEM");
        gravar.Definir("MOTIVO", motivo);
        gravar.Definir("ORDEM", ordem);
        gravar.Executar();
        Consulta apagar(conexao, t, "DELETE FROM LOG_REPLICACAO WHERE ORDEM = :ORDEM");
        apagar.Definir("ORDEM", ordem);
        apagar.Executar();
        if (apagar.LinhasAfetadas() != 1)
            throw ErroBanco("a linha de ordem " + std::to_string(ordem) + " sumiu do LOG_REPLICACAO durante o comando");
    }
    t.Commit();
    return r;
}

TPostosDeLado LerPostosDeLado(Conexao& conexao, int quantos) {
    TPostosDeLado r;
    Transacao t(conexao, "TRPostosDeLado", OpcoesTransacao::Leitura());
    {
        Consulta contar(conexao, t,
                        "SELECT COALESCE(SUM(IIF(LADO = 'R', 1, 0)), 0) AS RECEBIDOS,\n"
                        "COALESCE(SUM(IIF(LADO = 'E', 1, 0)), 0) AS ENVIADOS FROM RPL_POSTOS_DE_LADO");
        contar.Abrir();
        r.Recebidos = contar.Ler<std::int64_t>("RECEBIDOS").value_or(0);
        r.Enviados = contar.Ler<std::int64_t>("ENVIADOS").value_or(0);
    }
    if (quantos < 1 || r.Recebidos + r.Enviados == 0) return r;
    Consulta ultimos(conexao, t,
                     "SELECT FIRST (:QUANTOS) LADO, ORDEM, CAST(MOMENTO AS VARCHAR(24)) AS QUANDO, TABELA,\n"
                     "ATUALVALORCHAVE1, ATUALVALORCHAVE2 FROM RPL_POSTOS_DE_LADO ORDER BY MOMENTO DESC, ORDEM DESC");
    ultimos.Definir("QUANTOS", quantos);
    for (bool ha = ultimos.Abrir(); ha; ha = ultimos.Proximo()) {
        TPostoDeLado p;
        p.Recebido = ultimos.Ler<std::string>("LADO").value_or("") == "R";
        p.Ordem = ultimos.Ler<std::int64_t>("ORDEM").value_or(0);
        p.Momento = ultimos.Ler<std::string>("QUANDO").value_or("").substr(0, 19);
        const std::string tabela = ultimos.Ler<std::string>("TABELA").value_or("");
        if (!tabela.empty()) {
            p.Descricao = tabela;
            if (const auto c1 = ultimos.Ler<std::string>("ATUALVALORCHAVE1")) {
                p.Descricao += " (" + *c1;
                if (const auto c2 = ultimos.Ler<std::string>("ATUALVALORCHAVE2")) p.Descricao += ", " + *c2;
                p.Descricao += ")";
            }
        }
        r.Ultimos.push_back(std::move(p));
    }
    return r;
}

}  // namespace ondaris::db
