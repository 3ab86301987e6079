// Store to store: N price rows changed in store 1 by one EXECUTE BLOCK on
// the server (its logging triggers included: the raw write), then sent by
// store 1's real agent ("ondarisd --once") to the real central server, then
// received and applied by store 2's real agent. Each leg's time and rate,
// its ratio to the raw write of the same run, and each agent's peak
// resident memory are printed side by side; the stores are compared at the
// end so that a fast wrong run does not pass for a result.
//
//   bench_loja_a_loja [rows, default 100000] [rounds, default 1]
//
// Every round changes fresh keys. Run by hand; it is not a test.
#include <spawn.h>
#include <sys/resource.h>
#include <fcntl.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "db/conexao.h"
#include "db/consulta.h"
#include "support/banco_teste.h"
#include "support/loja_e2e.h"

extern char** environ;

namespace {

using namespace ondaris;
using Relogio = std::chrono::steady_clock;

struct Execucao {
    double Segundos = 0;
    long PicoKiB = 0;  // peak resident set size
    int Status = 0;
};

// Runs one agent to its end; wait4 gives its peak memory.
Execucao RodarAgente(const teste::AgenteE2E& agente, const std::vector<std::string>& ambienteExtra) {
    const std::string programa = (agente.Pasta() / "ondarisd").string();
    std::vector<std::string> ambiente;
    for (char** v = environ; *v; ++v) ambiente.emplace_back(*v);
    ambiente.insert(ambiente.end(), ambienteExtra.begin(), ambienteExtra.end());
    std::vector<char*> env, argv{const_cast<char*>(programa.c_str()), const_cast<char*>("--once"), nullptr};
    for (auto& e : ambiente) env.push_back(e.data());
    env.push_back(nullptr);
    posix_spawn_file_actions_t acoes;
    posix_spawn_file_actions_init(&acoes);
    posix_spawn_file_actions_addopen(&acoes, 1, "/dev/null", O_WRONLY, 0);
    const auto inicio = Relogio::now();
    pid_t pid = 0;
    if (posix_spawn(&pid, programa.c_str(), &acoes, nullptr, argv.data(), env.data()) != 0) {
        std::perror("posix_spawn");
        std::exit(2);
    }
    posix_spawn_file_actions_destroy(&acoes);
    int status = 0;
    rusage uso{};
    wait4(pid, &status, 0, &uso);
    Execucao r;
    r.Segundos = std::chrono::duration<double>(Relogio::now() - inicio).count();
    r.PicoKiB = uso.ru_maxrss;
    r.Status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return r;
}

double EscritaBruta(const teste::BancoTeste& loja, long linhas, long base) {
    db::ParametrosConexao p;
    p.Servidor = "127.0.0.1";
    p.Caminho = loja.Caminho();
    p.Usuario = "SYSDBA";
    p.Senha = teste::SenhaSysdba();
    db::Conexao conexao(p, "Bruta");
    db::Transacao t(conexao, "T", db::OpcoesTransacao::Escrita());
    db::Consulta bloco(conexao, t,
                       "EXECUTE BLOCK AS DECLARE I INTEGER = 0; BEGIN WHILE (I < " + std::to_string(linhas) +
                           ") DO BEGIN INSERT INTO PRECOS (CODIGOLOJA, CODIGOPRODUTO, PRECOVENDA, PRECOCUSTO, MARGEM,"
                           " VIGENCIA) VALUES (1, " + std::to_string(base) +
                           " + :I, 10.5 + :I, 7.25, 12.5, DATE '2026-12-10'); I = I + 1; END END");
    bloco.Preparar();
    t.Iniciar();
    const auto inicio = Relogio::now();
    bloco.Executar();
    t.Commit();
    return std::chrono::duration<double>(Relogio::now() - inicio).count();
}

}  // namespace

int main(int argc, char** argv) {
    const long linhas = argc > 1 ? std::atol(argv[1]) : 100000;
    const int rodadas = argc > 2 ? std::atoi(argv[2]) : 1;
    if (linhas <= 0 || rodadas <= 0) {
        std::fprintf(stderr, "usage: bench_loja_a_loja [rows] [rounds]\n");
        return 2;
    }
    teste::GarantirUsuarioReplicacao();
    teste::BancoTeste loja1, loja2;
    teste::CentralE2E central(teste::EstruturaDe(loja1));
    teste::ConfigurarLoja(loja1, 1, central.Url(1));
    teste::ConfigurarLoja(loja2, 2, central.Url(2));
    const auto brasil = teste::AmbienteBrasileiro();
    teste::AgenteE2E agente1(loja1, brasil), agente2(loja2, brasil);

    std::printf("%ld price rows store to store, %d round(s)\n", linhas, rodadas);
    std::printf("%-6s %-22s %10s %12s %9s %10s\n", "round", "leg", "seconds", "rows/s", "x raw", "peak MiB");
    bool iguais = true;
    for (int r = 0; r < rodadas; ++r) {
        const double bruta = EscritaBruta(loja1, linhas, 1000000L * (r + 1));
        const Execucao envio = RodarAgente(agente1, brasil);
        const Execucao aplicacao = RodarAgente(agente2, brasil);
        const auto linha = [&](const char* perna, double s, long kib) {
            std::printf("%-6d %-22s %10.2f %12.0f %9.2f %10s\n", r + 1, perna, s, linhas / s, s / bruta,
                        kib ? std::to_string(kib / 1024).c_str() : "-");
        };
        linha("raw write (server)", bruta, 0);
        linha("send (store 1 agent)", envio.Segundos, envio.PicoKiB);
        linha("apply (store 2 agent)", aplicacao.Segundos, aplicacao.PicoKiB);
        linha("store to store", envio.Segundos + aplicacao.Segundos, 0);
        if (envio.Status != 0 || aplicacao.Status != 0)
            std::printf("       an agent failed: send status %d, apply status %d\n", envio.Status, aplicacao.Status);
        teste::LeitorLoja l1(loja1), l2(loja2);
        const char* sql = "SELECT COUNT(*), SUM(PRECOVENDA), MAX(CODIGOPRODUTO) FROM PRECOS";
        iguais = iguais && l1.Linhas(sql) == l2.Linhas(sql);
    }
    std::printf("stores equal: %s\n", iguais ? "yes" : "NO");
    return iguais ? 0 : 1;
}
