// The central server under a chain's load, over real HTTP: the answer time a
// store sees is what is measured.
//
// Fan-out: one store sends a large change (blocks of 1000 commands, each a
// row of a dozen columns, for every store), then many stores receive it
// until they are caught up, a fixed number of them at a time (the client
// threads); the total time is printed. A sample of the stores has every
// block counted, so a run that served less than the change does not pass.
//
// Rhythm: a chain of stores, each running its cycle every period (the
// structure list, receiving until nothing waits, asking how far its log is
// held, and now and then sending a few commands: mostly sales addressed to
// the head office, store 1, and seldom a customer record for everyone,
// where stores may change the same row). The cycles start at their own
// times, spread over the period and run at those times whatever the server
// does; the window may be shorter than the period, and the period may be
// compressed by a factor. The 50th, 95th and 99th percentiles of the
// answer times are printed, per endpoint and in all. The server first holds
// a history the stores have already received.
//
// The server runs in this process on the given store location, which must
// be empty (a new SQLite file, by default one in the temporary folder,
// removed afterwards; or whatever location the central server's --banco
// takes), or is reached at --url (an ondaris-central started by hand on an
// empty store of commands, for instance over PostgreSQL).
//
//   bench_central [--cenario fanout|ritmo|ambos] [--banco LOCAL | --url http://HOST:PORTA]
//                 [--lojas 500] [--linhas 100000] [--clientes 16]
//                 [--lojas-ritmo 5000] [--periodo 120] [--janela 120] [--compressao 1]
//                 [--historico 100000]
#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <unistd.h>
#include <vector>

#include "central/armazem.h"
#include "central/http.h"
#include "central/servidor.h"

namespace {

using Relogio = std::chrono::steady_clock;

const char* kEstrutura =
    R"([{"tabela":"PRODUTOS","campo":"CODIGO","chave":"PRIMARY KEY"},)"
    R"({"tabela":"VENDAS","campo":"ID","chave":"PRIMARY KEY"},)"
    R"({"tabela":"CLIENTES","campo":"CODIGO","chave":"PRIMARY KEY"}])";

double Segundos(Relogio::time_point desde) { return std::chrono::duration<double>(Relogio::now() - desde).count(); }

struct Opcoes {
    std::string cenario = "ambos";
    std::string banco;
    std::string url;
    int lojas = 500;
    int linhas = 100000;
    int clientes = 16;
    int lojasRitmo = 5000;
    double periodo = 120;
    double janela = 120;
    double compressao = 1;
    int historico = 100000;
};

// A product row of a dozen columns, as a store's log writes it.
std::string ComandoProduto(std::int64_t ordem, std::int64_t codigo, const std::string& destino) {
    const int n = static_cast<int>(codigo % 1000);
    char campos[640];
    std::snprintf(campos, sizeof campos,
                  R"({"CODIGO":"%lld","DESCRICAO":"Produto n\u00famero %lld","UNIDADE":"UN","GRUPO":"%d",)"
                  R"("MARCA":"Marca %d","PRECOVENDA":"%d,%02d","PRECOCUSTO":"%d,%02d","ESTOQUE":"%d,%04d",)"
                  R"("PESO":"%d,%d","ATIVO":"%s","ALTERADOEM":"%02d/%02d/2026 %02d:%02d:%02d",)"
                  R"("OBSERVACAO":"observa\u00e7\u00e3o do item %d"})",
                  static_cast<long long>(codigo), static_cast<long long>(codigo), n % 40, n % 70, 10 + n, n % 100,
                  5 + n / 2, n % 100, n % 97, n * 7 % 10000, n, n % 9, n % 2 ? "True" : "False", 1 + n % 28,
                  1 + n % 12, n % 24, n % 60, (n * 3) % 60, n);
    return R"({"ordem":")" + std::to_string(ordem) + R"(","codigolojadestino":")" + destino +
           R"(","acao":"U","tabela":"PRODUTOS","atualvalorchave1":")" + std::to_string(codigo) +
           R"(","atualvalorchave2":"","novovalorchave1":"","ocorrencialocal":"10/12/2026 14:32:05","idtransacao":")" +
           std::to_string(ordem / 50 + 1) + R"(","campos":)" + campos + "}";
}

