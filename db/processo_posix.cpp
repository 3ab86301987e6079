#include "db/processo.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <filesystem>
#include <system_error>
#include <unistd.h>

namespace ondaris::db {

std::string NomeMaquina() {
    char nome[HOST_NAME_MAX + 1] = {};
    if (gethostname(nome, sizeof nome - 1) != 0) return {};
    return nome;
}

std::int64_t ProcessoAtual() { return static_cast<std::int64_t>(getpid()); }

bool ProcessoAtivo(std::int64_t processo) {
    if (processo <= 0 || processo > INT_MAX) return false;
    // Signal 0 sends nothing: it only asks whether the process exists.
    if (kill(static_cast<pid_t>(processo), 0) == 0) return true;
    return errno != ESRCH;
}

std::string NomePrograma() {
    std::error_code erro;
    const auto caminho = std::filesystem::read_symlink("/proc/self/exe", erro);
    if (erro) return {};
    return caminho.filename().string();
}

}  // namespace ondaris::db
