#pragma once
// The central server's transport listening on a free port of 127.0.0.1, on
// a thread of its own, for the suites that talk to it over real HTTP: it
// stops and its thread ends when this goes.
#include <chrono>
#include <thread>

#include "central/http.h"

namespace ondaris::teste {

class EscutaCentral {
public:
    // `servidor` has its handlers installed already and outlives this.
    explicit EscutaCentral(central::ServidorHttp& servidor) : Servidor_(servidor) {
        Porta_ = Servidor_.bind_to_any_port("127.0.0.1");
        if (Porta_ <= 0) return;
        Fio_ = std::thread([this] { Servidor_.listen_after_bind(); });
        for (int i = 0; i < 5000 && !Servidor_.is_running(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ~EscutaCentral() {
        if (!Fio_.joinable()) return;
        Servidor_.stop();
        Fio_.join();
    }
    EscutaCentral(const EscutaCentral&) = delete;
    EscutaCentral& operator=(const EscutaCentral&) = delete;

    // True once it listens.
    bool Pronta() const { return Porta_ > 0 && Servidor_.is_running(); }
    int Porta() const { return Porta_; }

private:
    central::ServidorHttp& Servidor_;
    int Porta_ = 0;
    std::thread Fio_;
};

}  // namespace ondaris::teste
