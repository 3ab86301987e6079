// The setup and housekeeping commands of ondarisd as a technician runs
// them: the program copied beside its korvin.ini, a real store database,
// the central server inside the test process.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "db/udm.h"
#include "support/banco_teste.h"
#include "support/loja_e2e.h"
#include "support/pasta_temporaria.h"
#include "support/servidor_http.h"

namespace ondaris::teste {
namespace {

struct Execucao {
    int Status = -1;
    std::string Saida;
};

class ComandosManutencao : public ::testing::Test {
protected:
    static void SetUpTestSuite() { GarantirUsuarioReplicacao(); }

    void SetUp() override {
        banco_ = std::make_unique<BancoTeste>();
        banco_->ExecutarSql(
            "CREATE TABLE CLIENTES (CODIGO INTEGER NOT NULL PRIMARY KEY, NOME VARCHAR(40));\n"
            "CREATE TABLE TRES (A INTEGER NOT NULL, B INTEGER NOT NULL, C INTEGER NOT NULL, PRIMARY KEY (A, B, C));\n");
        std::filesystem::copy_file(ONDARIS_BINARY_DIR "/app/ondarisd", pasta_.Caminho() / "ondarisd");
        GravarBytes(pasta_.Caminho() / "korvin.ini",
                    "[Korvin]\r\nServidor=127.0.0.1\r\nCaminho=" + banco_->Caminho() + "\r\n");
    }

    // Runs the program with the administrator's login in the environment
    // (or none: the replication account and the agent's known passwords).
    Execucao Rodar(std::vector<std::string> argumentos, bool comAdministrador = true,
                   const std::string& senha = SenhaSysdba()) {
        argumentos.insert(argumentos.begin(), (pasta_.Caminho() / "ondarisd").string());
        std::vector<std::string> ambiente = AmbienteBrasileiro();
        ambiente.push_back(comAdministrador ? "ISC_USER=SYSDBA" : "ISC_USER=");
        ambiente.push_back("ISC_PASSWORD=" + (comAdministrador ? senha : std::string()));
        Processo p(std::move(argumentos), pasta_.Caminho() / "saida.txt", std::move(ambiente));
        Execucao r;
        r.Status = p.Esperar(std::chrono::seconds(120));
        r.Saida = p.Saida();
        return r;
    }

    std::vector<std::string> Gatilhos() {
        LeitorLoja leitor(*banco_);
        return leitor.Linhas(
            "SELECT TRIM(RDB$TRIGGER_NAME) FROM RDB$TRIGGERS WHERE TRIM(RDB$TRIGGER_NAME) LIKE '%\\_RPL' ESCAPE '\\' "
            "ORDER BY 1");
    }

