// Receiving under real faults: the receiving agent is killed (SIGKILL, no
// cleanup) at each point where a block commits, a store user edits a row
// before the next cycle, and the next cycles must leave both stores equal,
// every command applied exactly once and the user's edit kept everywhere.
// An audit trigger on the receiving store counts every write of every row,
// with the user who made it.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>
#include <memory>
#include <string>
#include <vector>

#include "support/banco_teste.h"
#include "support/loja_e2e.h"
#include "support/pasta_temporaria.h"
#include "support/proxy_tcp.h"

namespace {

using namespace std::chrono_literals;
using ondaris::teste::AgenteE2E;
using ondaris::teste::BancoTeste;
using ondaris::teste::CentralE2E;
using ondaris::teste::LeitorLoja;
using ondaris::teste::Linhas;

constexpr int kGrupos = 3;           // store transactions, so three commit points
constexpr int kLinhasPorGrupo = 20;  // price rows each

class FalhasRecebimento : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ondaris::teste::GarantirUsuarioReplicacao();
        loja1_ = std::make_unique<BancoTeste>();
        loja2_ = std::make_unique<BancoTeste>();
        central_ = std::make_unique<CentralE2E>(ondaris::teste::EstruturaDe(*loja1_));
        ondaris::teste::ConfigurarLoja(*loja1_, 1, central_->Url(1));
        ondaris::teste::ConfigurarLoja(*loja2_, 2, central_->Url(2));
        loja2_->ExecutarSql(
            "CREATE TABLE AUDITORIA_ESCRITAS (CODIGOPRODUTO INTEGER, USUARIO VARCHAR(31));"
            "SET TERM ^ ;"
            "CREATE TRIGGER PRECOS_AUDITORIA FOR PRECOS ACTIVE AFTER INSERT OR UPDATE OR DELETE POSITION 200 AS"
            " BEGIN INSERT INTO AUDITORIA_ESCRITAS VALUES (COALESCE(NEW.CODIGOPRODUTO, OLD.CODIGOPRODUTO),"
            " CURRENT_USER); END^"
            "SET TERM ; ^"
            "GRANT INSERT ON AUDITORIA_ESCRITAS TO TRIGGER PRECOS_AUDITORIA;");
        agente1_ = std::make_unique<AgenteE2E>(*loja1_, ondaris::teste::AmbienteBrasileiro());
        agente2_ = std::make_unique<AgenteE2E>(*loja2_, ondaris::teste::AmbienteBrasileiro(),
                                               ONDARIS_BINARY_DIR "/tests/ondarisd_falhas");
        // A row both stores hold before any fault.
        loja1_->ExecutarSql("INSERT INTO PRECOS (CODIGOLOJA, CODIGOPRODUTO, PRECOVENDA) VALUES (1, 1, 1);");
        Rodar(*agente1_, "store 1");
        Rodar(*agente2_, "store 2");
    }
    static void TearDownTestSuite() {
        agente1_.reset();
        agente2_.reset();
        central_.reset();
        loja2_.reset();
        loja1_.reset();
    }
    static void Rodar(AgenteE2E& agente, const char* qual) { ondaris::teste::RodarSemFalha(agente, qual); }

    // Store 1 changes prices in kGrupos transactions, keys from `base`, and
    // its agent sends them.
    static void AlterarPrecosEEnviar(int base) {
        for (int g = 0; g < kGrupos; ++g) {
            std::string sql;
            for (int i = 0; i < kLinhasPorGrupo; ++i)
                sql += "INSERT INTO PRECOS (CODIGOLOJA, CODIGOPRODUTO, PRECOVENDA) VALUES (1, " +
                       std::to_string(base + 100 * g + i) + ", " + std::to_string(g + 1) + ");";
            loja1_->ExecutarSql(sql + "COMMIT;");
        }
        Rodar(*agente1_, "store 1");
    }

    // Every command of the keys from `base` was applied once by the agent,
    // and the stores are equal.
    static void AplicadosUmaVezEIguais(int base) {
        EXPECT_EQ(Linhas(*loja2_, "SELECT COUNT(DISTINCT CODIGOPRODUTO), COUNT(*) FROM AUDITORIA_ESCRITAS WHERE "
                                  "USUARIO = 'ONDARIS' AND CODIGOPRODUTO BETWEEN " +
                                      std::to_string(base) + " AND " + std::to_string(base + 999)),
                  std::vector<std::string>{std::to_string(kGrupos * kLinhasPorGrupo) + " | " +
                                           std::to_string(kGrupos * kLinhasPorGrupo)});
        const char* todos = "SELECT CODIGOLOJA, CODIGOPRODUTO, PRECOVENDA FROM PRECOS ORDER BY 1, 2";
        EXPECT_EQ(Linhas(*loja1_, todos), Linhas(*loja2_, todos));
    }

    // Store 2's agent reaching its database through `proxy`.
    static std::unique_ptr<AgenteE2E> AgentePeloProxy(const ondaris::teste::ProxyTcp& proxy) {
        auto agente = std::make_unique<AgenteE2E>(*loja2_, ondaris::teste::AmbienteBrasileiro(),
                                                  ONDARIS_BINARY_DIR "/tests/ondarisd_falhas");
        ondaris::teste::GravarBytes(agente->Pasta() / "korvin.ini", "[Korvin]\r\nServidor=127.0.0.1/" +
                                                                        std::to_string(proxy.Porta()) +
                                                                        "\r\nCaminho=" + loja2_->Caminho() + "\r\n");
        return agente;
    }

    // The agent started and stopped at the fault point `falha`; it goes on
    // once the file `sinal` is removed.
    static std::unique_ptr<ondaris::teste::Processo> ParadoEm(const AgenteE2E& agente, const std::string& falha,
                                                             const std::filesystem::path& sinal) {
        auto processo = agente.Iniciar({"ONDARIS_FALHA=" + falha, "ONDARIS_FALHA_ESPERA=" + sinal.string()});
        for (int i = 0; i < 3000 && !std::filesystem::exists(sinal) && !processo->Terminou(); ++i)
            std::this_thread::sleep_for(20ms);
        EXPECT_TRUE(std::filesystem::exists(sinal)) << processo->Saida();
        return processo;
    }

    static inline std::unique_ptr<BancoTeste> loja1_, loja2_;
    static inline std::unique_ptr<CentralE2E> central_;
    static inline std::unique_ptr<AgenteE2E> agente1_, agente2_;
};

