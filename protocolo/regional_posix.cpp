// The regional settings as the C library's locales give them (langinfo).
#include "protocolo/regional.h"

#include <langinfo.h>
#include <locale.h>

namespace ondaris::protocolo {

namespace {

// RAII holder of a locale object from newlocale.
class LocaleC {
public:
    explicit LocaleC(const std::string& nome)
        : loc_(newlocale(LC_NUMERIC_MASK | LC_TIME_MASK, nome.c_str(), static_cast<locale_t>(nullptr))) {
        if (loc_ == static_cast<locale_t>(nullptr))
            loc_ = newlocale(LC_NUMERIC_MASK | LC_TIME_MASK, "C", static_cast<locale_t>(nullptr));
    }
    ~LocaleC() {
        if (loc_ != static_cast<locale_t>(nullptr)) freelocale(loc_);
    }
    LocaleC(const LocaleC&) = delete;
    LocaleC& operator=(const LocaleC&) = delete;

    std::string Item(nl_item item) const {
        if (loc_ == static_cast<locale_t>(nullptr)) return {};
        const char* valor = nl_langinfo_l(item, loc_);
        return valor ? std::string(valor) : std::string();
    }

private:
    locale_t loc_;
};

template <class LerItem>
TConfiguracoesRegionais Montar(LerItem item) {
    TConfiguracoesRegionais r;
    if (auto decimal = item(RADIXCHAR); !decimal.empty()) r.SeparadorDecimal = decimal;

    auto data = ConverterFormatoDataLocale(item(D_FMT));
    if (data.Formato.find_first_of("dD") != std::string::npos) {
        r.FormatoDataCurta = data.Formato;
        if (!data.Separador.empty()) r.SeparadorData = data.Separador;
        r.OrdemData = OrdemDoFormato(data.Formato);
    }

    auto hora = ConverterFormatoHoraLocale(item(T_FMT), item(T_FMT_AMPM));
    if (hora.Formato.find_first_of("hH") != std::string::npos) {
        r.FormatoHoraLonga = hora.Formato;
        if (!hora.Separador.empty()) r.SeparadorHora = hora.Separador;
    }
    r.SimboloAM = item(AM_STR);
    r.SimboloPM = item(PM_STR);
    return r;
}

}  // namespace

TConfiguracoesRegionais TConfiguracoesRegionais::DoLocale(const std::string& nome) {
    LocaleC loc(nome);
    return Montar([&](nl_item i) { return loc.Item(i); });
}

TConfiguracoesRegionais TConfiguracoesRegionais::DoProcesso() {
    return Montar([](nl_item i) {
        const char* valor = nl_langinfo(i);
        return valor ? std::string(valor) : std::string();
    });
}

}  // namespace ondaris::protocolo
