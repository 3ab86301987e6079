// The statement builders on a real store database: the three texts for
// example tables, the block's statement cache, the error texts, and names
// that must never reach SQL.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

#include "db/construtores.h"
#include "support/banco_teste.h"
#include "support/captura.h"

namespace ondaris::db {
namespace {

using teste::BancoTeste;

const std::string kPrefixo = "Falha ao executar a rotina PrepararDataset: ";

std::vector<std::string> Linhas(const std::string& texto) {
    std::vector<std::string> linhas;
    std::size_t inicio = 0;
    for (;;) {
        const auto fim = texto.find("\r\n", inicio);
        if (fim == std::string::npos) {
            linhas.push_back(texto.substr(inicio));
            return linhas;
        }
        linhas.push_back(texto.substr(inicio, fim - inicio));
        inicio = fim + 2;
    }
}

class Construtores : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        teste::GarantirUsuarioReplicacao();
        banco_ = std::make_unique<BancoTeste>();
        banco_->ExecutarSql(
            "CREATE TABLE CLIENTES (CODIGO INTEGER NOT NULL PRIMARY KEY, NOME VARCHAR(40), CIDADE VARCHAR(40));"
            "CREATE TABLE ITENS (LOJA INTEGER NOT NULL, NUMERO INTEGER NOT NULL, VALOR NUMERIC(15,2),"
            " CONSTRAINT PK_ITENS PRIMARY KEY (LOJA, NUMERO));"
            "CREATE TABLE COMPOSTA (A INTEGER NOT NULL, X VARCHAR(5), B INTEGER NOT NULL,"
            " CONSTRAINT PK_COMPOSTA PRIMARY KEY (B, A));"
            "CREATE TABLE SEMCHAVE (P INTEGER, Q VARCHAR(3));"
            "CREATE TABLE ESQUISITA (ID INTEGER NOT NULL PRIMARY KEY, \"a b\" INTEGER);"
            "CREATE TABLE T234567890123456789012345678901 (ID INTEGER NOT NULL PRIMARY KEY, V INTEGER);"
            "GRANT ALL ON CLIENTES TO USER ONDARIS; GRANT ALL ON ITENS TO USER ONDARIS;"
            "GRANT ALL ON COMPOSTA TO USER ONDARIS; GRANT ALL ON SEMCHAVE TO USER ONDARIS;"
            "GRANT ALL ON ESQUISITA TO USER ONDARIS;"
            "GRANT ALL ON T234567890123456789012345678901 TO USER ONDARIS;"
            "INSERT INTO SEMCHAVE VALUES (1, 'a');");
        pasta_ = std::make_unique<teste::PastaKorvin>(*banco_);
    }
    static void TearDownTestSuite() {
        pasta_.reset();
        banco_.reset();
    }

    void SetUp() override {
        dm_ = std::make_unique<TDM>(OpcoesTDM{.Pasta = Pasta()});
        dm_->DataModuleCreate();
        for (const char* campo : {"CODIGO", "NOME", "CIDADE"}) dm_->TBEstrutura().Adicionar("CLIENTES", campo, "");
        for (const char* campo : {"LOJA", "NUMERO", "VALOR"}) dm_->TBEstrutura().Adicionar("ITENS", campo, "");
        modulo_ = std::make_unique<TModuloOperacao>(Pasta());
    }
    void TearDown() override {
        modulo_.reset();
        dm_.reset();
    }

    static std::string Pasta() { return pasta_->Pasta(); }

    static int LinhasDeSemChave() {
        const std::string saida = banco_->ExecutarSql("SET LIST ON; SELECT COUNT(*) AS N FROM SEMCHAVE;");
        const auto pos = saida.find('N');
        return pos == std::string::npos ? -1 : std::stoi(saida.substr(pos + 1));
    }

