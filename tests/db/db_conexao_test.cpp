// Connections, transactions and statements against the real server: the
// data-conversion rules on bind and read, typed values, blobs, lock
// conflicts, automatic reconnection and the per-operation module.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <unistd.h>

#include "db/conexao.h"
#include "db/consulta.h"
#include "db/modulo_operacao.h"
#include "db/ocupado.h"
#include "support/banco_teste.h"
#include "support/captura.h"

namespace ondaris::db {
using protocolo::Data;
using protocolo::DataHora;
using protocolo::Hora;
namespace {

using teste::BancoTeste;

constexpr OpcoesTransacao kAutomatica = OpcoesTransacao::EscritaAutomatica();
constexpr OpcoesTransacao kManual = OpcoesTransacao::Escrita();

class BancoConexao : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        banco_ = std::make_unique<BancoTeste>(BancoTeste::Conteudo::Vazio);
        banco_->ExecutarSql(
            "CREATE TABLE T (ID INTEGER NOT NULL PRIMARY KEY, C5 CHAR(5), C10 CHAR(10), V10 VARCHAR(10),"
            " BT BLOB SUB_TYPE TEXT, BB BLOB SUB_TYPE 0, N152 NUMERIC(15,2), N92 NUMERIC(9,2), S SMALLINT,"
            " BI BIGINT, D DATE, H TIME, TS TIMESTAMP, DP DOUBLE PRECISION, BO BOOLEAN,"
            " U10 VARCHAR(10) CHARACTER SET UTF8, O4 CHAR(4) CHARACTER SET OCTETS);");
    }
    static void TearDownTestSuite() { banco_.reset(); }

    void SetUp() override {
        conexao_ = std::make_unique<Conexao>(banco_->ParametrosSysdba());
        auto_ = std::make_unique<Transacao>(*conexao_, "auto", kAutomatica);
    }
    void TearDown() override {
        auto_.reset();
        conexao_.reset();
    }

    // Inserts one row with the given values bound by name.
    void Inserir(int id, const std::vector<std::pair<std::string, Valor>>& valores) {
        std::string colunas = "ID", marcas = ":ID";
        for (const auto& [nome, v] : valores) {
            colunas += ", " + nome;
            marcas += ", :" + nome;
        }
        Consulta q(*conexao_, *auto_, "INSERT INTO T (" + colunas + ") VALUES (" + marcas + ")");
        q.Definir("ID", id);
        for (const auto& [nome, v] : valores) q.Definir(nome, v);
        q.Executar();
        EXPECT_EQ(q.LinhasAfetadas(), 1);
    }

    static inline std::unique_ptr<BancoTeste> banco_;
    std::unique_ptr<Conexao> conexao_;
    std::unique_ptr<Transacao> auto_;
};

