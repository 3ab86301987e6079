// Typed binding of received texts under the Brazilian regional settings
// (decimal ",", dd/mm/yyyy, hh:mm:ss): each text is bound by TratarParametro
// to a real statement, written by the server and read back, so the value
// checked is the one the column holds.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <string>

#include "db/vinculo.h"
#include "support/banco_teste.h"
#include "support/captura.h"

namespace ondaris::db {
using protocolo::Data;
using protocolo::DataHora;
using protocolo::Hora;
using protocolo::TConfiguracoesRegionais;
namespace {

using teste::BancoTeste;

const TConfiguracoesRegionais kBr = TConfiguracoesRegionais::Brasileiras();
constexpr int kAno = 2026;

class Vinculo : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        banco_ = std::make_unique<BancoTeste>(BancoTeste::Conteudo::Vazio);
        banco_->ExecutarSql(
            "CREATE TABLE TIPOS (ID INTEGER NOT NULL PRIMARY KEY,"
            " I INTEGER, S SMALLINT, B BIGINT,"
            " N182 NUMERIC(18,2), N189 NUMERIC(18,9), N92 NUMERIC(9,2), N154 NUMERIC(15,4),"
            " N96 NUMERIC(9,6), N42 NUMERIC(4,2), D186 DECIMAL(18,6),"
            " DP DOUBLE PRECISION, F FLOAT, BO BOOLEAN,"
            " D DATE, H TIME, TS TIMESTAMP,"
            " V VARCHAR(20), C CHAR(5), OC VARCHAR(10) CHARACTER SET OCTETS,"
            " U8 CHAR(10) CHARACTER SET UTF8, BT BLOB SUB_TYPE TEXT, BB BLOB SUB_TYPE BINARY);");
        conexao_ = std::make_unique<Conexao>(banco_->ParametrosSysdba());
        transacao_ = std::make_unique<Transacao>(*conexao_, "T", OpcoesTransacao::EscritaAutomatica());
    }
    static void TearDownTestSuite() {
        transacao_.reset();
        conexao_.reset();
        banco_.reset();
    }

    // Binds `texto` to column `coluna` through a parameter named in lower
    // case, writes it in a new row and reads the column back, both with
    // exact texts, as the statements of replicated rows have them.
    static Valor Gravar(const std::string& coluna, const std::string& texto) {
        const int id = ++id_;
        Consulta ui(*conexao_, *transacao_,
                    "UPDATE OR INSERT INTO TIPOS(ID, " + coluna + ") VALUES (:ID, :" + coluna + ")", "TBTIPOS_UI");
        ui.DefinirTextosExatos(true);
        TratarParametro(ui, "id", std::to_string(id), kBr, kAno);
        std::string minusculo = coluna;
        for (char& c : minusculo) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        TratarParametro(ui, minusculo, texto, kBr, kAno);
        ui.Executar();
        Consulta sel(*conexao_, *transacao_,
                     "SELECT " + coluna + ", " + coluna + " IS NULL FROM TIPOS WHERE ID = :ID");
        sel.DefinirTextosExatos(true);
        sel.Definir("ID", id);
        EXPECT_TRUE(sel.Abrir());
        Valor v = sel.Ler(std::size_t{0});
        // An empty text read back must not be NULL in the table.
        EXPECT_EQ(std::holds_alternative<std::monostate>(v), std::get<bool>(sel.Ler(std::size_t{1}))) << coluna;
        sel.Fechar();
        return v;
    }

    static inline std::unique_ptr<BancoTeste> banco_;
    static inline std::unique_ptr<Conexao> conexao_;
    static inline std::unique_ptr<Transacao> transacao_;
    static inline int id_ = 0;
};

Valor N(std::int64_t valor, int escala) { return Numerico{valor, escala}; }