    Consulta& Preparar(std::string_view tabela, TTipoSQL tipo, std::int64_t ini = 0, std::int64_t fim = 0) {
        return ComandoDaTabelaPronto(*dm_, *modulo_, tabela, tipo, ini, fim);
    }

    // The text of PrepararDataset's failure, a refusal of the database server.
    std::string Falha(std::string_view tabela, TTipoSQL tipo) {
        return teste::TextoDaFalhaDaRotina("PrepararDataset", TCausaRotina::Banco, [&] { Preparar(tabela, tipo); });
    }

    static inline std::unique_ptr<BancoTeste> banco_;
    static inline std::unique_ptr<teste::PastaKorvin> pasta_;
    std::unique_ptr<TDM> dm_;
    std::unique_ptr<TModuloOperacao> modulo_;
};

TEST_F(Construtores, TextosDasTresConsultas) {
    struct Caso {
        const char* tabela;
        TTipoSQL tipo;
        const char* texto;
    };
    const Caso casos[] = {
        {"CLIENTES", TTipoSQL::tsSelect,
         "SELECT L.ORDEM, T.CODIGO, T.NOME, T.CIDADE FROM CLIENTES T INNER JOIN LOG_REPLICACAO L ON (T.CODIGO = "
         "L.ATUALVALORCHAVE1) WHERE L.ORDEM BETWEEN :ORDEMINICIAL AND :ORDEMFINAL AND L.TABELA = 'CLIENTES' "
         "ORDER BY ORDEM"},
        {"ITENS", TTipoSQL::tsSelect,
         "SELECT L.ORDEM, T.LOJA, T.NUMERO, T.VALOR FROM ITENS T INNER JOIN LOG_REPLICACAO L ON (T.LOJA = "
         "L.ATUALVALORCHAVE1) AND (T.NUMERO = L.ATUALVALORCHAVE2) WHERE L.ORDEM BETWEEN :ORDEMINICIAL AND "
         ":ORDEMFINAL AND L.TABELA = 'ITENS' ORDER BY ORDEM"},
        // Key declared (B, A): A stands first in the table, so A is the
        // first key column.
        {"COMPOSTA", TTipoSQL::tsSelect,
         "SELECT L.ORDEM, T.A, T.X, T.B FROM COMPOSTA T INNER JOIN LOG_REPLICACAO L ON (T.A = "
         "L.ATUALVALORCHAVE1) AND (T.B = L.ATUALVALORCHAVE2) WHERE L.ORDEM BETWEEN :ORDEMINICIAL AND "
         ":ORDEMFINAL AND L.TABELA = 'COMPOSTA' ORDER BY ORDEM"},
        {"CLIENTES", TTipoSQL::tsUpdateInsert,
         "UPDATE OR INSERT INTO CLIENTES(CODIGO, NOME, CIDADE) VALUES (:CODIGO, :NOME, :CIDADE)"},
        {"ITENS", TTipoSQL::tsUpdateInsert,
         "UPDATE OR INSERT INTO ITENS(LOJA, NUMERO, VALOR) VALUES (:LOJA, :NUMERO, :VALOR)"},
        {"CLIENTES", TTipoSQL::tsDelete, "DELETE FROM CLIENTES WHERE CODIGO = :CODIGO"},
        {"ITENS", TTipoSQL::tsDelete, "DELETE FROM ITENS WHERE LOJA = :LOJA AND NUMERO = :NUMERO"},
        {"COMPOSTA", TTipoSQL::tsDelete, "DELETE FROM COMPOSTA WHERE A = :A AND B = :B"},
    };
    for (const auto& c : casos) {
        SCOPED_TRACE(std::string(c.tabela) + SufixoTipoSQL(c.tipo));
        // Built from this catalogue and structure list, and accepted by the
        // server.
        Consulta& q = Preparar(c.tabela, c.tipo, 1, 0);
        EXPECT_EQ(q.Sql(), c.texto);
        EXPECT_TRUE(q.Preparada());
    }
}

