// What only the Windows build has: the regional settings from the user's
// Windows settings, the executable's folder, Unicode folders for the
// settings file and the log, local time, the version resource, and the
// Firebird client library loaded at run time.
#include <gtest/gtest.h>

#include <windows.h>

#include <firebird/Interface.h>

#include <ctime>
#include <string>
#include <tuple>

#include "app/shell/registro.h"
#include "app/shell/versao.h"
#include "db/fb.h"
#include "db/fbclient.h"
#include "db/ini.h"
#include "processo_win.h"
#include "protocolo/regional.h"
#include "protocolo/utf16_win.h"
#include "support/captura.h"
#include "support/pasta_temporaria.h"

namespace ondaris::teste {
using protocolo::TConfiguracoesRegionais;
using protocolo::TOrdemData;
namespace {

using protocolo::TConfiguracoesRegionais;
using protocolo::TOrdemData;

TEST(RegionalWindows, PicturesBecomeTheFormatsOfTheConversions) {
    struct Caso {
        const char* figura;
        const char* separador;
        const char* formato;
        const char* separadorLido;
        const char* exemplo;  // 7 March 2024 with that separator
    };
    const Caso datas[] = {
        {"dd/MM/yyyy", "/", "dd/mm/yyyy", "/", "07/03/2024"},
        {"M/d/yyyy", "/", "m/d/yyyy", "/", "3/7/2024"},
        {"dd.MM.yyyy", ".", "dd/mm/yyyy", ".", "07.03.2024"},
        {"yyyy-MM-dd", "-", "yyyy/mm/dd", "-", "2024-03-07"},
        {"d/M/yy", "/", "d/m/yy", "/", "7/3/2024"},  // the year always in full
        {"dd. MM. yyyy", ". ", "dd/mm/yyyy", ". ", "07. 03. 2024"},
        {"ddd dd/MM/yyyy", "/", " dd/mm/yyyy", "/", " 07/03/2024"},  // no day names in a numeric date
        {"dd/MM/yyyy g", "/", "dd/mm/yyyy ", "/", "07/03/2024 "},
        {"dd'h'MM/yyyy", "/", "dd\"h\"mm/yyyy", "/", "07h03/2024"},
        {"yyyy'/'MM'/'dd", "-", "yyyy\"/\"mm\"/\"dd", "", "2024/03/07"},
    };
    for (const auto& c : datas) {
        SCOPED_TRACE(c.figura);
        const auto r = protocolo::ConverterFormatoDataWindows(c.figura, c.separador);
        EXPECT_EQ(r.Formato, c.formato);
        EXPECT_EQ(r.Separador, c.separadorLido);
        TConfiguracoesRegionais regional;
        regional.FormatoDataCurta = r.Formato;
        regional.SeparadorData = r.Separador.empty() ? "/" : r.Separador;
        EXPECT_EQ(protocolo::FormatarDataCurta(protocolo::Data{2024, 3, 7}, regional), c.exemplo);
    }
    const Caso horas[] = {
        {"HH:mm:ss", ":", "hh:nn:ss", ":", "14:05:09"},
        {"h:mm:ss tt", ":", "h:nn:ss ampm", ":", "2:05:09 PM"},
        {"tt hh:mm:ss", ":", "ampm hh:nn:ss", ":", "PM 02:05:09"},
        {"HH.mm.ss", ".", "hh:nn:ss", ".", "14.05.09"},
        {"H:mm", ":", "h:nn", ":", "14:05"},
    };
    for (const auto& c : horas) {
        SCOPED_TRACE(c.figura);
        const auto r = protocolo::ConverterFormatoHoraWindows(c.figura, c.separador);
        EXPECT_EQ(r.Formato, c.formato);
        EXPECT_EQ(r.Separador, c.separadorLido);
        TConfiguracoesRegionais regional;
        regional.FormatoHoraLonga = r.Formato;
        regional.SeparadorHora = r.Separador;
        EXPECT_EQ(protocolo::FormatarHoraLonga(protocolo::Hora{14, 5, 9, 0}, regional), c.exemplo);
    }
}

TEST(RegionalWindows, LocalesGiveTheirOwnSettings) {
    struct Caso {
        const char* nome;
        const char* decimal;
        TOrdemData ordem;
        const char* separadorData;
        const char* data;  // empty: the picture differs between Windows versions
        const char* hora;
    };
    const Caso casos[] = {
        {"pt-BR", ",", TOrdemData::DiaMesAno, "/", "dd/mm/yyyy", "hh:nn:ss"},
        {"pt_BR.UTF-8", ",", TOrdemData::DiaMesAno, "/", "dd/mm/yyyy", "hh:nn:ss"},  // a Linux name
        {"en-US", ".", TOrdemData::MesDiaAno, "/", "m/d/yyyy", "h:nn:ss ampm"},
        {"de-DE", ",", TOrdemData::DiaMesAno, ".", "", ""},
        {"ja-JP", ".", TOrdemData::AnoMesDia, "/", "", ""},
        // Unknown: the settings of the C locale, as on Linux, never an error.
        {"xx-NAOEXISTE", ".", TOrdemData::MesDiaAno, "/", "mm/dd/yy", "hh:nn:ss"},
    };
    for (const auto& c : casos) {
        SCOPED_TRACE(c.nome);
        const auto r = TConfiguracoesRegionais::DoLocale(c.nome);
        EXPECT_EQ(r.SeparadorDecimal, c.decimal);
        EXPECT_EQ(r.OrdemData, c.ordem);
        EXPECT_EQ(r.SeparadorData, c.separadorData);
        if (*c.data) {
            EXPECT_EQ(r.FormatoDataCurta, c.data);
        }
        if (*c.hora) {
            EXPECT_EQ(r.FormatoHoraLonga, c.hora);
        }
    }
    EXPECT_EQ(TConfiguracoesRegionais::DoLocale("en-US").SimboloPM, "PM");
}

TEST(RegionalWindows, TheUsersSettingsAreTheDefault) {
    wchar_t nome[LOCALE_NAME_MAX_LENGTH] = {};
    ASSERT_GT(GetUserDefaultLocaleName(nome, LOCALE_NAME_MAX_LENGTH), 0);
    const auto usuario = TConfiguracoesRegionais::DoLocale(protocolo::Utf16ParaUtf8(nome));
    for (const auto& r : {TConfiguracoesRegionais::DoLocale(), TConfiguracoesRegionais::DoProcesso()}) {
        EXPECT_EQ(r.SeparadorDecimal, usuario.SeparadorDecimal);
        EXPECT_EQ(r.FormatoDataCurta, usuario.FormatoDataCurta);
        EXPECT_EQ(r.FormatoHoraLonga, usuario.FormatoHoraLonga);
    }
    // The log's separators are the same settings'.
    const auto separadores = shell::SeparadoresRegionais();
    EXPECT_EQ(separadores.Data, usuario.SeparadorData);
    EXPECT_EQ(separadores.Hora, usuario.SeparadorHora);
}

TEST(PastaWindows, TheExecutablesFolderEndsWithItsSeparator) {
    const std::string pasta = db::PastaExecutavel();
    ASSERT_FALSE(pasta.empty());
    EXPECT_EQ(pasta.back(), '\\');
    EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(std::u8string(pasta.begin(), pasta.end())) /
                                        "test_plataforma.exe"));
    EXPECT_EQ(shell::PastaExecutavel() / "", std::filesystem::path(std::u8string(pasta.begin(), pasta.end())));
}