    std::unique_ptr<BancoTeste> banco_;
    PastaTemporaria pasta_{"ondaris-manutencao"};
};

TEST_F(ComandosManutencao, PrintingShowsTheSqlForReviewAndChangesNothing) {
    const auto antes = Gatilhos();
    const auto r = Rodar({"--instalar-gatilhos", "--somente-imprimir", "clientes"}, false);
    EXPECT_EQ(r.Status, 0) << r.Saida;
    EXPECT_NE(r.Saida.find("/* CLIENTES: chave CODIGO */\nSET TERM ^ ;\nCREATE OR ALTER TRIGGER CLIENTES_RPL FOR "
                           "CLIENTES\n"),
              std::string::npos)
        << r.Saida;
    EXPECT_NE(r.Saida.find("GRANT SELECT, INSERT, UPDATE, DELETE ON CLIENTES TO USER ONDARIS;\n"), std::string::npos)
        << r.Saida;
    EXPECT_EQ(Gatilhos(), antes);
}

TEST_F(ComandosManutencao, ANamedTableThatCannotBeLoggedStopsTheWholeInstallation) {
    const auto antes = Gatilhos();
    const auto r = Rodar({"--instalar-gatilhos", "CLIENTES", "TRES", "FANTASMA"});
    EXPECT_EQ(r.Status, 1) << r.Saida;
    EXPECT_NE(r.Saida.find("Recusada: TRES tem chave primária de 3 colunas: o log guarda no máximo 2 valores de chave."),
              std::string::npos)
        << r.Saida;
    EXPECT_NE(r.Saida.find("Recusada: FANTASMA não existe neste banco."), std::string::npos) << r.Saida;
    EXPECT_NE(r.Saida.find("Nada foi instalado."), std::string::npos) << r.Saida;
    EXPECT_EQ(Gatilhos(), antes);
}

TEST_F(ComandosManutencao, InstallingEveryTableLogsTheirChangesAndRemovingStopsIt) {
    const auto r = Rodar({"--instalar-gatilhos"});
    EXPECT_EQ(r.Status, 0) << r.Saida;
    EXPECT_NE(r.Saida.find("Gatilho CLIENTES_RPL instalado em CLIENTES (chave CODIGO); a conta ONDARIS pode ler e "
                           "gravar a tabela.\n"),
              std::string::npos)
        << r.Saida;
    EXPECT_NE(r.Saida.find("Recusada: TRES tem chave primária de 3 colunas"), std::string::npos) << r.Saida;
    EXPECT_NE(r.Saida.find("Recusada: MOVIMENTOCAIXA não tem chave primária"), std::string::npos) << r.Saida;
    EXPECT_EQ(r.Saida.find("Recusada: LOG_REPLICACAO"), std::string::npos) << "our own tables are not candidates";
    EXPECT_EQ(Gatilhos(), (std::vector<std::string>{"'CLIENTES_RPL'", "'ITENSVENDA_RPL'", "'PRECOS_RPL'",
                                                    "'PRODUTOS_RPL'", "'VENDAS_RPL'"}));
    banco_->ExecutarSql("INSERT INTO RPL_CONFIGURACOES (CODIGO, CODIGOLOJA, ULTIMORECEBIMENTO) VALUES (1, 3, 0);\n"
                        "INSERT INTO CLIENTES (CODIGO, NOME) VALUES (7, 'Bia');");
    {
        LeitorLoja leitor(*banco_);
        EXPECT_EQ(leitor.Linhas("SELECT TIPO, TABELA, ATUALVALORCHAVE1 FROM LOG_REPLICACAO"),
                  std::vector<std::string>{"'U' | 'CLIENTES' | '7'"});
    }
    // A second run is harmless: the same triggers, no second logger.
    EXPECT_EQ(Rodar({"--instalar-gatilhos", "CLIENTES"}).Status, 0);

    const auto remocao = Rodar({"--remover-gatilhos", "CLIENTES"});
    EXPECT_EQ(remocao.Status, 0) << remocao.Saida;
    EXPECT_NE(remocao.Saida.find("Gatilho CLIENTES_RPL removido de CLIENTES"), std::string::npos) << remocao.Saida;
    banco_->ExecutarSql("UPDATE CLIENTES SET NOME = 'Beatriz';");
    LeitorLoja leitor(*banco_);
    EXPECT_EQ(leitor.Inteiro("SELECT COUNT(*) FROM LOG_REPLICACAO"), 1);
    EXPECT_EQ(Gatilhos(), (std::vector<std::string>{"'ITENSVENDA_RPL'", "'PRECOS_RPL'", "'PRODUTOS_RPL'",
                                                    "'VENDAS_RPL'"}));
}

TEST_F(ComandosManutencao, AWrongAdministratorLoginOrOldObjectsChangeNothing) {
    const auto antes = Gatilhos();
    // Without ISC_USER: SYSDBA with the agent's known passwords, which a
    // test server does not have.
    ASSERT_NE(SenhaSysdba(), db::kSenhasAdministrador[0]);
    ASSERT_NE(SenhaSysdba(), db::kSenhasAdministrador[1]);
    const auto semLogin = Rodar({"--instalar-gatilhos", "CLIENTES"}, false);
    EXPECT_EQ(semLogin.Status, 1) << semLogin.Saida;
    EXPECT_NE(semLogin.Saida.find("defina ISC_USER e ISC_PASSWORD"), std::string::npos) << semLogin.Saida;
    const auto senhaErrada = Rodar({"--remover-gatilhos"}, true, "errada");
    EXPECT_EQ(senhaErrada.Status, 1) << senhaErrada.Saida;
    EXPECT_NE(senhaErrada.Saida.find("o administrador não conseguiu entrar"), std::string::npos) << senhaErrada.Saida;

    banco_->ExecutarSql("DROP PROCEDURE PROC_VERSAO_REPLICACAO;");
    const auto antigos = Rodar({"--instalar-gatilhos", "CLIENTES"});
    EXPECT_EQ(antigos.Status, 1) << antigos.Saida;
    EXPECT_NE(antigos.Saida.find("são da versão 1 e este programa precisa da 4: rode sql/replicacao.sql"),
              std::string::npos)
        << antigos.Saida;
    EXPECT_EQ(Gatilhos(), antes);
}

// Housekeeping asks the central server how far it holds the log.
class LimpezaPrograma : public ComandosManutencao {
protected:
    void SetUp() override {
        ComandosManutencao::SetUp();
        central_.Manipulador([this](const RequisicaoRecebida& r) {
            if (r.Caminho.rfind("/obterindiceenvio/3/", 0) == 0)
                return RespostaProgramada::Json(R"({"ultimaordemenviada":)" + std::to_string(confirmada_) +
                                                R"(,"ultimomovimentoloja":)" +
                                                r.Caminho.substr(r.Caminho.rfind('/') + 1) + "}");
            return RespostaProgramada::Texto("rota desconhecida", 404);
        });
        std::string sql = "INSERT INTO RPL_CONFIGURACOES (CODIGO, CODIGOLOJA, LINKCENTRAL, ULTIMORECEBIMENTO) VALUES (1, 3, " +
                          std::string("'") + central_.Base() + "', 0);\nCOMMIT;\n";
        // 1-4 from 2020, 5 from today.
        for (int i = 1; i <= 5; ++i)
            sql += "INSERT INTO LOG_REPLICACAO (TIPO, TABELA, ATUALVALORCHAVE1, OCORRENCIA_LOCAL) VALUES ('U', "
                   "'CLIENTES', '" +
                   std::to_string(i) + "', " + (i == 5 ? "CURRENT_TIMESTAMP" : "TIMESTAMP '2020-05-01 12:00:00'") +
                   ");\nCOMMIT;\n";
        banco_->ExecutarSql(sql + "DELETE FROM RPL_RESERVAS;\n");
    }