TEST_F(FalhasRecebimento, MortoEmCadaPontoDeConfirmacao) {
    struct Caso {
        const char* ponto;
        int passagem;
        int gruposConfirmados;  // groups of the block committed when the agent dies
    };
    const Caso casos[] = {
        {"receber.antes_da_posicao", 1, 0}, {"receber.antes_do_commit", 1, 0}, {"receber.apos_o_commit", 1, 1},
        {"receber.antes_da_posicao", 2, 1}, {"receber.antes_do_commit", 2, 1}, {"receber.apos_o_commit", 2, 2},
        {"receber.antes_da_posicao", 3, 2}, {"receber.antes_do_commit", 3, 2}, {"receber.apos_o_commit", 3, 3},
    };
    int cenario = 0;
    for (const auto& c : casos) {
        const std::string falha = std::string(c.ponto) + ":" + std::to_string(c.passagem);
        SCOPED_TRACE(falha);
        const int base = 1000 * ++cenario;
        const auto produto = [&](int grupo, int linha) { return base + 100 * grupo + linha; };

        ASSERT_NO_FATAL_FAILURE(AlterarPrecosEEnviar(base));

        // Store 2's agent dies at the point.
        const int status = agente2_->RodarUmaVez(120s, {"ONDARIS_FALHA=" + falha});
        ASSERT_EQ(status, 128 + 9) << agente2_->Saida();
        ASSERT_NE(agente2_->Saida().find("killed at " + std::string(c.ponto)), std::string::npos) << agente2_->Saida();

        // A user of store 2 edits a row before the next cycle: one the dead
        // agent had committed, or, when it had committed nothing, an older one.
        const int editado = c.gruposConfirmados > 0 ? produto(0, 7) : 1;
        const std::string valorEditado = std::to_string(500 + cenario);
        loja2_->ExecutarSql("UPDATE PRECOS SET PRECOVENDA = " + valorEditado +
                            " WHERE CODIGOLOJA = 1 AND CODIGOPRODUTO = " + std::to_string(editado) + ";");
        ASSERT_EQ(Linhas(*loja2_, "SELECT COUNT(*) FROM PRECOS WHERE CODIGOPRODUTO BETWEEN " + std::to_string(base) +
                                      " AND " + std::to_string(base + 999)),
                  std::vector<std::string>{std::to_string(c.gruposConfirmados * kLinhasPorGrupo)});

        ASSERT_NO_FATAL_FAILURE(Rodar(*agente2_, "store 2"));
        ASSERT_NO_FATAL_FAILURE(Rodar(*agente1_, "store 1"));

        AplicadosUmaVezEIguais(base);
        // The user's edit stands in both stores.
        const std::string consultaEditado =
            "SELECT CAST(PRECOVENDA AS INTEGER) FROM PRECOS WHERE CODIGOLOJA = 1 AND CODIGOPRODUTO = " +
            std::to_string(editado);
        EXPECT_EQ(Linhas(*loja2_, consultaEditado), std::vector<std::string>{valorEditado});
        EXPECT_EQ(Linhas(*loja1_, consultaEditado), std::vector<std::string>{valorEditado});
    }
}

