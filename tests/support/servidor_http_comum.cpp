// The parts of the in-process HTTP server that are the same on every
// system: reading a received request's headers and building the programmed
// answers. The servers themselves are servidor_http.cpp (Linux) and
// tests/windows/servidor_http_win.cpp.
#include <algorithm>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "protocolo/texto.h"
#include "support/servidor_http.h"

namespace ondaris::teste {

std::optional<std::string> RequisicaoRecebida::Cabecalho(std::string_view nome) const {
    std::string procurado = protocolo::MinusculasAscii(nome);
    for (const auto& [n, v] : Cabecalhos)
        if (protocolo::MinusculasAscii(n) == procurado) return v;
    return std::nullopt;
}

std::vector<std::string> RequisicaoRecebida::NomesDosCabecalhos() const {
    std::vector<std::string> nomes;
    for (const auto& [n, v] : Cabecalhos) nomes.push_back(protocolo::MinusculasAscii(n));
    std::sort(nomes.begin(), nomes.end());
    return nomes;
}

RespostaProgramada RespostaProgramada::Json(std::string corpo, int status) {
    RespostaProgramada r;
    r.Status = status;
    r.Corpo = std::move(corpo);
    return r;
}

RespostaProgramada RespostaProgramada::Texto(std::string corpo, int status, std::string tipo) {
    RespostaProgramada r;
    r.Status = status;
    r.TipoConteudo = std::move(tipo);
    r.Corpo = std::move(corpo);
    return r;
}

RespostaProgramada RespostaProgramada::SemResposta() {
    RespostaProgramada r;
    r.Corte = TCorte::Fechar;
    return r;
}

RespostaProgramada RespostaProgramada::Reinicio() {
    RespostaProgramada r;
    r.Corte = TCorte::Reiniciar;
    return r;
}

RespostaProgramada RespostaProgramada::Redirecao(std::string destino, int status) {
    RespostaProgramada r;
    r.Status = status;
    r.TipoConteudo = "text/plain";
    r.Cabecalhos.emplace_back("Location", std::move(destino));
    return r;
}

}  // namespace ondaris::teste
