#pragma once
// What the synchronisation engine needs of a status window: the two status
// panels, the countdown label and a message pump. The tray program
// implements it with its Qt window, the headless program with lines on
// standard output, tests with a recorder. The engine never includes Qt.
#include <string>

namespace ondaris::sync {

class IJanelaStatus {
public:
    virtual ~IJanelaStatus() = default;
    virtual void StatusRecebimento(const std::string& texto) = 0;  // PnStatusRecebimento
    virtual void StatusEnvio(const std::string& texto) = 0;        // PnStatusEnvio
    virtual void Cronometro(const std::string& texto) = 0;         // LblCronometro
    // Dispatch whatever is waiting in the user-interface queue, then return.
    virtual void ProcessarMensagens() = 0;
};

// A window that shows nothing: for callers that run a server operation
// outside the cycle.
class JanelaMuda final : public IJanelaStatus {
public:
    void StatusRecebimento(const std::string&) override {}
    void StatusEnvio(const std::string&) override {}
    void Cronometro(const std::string&) override {}
    void ProcessarMensagens() override {}
};

}  // namespace ondaris::sync
