#include "app/win/janela_win.h"

#include "app/shell/calculos.h"
#include "app/shell/janela.h"
#include "app/shell/ligacao.h"
#include "app/shell/registro.h"
#include "app/win/arte_win.h"
#include "app/win/senha_win.h"
#include "db/processo.h"
#include "protocolo/utf16_win.h"

#include <shellapi.h>

#include <algorithm>
#include <cwchar>
#include <stdexcept>

namespace ondaris::win {

namespace lay = shell::layout;

std::wstring Largo(const std::string& utf8) { return protocolo::Utf8ParaUtf16(utf8); }

std::string Utf8(const std::wstring& largo) { return protocolo::Utf16ParaUtf8(largo); }

std::string CaminhoExecutavel() { return protocolo::Utf16ParaUtf8(db::CaminhoExecutavel()); }

std::wstring TituloDaAplicacao() {
    return Largo(shell::TituloAplicacao(CaminhoExecutavel()));
}

namespace {

// How long a session that ends waits for the run in progress: Windows
// counts a program that does not answer within a few seconds as hung.
constexpr DWORD EsperaFimDeSessao = 2000;

RECT Rect(const shell::TRetangulo& r) {
    return {r.Esquerda, r.Topo, r.Esquerda + r.Largura, r.Topo + r.Altura};
}

RECT Deslocado(const shell::TRetangulo& r, const shell::TRetangulo& pai) {
    RECT x = Rect(r);
    OffsetRect(&x, pai.Esquerda, pai.Topo);
    return x;
}

HFONT ArialNegrito(int pixels) {
    // A negative height is the character height, as the layout gives it.
    return CreateFontW(-pixels, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                       CLIP_DEFAULT_PRECIS, ANTIALIASED_QUALITY, DEFAULT_PITCH | FF_SWISS, L"Arial");
}

void Texto(HDC dc, HFONT fonte, COLORREF cor, const std::wstring& texto, RECT caixa, UINT formato) {
    const HGDIOBJ anterior = SelectObject(dc, fonte);
    SetTextColor(dc, cor);
    SetBkMode(dc, TRANSPARENT);
    DrawTextW(dc, texto.c_str(), static_cast<int>(texto.size()), &caixa, formato | DT_NOPREFIX);
    SelectObject(dc, anterior);
}

void Preencher(HDC dc, const RECT& caixa, COLORREF cor) {
    SetDCBrushColor(dc, cor);
    FillRect(dc, &caixa, static_cast<HBRUSH>(GetStockObject(DC_BRUSH)));
}

// `largura` lines, one per pixel: top and left in the first colour, bottom
// and right in the second; the rectangle shrinks by each.
void Bevel(HDC dc, RECT& r, int largura, COLORREF alto, COLORREF baixo) {
    for (int i = 0; i < largura; ++i) {
        Preencher(dc, {r.left, r.top, r.right, r.top + 1}, alto);
        Preencher(dc, {r.left, r.top, r.left + 1, r.bottom}, alto);
        Preencher(dc, {r.left, r.bottom - 1, r.right, r.bottom}, baixo);
        Preencher(dc, {r.right - 1, r.top, r.right, r.bottom}, baixo);
        InflateRect(&r, -1, -1);
    }
}

}  // namespace

TFrmPrincipalWin::TFrmPrincipalWin(shell::TLigacao& ligacao, shell::TRegistro& registro) {
    Criar([&ligacao](sync::IJanelaStatus& janela) { return ligacao.CriarOperacoes(janela); }, registro);
}

TFrmPrincipalWin::TFrmPrincipalWin(const shell::TJanela::TCriarOperacoes& criarOperacoes,
                                   shell::TRegistro& registro) {
    Criar(criarOperacoes, registro);
}

void TFrmPrincipalWin::Criar(const shell::TJanela::TCriarOperacoes& criarOperacoes, shell::TRegistro& registro) {
    HINSTANCE instancia = GetModuleHandleW(nullptr);
    const int ladoPequeno = GetSystemMetrics(SM_CXSMICON);
    Icone_ = DesenharIconeBandeja(32);
    IconePequeno_ = DesenharIconeBandeja(ladoPequeno > 0 ? ladoPequeno : 16);
    Ilustracao_ = DesenharIlustracao();
    FonteTitulo_ = ArialNegrito(lay::FontePnTitulo);
    FonteMinimizar_ = ArialNegrito(lay::FonteLblMinimizar);
    FonteFechar_ = ArialNegrito(lay::FonteLblFechar);
    FonteLabel1_ = ArialNegrito(lay::FonteLabel1);
    FonteCronometro_ = ArialNegrito(lay::FonteLblCronometro);
    FontePainel_ = ArialNegrito(lay::FontePnStatus);

    WNDCLASSEXW classe{};
    if (!GetClassInfoExW(instancia, ClasseJanela, &classe)) {
        classe.cbSize = sizeof classe;
        classe.lpfnWndProc = &TFrmPrincipalWin::ProcJanela;
        classe.hInstance = instancia;
        classe.hCursor = nullptr;  // WM_SETCURSOR chooses
        classe.hbrBackground = nullptr;
        classe.lpszClassName = ClasseJanela;
        RegisterClassExW(&classe);
    }
    // Borderless, top-most, with a taskbar button of its own while shown;
    // the system menu and minimise box let the taskbar button minimise it.
    Janela_ = CreateWindowExW(WS_EX_TOPMOST | WS_EX_APPWINDOW, ClasseJanela, Largo(shell::CaptionJanela).c_str(),
                              WS_POPUP | WS_SYSMENU | WS_MINIMIZEBOX, 0, 0, lay::Largura, lay::Altura, nullptr,
                              nullptr, instancia, this);
    if (Janela_ == nullptr) throw std::runtime_error("a janela principal não pôde ser criada");
    SendMessageW(Janela_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(Icone_));
    SendMessageW(Janela_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(IconePequeno_));

    Menu_ = CreatePopupMenu();
    for (std::size_t i = 0; i < shell::MenuBandeja.size(); ++i) {
        AppendMenuW(Menu_, MF_STRING, IdMenuBase + i, Largo(shell::MenuBandeja[i].Texto).c_str());
    }
    MensagemBarraCriada_ = RegisterWindowMessageW(L"TaskbarCreated");

    Parar_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    Terminou_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    Modelo_ = std::make_unique<shell::TJanela>(*this, criarOperacoes, registro, CaminhoExecutavel());
    Mostrados_ = Modelo_->Textos();
    AdicionarIcone();
    Modelo_->Iniciar();
    Trabalhador_ = std::thread([this] { Relogio(); });
}

TFrmPrincipalWin::~TFrmPrincipalWin() {
    if (Modelo_) Modelo_->PedirParada();
    if (Parar_) SetEvent(Parar_);
    if (Trabalhador_.joinable()) Trabalhador_.join();
    if (Verificacao_.joinable()) Verificacao_.join();
    RemoverIcone();
    if (Janela_ != nullptr && IsWindow(Janela_)) {
        // A result posted by the self-check that no one received.
        MSG msg;
        while (PeekMessageW(&msg, Janela_, WM_ONDARIS_VERIFICACAO, WM_ONDARIS_VERIFICACAO, PM_REMOVE)) {
            delete reinterpret_cast<shell::TResultadoVerificacao*>(msg.lParam);
        }
        // Destroyed quietly: the owner of the message loop decides when it ends.
        SetWindowLongPtrW(Janela_, GWLP_USERDATA, 0);
        DestroyWindow(Janela_);
    }
    // The model lets go of the connections; no thread uses them any more.
    Modelo_.reset();
    if (Menu_) DestroyMenu(Menu_);
    for (HFONT f : {FonteTitulo_, FonteMinimizar_, FonteFechar_, FonteLabel1_, FonteCronometro_, FontePainel_}) {
        if (f) DeleteObject(f);
    }
    if (Ilustracao_) DeleteObject(Ilustracao_);
    if (Icone_) DestroyIcon(Icone_);
    if (IconePequeno_) DestroyIcon(IconePequeno_);
    if (Parar_) CloseHandle(Parar_);
    if (Terminou_) CloseHandle(Terminou_);
}

void TFrmPrincipalWin::Relogio() {
    // One tick a second after the previous one returned, until asked to stop.
    while (WaitForSingleObject(Parar_, static_cast<DWORD>(shell::TJanela::IntervaloRelogio.count())) ==
           WAIT_TIMEOUT) {
        Modelo_->Tick();
    }
    SetEvent(Terminou_);
    PostMessageW(Janela_, WM_ONDARIS_FIM_CICLO, 0, 0);
}

void TFrmPrincipalWin::AdicionarIcone() {
    NOTIFYICONDATAW dados{};
    dados.cbSize = sizeof dados;
    dados.hWnd = Janela_;
    dados.uID = 1;
    dados.uFlags = NIF_ICON | NIF_TIP | NIF_MESSAGE;
    dados.uCallbackMessage = WM_ONDARIS_BANDEJA;
    dados.hIcon = IconePequeno_;
    // The tooltip is the application title, cut to what the field holds.
    const std::wstring dica = TituloDaAplicacao().substr(0, std::size(dados.szTip) - 1);
    std::wcsncpy(dados.szTip, dica.c_str(), std::size(dados.szTip) - 1);
    IconeNaBandeja_ = Shell_NotifyIconW(NIM_ADD, &dados) != FALSE;
}

void TFrmPrincipalWin::RemoverIcone() {
    if (!IconeNaBandeja_) return;
    NOTIFYICONDATAW dados{};
    dados.cbSize = sizeof dados;
    dados.hWnd = Janela_;
    dados.uID = 1;
    Shell_NotifyIconW(NIM_DELETE, &dados);
    IconeNaBandeja_ = false;
}

void TFrmPrincipalWin::AbrirMenu(POINT ponto) {
    // The menu closes when the user clicks elsewhere only if the window is
    // in the foreground.
    SetForegroundWindow(Janela_);
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(msg.wParam));
            return;
        }
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    TrackPopupMenu(Menu_, TPM_RIGHTBUTTON, ponto.x, ponto.y, 0, Janela_, nullptr);
    PostMessageW(Janela_, WM_NULL, 0, 0);
}