TEST(PastaWindows, SettingsAndLogLiveInFoldersWithAccents) {
    PastaTemporaria raiz;
    const auto pasta = raiz.Caminho() / std::filesystem::path(u8"Loja São João");
    std::filesystem::create_directories(pasta);
    GravarBytes(pasta / "korvin.ini", "[Korvin]\r\nServidor=srv01\r\n");
    const std::u8string texto = (pasta / "").u8string();
    const std::string utf8(texto.begin(), texto.end());
    const auto cfg = db::LerConfiguracaoBanco(utf8);
    EXPECT_EQ(cfg.Servidor, "srv01");
    EXPECT_EQ(cfg.Caminho, utf8 + "KORVIN.FDB");

    shell::TRegistro registro(pasta, [] { return std::tm{}; }, shell::TSeparadores{"/", ":"});
    registro.DoSaveLog("Conexão recusada");
    EXPECT_EQ(LerBytes(pasta / "Ondaris.log"), "\r\n00/01/1900 00:00:00 - Conexão recusada\r\n");
}

TEST(HoraLocalWindows, IsTheMachinesLocalTime) {
    const auto momento = [](const SYSTEMTIME& s) {
        return std::tuple(s.wYear, s.wMonth, s.wDay, s.wHour, s.wMinute, s.wSecond);
    };
    SYSTEMTIME antes{}, depois{};
    GetLocalTime(&antes);
    const std::tm agora = shell::HoraLocal();
    GetLocalTime(&depois);
    const auto lido = std::tuple(static_cast<WORD>(agora.tm_year + 1900), static_cast<WORD>(agora.tm_mon + 1),
                                 static_cast<WORD>(agora.tm_mday), static_cast<WORD>(agora.tm_hour),
                                 static_cast<WORD>(agora.tm_min), static_cast<WORD>(agora.tm_sec));
    EXPECT_LE(momento(antes), lido);
    EXPECT_LE(lido, momento(depois));
}

