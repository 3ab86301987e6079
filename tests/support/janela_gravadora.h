#pragma once
// A status window that records what the engine shows on it, for every
// suite that drives a cycle or a server operation without a real window.
#include <functional>
#include <string>
#include <vector>

#include "sync/janela.h"

namespace ondaris::teste {

class JanelaGravadora final : public sync::IJanelaStatus {
public:
    void StatusRecebimento(const std::string& t) override {
        Recebimento.push_back(t);
        Paineis.push_back("R:" + t);
        Anotar("R:" + t);
    }
    void StatusEnvio(const std::string& t) override {
        Envio.push_back(t);
        Paineis.push_back("E:" + t);
        Anotar("E:" + t);
        if (AoMostrarEnvio) AoMostrarEnvio(t);
    }
    void Cronometro(const std::string& t) override { Cronometros.push_back(t); }
    void ProcessarMensagens() override {
        ++Bombeamentos;
        Anotar("~");
    }

    // The send panel's current text ("" before any).
    std::string UltimoEnvio() const { return Envio.empty() ? std::string() : Envio.back(); }

    std::vector<std::string> Recebimento, Envio, Cronometros;
    // Both panels in the order shown, "R:" or "E:" before each text.
    std::vector<std::string> Paineis;
    int Bombeamentos = 0;
    // Told of every panel text ("R:", "E:") and message pump ("~") as it
    // happens, for a timeline shared with other events.
    std::function<void(const std::string&)> AoAnotar;
    std::function<void(const std::string&)> AoMostrarEnvio;

private:
    void Anotar(const std::string& evento) {
        if (AoAnotar) AoAnotar(evento);
    }
};

}  // namespace ondaris::teste
