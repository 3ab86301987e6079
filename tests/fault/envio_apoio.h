#pragma once
// What the sending fault tests share: store terminals that keep a
// transaction open, an agent driven in this process run by run (the real
// engine: TDM, TOperacoesMotor and TCiclo, as both programs bind them), and
// a minimal central server inside the process that keeps the store's
// acknowledged position.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <unistd.h>
#include <vector>

#include "db/conexao.h"
#include "db/consulta.h"
#include "db/udm.h"
#include "protocolo/json.h"
#include "support/banco_teste.h"
#include "support/janela_gravadora.h"
#include "support/servidor_http.h"
#include "sync/ciclo.h"
#include "sync/operacoes.h"

namespace ondaris::teste::envio {

// A store terminal: one attachment (as SYSDBA, a store user whose changes
// are logged) and one transaction of the given kind that the test ends.
class Terminal {
public:
    explicit Terminal(const BancoTeste& banco,
                      db::OpcoesTransacao opcoes = db::OpcoesTransacao::Escrita())
        : conexao_(banco.ParametrosSysdba(), "Terminal"),
          transacao_(conexao_, "Terminal", opcoes) {}
    ~Terminal() {
        // A test that failed half-way leaves its work uncommitted: drop it.
        try {
            if (transacao_.Ativa()) transacao_.Rollback();
        } catch (const std::exception& e) {
            ADD_FAILURE() << "a terminal's rollback failed: " << e.what();
        }
    }

    // Runs a statement in the terminal's transaction (starting it when
    // needed); a SELECT is opened and read to its first row.
    void Executar(const std::string& sql) {
        if (!transacao_.Ativa()) transacao_.Iniciar();
        db::Consulta c(conexao_, transacao_, sql);
        if (sql.rfind("SELECT", 0) == 0) {
            c.Abrir();
            c.Fechar();
        } else {
            c.Executar();
        }
    }
    std::int64_t Inteiro(const std::string& sql) {
        if (!transacao_.Ativa()) transacao_.Iniciar();
        db::Consulta c(conexao_, transacao_, sql);
        EXPECT_TRUE(c.Abrir()) << sql;
        const auto v = c.Ler(std::size_t{0});
        c.Fechar();
        if (const auto* i = std::get_if<std::int64_t>(&v)) return *i;
        if (const auto* i = std::get_if<std::int32_t>(&v)) return *i;
        ADD_FAILURE() << sql << " gave no integer";
        return -1;
    }
    std::int64_t Transacao() { return Inteiro("SELECT CURRENT_TRANSACTION FROM RDB$DATABASE"); }
    std::int64_t Anexo() { return Inteiro("SELECT CURRENT_CONNECTION FROM RDB$DATABASE"); }
    void Commit() { transacao_.Commit(); }
    void Rollback() { transacao_.Rollback(); }

private:
    db::Conexao conexao_;
    db::Transacao transacao_;
};

inline constexpr db::OpcoesTransacao kSomenteLeitura{.SomenteLeitura = true};
inline constexpr db::OpcoesTransacao kInstantaneo = db::OpcoesTransacao::Escrita().Instantanea();
inline constexpr db::OpcoesTransacao kLeituraInstantanea = kSomenteLeitura.Instantanea();

// A folder with the agent's "korvin.ini"; removed with its content.
class PastaAgente {
public:
    explicit PastaAgente(const std::string& conteudoIni) {
        static int contador = 0;
        caminho_ = std::filesystem::temp_directory_path() /
                   ("ondaris-envio-" + std::to_string(::getpid()) + "-" + std::to_string(contador++));
        std::filesystem::create_directories(caminho_);
        std::ofstream(caminho_ / "korvin.ini") << conteudoIni;
    }
    ~PastaAgente() {
        std::error_code ignorado;
        std::filesystem::remove_all(caminho_, ignorado);
    }
    PastaAgente(const PastaAgente&) = delete;
    PastaAgente& operator=(const PastaAgente&) = delete;
    std::string Pasta() const { return caminho_.string() + "/"; }

private:
    std::filesystem::path caminho_;
};

inline std::string Ini(const BancoTeste& banco, const std::string& servidor = "127.0.0.1",
                       const std::string& extra = "") {
    return "[Korvin]\nServidor=" + servidor + "\nCaminho=" + banco.Caminho() + "\n" + extra;
}

// One agent, run by run as a program runs it: what a run raises becomes a
// log entry, as the program's exception handler writes it, and the next run
// comes. The pause before sending takes no time.
class Agente {
public:
    explicit Agente(const std::string& pasta)
        : DM(db::OpcoesTDM{.Pasta = pasta}),
          Operacoes(DM, Janela,
                    sync::TContextoServidor{.TempoLimite = 10000,
                                            .Regional = protocolo::TConfiguracoesRegionais::Brasileiras()},
                    pasta),
          Ciclo(
              Operacoes, Janela, [this](const std::string& m) { Registros.push_back(m); },
              [](std::chrono::milliseconds) {}) {
        // A lost attachment is tried again at once rather than after pauses.
        DM.ConexaoGlobal().DefinirPausa([](std::chrono::milliseconds) {});
    }

