#pragma once
// The program's two pictures for the Win32 window, drawn with GDI+ to the
// same design as the Qt program's (app/arte.cpp): the tray icon (a white
// branching-node glyph on a dark disc) and the window's illustration (three
// networked computer screens). GDI+ must be started (TGdiPlus) before any
// call. Each call returns a new handle owned by the caller.
#include <windows.h>

namespace ondaris::win {

// Starts GDI+ for the lifetime of the object.
class TGdiPlus {
public:
    TGdiPlus();
    ~TGdiPlus();
    TGdiPlus(const TGdiPlus&) = delete;
    TGdiPlus& operator=(const TGdiPlus&) = delete;

private:
    ULONG_PTR Token_ = 0;
};

// `lado` x `lado`, transparent outside the disc; nullptr on failure.
HICON DesenharIconeBandeja(int lado);
// 256 x 256, 32 bits with premultiplied alpha (for AlphaBlend); nullptr on
// failure.
HBITMAP DesenharIlustracao();

}  // namespace ondaris::win