// A sale (its own row) or a customer record (a row shared by the chain).
std::string ComandoPequeno(std::int64_t ordem, const std::string& tabela, const std::string& chave,
                           const std::string& destino) {
    return R"({"ordem":")" + std::to_string(ordem) + R"(","codigolojadestino":")" + destino +
           R"(","acao":"U","tabela":")" + tabela + R"(","atualvalorchave1":")" + chave +
           R"(","atualvalorchave2":"","novovalorchave1":"","ocorrencialocal":"10/12/2026 14:32:05","idtransacao":")" +
           std::to_string(ordem) + R"(","campos":{"ID":")" + chave +
           R"(","VALOR":"123,45","QUANTIDADE":"2","VENDEDOR":"7","DATA":"10/12/2026","HORA":"14:32:05",)"
           R"("DESCONTO":"0,00","CLIENTE":"88","FORMA":"1","SITUACAO":"F","CAIXA":"3","TURNO":"2"}})";
}

std::string Bloco(int loja, std::int64_t inicial, std::int64_t final, const std::vector<std::string>& comandos) {
    std::string corpo = R"({"codigolojaorigem":")" + std::to_string(loja) + R"(","ordeminicial":")" +
                        std::to_string(inicial) + R"(","ordemfinal":")" + std::to_string(final) + R"(","comandos":[)";
    for (std::size_t i = 0; i < comandos.size(); ++i) corpo += (i ? "," : "") + comandos[i];
    return corpo + "]}";
}

// A member's text near the start of an answer ("ordemfinal", "ultimaordem",
// "ultimaordemenviada"), without reading the whole answer.
std::int64_t MembroInicial(const std::string& corpo, std::string_view nome) {
    const std::string chave = "\"" + std::string(nome) + "\":\"";
    const std::size_t p = corpo.find(chave);
    if (p == std::string::npos || p > 200) throw std::runtime_error("resposta sem " + std::string(nome) + ": " + corpo.substr(0, 200));
    return std::strtoll(corpo.c_str() + p + chave.size(), nullptr, 10);
}

std::size_t ContarComandos(const std::string& corpo) {
    std::size_t n = 0;
    for (std::size_t p = corpo.find("\"ordem\":\""); p != std::string::npos; p = corpo.find("\"ordem\":\"", p + 1)) ++n;
    return n;
}

// The most this process has held in memory, and what it holds now (the
// server's share when it runs here).
std::string MemoriaDoProcesso() {
    std::FILE* f = std::fopen("/proc/self/status", "r");
    if (!f) return "?";
    std::string texto;
    char linha[256];
    while (std::fgets(linha, sizeof linha, f)) {
        const std::string l = linha;
        if (l.rfind("VmHWM:", 0) == 0 || l.rfind("VmRSS:", 0) == 0) {
            std::string valor = l.substr(6);
            valor.erase(0, valor.find_first_not_of(" \t"));
            valor.erase(valor.find_last_not_of(" \n") + 1);
            texto += (texto.empty() ? "pico " : ", agora ") + valor;
        }
    }
    std::fclose(f);
    return texto;
}

