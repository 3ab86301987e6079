// The logging trigger generator, without a database: the text it makes for
// one- and two-column keys, its names, and every refusal with its reason.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "db/gatilhos.h"
#include "protocolo/texto.h"
#include "support/captura.h"

namespace ondaris::db {
using protocolo::IdentificadorValido;
namespace {

TColunaChave Inteira(std::string nome) { return {std::move(nome), TTipoColunaChave::tcInteiro, "INTEGER", 0, true}; }
TColunaChave Texto(std::string nome, std::size_t caracteres = 20, bool compativel = true) {
    return {std::move(nome), TTipoColunaChave::tcTexto, "VARCHAR(" + std::to_string(caracteres) + ")", caracteres,
            compativel};
}

TEST(GatilhoRegistro, OneColumnKeyLogsInsertsUpdatesKeyChangesAndDeletes) {
    const auto g = GerarGatilhoRegistro("PRODUTOS", {Inteira("CODIGO")});
    EXPECT_EQ(g.Nome, "PRODUTOS_RPL");
    EXPECT_EQ(g.Criacao,
              "CREATE OR ALTER TRIGGER PRODUTOS_RPL FOR PRODUTOS\n"
              "ACTIVE AFTER INSERT OR UPDATE OR DELETE POSITION 100\n"
              "AS\n"
              "BEGIN\n"
              "    IF (INSERTING) THEN\n"
              "        EXECUTE PROCEDURE PROC_REGISTRA_ALTERACAO('PRODUTOS', 'U', NEW.CODIGO, NULL, NULL);\n"
              "    ELSE IF (DELETING) THEN\n"
              "        EXECUTE PROCEDURE PROC_REGISTRA_ALTERACAO('PRODUTOS', 'D', OLD.CODIGO, NULL, NULL);\n"
              "    ELSE\n"
              "    BEGIN\n"
              "        IF (NEW.CODIGO IS DISTINCT FROM OLD.CODIGO) THEN\n"
              "            EXECUTE PROCEDURE PROC_REGISTRA_ALTERACAO('PRODUTOS', 'D', OLD.CODIGO, NULL, NEW.CODIGO);\n"
              "        EXECUTE PROCEDURE PROC_REGISTRA_ALTERACAO('PRODUTOS', 'U', NEW.CODIGO, NULL, NULL);\n"
              "    END\n"
              "END");
    EXPECT_EQ(g.Criacao.substr(g.Criacao.find("\nAS\n") + 1), g.Corpo);
    EXPECT_EQ(g.Permissoes, (std::vector<std::string>{
                                "GRANT EXECUTE ON PROCEDURE PROC_REGISTRA_ALTERACAO TO TRIGGER PRODUTOS_RPL",
                                "GRANT SELECT, INSERT, UPDATE, DELETE ON PRODUTOS TO USER ONDARIS"}));
    EXPECT_EQ(g.Script(), "SET TERM ^ ;\n" + g.Criacao + "^\nSET TERM ; ^\n" + g.Permissoes[0] + ";\n" +
                              g.Permissoes[1] + ";\n");
}

TEST(GatilhoRegistro, TwoColumnKeyKeepsTheOrderItIsGiven) {
    // The caller gives the key in column order; the first goes to
    // ATUALVALORCHAVE1 whatever its type.
    const auto g = GerarGatilhoRegistro("PRECOS", {Texto("CODIGOLOJA"), Inteira("CODIGOPRODUTO")});
    EXPECT_EQ(g.Corpo,
              "AS\n"
              "BEGIN\n"
              "    IF (INSERTING) THEN\n"
              "        EXECUTE PROCEDURE PROC_REGISTRA_ALTERACAO('PRECOS', 'U', NEW.CODIGOLOJA, NEW.CODIGOPRODUTO, NULL);\n"
              "    ELSE IF (DELETING) THEN\n"
              "        EXECUTE PROCEDURE PROC_REGISTRA_ALTERACAO('PRECOS', 'D', OLD.CODIGOLOJA, OLD.CODIGOPRODUTO, NULL);\n"
              "    ELSE\n"
              "    BEGIN\n"
              "        IF (NEW.CODIGOLOJA IS DISTINCT FROM OLD.CODIGOLOJA OR NEW.CODIGOPRODUTO IS DISTINCT FROM "
              "OLD.CODIGOPRODUTO) THEN\n"
              "            EXECUTE PROCEDURE PROC_REGISTRA_ALTERACAO('PRECOS', 'D', OLD.CODIGOLOJA, OLD.CODIGOPRODUTO, "
              "NEW.CODIGOLOJA);\n"
              "        EXECUTE PROCEDURE PROC_REGISTRA_ALTERACAO('PRECOS', 'U', NEW.CODIGOLOJA, NEW.CODIGOPRODUTO, NULL);\n"
              "    END\n"
              "END");
    const auto invertida = GerarGatilhoRegistro("PRECOS", {Inteira("CODIGOPRODUTO"), Texto("CODIGOLOJA")});
    EXPECT_NE(invertida.Corpo, g.Corpo);
}

TEST(GatilhoRegistro, RefusesWhatTheLogCannotCarryAndSaysWhy) {
    struct Caso {
        const char* tabela;
        std::vector<TColunaChave> chave;
        const char* motivo;  // a part of the reason
    };
    const std::vector<Caso> casos = {
        {"MOVIMENTOCAIXA", {}, "não tem chave primária"},
        {"TRES", {Inteira("A"), Inteira("B"), Inteira("C")}, "chave primária de 3 colunas"},
        {"DATAS", {{"DIA", TTipoColunaChave::tcOutro, "DATE", 0, true}}, "é do tipo DATE"},
        {"VALORES", {Inteira("A"), {"V", TTipoColunaChave::tcOutro, "NUMERIC(15,2)", 0, true}}, "NUMERIC(15,2)"},
        {"LONGA", {Texto("S", 256)}, "mais de 255 caracteres"},
        {"UNICODE", {Texto("S", 20, false)}, "conjunto de caracteres"},
        {"produtos", {Inteira("CODIGO")}, "maiúsculas"},
        {"COM ESPACO", {Inteira("CODIGO")}, "identificador simples"},
        {"COLUNA", {Inteira("codigo")}, "coluna de chave \"codigo\""},
        {"LOG_REPLICACAO", {Inteira("ORDEM")}, "própria replicação"},
        {"RPL_CONFIGURACOES", {Inteira("CODIGO")}, "própria replicação"},
        {"RPL_RESERVAS", {Inteira("ID_TRANSACAO")}, "própria replicação"},
    };
    for (const auto& c : casos) {
        SCOPED_TRACE(c.tabela);
        const auto motivo = MotivoRecusa(c.tabela, c.chave);
        ASSERT_TRUE(motivo.has_value());
        EXPECT_NE(motivo->find(c.motivo), std::string::npos) << *motivo;
        EXPECT_EQ(teste::TextoDaFalha<ErroGatilho>([&] { GerarGatilhoRegistro(c.tabela, c.chave); }), *motivo);
    }
    // The limits themselves are carried, and "$" in names.
    EXPECT_FALSE(MotivoRecusa("DUAS", {Texto("A", 255), Inteira("B")}));
    EXPECT_FALSE(MotivoRecusa("PRE$COS", {Inteira("COD$"), Inteira("L$")}));
    EXPECT_FALSE(MotivoRecusa(std::string(31, 'T'), {Inteira("ID")}));
    EXPECT_TRUE(MotivoRecusa(std::string(32, 'T'), {Inteira("ID")}));
    EXPECT_TRUE(MotivoRecusa("$PRECOS", {Inteira("ID")}));
    EXPECT_FALSE(MotivoRecusa("A", {{"N", TTipoColunaChave::tcInteiro, "BIGINT", 0, true}}));
}

TEST(GatilhoRegistro, NamesFitTheCatalogueAndStayTheSameFromRunToRun) {
    EXPECT_EQ(NomeGatilhoRegistro("VENDAS"), "VENDAS_RPL");
    const std::string vinteESete(27, 'A');
    EXPECT_EQ(NomeGatilhoRegistro(vinteESete), vinteESete + "_RPL");
    std::set<std::string> nomes;
    EXPECT_EQ(NomeGatilhoRegistro("PRE$COS"), "PRE$COS_RPL");
    for (const std::string& t : {std::string(28, 'A'), std::string(31, 'A'), std::string(30, 'A') + "B",
                                std::string(22, 'A') + "_ITENS", std::string(21, 'A') + "$$$$$$$$"}) {
        const auto nome = NomeGatilhoRegistro(t);
        SCOPED_TRACE(t + " -> " + nome);
        EXPECT_EQ(nome.size(), 31u);
        EXPECT_EQ(nome.substr(0, 22), t.substr(0, 22));
        EXPECT_EQ(nome.substr(27), "_RPL");
        EXPECT_EQ(NomeGatilhoRegistro(t), nome);
        EXPECT_EQ(GerarGatilhoRegistro(t, {Inteira("ID")}).Nome, nome);
        EXPECT_TRUE(IdentificadorValido(nome));
        nomes.insert(nome);
    }
    EXPECT_EQ(nomes.size(), 5u) << "long names sharing their start get different triggers";
}

TEST(GatilhoRegistro, RemovalDropsTheTriggerAndTheAccountsRights) {
    EXPECT_EQ(ComandosRemocao("PRECOS"),
              (std::vector<std::string>{"DROP TRIGGER PRECOS_RPL",
                                        "REVOKE SELECT, INSERT, UPDATE, DELETE ON PRECOS FROM USER ONDARIS"}));
}

}  // namespace
}  // namespace ondaris::db
