#include "app/win/senha_win.h"

#include "app/shell/calculos.h"
#include "app/win/janela_win.h"

namespace ondaris::win {

namespace {

struct TEstadoSenha {
    bool Fim = false;
    std::optional<std::string> Digitada;
};

// The default font of a new window: the system's message font.
HFONT FontePadrao() {
    NONCLIENTMETRICSW metricas{};
    metricas.cbSize = sizeof metricas;
    if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metricas, &metricas, 0)) {
        return CreateFontIndirectW(&metricas.lfMessageFont);
    }
    return nullptr;
}

LRESULT CALLBACK ProcSenha(HWND janela, UINT mensagem, WPARAM w, LPARAM l) {
    auto* estado = reinterpret_cast<TEstadoSenha*>(GetWindowLongPtrW(janela, GWLP_USERDATA));
    switch (mensagem) {
        case WM_NCCREATE:
            SetWindowLongPtrW(janela, GWLP_USERDATA,
                              reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(l)->lpCreateParams));
            break;
        case WM_COMMAND:
            if (estado != nullptr && (LOWORD(w) == IDOK || LOWORD(w) == IDCANCEL)) {
                if (LOWORD(w) == IDOK) {
                    HWND campo = GetDlgItem(janela, IdCampoSenha);
                    std::wstring texto(static_cast<std::size_t>(GetWindowTextLengthW(campo)) + 1, L'\0');
                    texto.resize(static_cast<std::size_t>(GetWindowTextW(campo, texto.data(),
                                                                         static_cast<int>(texto.size()))));
                    estado->Digitada = Utf8(texto);
                }
                estado->Fim = true;
                return 0;
            }
            break;
        case WM_CLOSE:
            if (estado != nullptr) estado->Fim = true;  // as Cancel
            return 0;
        default:
            break;
    }
    return DefWindowProcW(janela, mensagem, w, l);
}

void RegistrarClasse(HINSTANCE instancia) {
    WNDCLASSEXW classe{};
    if (GetClassInfoExW(instancia, ClasseSenha, &classe)) return;
    classe.cbSize = sizeof classe;
    classe.lpfnWndProc = ProcSenha;
    classe.hInstance = instancia;
    classe.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    classe.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    classe.lpszClassName = ClasseSenha;
    RegisterClassExW(&classe);
}

}  // namespace

POINT GetAveCharSize(HDC dc, HFONT fonte) {
    const HGDIOBJ anterior = SelectObject(dc, fonte);
    static const wchar_t letras[] = L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    SIZE tamanho{};
    GetTextExtentPoint32W(dc, letras, 52, &tamanho);
    SelectObject(dc, anterior);
    return {tamanho.cx / 52, tamanho.cy};
}

std::optional<std::string> PedirSenhaWin(HWND dono, const std::wstring& caption, const std::wstring& prompt,
                                         const std::wstring& valor) {
    HINSTANCE instancia = GetModuleHandleW(nullptr);
    RegistrarClasse(instancia);
    TEstadoSenha estado;

    HFONT fonte = FontePadrao();
    HDC dc = GetDC(nullptr);
    const POINT unidades = GetAveCharSize(dc, fonte != nullptr ? fonte : static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT)));
    ReleaseDC(nullptr, dc);
    const shell::TGeometriaSenha g = shell::GeometriaSenha(unidades.x, unidades.y);

    // An ordinary resizable window with minimise and maximise buttons,
    // centred on the screen by its client area.
    const DWORD estilo = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;
    RECT area{0, 0, g.ClienteLargura, g.ClienteAltura};
    AdjustWindowRectEx(&area, estilo, FALSE, 0);
    const int largura = area.right - area.left, altura = area.bottom - area.top;
    const int cx = GetSystemMetrics(SM_CXSCREEN), cy = GetSystemMetrics(SM_CYSCREEN);
    const int esquerda = (cx - g.ClienteLargura) / 2 + area.left, topo = (cy - g.ClienteAltura) / 2 + area.top;
    HWND janela = CreateWindowExW(0, ClasseSenha, caption.c_str(), estilo, esquerda, topo, largura, altura,
                                  dono, nullptr, instancia, &estado);
    if (janela == nullptr) {
        if (fonte) DeleteObject(fonte);
        return std::nullopt;
    }
    auto filho = [&](const wchar_t* classe, const wchar_t* texto, DWORD estiloFilho, int x, int y, int w, int h,
                     int id, DWORD estendido = 0) {
        HWND c = CreateWindowExW(estendido, classe, texto, WS_CHILD | WS_VISIBLE | estiloFilho, x, y, w, h, janela,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instancia, nullptr);
        SendMessageW(c, WM_SETFONT, reinterpret_cast<WPARAM>(fonte), FALSE);
        return c;
    };
    // The label sized to its text.
    HDC dcJanela = GetDC(janela);
    const HGDIOBJ anterior = SelectObject(dcJanela, fonte);
    SIZE texto{};
    GetTextExtentPoint32W(dcJanela, prompt.c_str(), static_cast<int>(prompt.size()), &texto);
    SelectObject(dcJanela, anterior);
    ReleaseDC(janela, dcJanela);
    filho(L"STATIC", prompt.c_str(), SS_LEFT, g.RotuloEsquerda, g.RotuloTopo, texto.cx, texto.cy, IdRotuloSenha);
    // The field keeps an edit's own height for the font.
    HWND campo = filho(L"EDIT", valor.c_str(), WS_TABSTOP | ES_PASSWORD | ES_AUTOHSCROLL, g.EdicaoEsquerda,
                       g.EdicaoTopo, g.EdicaoLargura, unidades.y + 8, IdCampoSenha, WS_EX_CLIENTEDGE);
    SendMessageW(campo, EM_SETPASSWORDCHAR, L'*', 0);
    SendMessageW(campo, EM_LIMITTEXT, 255, 0);
    SendMessageW(campo, EM_SETSEL, 0, -1);
    filho(L"BUTTON", L"Ok", WS_TABSTOP | BS_DEFPUSHBUTTON, g.OkEsquerda, g.BotoesTopo, g.BotaoLargura, g.BotaoAltura,
          IDOK);
    filho(L"BUTTON", L"Cancelar", WS_TABSTOP | BS_PUSHBUTTON, g.CancelarEsquerda, g.BotoesTopo, g.BotaoLargura,
          g.BotaoAltura, IDCANCEL);

    // Modal: the owner takes no input until the dialog closes.
    const bool donoHabilitado = dono != nullptr && IsWindowEnabled(dono);
    if (donoHabilitado) EnableWindow(dono, FALSE);
    ShowWindow(janela, SW_SHOWNORMAL);
    SetForegroundWindow(janela);
    SetFocus(campo);

    MSG msg;
    bool sair = false;
    int codigoSaida = 0;
    while (!estado.Fim) {
        const BOOL r = GetMessageW(&msg, nullptr, 0, 0);
        if (r <= 0) {
            // The program is ending: the dialog goes as if cancelled, and
            // the outer loop sees the end too.
            sair = r == 0;
            codigoSaida = static_cast<int>(msg.wParam);
            estado.Digitada.reset();
            break;
        }
        // Enter is "Ok", Esc is "Cancelar", Tab moves between the controls.
        if (!IsDialogMessageW(janela, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    if (donoHabilitado) EnableWindow(dono, TRUE);
    DestroyWindow(janela);
    if (fonte) DeleteObject(fonte);
    if (sair) PostQuitMessage(codigoSaida);
    return estado.Digitada;
}

}  // namespace ondaris::win
