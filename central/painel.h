#pragma once
// The chain operator's view of the central server:
//
//   GET /         sends the browser on to /painel
//   GET /painel   one self-contained HTML page (inline CSS, no script; it
//                 reloads itself): every store, stalled ones first
//   GET /metrics  the same figures in Prometheus' text format, plus the
//                 requests answered by this process per endpoint and status
//
// The page lives at its own name so that the root stays free and a link to
// it says what it is; the root only redirects, so that typing the server's
// address in a browser finds it.
//
// A store is stalled ("parada") when, for longer than the limit (15 min by
// default: several of the agent's 2-minute cycles):
// - its sending is held: it reports more log than the server holds and the
//   acknowledged position does not move (EstadoLoja::EnvioParadoDesde);
// - it has not made any request (no contact);
// - it is served commands but asks again from the same position: its
//   receiving does not move (EstadoLoja::RecebimentoParadoDesde).
// Shorter spells are normal: a store between its report and its block, or
// between a block and its next request.
//
// Everything a store sent (refusal texts quote it; conflict keys are its
// data) is escaped before it reaches the page.
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "central/armazem.h"
#include "central/credenciais.h"
#include "central/http.h"

namespace ondaris::central {

using RelogioPainel = std::function<std::chrono::system_clock::time_point()>;

struct OpcoesPainel {
    std::chrono::seconds LimiteParada{15 * 60};
    std::chrono::seconds Atualizacao{30};  // the page reloads itself this often
    RelogioPainel Relogio;                 // empty: the system clock
};

// One store as the page shows it.
struct LojaNoPainel {
    EstadoLoja Estado;
    OcorrenciasLoja Ocorrencias;
    std::vector<std::string> MotivosParada;  // empty: not stalled
};

// What the page and the metrics show, read once.
struct FotoCentral {
    std::chrono::system_clock::time_point Agora;
    std::chrono::seconds LimiteParada{0};
    std::vector<LojaNoPainel> Lojas;  // stalled first, then by code
    OcorrenciasLoja SemLoja;          // refusals of codes no store has used
    ConflitosRegistrados Conflitos;
    std::int64_t Paradas = 0;
    std::int64_t ComandosAguardando = 0;
};

// Why the store is stalled at `agora` (see above), one text per reason;
// empty when it is not.
std::vector<std::string> MotivosParada(const EstadoLoja& e, std::chrono::system_clock::time_point agora,
                                       std::chrono::seconds limite);

// `semCredencial`: the stores the operator admits without credentials.
FotoCentral Fotografar(Armazem& armazem, std::chrono::system_clock::time_point agora, std::chrono::seconds limite,
                       const std::set<std::int32_t>& semCredencial = {});

std::string PaginaPainel(const FotoCentral& foto, std::chrono::seconds atualizacao);

// Requests answered by this process, per endpoint and status.
class ContadorRequisicoes {
public:
    void Contar(const std::string& caminho, int status);
    std::map<std::pair<std::string, int>, std::int64_t> Valores() const;

    // The endpoint a path belongs to: its first segment when it is one of
    // the server's, "raiz" for "/", "outro" for anything else (so that
    // made-up paths cannot grow the list).
    static std::string Endpoint(std::string_view caminho);

private:
    mutable std::mutex Mutex_;
    std::map<std::pair<std::string, int>, std::int64_t> Valores_;
};

std::string TextoMetricas(const FotoCentral& foto, const ContadorRequisicoes& requisicoes);

// Text made safe for HTML content and attribute values.
std::string EscaparHtml(std::string_view texto);
// A Prometheus label value: backslash, double quote and line feed escaped.
std::string EscaparRotulo(std::string_view texto);

class Painel {
public:
    explicit Painel(Armazem& armazem, OpcoesPainel opcoes = {});

    // Installs GET /, /painel and /metrics, and counts every answer the
    // server gives (its post-routing handler).
    void Registrar(ServidorHttp& servidor);
    // Where the page learns which stores are admitted without credentials.
    void DefinirCredenciais(Credenciais* credenciais) { Credenciais_ = credenciais; }

private:
    FotoCentral Foto();

    std::chrono::system_clock::time_point Agora() const;

    Armazem& Armazem_;
    OpcoesPainel Opcoes_;
    ContadorRequisicoes Requisicoes_;
    Credenciais* Credenciais_ = nullptr;
};

}  // namespace ondaris::central
