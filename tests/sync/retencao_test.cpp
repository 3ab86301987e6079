// When sending held back is told: from one answer of the block procedure,
// once the holder's reservation is older than the warning time by the
// server's own clock; never when nothing committed waits, or when either
// time is unknown.
#include <gtest/gtest.h>

#include <chrono>
#include <optional>

#include "sync/retencao.h"

namespace ondaris::sync {
namespace {

using namespace std::chrono_literals;

constexpr protocolo::DataHora kReserva{{2025, 5, 12}, {9, 58, 12, 0}};

db::TIndicesEnvio Indices(std::int64_t limite, std::int64_t ultima, std::optional<protocolo::DataHora> reserva,
                          std::optional<protocolo::DataHora> servidor) {
    db::TIndicesEnvio i;
    i.OrdemInicial = limite + 1;
    i.OrdemFinal = limite;
    i.UltimaOrdem = ultima;
    i.Limite = limite;
    db::TRetentorEnvio quem;
    quem.Transacao = 42;
    quem.Conexao = 7;
    quem.Usuario = "CAIXA1";
    quem.Endereco = "192.168.0.12";
    quem.Programa = "pdv.exe";
    quem.Momento = reserva;
    i.Retentor = quem;
    i.MomentoServidor = servidor;
    return i;
}

TEST(EnvioRetido, ToldOnceTheReservationIsOlderThanTheWarningTimeByTheServersClock) {
    db::TIndicesEnvio semRetentor = Indices(10, 15, kReserva, protocolo::DataHora{{2025, 5, 12}, {10, 30, 0, 0}});
    semRetentor.Retentor.reset();
    db::TIndicesEnvio scriptAntigo = Indices(10, 15, kReserva, protocolo::DataHora{{2025, 5, 12}, {10, 30, 0, 0}});
    scriptAntigo.Limite.reset();
    struct Caso {
        const char* nome;
        db::TIndicesEnvio indices;
        std::optional<std::chrono::milliseconds> tempo;  // how long held
        bool contado;                                    // told with a 600 s warning time
    };
    const Caso casos[] = {
        {"a second past the warning time", Indices(10, 15, kReserva, protocolo::DataHora{{2025, 5, 12}, {10, 8, 13, 0}}),
         601s, true},
        {"exactly the warning time", Indices(10, 15, kReserva, protocolo::DataHora{{2025, 5, 12}, {10, 8, 12, 0}}), 600s,
         false},
        {"just under a second past the warning time",
         Indices(10, 15, kReserva, protocolo::DataHora{{2025, 5, 12}, {10, 8, 12, 9999}}), 600999ms, true},
        {"held for a short while", Indices(10, 15, kReserva, protocolo::DataHora{{2025, 5, 12}, {9, 59, 0, 0}}), 48s,
         false},
        {"over midnight at the end of a year",
         Indices(10, 15, protocolo::DataHora{{2025, 12, 31}, {23, 55, 0, 0}}, protocolo::DataHora{{2026, 1, 1}, {0, 5, 1, 0}}),
         601s, true},
        {"over the end of February in a leap year",
         Indices(10, 15, protocolo::DataHora{{2024, 2, 28}, {12, 0, 0, 0}}, protocolo::DataHora{{2024, 3, 1}, {12, 0, 0, 0}}),
         48h, true},
        {"the server's time before the reservation's",
         Indices(10, 15, kReserva, protocolo::DataHora{{2025, 5, 12}, {9, 58, 11, 0}}), -1s, false},
        {"nothing committed waits behind the limit",
         Indices(15, 15, kReserva, protocolo::DataHora{{2025, 5, 12}, {11, 0, 0, 0}}), std::nullopt, false},
        {"no holder named", semRetentor, std::nullopt, false},
        {"a procedure that reports no limit", scriptAntigo, std::nullopt, false},
        {"a reservation that does not say when it was made",
         Indices(10, 15, std::nullopt, protocolo::DataHora{{2025, 5, 12}, {11, 0, 0, 0}}), std::nullopt, false},
        {"an answer without the server's time", Indices(10, 15, kReserva, std::nullopt), std::nullopt, false},
    };
    for (const auto& c : casos) {
        SCOPED_TRACE(c.nome);
        EXPECT_EQ(TempoEnvioRetido(c.indices), c.tempo);
        const auto r = AvaliarEnvioRetido(c.indices, 600s);
        ASSERT_EQ(r.has_value(), c.contado);
        if (!r) continue;
        const std::string desde = "Envio retido desde " + TextoMomento(*c.indices.Retentor->Momento);
        EXPECT_EQ(r->TextoPainel, desde + " pela transação 42 (usuário CAIXA1, conexão 7), ainda aberta");
        EXPECT_EQ(r->Registro.rfind(desde, 0), 0u) << r->Registro;
        for (const char* parte : {"transação 42", "usuário CAIXA1", "conexão 7", "endereço 192.168.0.12",
                                  "programa pdv.exe", "posição 10", "confirmada ou desfeita"})
            EXPECT_NE(r->Registro.find(parte), std::string::npos) << parte << " in: " << r->Registro;
    }
}

TEST(EnvioRetido, TheTimeIsWrittenAsTheStoreReadsIt) {
    EXPECT_EQ(TextoMomento(kReserva), "12/05/2025 09:58:12");
    EXPECT_EQ(TextoMomento(protocolo::DataHora{{2026, 1, 1}, {0, 5, 1, 9999}}), "01/01/2026 00:05:01");
}

}  // namespace
}  // namespace ondaris::sync
