#include "db/erros.h"

namespace ondaris::db {

void FalhaDaRotina(std::string_view rotina, const std::string& contexto, const std::string& acrescimo) {
    const std::exception_ptr atual = std::current_exception();
    try {
        std::rethrow_exception(atual);
    } catch (const ErroRotina& e) {
        if (acrescimo.empty()) throw;
        throw ErroRotina(e.Rotina(), e.Detalhe() + acrescimo, e.Causa());
    } catch (const std::exception& e) {
        std::string detalhe = contexto;
        detalhe.append(e.what()).append(acrescimo);
        throw ErroRotina(rotina, std::move(detalhe), atual);
    } catch (...) {
        std::string detalhe = contexto;
        detalhe.append(acrescimo);
        throw ErroRotina(rotina, std::move(detalhe), atual);
    }
}

}  // namespace ondaris::db