TEST_F(BancoConexao, RegrasDeConversaoAoGravar) {
    struct Caso {
        const char* nome;
        const char* coluna;
        Valor entrada;
        const char* consulta;  // expression over T read back as text
        std::optional<std::string> esperado;
    };
    const std::string acentos11 = "\xC3\xA1\xC3\xA1\xC3\xA1\xC3\xA1\xC3\xA1\xC3\xA1\xC3\xA1\xC3\xA1\xC3\xA1\xC3\xA1\xC3\xA1";
    const Caso casos[] = {
        {"empty text is NULL", "V10", std::string(), "IIF(V10 IS NULL, 'null', 'not null')", "null"},
        {"CHAR loses trailing blanks", "C5", std::string("AB   "), "C5 || '|'", "AB   |"},
        {"all-blank CHAR is NULL", "C5", std::string("     "), "IIF(C5 IS NULL, 'null', 'not null')", "null"},
        {"VARCHAR keeps blanks", "V10", std::string("x  "), "V10 || '|'", "x  |"},
        {"over-long text is cut", "V10", std::string("ABCDEFGHIJKL"), "V10", "ABCDEFGHIJ"},
        {"cut in characters", "V10", acentos11, "CHAR_LENGTH(V10)", "10"},
        {"outside Latin-1 becomes ?", "V10", std::string("a\xC3\xA7\xE2\x82\xAC"), "V10", "a\xC3\xA7?"},
        {"UTF8 column through Latin-1", "U10", std::string("\xC3\xA3o"), "U10", "\xC3\xA3o"},
        {"empty text blob is NULL", "BT", std::string(), "IIF(BT IS NULL, 'null', 'not null')", "null"},
        {"text blob", "BT", std::string("S\xC3\xA3o Paulo"), "BT", "S\xC3\xA3o Paulo"},
    };
    int id = 100;
    for (const auto& c : casos) {
        SCOPED_TRACE(c.nome);
        Inserir(++id, {{c.coluna, c.entrada}});
        Consulta q(*conexao_, *auto_, std::string("SELECT ") + c.consulta + " AS R FROM T WHERE ID = :ID");
        q.Definir("ID", id);
        ASSERT_TRUE(q.Abrir());
        const Valor v = q.Ler("R");
        std::optional<std::string> lido;
        if (const auto* s = std::get_if<std::string>(&v)) lido = *s;
        if (const auto* n = std::get_if<std::int64_t>(&v)) lido = std::to_string(*n);
        if (const auto* n = std::get_if<std::int32_t>(&v)) lido = std::to_string(*n);
        EXPECT_EQ(lido, c.esperado);
    }
    // The CHAR(5) parameter given "AB" followed by blanks matches 'AB'.
    Consulta q(*conexao_, *auto_, "SELECT COUNT(*) AS N FROM T WHERE C5 = 'AB' AND ID = :ID");
    q.Definir("ID", 102);
    ASSERT_TRUE(q.Abrir());
    EXPECT_EQ(q.Ler<std::int64_t>("N"), 1);
}

// A statement with exact texts keeps an empty text, reads it back as one,
// and refuses a text its parameter cannot hold instead of cutting it.
TEST_F(BancoConexao, TextosExatos) {
    struct Caso {
        const char* nome;
        const char* coluna;
        std::string entrada;
        const char* consulta;
        std::string esperado;
    };
    const std::string acentos10 = "\xC3\xA1\xC3\xA1\xC3\xA1\xC3\xA1\xC3\xA1\xC3\xA1\xC3\xA1\xC3\xA1\xC3\xA1\xC3\xA1";
    const Caso casos[] = {
        {"empty text is not NULL", "V10", "", "IIF(V10 IS NULL, 'null', '[' || V10 || ']')", "[]"},
        {"all-blank CHAR is blanks", "C5", "     ", "IIF(C5 IS NULL, 'null', '[' || C5 || ']')", "[     ]"},
        {"empty CHAR is blanks", "C5", "", "IIF(C5 IS NULL, 'null', '[' || C5 || ']')", "[     ]"},
        {"empty text blob is not NULL", "BT", "", "IIF(BT IS NULL, 'null', 'len ' || OCTET_LENGTH(BT))", "len 0"},
        {"ten characters of two bytes fit", "V10", acentos10, "'len ' || CHAR_LENGTH(V10)", "len 10"},
        {"UTF8 column", "U10", acentos10, "'len ' || CHAR_LENGTH(U10)", "len 10"},
    };
    int id = 150;
    for (const auto& c : casos) {
        SCOPED_TRACE(c.nome);
        Consulta ins(*conexao_, *auto_, std::string("INSERT INTO T (ID, ") + c.coluna + ") VALUES (:ID, :V)");
        ins.DefinirTextosExatos(true);
        ins.Definir("ID", ++id);
        ins.Definir("V", c.entrada);
        ins.Executar();
        Consulta q(*conexao_, *auto_, std::string("SELECT ") + c.consulta + " AS R, " + c.coluna + " AS V FROM T WHERE ID = :ID");
        q.DefinirTextosExatos(true);
        q.Definir("ID", id);
        ASSERT_TRUE(q.Abrir());
        const Valor r = q.Ler("R");
        EXPECT_EQ(r, Valor(c.esperado));
        // Read back with exact texts: the text itself (a CHAR without its
        // trailing blanks), never NULL.
        const Valor v = q.Ler("V");
        ASSERT_TRUE(std::holds_alternative<std::string>(v)) << NomeTipoValor(v);
        const auto fim = c.entrada.find_last_not_of(' ');
        EXPECT_EQ(std::get<std::string>(v), std::string(c.coluna) == "C5"
                                                ? (fim == std::string::npos ? "" : c.entrada.substr(0, fim + 1))
                                                : c.entrada);
    }
    Consulta ins(*conexao_, *auto_, "INSERT INTO T (ID, V10, C5, U10) VALUES (:ID, :V10, :C5, :U10)");
    ins.DefinirTextosExatos(true);
    for (const auto& [coluna, texto] : std::vector<std::pair<const char*, std::string>>{
             {"V10", "ABCDEFGHIJK"}, {"C5", "ABCDEF"}, {"U10", acentos10 + "x"}, {"V10", acentos10 + "x"}}) {
        SCOPED_TRACE(coluna);
        const std::string falha = teste::TextoDaFalha<ErroBanco>([&] { ins.Definir(coluna, texto); });
        EXPECT_NE(falha.find("string truncation"), std::string::npos) << falha;
        EXPECT_NE(falha.find(coluna), std::string::npos) << falha;
    }
}

