// The store database scripts (sql/replicacao.sql with the example tables of
// sql/exemplos.sql) on a real server: the logging
// triggers, the replication account's rights and the block procedure,
// including its rule for positions that open transactions may still fill.
// Reads and concurrent writers go through the database layer, as the agent
// and the store's own programs would; isql serves where a snapshot
// transaction is needed.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <limits>
#include <memory>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "db/conexao.h"
#include "db/consulta.h"
#include "db/erros.h"
#include "support/banco_teste.h"
#include "support/captura.h"

namespace ondaris::teste {
namespace {

using db::Conexao;
using db::Consulta;
using db::OpcoesTransacao;
using db::Transacao;

constexpr const char* kUsuarioCaixa = "ONDARIS_TESTE_CAIXA";
constexpr const char* kSenhaCaixa = "caixa";

struct LinhaLog {
    std::int64_t Ordem = 0;
    std::string Tipo;
    std::string Tabela;
    std::optional<std::string> Chave1, Chave2, NovaChave1;
    std::optional<std::int64_t> Transacao;
    std::optional<std::int32_t> LojaOrigem;
};

struct Esperado {
    std::string Tipo;
    std::string Tabela;
    std::optional<std::string> Chave1, Chave2, NovaChave1;
};

struct Bloco {
    std::int64_t Inicial = 0, Final = 0, Ultima = 0;
    bool operator==(const Bloco&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Bloco& b) {
    return os << "[" << b.Inicial << ".." << b.Final << " of " << b.Ultima << "]";
}

// One attachment with a transaction the test commits or rolls back itself,
// like a store terminal in the middle of a sale.
class Sessao {
public:
    Sessao(const BancoTeste& banco, const std::string& usuario, const std::string& senha)
        : conexao_(banco.Parametros(usuario, senha), "Sessao"),
          transacao_(conexao_, "TransSessao", OpcoesTransacao::Escrita()) {
        transacao_.Iniciar();
    }
    ~Sessao() {
        // A test that failed half-way leaves its work uncommitted: drop it.
        if (transacao_.Ativa()) transacao_.Rollback();
    }


    // Runs a statement; a query is opened and read to its first row.
    void Executar(const std::string& sql) {
        if (!transacao_.Ativa()) transacao_.Iniciar();
        Consulta c(conexao_, transacao_, sql);
        if (sql.rfind("SELECT", 0) == 0)
            c.Abrir();
        else
            c.Executar();
    }
    std::int64_t Transacao() {
        if (!transacao_.Ativa()) transacao_.Iniciar();
        Consulta c(conexao_, transacao_, "SELECT CURRENT_TRANSACTION AS T FROM RDB$DATABASE");
        c.Abrir();
        return *c.Ler<std::int64_t>("T");
    }
    void Commit() { transacao_.Commit(); }
    void Rollback() { transacao_.Rollback(); }

private:
    Conexao conexao_;
    db::Transacao transacao_;
};

class LojaSql : public ::testing::Test {
protected:
    static void SetUpTestSuite() { GarantirUsuarioReplicacao(); }

    // The settings row the triggers take the store's code from.
    void Configurar() {
        banco_.ExecutarSql(
            "INSERT INTO RPL_CONFIGURACOES (CODIGO, CODIGOLOJA, LINKCENTRAL, ULTIMORECEBIMENTO)"
            " VALUES (5, 50, 'http://127.0.0.1:1/', 0);\n"
            "INSERT INTO RPL_CONFIGURACOES (CODIGO, CODIGOLOJA, LINKCENTRAL, ULTIMORECEBIMENTO)"
            " VALUES (2, 20, 'http://127.0.0.1:1/', 0);");
    }

    std::vector<LinhaLog> Log() {
        Conexao conexao(banco_.ParametrosSysdba());
        Transacao t(conexao, "TRLeitura", OpcoesTransacao::Leitura());
        Consulta c(conexao, t,
                   "SELECT ORDEM, TIPO, TABELA, ATUALVALORCHAVE1, ATUALVALORCHAVE2, NOVOVALORCHAVE1,"
                   " ID_TRANSACAO, CODIGOLOJAORIGEM FROM LOG_REPLICACAO ORDER BY ORDEM");
        std::vector<LinhaLog> linhas;
        for (bool ha = c.Abrir(); ha; ha = c.Proximo()) {
            linhas.push_back({*c.Ler<std::int64_t>("ORDEM"), *c.Ler<std::string>("TIPO"), *c.Ler<std::string>("TABELA"),
                              c.Ler<std::string>("ATUALVALORCHAVE1"), c.Ler<std::string>("ATUALVALORCHAVE2"),
                              c.Ler<std::string>("NOVOVALORCHAVE1"), c.Ler<std::int64_t>("ID_TRANSACAO"),
                              c.Ler<std::int32_t>("CODIGOLOJAORIGEM")});
        }
        return linhas;
    }

