#include "db/posse.h"

#include <random>

#include "db/consulta.h"
#include "db/erros.h"
#include "db/fb.h"
#include "db/processo.h"

namespace ondaris::db {

namespace {

// "2026-12-10 19:40:00.1234" as "10/12/2026 19:40:00"; "" for NULL.
std::string Momento(const std::optional<std::string>& bruto) {
    if (!bruto || bruto->size() < 19) return bruto.value_or("");
    const std::string& s = *bruto;
    return s.substr(8, 2) + "/" + s.substr(5, 2) + "/" + s.substr(0, 4) + " " + s.substr(11, 8);
}

constexpr const char* kSqlLer =
    "SELECT CHAVE, PROGRAMA, MAQUINA, PROCESSO,\n"
    "CAST(DESDE AS VARCHAR(24)) AS DESDE, CAST(VALIDADE AS VARCHAR(24)) AS VALIDADE,\n"
    "IIF(VALIDADE IS NULL OR VALIDADE < CURRENT_TIMESTAMP, 1, 0) AS VENCIDA,\n"
    "PAINEL_RECEBIMENTO, PAINEL_ENVIO, CAST(PUBLICADO AS VARCHAR(24)) AS PUBLICADO,\n"
    "ULTIMA_FALHA, CAST(MOMENTO_FALHA AS VARCHAR(24)) AS MOMENTO_FALHA,\n"
    "IIF(MOMENTO_FALHA IS NOT NULL AND MOMENTO_FALHA = PUBLICADO, 1, 0) AS FALHOU\n"
    "FROM RPL_POSSE WHERE ID = 1";

std::optional<TDetentorPosse> Ler(Conexao& conexao, Transacao& t) {
    Consulta ler(conexao, t, kSqlLer, "TBPosse");
    if (!ler.Abrir()) return std::nullopt;
    TDetentorPosse d;
    d.Chave = ler.Ler<std::string>("CHAVE").value_or("");
    d.Programa = ler.Ler<std::string>("PROGRAMA").value_or("");
    d.Maquina = ler.Ler<std::string>("MAQUINA").value_or("");
    d.Processo = ler.Ler<std::int64_t>("PROCESSO").value_or(0);
    d.Desde = Momento(ler.Ler<std::string>("DESDE"));
    d.Validade = Momento(ler.Ler<std::string>("VALIDADE"));
    d.Vencida = ler.Ler<std::int64_t>("VENCIDA").value_or(1) != 0;
    d.PainelRecebimento = ler.Ler<std::string>("PAINEL_RECEBIMENTO").value_or("");
    d.PainelEnvio = ler.Ler<std::string>("PAINEL_ENVIO").value_or("");
    d.Publicado = Momento(ler.Ler<std::string>("PUBLICADO"));
    d.UltimaFalha = ler.Ler<std::string>("ULTIMA_FALHA");
    d.MomentoFalha = Momento(ler.Ler<std::string>("MOMENTO_FALHA"));
    d.FalhouNoUltimo = ler.Ler<std::int64_t>("FALHOU").value_or(0) != 0;
    return d;
}

// Our table is missing: the objects are older than this program.
[[noreturn]] void SemTabela(const ErroBanco& e) {
    throw ErroBanco(std::string("A tabela RPL_POSSE, que garante um único agente por banco, não pôde ser usada (") +
                    e.what() +
                    "): os objetos da replicação deste banco são de uma versão anterior à 4; rode "
                    "sql/replicacao.sql no banco como SYSDBA");
}

// Every statement of the claim names RPL_POSSE alone, so an unknown table or
// a missing right is that table's.
bool TabelaAusente(const ErroBanco& e) { return e.Contem(isc_dsql_relation_err) || e.Contem(isc_no_priv); }

}  // namespace

TIdentidadeAgente NovaIdentidade(std::string programa) {
    TIdentidadeAgente eu;
    eu.Programa = programa.empty() ? NomePrograma() : std::move(programa);
    eu.Maquina = NomeMaquina();
    eu.Processo = ProcessoAtual();
    std::random_device aleatorio;
    static constexpr char kHex[] = "0123456789abcdef";
    for (int i = 0; i < 32; ++i) eu.Chave += kHex[aleatorio() % 16];
    return eu;
}

std::string DescricaoDetentor(const TDetentorPosse& d) {
    std::string texto = d.Programa.empty() ? std::string("um agente") : d.Programa;
    if (!d.Maquina.empty()) texto += " na máquina " + d.Maquina;
    if (d.Processo != 0) texto += ", processo " + std::to_string(d.Processo);
    if (!d.Desde.empty()) texto += ", desde " + d.Desde;
    return texto;
}

TResultadoPosse ReivindicarPosse(Conexao& conexao, const TIdentidadeAgente& eu, std::chrono::seconds validade,
                                 const std::function<bool(std::int64_t)>& ativo) {
    const auto vivo = ativo ? ativo : std::function<bool(std::int64_t)>(ProcessoAtivo);
    // A claim races only with another agent's claim of the same instant,
    // which commits at once: a few attempts settle it.
    std::optional<TDetentorPosse> lida;
    for (int tentativa = 0; tentativa < 3; ++tentativa) {
        try {
            Transacao t(conexao, "TRPosse", OpcoesTransacao::Escrita());
            t.Iniciar();  // rolled back by its end unless committed
            lida = Ler(conexao, t);
            if (!lida) {
                // Someone deleted the row: it comes back, ours.
                Consulta inserir(conexao, t,
                                 "INSERT INTO RPL_POSSE (ID, CHAVE, PROGRAMA, MAQUINA, PROCESSO, DESDE, RENOVADA, "
                                 "VALIDADE)\nVALUES (1, :EU, :PROGRAMA, :MAQUINA, :PROCESSO, CURRENT_TIMESTAMP, "
                                 "CURRENT_TIMESTAMP, DATEADD(" +
                                     std::to_string(validade.count()) + " SECOND TO CURRENT_TIMESTAMP))");
                inserir.Definir("EU", eu.Chave);
                inserir.Definir("PROGRAMA", eu.Programa);
                inserir.Definir("MAQUINA", eu.Maquina);
                inserir.Definir("PROCESSO", eu.Processo);
                inserir.Executar();
                t.Commit();
                return {};
            }
            const bool nossa = lida->Chave == eu.Chave;
            const bool livre = lida->Chave.empty() || lida->Vencida;
            // On this machine a holder whose process is gone holds nothing.
            const bool morto = !nossa && !livre && !lida->Maquina.empty() && lida->Maquina == eu.Maquina &&
                               lida->Processo != eu.Processo && !vivo(lida->Processo);
            if (!nossa && !livre && !morto) return {lida, std::nullopt};
            // Compare and set: only the holder read here is replaced, and an
            // expired claim only while it is still expired.
            const std::string condicao =
                nossa ? "CHAVE = :EU"
                      : (morto ? "CHAVE = :LIDA"
                               : "CHAVE IS NOT DISTINCT FROM :LIDA AND (CHAVE IS NULL OR VALIDADE IS NULL OR "
                                 "VALIDADE < CURRENT_TIMESTAMP)");
            Consulta tomar(conexao, t,
                           "UPDATE RPL_POSSE SET\n"
                           "  DESDE = IIF(CHAVE IS NOT DISTINCT FROM :EU, DESDE, CURRENT_TIMESTAMP),\n"
                           "  PAINEL_RECEBIMENTO = IIF(CHAVE IS NOT DISTINCT FROM :EU, PAINEL_RECEBIMENTO, NULL),\n"
                           "  PAINEL_ENVIO = IIF(CHAVE IS NOT DISTINCT FROM :EU, PAINEL_ENVIO, NULL),\n"
                           "  PUBLICADO = IIF(CHAVE IS NOT DISTINCT FROM :EU, PUBLICADO, NULL),\n"
                           "  ULTIMA_FALHA = IIF(CHAVE IS NOT DISTINCT FROM :EU, ULTIMA_FALHA, NULL),\n"
                           "  MOMENTO_FALHA = IIF(CHAVE IS NOT DISTINCT FROM :EU, MOMENTO_FALHA, NULL),\n"
                           "  CHAVE = :EU, PROGRAMA = :PROGRAMA, MAQUINA = :MAQUINA, PROCESSO = :PROCESSO,\n"
                           "  RENOVADA = CURRENT_TIMESTAMP,\n"
                           "  VALIDADE = DATEADD(" +
                               std::to_string(validade.count()) +
                               " SECOND TO CURRENT_TIMESTAMP)\n"
                               "WHERE ID = 1 AND " +
                               condicao);
            tomar.Definir("EU", eu.Chave);
            tomar.Definir("PROGRAMA", eu.Programa);
            tomar.Definir("MAQUINA", eu.Maquina);
            tomar.Definir("PROCESSO", eu.Processo);
            if (!nossa) tomar.Definir("LIDA", lida->Chave);
            tomar.Executar();
            if (tomar.LinhasAfetadas() != 1) continue;  // changed since it was read: look again
            t.Commit();
            TResultadoPosse r;
            // A holder of this machine whose process is gone was a run of an
            // agent here that crashed or was killed: that has its own trace,
            // and a restarted service would say so after every power cut.
            if (!nossa && !lida->Chave.empty() && !morto) r.Anterior = lida;
            return r;
        } catch (const ErroConflitoBloqueio&) {
            continue;  // another agent is claiming it this instant
        } catch (const ErroBanco& e) {
            if (TabelaAusente(e)) SemTabela(e);
            throw;
        }
    }
    if (lida && !lida->Chave.empty() && lida->Chave != eu.Chave) return {lida, std::nullopt};
    throw ErroBanco("A posse do banco (RPL_POSSE) é disputada neste instante por outro agente; "
                    "a próxima sincronização tenta de novo");
}

bool PublicarPosse(Conexao& conexao, const std::string& chave, const std::string& recebimento,
                   const std::string& envio, const std::optional<std::string>& falha) {
    Transacao t(conexao, "TRPosse", OpcoesTransacao::Escrita());
    t.Iniciar();
    Consulta publicar(conexao, t,
                      std::string("UPDATE RPL_POSSE SET PAINEL_RECEBIMENTO = :RECEBIMENTO, PAINEL_ENVIO = :ENVIO,\n"
                                  "PUBLICADO = CURRENT_TIMESTAMP") +
                          (falha ? ", ULTIMA_FALHA = :FALHA, MOMENTO_FALHA = CURRENT_TIMESTAMP" : "") +
                          "\nWHERE ID = 1 AND CHAVE = :CHAVE");
    publicar.Definir("RECEBIMENTO", recebimento);
    publicar.Definir("ENVIO", envio);
    if (falha) publicar.Definir("FALHA", falha->empty() ? std::string("Falha sem mensagem") : *falha);
    publicar.Definir("CHAVE", chave);
    publicar.Executar();
    const bool nossa = publicar.LinhasAfetadas() == 1;
    t.Commit();
    return nossa;
}

bool LiberarPosse(Conexao& conexao, const std::string& chave) {
    Transacao t(conexao, "TRPosse", OpcoesTransacao::Escrita());
    t.Iniciar();
    Consulta liberar(conexao, t, "UPDATE RPL_POSSE SET CHAVE = NULL, VALIDADE = NULL WHERE ID = 1 AND CHAVE = :CHAVE");
    liberar.Definir("CHAVE", chave);
    liberar.Executar();
    const bool era = liberar.LinhasAfetadas() == 1;
    t.Commit();
    return era;
}

std::optional<TDetentorPosse> LerPosse(Conexao& conexao) {
    Transacao t(conexao, "TRPosseLeitura", OpcoesTransacao::Leitura());
    return Ler(conexao, t);
}

}  // namespace ondaris::db