TEST_F(BancoConexao, RegrasDeConversaoAoLer) {
    banco_->ExecutarSql(
        "INSERT INTO T (ID, C10, V10) VALUES (201, 'X', '');"
        "INSERT INTO T (ID, C10, V10) VALUES (202, '          ', 'a  ');"
        "INSERT INTO T (ID, C10, V10, BT) VALUES (203, '\xE1' || 'b', 'S\xE3o', '');");
    Consulta q(*conexao_, *auto_, "SELECT ID, C10, V10, BT FROM T WHERE ID BETWEEN 201 AND 203 ORDER BY ID");
    ASSERT_TRUE(q.Abrir());
    EXPECT_EQ(q.Ler<std::string>("C10"), "X");
    EXPECT_EQ(q.Ler<std::string>("V10"), std::nullopt);  // empty text reads as NULL
    ASSERT_TRUE(q.Proximo());
    EXPECT_EQ(q.Ler<std::string>("c10"), std::nullopt);  // only blanks: NULL
    EXPECT_EQ(q.Ler<std::string>("V10"), "a  ");
    ASSERT_TRUE(q.Proximo());
    EXPECT_EQ(q.Ler<std::string>("C10"), "\xC3\xA1" "b");
    EXPECT_EQ(q.Ler<std::string>("V10"), "S\xC3\xA3o");
    EXPECT_EQ(q.Ler<std::string>("BT"), std::nullopt);
    EXPECT_FALSE(q.Proximo());
    EXPECT_FALSE(q.Aberta());
}

TEST_F(BancoConexao, ValoresTipadosIdaEVolta) {
    const DataHora momento{Data{2023, 12, 31}, Hora{14, 30, 5, 1234}};
    Inserir(301, {{"N152", Numerico{123456, -4}},  // 12.3456 rounds to 12.35
                  {"N92", std::int32_t{7}},
                  {"S", std::int16_t{-5}},
                  {"BI", std::int64_t{9007199254740993}},
                  {"D", Data{2023, 12, 31}},
                  {"H", Hora{23, 59, 58, 9999}},
                  {"TS", momento},
                  {"DP", 2.5},
                  {"BO", true},
                  {"O4", Bytes{0, 1, 2, 3}}});
    Consulta q(*conexao_, *auto_, "SELECT * FROM T WHERE ID = :id");
    q.Definir("ID", 301);
    ASSERT_TRUE(q.Abrir());
    EXPECT_EQ(q.Ler<Numerico>("N152"), (Numerico{1235, -2}));
    EXPECT_EQ(q.Ler<Numerico>("N92"), (Numerico{700, -2}));
    EXPECT_EQ(q.Ler<std::int32_t>("S"), -5);
    EXPECT_EQ(q.Ler<std::int64_t>("BI"), 9007199254740993);
    EXPECT_EQ(q.Ler<Data>("D"), (Data{2023, 12, 31}));
    EXPECT_EQ(q.Ler<Hora>("H"), (Hora{23, 59, 58, 9999}));
    EXPECT_EQ(q.Ler<DataHora>("TS"), momento);
    EXPECT_EQ(q.Ler<double>("DP"), 2.5);
    EXPECT_EQ(q.Ler<bool>("BO"), true);
    EXPECT_EQ(q.Ler<Bytes>("O4"), (Bytes{0, 1, 2, 3}));
    EXPECT_EQ(q.Ler<std::string>("V10"), std::nullopt);
}

