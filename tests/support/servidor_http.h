#pragma once
// An HTTP server inside the test process, standing in for the central
// server on 127.0.0.1 with a port the system picks. It answers each request
// with the next programmed answer (first in, first out) or, when none is
// queued, with the handler given to Manipulador; without either it answers
// 404 "nenhuma resposta programada". Every request is recorded as it
// arrived on the wire: method, target, version, every header, body bytes.
//
// An answer can carry any status, Content-Type (charset included) and body
// bytes, extra headers (a Location for redirects), a delay before it is
// written, to make a client time out, and a body written slowly, piece by
// piece, to make a transfer that keeps moving or stalls halfway; every wait
// is cut short when the server stops, so destruction never waits for it.
// Instead of an answer the connection can also be cut once the request has
// been read and recorded: closed (the client sees the end of the stream and
// no answer) or reset. A server can also read request bodies slowly (see
// TLeitura), so that a client can send only as fast as it reads. The server
// stops and joins its thread in the destructor.
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace ondaris::teste {

struct RequisicaoRecebida {
    std::string Metodo;
    std::string Caminho;  // the request target as sent, query included
    std::string Versao;   // "HTTP/1.1"
    std::vector<std::pair<std::string, std::string>> Cabecalhos;
    std::string Corpo;

    // The value of the first header of that name (case-insensitive).
    std::optional<std::string> Cabecalho(std::string_view nome) const;
    // Header names in lower case, sorted: to compare the whole set.
    std::vector<std::string> NomesDosCabecalhos() const;
};

struct RespostaProgramada {
    enum class TCorte { Nenhum, Fechar, Reiniciar };

    int Status = 200;
    std::string TipoConteudo = "application/json";  // whole Content-Type value; empty sends none
    std::string Corpo;
    std::vector<std::pair<std::string, std::string>> Cabecalhos;
    std::chrono::milliseconds Atraso{0};
    TCorte Corte = TCorte::Nenhum;  // not Nenhum: no answer at all
    // The body in pieces of `Pedaco` bytes, the first with the headers and
    // each further one `Intervalo` after the one before; 0: all at once.
    std::size_t Pedaco = 0;
    std::chrono::milliseconds Intervalo{0};

    static RespostaProgramada Json(std::string corpo, int status = 200);
    // The request is read, then the connection closed without an answer.
    static RespostaProgramada SemResposta();
    // The request is read, then the connection reset.
    static RespostaProgramada Reinicio();
    static RespostaProgramada Texto(std::string corpo, int status = 200, std::string tipo = "text/plain");
    static RespostaProgramada Redirecao(std::string destino, int status = 302);
};

// How a server reads request bodies: the first `Inicio` bytes `Pedaco` at a
// time, waiting `Intervalo` after each, through a receive buffer of about
// that size, so that the client's sending moves at that pace, then the rest
// as fast as it comes; `Pedaco` 0: the whole body as fast as it comes.
// (What the client's system has already taken from it must still leave
// before the answer can start; reading the end of a large body quickly
// keeps that from counting as a pause of the client.)
struct TLeitura {
    std::size_t Pedaco = 0;
    std::chrono::milliseconds Intervalo{0};
    std::size_t Inicio = std::numeric_limits<std::size_t>::max();
};

class ServidorHttp {
public:
    using Tratador = std::function<RespostaProgramada(const RequisicaoRecebida&)>;

    explicit ServidorHttp(TLeitura leitura = {});
    ~ServidorHttp();
    ServidorHttp(const ServidorHttp&) = delete;
    ServidorHttp& operator=(const ServidorHttp&) = delete;

    int Porta() const { return porta_; }
    // "http://127.0.0.1:<porta>/" followed by `caminho`.
    std::string Base(std::string_view caminho = "") const;

    void Responder(RespostaProgramada resposta);
    void Manipulador(Tratador tratador);

    std::vector<RequisicaoRecebida> Recebidas() const;
    std::size_t Quantidade() const;
    // The last request; throws std::logic_error when none arrived.
    RequisicaoRecebida Ultima() const;
    void LimparRecebidas();

    // A local port on which nothing listens: connecting to it is refused.
    static int PortaFechada();

private:
    struct Estado;
    std::unique_ptr<Estado> estado_;
    int porta_ = 0;
    std::thread linha_;
};

}  // namespace ondaris::teste