    std::vector<std::string> Restantes() {
        LeitorLoja leitor(*banco_);
        return leitor.Linhas("SELECT ORDEM FROM LOG_REPLICACAO ORDER BY ORDEM");
    }

    ServidorHttp central_;
    std::int64_t confirmada_ = 3;
};

TEST_F(LimpezaPrograma, DeletesUpToTheAcknowledgedPositionAndSaysWhat) {
    const auto r = Rodar({"--limpar-log", "30"});
    EXPECT_EQ(r.Status, 0) << r.Saida;
    EXPECT_NE(r.Saida.find("O servidor central tem o log desta loja (loja 3) até a posição 3; o log vai até 5."),
              std::string::npos)
        << r.Saida;
    EXPECT_NE(r.Saida.find("3 linhas apagadas do log em 1 lote, até a posição 3, todas com mais de 30 dias e já "
                           "recebidas pelo servidor central."),
              std::string::npos)
        << r.Saida;
    EXPECT_EQ(Restantes(), (std::vector<std::string>{"4", "5"}));
    // The question is the cycle's own, with the log's real end.
    const auto pedidos = central_.Recebidas();
    ASSERT_EQ(pedidos.size(), 1u);
    EXPECT_EQ(pedidos[0].Caminho, "/obterindiceenvio/3/5");

    confirmada_ = 5;
    const auto hoje = Rodar({"--limpar-log", "1"});
    EXPECT_EQ(hoje.Status, 0) << hoje.Saida;
    EXPECT_EQ(Restantes(), (std::vector<std::string>{"5"})) << "today's row is kept";
}

TEST_F(LimpezaPrograma, NothingIsDeletedWhenTheServerRefusesOrClaimsTooMuch) {
    central_.Responder(RespostaProgramada::Texto("loja desconhecida", 404));
    const auto recusa = Rodar({"--limpar-log", "0"});
    EXPECT_EQ(recusa.Status, 1) << recusa.Saida;
    EXPECT_NE(recusa.Saida.find("O servidor central recusou GET"), std::string::npos) << recusa.Saida;
    EXPECT_NE(recusa.Saida.find("Nada foi apagado."), std::string::npos) << recusa.Saida;

    confirmada_ = 9;
    const auto demais = Rodar({"--limpar-log", "0"});
    EXPECT_EQ(demais.Status, 1) << demais.Saida;
    EXPECT_NE(demais.Saida.find("diz ter recebido até a posição 9, mas o log desta loja só chegou a 5"),
              std::string::npos)
        << demais.Saida;

    banco_->ExecutarSql("UPDATE RPL_CONFIGURACOES SET LINKCENTRAL = 'http://127.0.0.1:" +
                        std::to_string(ServidorHttp::PortaFechada()) + "/';");
    const auto semServidor = Rodar({"--limpar-log", "0"});
    EXPECT_EQ(semServidor.Status, 1) << semServidor.Saida;
    EXPECT_NE(semServidor.Saida.find("Falha: "), std::string::npos) << semServidor.Saida;
    EXPECT_EQ(Restantes().size(), 5u);
}

// A restored copy of store 1, which had received up to position 40, made
// store 3; the central server inside the test answers the agent's own
// requests for store 3.
class NovaLojaPrograma : public ComandosManutencao {
protected:
    void SetUp() override {
        ComandosManutencao::SetUp();
        central_.Manipulador([this](const RequisicaoRecebida& r) {
            if (r.Caminho == "/obterindiceenvio/3/0")
                return RespostaProgramada::Json(R"({"ultimaordemenviada":")" + std::to_string(enviada_) +
                                                R"(","ultimomovimentoloja":"0"})");
            if (r.Caminho == "/receber/3/40")
                return RespostaProgramada::Json(
                    R"({"ordeminicial":"41","ordemfinal":"41","ultimaordem":"57","comandos":[]})");
            return RespostaProgramada::Texto("rota desconhecida", 404);
        });
        banco_->ExecutarSql(
            "INSERT INTO RPL_CONFIGURACOES (CODIGO, CODIGOLOJA, LINKCENTRAL, NIVELREPLICACAO, ULTIMORECEBIMENTO)"
            " VALUES (1, 1, '" + central_.Base() + "', 1, 40);\nCOMMIT;\n"
            "INSERT INTO VENDAS (NUMERO, CODIGOLOJA, DATAVENDA) VALUES (100, 1, DATE '2024-01-02');\n"
            "INSERT INTO VENDAS (NUMERO, CODIGOLOJA, DATAVENDA) VALUES (101, 1, DATE '2024-01-02');\n"
            "INSERT INTO VENDAS (NUMERO, CODIGOLOJA, DATAVENDA) VALUES (102, 2, DATE '2024-01-02');\n");
    }