TEST_F(BancoConexao, TiposErradosEEstouro) {
    Consulta q(*conexao_, *auto_, "UPDATE T SET S = :S, V10 = :V WHERE ID = :ID");
    if (const auto e = teste::Capturar<ErroUso>([&] { q.Definir("ID", "12"); })) {
        EXPECT_NE(std::string(e->what()).find("INTEGER"), std::string::npos) << e->what();
        EXPECT_NE(std::string(e->what()).find("text"), std::string::npos) << e->what();
    }
    EXPECT_THROW(q.Definir("S", 70000), ErroBanco);
    EXPECT_THROW(q.Definir("NAOEXISTE", 1), ErroUso);
    Inserir(401, {{"V10", std::string("abc")}});
    Consulta l(*conexao_, *auto_, "SELECT V10 FROM T WHERE ID = 401");
    ASSERT_TRUE(l.Abrir());
    const std::string falha = teste::TextoDaFalha<ErroUso>([&] { (void)l.Ler<std::int64_t>("V10"); });
    EXPECT_NE(falha.find("VARCHAR(10)"), std::string::npos) << falha;
}

// One reading rule for every column: NULL is an empty optional whatever
// is asked for; a value is read as a type that holds it without loss, and
// as nothing else.
TEST_F(BancoConexao, LeituraTipada) {
    Inserir(451, {{"BI", std::int64_t{5000000000}}, {"S", std::int16_t{7}}, {"N92", Numerico{150, -2}}});
    Consulta q(*conexao_, *auto_, "SELECT BI, S, N92, V10, D, BO FROM T WHERE ID = 451");
    ASSERT_TRUE(q.Abrir());
    EXPECT_EQ(q.Ler<std::int64_t>("V10"), std::nullopt);
    EXPECT_EQ(q.Ler<std::string>("D"), std::nullopt);
    EXPECT_EQ(q.Ler<bool>(std::size_t{5}), std::nullopt);
    EXPECT_EQ(q.Ler<std::int64_t>("S"), 7);
    EXPECT_EQ(q.Ler<std::int16_t>("S"), 7);
    EXPECT_EQ(q.Ler<Numerico>("S"), (Numerico{7, 0}));
    EXPECT_EQ(q.Ler<double>("N92"), 1.5);
    EXPECT_EQ(q.Ler<double>("BI"), 5e9);
    const struct {
        const char* nome;
        std::function<void()> ler;
        const char* tipo;
    } recusas[] = {
        {"too big for 32 bits", [&] { (void)q.Ler<std::int32_t>("BI"); }, "BIGINT"},
        {"decimals would be lost", [&] { (void)q.Ler<std::int64_t>("N92"); }, "NUMERIC(9,2)"},
        {"a number is no text", [&] { (void)q.Ler<std::string>("S"); }, "SMALLINT"},
    };
    for (const auto& r : recusas) {
        SCOPED_TRACE(r.nome);
        const std::string falha = teste::TextoDaFalha<ErroUso>(r.ler);
        EXPECT_NE(falha.find(r.tipo), std::string::npos) << falha;
    }
}

TEST_F(BancoConexao, NomeRepetidoPreencheTodasAsPosicoes) {
    Inserir(501, {});
    Inserir(601, {});
    Consulta q(*conexao_, *auto_, "SELECT COUNT(*) AS N FROM T WHERE ID = :X OR ID = :x + 100");
    q.Definir("X", 501);
    ASSERT_TRUE(q.Abrir());
    EXPECT_EQ(q.Ler<std::int64_t>("N"), 2);
    EXPECT_EQ(q.Parametros().size(), 2u);
}

