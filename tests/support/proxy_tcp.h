#pragma once
// A TCP relay on 127.0.0.1 that stands for a server going away and coming
// back, without touching the real one: the test points a client at the
// relay's port instead of the server's, and stops the relay to take the
// server "down".
//
//   ProxyTcp proxy(3050);           // listening at once, on a free port
//   ... "127.0.0.1/" + std::to_string(proxy.Porta()) + ":" + path ...
//   proxy.Parar();                  // new connections refused, open ones cut
//   proxy.Iniciar();                // listening again, on the same port
//
// Every connection accepted is relayed byte for byte to 127.0.0.1 at the
// destination port, each on a fresh connection to it; a connection the
// destination refuses is closed at once. Stopping closes the listening
// socket (a connect is then refused, as by a host whose server is down) and
// resets every relayed connection on both sides (as a server that crashed
// or a cable pulled). One thread relays while the proxy runs; Parar() and
// the destructor join it. The object's methods are meant for one thread
// (the test's).
//
// Not errors: a client or the destination closing its side (the relay of
// that connection ends). Errors: a port that cannot be had again when
// starting (std::runtime_error, after a few tries).
#include <atomic>
#include <cstddef>
#include <thread>

namespace ondaris::teste {

class ProxyTcp {
public:
    explicit ProxyTcp(int portaDestino);
    ~ProxyTcp();
    ProxyTcp(const ProxyTcp&) = delete;
    ProxyTcp& operator=(const ProxyTcp&) = delete;

    // The port it listens on, the same for the life of the object.
    int Porta() const { return porta_; }
    bool Ativo() const { return ativo_; }
    // Connections accepted since construction.
    std::size_t Aceitas() const { return aceitas_.load(); }

    // Refuse new connections and cut the open ones. Nothing when stopped.
    void Parar();
    // Listen again on the same port. Nothing when running.
    void Iniciar();

private:
    void Escutar();
    void Relay(int escuta, int acordar);

    int portaDestino_;
    int porta_ = 0;
    bool ativo_ = false;
    int acordar_[2] = {-1, -1};  // a pipe that wakes the relay thread to stop
    std::thread thread_;
    std::atomic<std::size_t> aceitas_{0};
};

}  // namespace ondaris::teste