TEST_F(Vinculo, PorTipoDoParametro) {
    struct Caso {
        const char* coluna;
        std::string texto;
        Valor esperado;
    };
    const Caso casos[] = {
        {"I", "42", std::int32_t{42}},
        {"I", " 42", std::int32_t{42}},
        {"I", "2147483647", std::int32_t{2147483647}},
        {"I", "-2147483648", std::numeric_limits<std::int32_t>::min()},
        {"I", "$FF", std::int32_t{255}},
        {"S", "-1", std::int16_t{-1}},
        {"S", "32767", std::int16_t{32767}},
        {"B", "9007199254740993", std::int64_t{9007199254740993}},
        {"B", "9223372036854775807", std::numeric_limits<std::int64_t>::max()},
        // NUMERIC(18,2): sixteen integer digits, kept exactly.
        {"N182", "12,5", N(1250, -2)},
        {"N182", "9999999999999999,99", N(999999999999999999, -2)},
        {"N182", "-9999999999999999,99", N(-999999999999999999, -2)},
        {"N182", "1E3", N(100000, -2)},
        // NUMERIC(18,9): nine decimals, eighteen digits, kept exactly.
        {"N189", "123456789,123456789", N(123456789123456789, -9)},
        {"N189", "-0,000000001", N(-1, -9)},
        {"N189", "999999999,999999999", N(999999999999999999, -9)},
        {"D186", "123456789012,345678", N(123456789012345678, -6)},
        {"N96", "1,234567", N(1234567, -6)},
        // The currency kind: four places first, then the column's scale.
        {"N92", "1,23456", N(123, -2)},
        {"N92", "21474836,47", N(2147483647, -2)},
        {"N42", "99,99", N(9999, -2)},
        {"N154", "12345678901,2345", N(123456789012345, -4)},
        {"N154", "0,00004", N(0, -4)},
        {"DP", "1,5", 1.5},
        {"DP", "1,7976931348623157E308", std::numeric_limits<double>::max()},
        {"DP", "-2,5E-300", -2.5e-300},
        {"F", "0,100000001490116", 0.1f},
        {"F", "-3,5", -3.5f},
        {"BO", "True", true},
        {"BO", "FALSE", false},
        {"D", "31/12/2023", Data{2023, 12, 31}},
        {"D", "29/02/2024", Data{2024, 2, 29}},
        {"H", "14:30:05", Hora{14, 30, 5, 0}},
        {"TS", "31/12/2023 14:30:00", DataHora{{2023, 12, 31}, {14, 30, 0, 0}}},
        {"TS", "31/12/2023", DataHora{{2023, 12, 31}, {0, 0, 0, 0}}},
        {"V", "null", std::string("null")},
        {"V", "S\xC3\xA3o Paulo", std::string("S\xC3\xA3o Paulo")},
        // An empty text is an empty text; a CHAR of blanks reads as one.
        {"V", "", std::string()},
        {"V", " ", std::string(" ")},
        {"V", "um\r\ndois\ntr\xC3\xAAs\r", std::string("um\r\ndois\ntr\xC3\xAAs\r")},
        {"V", std::string(20, 'x'), std::string(20, 'x')},
        {"V", std::string(10, 'x') + std::string(10, ' '), std::string(10, 'x') + std::string(10, ' ')},
        {"C", "ab   ", std::string("ab")},
        {"C", "", std::string()},
        {"C", "abcde     ", std::string("abcde")},  // a CHAR's trailing blanks are no part of it
        {"OC", "", Bytes{}},
        {"OC", "ABC", Bytes{'A', 'B', 'C'}},
        {"OC", "A\xC3\xA9\xC2\x80\xC3\xBF", Bytes{'A', 0xE9, 0x80, 0xFF}},
        // The connection speaks ISO8859_1: what that repertoire holds arrives.
        {"U8", "a\xC3\xA7\xC3\xA3o", std::string("a\xC3\xA7\xC3\xA3o")},
        {"BT", "linha \xC3\xA7", std::string("linha \xC3\xA7")},
        {"BT", "", std::string()},
        {"BB", "QUJD", Valor{}},  // binary: bound by the receiver, not here
    };
    for (const auto& c : casos) {
        SCOPED_TRACE(std::string(c.coluna) + " <- '" + c.texto + "'");
        const Valor lido = Gravar(c.coluna, c.texto);
        EXPECT_EQ(lido.index(), c.esperado.index()) << NomeTipoValor(lido) << " vs " << NomeTipoValor(c.esperado);
        EXPECT_TRUE(lido == c.esperado)
            << (std::holds_alternative<std::string>(lido) ? "[" + std::get<std::string>(lido) + "]" : std::string());
    }
}

