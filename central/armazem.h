#pragma once
// The central server's store of commands, in one SQLite file.
//
// Every command a store sends is kept once, under a position of the server's
// own numbering (ascending in arrival order), with the store that sent it,
// the position it had in that store's log ("ordem") and the store it is
// addressed to. Per store the server keeps how far it holds that store's log
// (the acknowledged position) and what the store last asked for, so an
// operator can see a store that has stalled.
//
// Not errors: a command sent again (same store, same "ordem"), or one at or
// below the acknowledged position; it is ignored and changes nothing.
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

struct sqlite3;

namespace ondaris::central {

class ErroArmazem : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A command as it arrived, already validated.
struct ComandoRecebido {
    std::int64_t Ordem = 0;       // position in the sending store's log
    std::string Destino;          // "codigolojadestino": a store code, or "" / "0" for every store
    std::string Json;             // the command object, compact
};

struct ComandoArmazenado {
    std::int64_t Posicao = 0;     // the server's numbering
    std::int32_t LojaOrigem = 0;
    std::string Json;
};

struct ResultadoGravacao {
    int Aceitos = 0;
    int Ignorados = 0;
    std::int64_t PosicaoConfirmada = 0;
};

struct BlocoParaLoja {
    std::vector<ComandoArmazenado> Comandos;
    std::int64_t UltimaPosicao = 0;  // the last position waiting for the store; 0 when none
};

struct EstadoLoja {
    std::int32_t Loja = 0;
    std::int64_t PosicaoConfirmada = 0;   // how far the server holds the store's log
    std::int64_t PosicaoRecebida = 0;     // the position the store last asked to receive after
    std::int64_t ComandosAguardando = 0;  // commands addressed to it beyond that position
    std::string UltimoPedido;             // UTC time of its last request, ISO 8601; empty if never
};

class Armazem {
public:
    explicit Armazem(const std::string& arquivo);
    ~Armazem();
    Armazem(const Armazem&) = delete;
    Armazem& operator=(const Armazem&) = delete;

    // Stores one block in one transaction, then moves the store's acknowledged
    // position to the highest "ordem" accepted, or to ordemFinal when that is
    // higher (rows the store left out of its block because they were deleted).
    ResultadoGravacao Gravar(std::int32_t loja, const std::vector<ComandoRecebido>& comandos,
                             std::optional<std::int64_t> ordemFinal);

    std::int64_t PosicaoConfirmada(std::int32_t loja);

    // The next commands after `depoisDe` addressed to `loja`, at most `limite`.
    BlocoParaLoja Proximos(std::int32_t loja, std::int64_t depoisDe, int limite);

    void RegistrarPedido(std::int32_t loja, std::optional<std::int64_t> posicaoRecebida);
    std::vector<EstadoLoja> Estado();

private:
    void Executar(const char* sql);
    sqlite3* Banco_ = nullptr;
};

}  // namespace ondaris::central
