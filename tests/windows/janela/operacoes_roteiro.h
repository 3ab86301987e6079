#pragma once
// Server operations that follow a script instead of talking to a database
// and a central server, for driving the Win32 window's cycle under wine,
// where neither exists: the store's log has `UltimaOrdemLoja` rows, the
// server holds them up to `Servidor`, each block sent moves that up by at
// most one block of rows, and there is nothing to receive. Every operation first
// calls `AoChamar` with its name ("configuracoes", "estrutura", "receber",
// "posicao", "enviar"): a test may hold the run there, or throw to end it
// as a failure would. Sending counts as statements running (the database
// layer's busy mark), as sending a real block does.
//
// The operations run on the window's worker thread; the counters are
// atomic so that a test's thread may read them.
#include "db/ocupado.h"
#include "protocolo/regras.h"
#include "sync/ciclo.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
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
    std::optional<sync::TRecusa> ObterEstruturaBanco(const std::string&) override {
        Chamar("estrutura");
        return std::nullopt;
    }
    std::unique_ptr<sync::ISessaoRecebimento> AbrirRecebimento(std::int64_t) override {
        return std::make_unique<Recebimento>(*this);
    }
    sync::TResultado<sync::TPosicaoEnvio> UltimoMovimentoEnviado(const std::string&, std::int32_t,
                                                                 std::int64_t loja) override {
        Chamar("posicao");
        return sync::TPosicaoEnvio{Servidor, loja};
    }
    std::unique_ptr<sync::ISessaoEnvio> AbrirEnvio() override { return std::make_unique<Envio>(*this); }

private:
    class Recebimento final : public sync::ISessaoRecebimento {
    public:
        explicit Recebimento(OperacoesRoteiro& o) : o_(o) {}
        sync::TResultado<std::int64_t> ReceberDados(const std::string&, std::int32_t, std::int64_t) override {
            o_.Chamar("receber");
            return std::int64_t{0};  // nothing left
        }

    private:
        OperacoesRoteiro& o_;
    };
    class Envio final : public sync::ISessaoEnvio {
    public:
        explicit Envio(OperacoesRoteiro& o) : o_(o) {}
        sync::TBlocoEnviado EnviarDados(const std::string&, std::int32_t, std::int64_t Ordem) override {
            db::MarcaOcupado ocupado;
            o_.Chamar("enviar");
            o_.Servidor = std::min<std::int64_t>(o_.Loja, Ordem + protocolo::TamanhoBloco);
            ++o_.Blocos;
            return {true, std::nullopt};
        }

    private:
        OperacoesRoteiro& o_;
    };

    void Chamar(const char* operacao) {
        if (AoChamar) AoChamar(operacao);
    }
};

}  // namespace ondaris::teste