// The database server goes away in the middle of a block (its second group
// applied, not yet committed) and comes back: the run fails and says so, the
// next one applies exactly what was rolled back.
TEST_F(FalhasRecebimento, ServidorDoBancoCaiNoMeioDoBloco) {
    ondaris::teste::ProxyTcp proxy(3050);
    const auto agentePeloProxy = AgentePeloProxy(proxy);
    AgenteE2E& agente = *agentePeloProxy;
    const int base = 90000;
    ASSERT_NO_FATAL_FAILURE(AlterarPrecosEEnviar(base));

    // The agent stops just before its second commit; the server goes away.
    const auto sinal = agente.Pasta() / "parado";
    auto processo = ParadoEm(agente, "receber.antes_do_commit:2", sinal);
    ASSERT_FALSE(HasFailure());
    proxy.Parar();
    std::filesystem::remove(sinal);
    const int status = processo->Esperar(120s);
    EXPECT_NE(status, 0) << processo->Saida();
    const std::string log = agente.Log();
    EXPECT_NE(log.find("ReceberDados"), std::string::npos) << log;

    // Back again: the next run applies what was rolled back, once.
    proxy.Iniciar();
    const std::string logAntes = agente.Log();
    ASSERT_EQ(agente.RodarUmaVez(120s), 0) << agente.Saida() << "\n" << agente.Log();
    EXPECT_EQ(agente.Log(), logAntes);
    ASSERT_NO_FATAL_FAILURE(Rodar(*agente1_, "store 1"));
    AplicadosUmaVezEIguais(base);
}

// The database server goes away between two blocks of one run, while the
// run's receiving connection waits idle between them, and is back before
// the next block: that block is applied on a new attachment, once, and the
// run ends well.
TEST_F(FalhasRecebimento, ServidorDoBancoCaiEntreDoisBlocos) {
    ondaris::teste::ProxyTcp proxy(3050);
    const auto agente = AgentePeloProxy(proxy);
    // More than the 1000 commands the central server serves in one block.
    const int base = 200000, linhas = 1500;
    loja1_->ExecutarSql("SET TERM ^ ;EXECUTE BLOCK AS DECLARE I INTEGER = 0; BEGIN WHILE (I < " +
                        std::to_string(linhas) +
                        ") DO BEGIN INSERT INTO PRECOS (CODIGOLOJA, CODIGOPRODUTO, PRECOVENDA) VALUES (1, " +
                        std::to_string(base) + " + :I, 4); I = I + 1; END END^ SET TERM ; ^ COMMIT;");
    ASSERT_NO_FATAL_FAILURE(Rodar(*agente1_, "store 1"));

    const auto sinal = agente->Pasta() / "parado";
    auto processo = ParadoEm(*agente, "receber.apos_o_commit:1", sinal);
    ASSERT_FALSE(HasFailure());
    proxy.Parar();
    proxy.Iniciar();
    const std::string logAntes = agente->Log();
    std::filesystem::remove(sinal);
    EXPECT_EQ(processo->Esperar(120s), 0) << processo->Saida();
    EXPECT_EQ(agente->Log(), logAntes);

    const std::string faixa = " BETWEEN " + std::to_string(base) + " AND " + std::to_string(base + linhas - 1);
    EXPECT_EQ(Linhas(*loja2_, "SELECT COUNT(DISTINCT CODIGOPRODUTO), COUNT(*) FROM AUDITORIA_ESCRITAS WHERE "
                              "USUARIO = 'ONDARIS' AND CODIGOPRODUTO" + faixa),
              std::vector<std::string>{std::to_string(linhas) + " | " + std::to_string(linhas)});
    const std::string precos = "SELECT COUNT(*), SUM(PRECOVENDA) FROM PRECOS WHERE CODIGOPRODUTO" + faixa;
    EXPECT_EQ(Linhas(*loja2_, precos), Linhas(*loja1_, precos));
}

}  // namespace
