// ondarisd.exe as a Windows service, through the service control manager:
// installed with its command line, started, stopped on request after the
// step in progress, removed. (Under wine its service manager runs the
// service; the account and rights of a real Windows are not checked here.)
#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <string>
#include <thread>

#include "support/pasta_temporaria.h"
#include "app/shell/servico_win.h"
#include "processo_win.h"

namespace ondaris::teste {
namespace {

using namespace std::chrono_literals;

// Not the real service's name: a test never touches an installed agent.
const std::string kServicoTeste = "OndarisTeste";

// Removes the test service however the test ends.
struct ServicoInstalado {
    ServicoInstalado(const std::filesystem::path& programa) { shell::InstalarServico(kServicoTeste, programa); }
    ~ServicoInstalado() {
        try {
            if (shell::ConsultarServico(kServicoTeste)) shell::RemoverServico(kServicoTeste, 30s);
        } catch (const std::exception& e) {
            ADD_FAILURE() << e.what();
        }
    }
};

TEST(ServicoWindows, InstalledStartedStoppedAndRemovedThroughTheManager) {
    PastaTemporaria pasta;
    const auto programa = InstalarOndarisd(pasta.Caminho());
    // Left over from an earlier run that died half-way: start clean.
    if (shell::ConsultarServico(kServicoTeste)) shell::RemoverServico(kServicoTeste, 30s);
    {
        ServicoInstalado instalado(programa);
        EXPECT_THROW(shell::InstalarServico(kServicoTeste, programa), shell::ErroServicoWindows)
            << "installed twice";

        auto estado = shell::ConsultarServico(kServicoTeste);
        ASSERT_TRUE(estado);
        EXPECT_EQ(estado->Estado, static_cast<DWORD>(SERVICE_STOPPED));
        EXPECT_EQ(estado->Inicio, static_cast<DWORD>(SERVICE_AUTO_START));
        EXPECT_EQ(estado->Comando, L"\"" + programa.wstring() + L"\" --service");

        shell::IniciarServico(kServicoTeste, 60s);
        EXPECT_EQ(shell::ConsultarServico(kServicoTeste)->Estado, static_cast<DWORD>(SERVICE_RUNNING));
        // The agent runs: without a client library its start-up failure is
        // in the log beside the program, not in the manager's folder.
        const auto log = pasta.Caminho() / "Ondaris.log";
        for (int i = 0; i < 300 && LerBytes(log).find("fbclient.dll") == std::string::npos; ++i)
            std::this_thread::sleep_for(100ms);
        EXPECT_NE(LerBytes(log).find("fbclient.dll não pôde ser carregada"), std::string::npos) << LerBytes(log);

        shell::PararServico(kServicoTeste, 60s);
        estado = shell::ConsultarServico(kServicoTeste);
        EXPECT_EQ(estado->Estado, static_cast<DWORD>(SERVICE_STOPPED));
        EXPECT_EQ(estado->CodigoSaida, 0u) << "a requested stop is a clean end";

        shell::RemoverServico(kServicoTeste, 60s);
    }
    EXPECT_FALSE(shell::ConsultarServico(kServicoTeste));
    EXPECT_THROW(shell::IniciarServico(kServicoTeste, 1s), shell::ErroServicoWindows);
}

}  // namespace
}  // namespace ondaris::teste