    // The settings and the log as they stand.
    std::vector<std::string> Estado() {
        LeitorLoja leitor(*banco_);
        auto r = leitor.Linhas("SELECT CODIGOLOJA, ULTIMORECEBIMENTO FROM RPL_CONFIGURACOES");
        r.push_back(std::to_string(leitor.Inteiro("SELECT COUNT(*) FROM LOG_REPLICACAO")) + " log rows");
        return r;
    }

    ServidorHttp central_;
    int enviada_ = 0;
};

TEST_F(NovaLojaPrograma, MakesTheCopyStoreThreeKeepingItsPositionAndListsTheOldStoresRows) {
    const auto r = Rodar({"--nova-loja", "3"});
    EXPECT_EQ(r.Status, 0) << r.Saida;
    for (const char* linha : {
             "Este banco é uma cópia da loja 1 e vai passar a ser a loja 3.\n",
             "O servidor central não tem nada enviado pela loja 3: o código está livre.\n",
             "Posição recebida da cópia: 40.\n",
             "O servidor central tem comandos para a loja 3 até a posição 57.\n",
             "A nova loja vai receber tudo o que vier depois da posição 40, inclusive o que a loja 1 enviou depois "
             "desta cópia",
             "Pronto: este banco agora é a loja 3. Apagadas do log: 3 linhas (alterações da loja 1, que ela mesma "
             "envia); reservas apagadas: ",
             ". A posição recebida continua 40.\n",
             "Linhas da loja 1 em colunas de loja (com LOJA no nome), para você decidir:\n"
             "  VENDAS.CODIGOLOJA: 2 linhas (tabela replicada)\n",
             "crie-as com o código 3",
         })
        EXPECT_NE(r.Saida.find(linha), std::string::npos) << linha << "\n---\n" << r.Saida;
    EXPECT_EQ(Estado(), (std::vector<std::string>{"3 | 40", "0 log rows"}));
    // The agent's own requests, for the new code, from the copy's position.
    std::vector<std::string> caminhos;
    for (const auto& p : central_.Recebidas()) caminhos.push_back(p.Metodo + " " + p.Caminho);
    EXPECT_EQ(caminhos, (std::vector<std::string>{"GET /obterindiceenvio/3/0", "GET /receber/3/40"}));
}