TEST_F(BancoConexao, BlobsPequenosEGrandes) {
    Bytes pequeno{0, 255, 10, 13, 0};
    Bytes grande(100000);
    for (std::size_t i = 0; i < grande.size(); ++i) grande[i] = static_cast<std::uint8_t>(i * 7);
    std::string textoGrande;
    for (int i = 0; i < 20000; ++i) textoGrande += "a\xC3\xA7\xC3\xA3o ";  // 100000 chars, 140000 bytes UTF-8
    Inserir(701, {{"BB", pequeno}, {"BT", std::string("curto")}, {"V10", std::string("ok")}});
    Inserir(702, {{"BB", grande}, {"BT", textoGrande}, {"V10", std::string("ok")}});
    Consulta q(*conexao_, *auto_, "SELECT ID, BB, BT, V10 FROM T WHERE ID IN (701, 702) ORDER BY ID");
    ASSERT_TRUE(q.Abrir());
    EXPECT_EQ(q.Ler<Bytes>("BB"), pequeno);
    EXPECT_EQ(q.Ler<std::string>("BT"), "curto");
    ASSERT_TRUE(q.Proximo());
    EXPECT_EQ(q.Ler<Bytes>("BB"), grande);
    EXPECT_EQ(q.Ler<std::string>("BT"), textoGrande);
    EXPECT_EQ(q.Ler<std::string>("V10"), "ok");  // the other parameters survive the large-blob path
}

TEST_F(BancoConexao, TransacaoAutomaticaTerminaSozinhaEManualEsperaOChamador) {
    Inserir(801, {});
    EXPECT_FALSE(auto_->Ativa());  // committed as soon as the insert ended
    Consulta leitura(*conexao_, *auto_, "SELECT ID FROM T WHERE ID >= 801 ORDER BY ID");
    ASSERT_TRUE(leitura.Abrir());
    EXPECT_TRUE(auto_->Ativa());   // a result set is still open
    while (leitura.Proximo()) {
    }
    EXPECT_FALSE(auto_->Ativa());  // read to its end

    Transacao manual(*conexao_, "manual", kManual);
    Consulta q(*conexao_, manual, "UPDATE T SET V10 = 'm' WHERE ID = 801");
    q.Preparar();  // prepared while the transaction is not running
    EXPECT_THROW(q.Executar(), ErroUso);
    manual.Iniciar();
    q.Executar();
    EXPECT_TRUE(manual.Ativa());
    manual.Rollback();
    Consulta v(*conexao_, *auto_, "SELECT V10 FROM T WHERE ID = 801");
    ASSERT_TRUE(v.Abrir());
    EXPECT_EQ(v.Ler<std::string>("V10"), std::nullopt);
}

TEST_F(BancoConexao, ConflitoDeBloqueioFalhaNaHora) {
    Inserir(901, {});
    // A second attachment holds the row with an uncommitted change.
    Conexao outra(banco_->ParametrosSysdba(), "outra");
    Transacao detentora(outra, "detentora", kManual);
    detentora.Iniciar();
    Consulta prende(outra, detentora, "UPDATE T SET V10 = 'outra' WHERE ID = 901");
    prende.Executar();
    Transacao manual(*conexao_, "manual", kManual);
    manual.Iniciar();
    Consulta q(*conexao_, manual, "UPDATE T SET V10 = 'nossa' WHERE ID = 901");
    const auto inicio = std::chrono::steady_clock::now();
    EXPECT_THROW(q.Executar(), ErroConflitoBloqueio);
    EXPECT_LT(std::chrono::steady_clock::now() - inicio, std::chrono::seconds(2));
    manual.Rollback();
}

TEST_F(BancoConexao, GanchoDeOcupado) {
    std::vector<bool> eventos;
    DefinirGanchoOcupado([&](bool ocupado) { eventos.push_back(ocupado); });
    Inserir(1001, {});
    DefinirGanchoOcupado({});
    ASSERT_FALSE(eventos.empty());
    EXPECT_TRUE(eventos.front());
    EXPECT_FALSE(eventos.back());
}

// ------------------------------------------------------------ reconnection

std::int64_t IdAnexo(Conexao& c, Transacao& t) {
    Consulta q(c, t, "SELECT CURRENT_CONNECTION AS ID FROM RDB$DATABASE");
    q.Abrir();
    return *q.Ler<std::int64_t>("ID");
}

void DerrubarAnexo(const BancoTeste& banco, std::int64_t id) {
    Conexao admin(banco.ParametrosSysdba(), "admin");
    Transacao t(admin, "admin", kAutomatica);
    Consulta q(admin, t, "DELETE FROM MON$ATTACHMENTS WHERE MON$ATTACHMENT_ID = :ID");
    q.Definir("ID", id);
    q.Executar();
    ASSERT_EQ(q.LinhasAfetadas(), 1);
}