void TFrmPrincipalWin::ExecutarComando(shell::TComandoJanela comando) {
    if (comando == shell::TComandoJanela::cjVerificarInstalacao) {
        IniciarVerificacao();
        return;
    }
    Modelo_->Executar(comando);
}

void TFrmPrincipalWin::IniciarVerificacao() {
    // The check waits for the database and the central server: it runs on a
    // thread of its own; a second request while it runs is ignored.
    bool livre = false;
    if (!VerificacaoEmCurso_.compare_exchange_strong(livre, true)) return;
    if (Verificacao_.joinable()) Verificacao_.join();
    Verificacao_ = std::thread([this] {
        auto resultado = std::make_unique<shell::TResultadoVerificacao>();
        try {
            *resultado = Modelo_->VerificarInstalacao();
        } catch (const std::exception& e) {
            resultado->Texto = e.what();
        }
        if (PostMessageW(Janela_, WM_ONDARIS_VERIFICACAO, 0, reinterpret_cast<LPARAM>(resultado.get()))) {
            resultado.release();
        }
        VerificacaoEmCurso_ = false;
    });
}

void TFrmPrincipalWin::TextosAlterados() { PostMessageW(Janela_, WM_ONDARIS_TEXTOS, 0, 0); }

void TFrmPrincipalWin::Ocupado(bool ocupado) { PostMessageW(Janela_, WM_ONDARIS_OCUPADO, ocupado ? 1 : 0, 0); }

