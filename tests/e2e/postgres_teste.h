#pragma once
// A PostgreSQL database of its own for one test, made on the cluster that
// scripts/postgres-up starts (scripts/test exports its URI as
// ONDARIS_TESTE_POSTGRES) and dropped at the end.
//
// Without ONDARIS_TESTE_POSTGRES the tests that need PostgreSQL are skipped
// with a message saying so; scripts/test always sets it, so there they run,
// and fail when the server is not there.
#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <stdexcept>
#include <string>

namespace ondaris::teste {

inline const char* EnderecoPostgresDeTeste() {
    const char* uri = std::getenv("ONDARIS_TESTE_POSTGRES");
    return uri && *uri ? uri : nullptr;
}

inline constexpr const char* kSemPostgres =
    "ONDARIS_TESTE_POSTGRES is not set: run scripts/postgres-up and export the URI it prints "
    "(scripts/test does both)";

class BancoPostgresDeTeste {
public:
    // `base`: the URI of a database the role may connect to (and create
    // databases from).
    explicit BancoPostgresDeTeste(std::string base) : base_(std::move(base)) {
        static std::atomic<int> contador{0};
        nome_ = "ondaris_teste_" + std::to_string(getpid()) + "_" + std::to_string(++contador);
        Executar("DROP DATABASE IF EXISTS " + nome_ + " WITH (FORCE)");
        Executar("CREATE DATABASE " + nome_);
        // postgresql://user@host:port/base?options -> .../nome?options
        const std::size_t inicio = base_.find("://") + 3;
        const std::size_t barra = base_.find('/', inicio);
        const std::size_t interrogacao = base_.find('?', inicio);
        const std::string resto = interrogacao == std::string::npos ? "" : base_.substr(interrogacao);
        uri_ = (barra == std::string::npos ? base_.substr(0, interrogacao) : base_.substr(0, barra)) + "/" + nome_ + resto;
    }
    ~BancoPostgresDeTeste() {
        try {
            Executar("DROP DATABASE IF EXISTS " + nome_ + " WITH (FORCE)");
        } catch (const std::exception& e) {
            ADD_FAILURE() << e.what();
        }
    }
    BancoPostgresDeTeste(const BancoPostgresDeTeste&) = delete;
    BancoPostgresDeTeste& operator=(const BancoPostgresDeTeste&) = delete;

    const std::string& Uri() const { return uri_; }

    // Runs `sql` on the base database.
    void Executar(const std::string& sql) const {
        PGconn* c = PQconnectdb(base_.c_str());
        std::string erro;
        if (PQstatus(c) != CONNECTION_OK) {
            erro = PQerrorMessage(c);
        } else {
            PQsetNoticeProcessor(c, [](void*, const char*) {}, nullptr);
            PGresult* r = PQexec(c, sql.c_str());
            if (PQresultStatus(r) != PGRES_COMMAND_OK && PQresultStatus(r) != PGRES_TUPLES_OK)
                erro = PQresultErrorMessage(r);
            PQclear(r);
        }
        PQfinish(c);
        if (!erro.empty()) throw std::runtime_error("PostgreSQL (" + base_ + "): " + sql + ": " + erro);
    }

private:
    std::string base_, nome_, uri_;
};

}  // namespace ondaris::teste