TEST_F(BancoConexao, ReconectaAposPerderOAnexoERepeteAOperacao) {
    Inserir(1101, {{"V10", std::string("um")}});
    std::vector<std::chrono::milliseconds> pausas;
    conexao_->DefinirPausa([&](std::chrono::milliseconds ms) { pausas.push_back(ms); });
    Consulta q(*conexao_, *auto_, "SELECT V10 FROM T WHERE ID = :ID");
    q.Definir("ID", 1101);
    ASSERT_TRUE(q.Abrir());
    q.Fechar();
    const auto antes = IdAnexo(*conexao_, *auto_);
    DerrubarAnexo(*banco_, antes);

    ASSERT_TRUE(q.Abrir());  // prepared again, the bound ID kept
    EXPECT_EQ(q.Ler<std::string>("V10"), "um");
    EXPECT_EQ(conexao_->Reconexoes(), 1);
    EXPECT_TRUE(pausas.empty());  // the first attempt comes at once
    EXPECT_NE(IdAnexo(*conexao_, *auto_), antes);
}

TEST_F(BancoConexao, PerdaComAlteracoesPendentesNaoRepete) {
    Transacao manual(*conexao_, "manual", kManual);
    manual.Iniciar();
    Consulta ins(*conexao_, manual, "INSERT INTO T (ID) VALUES (:ID)");
    ins.Definir("ID", 1201);
    ins.Executar();
    DerrubarAnexo(*banco_, IdAnexo(*conexao_, *auto_));
    ins.Definir("ID", 1202);
    EXPECT_THROW(ins.Executar(), ErroConexaoPerdida);
    // The connection works again, and neither half of the work was kept.
    Consulta n(*conexao_, *auto_, "SELECT COUNT(*) AS N FROM T WHERE ID IN (1201, 1202)");
    ASSERT_TRUE(n.Abrir());
    EXPECT_EQ(n.Ler<std::int64_t>("N"), 0);
    EXPECT_FALSE(manual.Ativa());
}

TEST_F(BancoConexao, TransacaoDoChamadorSemAlteracoesSegueAposReconexao) {
    Transacao manual(*conexao_, "manual", kManual);
    manual.Iniciar();
    Consulta ins(*conexao_, manual, "INSERT INTO T (ID) VALUES (:ID)");
    ins.Definir("ID", 1251);
    DerrubarAnexo(*banco_, IdAnexo(*conexao_, *auto_));
    ins.Executar();  // nothing was lost: started again and repeated
    EXPECT_TRUE(manual.Ativa());
    manual.Commit();
    Consulta n(*conexao_, *auto_, "SELECT COUNT(*) AS N FROM T WHERE ID = 1251");
    ASSERT_TRUE(n.Abrir());
    EXPECT_EQ(n.Ler<std::int64_t>("N"), 1);
    EXPECT_EQ(conexao_->Reconexoes(), 1);
}

// Closing an attachment the server has cut already (an administrator
// removed it, the server restarted) is what was asked, not a failure;
// unless a transaction with changes not yet committed died with it.
TEST_F(BancoConexao, FecharUmAnexoQueOServidorJaCortou) {
    struct Caso {
        const char* nome;
        bool leituraAberta;  // the automatic transaction still reads a result set
        bool alteracao;      // ... and has written in it meanwhile
        bool falha;
    };
    const Caso casos[] = {
        {"nothing active", false, false, false},
        {"a read still open", true, false, false},
        {"a change not yet committed", true, true, true},
    };
    for (const auto& caso : casos) {
        SCOPED_TRACE(caso.nome);
        Conexao conexao(banco_->ParametrosSysdba(), "cortada");
        Transacao automatica(conexao, "automatica", kAutomatica);
        Consulta leitura(conexao, automatica, "SELECT RDB$RELATION_NAME FROM RDB$RELATIONS");
        Consulta insercao(conexao, automatica, "INSERT INTO T (ID) VALUES (1301)");
        Transacao outra(conexao, "outra", kAutomatica);
        const auto id = IdAnexo(conexao, outra);
        if (caso.leituraAberta) {
            ASSERT_TRUE(leitura.Abrir());
        }
        if (caso.alteracao) insercao.Executar();
        DerrubarAnexo(*banco_, id);
        if (caso.falha) {
            EXPECT_THROW(conexao.Fechar(), ErroConexaoPerdida);
        } else {
            EXPECT_NO_THROW(conexao.Fechar());
        }
        EXPECT_FALSE(conexao.Aberta());
        // Opened again on its next use.
        EXPECT_NE(IdAnexo(conexao, outra), id);
        // The uncommitted change went with the attachment.
        Consulta n(conexao, outra, "SELECT COUNT(*) AS N FROM T WHERE ID = 1301");
        ASSERT_TRUE(n.Abrir());
        EXPECT_EQ(n.Ler<std::int64_t>("N"), 0);
    }
}