// The server: in this process over a store location, or elsewhere.
class Alvo {
public:
    explicit Alvo(const Opcoes& o) {
        if (!o.url.empty()) {
            const std::string semEsquema = o.url.substr(o.url.find("://") == std::string::npos ? 0 : o.url.find("://") + 3);
            const auto doisPontos = semEsquema.find(':');
            Host_ = semEsquema.substr(0, doisPontos);
            Porta_ = doisPontos == std::string::npos ? 80 : std::stoi(semEsquema.substr(doisPontos + 1));
            return;
        }
        Banco_ = o.banco;
        if (Banco_.empty()) {
            Banco_ = (std::filesystem::temp_directory_path() / ("bench-central-" + std::to_string(getpid()) + ".sqlite")).string();
            Temporario_ = true;
        }
        // Measured on an empty store of commands; someone's file is never
        // touched.
        if (!Temporario_ && Banco_.find("://") == std::string::npos && std::filesystem::exists(Banco_))
            throw std::runtime_error(Banco_ + " já existe: o bench precisa de um banco novo");
        Armazem_ = std::make_unique<ondaris::central::Armazem>(Banco_);
        Central_ = std::make_unique<ondaris::central::ServidorCentral>(*Armazem_, kEstrutura);
        Servidor_ = std::make_unique<ondaris::central::ServidorHttp>();
        Central_->Registrar(*Servidor_);
        Porta_ = Servidor_->bind_to_any_port("127.0.0.1");
        if (Porta_ <= 0) throw std::runtime_error("não foi possível escutar");
        Fio_ = std::thread([this] { Servidor_->listen_after_bind(); });
        while (!Servidor_->is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ~Alvo() {
        if (Fio_.joinable()) {
            Servidor_->stop();
            Fio_.join();
        }
        Central_.reset();
        Armazem_.reset();
        if (Temporario_)
            for (auto sufixo : {"", "-wal", "-shm"}) std::filesystem::remove(Banco_ + sufixo);
    }
    std::string Descricao() const { return Armazem_ ? "no processo, banco " + Banco_ : "em " + Host_ + ":" + std::to_string(Porta_); }

    // One request on a connection of its own, as the agents do. Throws on
    // anything but 200.
    std::string Get(const std::string& caminho) const {
        httplib::Client c(Host_, Porta_);
        c.set_read_timeout(120, 0);
        auto r = c.Get(caminho.c_str());
        if (!r || r->status != 200)
            throw std::runtime_error("GET " + caminho + ": " + (r ? std::to_string(r->status) + " " + r->body : "sem resposta"));
        return std::move(r->body);
    }
    std::string Put(const std::string& caminho, const std::string& corpo) const {
        httplib::Client c(Host_, Porta_);
        c.set_read_timeout(120, 0);
        auto r = c.Put(caminho.c_str(), corpo, "application/json");
        if (!r || r->status != 200)
            throw std::runtime_error("PUT " + caminho + ": " + (r ? std::to_string(r->status) + " " + r->body : "sem resposta"));
        return std::move(r->body);
    }

private:
    std::string Host_ = "127.0.0.1";
    int Porta_ = 0;
    std::string Banco_;
    bool Temporario_ = false;
    std::unique_ptr<ondaris::central::Armazem> Armazem_;
    std::unique_ptr<ondaris::central::ServidorCentral> Central_;
    std::unique_ptr<ondaris::central::ServidorHttp> Servidor_;
    std::thread Fio_;
};

// Sends `linhas` product rows from `loja`, for every store, in blocks of
// 1000 commands; its log starts after `ordemAnterior`.
void EnviarMudanca(const Alvo& alvo, int loja, std::int64_t ordemAnterior, int linhas) {
    for (int feito = 0; feito < linhas;) {
        const int n = std::min(1000, linhas - feito);
        std::vector<std::string> comandos;
        comandos.reserve(static_cast<std::size_t>(n));
        const std::int64_t inicial = ordemAnterior + feito + 1;
        for (int i = 0; i < n; ++i) comandos.push_back(ComandoProduto(inicial + i, feito + i + 1, "0"));
        alvo.Get("/obterindiceenvio/" + std::to_string(loja) + "/" + std::to_string(inicial + n - 1));
        alvo.Put("/enviar/" + std::to_string(loja), Bloco(loja, inicial, inicial + n - 1, comandos));
        feito += n;
    }
}

// The last position a store with nothing of its own is served up to.
std::int64_t PosicaoFinal(const Alvo& alvo, int lojaSemNada, std::int64_t desde) {
    std::int64_t ultima = MembroInicial(alvo.Get("/receber/" + std::to_string(lojaSemNada) + "/" + std::to_string(desde)), "ultimaordem");
    return ultima ? ultima : desde;
}

void Fanout(const Opcoes& o) {
    Alvo alvo(o);
    std::printf("Fan-out: %d linhas de uma loja para %d lojas, %d threads clientes; servidor %s\n", o.linhas, o.lojas,
                o.clientes, alvo.Descricao().c_str());
    auto inicio = Relogio::now();
    EnviarMudanca(alvo, 1, 0, o.linhas);
    std::printf("  envio: %.1f s (%d blocos)\n", Segundos(inicio), (o.linhas + 999) / 1000);
    const std::int64_t fim = PosicaoFinal(alvo, 1000000, 0);

    std::atomic<int> proxima{0};
    std::atomic<long long> requisicoes{0}, bytes{0};
    std::mutex mutex;
    std::string erro;
    std::vector<double> tempos;  // per request, ms
    inicio = Relogio::now();
    std::vector<std::thread> fios;
    for (int t = 0; t < o.clientes; ++t)
        fios.emplace_back([&] {
            std::vector<double> meus;
            try {
                for (int i; (i = proxima++) < o.lojas;) {
                    const int loja = 2 + i;
                    const bool contar = i % 50 == 0;
                    std::int64_t posicao = 0;
                    std::size_t recebidos = 0;
                    for (;;) {
                        const auto antes = Relogio::now();
                        const std::string corpo = alvo.Get("/receber/" + std::to_string(loja) + "/" + std::to_string(posicao));
                        meus.push_back(Segundos(antes) * 1000);
                        ++requisicoes;
                        bytes += static_cast<long long>(corpo.size());
                        if (MembroInicial(corpo, "ultimaordem") == 0) break;
                        const std::int64_t final = MembroInicial(corpo, "ordemfinal");
                        if (final <= posicao) throw std::runtime_error("o bloco não avança a posição");
                        if (contar) recebidos += ContarComandos(corpo);
                        posicao = final;
                    }
                    if (posicao != fim)
                        throw std::runtime_error("a loja " + std::to_string(loja) + " parou em " + std::to_string(posicao) +
                                                 ", não em " + std::to_string(fim));
                    if (contar && recebidos != static_cast<std::size_t>(o.linhas))
                        throw std::runtime_error("a loja " + std::to_string(loja) + " recebeu " + std::to_string(recebidos) +
                                                 " comandos, não " + std::to_string(o.linhas));
                }
            } catch (const std::exception& e) {
                std::lock_guard trava(mutex);
                erro = e.what();
                proxima = o.lojas;
            }
            std::lock_guard trava(mutex);
            tempos.insert(tempos.end(), meus.begin(), meus.end());
        });
    for (auto& f : fios) f.join();
    const double total = Segundos(inicio);
    if (!erro.empty()) throw std::runtime_error(erro);
    std::sort(tempos.begin(), tempos.end());
    const auto pct = [&](double p) { return tempos.empty() ? 0.0 : tempos[static_cast<std::size_t>(p * (tempos.size() - 1))]; };
    std::printf("  recebimento: %.1f s para %d lojas (%lld requisições, %.1f GB; por requisição p50 %.1f ms, p99 %.1f ms)\n",
                total, o.lojas, requisicoes.load(), bytes.load() / 1e9, pct(0.5), pct(0.99));
    std::printf("  memória deste processo: %s\n", MemoriaDoProcesso().c_str());
}

struct LojaRitmo {
    int Codigo = 0;
    std::int64_t Recebida = 0;  // the position it has received up to
    std::int64_t Log = 0;       // the end of its own log
};

void Ritmo(const Opcoes& o) {
    Alvo alvo(o);
    std::printf("Ritmo: %d lojas, cada uma a cada %.0f s (comprimido %.1fx), janela de %.0f s, %d threads clientes;"
                " servidor %s\n",
                o.lojasRitmo, o.periodo, o.compressao, o.janela, o.clientes, alvo.Descricao().c_str());
    // The history every store has already received, from a store outside
    // the chain measured.
    auto inicio = Relogio::now();
    const int lojaHistorico = o.lojasRitmo + 1;
    EnviarMudanca(alvo, lojaHistorico, 0, o.historico);
    const std::int64_t base = PosicaoFinal(alvo, 1000000, 0);
    std::printf("  histórico: %d comandos em %.1f s\n", o.historico, Segundos(inicio));

    std::vector<LojaRitmo> lojas(static_cast<std::size_t>(o.lojasRitmo));
    for (int i = 0; i < o.lojasRitmo; ++i) lojas[static_cast<std::size_t>(i)] = {i + 1, base, 0};
    // Each store's cycles: its offset in the period, then every period.
    struct Ciclo {
        double Quando;
        int Loja;
    };
    std::vector<Ciclo> ciclos;
    std::mt19937 sorteio(42);
    const double periodo = o.periodo / o.compressao;
    for (int i = 0; i < o.lojasRitmo; ++i) {
        const double desvio = std::uniform_real_distribution<double>(0, periodo)(sorteio);
        for (double t = desvio; t < o.janela; t += periodo) ciclos.push_back({t, i});
    }
    std::sort(ciclos.begin(), ciclos.end(), [](const Ciclo& a, const Ciclo& b) { return a.Quando < b.Quando; });

    std::map<std::string, std::vector<double>> tempos;  // per endpoint, ms
    std::mutex mutex;
    std::string erro;
    std::atomic<std::size_t> proximo{0};
    std::atomic<long long> enviados{0}, recebidos{0};
    double atrasoMaximo = 0;
    inicio = Relogio::now();
    std::vector<std::thread> fios;
    for (int t = 0; t < o.clientes; ++t)
        fios.emplace_back([&, t] {
            std::map<std::string, std::vector<double>> meus;
            double meuAtraso = 0;
            std::mt19937 acaso(static_cast<unsigned>(1000 + t));
            const auto medir = [&](const char* nome, auto&& pedido) {
                const auto antes = Relogio::now();
                std::string corpo = pedido();
                meus[nome].push_back(Segundos(antes) * 1000);
                return corpo;
            };
            try {
                for (std::size_t i; (i = proximo++) < ciclos.size();) {
                    const Ciclo& ciclo = ciclos[i];
                    const auto quando = inicio + std::chrono::duration_cast<Relogio::duration>(
                                                     std::chrono::duration<double>(ciclo.Quando));
                    std::this_thread::sleep_until(quando);
                    meuAtraso = std::max(meuAtraso, Segundos(quando));
                    LojaRitmo& loja = lojas[static_cast<std::size_t>(ciclo.Loja)];
                    const std::string codigo = std::to_string(loja.Codigo);
                    medir("estruturabd", [&] { return alvo.Get("/estruturabd"); });
                    for (;;) {
                        const std::string corpo = medir("receber", [&] {
                            return alvo.Get("/receber/" + codigo + "/" + std::to_string(loja.Recebida));
                        });
                        if (MembroInicial(corpo, "ultimaordem") == 0) break;
                        recebidos += static_cast<long long>(ContarComandos(corpo));
                        loja.Recebida = MembroInicial(corpo, "ordemfinal");
                    }
                    // Now and then a few sales for the head office, seldom
                    // a customer record for everyone.
                    std::vector<std::string> comandos;
                    if (std::uniform_real_distribution<double>(0, 1)(acaso) < 0.5) {
                        const int n = std::uniform_int_distribution<int>(1, 10)(acaso);
                        for (int k = 0; k < n; ++k) {
                            const std::int64_t ordem = loja.Log + k + 1;
                            comandos.push_back(ComandoPequeno(ordem, "VENDAS", codigo + "-" + std::to_string(ordem),
                                                              loja.Codigo == 1 ? "2" : "1"));
                        }
                    }
                    if (std::uniform_real_distribution<double>(0, 1)(acaso) < 0.02) {
                        const std::int64_t ordem = loja.Log + static_cast<std::int64_t>(comandos.size()) + 1;
                        comandos.push_back(ComandoPequeno(
                            ordem, "CLIENTES", std::to_string(std::uniform_int_distribution<int>(1, 200)(acaso)), "0"));
                    }
                    const std::int64_t inicial = loja.Log + 1;
                    loja.Log += static_cast<std::int64_t>(comandos.size());
                    const std::string indice = medir("obterindiceenvio", [&] {
                        return alvo.Get("/obterindiceenvio/" + codigo + "/" + std::to_string(loja.Log));
                    });
                    if (!comandos.empty()) {
                        if (MembroInicial(indice, "ultimaordemenviada") != inicial - 1)
                            throw std::runtime_error("a loja " + codigo + " tem o log no servidor até " +
                                                     std::to_string(MembroInicial(indice, "ultimaordemenviada")));
                        medir("enviar", [&] { return alvo.Put("/enviar/" + codigo, Bloco(loja.Codigo, inicial, loja.Log, comandos)); });
                        enviados += static_cast<long long>(comandos.size());
                    }
                }
            } catch (const std::exception& e) {
                std::lock_guard trava(mutex);
                erro = e.what();
                proximo = ciclos.size();
            }
            std::lock_guard trava(mutex);
            atrasoMaximo = std::max(atrasoMaximo, meuAtraso);
            for (auto& [nome, lista] : meus) {
                tempos[nome].insert(tempos[nome].end(), lista.begin(), lista.end());
                tempos["todas"].insert(tempos["todas"].end(), lista.begin(), lista.end());
            }
        });
    for (auto& f : fios) f.join();
    if (!erro.empty()) throw std::runtime_error(erro);
    std::printf("  %zu ciclos em %.1f s; %lld comandos enviados, %lld recebidos; maior atraso de início de ciclo %.2f s\n",
                ciclos.size(), Segundos(inicio), enviados.load(), recebidos.load(), atrasoMaximo);
    for (auto& [nome, lista] : tempos) {
        std::sort(lista.begin(), lista.end());
        const auto pct = [&](double p) { return lista[static_cast<std::size_t>(p * (lista.size() - 1))]; };
        std::printf("  %-17s %7zu respostas  p50 %7.2f ms  p95 %7.2f ms  p99 %7.2f ms  máx %7.1f ms\n", nome.c_str(),
                    lista.size(), pct(0.5), pct(0.95), pct(0.99), lista.back());
    }
    std::printf("  memória deste processo: %s\n", MemoriaDoProcesso().c_str());
}

}  // namespace

int main(int argc, char** argv) {
    Opcoes o;
    try {
        for (int i = 1; i < argc; ++i) {
            const std::string a = argv[i];
            if (i + 1 >= argc) throw std::invalid_argument(a + " precisa de um valor");
            const std::string v = argv[++i];
            if (a == "--cenario") o.cenario = v;
            else if (a == "--banco") o.banco = v;
            else if (a == "--url") o.url = v;
            else if (a == "--lojas") o.lojas = std::stoi(v);
            else if (a == "--linhas") o.linhas = std::stoi(v);
            else if (a == "--clientes") o.clientes = std::stoi(v);
            else if (a == "--lojas-ritmo") o.lojasRitmo = std::stoi(v);
            else if (a == "--periodo") o.periodo = std::stod(v);
            else if (a == "--janela") o.janela = std::stod(v);
            else if (a == "--compressao") o.compressao = std::stod(v);
            else if (a == "--historico") o.historico = std::stoi(v);
            else throw std::invalid_argument("argumento desconhecido " + a);
        }
        if (o.cenario != "fanout" && o.cenario != "ritmo" && o.cenario != "ambos")
            throw std::invalid_argument("--cenario deve ser fanout, ritmo ou ambos");
        if ((!o.url.empty() || !o.banco.empty()) && o.cenario == "ambos")
            throw std::invalid_argument("com --banco ou --url, um cenário por vez (o banco deve começar vazio)");
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_central: %s\n", e.what());
        return 2;
    }
    try {
        if (o.cenario != "ritmo") Fanout(o);
        if (o.cenario != "fanout") Ritmo(o);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_central: falhou: %s\n", e.what());
        return 1;
    }
    return 0;
}
