#pragma once
// The Firebird client library on Windows. Linux links libfbclient; on
// Windows fbclient.dll is loaded when the first database call needs it, so
// that the program starts, and says what is missing, on a machine without
// it. Only its one entry point, fb_get_master_interface, is used: the rest
// of the OO API hangs off the master interface.
//
// Where it is looked for, in this order (full paths only, never the
// system's search path):
//   1. beside the executable;
//   2. the folder of the default Firebird instance named in the registry
//      (HKLM\SOFTWARE\Firebird Project\Firebird Server\Instances,
//      DefaultInstance), and its bin subfolder;
//   3. %ProgramFiles%\Firebird\Firebird_5_0, _4_0 and _3_0.
#include <cstdint>
#include <string>

#include "db/erros.h"

namespace Firebird {
class IMaster;
}

namespace ondaris::db {

inline constexpr const char* kBibliotecaCliente = "fbclient.dll";

// The master interface of the first library that loads and has the entry
// point. Throws ErroBibliotecaCliente naming the library, every place it
// was looked for and why each failed.
Firebird::IMaster* CarregarMestreFbclient();

// The SQLSTATE that the status vector carries (isc_arg_sql_state), empty
// when it has none. (Linux asks the client library's fb_sqlstate, which also
// maps error codes without one.)
std::string SqlStateDoStatus(const std::intptr_t* vetor);

}  // namespace ondaris::db