TEST_F(BancoConexao, PerdaNoMeioDaLeituraPedeNovaAbertura) {
    // Enough rows that the client must go back to the server for more.
    banco_->ExecutarSql(
        "SET TERM ^;"
        "EXECUTE BLOCK AS DECLARE I INTEGER = 0; BEGIN"
        "  WHILE (I < 20000) DO BEGIN INSERT INTO T (ID, V10) VALUES (100000 + :I, 'linha'); I = I + 1; END "
        "END^"
        "SET TERM ;^");
    Consulta q(*conexao_, *auto_, "SELECT ID, V10 FROM T WHERE ID >= 100000 ORDER BY ID");
    ASSERT_TRUE(q.Abrir());
    Transacao outra(*conexao_, "outra", kAutomatica);
    DerrubarAnexo(*banco_, IdAnexo(*conexao_, outra));
    int lidas = 1;
    // Not every row can come from the buffer: the loss must be noticed.
    EXPECT_THROW(
        {
            while (q.Proximo()) ++lidas;
        },
        ErroConexaoPerdida);
    EXPECT_LT(lidas, 20000);
    EXPECT_FALSE(q.Aberta());
    EXPECT_EQ(conexao_->Reconexoes(), 1);
    ASSERT_TRUE(q.Abrir());  // opened again on the new attachment
    EXPECT_EQ(q.Ler<std::int32_t>("ID"), 100000);
    q.Fechar();
    banco_->ExecutarSql("DELETE FROM T WHERE ID >= 100000;");
}

TEST_F(BancoConexao, TresTentativasFalhasEntregamOErroDaUltima) {
    std::vector<std::chrono::milliseconds> pausas;
    conexao_->DefinirPausa([&](std::chrono::milliseconds ms) {
        pausas.push_back(ms);
        if (pausas.size() == 2) {
            // The last attempt reaches the server but is refused another way,
            // so its error can be told from the first two.
            conexao_->Parametros().Porta = "3050";
            conexao_->Parametros().Senha = "senha-errada";
        }
    });
    const auto id = IdAnexo(*conexao_, *auto_);
    conexao_->Parametros().Porta = "3059";  // nothing listens here
    DerrubarAnexo(*banco_, id);
    Consulta q(*conexao_, *auto_, "SELECT 1 AS UM FROM RDB$DATABASE");
    // The last attempt's own error, a refused login, not a lost connection.
    const auto e = teste::Capturar<ErroBanco>([&] { q.Abrir(); });
    ASSERT_TRUE(e);
    EXPECT_TRUE(e->Contem(isc_login)) << e->what();
    EXPECT_EQ(pausas, (std::vector<std::chrono::milliseconds>{std::chrono::milliseconds(3000),
                                                               std::chrono::milliseconds(3000)}));
    EXPECT_EQ(conexao_->Reconexoes(), 0);
    EXPECT_FALSE(conexao_->Aberta());
}

TEST_F(BancoConexao, SemServidorOErroEDeConexao) {
    conexao_->DefinirPausa([](std::chrono::milliseconds) {});
    const auto id = IdAnexo(*conexao_, *auto_);
    conexao_->Parametros().Porta = "3059";
    DerrubarAnexo(*banco_, id);
    Consulta q(*conexao_, *auto_, "SELECT 1 AS UM FROM RDB$DATABASE");
    EXPECT_THROW(q.Abrir(), ErroConexaoPerdida);
}

