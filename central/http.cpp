#include "central/http.h"

#include "protocolo/mensagens.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <functional>
#include <limits>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace ondaris::central {
namespace {

using Relogio = std::chrono::steady_clock;

// What went wrong on the connection the current thread is serving, for the
// error handler, which only sees the request and the answer.
struct EstadoConexao {
    bool PrazoEsgotado = false;  // the client took longer than its allowance
    bool Excedeu = false;        // the client sent more than the limit allows
};
thread_local EstadoConexao* t_conexao = nullptr;

// Room for the request line and headers on top of the body limit.
constexpr std::size_t kFolgaCabecalho = 1024u * 1024u;

// After the answer, what the client still sends is read and dropped for a
// short while, so that closing with unread data (which resets the
// connection) does not destroy the answer before the client has read it.
constexpr auto kEsperaDescarte = std::chrono::milliseconds(500);
constexpr std::size_t kMaximoDescarte = 1024u * 1024u;

// A socket stream that charges the client for every wait (see the header),
// over the plain socket or, with `tls`, over a TLS session on it (the
// socket then non-blocking, every wait a poll of ours).
class FluxoComPrazo final : public httplib::Stream {
public:
    FluxoComPrazo(int sock, const LimitesHttp& limites, EstadoConexao& estado, SSL* tls = nullptr)
        : Sock_(sock), Limites_(limites), Estado_(estado),
          LimiteLeitura_(limites.TamanhoMaximoCorpo + kFolgaCabecalho), Tls_(tls) {}

    bool is_readable() const override {
        return Inicio_ < Fim_ || (Tls_ && SSL_pending(Tls_) > 0) || Esperar(POLLIN);
    }
    bool is_writable() const override { return Esperar(POLLOUT); }

    // The TLS handshake, within the reading allowance. False when it failed
    // or the client took too long.
    bool Acordar() {
        for (;;) {
            ERR_clear_error();
            const int r = SSL_accept(Tls_);
            if (r == 1) return true;
            if (!EsperarTls(r)) return false;
        }
    }

    ssize_t read(char* ptr, size_t size) override {
        if (Inicio_ == Fim_) {
            if (Lidos_ >= LimiteLeitura_) {
                Estado_.Excedeu = true;
                return -1;
            }
            const std::size_t maximo = std::min(Buffer_.size(), LimiteLeitura_ - Lidos_);
            ssize_t n;
            if (Tls_) {
                for (;;) {
                    ERR_clear_error();
                    const int r = SSL_read(Tls_, Buffer_.data(), static_cast<int>(maximo));
                    if (r > 0) {
                        n = r;
                        break;
                    }
                    if (SSL_get_error(Tls_, r) == SSL_ERROR_ZERO_RETURN) return 0;
                    if (!EsperarTls(r)) return -1;
                }
            } else {
                if (!Esperar(POLLIN)) return -1;
                do n = ::recv(Sock_, Buffer_.data(), maximo, 0);
                while (n < 0 && errno == EINTR);
                if (n <= 0) return n;
            }
            Inicio_ = 0;
            Fim_ = static_cast<std::size_t>(n);
            Lidos_ += Fim_;
            Movidos_ += Fim_;
        }
        const std::size_t n = std::min(size, Fim_ - Inicio_);
        std::memcpy(ptr, Buffer_.data() + Inicio_, n);
        Inicio_ += n;
        return static_cast<ssize_t>(n);
    }

    ssize_t write(const char* ptr, size_t size) override {
        if (!Esperar(POLLOUT)) return -1;
        if (Tls_) {
            // A write that must wait is retried by the caller with the same
            // bytes (SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER allows a moved buffer).
            ERR_clear_error();
            const int r = SSL_write(Tls_, ptr, static_cast<int>(std::min<size_t>(size, std::numeric_limits<int>::max())));
            if (r > 0) {
                Movidos_ += static_cast<std::size_t>(r);
                return r;
            }
            const int erro = SSL_get_error(Tls_, r);
            if (erro == SSL_ERROR_WANT_WRITE) return 0;
            if (erro == SSL_ERROR_WANT_READ) return Esperar(POLLIN) ? 0 : -1;
            return -1;
        }
        ssize_t n;
        do n = ::send(Sock_, ptr, size, MSG_NOSIGNAL | MSG_DONTWAIT);
        while (n < 0 && errno == EINTR);
        if (n < 0) return (errno == EAGAIN || errno == EWOULDBLOCK) ? 0 : -1;
        Movidos_ += static_cast<std::size_t>(n);
        return n;
    }