TEST_F(Construtores, CacheDoBloco) {
    Consulta& ui = Preparar("clientes", TTipoSQL::tsUpdateInsert);
    EXPECT_EQ(&Preparar("CLIENTES", TTipoSQL::tsUpdateInsert), &ui);
    EXPECT_EQ(ui.Nome(), "TBclientes_UI");  // built from the first spelling
    EXPECT_TRUE(modulo_->TransReplicacaoReadWrite.Ativa());  // a new update-or-insert starts it
    modulo_->TransReplicacaoReadWrite.Commit();

    // The delete is prepared while the read-write transaction is idle, and
    // does not start it.
    Consulta& del = Preparar("CLIENTES", TTipoSQL::tsDelete);
    EXPECT_NE(&del, &ui);
    EXPECT_TRUE(del.Preparada());
    EXPECT_FALSE(modulo_->TransReplicacaoReadWrite.Ativa());
    EXPECT_EQ(&del.TransacaoDona(), &modulo_->TransReplicacaoReadWrite);

    // The select opens on the first request's bounds; a second request
    // returns it untouched.
    banco_->ExecutarSql(
        "INSERT INTO CLIENTES VALUES (1, 'Ana', 'Recife'); INSERT INTO CLIENTES VALUES (2, 'Bia', 'Natal');"
        "INSERT INTO LOG_REPLICACAO (TIPO, TABELA, ATUALVALORCHAVE1) VALUES ('U', 'CLIENTES', '1');"
        "INSERT INTO LOG_REPLICACAO (TIPO, TABELA, ATUALVALORCHAVE1) VALUES ('U', 'CLIENTES', '2');"
        "INSERT INTO LOG_REPLICACAO (TIPO, TABELA, ATUALVALORCHAVE1) VALUES ('U', 'CLIENTES', '1');");
    const std::int64_t base = dm_->LogReplicacao().UltimoMovimentoLoja() - 3;
    Consulta& sel = Preparar("CLIENTES", TTipoSQL::tsSelect, base + 2, base + 3);
    EXPECT_EQ(&sel.TransacaoDona(), &modulo_->TransReplicacaoReadOnly);
    ASSERT_TRUE(sel.Aberta());
    EXPECT_EQ(sel.Ler<std::int64_t>("ORDEM"), base + 2);
    EXPECT_EQ(sel.Ler<std::string>("NOME"), "Bia");
    EXPECT_EQ(&Preparar("Clientes", TTipoSQL::tsSelect, base + 1, base + 1), &sel);
    EXPECT_EQ(sel.Ler<std::int64_t>("ORDEM"), base + 2);  // not reopened
    ASSERT_TRUE(sel.Proximo());
    EXPECT_EQ(sel.Ler<std::int64_t>("ORDEM"), base + 3);
    EXPECT_EQ(sel.Ler<std::string>("NOME"), "Ana");
    EXPECT_FALSE(sel.Proximo());
    EXPECT_EQ(modulo_->QuantidadeConsultas(), 3u);
}

