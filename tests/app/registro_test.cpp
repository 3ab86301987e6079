// The log file's exact bytes.
#include "app/shell/registro.h"

#include "support/pasta_temporaria.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <sstream>
#include <vector>

using ondaris::shell::LinhaDeEntrada;
using ondaris::shell::TRegistro;
using ondaris::shell::TSeparadores;
using ondaris::teste::GravarBytes;
using ondaris::teste::LerBytes;
using ondaris::teste::PastaTemporaria;

namespace {

std::tm Momento(int dia, int mes, int ano, int h, int m, int s) {
    std::tm t{};
    t.tm_mday = dia;
    t.tm_mon = mes - 1;
    t.tm_year = ano - 1900;
    t.tm_hour = h;
    t.tm_min = m;
    t.tm_sec = s;
    return t;
}

const std::string Carimbo = "17/10/2022 14:05:09 - ";

class RegistroTest : public ::testing::Test {
protected:
    TRegistro Novo(std::ostream* reserva = nullptr) {
        return TRegistro(Pasta.Caminho(), [] { return Momento(17, 10, 2022, 14, 5, 9); },
                         TSeparadores{"/", ":"}, reserva);
    }
    std::filesystem::path Arquivo() const { return Pasta.Caminho() / "Ondaris.log"; }

