// The Win32 status window under wine, driven through its messages: its
// texts and menu, restore and hide, the password refused and accepted, the
// panels and the busy pointer following a scripted cycle on the worker
// thread, a failed run in the log, and the real Ondaris.exe ending with
// the session.
#include <windows.h>

#include "app/shell/calculos.h"
#include "app/shell/janela.h"
#include "app/shell/registro.h"
#include "app/shell/verificacao.h"
#include "app/win/arte_win.h"
#include "app/win/janela_win.h"
#include "app/win/senha_win.h"
#include "janela/operacoes_roteiro.h"
#include "janela/tela_win.h"
#include "support/pasta_temporaria.h"
#include "sync/ciclo.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace ondaris;
using namespace std::chrono_literals;
using teste::EsperarAteWin;
using teste::JanelaVisivel;

std::size_t Indice(shell::TComandoJanela comando) {
    for (std::size_t i = 0; i < shell::MenuBandeja.size(); ++i)
        if (shell::MenuBandeja[i].Comando == comando) return i;
    throw std::logic_error("comando fora do menu");
}

// The menu's item, as the tray menu sends it.
void Escolher(HWND janela, shell::TComandoJanela comando) {
    SendMessageW(janela, WM_COMMAND, MAKEWPARAM(win::IdMenuBase + Indice(comando), 0), 0);
}

POINT Posicao(HWND janela) {
    RECT r{};
    GetWindowRect(janela, &r);
    return {r.left, r.top};
}

class JanelaWin : public ::testing::Test {
protected:
    static void SetUpTestSuite() { GdiPlus_ = new win::TGdiPlus; }
    static void TearDownTestSuite() {
        delete GdiPlus_;
        GdiPlus_ = nullptr;
    }

    // A window over scripted operations; `preparar` sets them up before
    // the worker can call them.
    std::unique_ptr<win::TFrmPrincipalWin> NovaJanela(
        const std::function<void(teste::OperacoesRoteiro&)>& preparar = {}) {
        return std::make_unique<win::TFrmPrincipalWin>(
            [this, preparar](sync::IJanelaStatus&) {
                auto o = std::make_unique<teste::OperacoesRoteiro>();
                if (preparar) preparar(*o);
                Operacoes = o.get();
                return o;
            },
            Registro);
    }

    // Runs the thread's loop until WM_QUIT arrives; false at the limit.
    static bool EsperarFim(std::chrono::milliseconds limite) {
        const auto fim = std::chrono::steady_clock::now() + limite;
        MSG msg;
        for (;;) {
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
                if (msg.message == WM_QUIT) return true;
                TranslateMessage(&msg);
                DispatchMessageW(&msg);
            }
            if (std::chrono::steady_clock::now() > fim) return false;
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        }
    }

    teste::PastaTemporaria Pasta;
    shell::TRegistro Registro{Pasta.Caminho()};
    teste::OperacoesRoteiro* Operacoes = nullptr;
    static inline win::TGdiPlus* GdiPlus_ = nullptr;
};

TEST_F(JanelaWin, StartsHiddenWithTheTextsAndMenuOfTheLinuxWindow) {
    auto janela = NovaJanela();
    const HWND h = janela->Janela();
    EXPECT_FALSE(IsWindowVisible(h));
    wchar_t classe[64] = {};
    GetClassNameW(h, classe, 64);
    EXPECT_STREQ(classe, win::ClasseJanela);
    EXPECT_EQ(teste::TextoJanela(h), L"Ondaris Tavix System");
    // Borderless and top-most, 516 x 284.
    EXPECT_EQ(GetWindowLongW(h, GWL_STYLE) & (WS_CAPTION | WS_THICKFRAME), 0);
    EXPECT_NE(GetWindowLongW(h, GWL_EXSTYLE) & WS_EX_TOPMOST, 0);
    RECT r{};
    GetWindowRect(h, &r);
    EXPECT_EQ(r.right - r.left, 516);
    EXPECT_EQ(r.bottom - r.top, 284);

    const shell::TTextosJanela& textos = janela->TextosMostrados();
    EXPECT_EQ(textos.Titulo, "Ondaris Tavix System - Versão 1.0.0");
    EXPECT_EQ(textos.Recebimento, "Status do Recebimento de Dados");
    EXPECT_EQ(textos.Envio, "Status do Envio de Dados");
    EXPECT_EQ(textos.Cronometro, "0:00");

    std::vector<std::wstring> itens;
    for (int i = 0; i < GetMenuItemCount(janela->Menu()); ++i) {
        wchar_t texto[64] = {};
        GetMenuStringW(janela->Menu(), static_cast<UINT>(i), texto, 64, MF_BYPOSITION);
        itens.emplace_back(texto);
    }
    EXPECT_EQ(itens, (std::vector<std::wstring>{L"Restaurar Aplicação", L"Ocultar Aplicação",
                                                 L"Verificar Instalação", L"Fechar Aplicação"}));
    EXPECT_TRUE(janela->IconeNaBandeja());
}

