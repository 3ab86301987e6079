#pragma once
// The password dialog that guards closing the agent, Win32: a window built
// here (an ordinary resizable window with a title bar, not a dialog frame),
// laid out in dialog units of its font (shell::GeometriaSenha), shown
// modally over `dono` and destroyed before returning. Whether the text is
// the password is the caller's rule (shell::SenhaAceita).
#include <windows.h>

#include <optional>
#include <string>

namespace ondaris::win {

inline constexpr const wchar_t* ClasseSenha = L"TFrmSenhaTavixSystem";
// Identifiers of its controls; the buttons are IDOK and IDCANCEL.
inline constexpr int IdCampoSenha = 101;
inline constexpr int IdRotuloSenha = 102;

// The text typed (UTF-8) when the user confirmed with "Ok" or Enter;
// nothing after "Cancelar", Esc or the window's close box. `valor` is the
// field's initial text, all of it selected.
std::optional<std::string> PedirSenhaWin(HWND dono, const std::wstring& caption, const std::wstring& prompt,
                                         const std::wstring& valor);

// Average character width ("A".."Z" "a".."z" measured as one string / 52,
// rounded toward zero) and height of `fonte`.
POINT GetAveCharSize(HDC dc, HFONT fonte);

}  // namespace ondaris::win