    // Start-up: opens the store database; a failure is logged and start-up
    // goes on, as in both programs.
    bool Iniciar() { return Registrar([&] { DM.DataModuleCreate(); }); }
    // One whole run; false when it raised.
    bool Rodar() { return Registrar([&] { Ciclo.TimerTimer(); }); }

    db::TDM DM;
    JanelaGravadora Janela;
    sync::TOperacoesMotor Operacoes;
    std::vector<std::string> Registros;  // every log entry, in order
    std::vector<std::string> Falhas;     // the entries of failed runs
    sync::TCiclo Ciclo;

private:
    template <class F>
    bool Registrar(F&& f) {
        try {
            f();
            return true;
        } catch (const std::exception& e) {
            Registros.push_back(e.what());
            Falhas.push_back(e.what());
            return false;
        }
    }
};

// The central server's side for one store, reduced to sending: it answers
// the structure and receive requests with nothing to do, keeps the store's
// acknowledged position (moved by each accepted block to its "ordemfinal")
// and every position it received.
class CentralMinima {
public:
    explicit CentralMinima(std::int32_t loja) : loja_(std::to_string(loja)) {
        http_.Manipulador([this](const RequisicaoRecebida& r) { return Atender(r); });
    }
    std::string Url() const { return http_.Base(); }
    std::int64_t Confirmada() const {
        std::lock_guard trava(mutex_);
        return confirmada_;
    }
    std::set<std::int64_t> Recebidas() const {
        std::lock_guard trava(mutex_);
        return recebidas_;
    }

private:
    RespostaProgramada Atender(const RequisicaoRecebida& r) {
        std::lock_guard trava(mutex_);
        if (r.Caminho == "/estruturabd")
            return RespostaProgramada::Json(R"([{"tabela":"PRODUTOS","campo":"CODIGO","chave":"S"}])");
        if (r.Caminho.rfind("/receber/" + loja_ + "/", 0) == 0)
            return RespostaProgramada::Json(R"({"ordeminicial":"0","ordemfinal":"0","ultimaordem":"0","comandos":[]})");
        if (r.Caminho.rfind("/obterindiceenvio/" + loja_ + "/", 0) == 0) {
            const std::string loja = r.Caminho.substr(r.Caminho.rfind('/') + 1);
            return RespostaProgramada::Json(R"({"ultimaordemenviada":)" + std::to_string(confirmada_) +
                                            R"(,"ultimomovimentoloja":)" + loja + "}");
        }
        if (r.Metodo == "PUT" && r.Caminho == "/enviar/" + loja_) {
            const auto corpo = protocolo::LerJSON(r.Corpo);
            if (!corpo || !corpo->Membro("comandos") || !corpo->Membro("ordemfinal"))
                return RespostaProgramada::Texto("corpo inesperado", 400);
            for (const auto& c : corpo->Membro("comandos")->Elementos())
                recebidas_.insert(std::stoll(c.Membro("ordem")->Bruto()));
            confirmada_ = std::max<std::int64_t>(confirmada_, std::stoll(corpo->Membro("ordemfinal")->Bruto()));
            return RespostaProgramada::Json("{}");
        }
        return RespostaProgramada::Texto("rota desconhecida", 404);
    }

    std::string loja_;
    mutable std::mutex mutex_;
    std::int64_t confirmada_ = 0;
    std::set<std::int64_t> recebidas_;
    ServidorHttp http_;  // last: it stops before the state it uses goes
};

// The settings row of a store that sends to `url`.
inline void ConfigurarEnvio(const BancoTeste& banco, std::int32_t loja, const std::string& url) {
    banco.ExecutarSql(
        "INSERT INTO RPL_CONFIGURACOES (CODIGO, CODIGOLOJA, LINKCENTRAL, NIVELREPLICACAO, ULTIMORECEBIMENTO)"
        " VALUES (1, " + std::to_string(loja) + ", '" + url + "', 1, 0);");
}

// Logged store changes, committed: one new product each.
inline void Vender(const BancoTeste& banco, int primeiro, int quantos) {
    std::string sql;
    for (int i = 0; i < quantos; ++i)
        sql += "INSERT INTO PRODUTOS (CODIGO, DESCRICAO) VALUES (" + std::to_string(primeiro + i) + ", 'Venda');\n";
    banco.ExecutarSql(sql);
}

// The highest committed log position.
inline std::int64_t FimDoLog(const BancoTeste& banco) {
    db::Conexao c(banco.ParametrosSysdba(), "FimDoLog");
    db::Transacao t(c, "FimDoLog", db::OpcoesTransacao::EscritaAutomatica());
    db::Consulta q(c, t, "SELECT COALESCE(MAX(ORDEM), 0) AS M FROM LOG_REPLICACAO");
    q.Abrir();
    const auto m = q.Ler<std::int64_t>("M").value_or(-1);
    q.Fechar();
    return m;
}

}  // namespace ondaris::teste::envio
