#pragma once
// The failure a call raises, for tests that check more than its kind: its
// text, its codes, the answer it carries. A call that raises nothing, or a
// failure of another kind, is reported as a test failure and gives nothing.
#include <gtest/gtest.h>

#include <exception>
#include <optional>
#include <string>
#include <string_view>

#include "db/erros.h"

namespace ondaris::teste {

// The failure itself, when its type can be held by value.
template <class E, class F>
std::optional<E> Capturar(F&& chamada) {
    try {
        chamada();
    } catch (const std::exception& e) {
        if (const auto* certa = dynamic_cast<const E*>(&e)) return *certa;
        ADD_FAILURE() << "raised another kind of failure: " << e.what();
        return std::nullopt;
    }
    ADD_FAILURE() << "raised no failure";
    return std::nullopt;
}

// Only its text ("" after a test failure as above).
template <class E, class F>
std::string TextoDaFalha(F&& chamada) {
    try {
        chamada();
    } catch (const E& e) {
        return e.what();
    } catch (...) {
        ADD_FAILURE() << "raised another kind of failure";
        return {};
    }
    ADD_FAILURE() << "raised no failure";
    return {};
}

// A failure of a routine that names itself: raised as db::ErroRotina of
// `rotina` whose cause is of kind `causa` (any kind when none is given).
// Gives its whole text ("" after a test failure).
template <class F>
std::string TextoDaFalhaDaRotina(std::string_view rotina, std::optional<db::TCausaRotina> causa, F&& chamada) {
    const auto falha = Capturar<db::ErroRotina>(chamada);
    if (!falha) return {};
    EXPECT_EQ(falha->Rotina(), rotina);
    if (causa) {
        EXPECT_EQ(falha->Causa(), *causa) << "the cause is of another kind: " << falha->what();
    }
    return falha->what();
}

}  // namespace ondaris::teste
