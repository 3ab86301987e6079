// Receiving rate: blocks of 2000 update-or-insert commands, served by an
// HTTP server inside this process, are applied to a fresh store database
// through ReceberDados, with one receiving module per round as a run of the
// cycle keeps it; in the same run the same statement is prepared on
// its own connection and executed directly with the same values, already
// typed, committed where the receiver commits (at every change of
// transaction id, and at the end of a block). Both rates and their ratio
// are printed,
// so the cost of the exchange, the parsing, the binding by name and the
// position bookkeeping shows apart from the cost of the database.
//
// The two are interleaved over several rounds, each on fresh keys (every
// command inserts a row), so that a warming cache favours neither.
//
//   bench_receber [blocks per round] [commands per transaction id] [rounds]
#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <unistd.h>
#include <vector>

#include "db/consulta.h"
#include "db/leituras.h"
#include "db/udm.h"
#include "protocolo/json.h"
#include "support/banco_teste.h"
#include "support/servidor_http.h"
#include "sync/receber.h"

namespace {

using namespace ondaris;
using Relogio = std::chrono::steady_clock;

constexpr int kComandosPorBloco = 2000;
const char* const kColunas[] = {"ID", "DESCRICAO", "QUANTIDADE", "PRECO", "DATAVENDA",
                                "HORA", "ATIVO", "OBSERVACAO", "PESO"};
const char* const kSqlDireto =
    "UPDATE OR INSERT INTO ITENSBENCH(ID, DESCRICAO, QUANTIDADE, PRECO, DATAVENDA, HORA, ATIVO, OBSERVACAO, PESO) "
    "VALUES (:ID, :DESCRICAO, :QUANTIDADE, :PRECO, :DATAVENDA, :HORA, :ATIVO, :OBSERVACAO, :PESO)";

double Segundos(Relogio::time_point desde) { return std::chrono::duration<double>(Relogio::now() - desde).count(); }

// The column texts of one row, as another store writes them under the
// Brazilian settings.
std::vector<std::string> Textos(std::int64_t id) {
    const auto n = static_cast<int>(id % 1000);
    char quantidade[32], preco[32], data[16], hora[16], peso[32];
    std::snprintf(quantidade, sizeof quantidade, "%d,%04d", n % 97, n * 7 % 10000);
    std::snprintf(preco, sizeof preco, "%d,%02d", 1000 + n, n % 100);
    std::snprintf(data, sizeof data, "%02d/%02d/2024", 1 + n % 28, 1 + n % 12);
    std::snprintf(hora, sizeof hora, "%02d:%02d:%02d", n % 24, n % 60, (n * 3) % 60);
    std::snprintf(peso, sizeof peso, "%d,%d", n, n % 9);
    return {std::to_string(id),
            "Produto n\xC3\xBAmero " + std::to_string(id),
            quantidade,
            preco,
            data,
            hora,
            n % 2 ? "True" : "False",
            "observa\xC3\xA7\xC3\xA3o do item " + std::to_string(n),
            peso};
}

// The same values typed, as a program that knew the table would bind them.
std::vector<db::Valor> Valores(std::int64_t id, const protocolo::TConfiguracoesRegionais& br) {
    const auto t = Textos(id);
    return {db::Valor(static_cast<std::int32_t>(id)),
            db::Valor(t[1]),
            db::Valor(db::Numerico{db::LerNumerico(t[2], 4, br).value(), -4}),
            db::Valor(db::Numerico{db::LerNumerico(t[3], 2, br).value(), -2}),
            db::Valor(db::LerData(t[4], br)),
            db::Valor(db::LerHora(t[5], br)),
            db::Valor(*db::LerBooleano(t[6])),
            db::Valor(t[7]),
            db::Valor(db::LerDouble(t[8], br).value())};
}

// The answer to "receber/<store>/<position>" for the block after it.
std::string Bloco(std::int64_t primeiro, int quantidade, int porTransacao, std::int64_t ultimaOrdem) {
    protocolo::TValorJSON comandos = protocolo::TValorJSON::Matriz();
    for (int i = 0; i < quantidade; ++i) {
        const std::int64_t ordem = primeiro + i;
        protocolo::TValorJSON campos = protocolo::TValorJSON::Objeto();
        const auto textos = Textos(ordem);
        for (std::size_t c = 0; c < textos.size(); ++c)
            campos.Adicionar(kColunas[c], protocolo::TValorJSON::Texto(textos[c]));
        protocolo::TValorJSON comando = protocolo::TValorJSON::Objeto();
        comando.Adicionar("ordem", protocolo::TValorJSON::Numero(ordem));
        comando.Adicionar("codigolojaorigem", protocolo::TValorJSON::Texto("3"));
        comando.Adicionar("tabela", protocolo::TValorJSON::Texto("ITENSBENCH"));
        comando.Adicionar("acao", protocolo::TValorJSON::Texto("U"));
        comando.Adicionar("idtransacao", protocolo::TValorJSON::Texto(std::to_string(ordem / porTransacao)));
        comando.Adicionar("campos", std::move(campos));
        comandos.Adicionar(std::move(comando));
    }
    protocolo::TValorJSON corpo = protocolo::TValorJSON::Objeto();
    corpo.Adicionar("ordeminicial", protocolo::TValorJSON::Texto(std::to_string(primeiro)));
    corpo.Adicionar("ordemfinal", protocolo::TValorJSON::Texto(std::to_string(primeiro + quantidade - 1)));
    corpo.Adicionar("ultimaordem", protocolo::TValorJSON::Texto(std::to_string(ultimaOrdem)));
    corpo.Adicionar("comandos", std::move(comandos));
    return protocolo::EscreverJSONCompacto(corpo);
}

double SegundosCpu(std::clock_t desde) { return static_cast<double>(std::clock() - desde) / CLOCKS_PER_SEC; }

struct Medida {
    std::int64_t Comandos = 0;
    double Tempo = 0;
    double Cpu = 0;  // this process's processor time (the HTTP server's thread included)
    double Taxa() const { return Tempo > 0 ? static_cast<double>(Comandos) / Tempo : 0; }
};

}  // namespace