TEST_F(NovaLojaPrograma, RefusesChangingNothing) {
    struct Caso {
        const char* nome;
        std::string codigo;
        std::function<void()> preparar;
        const char* texto;
    };
    const std::vector<Caso> casos = {
        {"the copy's own code", "1", [] {}, "Recusado: este banco já é da loja 1"},
        {"a code that has sent", "3", [this] { enviada_ = 12; },
         "Recusado: o servidor central já tem o log da loja 3 até a posição 12: esse código é de uma loja que já "
         "enviou alterações"},
        {"a refusing server", "3", [this] { central_.Responder(RespostaProgramada::Texto("loja bloqueada", 403)); },
         "O servidor central recusou GET"},
        {"no server", "3",
         [this] {
             banco_->ExecutarSql("UPDATE RPL_CONFIGURACOES SET LINKCENTRAL = 'http://127.0.0.1:" +
                                 std::to_string(ServidorHttp::PortaFechada()) + "/';");
         },
         "Falha: "},
    };
    for (const auto& c : casos) {
        SCOPED_TRACE(c.nome);
        c.preparar();
        const auto antes = Estado();
        const auto r = Rodar({"--nova-loja", c.codigo});
        EXPECT_EQ(r.Status, 1) << r.Saida;
        EXPECT_NE(r.Saida.find(c.texto), std::string::npos) << r.Saida;
        EXPECT_NE(r.Saida.find("Nada foi mudado.\n"), std::string::npos) << r.Saida;
        EXPECT_EQ(Estado(), antes);
        EXPECT_EQ(Estado()[1], "3 log rows");
    }
    const auto invalido = Rodar({"--nova-loja", "0"});
    EXPECT_EQ(invalido.Status, 2) << invalido.Saida;
    EXPECT_NE(invalido.Saida.find("\"0\" não é um código de loja (um número inteiro de 1 a 2147483647)"),
              std::string::npos)
        << invalido.Saida;
}

