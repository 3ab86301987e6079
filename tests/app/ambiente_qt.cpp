// One application object for the whole suite, created before any test as
// the tray program creates it (offscreen platform, set by CTest).
#include "app/aplicacao.h"

#include <gtest/gtest.h>

namespace {

class AmbienteQt : public ::testing::Environment {
public:
    void SetUp() override {
        static int argc = 1;
        static char nome[] = "test_app";
        static char* argv[] = {nome, nullptr};
        Aplicacao_ = new ondaris::app::TAplicacao(argc, argv);
        Aplicacao_->setQuitOnLastWindowClosed(false);
    }
    void TearDown() override {
        delete Aplicacao_;
        Aplicacao_ = nullptr;
    }

private:
    ondaris::app::TAplicacao* Aplicacao_ = nullptr;
};

[[maybe_unused]] ::testing::Environment* const Ambiente =
    ::testing::AddGlobalTestEnvironment(new AmbienteQt);

}  // namespace
