#pragma once
// Fonts of the status window. "Arial" reaches Liberation Sans through
// fontconfig (same metrics). Tahoma is not known to fontconfig; its
// substitute ships in the wine fonts folder and is loaded into the
// application here. Not an error: no Tahoma file anywhere: the window then
// keeps the default font family.
#include <QFont>
#include <QString>

namespace ondaris::app {

// Loads Tahoma (regular and bold) once; returns its family name, or an
// empty text when no file was found or loadable.
QString CarregarTahoma();

// Bold "Arial" with the given character height in pixels.
QFont FonteArialNegrito(int pixels);

}  // namespace ondaris::app
