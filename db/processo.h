#pragma once
// What the hold on a store database (db/posse.h) needs to know of the
// running process and its machine. One implementation per system
// (processo_posix.cpp, processo_win.cpp).
#include <cstdint>
#include <string>

namespace ondaris::db {

// The machine's name as the network knows it ("" when the system does not say).
std::string NomeMaquina();
// This process's number.
std::int64_t ProcessoAtual();
// Whether a process of that number runs on this machine now. When the
// system cannot tell (no right to look, say), it answers true: an agent that
// may still be alive is never taken for a dead one.
bool ProcessoAtivo(std::int64_t processo);
// The running executable's file name without its folder and without ".exe"
// ("ondarisd", "Ondaris"); "" when it cannot be read.
std::string NomePrograma();

#ifdef _WIN32
// The full path of the running executable, as Windows spells it; empty when
// the system cannot tell (long paths included: the buffer grows until the
// name fits).
std::wstring CaminhoExecutavel();
#endif

}  // namespace ondaris::db