    std::int64_t Contar(const std::string& tabela) {
        Conexao conexao(banco_.ParametrosSysdba());
        Transacao t(conexao, "TRLeitura", OpcoesTransacao::Leitura());
        Consulta c(conexao, t, "SELECT COUNT(*) AS N FROM " + tabela);
        c.Abrir();
        return *c.Ler<std::int64_t>("N");
    }

    // The block procedure as the agent runs it: as the replication account,
    // in a read-committed read-write transaction that ends by itself.
    Bloco Indice(std::int64_t ordem, std::int32_t quantidade) {
        Conexao conexao(banco_.Parametros());
        Transacao t(conexao, "TRPrincipal", OpcoesTransacao::EscritaAutomatica());
        Consulta c(conexao, t, "SELECT * FROM PROC_RETORNA_INDICE(?, ?, ?)");
        c.DefinirPosicao(0, db::Valor(ordem));
        c.DefinirPosicao(1, db::Valor());
        c.DefinirPosicao(2, db::Valor(quantidade));
        EXPECT_TRUE(c.Abrir());
        Bloco b{*c.Ler<std::int64_t>("ORDEMINICIAL"), *c.Ler<std::int64_t>("ORDEMFINAL"), *c.Ler<std::int64_t>("ULTIMAORDEM")};
        c.Fechar();
        return b;
    }

    void InserirProdutos(Sessao& s, int primeiro, int quantos) {
        for (int i = 0; i < quantos; ++i)
            s.Executar("INSERT INTO PRODUTOS (CODIGO, DESCRICAO) VALUES (" +
                       std::to_string(primeiro + i) + ", 'Produto')");
    }