    void get_remote_ip_and_port(std::string& ip, int& port) const override {
        Endereco(::getpeername, ip, port);
    }
    void get_local_ip_and_port(std::string& ip, int& port) const override {
        Endereco(::getsockname, ip, port);
    }
    socket_t socket() const override { return Sock_; }

private:
    // Waits for `evento` within what is left of the client's allowance.
    // Reading and writing have an allowance each, so that a client cut off
    // while sending its request can still be told why.
    bool Esperar(short evento) const {
        Relogio::duration& esperado = evento == POLLIN ? EsperadoLeitura_ : EsperadoEscrita_;
        for (;;) {
            const auto credito = Limites_.Carencia + std::chrono::milliseconds(
                                                         Movidos_ * 1000 / std::max<std::size_t>(Limites_.TaxaMinima, 1));
            const auto resta = std::chrono::duration_cast<std::chrono::milliseconds>(credito - esperado);
            if (resta.count() <= 0) {
                Estado_.PrazoEsgotado = true;
                return false;
            }
            pollfd p{Sock_, evento, 0};
            const auto inicio = Relogio::now();
            const int r = ::poll(&p, 1, static_cast<int>(std::min<long long>(resta.count(),
                                                                              std::numeric_limits<int>::max())));
            esperado += Relogio::now() - inicio;
            if (r > 0) return true;  // ready, or an error the next call reports
            if (r == 0) {
                Estado_.PrazoEsgotado = true;
                return false;
            }
            if (errno != EINTR) return false;
        }
    }

    // After a TLS call returned `r` <= 0: waits for what the session needs
    // and returns true to try again, or false when the session failed.
    bool EsperarTls(int r) const {
        switch (SSL_get_error(Tls_, r)) {
            case SSL_ERROR_WANT_READ: return Esperar(POLLIN);
            case SSL_ERROR_WANT_WRITE: return Esperar(POLLOUT);
            default: return false;
        }
    }

    void Endereco(int (*obter)(int, sockaddr*, socklen_t*), std::string& ip, int& port) const {
        sockaddr_storage a{};
        socklen_t n = sizeof a;
        ip.clear();
        port = 0;
        if (obter(Sock_, reinterpret_cast<sockaddr*>(&a), &n) != 0) return;
        char texto[INET6_ADDRSTRLEN] = {};
        if (a.ss_family == AF_INET) {
            const auto* v4 = reinterpret_cast<const sockaddr_in*>(&a);
            ::inet_ntop(AF_INET, &v4->sin_addr, texto, sizeof texto);
            port = ntohs(v4->sin_port);
        } else if (a.ss_family == AF_INET6) {
            const auto* v6 = reinterpret_cast<const sockaddr_in6*>(&a);
            ::inet_ntop(AF_INET6, &v6->sin6_addr, texto, sizeof texto);
            port = ntohs(v6->sin6_port);
        }
        ip = texto;
    }

    int Sock_;
    const LimitesHttp& Limites_;
    EstadoConexao& Estado_;
    const std::size_t LimiteLeitura_;
    std::size_t Lidos_ = 0;
    std::size_t Movidos_ = 0;
    mutable Relogio::duration EsperadoLeitura_{}, EsperadoEscrita_{};
    std::array<char, 16 * 1024> Buffer_{};
    std::size_t Inicio_ = 0, Fim_ = 0;
    SSL* Tls_;
};

// A fixed set of threads over a bounded queue. When the queue is full the
// accepting thread waits, and new clients wait in the system's backlog.
class PoolLimitado final : public httplib::TaskQueue {
public:
    PoolLimitado(std::size_t threads, std::size_t fila) : Fila_(std::max<std::size_t>(fila, 1)) {
        for (std::size_t i = 0; i < std::max<std::size_t>(threads, 1); ++i)
            Threads_.emplace_back([this] { Trabalhar(); });
    }
    ~PoolLimitado() override = default;

    void enqueue(std::function<void()> fn) override {
        std::unique_lock trava(Mutex_);
        Espaco_.wait(trava, [this] { return Tarefas_.size() < Fila_ || Parando_; });
        Tarefas_.push_back(std::move(fn));
        Tem_.notify_one();
    }

