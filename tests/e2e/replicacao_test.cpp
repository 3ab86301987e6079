// Replication between two stores through the real programs: two store
// databases on the Firebird server, the reference central server as a child
// process, and one "ondarisd --once" run per store and step. Rows are
// compared column by column, read through the database layer as SYSDBA.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "db/conexao.h"
#include "db/consulta.h"
#include "protocolo/json.h"
#include "protocolo/texto.h"
#include "support/banco_teste.h"
#include "support/loja_e2e.h"

namespace {

using namespace std::chrono_literals;
using ondaris::teste::AgenteE2E;
using ondaris::teste::BancoTeste;
using ondaris::teste::CentralE2E;
using ondaris::teste::LeitorLoja;

// Lines of one store missing from the other, at most a few of each side.
testing::AssertionResult MesmasLinhas(const std::vector<std::string>& loja1, const std::vector<std::string>& loja2) {
    if (loja1 == loja2) return testing::AssertionSuccess();
    auto a = loja1, b = loja2;
    std::sort(a.begin(), a.end());
    std::sort(b.begin(), b.end());
    std::vector<std::string> soEm1, soEm2;
    std::set_difference(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(soEm1));
    std::set_difference(b.begin(), b.end(), a.begin(), a.end(), std::back_inserter(soEm2));
    auto r = testing::AssertionFailure() << "store 1 has " << loja1.size() << " rows, store 2 " << loja2.size()
                                         << "; " << soEm1.size() << " only in store 1, " << soEm2.size()
                                         << " only in store 2";
    for (std::size_t i = 0; i < std::min<std::size_t>(soEm1.size(), 6); ++i) r << "\n  store 1 only: " << soEm1[i];
    for (std::size_t i = 0; i < std::min<std::size_t>(soEm2.size(), 6); ++i) r << "\n  store 2 only: " << soEm2[i];
    if (loja1.size() == loja2.size() && soEm1.empty()) r << "\n  (same rows, different order)";
    return r;
}

// Per store, the central server's view: (store, acknowledged position,
// position received after, commands waiting). The time of the last request
// is left out: every request moves it.
using EstadoCentral = std::vector<std::tuple<std::string, std::string, std::string, std::string>>;

EstadoCentral LerEstado(CentralE2E& central) {
    const auto json = ondaris::protocolo::LerJSON(central.Get("/status"));
    EstadoCentral estado;
    if (!json || !json->Membro("lojas")) {
        ADD_FAILURE() << "the status answer is not the expected JSON";
        return estado;
    }
    for (const auto& l : json->Membro("lojas")->Elementos()) {
        auto m = [&](const char* nome) { return l.Membro(nome) ? l.Membro(nome)->Bruto() : "<missing>"; };
        estado.emplace_back(m("loja"), m("ultimaordemenviada"), m("ultimaordemrecebida"), m("comandosaguardando"));
    }
    return estado;
}

class ReplicacaoTest : public ondaris::teste::DuasLojasE2E {
protected:
    static void Rodar(AgenteE2E& agente, const char* qual) { ondaris::teste::RodarSemFalha(agente, qual); }

    // Store 1 sends, store 2 receives and sends, store 1 receives.
    void Sincronizar() {
        ASSERT_NO_FATAL_FAILURE(Rodar(*agente1_, "store 1"));
        ASSERT_NO_FATAL_FAILURE(Rodar(*agente2_, "store 2"));
        ASSERT_NO_FATAL_FAILURE(Rodar(*agente1_, "store 1"));
    }

    static std::vector<std::string> Retrato(const BancoTeste& banco, bool comVersoes = false) {
        LeitorLoja leitor(banco);
        return leitor.Retrato(comVersoes);
    }

    static std::vector<std::string> Chaves(const BancoTeste& banco, const std::string& sql) {
        LeitorLoja leitor(banco);
        return leitor.Linhas(sql);
    }