bool TFrmPrincipalWin::Visivel() { return IsWindowVisible(Janela_) != FALSE; }

shell::TRetangulo TFrmPrincipalWin::Tela() {
    return {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
}

shell::TRetangulo TFrmPrincipalWin::AreaDisponivel() {
    const shell::TRetangulo tela = Tela();
    // The taskbar window's rectangle; without one, the work area.
    if (HWND barra = FindWindowW(L"Shell_TrayWnd", nullptr)) {
        RECT r{};
        if (GetWindowRect(barra, &r)) {
            return shell::AreaSemBarra(tela, {r.left, r.top, r.right - r.left, r.bottom - r.top});
        }
    }
    RECT area{};
    if (SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0)) {
        return {area.left, area.top, area.right - area.left, area.bottom - area.top};
    }
    return tela;
}

void TFrmPrincipalWin::Mostrar(std::optional<shell::TPonto> posicao) {
    if (posicao && IsIconic(Janela_)) {
        // A minimised window keeps its normal place apart: that is the one
        // to set, or restoring it would bring back the old one.
        WINDOWPLACEMENT lugar{};
        lugar.length = sizeof lugar;
        GetWindowPlacement(Janela_, &lugar);
        lugar.rcNormalPosition = {posicao->X, posicao->Y, posicao->X + lay::Largura, posicao->Y + lay::Altura};
        lugar.showCmd = SW_SHOWNORMAL;
        SetWindowPlacement(Janela_, &lugar);
        return;
    }
    if (posicao) {
        SetWindowPos(Janela_, HWND_TOPMOST, posicao->X, posicao->Y, 0, 0, SWP_NOSIZE | SWP_NOACTIVATE);
    }
    ShowWindow(Janela_, IsIconic(Janela_) ? SW_RESTORE : SW_SHOWNORMAL);
}

