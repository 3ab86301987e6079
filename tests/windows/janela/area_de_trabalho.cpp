// Every window of the suite opens on a virtual desktop of its own, with a
// taskbar, as scripts/capturas-windows shows the window: a desktop named in
// wine's settings with a size is drawn by wine itself inside one X window,
// so that no window manager is needed (without one, wine waits seconds for
// each window shown or hidden) and nothing leaks onto the display.
#include <windows.h>

#include <gtest/gtest.h>

namespace {

constexpr const wchar_t* NomeArea = L"OndarisTestes";

class AreaDeTrabalho : public ::testing::Environment {
public:
    void SetUp() override {
        HKEY chave = nullptr;
        if (RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Wine\\Explorer\\Desktops", 0, nullptr, 0, KEY_SET_VALUE,
                            nullptr, &chave, nullptr) == ERROR_SUCCESS) {
            static const wchar_t tamanho[] = L"1024x768";
            RegSetValueExW(chave, NomeArea, 0, REG_SZ, reinterpret_cast<const BYTE*>(tamanho), sizeof tamanho);
            RegCloseKey(chave);
        }
        HDESK area = CreateDesktopW(NomeArea, nullptr, nullptr, 0, GENERIC_ALL, nullptr);
        ASSERT_NE(area, nullptr) << "CreateDesktopW: " << GetLastError();
        ASSERT_TRUE(SetThreadDesktop(area)) << "SetThreadDesktop: " << GetLastError();
    }
};

[[maybe_unused]] ::testing::Environment* const Ambiente = ::testing::AddGlobalTestEnvironment(new AreaDeTrabalho);

}  // namespace