    // Declared first, destroyed last: the programs are gone before the
    // databases are dropped.
};

// Rows of every example table covering each column type at its limits,
// keys shifted by `b` so that two stores can each make their own. Numerics
// are at the limits of their storage, which the server accepts beyond the
// declared precision.
std::string TodosOsTipos(long long b) {
    const auto n = [b](long long k) { return std::to_string(b + k); };
    // All 256 byte values, for the binary blob.
    std::string todosOsBytes = "x'";
    for (int i = 0; i < 256; ++i) {
        char h[4];
        std::snprintf(h, sizeof h, "%02X", i);
        todosOsBytes += h;
    }
    todosOsBytes += "'";
    const std::string maiorVenda = b == 0 ? "9223372036854775807" : "9223372036854775806";
    const std::string menorVenda = b == 0 ? "-9223372036854775807 - 1" : "-9223372036854775807";
    return
        // PRODUTOS: the upper limits, then the lower ones, then every nullable
        // column NULL, then plain values.
        "INSERT INTO PRODUTOS (CODIGO, DESCRICAO, UNIDADE, ESTOQUEMINIMO, PESOLIQUIDO, FATORCONVERSAO,"
        " PRECOREFERENCIA, ATIVO, CADASTRO, ULTIMAALTERACAO, OBSERVACOES, FOTO, DESCRICAOETIQUETA) VALUES (" +
        n(1) +
        ", 'Café torrado São João 500g  ', 'PÇ', 32767, 2147483.647, 2147.483647,"
        " 1.7976931348623157e308, TRUE, DATE '9999-12-31', TIMESTAMP '2026-12-01 08:15:30.123',"
        " 'Moagem média;' || ASCII_CHAR(9) || 'validade: 12 meses' || ASCII_CHAR(13) || 'Não contém glúten ©',"
        " " + todosOsBytes + ", 'Promoção ½ preço ÿ');\n"
        "INSERT INTO PRODUTOS (CODIGO, DESCRICAO, UNIDADE, ESTOQUEMINIMO, PESOLIQUIDO, FATORCONVERSAO,"
        " PRECOREFERENCIA, ATIVO, CADASTRO, ULTIMAALTERACAO, OBSERVACOES, FOTO, DESCRICAOETIQUETA) VALUES (" +
        n(2) +
        ", 'Aspas ''simples'' e \"duplas\" \\ barra', 'A', -32768, -2147483.648, -2147.483648,"
        " CAST(4.9406564584124654e-100 AS DOUBLE PRECISION) * 1e-224, FALSE, DATE '0001-01-01', TIMESTAMP '0001-01-01 00:00:00.0000',"
        " 'x', x'', 'Ê');\n"
        "INSERT INTO PRODUTOS (CODIGO, DESCRICAO, UNIDADE, ESTOQUEMINIMO, PESOLIQUIDO, FATORCONVERSAO,"
        " PRECOREFERENCIA, ATIVO, CADASTRO, ULTIMAALTERACAO, OBSERVACOES, FOTO, DESCRICAOETIQUETA) VALUES (" +
        n(3) + ", 'Só o obrigatório', NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL);\n"
        "INSERT INTO PRODUTOS (CODIGO, DESCRICAO, UNIDADE, ESTOQUEMINIMO, PESOLIQUIDO, FATORCONVERSAO,"
        " PRECOREFERENCIA, ATIVO, CADASTRO, ULTIMAALTERACAO, OBSERVACOES, FOTO, DESCRICAOETIQUETA) VALUES (" +
        n(4) +
        ", 'Pão francês', 'KG', 0, 0.001, 0.000001, CAST(1 AS DOUBLE PRECISION) / 3, TRUE,"
        " DATE '2024-02-29', TIMESTAMP '2026-12-31 23:59:59.999', NULL, x'00', 'Pão');\n"
        // A text blob far beyond one segment and beyond a VARCHAR (about
        // 110 KB, characters beyond ASCII throughout).
        "SET TERM ^ ;\n"
        "EXECUTE BLOCK AS DECLARE T BLOB SUB_TYPE TEXT = ''; DECLARE S VARCHAR(4000) = '';\n"
        "  DECLARE I INTEGER = 0; BEGIN\n"
        "  WHILE (I < 60) DO BEGIN\n"
        "    S = S || 'Linha ' || I || ': ação, coração, pão, côco, über, Ñandú; ';\n"
        "    I = I + 1;\n"
        "  END\n"
        "  I = 0;\n"
        "  WHILE (I < 40) DO BEGIN\n"
        "    T = T || I || ' ' || S;\n"
        "    I = I + 1;\n"
        "  END\n"
        "  UPDATE PRODUTOS SET OBSERVACOES = :T WHERE CODIGO = " + n(4) + ";\n"
        "END^\n"
        // A binary blob of 100 KiB: every byte value, 400 times.
        "EXECUTE BLOCK AS DECLARE B BLOB SUB_TYPE BINARY = x''; DECLARE I INTEGER = 0; BEGIN\n"
        "  WHILE (I < 400) DO BEGIN\n"
        "    B = B || " + todosOsBytes + ";\n"
        "    I = I + 1;\n"
        "  END\n"
        "  UPDATE PRODUTOS SET FOTO = :B WHERE CODIGO = " + n(4) + ";\n"
        "END^\n"
        "SET TERM ; ^\n"
        // PRECOS: two-column key; 16-, 64-bit numerics and a DECIMAL.
        "INSERT INTO PRECOS (CODIGOLOJA, CODIGOPRODUTO, PRECOVENDA, PRECOCUSTO, MARGEM, COMISSAO, VIGENCIA)"
        " VALUES (" + n(1) + ", 1, 922337203685477.5807, 92233720368547758.07, 327.67, 9223372036854.775807,"
        " DATE '2026-02-28');\n"
        "INSERT INTO PRECOS (CODIGOLOJA, CODIGOPRODUTO, PRECOVENDA, PRECOCUSTO, MARGEM, COMISSAO, VIGENCIA)"
        " VALUES (" + n(1) + ", 2, -922337203685477.5807 - 0.0001, -92233720368547758.07 - 0.01, -327.68,"
        " -9223372036854.775807 - 0.000001, DATE '1900-01-01');\n"
        "INSERT INTO PRECOS (CODIGOLOJA, CODIGOPRODUTO) VALUES (" + n(1) + ", 3);\n"
        "INSERT INTO PRECOS (CODIGOLOJA, CODIGOPRODUTO, PRECOVENDA, PRECOCUSTO, MARGEM, COMISSAO, VIGENCIA)"
        " VALUES (" + n(2) + ", 1, 21.9, 14.35, 0.01, 0.000001, DATE '2026-12-01');\n"
        // VENDAS: BIGINT keys at both ends, times, raw bytes.
        "INSERT INTO VENDAS (NUMERO, CODIGOLOJA, DATAVENDA, HORAVENDA, TOTAL, CPFCLIENTE, ASSINATURA, CHAVEACESSO)"
        " VALUES (" + maiorVenda + ", " + n(1) + ", DATE '2026-12-09', TIME '23:59:59.999', 92233720368547758.07,"
        " '123.456.789-09', x'00FF7F80415A0D0A09225C27C3A9E7FE',"
        " x'000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1F202122232425262728292AFF');\n"
        "INSERT INTO VENDAS (NUMERO, CODIGOLOJA, DATAVENDA, HORAVENDA, TOTAL, CPFCLIENTE, ASSINATURA, CHAVEACESSO)"
        " VALUES (" + menorVenda + ", " + n(1) + ", DATE '2000-02-29', TIME '00:00:00.0000',"
        " -92233720368547758.07 - 0.01, 'ÀÉÎÕÜ çñ', x'4142', x'E9');\n"
        "INSERT INTO VENDAS (NUMERO, CODIGOLOJA, DATAVENDA) VALUES (" + n(100001) + ", " + n(1) +
        ", DATE '2026-12-09');\n"
        // ITENSVENDA: BIGINT and SMALLINT key; doubles and floats at their ends.
        "INSERT INTO ITENSVENDA (NUMEROVENDA, ITEM, CODIGOPRODUTO, QUANTIDADE, DESCONTO, PRECOUNITARIO) VALUES (" +
        n(100001) + ", 32767, " + n(1) + ", -1.7976931348623157e308, 3.4028234e38, 922337203685477.5807);\n"
        "INSERT INTO ITENSVENDA (NUMEROVENDA, ITEM, CODIGOPRODUTO, QUANTIDADE, DESCONTO, PRECOUNITARIO) VALUES (" +
        n(100001) + ", -32768, " + n(2) +
        ", -(CAST(2.2250738585072014e-100 AS DOUBLE PRECISION) * 1e-208), 1.17549435e-38, -922337203685477.5807 - 0.0001);\n"
        "INSERT INTO ITENSVENDA (NUMEROVENDA, ITEM, CODIGOPRODUTO, QUANTIDADE, DESCONTO, PRECOUNITARIO) VALUES (" +
        n(100001) + ", 1, " + n(4) + ", 0.1, 0.1, 21.9);\n"
        "INSERT INTO ITENSVENDA (NUMEROVENDA, ITEM, CODIGOPRODUTO) VALUES (" + maiorVenda + ", 0, " + n(3) + ");\n";
}

TEST_F(ReplicacaoTest, EveryColumnTypeArrivesIdenticalInBothDirections) {
    Executar(*loja1_, TodosOsTipos(0));
    Executar(*loja2_, TodosOsTipos(1000));
    ASSERT_NO_FATAL_FAILURE(Sincronizar());

    const auto r1 = Retrato(*loja1_);
    const auto r2 = Retrato(*loja2_);
    EXPECT_TRUE(MesmasLinhas(r1, r2));
    // Both stores' own rows are there: 4 products, 4 prices, 3 sales and 4
    // items each.
    EXPECT_EQ(r1.size(), 2u * 15u);
    // Text beyond ASCII arrived as the characters themselves, read back as
    // UTF-8, trailing blanks of a VARCHAR kept.
    const auto tem = [&](const std::string& trecho) {
        return std::any_of(r2.begin(), r2.end(), [&](const std::string& l) { return l.find(trecho) != l.npos; });
    };
    EXPECT_TRUE(tem("DESCRICAO='Café torrado São João 500g  '"));
    EXPECT_TRUE(tem("DESCRICAOETIQUETA='Promoção ½ preço ÿ'"));
}

TEST_F(ReplicacaoTest, UpdatesDeletesAndKeyChangesWithinOneBlockEndAsInTheSender) {
    Executar(*loja1_,
             "INSERT INTO PRODUTOS (CODIGO, DESCRICAO) VALUES (1, 'um');\n"
             "INSERT INTO PRODUTOS (CODIGO, DESCRICAO) VALUES (2, 'dois');\n"
             "INSERT INTO PRODUTOS (CODIGO, DESCRICAO) VALUES (3, 'três');\n"
             "INSERT INTO PRODUTOS (CODIGO, DESCRICAO) VALUES (4, 'quatro');\n"
             "INSERT INTO PRODUTOS (CODIGO, DESCRICAO) VALUES (5, 'cinco');\n"
             "INSERT INTO PRECOS (CODIGOLOJA, CODIGOPRODUTO, PRECOVENDA) VALUES (1, 1, 1.5);\n"
             "INSERT INTO PRECOS (CODIGOLOJA, CODIGOPRODUTO, PRECOVENDA) VALUES (1, 2, 2.5);\n"
             "INSERT INTO PRECOS (CODIGOLOJA, CODIGOPRODUTO, PRECOVENDA) VALUES (2, 1, 3.5);\n"
             "INSERT INTO VENDAS (NUMERO, CODIGOLOJA, DATAVENDA) VALUES (500, 1, DATE '2026-12-09');\n"
             "INSERT INTO VENDAS (NUMERO, CODIGOLOJA, DATAVENDA) VALUES (-9223372036854775807 - 1, 1, DATE '2026-12-09');\n"
             "INSERT INTO ITENSVENDA (NUMEROVENDA, ITEM, CODIGOPRODUTO) VALUES (9223372036854775807, -32768, 1);\n"
             "INSERT INTO ITENSVENDA (NUMEROVENDA, ITEM, CODIGOPRODUTO, QUANTIDADE) VALUES (500, 1, 1, 1);\n"
             "INSERT INTO ITENSVENDA (NUMEROVENDA, ITEM, CODIGOPRODUTO, QUANTIDADE) VALUES (500, 2, 2, 2);\n"
             "INSERT INTO ITENSVENDA (NUMEROVENDA, ITEM, CODIGOPRODUTO, QUANTIDADE) VALUES (500, 3, 3, 3);\n");
    ASSERT_NO_FATAL_FAILURE(Rodar(*agente1_, "store 1"));
    ASSERT_NO_FATAL_FAILURE(Rodar(*agente2_, "store 2"));
    ASSERT_TRUE(MesmasLinhas(Retrato(*loja1_), Retrato(*loja2_))) << "the starting rows did not arrive";

    // Every change below reaches store 2 in one block, in several
    // transactions: isql starts a new one after each COMMIT.
    Executar(*loja1_,
             // A row born, changed twice and deleted in one transaction...
             "INSERT INTO PRODUTOS (CODIGO, DESCRICAO) VALUES (10, 'efêmero');\n"
             "UPDATE PRODUTOS SET DESCRICAO = 'efêmero 2' WHERE CODIGO = 10;\n"
             "UPDATE PRODUTOS SET DESCRICAO = 'efêmero 3', ESTOQUEMINIMO = 3 WHERE CODIGO = 10;\n"
             "DELETE FROM PRODUTOS WHERE CODIGO = 10;\n"
             "COMMIT;\n"
             // ...and one whose four steps are four transactions.
             "INSERT INTO PRODUTOS (CODIGO, DESCRICAO) VALUES (11, 'passageiro');\nCOMMIT;\n"
             "UPDATE PRODUTOS SET DESCRICAO = 'passageiro 2' WHERE CODIGO = 11;\nCOMMIT;\n"
             "UPDATE PRODUTOS SET ESTOQUEMINIMO = 7 WHERE CODIGO = 11;\nCOMMIT;\n"
             "DELETE FROM PRODUTOS WHERE CODIGO = 11;\nCOMMIT;\n"
             // A key change, then a new row under the old key.
             "UPDATE PRODUTOS SET CODIGO = 20, DESCRICAO = 'um, agora vinte' WHERE CODIGO = 1;\n"
             "INSERT INTO PRODUTOS (CODIGO, DESCRICAO) VALUES (1, 'um novo');\n"
             "COMMIT;\n"
             // Two rows swap their keys through a third.
             "UPDATE PRODUTOS SET CODIGO = 99 WHERE CODIGO = 2;\n"
             "UPDATE PRODUTOS SET CODIGO = 2 WHERE CODIGO = 3;\n"
             "UPDATE PRODUTOS SET CODIGO = 3 WHERE CODIGO = 99;\n"
             "COMMIT;\n"
             // Deleted and inserted again under the same key.
             "DELETE FROM PRODUTOS WHERE CODIGO = 4;\n"
             "INSERT INTO PRODUTOS (CODIGO, DESCRICAO, ESTOQUEMINIMO) VALUES (4, 'quatro de novo', 44);\n"
             "DELETE FROM PRODUTOS WHERE CODIGO = 5;\n"
             "COMMIT;\n"
             // Composite keys: the first key column changes, then the second.
             "UPDATE PRECOS SET CODIGOLOJA = 3, PRECOVENDA = 9.5 WHERE CODIGOLOJA = 1 AND CODIGOPRODUTO = 1;\n"
             "UPDATE PRECOS SET CODIGOPRODUTO = 7 WHERE CODIGOLOJA = 2 AND CODIGOPRODUTO = 1;\n"
             "UPDATE PRECOS SET PRECOVENDA = 2.75 WHERE CODIGOLOJA = 1 AND CODIGOPRODUTO = 2;\n"
             "COMMIT;\n"
             "UPDATE ITENSVENDA SET ITEM = 9 WHERE NUMEROVENDA = 500 AND ITEM = 2;\n"
             "DELETE FROM ITENSVENDA WHERE NUMEROVENDA = 500 AND ITEM = 3;\n"
             "INSERT INTO ITENSVENDA (NUMEROVENDA, ITEM, CODIGOPRODUTO, QUANTIDADE) VALUES (500, 3, 4, 30);\n"
             "UPDATE ITENSVENDA SET QUANTIDADE = QUANTIDADE + 1 WHERE NUMEROVENDA = 500 AND ITEM = 1;\n"
             "UPDATE ITENSVENDA SET QUANTIDADE = QUANTIDADE + 1 WHERE NUMEROVENDA = 500 AND ITEM = 1;\n"
             "UPDATE ITENSVENDA SET NUMEROVENDA = 501 WHERE NUMEROVENDA = 500 AND ITEM = 9;\n"
             "DELETE FROM VENDAS WHERE NUMERO = 500;\n"
             // Deletes by keys at the ends of their types.
             "DELETE FROM VENDAS WHERE NUMERO = -9223372036854775807 - 1;\n"
             "DELETE FROM ITENSVENDA WHERE NUMEROVENDA = 9223372036854775807 AND ITEM = -32768;\n");
    ASSERT_NO_FATAL_FAILURE(Rodar(*agente1_, "store 1"));
    ASSERT_NO_FATAL_FAILURE(Rodar(*agente2_, "store 2"));

    EXPECT_TRUE(MesmasLinhas(Retrato(*loja1_), Retrato(*loja2_)));
    // What store 2 must hold, written out, so that a change lost on both
    // sides alike cannot pass.
    EXPECT_EQ(Chaves(*loja2_, "SELECT CODIGO, DESCRICAO, ESTOQUEMINIMO FROM PRODUTOS ORDER BY CODIGO"),
              (std::vector<std::string>{"1 | 'um novo' | NULL", "2 | 'três' | NULL", "3 | 'dois' | NULL",
                                        "4 | 'quatro de novo' | 44", "20 | 'um, agora vinte' | NULL"}));
    EXPECT_EQ(Chaves(*loja2_, "SELECT CODIGOLOJA, CODIGOPRODUTO, PRECOVENDA FROM PRECOS ORDER BY 1, 2"),
              (std::vector<std::string>{"1 | 2 | 27500e-4", "2 | 7 | 35000e-4", "3 | 1 | 95000e-4"}));
    EXPECT_EQ(Chaves(*loja2_, "SELECT NUMEROVENDA, ITEM, CODIGOPRODUTO, CAST(QUANTIDADE AS INTEGER) FROM ITENSVENDA "
                              "ORDER BY 1, 2"),
              (std::vector<std::string>{"500 | 1 | 1 | 3", "500 | 3 | 4 | 30", "501 | 9 | 2 | 2"}));
    EXPECT_EQ(Chaves(*loja2_, "SELECT COUNT(*) FROM VENDAS"), (std::vector<std::string>{"0"}));
}

TEST_F(ReplicacaoTest, ASecondRunWithNothingToDoChangesNothing) {
    Executar(*loja1_, "INSERT INTO PRODUTOS (CODIGO, DESCRICAO, FOTO) VALUES (1, 'Café', x'0102');\n"
                      "INSERT INTO PRECOS (CODIGOLOJA, CODIGOPRODUTO, PRECOVENDA) VALUES (1, 1, 1.5);\n");
    Executar(*loja2_, "INSERT INTO VENDAS (NUMERO, CODIGOLOJA, DATAVENDA) VALUES (7, 2, DATE '2026-12-09');\n"
                      "INSERT INTO ITENSVENDA (NUMEROVENDA, ITEM, CODIGOPRODUTO) VALUES (7, 1, 1);\n");
    ASSERT_NO_FATAL_FAILURE(Sincronizar());
    ASSERT_TRUE(MesmasLinhas(Retrato(*loja1_), Retrato(*loja2_)));

    struct Foto {
        std::vector<std::string> linhas1, linhas2, posicoes1, posicoes2;
        EstadoCentral central;
    };
    const char* sqlPosicoes =
        "SELECT (SELECT ULTIMORECEBIMENTO FROM RPL_CONFIGURACOES), "
        "(SELECT COALESCE(MAX(ORDEM), 0) FROM LOG_REPLICACAO), (SELECT COUNT(*) FROM LOG_REPLICACAO), "
        "GEN_ID(GEN_LOG_REPLICACAO, 0) FROM RDB$DATABASE";
    const auto foto = [&] {
        return Foto{Retrato(*loja1_, true), Retrato(*loja2_, true), Chaves(*loja1_, sqlPosicoes),
                    Chaves(*loja2_, sqlPosicoes), LerEstado(*central_)};
    };
    const Foto antes = foto();
    ASSERT_EQ(antes.central.size(), 2u);
    EXPECT_EQ(std::get<3>(antes.central[0]), "0");
    EXPECT_EQ(std::get<3>(antes.central[1]), "0");

    ASSERT_NO_FATAL_FAILURE(Rodar(*agente2_, "store 2"));
    EXPECT_EQ(agente2_->Saida().find("Gravando bloco"), std::string::npos) << agente2_->Saida();
    ASSERT_NO_FATAL_FAILURE(Rodar(*agente1_, "store 1"));
    EXPECT_EQ(agente1_->Saida().find("Gravando bloco"), std::string::npos) << agente1_->Saida();

    const Foto depois = foto();
    // The record versions show that no row was written again, even with
    // the same values.
    EXPECT_EQ(depois.linhas1, antes.linhas1);
    EXPECT_EQ(depois.linhas2, antes.linhas2);
    EXPECT_EQ(depois.posicoes1, antes.posicoes1);
    EXPECT_EQ(depois.posicoes2, antes.posicoes2);
    EXPECT_EQ(depois.central, antes.central);
}

TEST_F(ReplicacaoTest, AChangeCommittedAfterALaterOneStillArrives) {
    // A store transaction takes the first log position and stays open while
    // a later change commits and the agent sends.
    ondaris::db::Conexao conexao(loja1_->ParametrosSysdba(), "Caixa");
    ondaris::db::Transacao aberta(conexao, "Caixa", ondaris::db::OpcoesTransacao{.InicioAutomatico = true});
    ondaris::db::Consulta venda(conexao, aberta,
                                "INSERT INTO PRODUTOS (CODIGO, DESCRICAO) VALUES (1, 'lançado antes, confirmado depois')");
    venda.Executar();
    Executar(*loja1_, "INSERT INTO PRODUTOS (CODIGO, DESCRICAO) VALUES (2, 'lançado e confirmado depois');\n");
    // The agent finds nothing it can send yet: no failure, no log entry.
    ASSERT_NO_FATAL_FAILURE(Rodar(*agente1_, "store 1"));
    ASSERT_NO_FATAL_FAILURE(Rodar(*agente2_, "store 2"));

    aberta.Commit();
    conexao.Fechar();
    ASSERT_NO_FATAL_FAILURE(Rodar(*agente1_, "store 1"));
    ASSERT_NO_FATAL_FAILURE(Rodar(*agente2_, "store 2"));
    EXPECT_EQ(Chaves(*loja2_, "SELECT CODIGO FROM PRODUTOS ORDER BY CODIGO"), (std::vector<std::string>{"1", "2"}));
    EXPECT_TRUE(MesmasLinhas(Retrato(*loja1_), Retrato(*loja2_)));
}

// Many transactions of mixed changes, enough for several blocks of the
// central server: each transaction inserts products and sale items, moves
// a counter, changes and deletes earlier products.
std::string CargaGrande(int transacoes, int produtosPorTransacao) {
    std::string sql =
        "INSERT INTO PRODUTOS (CODIGO, DESCRICAO, ESTOQUEMINIMO) VALUES (0, 'contador', 0);\n"
        "INSERT INTO VENDAS (NUMERO, CODIGOLOJA, DATAVENDA) VALUES (1, 1, DATE '2026-12-09');\n"
        "COMMIT;\n"
        "SET TERM ^ ;\n";
    for (int t = 0; t < transacoes; ++t) {
        const int base = 1 + t * produtosPorTransacao;
        sql += "EXECUTE BLOCK AS DECLARE I INTEGER = " + std::to_string(base) +
               "; BEGIN\n"
               "  WHILE (I < " + std::to_string(base + produtosPorTransacao) + ") DO BEGIN\n"
               "    INSERT INTO PRODUTOS (CODIGO, DESCRICAO, PRECOREFERENCIA, CADASTRO)\n"
               "      VALUES (:I, 'Produto nº ' || :I, :I / 7.0, DATE '2026-01-01' + MOD(:I, 365));\n"
               "    IF (MOD(:I, 10) = 0) THEN\n"
               "      INSERT INTO ITENSVENDA (NUMEROVENDA, ITEM, CODIGOPRODUTO, QUANTIDADE) VALUES (1, :I / 10, :I, :I);\n"
               "    I = I + 1;\n"
               "  END\n"
               "  UPDATE PRODUTOS SET ESTOQUEMINIMO = ESTOQUEMINIMO + 1 WHERE CODIGO = 0;\n"
               "  UPDATE PRODUTOS SET DESCRICAO = DESCRICAO || ' (revisto)' WHERE CODIGO BETWEEN " +
               std::to_string(base - produtosPorTransacao) + " AND " + std::to_string(base - produtosPorTransacao + 4) +
               ";\n"
               "  DELETE FROM PRODUTOS WHERE CODIGO BETWEEN " + std::to_string(base - produtosPorTransacao + 5) + " AND " +
               std::to_string(base - produtosPorTransacao + 8) +
               ";\n"
               "END^\n"
               "COMMIT^\n";
    }
    return sql + "SET TERM ; ^\n";
}

TEST_F(ReplicacaoTest, AnAgentKilledWhileApplyingLosesAndDoublesNothingOnItsNextRun) {
    constexpr int kTransacoes = 60;
    Executar(*loja1_, CargaGrande(kTransacoes, 90));
    ASSERT_NO_FATAL_FAILURE(Rodar(*agente1_, "store 1"));
    // The central server numbers the commands it holds 1, 2, ...; the last
    // one is what store 2 must end at.
    const auto pendentes = ondaris::protocolo::LerJSON(central_->Get("/receber/2/0"));
    ASSERT_TRUE(pendentes && pendentes->Membro("ultimaordem"));
    const std::int64_t comandos = std::stoll(pendentes->Membro("ultimaordem")->Bruto());
    ASSERT_GT(comandos, 4000) << "the load should span several blocks";

    // Store 2's agent is killed twice: once its received position has moved
    // into the second block, and again, started anew, once it has committed
    // a group beyond where the first kill left it (a fixed second threshold
    // could already lie behind a first kill that came late on a loaded
    // machine, killing the new agent before it did anything). The position
    // moves only when a transaction group has been committed, so each kill
    // lands while the next group is being applied, in the middle of a block
    // and certainly before the end.
    const auto inicioDoBloco = [](std::int64_t depoisDe) {
        return "Gravando bloco de registro de " + std::to_string(depoisDe + 1) + " at";
    };
    std::int64_t posicaoAoMatar = 0;
    for (int morte = 0; morte < 2; ++morte) {
        const std::int64_t limiar = morte == 0 ? 1000 : posicaoAoMatar;
        LeitorLoja leitor(*loja2_);
        const auto posicao = [&] { return leitor.Inteiro("SELECT ULTIMORECEBIMENTO FROM RPL_CONFIGURACOES"); };
        auto agente = agente2_->Iniciar();
        const auto limite = std::chrono::steady_clock::now() + 60s;
        while (posicao() <= limiar) {
            ASSERT_FALSE(agente->Terminou()) << "the agent ended before it could be killed:\n" << agente->Saida();
            ASSERT_LT(std::chrono::steady_clock::now(), limite) << "the position did not move:\n" << agente->Saida();
            std::this_thread::sleep_for(2ms);
        }
        agente->Matar();
        // Each start goes on right after the position stored before it:
        // nothing skipped, nothing asked for again from the start.
        EXPECT_NE(agente->Saida().find(inicioDoBloco(posicaoAoMatar)), std::string::npos) << agente->Saida();
        posicaoAoMatar = posicao();
        ASSERT_LT(posicaoAoMatar, comandos) << "the kill came after the last command";
        ASSERT_FALSE(MesmasLinhas(Retrato(*loja1_), Retrato(*loja2_)))
            << "the kill at position " << posicaoAoMatar << " came after the last command";
    }

    ASSERT_NO_FATAL_FAILURE(Rodar(*agente2_, "store 2 after the kills"));
    EXPECT_NE(agente2_->Saida().find(inicioDoBloco(posicaoAoMatar)), std::string::npos) << agente2_->Saida();
    ASSERT_NO_FATAL_FAILURE(Rodar(*agente1_, "store 1"));

    EXPECT_TRUE(MesmasLinhas(Retrato(*loja1_), Retrato(*loja2_)));
    LeitorLoja leitor1(*loja1_), leitor2(*loja2_);
    const char* contador = "SELECT ESTOQUEMINIMO FROM PRODUTOS WHERE CODIGO = 0";
    EXPECT_EQ(leitor1.Inteiro(contador), kTransacoes);
    EXPECT_EQ(leitor2.Inteiro(contador), kTransacoes);
    EXPECT_EQ(leitor2.Inteiro("SELECT COUNT(*) FROM PRODUTOS"), leitor1.Inteiro("SELECT COUNT(*) FROM PRODUTOS"));
    // Applied changes are not logged again, so nothing travels back.
    EXPECT_EQ(leitor2.Inteiro("SELECT COUNT(*) FROM LOG_REPLICACAO"), 0);
    // Store 2 has received every command the central server numbered, and
    // nothing waits for either store.
    EXPECT_EQ(leitor2.Inteiro("SELECT ULTIMORECEBIMENTO FROM RPL_CONFIGURACOES"), comandos);
    const EstadoCentral estado = LerEstado(*central_);
    ASSERT_EQ(estado.size(), 2u);
    EXPECT_EQ(estado[0], std::make_tuple(std::string("1"), std::to_string(leitor1.Inteiro(
                                                               "SELECT MAX(ORDEM) FROM LOG_REPLICACAO")),
                                         std::string("0"), std::string("0")));
    EXPECT_EQ(estado[1], std::make_tuple(std::string("2"), std::string("0"), std::to_string(comandos),
                                         std::string("0")));
}

}  // namespace