// A text that does not stand for a value of its column is refused, never
// bound as something else (0, the low bits, "?" or NULL).
TEST_F(Vinculo, TextosIlegiveisOuForaDoTipoSaoErro) {
    struct Caso {
        const char* coluna;
        std::string texto;
        std::string mensagem;
    };
    const Caso casos[] = {
        {"I", "42 ", "'42 ' não é um valor inteiro válido"},
        {"I", "", "'' não é um valor inteiro válido"},
        {"I", "abc", "'abc' não é um valor inteiro válido"},
        {"I", "null", "'null' não é um valor inteiro válido"},
        {"I", "3000000000", "'3000000000' está fora do intervalo de INTEGER"},
        {"S", "70000", "'70000' está fora do intervalo de SMALLINT"},
        {"S", "-32769", "'-32769' está fora do intervalo de SMALLINT"},
        {"B", "9223372036854775808", "'9223372036854775808' não é um valor inteiro válido"},
        {"N182", "12.5", "'12.5' não é um valor decimal válido para NUMERIC(18,2)"},
        {"N182", "99999999999999999999,99", "'99999999999999999999,99' está fora do intervalo de NUMERIC(18,2)"},
        {"N154", "abc", "'abc' não é um valor decimal válido para NUMERIC(18,4)"},
        {"N92", "21474836,48", "não cabe no parâmetro N92"},  // beyond its 32-bit storage
        {"DP", "1.5", "'1.5' não é um número válido para DOUBLE PRECISION"},
        {"DP", "1E999", "'1E999' está fora do intervalo de DOUBLE PRECISION"},
        {"F", "1E39", "'1E39' está fora do intervalo de FLOAT"},
        {"BO", "talvez", "'talvez' não é um valor booleano válido"},
        {"D", "2023-12-31", "'2023-12-31' não é uma data válida"},
        {"D", "", "'' não é uma data válida"},
        {"D", "31/02/2023", "'31/02/2023' não é uma data válida"},
        {"H", "25:00:00", "'25:00:00' não é uma hora válida"},
        {"TS", "ontem", "'ontem' não é uma data e hora válida"},
        // U+FFFD is how the answer's decoder marks bytes its character set
        // does not allow.
        {"V", "a\xEF\xBF\xBD", "bytes que não são válidos no conjunto de caracteres da resposta"},
        {"V", "\xE2\x82\xAC 5", "um caractere que o conjunto de caracteres da coluna não comporta"},
        {"BT", "\xE2\x82\xAC", "um caractere que o conjunto de caracteres da coluna não comporta"},
        {"OC", "\xE2\x82\xAC", "um caractere que o conjunto de caracteres da coluna não comporta"},
        // Longer than the column: cut, it would be another value. Lengths
        // in characters (bytes for OCTETS).
        {"V", std::string(21, 'x'), "o texto tem 21 caracteres e a coluna (VARCHAR(20)) guarda no máximo 20 caracteres"},
        {"V", std::string(20, 'x') + " ", "o texto tem 21 caracteres"},
        {"V", "\xC3\xA7" + std::string(20, 'x'), "o texto tem 21 caracteres"},
        {"C", "abcdef", "o texto tem 6 caracteres e a coluna (CHAR(5)) guarda no máximo 5 caracteres"},
        {"U8", "\xC3\xA7\xC3\xA7\xC3\xA7\xC3\xA7\xC3\xA7\xC3\xA7\xC3\xA7\xC3\xA7\xC3\xA7\xC3\xA7\xC3\xA7",
         "o texto tem 11 caracteres e a coluna (CHAR(10)) guarda no máximo 10 caracteres"},
        {"OC", "\xC3\xA9" + std::string(10, 'x'), "o texto tem 11 bytes e a coluna (VARCHAR(10) CHARACTER SET OCTETS)"},
    };
    Consulta ui(*conexao_, *transacao_,
                "UPDATE OR INSERT INTO TIPOS(ID, I, S, B, N182, N154, N92, DP, F, BO, D, H, TS, V, C, U8, BT, OC) VALUES "
                "(:ID, :I, :S, :B, :N182, :N154, :N92, :DP, :F, :BO, :D, :H, :TS, :V, :C, :U8, :BT, :OC)");
    ui.DefinirTextosExatos(true);
    for (const auto& c : casos) {
        SCOPED_TRACE(std::string(c.coluna) + " <- '" + c.texto + "'");
        ui.Definir(c.coluna, Valor());
        const std::string falha =
            teste::TextoDaFalha<std::exception>([&] { TratarParametro(ui, c.coluna, c.texto, kBr, kAno); });
        EXPECT_NE(falha.find(c.mensagem), std::string::npos) << falha;
        // Nothing was bound in its place.
        const auto& parametros = ui.Parametros();
        for (std::size_t i = 0; i < parametros.size(); ++i)
            if (parametros[i].Nome == c.coluna) {
                EXPECT_TRUE(ui.ParametroNulo(i));
            }
    }
    EXPECT_THROW(TratarParametro(ui, "NAOHA", "1", kBr, kAno), ErroUso);
}

TEST(VinculoAcoes, StrtoTipoSQL) {
    EXPECT_EQ(StrtoTipoSQL("U"), TTipoSQL::tsUpdateInsert);
    EXPECT_EQ(StrtoTipoSQL("D"), TTipoSQL::tsDelete);
    EXPECT_EQ(StrtoTipoSQL("S"), TTipoSQL::tsSelect);
    for (const char* outro : {"u", "d", "", "X", "UU", " U"}) EXPECT_EQ(StrtoTipoSQL(outro), std::nullopt) << outro;
}

}  // namespace
}  // namespace ondaris::db