    PastaTemporaria Pasta;
};

TEST_F(RegistroTest, EntriesIntoAMissingFileHaveTheirExactBytes) {
    struct Caso {
        const char* nome;
        std::vector<std::string> mensagens;
        std::string esperado;
    };
    const std::vector<Caso> casos = {
        {"first entry", {"M"}, "\r\n" + Carimbo + "M\r\n"},
        {"two entries", {"um", "dois"}, "\r\n" + Carimbo + "um\r\n\r\n" + Carimbo + "dois\r\n"},
        {"embedded line break", {"primeira\r\nsegunda"}, "\r\n" + Carimbo + "primeira\r\nsegunda\r\n"},
        {"empty message: the entry still says that something failed", {""},
         "\r\n" + Carimbo + ondaris::shell::TextoMensagemVazia + "\r\n"},
        {"UTF-8 text", {"Conexão recusada"}, "\r\n" + Carimbo + "Conexão recusada\r\n"},
    };
    for (const auto& caso : casos) {
        SCOPED_TRACE(caso.nome);
        std::filesystem::remove(Arquivo());
        TRegistro registro = Novo();
        for (const auto& m : caso.mensagens) {
            registro.DoSaveLog(m);
        }
        EXPECT_EQ(LerBytes(Arquivo()), caso.esperado);
    }
}

// What the database layer can only tell from a destructor is an entry of
// the same log while the log lives; then it goes where it went before.
TEST_F(RegistroTest, TheDatabaseLayersDiagnosticsAreEntriesWhileItLives) {
    std::vector<std::string> antes;
    const auto anterior = ondaris::db::DefinirDestinoDiagnostico([&](const std::string& t) { antes.push_back(t); });
    {
        TRegistro registro = Novo();
        ondaris::db::Diagnosticar("Falha ao fechar o comando TBPRECOS_UI: conexão perdida");
        EXPECT_EQ(LerBytes(Arquivo()), "\r\n" + Carimbo + "Falha ao fechar o comando TBPRECOS_UI: conexão perdida\r\n");
    }
    ondaris::db::Diagnosticar("depois");
    EXPECT_EQ(antes, std::vector<std::string>{"depois"});
    ondaris::db::DefinirDestinoDiagnostico(anterior);
}

TEST_F(RegistroTest, EarlierContentIsKeptAndAnOpenLastLineIsEnded) {
    struct Caso {
        const char* nome;
        std::string antes;
        std::string depois;
    };
    const std::string entrada = "\r\n" + Carimbo + "M\r\n";
    const std::vector<Caso> casos = {
        {"ended by CR LF", "\r\nantiga\r\n", "\r\nantiga\r\n" + entrada},
        {"last line open", "antiga", "antiga\r\n" + entrada},
        {"ended by LF only", "a\nb\n", "a\nb\n" + entrada},
        {"UTF-8 byte-order mark kept", "\xEF\xBB\xBF" "antiga\r\n", "\xEF\xBB\xBF" "antiga\r\n" + entrada},
        {"only a byte-order mark", "\xEF\xBB\xBF", "\xEF\xBB\xBF" + entrada},
    };
    for (const auto& caso : casos) {
        SCOPED_TRACE(caso.nome);
        GravarBytes(Arquivo(), caso.antes);
        Novo().DoSaveLog("M");
        EXPECT_EQ(LerBytes(Arquivo()), caso.depois);
    }
}

TEST_F(RegistroTest, AUtf16FileGetsItsEntriesInUtf16) {
    const std::string antes("\xFF\xFE" "a\0\r\0\n\0", 8);
    GravarBytes(Arquivo(), antes);
    Novo().DoSaveLog("é");
    std::string esperado = antes;
    for (char c : "\r\n" + Carimbo) {
        esperado += c;
        esperado += '\0';
    }
    esperado += std::string("\xE9\0\r\0\n\0", 6);
    EXPECT_EQ(LerBytes(Arquivo()), esperado);
}

#ifndef _WIN32  // file modes and a child process of another user
TEST_F(RegistroTest, AnUnreadableLogKeepsItsContentAndGetsBothEntries) {
    GravarBytes(Arquivo(), "antiga\r\n");
    ::chmod(Arquivo().c_str(), 0222);  // writable, not readable
    ::chmod(Pasta.Caminho().c_str(), 0777);

    // The super-user reads any file: write as an ordinary user instead.
    const pid_t filho = ::fork();
    ASSERT_GE(filho, 0);
    if (filho == 0) {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) {
            ::_exit(3);
        }
        std::ostringstream reserva;
        Novo(&reserva).DoSaveLog("M");
        ::_exit(reserva.str().empty() ? 0 : 4);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(filho, &status, 0), filho);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 0);

    ::chmod(Arquivo().c_str(), 0644);
    const std::string conteudo = LerBytes(Arquivo());
    const std::string falha = "antiga\r\n" + Carimbo + "Não foi possível ler o arquivo de log";
    EXPECT_EQ(conteudo.substr(0, falha.size()), falha);
    const std::string fim = "\r\n\r\n" + Carimbo + "M\r\n";
    ASSERT_GE(conteudo.size(), fim.size());
    EXPECT_EQ(conteudo.substr(conteudo.size() - fim.size()), fim);
}
#endif

TEST_F(RegistroTest, AnUnwritableLogSendsTheEntryToTheFallbackStream) {
    std::ostringstream reserva;
    TRegistro registro(Pasta.Caminho() / "no-such-folder",
                       [] { return Momento(17, 10, 2022, 14, 5, 9); }, TSeparadores{"/", ":"},
                       &reserva);
    registro.DoSaveLog("M");
    const std::string texto = reserva.str();
    EXPECT_EQ(texto.rfind(Carimbo + "M\n", 0), 0u) << texto;
    EXPECT_NE(texto.find("Não foi possível gravar o arquivo de log"), std::string::npos) << texto;
}

TEST(LinhaDeEntradaTest, UsesTheRegionalSeparatorsAndTwoDigitFields) {
    EXPECT_EQ(LinhaDeEntrada(Momento(1, 2, 2023, 3, 4, 5), TSeparadores{".", "."}, "x"),
              "01.02.2023 03.04.05 - x");
    EXPECT_EQ(LinhaDeEntrada(Momento(31, 12, 1999, 23, 59, 58), TSeparadores{"/", ":"}, ""),
              "31/12/1999 23:59:58 - ");
}

}  // namespace