TEST_F(ComandosManutencao, InitialSendSaysWhatItWillDoThenLogsEveryRowOnceWhenConfirmed) {
    banco_->ExecutarSql(
        "ALTER TRIGGER PRODUTOS_RPL INACTIVE;\nCOMMIT;\n"
        "INSERT INTO PRODUTOS (CODIGO, DESCRICAO) VALUES (1, 'Cafe');\n"
        "INSERT INTO PRODUTOS (CODIGO, DESCRICAO) VALUES (2, 'Cha');\n"
        "INSERT INTO PRODUTOS (CODIGO, DESCRICAO) VALUES (3, 'Mate');\n"
        "COMMIT;\nALTER TRIGGER PRODUTOS_RPL ACTIVE;\n"
        "INSERT INTO RPL_CONFIGURACOES (CODIGO, CODIGOLOJA, ULTIMORECEBIMENTO) VALUES (1, 1, 0);\n");
    const auto logado = [&] {
        LeitorLoja leitor(*banco_);
        return leitor.Linhas("SELECT TIPO, TABELA, ATUALVALORCHAVE1 FROM LOG_REPLICACAO ORDER BY ORDEM");
    };

    const auto previa = Rodar({"--envio-inicial", "produtos", "precos"});
    EXPECT_EQ(previa.Status, 0) << previa.Saida;
    for (const char* linha : {
             "PRODUTOS (chave CODIGO): 3 linhas existentes seriam registradas no log, uma alteração por linha.\n",
             "PRECOS (chave CODIGOLOJA, CODIGOPRODUTO): nenhuma linha.\n",
             "cada linha vai substituir, em todas as outras lojas, a linha de mesma chave (e será criada onde "
             "faltar)",
             "Nada foi registrado: para registrar, rode de novo com --confirmar.\n",
         })
        EXPECT_NE(previa.Saida.find(linha), std::string::npos) << linha << "\n---\n" << previa.Saida;
    EXPECT_TRUE(logado().empty());

    const auto r = Rodar({"--envio-inicial", "--confirmar", "PRODUTOS"});
    EXPECT_EQ(r.Status, 0) << r.Saida;
    for (const char* linha : {
             "PRODUTOS (chave CODIGO): 3 linhas existentes serão registradas no log",
             "PRODUTOS: 3 linhas registradas no log em 1 lote.\n",
             "Total: 3 linhas registradas; o agente as envia nos próximos ciclos.\n",
         })
        EXPECT_NE(r.Saida.find(linha), std::string::npos) << linha << "\n---\n" << r.Saida;
    EXPECT_EQ(logado(), (std::vector<std::string>{"'U' | 'PRODUTOS' | '1'", "'U' | 'PRODUTOS' | '2'",
                                                  "'U' | 'PRODUTOS' | '3'"}));
}

TEST_F(ComandosManutencao, InitialSendOfATableItCannotTakeLogsNothingAtAll) {
    banco_->ExecutarSql("INSERT INTO PRODUTOS (CODIGO, DESCRICAO) VALUES (1, 'Cafe');\n");
    const auto antes = [&] {
        LeitorLoja leitor(*banco_);
        return leitor.Inteiro("SELECT COUNT(*) FROM LOG_REPLICACAO");
    }();
    const auto r = Rodar({"--envio-inicial", "--confirmar", "PRODUTOS", "CLIENTES", "TRES"});
    EXPECT_EQ(r.Status, 1) << r.Saida;
    EXPECT_NE(r.Saida.find("Recusada: CLIENTES não é replicada: não tem o gatilho de registro CLIENTES_RPL"),
              std::string::npos)
        << r.Saida;
    EXPECT_NE(r.Saida.find("Recusada: TRES tem chave primária de 3 colunas"), std::string::npos) << r.Saida;
    EXPECT_NE(r.Saida.find("Nada foi registrado.\n"), std::string::npos) << r.Saida;
    LeitorLoja leitor(*banco_);
    EXPECT_EQ(leitor.Inteiro("SELECT COUNT(*) FROM LOG_REPLICACAO"), antes);
}

}  // namespace
}  // namespace ondaris::teste