TEST_F(BancoConexao, ServidorDeVoltaNaTerceiraTentativa) {
    int pausas = 0;
    conexao_->DefinirPausa([&](std::chrono::milliseconds) {
        if (++pausas == 2) conexao_->Parametros().Porta = "3050";  // the server answers again
    });
    const auto id = IdAnexo(*conexao_, *auto_);
    conexao_->Parametros().Porta = "3059";
    DerrubarAnexo(*banco_, id);
    Consulta q(*conexao_, *auto_, "SELECT 1 AS UM FROM RDB$DATABASE");
    ASSERT_TRUE(q.Abrir());
    EXPECT_EQ(q.Ler<std::int32_t>("UM"), 1);
    EXPECT_EQ(pausas, 2);
    EXPECT_EQ(conexao_->Reconexoes(), 1);
}

// ------------------------------------------------------ per-operation module

TEST_F(BancoConexao, ModuloPorOperacao) {
    teste::GarantirUsuarioReplicacao();
    banco_->ExecutarSql("GRANT SELECT, INSERT, UPDATE, DELETE ON T TO USER ONDARIS;");
    teste::PastaKorvin pasta(*banco_);

    {
        TModuloOperacao modulo(pasta.Pasta());
        EXPECT_TRUE(modulo.ConexaoOperacao.Aberta());
        auto& ui = modulo.Criar("TBT_UI", modulo.TransReplicacaoReadWrite,
                                "UPDATE OR INSERT INTO T(ID, V10) VALUES (:ID, :V10)");
        EXPECT_EQ(modulo.Procurar("tbt_ui"), &ui);
        EXPECT_EQ(modulo.Procurar("TBT_DEL"), nullptr);
        EXPECT_THROW(modulo.Criar("tbt_UI", modulo.TransReplicacaoReadWrite, "SELECT 1 FROM RDB$DATABASE"), ErroUso);
        EXPECT_THROW(modulo.Criar("1TB", modulo.TransReplicacaoReadWrite, "SELECT 1 FROM RDB$DATABASE"), ErroUso);
        ui.Preparar();
        EXPECT_FALSE(modulo.TransReplicacaoReadWrite.Ativa());
        modulo.TransReplicacaoReadWrite.Iniciar();
        ui.Definir("ID", 1301);
        ui.Definir("V10", "bloco");
        ui.Executar();
        // Left active on purpose: an abandoned block is rolled back when its
        // module closes, never committed.
    }
    Consulta q(*conexao_, *auto_, "SELECT COUNT(*) FROM T WHERE ID = 1301");
    ASSERT_TRUE(q.Abrir());
    EXPECT_EQ(q.Ler(std::size_t{0}), Valor(std::int64_t{0}));
    q.Fechar();
    {
        TModuloOperacao modulo(pasta.Pasta());
        auto& ui = modulo.Criar("TBT_UI", modulo.TransReplicacaoReadWrite,
                                "UPDATE OR INSERT INTO T(ID, V10) VALUES (:ID, :V10)");
        modulo.TransReplicacaoReadWrite.Iniciar();
        ui.Definir("ID", 1302);
        ui.Definir("V10", "bloco");
        ui.Executar();
        modulo.TransReplicacaoReadWrite.Commit();
        // The read-only transaction ends by itself and commits on closing.
        auto& sel = modulo.Criar("TBT_SEL", modulo.TransReplicacaoReadOnly, "SELECT V10 FROM T WHERE ID = 1302");
        ASSERT_TRUE(sel.Abrir());
        EXPECT_TRUE(modulo.TransReplicacaoReadOnly.Ativa());
        modulo.Fechar();
        EXPECT_FALSE(modulo.ConexaoOperacao.Aberta());
    }
    Consulta v(*conexao_, *auto_, "SELECT V10 FROM T WHERE ID = 1302");
    ASSERT_TRUE(v.Abrir());
    EXPECT_EQ(v.Ler<std::string>("V10"), "bloco");
    v.Fechar();

    // An unreachable database: the error reaches the caller, nothing stays.
    std::ofstream(pasta.Caminho() / "korvin.ini") << "[Korvin]\nServidor=127.0.0.1\nCaminho=/nao/existe.fdb\n";
    EXPECT_THROW(TModuloOperacao{pasta.Pasta()}, ErroBanco);
}

}  // namespace
}  // namespace ondaris::db
