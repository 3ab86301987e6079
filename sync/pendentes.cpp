#include "sync/pendentes.h"

#include <algorithm>
#include <utility>

#include "protocolo/texto.h"
#include "sync/enviar.h"

namespace ondaris::sync {
using protocolo::IdentidadeDe;

namespace {

constexpr const char* kNomeConsulta = "TBAlteracoesPendentes";
constexpr const char* kSqlPendentes =
    "SELECT TABELA, ATUALVALORCHAVE1, ATUALVALORCHAVE2 FROM LOG_REPLICACAO WHERE ORDEM > :ORDEM";

// Rows read again by one Atualizar beyond which the limit is asked anew.
constexpr std::size_t kReleituraLonga = 256;

}  // namespace

void TAlteracoesPendentes::Esquecer() {
    preparado_ = longa_ = false;
    confirmada_ = assentada_ = 0;
    chaves_.clear();
}

std::int64_t TAlteracoesPendentes::Limite(db::TDM& DM) const {
    const db::TIndicesEnvio indices = DM.LogReplicacao().RetornaIndices(confirmada_, 1);
    // Objects of an older script do not say: everything above the
    // acknowledged position is then read again each time.
    return std::max(confirmada_, indices.Limite.value_or(confirmada_));
}

void TAlteracoesPendentes::Preparar(db::TDM& DM, db::TModuloOperacao& modulo, std::int64_t confirmada,
                                    const protocolo::TConfiguracoesRegionais& regional) {
    if (preparado_ && confirmada_ == confirmada) {
        // A later block of the run: what was committed since comes in, so
        // that its commands are judged knowing of it.
        Atualizar(DM, modulo, regional);
        return;
    }
    Esquecer();
    confirmada_ = confirmada;
    // The limit first: whatever lies at or below it is committed by the
    // time the rows are read.
    const std::int64_t limite = Limite(DM);
    Ler(modulo, confirmada_, regional, nullptr);
    assentada_ = limite;
    preparado_ = true;
}

std::vector<std::string> TAlteracoesPendentes::Atualizar(db::TDM& DM, db::TModuloOperacao& modulo,
                                                         const protocolo::TConfiguracoesRegionais& regional) {
    std::vector<std::string> novas;
    if (!preparado_) return novas;
    // The limit before the rows, as in Preparar.
    std::optional<std::int64_t> limite;
    if (longa_) limite = Limite(DM);
    longa_ = Ler(modulo, assentada_, regional, &novas) > kReleituraLonga;
    if (limite) assentada_ = std::max(assentada_, *limite);
    return novas;
}

std::size_t TAlteracoesPendentes::Ler(db::TModuloOperacao& modulo, std::int64_t desde,
                                      const protocolo::TConfiguracoesRegionais& regional,
                                      std::vector<std::string>* novas) {
    db::Consulta* consulta = modulo.Procurar(kNomeConsulta);
    if (!consulta) consulta = &modulo.Criar(kNomeConsulta, modulo.TransReplicacaoReadWrite, kSqlPendentes);
    auto& transacao = consulta->TransacaoDona();
    if (!transacao.Ativa()) transacao.Iniciar();
    consulta->Definir("ORDEM", desde);
    const auto& colunas = consulta->Colunas();
    const auto texto = [&](std::size_t i) {
        return TextoDoValorBanco(consulta->Ler(i), colunas[i], regional).value_or(std::string());
    };
    std::size_t lidas = 0;
    for (bool tem = consulta->Abrir(); tem; tem = consulta->Proximo()) {
        ++lidas;
        std::string chave = IdentidadeDe(texto(0), texto(1), texto(2)).Chave();
        if (chaves_.insert(chave).second && novas) novas->push_back(std::move(chave));
    }
    return lidas;
}

}  // namespace ondaris::sync