TEST_F(JanelaWin, RestoreOnlyPlacesAWindowThatWasHiddenAndEveryHideHidesIt) {
    auto janela = NovaJanela();
    const HWND h = janela->Janela();
    const shell::TPonto canto = shell::PosicaoJanela(janela->Tela(), janela->AreaDisponivel(), 516, 284);

    Escolher(h, shell::TComandoJanela::cjRestaurar);
    EXPECT_TRUE(IsWindowVisible(h));
    EXPECT_EQ(Posicao(h).x, canto.X);
    EXPECT_EQ(Posicao(h).y, canto.Y);

    SetWindowPos(h, nullptr, 10, 20, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    Escolher(h, shell::TComandoJanela::cjRestaurar);
    EXPECT_EQ(Posicao(h).x, 10) << "an already shown window stays where it is";
    EXPECT_EQ(Posicao(h).y, 20);

    // Each way of hiding: the menu, the "-" label, the system's minimise.
    const std::vector<std::pair<const char*, std::function<void()>>> ocultar = {
        {"menu", [&] { Escolher(h, shell::TComandoJanela::cjOcultar); }},
        {"label", [&] { SendMessageW(h, WM_LBUTTONUP, 0, MAKELPARAM(458, 20)); }},
        {"system minimise", [&] { SendMessageW(h, WM_SYSCOMMAND, SC_MINIMIZE, 0); }},
    };
    for (const auto& [nome, acao] : ocultar) {
        SCOPED_TRACE(nome);
        SetWindowPos(h, nullptr, 10, 20, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        acao();
        EXPECT_TRUE(EsperarAteWin([&] { return !IsWindowVisible(h); }, 5s));
        Escolher(h, shell::TComandoJanela::cjRestaurar);
        EXPECT_TRUE(IsWindowVisible(h));
        EXPECT_FALSE(IsIconic(h));
        EXPECT_EQ(Posicao(h).x, canto.X) << "a hidden window is placed anew";
        EXPECT_EQ(Posicao(h).y, canto.Y);
    }
}

TEST(AreaSemBarraTest, OnlyABarAtTheBottomOrRightTakesItsThickness) {
    const shell::TRetangulo tela{0, 0, 1920, 1080};
    struct Caso {
        const char* nome;
        shell::TRetangulo barra, area;
    };
    const Caso casos[] = {
        {"bottom", {0, 1040, 1920, 40}, {0, 0, 1920, 1040}},
        {"right", {1860, 0, 60, 1080}, {0, 0, 1860, 1080}},
        {"top", {0, 0, 1920, 30}, tela},
        {"left", {0, 0, 60, 1080}, tela},
        {"no size", {0, 0, 0, 0}, tela},
    };
    for (const auto& c : casos) {
        SCOPED_TRACE(c.nome);
        const shell::TRetangulo a = shell::AreaSemBarra(tela, c.barra);
        EXPECT_EQ(a.Esquerda, c.area.Esquerda);
        EXPECT_EQ(a.Topo, c.area.Topo);
        EXPECT_EQ(a.Largura, c.area.Largura);
        EXPECT_EQ(a.Altura, c.area.Altura);
    }
    // A 40-pixel bar at the bottom of 1920 x 1080 places the window at 1404, 756.
    EXPECT_EQ(shell::PosicaoJanela(tela, shell::AreaSemBarra(tela, {0, 1040, 1920, 40}), 516, 284),
              (shell::TPonto{1404, 756}));
}

// Answers the dialogs the close command opens, from a timer of the window's
// own thread (the dialogs run modal loops on it): types each attempt and
// confirms it, or cancels when the attempt is empty; presses OK on every
// message box, noting its text, and chooses "Fechar" again after it.
class Respondedor {
public:
    Respondedor(HWND janela, std::vector<std::wstring> tentativas)
        : Janela_(janela), Tentativas_(std::move(tentativas)) {
        Atual_ = this;
        Timer_ = SetTimer(nullptr, 0, 20, &Respondedor::Tique);
    }
    ~Respondedor() {
        KillTimer(nullptr, Timer_);
        Atual_ = nullptr;
    }
    std::vector<std::wstring> Mensagens;
    std::size_t Respondidas = 0;

private:
    static void CALLBACK Tique(HWND, UINT, UINT_PTR, DWORD) {
        if (Atual_ != nullptr) Atual_->Responder();
    }
    void Responder() {
        const DWORD eu = GetCurrentThreadId();
        if (HWND caixa = JanelaVisivel(L"#32770", eu)) {
            Mensagens.push_back(teste::TextoMensagem(caixa));
            SendMessageW(caixa, WM_COMMAND, IDOK, 0);
            // The user chooses the command again.
            PostMessageW(Janela_, win::WM_ONDARIS_COMANDO, Indice(shell::TComandoJanela::cjFechar), 0);
            return;
        }
        HWND dialogo = JanelaVisivel(win::ClasseSenha, eu);
        if (dialogo == nullptr || Respondidas >= Tentativas_.size()) return;
        const std::wstring& tentativa = Tentativas_[Respondidas++];
        if (tentativa.empty()) {
            // Esc, as the user presses it in the field.
            PostMessageW(GetDlgItem(dialogo, win::IdCampoSenha), WM_KEYDOWN, VK_ESCAPE, 0);
            return;
        }
        SetWindowTextW(GetDlgItem(dialogo, win::IdCampoSenha), tentativa.c_str());
        SendMessageW(GetDlgItem(dialogo, IDOK), BM_CLICK, 0, 0);
    }

    HWND Janela_;
    std::vector<std::wstring> Tentativas_;
    UINT_PTR Timer_ = 0;
    static inline Respondedor* Atual_ = nullptr;
};

TEST_F(JanelaWin, CancelOrAWrongPasswordLeavesTheProgramRunningTheRightOneEndsIt) {
    auto janela = NovaJanela();
    const HWND h = janela->Janela();
    {
        // Asked by the title's "X", cancelled with Esc: nothing shown, the
        // program goes on.
        Respondedor respondedor(h, {L""});
        SendMessageW(h, WM_LBUTTONUP, 0, MAKELPARAM(490, 20));
        EXPECT_EQ(respondedor.Respondidas, 1u);
        EXPECT_TRUE(respondedor.Mensagens.empty());
        EXPECT_TRUE(IsWindow(h));
        EXPECT_FALSE(janela->Encerrando());
    }
    {
        // A wrong password shows the message, the user tries again, and
        // the word in capitals ends the program.
        Respondedor respondedor(h, {L"errada", L"QUENBY"});
        Escolher(h, shell::TComandoJanela::cjFechar);
        ASSERT_TRUE(EsperarFim(20s));
        EXPECT_EQ(respondedor.Respondidas, 2u);
        EXPECT_EQ(respondedor.Mensagens, std::vector<std::wstring>{L"Senha Incorreta!!!"});
        EXPECT_TRUE(janela->Encerrando());
        EXPECT_FALSE(IsWindow(h)) << "the window goes once the worker has ended";
        EXPECT_FALSE(janela->IconeNaBandeja());
    }
}

TEST_F(JanelaWin, ThePanelsAndTheBusyPointerFollowARunOnTheWorker) {
    // The run is held while it sends its first block, so that the window
    // can be seen to stay responsive and to show the block and the busy
    // pointer meanwhile.
    std::mutex m;
    std::condition_variable cv;
    bool segurando = false, soltar = false;
    const auto inicio = std::chrono::steady_clock::now();
    std::atomic<long long> primeiraChamada{-1};
    auto janela = NovaJanela([&](teste::OperacoesRoteiro& o) {
        o.Loja = 2500;
        o.Servidor = 0;
        o.AoChamar = [&](const std::string& operacao) {
            long long nenhuma = -1;
            primeiraChamada.compare_exchange_strong(
                nenhuma, std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - inicio)
                             .count());
            if (operacao != "enviar") return;
            std::unique_lock trava(m);
            if (soltar) return;
            segurando = true;
            cv.notify_all();
            cv.wait(trava, [&] { return soltar; });
        };
    });
    const HWND h = janela->Janela();
    Escolher(h, shell::TComandoJanela::cjRestaurar);

    ASSERT_TRUE(EsperarAteWin([&] { return janela->TextosMostrados().Envio == "Enviando bloco de registros a partir de 0"; },
                              20s));
    EXPECT_GE(primeiraChamada.load(), 1000) << "the first run comes a second after start";
    EXPECT_EQ(janela->TextosMostrados().Recebimento, sync::TextoRecebimentoConcluido);
    ASSERT_TRUE(EsperarAteWin([&] { return janela->OcupadoMostrado(); }, 5s)) << "statements are running";
    {
        std::lock_guard trava(m);
        EXPECT_TRUE(segurando);
    }
    // Held in the middle of a run, the window still answers at once.
    DWORD_PTR resposta = 0;
    EXPECT_NE(SendMessageTimeoutW(h, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 2000, &resposta), 0);
    Escolher(h, shell::TComandoJanela::cjOcultar);
    EXPECT_FALSE(IsWindowVisible(h));
    Escolher(h, shell::TComandoJanela::cjRestaurar);
    // The self-check is refused while the run goes on.
    EXPECT_EQ(janela->Modelo().VerificarInstalacao().Texto, shell::TextoVerificacaoDuranteSincronizacao);
    {
        std::lock_guard trava(m);
        soltar = true;
    }
    cv.notify_all();

    // The other two blocks go, then the countdown begins a second later.
    ASSERT_TRUE(EsperarAteWin([&] { return janela->TextosMostrados().Cronometro == "02:00"; }, 30s));
    EXPECT_EQ(janela->TextosMostrados().Envio, sync::TextoEnvioConcluido);
    EXPECT_EQ(Operacoes->Blocos.load(), 3);
    EXPECT_EQ(Operacoes->Servidor.load(), 2500);
    EXPECT_FALSE(janela->OcupadoMostrado());
    ASSERT_TRUE(EsperarAteWin([&] { return janela->TextosMostrados().Cronometro == "01:59"; }, 10s));
    EXPECT_FALSE(std::filesystem::exists(Registro.Arquivo())) << "a clean run writes no log entry";
}

TEST_F(JanelaWin, AFailedRunIsLoggedAndShownOnItsPanelAndTheCountdownStillComes) {
    auto janela = NovaJanela([](teste::OperacoesRoteiro& o) {
        o.AoChamar = [](const std::string& operacao) {
            if (operacao == "estrutura") throw std::runtime_error("servidor central fora do ar");
        };
    });
    ASSERT_TRUE(EsperarAteWin([&] { return std::filesystem::exists(Registro.Arquivo()); }, 20s));
    ASSERT_TRUE(EsperarAteWin([&] { return janela->TextosMostrados().Recebimento == "servidor central fora do ar"; }, 5s));
    EXPECT_TRUE(std::regex_search(teste::LerBytes(Registro.Arquivo()),
                                  std::regex("^\r\n\\d\\d/\\d\\d/\\d{4} \\d\\d:\\d\\d:\\d\\d - servidor central fora do ar\r\n$")))
        << teste::LerBytes(Registro.Arquivo());
    ASSERT_TRUE(EsperarAteWin([&] { return janela->TextosMostrados().Cronometro == "02:00"; }, 10s));
}

TEST_F(JanelaWin, TheInstallationCheckRunsAsideAndShowsItsLinesInAMessageBox) {
    auto janela = NovaJanela();
    const HWND h = janela->Janela();
    // The box runs a modal loop on this thread: a timer of the thread reads
    // it and presses OK.
    static std::wstring lida;
    lida.clear();
    const UINT_PTR timer = SetTimer(nullptr, 0, 20, [](HWND, UINT, UINT_PTR, DWORD) {
        if (HWND caixa = JanelaVisivel(L"#32770", GetCurrentThreadId()); caixa && lida.empty()) {
            lida = teste::TextoMensagem(caixa);
            PostMessageW(caixa, WM_COMMAND, IDOK, 0);
        }
    });
    // The menu returns at once; the box shows the lines "ondarisd
    // --verificar" writes for this folder (here it stops at the missing
    // client library), with CR LF between them.
    Escolher(h, shell::TComandoJanela::cjVerificarInstalacao);
    const bool mostrada = EsperarAteWin([&] { return !lida.empty(); }, 30s);
    KillTimer(nullptr, timer);
    ASSERT_TRUE(mostrada);
    shell::TOpcoesVerificacao opcoes;
    opcoes.Regional = shell::TRegionalEmVigor::DoAmbiente();
    std::ostringstream saida;
    EXPECT_NE(shell::ExecutarVerificacao(opcoes, saida), 0);
    std::wstring esperada;
    for (wchar_t c : win::Largo(saida.str())) {
        if (c == L'\n') esperada += L'\r';
        esperada += c;
    }
    // Whether the box keeps the last line end is the system's matter.
    auto semFinal = [](std::wstring t) {
        while (!t.empty() && (t.back() == L'\n' || t.back() == L'\r')) t.pop_back();
        return win::Utf8(t);
    };
    EXPECT_EQ(semFinal(lida), semFinal(esperada));
    EXPECT_EQ(lida.rfind(L"FALHA  ", 0), 0u);
    EXPECT_TRUE(EsperarAteWin([&] { return JanelaVisivel(L"#32770", GetCurrentThreadId()) == nullptr; }, 10s));
    EXPECT_TRUE(IsWindow(h));
}

// Ondaris.exe of this build, copied into `pasta` as a store would install it.
std::filesystem::path InstalarOndaris(const std::filesystem::path& pasta) {
    wchar_t proprio[MAX_PATH * 4] = {};
    GetModuleFileNameW(nullptr, proprio, MAX_PATH * 4);
    const auto origem = std::filesystem::path(proprio).parent_path().parent_path() / "app" / "Ondaris.exe";
    const auto destino = pasta / "Ondaris.exe";
    std::filesystem::copy_file(origem, destino, std::filesystem::copy_options::overwrite_existing);
    return destino;
}

TEST(OndarisExe, StartsWithoutTheClientLibraryAndEndsWithTheSessionWithoutBeingAsked) {
    teste::PastaTemporaria pasta;
    const auto programa = InstalarOndaris(pasta.Caminho());
    STARTUPINFOW inicio{};
    inicio.cb = sizeof inicio;
    // On the suite's desktop (area_de_trabalho.cpp), where this thread
    // looks for its windows.
    wchar_t area[64] = {};
    GetUserObjectInformationW(GetThreadDesktop(GetCurrentThreadId()), UOI_NAME, area, sizeof area, nullptr);
    inicio.lpDesktop = area;
    PROCESS_INFORMATION processo{};
    std::wstring linha = L"\"" + programa.wstring() + L"\"";
    ASSERT_TRUE(CreateProcessW(programa.c_str(), linha.data(), nullptr, nullptr, FALSE, 0, nullptr,
                               pasta.Caminho().c_str(), &inicio, &processo));
    struct Fim {
        PROCESS_INFORMATION& p;
        ~Fim() {
            if (WaitForSingleObject(p.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(p.hProcess, 255);
            CloseHandle(p.hThread);
            CloseHandle(p.hProcess);
        }
    } fim{processo};

    // Opening the store fails before the window exists: a message box says
    // why, and start-up goes on when it is closed.
    HWND caixa = nullptr;
    ASSERT_TRUE(EsperarAteWin([&] { return (caixa = JanelaVisivel(L"#32770", 0, processo.dwProcessId)) != nullptr; },
                              30s, false));
    EXPECT_NE(teste::TextoMensagem(caixa).find(L"fbclient.dll"), std::wstring::npos) << teste::TextoJanela(caixa);
    EXPECT_EQ(teste::TextoJanela(caixa), L"Ondaris");
    PostMessageW(caixa, WM_COMMAND, IDOK, 0);

    // The window exists, hidden, and its first run's failure reaches the log.
    HWND janela = nullptr;
    ASSERT_TRUE(EsperarAteWin(
        [&] {
            janela = JanelaVisivel(win::ClasseJanela, 0, processo.dwProcessId, false);
            return janela != nullptr;
        },
        30s, false));
    const auto log = pasta.Caminho() / "Ondaris.log";
    ASSERT_TRUE(EsperarAteWin([&] { return std::filesystem::exists(log); }, 30s, false));
    EXPECT_NE(teste::LerBytes(log).find("fbclient.dll"), std::string::npos) << teste::LerBytes(log);

    // The session ends: asked, the program never objects; told, it ends by itself.
    DWORD_PTR resposta = 0;
    ASSERT_NE(SendMessageTimeoutW(janela, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_ABORTIFHUNG, 5000, &resposta), 0);
    EXPECT_EQ(resposta, TRUE);
    SendMessageTimeoutW(janela, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF, SMTO_ABORTIFHUNG, 10000, &resposta);
    ASSERT_EQ(WaitForSingleObject(processo.hProcess, 15000), WAIT_OBJECT_0);
    DWORD status = 99;
    GetExitCodeProcess(processo.hProcess, &status);
    EXPECT_EQ(status, 0u);
}

}  // namespace
