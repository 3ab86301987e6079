#pragma once
// The system's side of one HTTP exchange, under ExecutarRequisicao
// (sync/requisicao.cpp): libcurl on Linux (requisicao_posix.cpp), WinHTTP on
// Windows (requisicao_win.cpp). Only sync/requisicao.cpp uses it.
//
// ExecutarRequisicao decides everything that the central server and the log
// see: the headers, the time allowed, which redirects are followed, how the
// body is decoded and every failure text. A transport carries one request
// to one address, follows no redirect, keeps no connection, and reports what
// came back, or throws TFalhaTransporte with its own description of why
// nothing usable came back.
#include <chrono>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ondaris::sync::transporte {

struct TPedidoHttp {
    std::string Metodo;    // GET, PUT or any other token
    std::string Endereco;  // absolute address, scheme included
    std::string Corpo;     // sent as it is; GET and HEAD carry none when empty
    // Every header to send, in order; the transport adds only what HTTP
    // itself needs (Host, Content-Length, Connection).
    std::vector<std::pair<std::string, std::string>> Cabecalhos;
    // For establishing the connection (name, TCP and, for https, TLS).
    std::chrono::milliseconds LimiteConexao{0};
    // Once connected, for each wait in which nothing moves: the exchange
    // ends when no byte has been sent or received for this long, however
    // long it has lasted while bytes kept moving.
    std::chrono::milliseconds LimiteResposta{0};
};

struct TRespostaHttp {
    long Status = 0;
    std::string FraseStatus;   // reason phrase as received; may be empty
    std::string VersaoHTTP;    // "1.0", "1.1", "2.0", "3" or empty when unknown
    std::string TipoConteudo;  // the Content-Type value as received; empty without one
    std::string Corpo;         // bytes as received
    // For a redirect status with a Location: its target as an absolute
    // address (a relative one resolved against the request's); else empty.
    std::string Destino;
};

// No usable answer: refused, time-out, name not found, broken transfer,
// an address the transport cannot use. what() is the cause in the
// transport's own words; ExecutarRequisicao names the request after it.
class TFalhaTransporte : public std::runtime_error {
public:
    explicit TFalhaTransporte(const std::string& causa) : std::runtime_error(causa) {}
};

// Throws TFalhaTransporte.
TRespostaHttp Executar(const TPedidoHttp& pedido);

// Where an address leads: its scheme and host in lower case and its port,
// the scheme's default when none is written.
struct TOrigem {
    std::string Esquema;
    std::string Servidor;
    int Porta = 0;
};

// Nothing when the address cannot be parsed.
std::optional<TOrigem> Origem(const std::string& endereco);

// `bytes` in the character set `charset` (neither UTF-8 nor Latin-1, which
// the caller decodes itself) as UTF-8; a byte sequence that is not valid in
// it is marked with U+FFFD. Nothing when the system does not know the set.
std::optional<std::string> ParaUTF8(std::string_view bytes, const std::string& charset);

}  // namespace ondaris::sync::transporte