TEST_F(Construtores, TextoDeErroNomeiaAConsulta) {
    // The server refuses the text: five lines, the statement name on the
    // second, the text and its line break, then the server's message.
    dm_->TBEstrutura().Adicionar("CLIENTES", "INEXISTENTE", "");
    const auto e = teste::Capturar<ErroRotina>([&] { Preparar("CLIENTES", TTipoSQL::tsUpdateInsert); });
    ASSERT_TRUE(e);
    const std::string erro = e->what();
    EXPECT_EQ(e->Causa(), TCausaRotina::Banco);
    EXPECT_NE(e->Codigo(), 0);  // the server's own error code, kept
    const auto linhas = Linhas(erro);
    ASSERT_EQ(linhas.size(), 5u) << erro;
    EXPECT_EQ(linhas[0], kPrefixo);
    EXPECT_EQ(linhas[1], "Tabela: TBCLIENTES_UI");
    EXPECT_EQ(linhas[2],
              "UPDATE OR INSERT INTO CLIENTES(CODIGO, NOME, CIDADE, INEXISTENTE) VALUES (:CODIGO, :NOME, :CIDADE, "
              ":INEXISTENTE)");
    EXPECT_EQ(linhas[3], "");
    EXPECT_NE(linhas[4].find("INEXISTENTE"), std::string::npos) << linhas[4];

    // Refusals before any text: the text line is empty.
    struct Caso {
        const char* tabela;
        TTipoSQL tipo;
        const char* nome;
    };
    const Caso casos[] = {
        {"SEMCHAVE", TTipoSQL::tsDelete, "Tabela: TBSEMCHAVE_DEL"},    // never a DELETE without WHERE
        {"SEMCHAVE", TTipoSQL::tsSelect, "Tabela: TBSEMCHAVE_SEL"},    // no key to find rows by
        {"PRODUTOS", TTipoSQL::tsUpdateInsert, "Tabela: TBPRODUTOS_UI"},  // no structure rows
        {"clientes", TTipoSQL::tsDelete, "Tabela: TBclientes_DEL"},    // the catalogue keeps upper case
        {"NAOEXISTE", TTipoSQL::tsSelect, "Tabela: TBNAOEXISTE_SEL"},
        {"ESQUISITA", TTipoSQL::tsSelect, "Tabela: TBESQUISITA_SEL"},  // column "a b" in the catalogue
    };
    for (const auto& c : casos) {
        SCOPED_TRACE(c.nome);
        const std::string erro = Falha(c.tabela, c.tipo);
        const auto l = Linhas(erro);
        ASSERT_EQ(l.size(), 4u) << erro;
        EXPECT_EQ(l[0], kPrefixo);
        EXPECT_EQ(l[1], c.nome);
        EXPECT_EQ(l[2], "");
        EXPECT_FALSE(l[3].empty());
    }
    EXPECT_EQ(modulo_->QuantidadeConsultas(), 1u);  // only the statement the server refused
    EXPECT_EQ(LinhasDeSemChave(), 1);
}

TEST_F(Construtores, NomesHostisNuncaChegamAoSQL) {
    const std::string longo32(32, 'A');
    const std::string tabelas[] = {
        "CLIENTES'; DELETE FROM SEMCHAVE; --",
        "CLIENTES;",
        "CLIENTES T",
        " CLIENTES",
        "CLIENTES--",
        "CLIENTES/*x*/",
        "\"CLIENTES\"",
        "CLIENTES\r\nX",
        "1CLIENTES",
        "_CLIENTES",
        "",
        longo32,
        "CLI\xC3\x87NTES",
    };
    for (const auto& tabela : tabelas) {
        for (TTipoSQL tipo : {TTipoSQL::tsUpdateInsert, TTipoSQL::tsDelete, TTipoSQL::tsSelect}) {
            SCOPED_TRACE(tabela + SufixoTipoSQL(tipo));
            dm_->TBEstrutura().Adicionar(tabela, "CODIGO", "");
            const std::string erro = Falha(tabela, tipo);
            EXPECT_EQ(erro.rfind(kPrefixo + "\r\nTabela: TB", 0), 0u) << erro;
        }
    }
    EXPECT_EQ(modulo_->QuantidadeConsultas(), 0u);
    EXPECT_EQ(LinhasDeSemChave(), 1);

    // The longest name the catalogue holds is fine.
    dm_->TBEstrutura().Adicionar("T234567890123456789012345678901", "ID", "");
    dm_->TBEstrutura().Adicionar("T234567890123456789012345678901", "V", "");
    for (TTipoSQL tipo : {TTipoSQL::tsUpdateInsert, TTipoSQL::tsDelete, TTipoSQL::tsSelect})
        EXPECT_TRUE(Preparar("T234567890123456789012345678901", tipo).Preparada());
}

}  // namespace
}  // namespace ondaris::db