void TFrmPrincipalWin::TrazerParaFrente() {
    HWND alvo = GetLastActivePopup(Janela_);
    if (alvo == nullptr) alvo = Janela_;
    if (IsWindowVisible(alvo) && IsWindowEnabled(alvo)) SetForegroundWindow(alvo);
}

void TFrmPrincipalWin::Ocultar() { ShowWindow(Janela_, SW_HIDE); }

void TFrmPrincipalWin::Minimizar() { ShowWindow(Janela_, SW_MINIMIZE); }

std::optional<std::string> TFrmPrincipalWin::PedirSenha(const std::string& caption, const std::string& prompt,
                                                        const std::string& valor) {
    return PedirSenhaWin(Visivel() ? Janela_ : nullptr, Largo(caption), Largo(prompt), Largo(valor));
}

void TFrmPrincipalWin::Mensagem(const std::string& texto, shell::TIconeMensagem icone) {
    UINT tipo = MB_OK;
    switch (icone) {
        case shell::TIconeMensagem::imNenhum: break;
        case shell::TIconeMensagem::imInformacao: tipo |= MB_ICONINFORMATION; break;
        case shell::TIconeMensagem::imAviso: tipo |= MB_ICONWARNING; break;
        case shell::TIconeMensagem::imErro: tipo |= MB_ICONERROR; break;
    }
    // Message boxes want CR LF between lines.
    std::wstring largo;
    for (wchar_t c : Largo(texto)) {
        if (c == L'\n') largo += L'\r';
        largo += c;
    }
    MessageBoxW(Visivel() ? Janela_ : nullptr, largo.c_str(), TituloDaAplicacao().c_str(), tipo);
}

void TFrmPrincipalWin::Encerrar() {
    // The window and the icon go now; the message loop ends when the
    // worker has finished the step in progress (WM_ONDARIS_FIM_CICLO).
    Encerrando_ = true;
    Modelo_->PedirParada();
    SetEvent(Parar_);
    RemoverIcone();
    ShowWindow(Janela_, SW_HIDE);
    if (WaitForSingleObject(Terminou_, 0) == WAIT_OBJECT_0) DestroyWindow(Janela_);
}

void TFrmPrincipalWin::FimDeSessao() {
    Encerrando_ = true;
    Modelo_->PedirParada();
    SetEvent(Parar_);
    RemoverIcone();
    if (WaitForSingleObject(Terminou_, EsperaFimDeSessao) == WAIT_OBJECT_0) {
        DestroyWindow(Janela_);
        return;
    }
    // The run is still waiting for a server: the session does not wait for
    // it. Ending the process at once, without running the destructors that
    // the worker thread would race, is what Windows would do a moment later.
    TerminateProcess(GetCurrentProcess(), 0);
}

int TFrmPrincipalWin::RotuloEm(POINT ponto) const {
    // The labels as they show: clipped to the title panel.
    const RECT titulo = Rect(lay::PnTitulo);
    RECT visivel{};
    const RECT menos = Deslocado(lay::LblMinimizar, lay::PnTitulo);
    if (IntersectRect(&visivel, &menos, &titulo) && PtInRect(&visivel, ponto)) return 1;
    const RECT fechar = Deslocado(lay::LblFechar, lay::PnTitulo);
    if (IntersectRect(&visivel, &fechar, &titulo) && PtInRect(&visivel, ponto)) return 2;
    return 0;
}

