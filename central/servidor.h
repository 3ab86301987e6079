#pragma once
// The reference central server's endpoints, as the store agents expect them:
//
//   GET  estruturabd                      the structure list given at start
//   PUT  enviar/{loja}                    stores a block of the store's log
//   GET  obterindiceenvio/{loja}/{ultimo} how far the server holds that log
//   GET  receber/{loja}/{ordem}           the next block addressed to the store
//   GET  status                           per store: positions, waiting commands,
//                                         last request, held sending (read only,
//                                         for operators)
//
// Who may call which endpoint (each store with its own credential) is
// decided before any of them runs: central/credenciais.h.
//
// A request the server cannot take is refused with a 4xx answer whose plain
// text says what is wrong, and nothing of it is stored:
// - store codes ({loja}, "codigolojaorigem", a non-empty
//   "codigolojadestino" other than "0") that are not positive 32-bit
//   integers, and a "codigolojaorigem" other than {loja};
// - positions that are not 64-bit integers, or negative: {ultimo}, {ordem}
//   and "ordemfinal" from 0 on, a command's "ordem" and "ordeminicial" from
//   1 on;
// - table names ("tabela") and column names (the members of "campos") that
//   the identifier rule refuses (IdentificadorValido, protocolo/texto.h: an ASCII
//   letter, then letters, digits, "_" or "$", at most 31 characters): a
//   name is put into other stores' statements, and one that a store would
//   refuse would stop its receiving;
// - a "campos" value that is not a string or a number (a receiving store
//   would write "null", "true" or nothing in its place);
// - a block whose bounds do not fit its commands: "ordeminicial" and
//   "ordemfinal" come together; "ordeminicial" is at most "ordemfinal" + 1
//   (equal to it plus one when nothing could be sent yet); the commands'
//   "ordem" rise strictly and lie within the bounds. "ordemfinal" may
//   exceed the last command: the store leaves out rows deleted since they
//   were logged. How far such a bound moves the position, and a block that
//   starts beyond it (409), is told in central/armazem.h;
// - a body that is not a JSON object, or not sent as application/json (415).
// Transport limits (slow clients, oversized bodies) are central/http.h's.
//
// The store of commands is locked only while it works; answers are built
// from what it returned, unlocked.
#include <string>

#include "central/armazem.h"
#include "central/http.h"

namespace ondaris::central {

class Credenciais;

class ServidorCentral {
public:
    // `estruturaJson` is the structure list's JSON text; it is sent as it
    // stands, so it must be valid JSON (checked here, std::invalid_argument).
    ServidorCentral(Armazem& armazem, std::string estruturaJson);

    // Installs the endpoints on `servidor` (all under the root path).
    void Registrar(ServidorHttp& servidor);

    // With credentials, "status" tells for each store how it is admitted
    // ("credencial": "segredo", "sem senha", "revogada" or "nenhuma"). The
    // check itself is ExigirCredenciais's (central/credenciais.h).
    void DefinirCredenciais(Credenciais* credenciais) { Credenciais_ = credenciais; }

private:
    void AnotarRecusa(const httplib::Request& req, const std::string& motivo);

    Armazem& Armazem_;
    std::string Estrutura_;
    Credenciais* Credenciais_ = nullptr;
};

}  // namespace ondaris::central
