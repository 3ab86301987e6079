#include "sync/retencao.h"

#include <cstdio>
#include <ctime>
#include <utility>

namespace ondaris::sync {

namespace {

std::string Formatar(int dia, int mes, int ano, int horas, int minutos, int segundos) {
    char texto[32];
    std::snprintf(texto, sizeof texto, "%02d/%02d/%04d %02d:%02d:%02d", dia, mes, ano, horas, minutos, segundos);
    return texto;
}

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

}  // namespace

std::string TextoMomento(std::chrono::system_clock::time_point momento) {
    const std::time_t t = std::chrono::system_clock::to_time_t(momento);
    std::tm local{};
    localtime_r(&t, &local);
    return Formatar(local.tm_mday, local.tm_mon + 1, local.tm_year + 1900, local.tm_hour, local.tm_min,
                    local.tm_sec);
}

std::string TextoMomento(const db::DataHora& m) {
    return Formatar(m.D.Dia, m.D.Mes, m.D.Ano, m.H.Horas, m.H.Minutos, m.H.Segundos);
}

std::string TextoPainelEnvioRetido(const std::string& desde, const db::TRetentorEnvio& quem) {
    return "Envio retido desde " + desde + " pela transação " + std::to_string(quem.Transacao) + " (" +
           Quem(quem, false) + "), ainda aberta";
}

std::string TextoRegistroEnvioRetido(const std::string& desde, std::int64_t limite, const db::TRetentorEnvio& quem) {
    std::string texto = "Envio retido desde " + desde + ": a transação " + std::to_string(quem.Transacao) +
                        " do banco da loja (" + Quem(quem, true) + ")";
    if (quem.Momento) texto += ", que registrou alterações a partir de " + TextoMomento(*quem.Momento) + ",";
    else texto += ", que registrou alterações,";
    texto += " ainda não terminou; as alterações registradas depois da posição " + std::to_string(limite) +
             " só serão enviadas quando ela for confirmada ou desfeita";
    return texto;
}

TVigiaEnvioRetido::TVigiaEnvioRetido(std::chrono::seconds aviso, TRelogio relogio)
    : aviso_(aviso), relogio_(std::move(relogio)) {
    if (!relogio_) relogio_ = [] { return std::chrono::system_clock::now(); };
}

void TVigiaEnvioRetido::Observar(const db::TIndicesEnvio& indices) {
    if (!indices.Retido()) {
        desde_.reset();
        ultimoRegistro_.reset();
        return;
    }
    // The same limit still held keeps its start; a limit that moved means
    // sending went on, and whatever holds it now starts afresh.
    if (!desde_ || limite_ != *indices.Limite) {
        desde_ = relogio_();
        limite_ = *indices.Limite;
        ultimoRegistro_.reset();
    }
    retentor_ = *indices.Retentor;
}

std::optional<TEnvioRetido> TVigiaEnvioRetido::Avaliar() {
    if (!desde_) return std::nullopt;
    const auto agora = relogio_();
    if (agora - *desde_ <= aviso_) return std::nullopt;
    const std::string desde = TextoMomento(*desde_);
    TEnvioRetido r;
    r.TextoPainel = TextoPainelEnvioRetido(desde, retentor_);
    if (!ultimoRegistro_ || agora - *ultimoRegistro_ >= kIntervaloRegistros) {
        r.Registro = TextoRegistroEnvioRetido(desde, limite_, retentor_);
        ultimoRegistro_ = agora;
    }
    return r;
}

}  // namespace ondaris::sync