    void shutdown() override {
        {
            std::lock_guard trava(Mutex_);
            Parando_ = true;
        }
        Tem_.notify_all();
        Espaco_.notify_all();
        for (auto& t : Threads_) t.join();
    }

private:
    void Trabalhar() {
        for (;;) {
            std::function<void()> fn;
            {
                std::unique_lock trava(Mutex_);
                Tem_.wait(trava, [this] { return !Tarefas_.empty() || Parando_; });
                if (Tarefas_.empty()) return;  // stopping, and nothing left to serve
                fn = std::move(Tarefas_.front());
                Tarefas_.pop_front();
            }
            Espaco_.notify_one();
            fn();
        }
    }

    const std::size_t Fila_;
    std::vector<std::thread> Threads_;
    std::deque<std::function<void()>> Tarefas_;
    bool Parando_ = false;
    std::mutex Mutex_;
    std::condition_variable Tem_, Espaco_;
};

const char* kTextoPlano = "text/plain; charset=utf-8";

// The refusal of a request by its head alone: a body the server will not
// read. Empty when the body may be read.
std::optional<std::pair<int, std::string>> RecusaPelaCabeca(const httplib::Request& req, std::size_t maximo) {
    if (req.has_header("Transfer-Encoding"))
        return std::pair{411, std::string("envie o corpo com o cabeçalho Content-Length, não em pedaços (Transfer-Encoding: ") +
                                  req.get_header_value("Transfer-Encoding") + ")"};
    if (!req.has_header("Content-Length")) return std::nullopt;
    const std::string texto = req.get_header_value("Content-Length");
    unsigned long long tamanho = 0;
    auto [fim, erro] = std::from_chars(texto.data(), texto.data() + texto.size(), tamanho);
    if (texto.empty() || erro != std::errc() || fim != texto.data() + texto.size())
        return std::pair{400, "Content-Length não é um número: '" + texto + "'"};
    if (tamanho > maximo)
        return std::pair{413, "corpo grande demais: " + protocolo::Quantidade(static_cast<std::int64_t>(tamanho), "byte", "bytes") +
                                  "; este servidor aceita no máximo " +
                                  protocolo::Quantidade(static_cast<std::int64_t>(maximo), "byte", "bytes")};
    return std::nullopt;
}

}  // namespace

ServidorHttp::ServidorHttp(LimitesHttp limites) : Limites_(limites) {
    new_task_queue = [this] { return new PoolLimitado(Limites_.Threads, Limites_.FilaConexoes); };
    set_payload_max_length(Limites_.TamanhoMaximoCorpo);
    set_keep_alive_max_count(1);

    // A client that waits for "100 Continue" learns at once that its body
    // will not be taken, and need not send it.
    set_expect_100_continue_handler([this](const httplib::Request& req, httplib::Response& res) {
        if (Porteiro_ && Porteiro_(req, res)) return res.status;
        if (auto recusa = RecusaPelaCabeca(req, Limites_.TamanhoMaximoCorpo)) {
            res.status = recusa->first;
            res.set_content(recusa->second, kTextoPlano);
            return recusa->first;
        }
        return 100;
    });
    // Runs before the body is read.
    set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
        if (Porteiro_ && Porteiro_(req, res)) return HandlerResponse::Handled;
        auto recusa = RecusaPelaCabeca(req, Limites_.TamanhoMaximoCorpo);
        if (!recusa) return HandlerResponse::Unhandled;
        res.status = recusa->first;
        res.set_content(recusa->second, kTextoPlano);
        return HandlerResponse::Handled;
    });
    set_error_handler([this](const httplib::Request& req, httplib::Response& res) {
        if (!res.body.empty()) return;  // the handler's own text
        std::string texto;
        if (t_conexao && t_conexao->PrazoEsgotado) {
            res.status = 408;
            texto = "requisição não recebida a tempo: o cliente enviou devagar demais";
        } else if (t_conexao && t_conexao->Excedeu) {
            res.status = 413;
            texto = "corpo grande demais: este servidor aceita no máximo " +
                    protocolo::Quantidade(static_cast<std::int64_t>(Limites_.TamanhoMaximoCorpo), "byte", "bytes");
        } else if (res.status == 404) {
            texto = "endereço inexistente: " + req.method + " " + req.path;
        } else if (res.status == 413) {
            texto = "corpo grande demais: este servidor aceita no máximo " +
                    protocolo::Quantidade(static_cast<std::int64_t>(Limites_.TamanhoMaximoCorpo), "byte", "bytes");
        } else if (res.status == 414) {
            texto = "linha de requisição longa demais";
        } else if (res.status == 400) {
            texto = "requisição HTTP malformada";
        } else {
            texto = "requisição recusada: status HTTP " + std::to_string(res.status);
        }
        res.set_content(texto, kTextoPlano);
    });
}

