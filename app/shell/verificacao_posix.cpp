// The locale the agent runs with on Linux: the one the environment names.
#include "app/shell/verificacao.h"

#include <locale.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

namespace ondaris::shell {

namespace {

// Whether the locale exists here: the conversions would otherwise fall
// back to the C locale's settings without a word.
bool LocaleExiste(const std::string& nome) {
    const locale_t loc = newlocale(LC_NUMERIC_MASK | LC_TIME_MASK, nome.c_str(), static_cast<locale_t>(nullptr));
    if (loc == static_cast<locale_t>(nullptr)) return false;
    freelocale(loc);
    return true;
}

}  // namespace

TRegionalEmVigor TRegionalEmVigor::DoAmbiente() {
    const auto valor = [](const char* nome) -> std::string {
        const char* v = std::getenv(nome);
        return v ? v : "";
    };
    // The names that decide numbers and dates, in the C library's order.
    std::vector<std::string> nomes;
    for (const char* categoria : {"LC_NUMERIC", "LC_TIME"}) {
        std::string nome = valor("LC_ALL");
        if (nome.empty()) nome = valor(categoria);
        if (nome.empty()) nome = valor("LANG");
        if (std::find(nomes.begin(), nomes.end(), nome) == nomes.end()) nomes.push_back(nome);
    }
    TRegionalEmVigor r;
    for (const auto& n : nomes) {
        if (!n.empty() && !LocaleExiste(n)) {
            r.Existe = false;
            r.NomeLocale = n;
        }
    }
    if (r.Existe) {
        for (const auto& n : nomes) r.NomeLocale += (r.NomeLocale.empty() ? "" : ", ") + n;
    }
    r.Regional = protocolo::TConfiguracoesRegionais::DoLocale();
    return r;
}

}  // namespace ondaris::shell
