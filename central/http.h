#pragma once
// The central server's HTTP transport: cpp-httplib's server with the
// protections a server shared by many stores needs, so that no client can
// hold it up for the others.
//
// - One request per connection: the answer carries "Connection: close" and
//   the connection ends after it (store agents open a new connection for
//   every request anyway), so an idle client never keeps a thread.
// - A client is charged only for the time the server waits on it: reading
//   the request may wait, in all, `Carencia` plus one second for every
//   `TaxaMinima` bytes moved so far, and so may writing the answer. Beyond
//   that the connection ends (with a 408 answer when the request line had
//   arrived). A client trickling one byte a second thus holds a thread for
//   about `Carencia`, while a slow but steady link moving a large block is
//   never cut. Time spent by the server itself (waiting for the store of
//   commands, building an answer) is not charged.
// - A bounded pool of `Threads` threads serves the connections; when all
//   are busy, at most `FilaConexoes` accepted connections wait for one, and
//   further clients wait in the system's backlog until there is room.
// - A body over `TamanhoMaximoCorpo` bytes is answered 413 without being
//   read; a body without a Content-Length (chunked) 411; nothing more than
//   the limit and the request head is ever read from a connection.
// - Every error answer carries a plain text that says what went wrong;
//   a handler's own text is kept.
// - With UsarTls, every connection is TLS (OpenSSL) over the same stream:
//   the handshake is charged to the client like any other wait, and the
//   limits above hold unchanged. A client that does not complete the
//   handshake gets no HTTP answer (it cannot read one).
// - A porteiro (DefinirPorteiro) sees the head of every request before
//   anything else, the body unread: central/credenciais.h puts the stores'
//   credentials there.
#include <httplib.h>

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>

struct ssl_ctx_st;

namespace ondaris::central {

// The largest request body accepted: a block of 1000 commands is far
// smaller even with large binary blobs in base64.
inline constexpr std::size_t TamanhoMaximoCorpo = 64u * 1024u * 1024u;

struct LimitesHttp {
    std::size_t Threads = 32;
    std::size_t FilaConexoes = 256;
    std::chrono::milliseconds Carencia{10000};
    std::size_t TaxaMinima = 4096;  // bytes per second
    std::size_t TamanhoMaximoCorpo = central::TamanhoMaximoCorpo;
};

class ServidorHttp : public httplib::Server {
public:
    explicit ServidorHttp(LimitesHttp limites = {});

    const LimitesHttp& Limites() const { return Limites_; }

    // Serves TLS from now on with the certificate chain (PEM, the server's
    // certificate first) and private key (PEM) in these files. Throws
    // std::runtime_error, in words an operator reads, when they cannot be
    // loaded or do not match. Call before listening.
    void UsarTls(const std::string& certificado, const std::string& chave);
    bool Seguro() const { return Tls_ != nullptr; }

    // Answers the request itself (and returns true) when it may not go on.
    using Porteiro = std::function<bool(const httplib::Request&, httplib::Response&)>;
    void DefinirPorteiro(Porteiro porteiro) { Porteiro_ = std::move(porteiro); }

    ~ServidorHttp() override;

private:
    // Replaces the library's keep-alive loop over its own socket stream,
    // which times each read alone (a client sending a byte now and then
    // holds a thread for ever): one request, read and answered through a
    // stream that enforces the limits above.
    bool process_and_close_socket(socket_t sock) override;

    LimitesHttp Limites_;
    Porteiro Porteiro_;
    ssl_ctx_st* Tls_ = nullptr;  // SSL_CTX
};

}  // namespace ondaris::central