ServidorHttp::~ServidorHttp() { SSL_CTX_free(Tls_); }

namespace {

// The first OpenSSL error queued, in its own words; `padrao` when none.
std::string ErroOpenSsl(const char* padrao) {
    const unsigned long e = ERR_get_error();
    ERR_clear_error();
    if (e == 0) return padrao;
    char texto[256];
    ERR_error_string_n(e, texto, sizeof texto);
    return texto;
}

}  // namespace

void ServidorHttp::UsarTls(const std::string& certificado, const std::string& chave) {
    SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
    if (!ctx) throw std::runtime_error("o OpenSSL não criou o contexto TLS: " + ErroOpenSsl("erro desconhecido"));
    const auto falhar = [&](const std::string& texto) {
        SSL_CTX_free(ctx);
        throw std::runtime_error(texto);
    };
    SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
    SSL_CTX_set_mode(ctx, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    SSL_CTX_set_options(ctx, SSL_OP_NO_RENEGOTIATION);
    if (SSL_CTX_use_certificate_chain_file(ctx, certificado.c_str()) != 1)
        falhar("não foi possível carregar o certificado " + certificado + " (PEM): " +
               ErroOpenSsl("arquivo ilegível"));
    if (SSL_CTX_use_PrivateKey_file(ctx, chave.c_str(), SSL_FILETYPE_PEM) != 1) {
        if (ERR_GET_REASON(ERR_peek_last_error()) == X509_R_KEY_VALUES_MISMATCH)
            falhar("a chave " + chave + " não é a do certificado " + certificado + ": " +
                   ErroOpenSsl("não correspondem"));
        falhar("não foi possível carregar a chave privada " + chave + " (PEM, sem senha): " +
               ErroOpenSsl("arquivo ilegível"));
    }
    if (SSL_CTX_check_private_key(ctx) != 1)
        falhar("a chave " + chave + " não é a do certificado " + certificado + ": " +
               ErroOpenSsl("não correspondem"));
    SSL_CTX_free(Tls_);
    Tls_ = ctx;
}

bool ServidorHttp::process_and_close_socket(socket_t sock) {
    EstadoConexao estado;
    t_conexao = &estado;
    bool ok = false;
    SSL* tls = nullptr;
    bool semAcordo = false;  // the TLS handshake failed: there is nothing to answer
    if (Tls_) {
        tls = SSL_new(Tls_);
        const int flags = ::fcntl(sock, F_GETFL, 0);
        if (!tls || flags < 0 || ::fcntl(sock, F_SETFL, flags | O_NONBLOCK) < 0 || SSL_set_fd(tls, sock) != 1) {
            SSL_free(tls);
            t_conexao = nullptr;
            ::close(sock);
            return false;
        }
    }
    {
        FluxoComPrazo fluxo(sock, Limites_, estado, tls);
        if (!tls || fluxo.Acordar()) {
            bool fechada = false;
            ok = process_request(fluxo, /*close_connection=*/true, fechada, nullptr);
            // The client learns that the answer is complete; it need not
            // answer, and is not waited for.
            if (tls) SSL_shutdown(tls);
        } else {
            semAcordo = true;
        }
    }
    SSL_free(tls);
    ERR_clear_error();
    t_conexao = nullptr;

    ::shutdown(sock, SHUT_WR);
    if (!estado.PrazoEsgotado && !semAcordo) {
        // Bounded in time and bytes: a client that keeps sending is cut.
        std::array<char, 16 * 1024> lixo;
        std::size_t descartados = 0;
        const auto limite = Relogio::now() + kEsperaDescarte;
        while (descartados < kMaximoDescarte) {
            const auto resta = std::chrono::duration_cast<std::chrono::milliseconds>(limite - Relogio::now());
            if (resta.count() <= 0) break;
            pollfd p{sock, POLLIN, 0};
            const int r = ::poll(&p, 1, static_cast<int>(resta.count()));
            if (r < 0 && errno == EINTR) continue;
            if (r <= 0) break;
            const ssize_t n = ::recv(sock, lixo.data(), lixo.size(), MSG_DONTWAIT);
            if (n <= 0) break;
            descartados += static_cast<std::size_t>(n);
        }
    }
    ::close(sock);
    return ok;
}

}  // namespace ondaris::central
