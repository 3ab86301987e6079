#pragma once
// The reference central server's endpoints, as the store agents expect them:
//
//   GET  estruturabd                      the structure list given at start
//   PUT  enviar/{loja}                    stores a block of the store's log
//   GET  obterindiceenvio/{loja}/{ultimo} how far the server holds that log
//   GET  receber/{loja}/{ordem}           the next block addressed to the store
//   GET  status                           per store: positions, waiting commands,
//                                         last request (read only, for operators)
//
// A malformed request or body gets a 4xx answer whose plain text says what is
// wrong, and nothing is stored. Requests are served one at a time against the
// store of commands (SQLite serialises writers anyway).
#include <mutex>
#include <string>

#include "central/armazem.h"

namespace httplib {
class Server;
}

namespace ondaris::central {

inline constexpr int TamanhoBloco = 1000;

class ServidorCentral {
public:
    // `estruturaJson` is the structure list's JSON text; it is sent as it
    // stands, so it must be valid JSON (checked here, std::invalid_argument).
    ServidorCentral(Armazem& armazem, std::string estruturaJson);

    // Installs the endpoints on `servidor` (all under the root path).
    void Registrar(httplib::Server& servidor);

private:
    Armazem& Armazem_;
    std::string Estrutura_;
    std::mutex Mutex_;
};

}  // namespace ondaris::central
