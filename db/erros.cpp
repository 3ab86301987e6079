#include "db/erros.h"

namespace ondaris::db {

void FalhaDaRotina(std::string_view rotina, const std::string& contexto, const std::string& acrescimo) {
    std::string detalhe = contexto;
    try {
        throw;
    } catch (const ErroRotina& e) {
        if (acrescimo.empty()) throw;
        throw ErroRotina(e.Rotina(), e.Detalhe() + acrescimo, e.Causa(), e.Codigo());
    } catch (const ErroConexaoPerdida& e) {
        throw ErroRotina(rotina, detalhe.append(e.what()).append(acrescimo), TCausaRotina::ConexaoPerdida, e.Codigo());
    } catch (const ErroConflitoBloqueio& e) {
        throw ErroRotina(rotina, detalhe.append(e.what()).append(acrescimo), TCausaRotina::ConflitoBloqueio,
                         e.Codigo());
    } catch (const ErroBanco& e) {
        throw ErroRotina(rotina, detalhe.append(e.what()).append(acrescimo), TCausaRotina::Banco, e.Codigo());
    } catch (const std::exception& e) {
        throw ErroRotina(rotina, detalhe.append(e.what()).append(acrescimo), TCausaRotina::Outra);
    } catch (...) {
        throw ErroRotina(rotina, detalhe.append(acrescimo), TCausaRotina::Outra);
    }
}

}  // namespace ondaris::db