    BancoTeste banco_;
};

TEST(BancoTesteFixture, CreatesRunsAndDropsADatabase) {
    std::string caminho;
    {
        BancoTeste banco;
        caminho = banco.Caminho();
        EXPECT_TRUE(std::filesystem::exists(caminho));
        // Latin-1 text goes through the script file untouched.
        const auto saida = banco.ExecutarSql(
            "INSERT INTO PRODUTOS (CODIGO, DESCRICAO) VALUES (1, 'P\xE3o de a\xE7\xFA""car');\n"
            "SET LIST ON;\nSELECT DESCRICAO FROM PRODUTOS;");
        EXPECT_NE(saida.find("P\xE3o de a\xE7\xFA""car"), std::string::npos) << saida;
        const std::string falha =
            TextoDaFalha<ErroBancoTeste>([&] { banco.ExecutarSql("SELECT * FROM TABELA_QUE_NAO_EXISTE;"); });
        EXPECT_NE(falha.find("TABELA_QUE_NAO_EXISTE"), std::string::npos) << falha;
        BancoTeste movido(std::move(banco));
        EXPECT_EQ(movido.Caminho(), caminho);
    }
    EXPECT_FALSE(std::filesystem::exists(caminho)) << caminho;

    BancoTeste vazio(BancoTeste::Conteudo::Vazio);
    EXPECT_THROW(vazio.ExecutarSql("SELECT * FROM LOG_REPLICACAO;"), ErroBancoTeste);
}

TEST_F(LojaSql, TriggersLogEveryChangeWithTheKeyInColumnOrder) {
    Configurar();
    // PRECOS declares its key (CODIGOPRODUTO, CODIGOLOJA) while CODIGOLOJA
    // stands first: the log follows column order.
    struct Passo {
        std::string sql;
        std::vector<Esperado> esperado;
    };
    const std::vector<Passo> passos = {
        {"INSERT INTO PRECOS (CODIGOLOJA, CODIGOPRODUTO, PRECOVENDA) VALUES (12, 7, 5.5)",
         {{"U", "PRECOS", "12", "7", std::nullopt}}},
        {"UPDATE PRECOS SET PRECOVENDA = 6 WHERE CODIGOPRODUTO = 7",
         {{"U", "PRECOS", "12", "7", std::nullopt}}},
        // A key change: the old key goes, the new key comes.
        {"UPDATE PRECOS SET CODIGOPRODUTO = 8 WHERE CODIGOPRODUTO = 7",
         {{"D", "PRECOS", "12", "7", "12"}, {"U", "PRECOS", "12", "8", std::nullopt}}},
        {"INSERT INTO PRODUTOS (CODIGO, DESCRICAO) VALUES (31, 'Feij\xE3o')",
         {{"U", "PRODUTOS", "31", std::nullopt, std::nullopt}}},
        {"UPDATE PRODUTOS SET CODIGO = 32", {{"D", "PRODUTOS", "31", std::nullopt, "32"},
                                             {"U", "PRODUTOS", "32", std::nullopt, std::nullopt}}},
        {"INSERT INTO ITENSVENDA (NUMEROVENDA, ITEM, CODIGOPRODUTO, QUANTIDADE) VALUES (900, 1, 32, 2)",
         {{"U", "ITENSVENDA", "900", "1", std::nullopt}}},
        {"INSERT INTO MOVIMENTOCAIXA (DATAHORA, HISTORICO, VALOR) VALUES (CURRENT_TIMESTAMP, 'Sangria', 10)",
         {}},
    };

    Sessao loja(banco_, "SYSDBA", SenhaSysdba());
    const std::int64_t transacao = loja.Transacao();
    std::vector<Esperado> esperado;
    for (const auto& p : passos) {
        loja.Executar(p.sql);
        esperado.insert(esperado.end(), p.esperado.begin(), p.esperado.end());
    }
    loja.Commit();

    const auto log = Log();
    ASSERT_EQ(log.size(), esperado.size());
    for (std::size_t i = 0; i < log.size(); ++i) {
        SCOPED_TRACE("log row " + std::to_string(i));
        EXPECT_EQ(log[i].Ordem, static_cast<std::int64_t>(i + 1));
        EXPECT_EQ(log[i].Tipo, esperado[i].Tipo);
        EXPECT_EQ(log[i].Tabela, esperado[i].Tabela);
        EXPECT_EQ(log[i].Chave1, esperado[i].Chave1);
        EXPECT_EQ(log[i].Chave2, esperado[i].Chave2);
        EXPECT_EQ(log[i].NovaChave1, esperado[i].NovaChave1);
        EXPECT_EQ(log[i].Transacao, transacao);
        EXPECT_EQ(log[i].LojaOrigem, 20) << "the settings row with the lowest CODIGO";
    }

    // The agent finds a row's current content by joining its key columns,
    // in column order, to the log: after the key change only the log row
    // of the new key finds the price.
    Conexao conexao(banco_.Parametros());
    Transacao t(conexao, "TR", OpcoesTransacao::Leitura());
    Consulta envio(conexao, t,
                   "SELECT L.ORDEM, T.CODIGOLOJA, T.CODIGOPRODUTO, T.PRECOVENDA FROM PRECOS T"
                   " INNER JOIN LOG_REPLICACAO L ON (T.CODIGOLOJA = L.ATUALVALORCHAVE1)"
                   " AND (T.CODIGOPRODUTO = L.ATUALVALORCHAVE2)"
                   " WHERE L.ORDEM BETWEEN :ORDEMINICIAL AND :ORDEMFINAL AND L.TABELA = 'PRECOS'"
                   " ORDER BY ORDEM");
    envio.Definir("ORDEMINICIAL", 1);
    envio.Definir("ORDEMFINAL", 100);
    ASSERT_TRUE(envio.Abrir());
    EXPECT_EQ(*envio.Ler<std::int64_t>("ORDEM"), 4);
    EXPECT_EQ(*envio.Ler<std::int32_t>("CODIGOPRODUTO"), 8);
    EXPECT_FALSE(envio.Proximo());
}

TEST_F(LojaSql, ChangesOfTheReplicationAccountAreNotLoggedThoseOfStoreUsersAre) {
    Configurar();
    {
        Sessao agente(banco_, kUsuarioReplicacao, kSenhaReplicacao);
        agente.Executar("INSERT INTO PRODUTOS (CODIGO, DESCRICAO) VALUES (1, 'Recebido')");
        agente.Executar("UPDATE PRODUTOS SET DESCRICAO = 'Alterado' WHERE CODIGO = 1");
        agente.Executar("INSERT INTO PRECOS (CODIGOLOJA, CODIGOPRODUTO) VALUES (20, 1)");
        agente.Executar("DELETE FROM PRECOS");
        agente.Commit();
    }
    EXPECT_TRUE(Log().empty());
    EXPECT_EQ(Contar("PRODUTOS"), 1);

    // A store user with rights on one table only: the triggers and the
    // procedures carry their own rights on the log.
    banco_.ExecutarSql(std::string("CREATE OR ALTER USER ") + kUsuarioCaixa + " PASSWORD '" +
                       kSenhaCaixa + "';\nGRANT ALL ON PRODUTOS TO USER " + kUsuarioCaixa + ";");
    {
        Sessao caixa(banco_, kUsuarioCaixa, kSenhaCaixa);
        caixa.Executar("UPDATE PRODUTOS SET DESCRICAO = 'Vendido' WHERE CODIGO = 1");
        caixa.Commit();
    }
    banco_.ExecutarSql(std::string("DROP USER ") + kUsuarioCaixa + ";");
    const auto log = Log();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].Tipo, "U");
    EXPECT_EQ(log[0].Chave1, "1");
}

TEST_F(LojaSql, ReplicationAccountHasWhatTheAgentNeedsAndNoMore) {
    Configurar();
    struct Caso {
        std::string sql;
        bool permitido;
    };
    const std::vector<Caso> casos = {
        {"SELECT CODIGO, CODIGOLOJA, LINKCENTRAL, NIVELREPLICACAO, ULTIMORECEBIMENTO"
         " FROM RPL_CONFIGURACOES ORDER BY CODIGO", true},
        {"UPDATE RPL_CONFIGURACOES SET ULTIMORECEBIMENTO = 77 WHERE CODIGO = 2", true},
        {"SELECT COALESCE(MAX(ORDEM), 0) AS ULTIMAORDEM FROM LOG_REPLICACAO", true},
        {"SELECT * FROM PROC_RETORNA_INDICE(0, NULL, 1000)", true},
        {"SELECT RDB$FIELD_NAME FROM RDB$RELATION_FIELDS WHERE RDB$RELATION_NAME = 'PRECOS'", true},
        {"DELETE FROM ITENSVENDA", true},
        {"UPDATE RPL_CONFIGURACOES SET CODIGOLOJA = 1", false},
        {"DELETE FROM LOG_REPLICACAO", false},
        {"INSERT INTO LOG_REPLICACAO (TIPO, TABELA) VALUES ('U', 'PRODUTOS')", false},
    };
    Sessao agente(banco_, kUsuarioReplicacao, kSenhaReplicacao);
    for (const auto& c : casos) {
        SCOPED_TRACE(c.sql);
        if (c.permitido)
            EXPECT_NO_THROW(agente.Executar(c.sql));
        else
            EXPECT_THROW(agente.Executar(c.sql), db::ErroBanco);
    }
}

TEST_F(LojaSql, BlockBoundsFollowTheLogAndTheRequestedSize) {
    Configurar();
    EXPECT_EQ(Indice(0, 1000), (Bloco{1, 0, 0})) << "empty log";
    {
        Sessao loja(banco_, "SYSDBA", SenhaSysdba());
        InserirProdutos(loja, 1, 5);
        loja.Commit();
    }
    struct Caso {
        std::int64_t ordem;
        std::int32_t quantidade;
        Bloco esperado;
    };
    const std::vector<Caso> casos = {
        {0, 1000, {1, 5, 5}},  // everything
        {0, 2, {1, 2, 5}},     // a full block
        {2, 2, {3, 4, 5}},
        {4, 2, {5, 5, 5}},     // the last, partial block
        {5, 2, {6, 5, 5}},     // the server holds everything: nothing after ORDEM
        {9, 2, {10, 9, 5}},
        {0, 0, {1, 1, 5}},     // a size below one still moves the log on
    };
    for (const auto& c : casos)
        EXPECT_EQ(Indice(c.ordem, c.quantidade), c.esperado)
            << "ORDEM " << c.ordem << ", QTDCOMANDOS " << c.quantidade;
}

TEST_F(LojaSql, PositionLoggedFirstAndCommittedLastIsStillSent) {
    Configurar();
    {
        Sessao loja(banco_, "SYSDBA", SenhaSysdba());
        InserirProdutos(loja, 1, 2);  // positions 1 and 2
        loja.Commit();
    }
    Sessao primeira(banco_, "SYSDBA", SenhaSysdba());
    Sessao segunda(banco_, "SYSDBA", SenhaSysdba());
    primeira.Executar("INSERT INTO PRODUTOS (CODIGO, DESCRICAO) VALUES (10, 'Primeira')");  // 3
    segunda.Executar("INSERT INTO PRODUTOS (CODIGO, DESCRICAO) VALUES (11, 'Segunda')");    // 4
    segunda.Commit();

    // 4 is committed, 3 is not yet: the block stops before 3.
    EXPECT_EQ(Indice(0, 1000), (Bloco{1, 2, 4}));
    EXPECT_EQ(Indice(2, 1000), (Bloco{3, 2, 4}));

    // Later changes of the same open transaction hold the log as well.
    segunda.Executar("INSERT INTO PRODUTOS (CODIGO, DESCRICAO) VALUES (12, 'Segunda')");  // 5
    segunda.Commit();
    primeira.Executar("UPDATE PRODUTOS SET DESCRICAO = 'Primeira 2' WHERE CODIGO = 10");  // 6
    EXPECT_EQ(Indice(2, 1000), (Bloco{3, 2, 5}));

    primeira.Commit();
    EXPECT_EQ(Indice(2, 1000), (Bloco{3, 6, 6}));
    EXPECT_EQ(Log().size(), 6u);
}

TEST_F(LojaSql, AbandonedPositionsDoNotStallTheLog) {
    Configurar();
    Sessao desistente(banco_, "SYSDBA", SenhaSysdba());
    Sessao loja(banco_, "SYSDBA", SenhaSysdba());
    desistente.Executar("INSERT INTO PRODUTOS (CODIGO, DESCRICAO) VALUES (1, 'Desistiu')");  // 1
    loja.Executar("INSERT INTO PRODUTOS (CODIGO, DESCRICAO) VALUES (2, 'Vendido')");         // 2
    loja.Commit();
    EXPECT_EQ(Indice(0, 1000), (Bloco{1, 0, 2})) << "1 may still be committed";
    desistente.Rollback();
    EXPECT_EQ(Indice(0, 1000), (Bloco{1, 2, 2}));

    // A statement that failed after its change was logged, inside a
    // transaction that goes on and commits: its position stays empty too.
    EXPECT_THROW(loja.Executar("EXECUTE BLOCK AS BEGIN"
                               " INSERT INTO PRODUTOS (CODIGO, DESCRICAO) VALUES (3, 'Falhou');"
                               " INSERT INTO PRODUTOS (CODIGO, DESCRICAO) VALUES (3, 'Repetido');"
                               " END"),
                 db::ErroBanco);  // 3
    loja.Executar("INSERT INTO PRODUTOS (CODIGO, DESCRICAO) VALUES (4, 'Vendido')");  // 4
    EXPECT_EQ(Indice(2, 1000), (Bloco{3, 2, 2}));
    loja.Commit();
    EXPECT_EQ(Indice(2, 1000), (Bloco{3, 4, 4}));

    // Once nobody is writing, the reservations of ended transactions are gone.
    EXPECT_EQ(Contar("RPL_RESERVAS"), 0);
}

// Many store transactions interleaved at random with the agent's sending
// loop, which takes each block's last position as acknowledged: every
// committed change must reach some block. One thread drives every
// attachment, so a seed replays the same interleaving.
TEST_F(LojaSql, InterleavedWritersAndSenderLoseNoChange) {
    Configurar();
    constexpr int kSessoes = 4;
    std::vector<std::unique_ptr<Sessao>> lojas;
    for (int i = 0; i < kSessoes; ++i)
        lojas.push_back(std::make_unique<Sessao>(banco_, "SYSDBA", SenhaSysdba()));

    // The agent's global connection: one attachment, a transaction that
    // starts and ends around each statement.
    Conexao agente(banco_.Parametros());
    Transacao principal(agente, "TRPrincipal", OpcoesTransacao::EscritaAutomatica());
    Consulta indice(agente, principal, "SELECT * FROM PROC_RETORNA_INDICE(?, ?, ?)");
    Consulta linhas(agente, principal,
                    "SELECT ORDEM FROM LOG_REPLICACAO WHERE ORDEM BETWEEN :ORDEMINICIAL AND :ORDEMFINAL"
                    " ORDER BY ORDEM");
    std::int64_t confirmada = 0;
    std::set<std::int64_t> enviadas;
    auto enviar = [&](std::int32_t quantidade) -> bool {
        indice.DefinirPosicao(0, db::Valor(confirmada));
        indice.DefinirPosicao(1, db::Valor());
        indice.DefinirPosicao(2, db::Valor(quantidade));
        if (!indice.Abrir()) {
            ADD_FAILURE() << "PROC_RETORNA_INDICE returned no row";
            return false;
        }
        const std::int64_t inicial = *indice.Ler<std::int64_t>("ORDEMINICIAL");
        const std::int64_t final_ = *indice.Ler<std::int64_t>("ORDEMFINAL");
        indice.Fechar();
        EXPECT_EQ(inicial, confirmada + 1);
        if (final_ < inicial) return false;
        linhas.Definir("ORDEMINICIAL", inicial);
        linhas.Definir("ORDEMFINAL", final_);
        int quantas = 0;
        for (bool ha = linhas.Abrir(); ha; ha = linhas.Proximo()) {
            EXPECT_TRUE(enviadas.insert(*linhas.Ler<std::int64_t>("ORDEM")).second) << "sent twice";
            ++quantas;
        }
        EXPECT_GE(quantas, 1);
        EXPECT_LE(quantas, quantidade);
        confirmada = final_;
        return true;
    };

    std::mt19937 sorteio(20261209);
    int codigo = 0;
    for (int passo = 0; passo < 400; ++passo) {
        Sessao& loja = *lojas[sorteio() % kSessoes];
        const unsigned acao = sorteio() % 100;
        if (acao < 45) {
            loja.Executar("INSERT INTO PRODUTOS (CODIGO, DESCRICAO) VALUES (" +
                          std::to_string(++codigo) + ", 'Produto')");
        } else if (acao < 60) {
            loja.Commit();
        } else if (acao < 70) {
            loja.Rollback();
        } else {
            enviar(static_cast<std::int32_t>(1 + sorteio() % 4));
        }
    }
    for (auto& loja : lojas) loja->Commit();
    for (int i = 0; i < 1000 && enviar(1000); ++i) {
    }

    Consulta todas(agente, principal, "SELECT ORDEM FROM LOG_REPLICACAO ORDER BY ORDEM");
    std::set<std::int64_t> registradas;
    for (bool ha = todas.Abrir(); ha; ha = todas.Proximo()) registradas.insert(*todas.Ler<std::int64_t>("ORDEM"));
    EXPECT_FALSE(registradas.empty());
    EXPECT_EQ(enviadas, registradas);
}

TEST_F(LojaSql, SnapshotCallerNeverPassesAnEmptyPosition) {
    Configurar();
    {
        Sessao desistente(banco_, "SYSDBA", SenhaSysdba());
        desistente.Executar("INSERT INTO PRODUTOS (CODIGO, DESCRICAO) VALUES (1, 'Desistiu')");
        desistente.Rollback();
        Sessao loja(banco_, "SYSDBA", SenhaSysdba());
        loja.Executar("INSERT INTO PRODUTOS (CODIGO, DESCRICAO) VALUES (2, 'Vendido')");
        loja.Commit();
    }
    // isql's own transaction is a snapshot: rows committed after its start
    // would be invisible there, so it cannot tell an empty position apart.
    const auto saida = banco_.ExecutarSql(
        "SET LIST ON;\nSELECT RDB$GET_CONTEXT('SYSTEM', 'ISOLATION_LEVEL') AS ISOLAMENTO,"
        " P.* FROM PROC_RETORNA_INDICE(0, NULL, 1000) P;");
    EXPECT_NE(saida.find("SNAPSHOT"), std::string::npos) << saida;
    EXPECT_NE(saida.find("ORDEMFINAL                      0"), std::string::npos) << saida;
    EXPECT_EQ(Indice(0, 1000), (Bloco{1, 2, 2}));
}

}  // namespace
}  // namespace ondaris::teste
