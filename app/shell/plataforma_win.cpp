// What the shell asks of Windows itself. (The executable's folder and local
// time need nothing of their own: db::PastaExecutavel and the C run time's
// localtime_s serve.)
#include "app/shell/registro.h"
#include "db/regional.h"

namespace ondaris::shell {

// The user's date and time separators, from the same regional settings as
// every conversion of the engine.
TSeparadores SeparadoresRegionais() {
    const auto regional = db::TConfiguracoesRegionais::DoLocale();
    return TSeparadores{regional.SeparadorData, regional.SeparadorHora};
}

}  // namespace ondaris::shell
