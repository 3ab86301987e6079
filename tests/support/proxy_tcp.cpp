#include "support/proxy_tcp.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace ondaris::teste {
namespace {

sockaddr_in Local(int porta) {
    sockaddr_in endereco{};
    endereco.sin_family = AF_INET;
    endereco.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    endereco.sin_port = htons(static_cast<std::uint16_t>(porta));
    return endereco;
}

// A relay that is stuck on a peer that reads nothing gives up instead of
// hanging the test.
void LimitarEscrita(int fd) {
    timeval limite{};
    limite.tv_sec = 5;
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limite, sizeof limite);
}

// Closes with a reset rather than an orderly end: what a peer sees when the
// other side's machine or server goes away.
void Cortar(int fd) {
    linger l{};
    l.l_onoff = 1;
    l.l_linger = 0;
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    ::close(fd);
}

bool EnviarTudo(int fd, const char* dados, std::size_t n) {
    while (n > 0) {
        const ssize_t r = ::send(fd, dados, n, MSG_NOSIGNAL);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return false;
        dados += r;
        n -= static_cast<std::size_t>(r);
    }
    return true;
}

}  // namespace

ProxyTcp::ProxyTcp(int portaDestino) : portaDestino_(portaDestino) { Iniciar(); }

ProxyTcp::~ProxyTcp() { Parar(); }

void ProxyTcp::Iniciar() {
    if (ativo_) return;
    // Right after a stop the port may still be held for a moment.
    std::string erro;
    for (int tentativa = 0; tentativa < 100; ++tentativa) {
        try {
            Escutar();
            return;
        } catch (const std::runtime_error& e) {
            erro = e.what();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    throw std::runtime_error("the TCP proxy cannot listen on port " + std::to_string(porta_) + ": " + erro);
}

void ProxyTcp::Escutar() {
    const int escuta = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (escuta < 0) throw std::runtime_error(std::string("socket: ") + std::strerror(errno));
    const int sim = 1;
    ::setsockopt(escuta, SOL_SOCKET, SO_REUSEADDR, &sim, sizeof sim);
    sockaddr_in endereco = Local(porta_);
    socklen_t tamanho = sizeof endereco;
    if (::bind(escuta, reinterpret_cast<sockaddr*>(&endereco), sizeof endereco) != 0 || ::listen(escuta, 64) != 0 ||
        ::getsockname(escuta, reinterpret_cast<sockaddr*>(&endereco), &tamanho) != 0) {
        const std::string erro = std::strerror(errno);
        ::close(escuta);
        throw std::runtime_error(erro);
    }
    if (::pipe2(acordar_, O_CLOEXEC) != 0) {
        const std::string erro = std::strerror(errno);
        ::close(escuta);
        throw std::runtime_error("pipe: " + erro);
    }
    porta_ = ntohs(endereco.sin_port);
    ativo_ = true;
    thread_ = std::thread([this, escuta, fd = acordar_[0]] { Relay(escuta, fd); });
}

void ProxyTcp::Parar() {
    if (!ativo_) return;
    const char um = 1;
    while (::write(acordar_[1], &um, 1) < 0 && errno == EINTR) {
    }
    thread_.join();
    ::close(acordar_[0]);
    ::close(acordar_[1]);
    acordar_[0] = acordar_[1] = -1;
    ativo_ = false;
}

void ProxyTcp::Relay(int escuta, int acordar) {
    // Pairs of (client, destination); a closed pair has -1 on both sides.
    std::vector<std::pair<int, int>> pares;
    std::vector<char> buffer(64 * 1024);
    const auto fecharPar = [](std::pair<int, int>& par) {
        ::close(par.first);
        ::close(par.second);
        par = {-1, -1};
    };
    for (;;) {
        std::vector<pollfd> fds{{acordar, POLLIN, 0}, {escuta, POLLIN, 0}};
        for (const auto& [a, b] : pares) {
            fds.push_back({a, POLLIN, 0});
            fds.push_back({b, POLLIN, 0});
        }
        if (::poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (fds[0].revents != 0) break;
        if (fds[1].revents & POLLIN) {
            const int cliente = ::accept4(escuta, nullptr, nullptr, SOCK_CLOEXEC);
            if (cliente >= 0) {
                ++aceitas_;
                const int destino = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
                const sockaddr_in alvo = Local(portaDestino_);
                if (destino >= 0 && ::connect(destino, reinterpret_cast<const sockaddr*>(&alvo), sizeof alvo) == 0) {
                    LimitarEscrita(cliente);
                    LimitarEscrita(destino);
                    pares.emplace_back(cliente, destino);
                } else {
                    if (destino >= 0) ::close(destino);
                    Cortar(cliente);
                }
            }
        }
        for (std::size_t i = 0; i < pares.size(); ++i) {
            for (int lado = 0; lado < 2; ++lado) {
                const pollfd& p = fds[2 + 2 * i + static_cast<std::size_t>(lado)];
                auto& par = pares[i];
                if (par.first < 0 || p.revents == 0) continue;
                const int de = lado == 0 ? par.first : par.second;
                const int para = lado == 0 ? par.second : par.first;
                const ssize_t n = ::recv(de, buffer.data(), buffer.size(), 0);
                if (n < 0 && errno == EINTR) continue;
                if (n <= 0 || !EnviarTudo(para, buffer.data(), static_cast<std::size_t>(n))) fecharPar(par);
            }
        }
        std::erase_if(pares, [](const auto& par) { return par.first < 0; });
    }
    ::close(escuta);
    for (auto& [a, b] : pares) {
        Cortar(a);
        Cortar(b);
    }
}

}  // namespace ondaris::teste
