#include "sync/retencao.h"

#include <cstdio>

namespace ondaris::sync {

namespace {

// "usuário X, conexão N, endereço E, programa P": what is known of it.
std::string Quem(const db::TRetentorEnvio& quem, bool completo) {
    std::string texto = "usuário " + (quem.Usuario.empty() ? std::string("desconhecido") : quem.Usuario);
    if (quem.Conexao) texto += ", conexão " + std::to_string(*quem.Conexao);
    if (completo) {
        if (!quem.Endereco.empty()) texto += ", endereço " + quem.Endereco;
        if (!quem.Programa.empty()) texto += ", programa " + quem.Programa;
    }
    return texto;
}

std::chrono::milliseconds DesdeAEpoca(const protocolo::DataHora& m) {
    using namespace std::chrono;
    const sys_days dia{year{m.D.Ano} / month{static_cast<unsigned>(m.D.Mes)} / day{static_cast<unsigned>(m.D.Dia)}};
    return duration_cast<milliseconds>(dia.time_since_epoch()) + hours{m.H.Horas} + minutes{m.H.Minutos} +
           seconds{m.H.Segundos} + milliseconds{m.H.DecimosMilesimos / 10};
}

}  // namespace

std::string TextoMomento(const protocolo::DataHora& m) {
    char texto[32];
    std::snprintf(texto, sizeof texto, "%02d/%02d/%04d %02d:%02d:%02d", m.D.Dia, m.D.Mes, m.D.Ano, m.H.Horas,
                  m.H.Minutos, m.H.Segundos);
    return texto;
}

std::chrono::milliseconds Intervalo(const protocolo::DataHora& de, const protocolo::DataHora& ate) {
    return DesdeAEpoca(ate) - DesdeAEpoca(de);
}

std::string TextoPainelEnvioRetido(const db::TRetentorEnvio& quem) {
    return "Envio retido desde " + TextoMomento(*quem.Momento) + " pela transação " + std::to_string(quem.Transacao) +
           " (" + Quem(quem, false) + "), ainda aberta";
}

std::string TextoRegistroEnvioRetido(std::int64_t limite, const db::TRetentorEnvio& quem) {
    return "Envio retido desde " + TextoMomento(*quem.Momento) + ", quando a transação " +
           std::to_string(quem.Transacao) + " do banco da loja (" + Quem(quem, true) +
           ") registrou sua primeira alteração: ela ainda não terminou, e as alterações registradas depois da "
           "posição " + std::to_string(limite) + " só serão enviadas quando ela for confirmada ou desfeita";
}

std::optional<std::chrono::milliseconds> TempoEnvioRetido(const db::TIndicesEnvio& indices) {
    if (!indices.Retido() || !indices.Retentor->Momento || !indices.MomentoServidor) return std::nullopt;
    return Intervalo(*indices.Retentor->Momento, *indices.MomentoServidor);
}

std::optional<TEnvioRetido> AvaliarEnvioRetido(const db::TIndicesEnvio& indices, std::chrono::seconds aviso) {
    const auto tempo = TempoEnvioRetido(indices);
    if (!tempo || *tempo <= aviso) return std::nullopt;
    return TEnvioRetido{TextoPainelEnvioRetido(*indices.Retentor),
                        TextoRegistroEnvioRetido(*indices.Limite, *indices.Retentor)};
}

}  // namespace ondaris::sync
