#pragma once
// The program's two pictures, drawn here rather than shipped as files: the
// tray icon (a white branching-node glyph on a dark disc) and the window's
// illustration (three networked computer screens). Each call paints a new
// image owned by the caller.
#include <QImage>
#include <QIcon>

namespace ondaris::app {

// 32 x 32 (or `lado` x `lado`), transparent outside the disc.
QImage DesenharIconeBandeja(int lado = 32);
QIcon IconeBandeja();

// 256 x 256, transparent background.
QImage DesenharIlustracao();

}  // namespace ondaris::app
