// What holds sending back: only a store transaction that logged a change and
// is still open. Readers, writers of tables that are not logged, and
// transactions that ended, however they ended, never do; reservations left
// behind by a cut attachment or copied by a backup and restore stop counting.
// A writer that holds sending for longer than the warning time is named in
// the log and shown on the send panel.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>

#include "support/loja_e2e.h"
#include "test_envio_apoio.h"

namespace ondaris::teste::envio {
namespace {

const std::string kConcluido = sync::TextoEnvioConcluido;

class EnvioRetencao : public ::testing::Test {
protected:
    static void SetUpTestSuite() { GarantirUsuarioReplicacao(); }

    void SetUp() override {
        ConfigurarEnvio(banco_, 7, central_.Url());
        pasta_ = std::make_unique<PastaAgente>(Ini(banco_, "127.0.0.1", "SegundosEnvioRetido=1\n"));
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
    const db::OpcoesTransacao escrita{.SomenteLeitura = false, .InicioAutomatico = false, .FimAutomatico = false};
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

    // Held, but not yet for longer than the warning time: nothing is told.
    ASSERT_TRUE(agente_->Rodar()) << agente_->Registros.back();
    EXPECT_EQ(central_.Confirmada(), antes);
    EXPECT_TRUE(agente_->Registros.empty());
    EXPECT_EQ(agente_->Janela.UltimoEnvio(), kConcluido);

    // The warning time is one second here.
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    ASSERT_TRUE(agente_->Rodar());
    EXPECT_EQ(central_.Confirmada(), antes);
    ASSERT_EQ(agente_->Registros.size(), 1u);
    const std::string& registro = agente_->Registros.front();
    for (const std::string& parte :
         {std::string("Envio retido desde "), "transação " + std::to_string(transacao),
          "conexão " + std::to_string(anexo), std::string("usuário SYSDBA"), std::string("endereço 127.0.0.1"),
          "posição " + std::to_string(antes)})
        EXPECT_NE(registro.find(parte), std::string::npos) << parte << " in: " << registro;
    const std::string painel = agente_->Janela.UltimoEnvio();
    EXPECT_EQ(painel.rfind("Envio retido desde ", 0), 0u) << painel;
    EXPECT_NE(painel.find("transação " + std::to_string(transacao)), std::string::npos) << painel;

    // Still held: the panel keeps saying so, the log is not written again
    // within the hour.
    ASSERT_TRUE(agente_->Rodar());
    EXPECT_EQ(agente_->Registros.size(), 1u);
    EXPECT_EQ(agente_->Janela.UltimoEnvio().rfind("Envio retido desde ", 0), 0u);

    caixa.Commit();
    ASSERT_TRUE(agente_->Rodar());
    EXPECT_EQ(central_.Confirmada(), FimDoLog(banco_));
    EXPECT_EQ(agente_->Janela.UltimoEnvio(), kConcluido);
    EXPECT_EQ(agente_->Registros.size(), 1u);
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
    const db::OpcoesTransacao escrita{.SomenteLeitura = false, .InicioAutomatico = false, .FimAutomatico = false};
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
        EXPECT_TRUE(agente_->DM.RetornaIndices(0, 100000).Retido()) << "open, it holds the log";
        c.encerrar(escritor);

        const db::TIndicesEnvio indices = agente_->DM.RetornaIndices(0, 100000);
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
    const db::TIndicesEnvio indices = agente_->DM.RetornaIndices(0, 100000);
    EXPECT_TRUE(indices.Retido());
    EXPECT_EQ(indices.OrdemFinal, antes);
    ASSERT_TRUE(indices.Retentor);
    EXPECT_EQ(indices.Retentor->Transacao, escritor.Transacao());
    escritor.Commit();
    EXPECT_EQ(agente_->DM.RetornaIndices(0, 100000).OrdemFinal, FimDoLog(banco_));
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

    EXPECT_TRUE(agente_->DM.RetornaIndices(0, 100000).Retido());
    relatorio.Commit();
    const db::TIndicesEnvio indices = agente_->DM.RetornaIndices(0, 100000);
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
