#pragma once
// Server operations that follow a script instead of talking to a database
// and a central server, for driving the Win32 window's cycle under wine,
// where neither exists: the store's log has `UltimaOrdemLoja` rows, the
// server holds them up to `Servidor`, each block sent moves that up by at
// most 1000 rows, and there is nothing to receive. Every operation first
// calls `AoChamar` with its name ("configuracoes", "estrutura", "receber",
// "posicao", "enviar"): a test may hold the run there, or throw to end it
// as a failure would. Sending counts as statements running (the database
// layer's busy mark), as sending a real block does.
//
// The operations run on the window's worker thread; the counters are
// atomic so that a test's thread may read them.
#include "db/ocupado.h"
#include "sync/ciclo.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace ondaris::teste {

class OperacoesRoteiro final : public sync::IOperacoesCiclo {
public:
    std::atomic<std::int64_t> Loja{0};
    std::atomic<std::int64_t> Servidor{0};
    std::atomic<int> Execucoes{0};  // runs begun (AtualizarConfiguracoes)
    std::atomic<int> Blocos{0};     // blocks sent
    std::function<void(const std::string& operacao)> AoChamar;

    void AtualizarConfiguracoes() override {
        ++Execucoes;
        Chamar("configuracoes");
    }
    std::string LinkCentral() override { return "http://central.invalid/"; }
    std::int32_t CodigoLoja() override { return 7; }
    std::int64_t UltimoRecebimento() override { return 0; }
    std::int64_t UltimaOrdemLoja() override { return Loja; }
    void ObterEstruturaBanco(const std::string&) override { Chamar("estrutura"); }
    std::int64_t ReceberDados(const std::string&, std::int32_t, std::int64_t, std::int64_t) override {
        Chamar("receber");
        return 0;  // nothing left
    }
    sync::TPosicaoEnvio UltimoMovimentoEnviado(const std::string&, std::int32_t, std::int64_t loja) override {
        Chamar("posicao");
        return {Servidor, loja};
    }
    bool EnviarDados(const std::string&, std::int32_t, std::int64_t Ordem) override {
        db::MarcaOcupado ocupado;
        Chamar("enviar");
        Servidor = std::min<std::int64_t>(Loja, Ordem + 1000);
        ++Blocos;
        return true;
    }
    std::optional<sync::TRecusa> Recusa() override { return std::nullopt; }

private:
    void Chamar(const char* operacao) {
        if (AoChamar) AoChamar(operacao);
    }
};

}  // namespace ondaris::teste