int main(int argc, char** argv) {
    const int blocos = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const int porTransacao = argc > 2 ? std::max(1, std::atoi(argv[2])) : 50;
    const int rodadas = argc > 3 ? std::max(1, std::atoi(argv[3])) : 3;
    const auto br = protocolo::TConfiguracoesRegionais::Brasileiras();
    try {
        teste::GarantirUsuarioReplicacao();
        teste::BancoTeste banco;
        banco.ExecutarSql(
            "CREATE TABLE ITENSBENCH (ID INTEGER NOT NULL PRIMARY KEY, DESCRICAO VARCHAR(60),"
            " QUANTIDADE NUMERIC(15,4), PRECO NUMERIC(15,2), DATAVENDA DATE, HORA TIME, ATIVO BOOLEAN,"
            " OBSERVACAO VARCHAR(100), PESO DOUBLE PRECISION);"
            "GRANT ALL ON ITENSBENCH TO USER ONDARIS;"
            "INSERT INTO RPL_CONFIGURACOES (CODIGO, CODIGOLOJA, LINKCENTRAL, NIVELREPLICACAO, ULTIMORECEBIMENTO)"
            " VALUES (1, 7, '', 1, 0);");
        const teste::PastaKorvin pasta(banco);
        const std::string pastaIni = pasta.Pasta();

        db::TDM dm(db::OpcoesTDM{.Pasta = pastaIni});
        dm.DataModuleCreate();
        for (const char* coluna : kColunas) dm.TBEstrutura().Adicionar("ITENSBENCH", coluna, "");

        // Every block of every round, rendered before any timing.
        const std::int64_t porRodada = static_cast<std::int64_t>(blocos) * kComandosPorBloco;
        std::map<std::int64_t, std::string> respostas;  // position asked -> body
        std::mutex mutex;
        teste::ServidorHttp servidor;
        servidor.Manipulador([&](const teste::RequisicaoRecebida& r) {
            std::lock_guard trava(mutex);
            const auto it = respostas.find(std::stoll(r.Caminho.substr(r.Caminho.rfind('/') + 1)));
            if (it == respostas.end())
                return teste::RespostaProgramada::Json(R"({"ordeminicial":"0","ordemfinal":"0","ultimaordem":"0"})");
            return teste::RespostaProgramada::Json(it->second);
        });

        sync::JanelaMuda janela;
        // One module per round, kept from block to block as the cycle keeps
        // it for a run.
        db::TModuloDaExecucao modulo;
        sync::TAmbienteRecebimento ambiente{dm, janela, sync::TContextoServidor{.Regional = br}, pastaIni, &modulo};

        db::Conexao conexao(db::ParametrosConexao{.Servidor = "127.0.0.1", .Caminho = banco.Caminho()});
        db::Transacao transacao(conexao, "TDireta",
                                db::OpcoesTransacao::Escrita());
        db::Consulta direta(conexao, transacao, kSqlDireto, "TBDIRETA");
        direta.Preparar();

        Medida recebido, direto;
        std::int64_t proximo = 1;
        std::printf("blocks of %d commands, %d blocks per round, %d commands per transaction id, %d rounds\n",
                    kComandosPorBloco, blocos, porTransacao, rodadas);
        for (int rodada = 0; rodada < rodadas; ++rodada) {
            // Direct: the same values, typed, one execute each, the same
            // transactions.
            const std::int64_t inicioDireto = proximo;
            std::vector<std::vector<db::Valor>> valores;
            for (std::int64_t id = inicioDireto; id < inicioDireto + porRodada; ++id)
                valores.push_back(Valores(id, br));
            proximo += porRodada;
            auto t0 = Relogio::now();
            auto c0 = std::clock();
            for (std::int64_t i = 0; i < porRodada; ++i) {
                if (!transacao.Ativa()) transacao.Iniciar();
                for (std::size_t c = 0; c < valores[static_cast<std::size_t>(i)].size(); ++c)
                    direta.DefinirPosicao(c, valores[static_cast<std::size_t>(i)][c]);
                direta.Executar();
                const std::int64_t ordem = inicioDireto + i;
                if ((i + 1) % kComandosPorBloco == 0 || (ordem + 1) / porTransacao != ordem / porTransacao)
                    transacao.Commit();
            }
            transacao.Commit();
            const double tDireto = Segundos(t0);
            direto.Cpu += SegundosCpu(c0);

            // Received: the same kind of values as texts, through the whole path.
            const std::int64_t inicioRecebido = proximo;
            proximo += porRodada;
            {
                std::lock_guard trava(mutex);
                respostas.clear();
                for (int b = 0; b < blocos; ++b) {
                    const std::int64_t primeiro = inicioRecebido + static_cast<std::int64_t>(b) * kComandosPorBloco;
                    respostas[primeiro - 1] =
                        Bloco(primeiro, kComandosPorBloco, porTransacao, inicioRecebido + porRodada - 1);
                }
            }
            dm.Configuracoes().GravarUltimoRecebimento(inicioRecebido - 1);
            t0 = Relogio::now();
            c0 = std::clock();
            for (std::int64_t posicao = inicioRecebido - 1;;) {
                const auto r = sync::ReceberDados(servidor.Base(), 7, posicao, ambiente);
                if (r.Recusado()) throw std::runtime_error("server refused a block: " + r.Recusa()->Conteudo);
                if (r->UltimaOrdem == 0) break;
                posicao = dm.Configuracoes().UltimoRecebimento();
            }
            modulo.Liberar();
            const double tRecebido = Segundos(t0);
            recebido.Cpu += SegundosCpu(c0);
            if (dm.Configuracoes().UltimoRecebimento() != inicioRecebido + porRodada - 1)
                throw std::runtime_error("the position did not reach the end of the round");

            direto.Comandos += porRodada;
            direto.Tempo += tDireto;
            recebido.Comandos += porRodada;
            recebido.Tempo += tRecebido;
            std::printf("round %d: direct %.0f rows/s, received %.0f commands/s, ratio %.2f\n", rodada + 1,
                        porRodada / tDireto, porRodada / tRecebido, tDireto / tRecebido);
            std::fflush(stdout);
        }
        std::printf("total: direct %.0f rows/s, received %.0f commands/s, received/direct %.2f\n", direto.Taxa(),
                    recebido.Taxa(), recebido.Taxa() / direto.Taxa());
        std::printf("processor time of this process per command: direct %.1f us, received %.1f us\n",
                    1e6 * direto.Cpu / static_cast<double>(direto.Comandos),
                    1e6 * recebido.Cpu / static_cast<double>(recebido.Comandos));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_receber: %s\n", e.what());
        return 1;
    }
    return 0;
}
