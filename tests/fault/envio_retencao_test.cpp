// What holds sending back: only a store transaction that logged a change and
// is still open. Readers, writers of tables that are not logged, and
// transactions that ended, however they ended, never do; reservations left
// behind by a cut attachment or copied by a backup and restore stop counting.
// A writer that holds sending for longer than the warning time, by the age of
// its reservation on the database server's clock, is named in the log and
// shown on the send panel, by a program that keeps running and by a single
// run alike; a single run then ends with status 1.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include "support/loja_e2e.h"
#include "envio_apoio.h"

namespace ondaris::teste::envio {
namespace {

const std::string kConcluido = sync::TextoEnvioConcluido;

// When the transaction's reservation was made, as the log and the panel
// write it ("DD/MM/YYYY HH:mm:ss").
std::string MomentoDaReserva(const BancoTeste& banco, std::int64_t transacao) {
    LeitorLoja leitor(banco);
    // "YYYY-MM-DD HH:MM:SS.ssss"
    const std::string t = leitor.Valor("SELECT CAST(MOMENTO AS VARCHAR(24)) FROM RPL_RESERVAS WHERE ID_TRANSACAO = " +
                                       std::to_string(transacao));
    return t.substr(8, 2) + "/" + t.substr(5, 2) + "/" + t.substr(0, 4) + " " + t.substr(11, 8);
}

// Waits until the transaction's reservation is older than `idade` by the
// database server's clock.
void EsperarReservaMaisVelhaQue(const BancoTeste& banco, std::int64_t transacao, std::chrono::milliseconds idade) {
    LeitorLoja leitor(banco);
    const std::string sql = "SELECT CAST(DATEDIFF(MILLISECOND FROM MOMENTO TO CURRENT_TIMESTAMP) AS BIGINT) FROM RPL_RESERVAS"
                            " WHERE ID_TRANSACAO = " + std::to_string(transacao);
    const auto limite = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (leitor.Inteiro(sql) <= idade.count()) {
        ASSERT_LT(std::chrono::steady_clock::now(), limite) << "the reservation does not age";
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

std::size_t Ocorrencias(const std::string& texto, const std::string& parte) {
    std::size_t n = 0;
    for (auto i = texto.find(parte); i != std::string::npos; i = texto.find(parte, i + parte.size())) ++n;
    return n;
}

class EnvioRetencao : public ::testing::Test {
protected:
    static void SetUpTestSuite() { GarantirUsuarioReplicacao(); }

    void SetUp() override {
        ConfigurarEnvio(banco_, 7, central_.Url());
        // The default warning time (ten minutes): a holding is never told
        // unless a test asks for a shorter one.
        pasta_ = std::make_unique<PastaAgente>(Ini(banco_));
        agente_ = std::make_unique<Agente>(pasta_->Pasta());
        ASSERT_TRUE(agente_->Iniciar()) << agente_->Registros.back();
    }

    BancoTeste banco_;
    CentralMinima central_{7};
    std::unique_ptr<PastaAgente> pasta_;
    std::unique_ptr<Agente> agente_;
};

TEST_F(EnvioRetencao, OnlyAnOpenWriterOfReplicatedDataHoldsSending) {
    struct Caso {
        const char* nome;
        db::OpcoesTransacao opcoes;
        const char* sql;
        bool retem;
    };
    const db::OpcoesTransacao escrita = db::OpcoesTransacao::Escrita();
    const Caso casos[] = {
        {"a read-only read-committed select", kSomenteLeitura, "SELECT COUNT(*) FROM PRODUTOS", false},
        {"a read-committed select in a read-write transaction", escrita, "SELECT COUNT(*) FROM PRODUTOS", false},
        {"a snapshot select", kLeituraInstantanea, "SELECT COUNT(*) FROM PRODUTOS", false},
        {"a writer of a table that is not logged", escrita,
         "INSERT INTO MOVIMENTOCAIXA (DATAHORA, HISTORICO, VALOR) VALUES (CURRENT_TIMESTAMP, 'Sangria', 10)", false},
        {"a writer of a replicated table", escrita, "UPDATE PRODUTOS SET DESCRICAO = 'Aberta' WHERE CODIGO = 1",
         true},
    };
    int codigo = 1;
    for (const auto& c : casos) {
        SCOPED_TRACE(c.nome);
        Vender(banco_, codigo, 2);
        codigo += 2;
        const std::int64_t antes = FimDoLog(banco_);
        Terminal aberta(banco_, c.opcoes);
        aberta.Executar(c.sql);
        // Changes committed while it stays open.
        Vender(banco_, codigo, 2);
        codigo += 2;

        ASSERT_TRUE(agente_->Rodar()) << agente_->Registros.back();
        if (c.retem) {
            // Its change took the position after `antes`: nothing past it goes.
            EXPECT_EQ(central_.Confirmada(), antes);
            aberta.Commit();
            ASSERT_TRUE(agente_->Rodar()) << agente_->Registros.back();
        }
        EXPECT_EQ(central_.Confirmada(), FimDoLog(banco_));
        EXPECT_EQ(agente_->Janela.UltimoEnvio(), kConcluido);
        EXPECT_TRUE(agente_->Registros.empty()) << agente_->Registros.front();
    }
}

TEST_F(EnvioRetencao, AWriterHoldingSendingIsNamedInTheLogAndOnThePanel) {
    Vender(banco_, 1, 2);
    const std::int64_t antes = FimDoLog(banco_);
    Terminal caixa(banco_);
    caixa.Executar("INSERT INTO PRODUTOS (CODIGO, DESCRICAO) VALUES (100, 'Venda em aberto')");
    const std::int64_t transacao = caixa.Transacao();
    const std::int64_t anexo = caixa.Anexo();
    Vender(banco_, 3, 3);

    // Held, but not for longer than the warning time: nothing is told.
    ASSERT_TRUE(agente_->Rodar()) << agente_->Registros.back();
    EXPECT_EQ(central_.Confirmada(), antes);
    EXPECT_TRUE(agente_->Registros.empty()) << agente_->Registros.front();
    EXPECT_EQ(agente_->Janela.UltimoEnvio(), kConcluido);
    EXPECT_FALSE(agente_->Ciclo.EnvioRetido());

    // An agent whose warning time is one second, and which has never seen
    // the holding before: since when comes from the reservation. The first
    // one stops, freeing the database for it (one agent per database).
    agente_.reset();
    PastaAgente pasta(Ini(banco_, "127.0.0.1", "SegundosEnvioRetido=1\n"));
    Agente atento(pasta.Pasta());
    ASSERT_TRUE(atento.Iniciar()) << atento.Registros.back();
    ASSERT_NO_FATAL_FAILURE(EsperarReservaMaisVelhaQue(banco_, transacao, std::chrono::seconds(1)));
    const std::string desde = "Envio retido desde " + MomentoDaReserva(banco_, transacao);
    ASSERT_TRUE(atento.Rodar()) << atento.Registros.back();
    EXPECT_EQ(central_.Confirmada(), antes);
    EXPECT_TRUE(atento.Ciclo.EnvioRetido());
    ASSERT_EQ(atento.Registros.size(), 1u);
    const std::string& registro = atento.Registros.front();
    EXPECT_EQ(registro.rfind(desde, 0), 0u) << registro;
    for (const std::string& parte :
         {"transação " + std::to_string(transacao), "conexão " + std::to_string(anexo), std::string("usuário SYSDBA"),
          std::string("endereço 127.0.0.1"), "posição " + std::to_string(antes)})
        EXPECT_NE(registro.find(parte), std::string::npos) << parte << " in: " << registro;
    const std::string painel = atento.Janela.UltimoEnvio();
    EXPECT_EQ(painel.rfind(desde + " pela transação " + std::to_string(transacao), 0), 0u) << painel;

    // Still held: the panel keeps saying so, the log is not written again
    // within the hour.
    ASSERT_TRUE(atento.Rodar()) << atento.Registros.back();
    EXPECT_EQ(atento.Registros.size(), 1u);
    EXPECT_EQ(atento.Janela.UltimoEnvio(), painel);
    EXPECT_TRUE(atento.Ciclo.EnvioRetido());

    caixa.Commit();
    ASSERT_TRUE(atento.Rodar()) << atento.Registros.back();
    EXPECT_EQ(central_.Confirmada(), FimDoLog(banco_));
    EXPECT_EQ(atento.Janela.UltimoEnvio(), kConcluido);
    EXPECT_EQ(atento.Registros.size(), 1u);
    EXPECT_FALSE(atento.Ciclo.EnvioRetido());
}

// The program as a timer runs it, once, against the reference central
// server: while a store transaction holds sending for longer than the
// warning time every run logs it and ends with status 1; held for less, or
// once it has ended, a run ends with status 0 as usual.
TEST(EnvioRetencaoUmaVez, ARunOnceEndsWithOneWhileSendingIsHeldForLongerThanTheWarningTime) {
    GarantirUsuarioReplicacao();
    BancoTeste banco;
    CentralE2E central(EstruturaDe(banco));
    ConfigurarLoja(banco, 1, central.Url(1));
    AgenteE2E agente(banco);
    // The store's position as the server holds it.
    const auto confirmada = [&]() -> std::string {
        const auto json = protocolo::LerJSON(central.Get("/status"));
        if (json && json->Membro("lojas"))
            for (const auto& l : json->Membro("lojas")->Elementos())
                if (l.Membro("loja") && l.Membro("loja")->Bruto() == "1" && l.Membro("ultimaordemenviada"))
                    return l.Membro("ultimaordemenviada")->Bruto();
        return "<missing>";
    };

    Vender(banco, 1, 2);
    const std::int64_t antes = FimDoLog(banco);
    Terminal caixa(banco);
    caixa.Executar("INSERT INTO PRODUTOS (CODIGO, DESCRICAO) VALUES (100, 'Venda em aberto')");
    const std::int64_t transacao = caixa.Transacao();
    Vender(banco, 3, 2);

    // Held, for less than the default warning time.
    ASSERT_NO_FATAL_FAILURE(RodarSemFalha(agente, "the run while sending is held for a short while"));
    EXPECT_NE(agente.Saida().find("Envio: " + kConcluido + "\n"), std::string::npos) << agente.Saida();
    EXPECT_EQ(confirmada(), std::to_string(antes));

    std::ofstream(agente.Pasta() / "korvin.ini", std::ios::app) << "SegundosEnvioRetido=1\r\n";
    ASSERT_NO_FATAL_FAILURE(EsperarReservaMaisVelhaQue(banco, transacao, std::chrono::seconds(1)));
    const std::string desde = "Envio retido desde " + MomentoDaReserva(banco, transacao);
    for (std::size_t vez = 1; vez <= 2; ++vez) {
        SCOPED_TRACE("run " + std::to_string(vez) + " while held for long");
        EXPECT_EQ(agente.RodarUmaVez(std::chrono::seconds(120)), 1) << agente.Saida() << agente.Log();
        const std::string log = agente.Log();
        EXPECT_EQ(Ocorrencias(log, " - " + desde + ", quando a transação " + std::to_string(transacao)), vez) << log;
        EXPECT_EQ(Ocorrencias(log, " - "), vez) << "nothing else is logged: " << log;
        EXPECT_NE(agente.Saida().find("Envio: " + desde + " pela transação " + std::to_string(transacao)),
                  std::string::npos)
            << agente.Saida();
        EXPECT_EQ(agente.Saida().find(kConcluido), std::string::npos) << agente.Saida();
        EXPECT_EQ(confirmada(), std::to_string(antes));
    }

    caixa.Commit();
    ASSERT_NO_FATAL_FAILURE(RodarSemFalha(agente, "the run after the holder committed"));
    EXPECT_NE(agente.Saida().find("Envio: " + kConcluido + "\n"), std::string::npos) << agente.Saida();
    EXPECT_EQ(confirmada(), std::to_string(FimDoLog(banco)));
}

// With an older transaction open, the database's oldest active transaction
// stays behind every writer: only the end of the writer itself may release
// the log, and it must, however it ended.
TEST_F(EnvioRetencao, AWriterThatEndedStopsHoldingAtOnce) {
    struct Caso {
        const char* nome;
        db::OpcoesTransacao opcoes;
        const char* registrar;  // its first logged change, before the others commit theirs
        std::function<void(Terminal&)> encerrar;
    };
    const db::OpcoesTransacao escrita = db::OpcoesTransacao::Escrita();
    const char* const vendaAberta = "INSERT INTO PRODUTOS (CODIGO, DESCRICAO) VALUES (NEXT VALUE FOR GEN_TESTE, 'Aberta')";
    const char* const vendaQueFalha =
        "EXECUTE BLOCK AS BEGIN"
        " INSERT INTO PRODUTOS (CODIGO, DESCRICAO) VALUES (5000, 'Falhou');"
        " INSERT INTO PRODUTOS (CODIGO, DESCRICAO) VALUES (5000, 'Repetido');"
        " END";
    const Caso casos[] = {
        {"committed", escrita, vendaAberta, [](Terminal& t) { t.Commit(); }},
        {"rolled back", escrita, vendaAberta, [](Terminal& t) { t.Rollback(); }},
        {"a snapshot transaction, committed", kInstantaneo, vendaAberta, [](Terminal& t) { t.Commit(); }},
        {"committed after its only logged change failed", escrita, vendaQueFalha, [](Terminal& t) { t.Commit(); }},
    };
    banco_.ExecutarSql("CREATE SEQUENCE GEN_TESTE; COMMIT; ALTER SEQUENCE GEN_TESTE RESTART WITH 1000;");
    int codigo = 1;
    for (const auto& c : casos) {
        SCOPED_TRACE(c.nome);
        Terminal relatorio(banco_);  // older than the writer, open throughout
        relatorio.Executar("SELECT COUNT(*) FROM PRODUTOS");
        Terminal escritor(banco_, c.opcoes);
        if (c.registrar == vendaQueFalha)
            EXPECT_THROW(escritor.Executar(c.registrar), db::ErroBanco);
        else
            escritor.Executar(c.registrar);
        Vender(banco_, codigo, 2);
        codigo += 2;
        EXPECT_TRUE(agente_->DM.LogReplicacao().RetornaIndices(0, 100000).Retido()) << "open, it holds the log";
        c.encerrar(escritor);

        const db::TIndicesEnvio indices = agente_->DM.LogReplicacao().RetornaIndices(0, 100000);
        EXPECT_FALSE(indices.Retido()) << "limit " << indices.Limite.value_or(-1) << " below "
                                       << indices.UltimaOrdem;
        EXPECT_EQ(indices.OrdemFinal, FimDoLog(banco_));
        relatorio.Commit();
    }

    // COMMIT RETAINING ends the transaction's first part: that part is
    // released, what it logs afterwards holds the log again.
    Terminal relatorio(banco_);
    relatorio.Executar("SELECT COUNT(*) FROM PRODUTOS");
    Terminal escritor(banco_);
    escritor.Executar("INSERT INTO PRODUTOS (CODIGO, DESCRICAO) VALUES (3000, 'Antes')");
    escritor.Executar("COMMIT RETAIN");
    Vender(banco_, 3001, 1);
    const std::int64_t antes = FimDoLog(banco_);
    escritor.Executar("INSERT INTO PRODUTOS (CODIGO, DESCRICAO) VALUES (3002, 'Depois')");
    Vender(banco_, 3003, 1);
    const db::TIndicesEnvio indices = agente_->DM.LogReplicacao().RetornaIndices(0, 100000);
    EXPECT_TRUE(indices.Retido());
    EXPECT_EQ(indices.OrdemFinal, antes);
    ASSERT_TRUE(indices.Retentor);
    EXPECT_EQ(indices.Retentor->Transacao, escritor.Transacao());
    escritor.Commit();
    EXPECT_EQ(agente_->DM.LogReplicacao().RetornaIndices(0, 100000).OrdemFinal, FimDoLog(banco_));
}

// A writer whose attachment was cut never runs its end triggers: its
// reservation stays until the database's oldest active transaction passes
// it, and is then dropped.
TEST_F(EnvioRetencao, AReservationLeftByACutAttachmentIsDroppedOnceNoOlderTransactionIsOpen) {
    Terminal relatorio(banco_);
    relatorio.Executar("SELECT COUNT(*) FROM PRODUTOS");
    auto escritor = std::make_unique<Terminal>(banco_);
    escritor->Executar("INSERT INTO PRODUTOS (CODIGO, DESCRICAO) VALUES (1, 'Cortada')");
    const std::int64_t anexo = escritor->Anexo();
    Vender(banco_, 2, 2);
    banco_.ExecutarSql("DELETE FROM MON$ATTACHMENTS WHERE MON$ATTACHMENT_ID = " + std::to_string(anexo) + ";");
    escritor.reset();

    EXPECT_TRUE(agente_->DM.LogReplicacao().RetornaIndices(0, 100000).Retido());
    relatorio.Commit();
    const db::TIndicesEnvio indices = agente_->DM.LogReplicacao().RetornaIndices(0, 100000);
    EXPECT_FALSE(indices.Retido());
    EXPECT_EQ(indices.OrdemFinal, FimDoLog(banco_));
    LeitorLoja leitor(banco_);
    EXPECT_EQ(leitor.Inteiro("SELECT COUNT(*) FROM RPL_RESERVAS"), 0);
}

// A backup taken while a writer was open carries its reservation; after the
// restore transaction numbers start again, below it.
TEST_F(EnvioRetencao, ReservationsCopiedByABackupDoNotHoldTheRestoredDatabase) {
    {
        // Numbers well above those the restored database will reach soon.
        Terminal ocioso(banco_, kSomenteLeitura);
        for (int i = 0; i < 300; ++i) {
            ocioso.Executar("SELECT 1 FROM RDB$DATABASE");
            ocioso.Commit();
        }
    }
    Vender(banco_, 1, 2);
    Terminal caixa(banco_);
    caixa.Executar("INSERT INTO PRODUTOS (CODIGO, DESCRICAO) VALUES (100, 'Aberta no backup')");
    const std::int64_t transacao = caixa.Transacao();
    Vender(banco_, 3, 2);

    PastaTemporaria pasta("ondaris-backup");
    const auto copia = (pasta.Caminho() / "loja.fbk").string();
    BancoTeste restaurado(BancoTeste::Conteudo::Vazio);
    const std::vector<std::string> credenciais{"-user", "SYSDBA", "-password", SenhaSysdba()};
    const auto gbak = [&](std::vector<std::string> argumentos) {
        argumentos.insert(argumentos.begin(), "/usr/bin/gbak");
        argumentos.insert(argumentos.end(), credenciais.begin(), credenciais.end());
        Processo p(argumentos, pasta.Caminho() / "gbak.out");
        EXPECT_EQ(p.Esperar(std::chrono::seconds(120)), 0) << p.Saida();
    };
    gbak({"-b", banco_.StringConexao(), copia});
    caixa.Rollback();
    gbak({"-rep", copia, restaurado.StringConexao()});

    LeitorLoja leitor(restaurado);
    EXPECT_EQ(leitor.Inteiro("SELECT COUNT(*) FROM RPL_RESERVAS R, MON$DATABASE D WHERE R.ID_TRANSACAO = " +
                             std::to_string(transacao) + " AND R.ID_TRANSACAO > D.MON$NEXT_TRANSACTION"),
              1)
        << "the backup carries the open writer's reservation, with a number the restored database has not reached";

    PastaAgente pastaRestaurado(Ini(restaurado));
    Agente agente(pastaRestaurado.Pasta());
    ASSERT_TRUE(agente.Iniciar()) << agente.Registros.back();
    ASSERT_TRUE(agente.Rodar()) << agente.Registros.back();
    EXPECT_EQ(central_.Confirmada(), FimDoLog(restaurado));
    EXPECT_EQ(central_.Recebidas().size(), 4u);
    EXPECT_EQ(agente.Janela.UltimoEnvio(), kConcluido);
    EXPECT_EQ(leitor.Inteiro("SELECT COUNT(*) FROM RPL_RESERVAS"), 0) << "the impossible reservation is removed";
}

}  // namespace
}  // namespace ondaris::teste::envio