void TFrmPrincipalWin::Pintar(HDC dc) {
    const COLORREF branco = RGB(255, 255, 255), preto = RGB(0, 0, 0);
    RECT cliente{0, 0, lay::Largura, lay::Altura};
    Preencher(dc, cliente, GetSysColor(COLOR_BTNFACE));

    // Panel1: white, raised outer and lowered inner bevel.
    Preencher(dc, cliente, branco);
    RECT r = cliente;
    Bevel(dc, r, lay::Bevel, GetSysColor(COLOR_BTNHIGHLIGHT), GetSysColor(COLOR_BTNSHADOW));
    Bevel(dc, r, lay::Bevel, GetSysColor(COLOR_BTNSHADOW), GetSysColor(COLOR_BTNHIGHLIGHT));

    // Image1: the illustration unscaled from its top-left corner, clipped to its box.
    if (Ilustracao_ != nullptr) {
        HDC origem = CreateCompatibleDC(dc);
        const HGDIOBJ anterior = SelectObject(origem, Ilustracao_);
        const shell::TRetangulo& caixa = lay::Image1;
        const int largura = std::min(caixa.Largura, 256), altura = std::min(caixa.Altura, 256);
        BLENDFUNCTION mistura{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
        // The part above the client area is not drawn.
        const int corte = std::max(0, -caixa.Topo);
        AlphaBlend(dc, caixa.Esquerda, caixa.Topo + corte, largura, altura - corte, origem, 0, corte, largura,
                   altura - corte, mistura);
        SelectObject(origem, anterior);
        DeleteDC(origem);
    }

    // PnTitulo with its two labels, clipped to it.
    const RECT titulo = Rect(lay::PnTitulo);
    Preencher(dc, titulo, preto);
    Texto(dc, FonteTitulo_, branco, Largo(Mostrados_.Titulo), titulo, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    const int salvo = SaveDC(dc);
    IntersectClipRect(dc, titulo.left, titulo.top, titulo.right, titulo.bottom);
    Texto(dc, FonteMinimizar_, branco, L"-", Deslocado(lay::LblMinimizar, lay::PnTitulo),
          DT_LEFT | DT_TOP | DT_SINGLELINE);
    Texto(dc, FonteFechar_, branco, L"X", Deslocado(lay::LblFechar, lay::PnTitulo), DT_LEFT | DT_TOP | DT_SINGLELINE);
    RestoreDC(dc, salvo);

    Texto(dc, FonteLabel1_, GetSysColor(COLOR_WINDOWTEXT), Largo(shell::TextoLabel1), Rect(lay::Label1),
          DT_LEFT | DT_TOP | DT_SINGLELINE | DT_NOCLIP);
    // Centred on its box; "00:00" at 96 px may stand a few pixels wider
    // than the box, so the text is not clipped to it.
    Texto(dc, FonteCronometro_, GetSysColor(COLOR_WINDOWTEXT), Largo(Mostrados_.Cronometro), Rect(lay::LblCronometro),
          DT_CENTER | DT_TOP | DT_SINGLELINE | DT_NOCLIP);

    for (const auto& [caixa, texto] : {std::pair{lay::PnStatusRecebimento, &Mostrados_.Recebimento},
                                      std::pair{lay::PnStatusEnvio, &Mostrados_.Envio}}) {
        const RECT painel = Rect(caixa);
        Preencher(dc, painel, preto);
        Texto(dc, FontePainel_, branco, Largo(*texto), painel, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    }
}

LRESULT CALLBACK TFrmPrincipalWin::ProcJanela(HWND janela, UINT mensagem, WPARAM w, LPARAM l) {
    if (mensagem == WM_NCCREATE) {
        auto* criacao = reinterpret_cast<CREATESTRUCTW*>(l);
        auto* eu = static_cast<TFrmPrincipalWin*>(criacao->lpCreateParams);
        eu->Janela_ = janela;
        SetWindowLongPtrW(janela, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(eu));
    }
    auto* eu = reinterpret_cast<TFrmPrincipalWin*>(GetWindowLongPtrW(janela, GWLP_USERDATA));
    if (eu == nullptr) return DefWindowProcW(janela, mensagem, w, l);
    try {
        return eu->Tratar(mensagem, w, l);
    } catch (const std::exception& e) {
        // An exception must not cross the system's frames: it goes to the log.
        if (eu->Modelo_) eu->Modelo_->ManipulaExcecoes(e.what());
        return 0;
    }
}

LRESULT TFrmPrincipalWin::Tratar(UINT mensagem, WPARAM w, LPARAM l) {
    if (mensagem == MensagemBarraCriada_ && MensagemBarraCriada_ != 0) {
        // The shell restarted: the icon is added again.
        if (!Encerrando_) AdicionarIcone();
        return 0;
    }
    switch (mensagem) {
        case WM_ONDARIS_TEXTOS:
            Mostrados_ = Modelo_->Textos();
            InvalidateRect(Janela_, nullptr, FALSE);
            return 0;
        case WM_ONDARIS_OCUPADO: {
            Ocupado_ = w != 0;
            POINT p;
            // Shown at once when the pointer is over the window.
            if (GetCursorPos(&p) && WindowFromPoint(p) == Janela_) {
                SetCursor(LoadCursorW(nullptr, Ocupado_ ? IDC_WAIT : IDC_ARROW));
            }
            return 0;
        }
        case WM_ONDARIS_FIM_CICLO:
            if (Encerrando_) DestroyWindow(Janela_);
            return 0;
        case WM_ONDARIS_VERIFICACAO: {
            std::unique_ptr<shell::TResultadoVerificacao> resultado(
                reinterpret_cast<shell::TResultadoVerificacao*>(l));
            if (!Encerrando_) Modelo_->MostrarVerificacao(*resultado);
            return 0;
        }
        case WM_ONDARIS_COMANDO:
            if (w < shell::MenuBandeja.size()) ExecutarComando(shell::MenuBandeja[w].Comando);
            return 0;
        case WM_ONDARIS_BANDEJA:
            // The menu opens when the right button is released on the icon;
            // plain and double clicks do nothing.
            if (LOWORD(l) == WM_RBUTTONUP || LOWORD(l) == WM_CONTEXTMENU) {
                POINT p;
                GetCursorPos(&p);
                AbrirMenu(p);
            }
            return 0;
        case WM_COMMAND:
            if (HIWORD(w) == 0 && LOWORD(w) >= IdMenuBase && LOWORD(w) < IdMenuBase + shell::MenuBandeja.size()) {
                ExecutarComando(shell::MenuBandeja[LOWORD(w) - IdMenuBase].Comando);
                return 0;
            }
            break;
        case WM_PAINT: {
            PAINTSTRUCT ps;
            HDC dc = BeginPaint(Janela_, &ps);
            // Painted off screen first, so that a new countdown text does
            // not flicker.
            HDC memoria = CreateCompatibleDC(dc);
            HBITMAP quadro = CreateCompatibleBitmap(dc, lay::Largura, lay::Altura);
            const HGDIOBJ anterior = SelectObject(memoria, quadro);
            Pintar(memoria);
            BitBlt(dc, 0, 0, lay::Largura, lay::Altura, memoria, 0, 0, SRCCOPY);
            SelectObject(memoria, anterior);
            DeleteObject(quadro);
            DeleteDC(memoria);
            EndPaint(Janela_, &ps);
            return 0;
        }
        case WM_ERASEBKGND:
            return 1;
        case WM_SETCURSOR:
            if (LOWORD(l) == HTCLIENT) {
                POINT p;
                GetCursorPos(&p);
                ScreenToClient(Janela_, &p);
                const wchar_t* cursor = Ocupado_ ? IDC_WAIT : (RotuloEm(p) != 0 ? IDC_HAND : IDC_ARROW);
                SetCursor(LoadCursorW(nullptr, cursor));
                return TRUE;
            }
            break;
        case WM_LBUTTONUP: {
            const POINT p{static_cast<short>(LOWORD(l)), static_cast<short>(HIWORD(l))};
            switch (RotuloEm(p)) {
                case 1: Modelo_->Ocultar(); return 0;
                case 2: Modelo_->Fechar(); return 0;
                default: break;
            }
            return 0;
        }
        case WM_SIZE:
            // The system's own minimise command (the taskbar button) goes
            // the way of "hide".
            if (w == SIZE_MINIMIZED) Modelo_->Minimizado();
            return 0;
        case WM_CLOSE:
            // A close that reaches the window by other means than the two
            // close commands (the system's close command) ends the program
            // without the password.
            Encerrar();
            return 0;
        case WM_QUERYENDSESSION:
            // Never holds a log-off or a shut-down.
            return TRUE;
        case WM_ENDSESSION:
            if (w != 0) FimDeSessao();
            return 0;
        case WM_DESTROY:
            RemoverIcone();
            PostQuitMessage(0);
            return 0;
        default:
            break;
    }
    return DefWindowProcW(Janela_, mensagem, w, l);
}

}  // namespace ondaris::win
