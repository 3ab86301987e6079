// The parts of the database layer that need no server: the settings file,
// the named-parameter rewrite and the Latin-1 boundary.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <fstream>
#include <unistd.h>

#include "db/conexao.h"
#include "db/construtores.h"
#include "db/ini.h"
#include "db/mensagens.h"
#include "db/parametros.h"
#include "protocolo/texto.h"
#include "support/captura.h"
#include "support/pasta_temporaria.h"

namespace ondaris::db {
using protocolo::ContarCaracteresUtf8;
using protocolo::IdentificadorValido;
using protocolo::Latin1ParaUtf8;
using protocolo::Quantidade;
using protocolo::Utf8ParaLatin1;
namespace {

using teste::GravarBytes;
using teste::PastaTemporaria;

void GravarIni(const PastaTemporaria& pasta, const std::string& conteudo) {
    GravarBytes(pasta.Caminho() / "korvin.ini", conteudo);
}

TEST(ArquivoIni, RegrasDeLeituraEStringDeConexao) {
    struct Caso {
        const char* nome;
        const char* conteudo;  // nullptr: no file at all
        const char* servidor;  // expected; "<padrao>" = localhost
        const char* caminho;   // expected; "<padrao>" = folder + KORVIN.FDB
    };
    const std::string longo(3000, 'x');
    const Caso casos[] = {
        {"no file", nullptr, "localhost", "<padrao>"},
        {"plain", "[Korvin]\nServidor=srv01\nCaminho=D:\\Dados\\KORVIN.FDB\n", "srv01", "D:\\Dados\\KORVIN.FDB"},
        {"case-insensitive names", "[kORVIN]\nSERVIDOR=srv01\ncaminho=/d/k.fdb\n", "srv01", "/d/k.fdb"},
        {"double quotes", "[Korvin]\nServidor=\"srv01\"\n", "srv01", "<padrao>"},
        {"single quotes and blanks", "[Korvin]\n  Servidor =   'srv01'   \r\n", "srv01", "<padrao>"},
        {"blanks around", "[Korvin]\nServidor=  srv01 \t\n", "srv01", "<padrao>"},
        {"unmatched quotes stay", "[Korvin]\nServidor=\"srv01'\n", "\"srv01'", "<padrao>"},
        {"present but empty", "[Korvin]\nServidor=\nCaminho=\"\"\n", "", ""},
        {"first occurrence counts", "[Korvin]\nServidor=a\nServidor=b\n", "a", "<padrao>"},
        {"first section counts", "[Korvin]\nServidor=a\n[Korvin]\nServidor=b\nCaminho=c\n", "a", "<padrao>"},
        {"other section", "[Outra]\nServidor=x\n[Korvin]\nCaminho=/k.fdb\n", "localhost", "/k.fdb"},
        {"missing section", "Servidor=x\n", "localhost", "<padrao>"},
        {"comments", "[Korvin]\n;Servidor=x\nServidor=y\n", "y", "<padrao>"},
        {"value with equals sign", "[Korvin]\nCaminho=a=b\n", "localhost", "a=b"},
        {"Latin-1 file", "[Korvin]\nCaminho=/l\xF3ja.fdb\n", "localhost", "/l\xC3\xB3ja.fdb"},
        {"UTF-8 file with mark", "\xEF\xBB\xBF[Korvin]\nCaminho=/l\xC3\xB3ja.fdb\n", "localhost", "/l\xC3\xB3ja.fdb"},
    };
    for (const auto& caso : casos) {
        SCOPED_TRACE(caso.nome);
        PastaTemporaria pasta;
        if (caso.conteudo) GravarIni(pasta, caso.conteudo);
        const auto cfg = LerConfiguracaoBanco(pasta.Pasta());
        const std::string caminhoPadrao = pasta.Pasta() + "KORVIN.FDB";
        const std::string caminho = std::string(caso.caminho) == "<padrao>" ? caminhoPadrao : caso.caminho;
        EXPECT_EQ(cfg.Servidor, caso.servidor);
        EXPECT_EQ(cfg.Caminho, caminho);
        EXPECT_EQ(ParametrosConexao::De(cfg).StringConexao(), std::string(caso.servidor) + "/3050:" + caminho);
    }

    // Values are cut to 2047 characters.
    PastaTemporaria pasta;
    GravarIni(pasta, "[Korvin]\nCaminho=" + longo + "\n");
    EXPECT_EQ(LerConfiguracaoBanco(pasta.Pasta()).Caminho, std::string(2047, 'x'));
}

// "Servidor" may name the port after a slash, as Firebird's own attachment
// strings do; the key "SegundosEnvioRetido" gives the warning time for
// sending held back.
TEST(ArquivoIni, PortaNoServidorESegundosDeEnvioRetido) {
    struct Caso {
        const char* conteudo;
        const char* servidor;
        const char* porta;
        long long segundos;
    };
    const Caso casos[] = {
        {"[Korvin]\nServidor=srv01\n", "srv01", "3050", 600},
        {"[Korvin]\nServidor=srv01/3051\nSegundosEnvioRetido=30\n", "srv01", "3051", 30},
        {"[Korvin]\nServidor=127.0.0.1/gds_db\nSegundosEnvioRetido=0\n", "127.0.0.1", "gds_db", 600},
        {"[Korvin]\nServidor=srv01/\nSegundosEnvioRetido=10 minutos\n", "srv01/", "3050", 600},
        {"[Korvin]\nServidor=/3051\nSegundosEnvioRetido=-5\n", "/3051", "3050", 600},
        {"[Korvin]\nSegundosEnvioRetido= 45 \n", "localhost", "3050", 45},
    };
    for (const auto& caso : casos) {
        SCOPED_TRACE(caso.conteudo);
        PastaTemporaria pasta;
        GravarIni(pasta, caso.conteudo);
        const auto cfg = LerConfiguracaoBanco(pasta.Pasta());
        EXPECT_EQ(cfg.Servidor, caso.servidor);
        EXPECT_EQ(cfg.Porta, caso.porta);
        EXPECT_EQ(ParametrosConexao::De(cfg).StringConexao(), std::string(caso.servidor) + "/" + caso.porta + ":" + cfg.Caminho);
        EXPECT_EQ(LerSegundosEnvioRetido(pasta.Pasta()).count(), caso.segundos);
    }
}

TEST(ArquivoIni, PastaDoExecutavelTerminaComSeparador) {
#ifdef _WIN32
    const char separador = '\\';
    const std::string programa = "test_db.exe";
#else
    const char separador = '/';
    const std::string programa = "test_db";
#endif
    const std::string pasta = PastaExecutavel();
    ASSERT_FALSE(pasta.empty());
    EXPECT_EQ(pasta.back(), separador);
    EXPECT_TRUE(std::filesystem::exists(pasta + programa));
}

TEST(ParametrosNomeados, Reescrita) {
    struct Caso {
        const char* sql;
        const char* esperado;
        std::vector<std::string> nomes;
    };
    const Caso casos[] = {
        {"SELECT * FROM T WHERE A = :A AND B = :b", "SELECT * FROM T WHERE A = ? AND B = ?", {"A", "B"}},
        {"WHERE X = :Par1 OR Y = :PAR1", "WHERE X = ? OR Y = ?", {"PAR1", "PAR1"}},
        {"SELECT ':NAO' FROM T WHERE A = :SIM", "SELECT ':NAO' FROM T WHERE A = ?", {"SIM"}},
        {"SELECT 'it''s :NAO' , :SIM FROM T", "SELECT 'it''s :NAO' , ? FROM T", {"SIM"}},
        {"SELECT \":NAO\" FROM T WHERE A=:SIM", "SELECT \":NAO\" FROM T WHERE A=?", {"SIM"}},
        {"SELECT 1 -- :NAO\nFROM T WHERE A=:SIM", "SELECT 1 -- :NAO\nFROM T WHERE A=?", {"SIM"}},
        {"SELECT /* :NAO */ 1 FROM T WHERE A=:SIM", "SELECT /* :NAO */ 1 FROM T WHERE A=?", {"SIM"}},
        {"SELECT A[1:2] FROM T WHERE B = ?", "SELECT A[1:2] FROM T WHERE B = ?", {""}},
        {"UPDATE T SET A = :A$1_X WHERE B=:B", "UPDATE T SET A = ? WHERE B=?", {"A$1_X", "B"}},
        {"EXECUTE BLOCK (P INT = :P) AS DECLARE X INT; BEGIN X = :P; END",
         "EXECUTE BLOCK (P INT = ?) AS DECLARE X INT; BEGIN X = :P; END",
         {"P"}},
        {"SELECT 'unterminated :NAO", "SELECT 'unterminated :NAO", {}},
    };
    for (const auto& caso : casos) {
        SCOPED_TRACE(caso.sql);
        const auto r = ReescreverParametros(caso.sql);
        EXPECT_EQ(r.Texto, caso.esperado);
        EXPECT_EQ(r.Nomes, caso.nomes);
    }
    const auto r = ReescreverParametros("A=:X AND B=:Y AND C=:x");
    ASSERT_TRUE(r.Posicoes.contains("X"));
    EXPECT_EQ(r.Posicoes.at("X"), (std::vector<std::size_t>{0, 2}));
    EXPECT_EQ(r.Posicoes.at("Y"), (std::vector<std::size_t>{1}));
}

TEST(Latin1, ConversaoNaFronteira) {
    struct Caso {
        std::string utf8, latin1;
    };
    const Caso casos[] = {
        {"abc", "abc"},
        {"a\xC3\xA7\xC3\xA3o", "a\xE7\xE3o"},               // ação
        {"\xC3\xBF", "\xFF"},                               // ÿ, last Latin-1 character
        {"\xE2\x82\xAC 5", "? 5"},                          // euro sign is not Latin-1
        {"\xF0\x9F\x98\x80!", "?!"},                        // outside the BMP
        {"\xE7", "?"},                                     // not UTF-8: U+FFFD, as every reader
        {"\xC3", "?"},                                     // truncated sequence
        {"\xC0\xA7x", "??x"},                               // overlong form: each byte alone
        {std::string("a\0b", 3), std::string("a\0b", 3)},  // embedded NUL kept
    };
    for (const auto& c : casos) {
        EXPECT_EQ(Utf8ParaLatin1(c.utf8), c.latin1) << c.utf8;
    }
    for (int b = 0; b < 256; ++b) {
        const std::string um(1, static_cast<char>(b));
        EXPECT_EQ(Utf8ParaLatin1(Latin1ParaUtf8(um)), um) << b;
    }
    EXPECT_EQ(ContarCaracteresUtf8("a\xC3\xA7\xE2\x82\xAC"), 3u);
}

// The one identifier rule, Firebird's for names without quotes, that the
// builders, the trigger installer, the self-check and the central server
// share.
TEST(Identificadores, ARegraDoFirebirdSemAspas) {
    struct Caso {
        std::string nome;
        bool valido;
    };
    const Caso casos[] = {
        {"PRODUTOS", true},
        {"produtos", true},  // unquoted: the server takes it in upper case
        {"A", true},
        {"ITENS_VENDA2", true},
        {"PRE$CO", true},
        {"PRECO$", true},
        {"A$_9", true},
        {std::string(31, 'T'), true},
        {std::string(30, 'T') + "$", true},
        {std::string(32, 'T'), false},
        {"", false},
        {"$PRECO", false},
        {"_PRECO", false},
        {"1PRODUTOS", false},
        {"PRODUTOS ", false},
        {"NO ME", false},
        {"A-B", false},
        {"A;B", false},
        {"\"PRODUTOS\"", false},
        {"PRE\xC3\x87O", false},  // a letter beyond ASCII needs quotes
        {"A\xC2\xAA", false},
        {std::string("A\0B", 3), false},
    };
    for (const auto& c : casos) EXPECT_EQ(IdentificadorValido(c.nome), c.valido) << "[" << c.nome << "]";
    // Names the agent makes from one (a statement's "TB" + table + suffix)
    // follow the same characters at any length.
    EXPECT_TRUE(IdentificadorValido("TB" + std::string(31, 'T') + "$_DEL", std::string_view::npos));
    EXPECT_FALSE(IdentificadorValido("TB" + std::string(31, 'T') + " _DEL", std::string_view::npos));
}

// The statement texts from a table's name and columns alone.
TEST(ConstrutoresPuros, TextosDasTresConsultas) {
    const std::vector<TCampoCatalogo> itens = {{"LOJA", true}, {"NUMERO", true}, {"VALOR", false}};
    const std::vector<TCampoCatalogo> composta = {{"A", true}, {"X", false}, {"B", true}};
    EXPECT_EQ(MontarSQLQuerySEL("ITENS", itens),
              "SELECT L.ORDEM, T.LOJA, T.NUMERO, T.VALOR FROM ITENS T INNER JOIN LOG_REPLICACAO L ON (T.LOJA = "
              "L.ATUALVALORCHAVE1) AND (T.NUMERO = L.ATUALVALORCHAVE2) WHERE L.ORDEM BETWEEN :ORDEMINICIAL AND "
              ":ORDEMFINAL AND L.TABELA = 'ITENS' ORDER BY ORDEM");
    EXPECT_EQ(MontarSQLQuerySEL("COMPOSTA", composta),
              "SELECT L.ORDEM, T.A, T.X, T.B FROM COMPOSTA T INNER JOIN LOG_REPLICACAO L ON (T.A = "
              "L.ATUALVALORCHAVE1) AND (T.B = L.ATUALVALORCHAVE2) WHERE L.ORDEM BETWEEN :ORDEMINICIAL AND "
              ":ORDEMFINAL AND L.TABELA = 'COMPOSTA' ORDER BY ORDEM");
    EXPECT_EQ(MontarSQLQueryUI("clientes", {"CODIGO", "NOME"}, {"CODIGO"}),
              "UPDATE OR INSERT INTO clientes(CODIGO, NOME) VALUES (:CODIGO, :NOME)");
    EXPECT_EQ(MontarSQLQueryDEL("ITENS", {"LOJA", "NUMERO"}), "DELETE FROM ITENS WHERE LOJA = :LOJA AND NUMERO = :NUMERO");
    // "$" stands in names as it is: Firebird takes it without quotes.
    EXPECT_EQ(MontarSQLQueryUI("PRE$COS", {"COD$", "V$ALOR"}, {"COD$"}),
              "UPDATE OR INSERT INTO PRE$COS(COD$, V$ALOR) VALUES (:COD$, :V$ALOR)");
    EXPECT_EQ(ReescreverParametros("UPDATE OR INSERT INTO PRE$COS(COD$, V$ALOR) VALUES (:COD$, :V$ALOR)").Nomes,
              (std::vector<std::string>{"COD$", "V$ALOR"}));
}

// Everything a builder refuses, before any text is made of it.
TEST(ConstrutoresPuros, RecusasAntesDeQualquerTexto) {
    const std::vector<TCampoCatalogo> semChave = {{"P", false}, {"Q", false}};
    const std::vector<TCampoCatalogo> tresChaves = {{"A", true}, {"B", true}, {"C", true}};
    struct Caso {
        const char* nome;
        std::function<std::string()> montar;
        const char* mensagem;
    };
    const Caso casos[] = {
        {"hostile table", [] { return MontarSQLQueryDEL("T; DROP", {"ID"}); }, "nome de tabela \"T; DROP\""},
        {"hostile column", [] { return MontarSQLQueryUI("T", {"ID", "A'B"}, {"ID"}); }, "nome de coluna \"A'B\""},
        {"32 characters", [] { return MontarSQLQueryUI(std::string(32, 'T'), {"ID"}, {"ID"}); }, "nome de tabela"},
        {"leading $", [] { return MontarSQLQueryDEL("$T", {"ID"}); }, "nome de tabela \"$T\""},
        {"beyond ASCII", [] { return MontarSQLQueryDEL("T", {"C\xC3\x93" "D"}); }, "nome de coluna"},
        {"no structure rows", [] { return MontarSQLQueryUI("T", {}, {"ID"}); }, "não tem colunas na lista da estrutura"},
        {"delete without key", [] { return MontarSQLQueryDEL("T", {}); }, "uma exclusão ficaria sem condição"},
        {"select without key", [&] { return MontarSQLQuerySEL("T", semChave); }, "não tem chave primária"},
        {"three key columns, select", [&] { return MontarSQLQuerySEL("T", tresChaves); }, "chave primária de 3 colunas"},
        {"three key columns, update", [] { return MontarSQLQueryUI("T", {"A", "B", "C"}, {"A", "B", "C"}); },
         "chave primária de 3 colunas"},
        {"three key columns, delete", [] { return MontarSQLQueryDEL("T", {"A", "B", "C"}); },
         "chave primária de 3 colunas"},
    };
    for (const auto& c : casos) {
        SCOPED_TRACE(c.nome);
        const std::string falha = teste::TextoDaFalha<ErroPreparacao>([&] { c.montar(); });
        EXPECT_NE(falha.find(c.mensagem), std::string::npos) << falha;
    }
}

// The one text of a received command serves the unit statement (each
// parameter named after its column) and the receiver's batches (each named
// per command of the batch) alike.
TEST(ConstrutoresPuros, ComandoRecebidoComOsNomesDeParametroDados) {
    struct Caso {
        const char* nome;
        TTipoSQL tipo;
        std::vector<std::string> colunas, parametros;
        const char* texto;
    };
    const Caso casos[] = {
        {"update, the batch's names", TTipoSQL::tsUpdateInsert, {"CODIGO", "NOME"}, {"P3_0", "P3_1"},
         "UPDATE OR INSERT INTO CLIENTES(CODIGO, NOME) VALUES (:P3_0, :P3_1)"},
        {"delete, the batch's names", TTipoSQL::tsDelete, {"LOJA", "NUMERO"}, {"P0_0", "P0_1"},
         "DELETE FROM CLIENTES WHERE LOJA = :P0_0 AND NUMERO = :P0_1"},
        {"update, the columns' names", TTipoSQL::tsUpdateInsert, {"CODIGO", "NOME"}, {"CODIGO", "NOME"},
         "UPDATE OR INSERT INTO CLIENTES(CODIGO, NOME) VALUES (:CODIGO, :NOME)"},
        {"delete, one key column", TTipoSQL::tsDelete, {"CODIGO"}, {"P9_0"},
         "DELETE FROM CLIENTES WHERE CODIGO = :P9_0"},
    };
    for (const auto& c : casos) {
        SCOPED_TRACE(c.nome);
        EXPECT_EQ(MontarComandoRecebido(c.tipo, "CLIENTES", c.colunas, c.parametros), c.texto);
    }
    // The unit builders are it with the columns' own names.
    EXPECT_EQ(MontarSQLQueryUI("CLIENTES", {"CODIGO", "NOME"}, {"CODIGO"}),
              MontarComandoRecebido(TTipoSQL::tsUpdateInsert, "CLIENTES", {"CODIGO", "NOME"}, {"CODIGO", "NOME"}));
    EXPECT_EQ(MontarSQLQueryDEL("ITENS", {"LOJA", "NUMERO"}),
              MontarComandoRecebido(TTipoSQL::tsDelete, "ITENS", {"LOJA", "NUMERO"}, {"LOJA", "NUMERO"}));

    // A caller's mistake is a usage error, never a refusal of the table.
    EXPECT_THROW(MontarComandoRecebido(TTipoSQL::tsDelete, "T", {"A", "B"}, {"P0_0"}), ErroUso);
    EXPECT_THROW(MontarComandoRecebido(TTipoSQL::tsSelect, "T", {"A"}, {"A"}), ErroUso);
    EXPECT_THROW(MontarComandoRecebido(TTipoSQL::tsUpdateInsert, "T", {"A'B"}, {"P0_0"}), ErroPreparacao);
    EXPECT_THROW(MontarComandoRecebido(TTipoSQL::tsDelete, "T", {}, {}), ErroPreparacao);
}

// Portuguese counts: only one takes the singular; none takes the plural.
// The texts built on the rule follow it on both of their numbers.
TEST(Mensagens, OneTakesTheSingularAndEveryOtherCountThePlural) {
    struct Caso {
        std::string texto;
        const char* esperado;
    };
    const Caso casos[] = {
        {Quantidade(0, "linha", "linhas"), "0 linhas"},
        {Quantidade(1, "linha", "linhas"), "1 linha"},
        {Quantidade(2, "linha", "linhas"), "2 linhas"},
        {Quantidade(-1, "linha", "linhas"), "-1 linha"},
        {Quantidade(1000000000000, "registro", "registros"), "1000000000000 registros"},
        {TextoNaoCabe(2, 1, "VARCHAR(1)", false),
         "o texto tem 2 caracteres e a coluna (VARCHAR(1)) guarda no máximo 1 caractere; cortado, chegaria outro valor"},
        {TextoNaoCabe(1, 0, "VARCHAR(0) CHARACTER SET OCTETS", true),
         "o texto tem 1 byte e a coluna (VARCHAR(0) CHARACTER SET OCTETS) guarda no máximo 0 bytes; cortado, chegaria "
         "outro valor"},
        {ChaveLongaDemais("T", 3, 1), "a tabela T tem chave primária de 3 colunas: o log guarda no máximo 1 valor de "
                                      "chave, então suas alterações não podem ser replicadas"},
    };
    for (const auto& c : casos) EXPECT_EQ(c.texto, c.esperado);
}

}  // namespace
}  // namespace ondaris::db