TEST(VersaoWindows, OndarisdCarriesItsVersionResource) {
    PastaTemporaria pasta;
    const auto programa = InstalarOndarisd(pasta.Caminho());
    DWORD ignorado = 0;
    const DWORD tamanho = GetFileVersionInfoSizeW(programa.c_str(), &ignorado);
    ASSERT_GT(tamanho, 0u);
    std::vector<unsigned char> dados(tamanho);
    ASSERT_TRUE(GetFileVersionInfoW(programa.c_str(), 0, tamanho, dados.data()));
    wchar_t* nome = nullptr;
    UINT comprimento = 0;
    ASSERT_TRUE(VerQueryValueW(dados.data(), L"\\StringFileInfo\\041604E4\\InternalName",
                               reinterpret_cast<void**>(&nome), &comprimento));
    EXPECT_EQ(std::wstring(nome), L"ondarisd.exe");
    // The window title's version text.
    EXPECT_EQ(shell::VersaoPrograma(programa.string(), true), ONDARIS_VERSION);
    EXPECT_EQ(shell::VersaoPrograma(programa.string(), false), "1.0.0");
}

TEST(BibliotecaCliente, AMissingLibraryIsNamedWithEveryPlaceLookedAt) {
    // No fbclient.dll beside the test programs, none installed in wine.
    const std::string texto = teste::TextoDaFalha<db::ErroBibliotecaCliente>([] { db::CarregarMestreFbclient(); });
    EXPECT_NE(texto.find("fbclient.dll não pôde ser carregada"), std::string::npos) << texto;
    EXPECT_NE(texto.find(db::PastaExecutavel() + "fbclient.dll"), std::string::npos) << texto;
    EXPECT_NE(texto.find("Firebird_3_0\\fbclient.dll"), std::string::npos) << texto;
    // Every database call meets the same failure, not a crash.
    EXPECT_THROW(db::fb::Mestre(), db::ErroBibliotecaCliente);
}

TEST(BibliotecaCliente, SqlStateComesFromTheStatusVector) {
    const char* estado = "42000";
    const char* texto = "abc";
    const std::intptr_t comEstado[] = {isc_arg_gds, 335544569, isc_arg_cstring, 3,
                                       reinterpret_cast<std::intptr_t>(texto), isc_arg_sql_state,
                                       reinterpret_cast<std::intptr_t>(estado), isc_arg_end};
    EXPECT_EQ(db::SqlStateDoStatus(comEstado), "42000");
    const std::intptr_t semEstado[] = {isc_arg_gds, 335544569, isc_arg_number, 7, isc_arg_end};
    EXPECT_EQ(db::SqlStateDoStatus(semEstado), "");
}

TEST(OndarisdWindows, AClientLibraryThatCannotLoadIsNamedWithItsReason) {
    PastaTemporaria pasta;
    const auto programa = InstalarOndarisd(pasta.Caminho());
    GravarBytes(pasta.Caminho() / "fbclient.dll", "not a library");
    const auto r = ExecutarPrograma(programa, L"--once", pasta.Caminho(), std::chrono::seconds(60));
    ASSERT_TRUE(r.Terminou);
    EXPECT_EQ(r.Status, 1u) << r.Erros;
    const std::string log = LerBytes(pasta.Caminho() / "Ondaris.log");
    // One entry: an empty line, then the time stamp and the message.
    ASSERT_EQ(log.rfind("\r\n", 0), 0u) << log;
    EXPECT_EQ(log.find("\r\n", 2), log.size() - 2) << log;
    const std::string beside = (pasta.Caminho() / "fbclient.dll").string() + ": ";
    EXPECT_NE(log.find("fbclient.dll não pôde ser carregada"), std::string::npos) << log;
    EXPECT_NE(log.find(beside), std::string::npos) << log;
    EXPECT_EQ(r.Saida.find("Todos os dados"), std::string::npos) << r.Saida;
}

TEST(OndarisdWindows, TheServiceOptionOutsideTheServiceManagerIsRefused) {
    PastaTemporaria pasta;
    const auto programa = InstalarOndarisd(pasta.Caminho());
    const auto r = ExecutarPrograma(programa, L"--service", pasta.Caminho(), std::chrono::seconds(60));
    ASSERT_TRUE(r.Terminou);
    EXPECT_EQ(r.Status, 1u);
    EXPECT_NE(r.Erros.find("--service"), std::string::npos) << r.Erros;
    EXPECT_FALSE(std::filesystem::exists(pasta.Caminho() / "Ondaris.log")) << "no cycle ran";
}

}  // namespace
}  // namespace ondaris::teste
