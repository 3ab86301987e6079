#pragma once
// UTF-8, the text of the whole program, to and from the UTF-16 of the
// Windows API. Windows builds only. Invalid input is never an error: it
// becomes U+FFFD, as everywhere else in the program.
#include <windows.h>

#include <string>
#include <string_view>

namespace ondaris::protocolo {

inline std::wstring Utf8ParaUtf16(std::string_view texto) {
    if (texto.empty()) return {};
    const int tamanho = static_cast<int>(texto.size());
    const int n = MultiByteToWideChar(CP_UTF8, 0, texto.data(), tamanho, nullptr, 0);
    std::wstring largo(static_cast<std::size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0) MultiByteToWideChar(CP_UTF8, 0, texto.data(), tamanho, largo.data(), n);
    return largo;
}

inline std::string Utf16ParaUtf8(std::wstring_view texto) {
    if (texto.empty()) return {};
    const int tamanho = static_cast<int>(texto.size());
    const int n = WideCharToMultiByte(CP_UTF8, 0, texto.data(), tamanho, nullptr, 0, nullptr, nullptr);
    std::string estreito(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
    if (n > 0) WideCharToMultiByte(CP_UTF8, 0, texto.data(), tamanho, estreito.data(), n, nullptr, nullptr);
    return estreito;
}

// The system's text for an error code (GetLastError), without its line
// break; "error N" when the system has none.
inline std::string TextoErroSistema(DWORD codigo, HMODULE modulo = nullptr) {
    wchar_t* bruto = nullptr;
    const DWORD origem = modulo ? FORMAT_MESSAGE_FROM_HMODULE : FORMAT_MESSAGE_FROM_SYSTEM;
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | origem | FORMAT_MESSAGE_IGNORE_INSERTS, modulo,
                                   codigo, 0, reinterpret_cast<wchar_t*>(&bruto), 0, nullptr);
    std::string texto;
    if (n > 0 && bruto) texto = Utf16ParaUtf8(std::wstring_view(bruto, n));
    if (bruto) LocalFree(bruto);
    while (!texto.empty() && (texto.back() == '\n' || texto.back() == '\r' || texto.back() == ' ' ||
                              texto.back() == '.'))
        texto.pop_back();
    return texto.empty() ? "erro " + std::to_string(codigo) : texto;
}

}  // namespace ondaris::protocolo
