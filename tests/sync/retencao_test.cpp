// When sending held back is told: after the warning time, with the same
// limit held throughout; once at first, then at most hourly; afresh when the
// limit moves; never when nothing committed waits.
#include <gtest/gtest.h>

#include <chrono>

#include "sync/retencao.h"

namespace ondaris::sync {
namespace {

using namespace std::chrono_literals;
using Momento = std::chrono::system_clock::time_point;

db::TIndicesEnvio Indices(std::int64_t limite, std::int64_t ultima, std::int64_t transacao = 42) {
    db::TIndicesEnvio i;
    i.OrdemInicial = limite + 1;
    i.OrdemFinal = limite;
    i.UltimaOrdem = ultima;
    i.Limite = limite;
    db::TRetentorEnvio quem;
    quem.Transacao = transacao;
    quem.Conexao = 7;
    quem.Usuario = "CAIXA1";
    quem.Endereco = "192.168.0.12";
    quem.Programa = "pdv.exe";
    quem.Momento = db::DataHora{{2025, 5, 12}, {9, 58, 12, 0}};
    i.Retentor = quem;
    return i;
}

class Vigia : public ::testing::Test {
protected:
    Momento agora_ = Momento{} + 1000h;
    TVigiaEnvioRetido vigia_{600s, [this] { return agora_; }};
};

TEST_F(Vigia, ToldAfterTheWarningTimeThenHourly) {
    vigia_.Observar(Indices(10, 15));
    EXPECT_FALSE(vigia_.Avaliar());
    agora_ += 600s;
    vigia_.Observar(Indices(10, 16));
    EXPECT_FALSE(vigia_.Avaliar()) << "not longer than the warning time yet";
    agora_ += 1s;
    auto r = vigia_.Avaliar();
    ASSERT_TRUE(r);
    EXPECT_EQ(r->TextoPainel.rfind("Envio retido desde ", 0), 0u) << r->TextoPainel;
    for (const char* parte : {"transação 42", "usuário CAIXA1", "conexão 7", "endereço 192.168.0.12",
                              "programa pdv.exe", "12/05/2025 09:58:12", "posição 10"})
        EXPECT_NE(r->Registro.find(parte), std::string::npos) << parte << " in: " << r->Registro;
    EXPECT_EQ(r->Registro.find("Envio retido desde " + TextoMomento(Momento{} + 1000h)), 0u) << r->Registro;

    agora_ += 59min;
    r = vigia_.Avaliar();
    ASSERT_TRUE(r);
    EXPECT_TRUE(r->Registro.empty()) << "at most one entry an hour";
    agora_ += 1min;
    r = vigia_.Avaliar();
    ASSERT_TRUE(r);
    EXPECT_FALSE(r->Registro.empty());
}

TEST_F(Vigia, AMovedLimitOrNothingWaitingStartsAfresh) {
    struct Caso {
        const char* nome;
        db::TIndicesEnvio depois;
    };
    db::TIndicesEnvio semRetentor = Indices(10, 15);
    semRetentor.Retentor.reset();
    db::TIndicesEnvio scriptAntigo = Indices(10, 15);
    scriptAntigo.Limite.reset();
    const Caso casos[] = {
        {"the limit moved", Indices(12, 15, 43)},
        {"nothing committed waits behind the limit", Indices(15, 15)},
        {"no holder named", semRetentor},
        {"a procedure that reports no limit", scriptAntigo},
    };
    for (const auto& c : casos) {
        SCOPED_TRACE(c.nome);
        TVigiaEnvioRetido vigia(600s, [this] { return agora_; });
        vigia.Observar(Indices(10, 15));
        agora_ += 601s;
        ASSERT_TRUE(vigia.Avaliar());
        vigia.Observar(c.depois);
        EXPECT_FALSE(vigia.Avaliar());
        agora_ += 601s;
        const auto r = vigia.Avaliar();
        EXPECT_EQ(r.has_value(), c.depois.Retido());
        if (r) {
            EXPECT_FALSE(r->Registro.empty()) << "a new holding is told at once";
        }
    }
}

}  // namespace
}  // namespace ondaris::sync
