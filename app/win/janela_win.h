#pragma once
// The status window of the tray program on Windows, native Win32: a thin
// view over the window's behaviour (shell::TJanela). A borderless, top-most
// window that paints the title panel, the illustration, the countdown and the
// two status panels; the notification-area icon (Shell_NotifyIconW) with the
// tray menu; the password dialog on close (senha_win.h).
//
// Threads: the cycle runs on a worker thread of its own, one tick a second,
// so that the window, the tray menu and the password dialog never wait for a
// run, and Windows can end the session at any time. The worker tells the
// window of new panel texts and of the busy state by posted messages; the
// window paints what the model holds. The installation self-check runs on a
// thread of its own too, its result shown in a message box when it ends.
//
// Ending: the password closes the program after the step in progress (the
// run is cut short between steps); a session that ends (log-off, shut-down)
// is never held: the window answers WM_QUERYENDSESSION with yes and, on
// WM_ENDSESSION, waits a short while for the worker, then ends the process
// whether it finished or not. The system's own close command ends the
// program without the password.
//
// Ownership: the view owns the window, the tray icon, the worker and the
// model; it borrows the wiring and the log, which must outlive it.
#include <windows.h>

#include "app/shell/janela.h"

#include <atomic>
#include <memory>
#include <string>
#include <thread>

namespace ondaris::win {

// Messages of the status window (WM_APP and above).
enum : UINT {
    WM_ONDARIS_TEXTOS = WM_APP + 1,   // the model's texts changed
    WM_ONDARIS_OCUPADO,               // wParam: statements running (1) or not (0)
    WM_ONDARIS_BANDEJA,               // the tray icon's notifications
    WM_ONDARIS_FIM_CICLO,             // the worker has ended
    WM_ONDARIS_VERIFICACAO,           // lParam: the self-check's result (owned by the receiver)
    WM_ONDARIS_COMANDO,               // wParam: a shell::TComandoJanela, as the menu runs it
};

inline constexpr const wchar_t* ClasseJanela = L"TFrmPrincipal";
// Identifiers of the tray menu's items: this base + the item's index in
// shell::MenuBandeja.
inline constexpr UINT IdMenuBase = 100;

std::wstring Largo(const std::string& utf8);
std::string Utf8(const std::wstring& largo);
// The running executable's full path, UTF-8.
std::string CaminhoExecutavel();
// The application title of the running program (shell::TituloAplicacao).
std::wstring TituloDaAplicacao();

class TFrmPrincipalWin final : public shell::IVistaJanela {
public:
    TFrmPrincipalWin(shell::TLigacao& ligacao, shell::TRegistro& registro);
    TFrmPrincipalWin(const shell::TJanela::TCriarOperacoes& criarOperacoes, shell::TRegistro& registro);
    ~TFrmPrincipalWin() override;
    TFrmPrincipalWin(const TFrmPrincipalWin&) = delete;
    TFrmPrincipalWin& operator=(const TFrmPrincipalWin&) = delete;

    HWND Janela() const { return Janela_; }
    shell::TJanela& Modelo() { return *Modelo_; }
    // What the window paints now (the texts of the last WM_ONDARIS_TEXTOS).
    const shell::TTextosJanela& TextosMostrados() const { return Mostrados_; }
    bool OcupadoMostrado() const { return Ocupado_; }
    bool IconeNaBandeja() const { return IconeNaBandeja_; }
    // True once the program's end has begun (the window may still exist
    // while the worker finishes its step).
    bool Encerrando() const { return Encerrando_; }
    // The tray menu as the icon opens it, at `ponto` (screen coordinates).
    void AbrirMenu(POINT ponto);
    HMENU Menu() const { return Menu_; }

    // IVistaJanela
    void TextosAlterados() override;
    void Ocupado(bool ocupado) override;
    bool BandejaDisponivel() override { return IconeNaBandeja_; }
    bool Visivel() override;
    shell::TRetangulo Tela() override;
    shell::TRetangulo AreaDisponivel() override;
    void Mostrar(std::optional<shell::TPonto> posicao) override;
    void TrazerParaFrente() override;
    void Ocultar() override;
    void Minimizar() override;
    std::optional<std::string> PedirSenha(const std::string& caption, const std::string& prompt,
                                          const std::string& valor) override;
    void Mensagem(const std::string& texto, shell::TIconeMensagem icone) override;
    void Encerrar() override;

private:
    static LRESULT CALLBACK ProcJanela(HWND janela, UINT mensagem, WPARAM w, LPARAM l);
    LRESULT Tratar(UINT mensagem, WPARAM w, LPARAM l);
    void Criar(const shell::TJanela::TCriarOperacoes& criarOperacoes, shell::TRegistro& registro);
    void Pintar(HDC dc);
    void AdicionarIcone();
    void RemoverIcone();
    void ExecutarComando(shell::TComandoJanela comando);
    void IniciarVerificacao();
    void Relogio();
    void FimDeSessao();
    // The label under a point of the client area: 1 "-", 2 "X", 0 none.
    int RotuloEm(POINT ponto) const;

    HWND Janela_ = nullptr;
    HMENU Menu_ = nullptr;
    HICON Icone_ = nullptr, IconePequeno_ = nullptr;
    HBITMAP Ilustracao_ = nullptr;  // 32-bit, premultiplied alpha
    HFONT FonteTitulo_ = nullptr, FonteMinimizar_ = nullptr, FonteFechar_ = nullptr,
          FonteLabel1_ = nullptr, FonteCronometro_ = nullptr, FontePainel_ = nullptr;
    UINT MensagemBarraCriada_ = 0;  // "TaskbarCreated": the shell restarted
    bool IconeNaBandeja_ = false;
    bool Ocupado_ = false;
    bool Encerrando_ = false;
    shell::TTextosJanela Mostrados_;

    std::unique_ptr<shell::TJanela> Modelo_;
    HANDLE Parar_ = nullptr;       // manual-reset: the worker ends
    HANDLE Terminou_ = nullptr;    // manual-reset: the worker has ended
    std::thread Trabalhador_;
    std::thread Verificacao_;
    std::atomic<bool> VerificacaoEmCurso_{false};
};

}  // namespace ondaris::win
