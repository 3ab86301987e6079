// What the change log's bookkeeping costs a store transaction: one-row
// transactions as a store terminal makes them (read committed), each
// timed from its start to the end of its commit or rollback, on a fresh
// store database prepared with sql/replicacao.sql and sql/exemplos.sql and,
// when a second script is given, on another prepared with that one (an earlier version, to compare
// before and after). The kinds:
//   logged, committed     one insert into a replicated table
//   logged, rolled back   the same, rolled back
//   unlogged, committed   one insert into a table without logging
//   read only             one select in a read-only transaction
// Transactions alternate between the databases so that the machine's noise
// falls on both alike; each line gives the median and the best round, and
// the pages the terminal's attachment wrote per transaction (from
// MON$IO_STATS: with forced writes each is a synchronous write, and unlike
// the times the count does not depend on the machine's load). Between
// rounds the agent's block procedure runs once, as a sending cycle would; at
// the end its own cost per call is measured on the log left behind.
//
//   bench_reservas [transactions per round] [rounds] [script to compare]
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

namespace {

using namespace ondaris;
using Relogio = std::chrono::steady_clock;

enum Tipo { kGravadaConfirmada, kGravadaDesfeita, kSemRegistro, kSomenteLeitura, kTipos };
const char* const kNomes[kTipos] = {"logged, committed", "logged, rolled back", "unlogged, committed",
                                    "read only"};

// One prepared store database, with the attachment of a store terminal and
// the agent's own.
class Loja {
public:
    // `script` empty: the project's objects and example tables.
    Loja(const std::string& nome, const std::string& script) : nome_(nome) {
        banco_ = std::make_unique<teste::BancoTeste>(script.empty() ? teste::BancoTeste::Conteudo::Loja
                                                                    : teste::BancoTeste::Conteudo::Vazio);
        if (!script.empty()) banco_->ExecutarArquivo(script);
        banco_->ExecutarSql(
            "INSERT INTO RPL_CONFIGURACOES (CODIGO, CODIGOLOJA, LINKCENTRAL, NIVELREPLICACAO, ULTIMORECEBIMENTO)"
            " VALUES (1, 12, 'http://central/', 1, 0);");
        db::ParametrosConexao p;
        p.Servidor = "127.0.0.1";
        p.Caminho = banco_->Caminho();
        p.Usuario = "SYSDBA";
        p.Senha = teste::SenhaSysdba();
        caixa_ = std::make_unique<db::Conexao>(p, "Caixa");
        escrita_ = std::make_unique<db::Transacao>(*caixa_, "Venda", db::OpcoesTransacao::Escrita());
        leitura_ = std::make_unique<db::Transacao>(*caixa_, "Consulta", db::OpcoesTransacao{.SomenteLeitura = true});
        produto_ = std::make_unique<db::Consulta>(*caixa_, *escrita_,
                                                  "INSERT INTO PRODUTOS (CODIGO, DESCRICAO) VALUES (:C, 'Produto')");
        caixa_mov_ = std::make_unique<db::Consulta>(
            *caixa_, *escrita_, "INSERT INTO MOVIMENTOCAIXA (DATAHORA, HISTORICO, VALOR) VALUES (CURRENT_TIMESTAMP, 'Venda', :V)");
        preco_ = std::make_unique<db::Consulta>(*caixa_, *leitura_, "SELECT DESCRICAO FROM PRODUTOS WHERE CODIGO = :C");

        p.Usuario = teste::kUsuarioReplicacao;
        p.Senha = teste::kSenhaReplicacao;
        agente_ = std::make_unique<db::Conexao>(p, "Agente");
        principal_ = std::make_unique<db::Transacao>(*agente_, "TRPrincipal", db::OpcoesTransacao::EscritaAutomatica());
        indice_ = std::make_unique<db::Consulta>(*agente_, *principal_,
                                                 "SELECT * FROM PROC_RETORNA_INDICE(:ORDEM, NULL, 1000)");
    }
    ~Loja() {
        indice_.reset();
        principal_.reset();
        agente_.reset();
        preco_.reset();
        caixa_mov_.reset();
        produto_.reset();
        leitura_.reset();
        escrita_.reset();
        caixa_.reset();
        banco_.reset();
    }

    const std::string& Nome() const { return nome_; }

    // Microseconds that one transaction of that kind took.
    double Transacao(Tipo tipo, int i) {
        const auto t0 = Relogio::now();
        {
            switch (tipo) {
                case kGravadaConfirmada:
                case kGravadaDesfeita:
                    escrita_->Iniciar();
                    produto_->Definir("C", ++codigo_);
                    produto_->Executar();
                    if (tipo == kGravadaConfirmada)
                        escrita_->Commit();
                    else
                        escrita_->Rollback();
                    break;
                case kSemRegistro:
                    escrita_->Iniciar();
                    caixa_mov_->Definir("V", i);
                    caixa_mov_->Executar();
                    escrita_->Commit();
                    break;
                case kSomenteLeitura:
                    leitura_->Iniciar();
                    preco_->Definir("C", 1 + i % std::max(1, codigo_));
                    preco_->Abrir();
                    preco_->Fechar();
                    leitura_->Commit();
                    break;
                default:
                    break;
            }
        }
        return std::chrono::duration<double, std::micro>(Relogio::now() - t0).count();
    }

    // Pages the terminal's attachment has written to the database file so
    // far (with forced writes, each one a synchronous write): a count that
    // the machine's noise does not change.
    std::int64_t PaginasGravadas() {
        leitura_->Iniciar();
        db::Consulta q(*caixa_, *leitura_,
                       "SELECT I.MON$PAGE_WRITES AS P FROM MON$ATTACHMENTS A"
                       " JOIN MON$IO_STATS I ON I.MON$STAT_ID = A.MON$STAT_ID"
                       " WHERE A.MON$ATTACHMENT_ID = CURRENT_CONNECTION");
        q.Abrir();
        const std::int64_t p = q.Ler<std::int64_t>("P").value_or(0);
        q.Fechar();
        leitura_->Commit();
        return p;
    }

    // The agent's block procedure, once: it also tidies the bookkeeping.
    void Ciclo() {
        indice_->Definir("ORDEM", 0);
        indice_->Abrir();
        indice_->Fechar();
    }

private:
    std::string nome_;
    std::unique_ptr<teste::BancoTeste> banco_;
    std::unique_ptr<db::Conexao> caixa_;
    std::unique_ptr<db::Transacao> escrita_, leitura_;
    std::unique_ptr<db::Consulta> produto_, caixa_mov_, preco_;
    std::unique_ptr<db::Conexao> agente_;
    std::unique_ptr<db::Transacao> principal_;
    std::unique_ptr<db::Consulta> indice_;
    int codigo_ = 0;
};

double Mediana(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    const int quantas = argc > 1 ? std::atoi(argv[1]) : 300;
    const int rodadas = argc > 2 ? std::atoi(argv[2]) : 7;
    const std::string outro = argc > 3 ? argv[3] : "";
    if (quantas < 1 || rodadas < 1) {
        std::fprintf(stderr, "usage: bench_reservas [transactions per round] [rounds] [script to compare]\n");
        return 2;
    }
    try {
        teste::GarantirUsuarioReplicacao();
        std::vector<std::unique_ptr<Loja>> lojas;
        lojas.push_back(std::make_unique<Loja>("sql/replicacao.sql + sql/exemplos.sql", ""));
        if (!outro.empty()) lojas.push_back(std::make_unique<Loja>(outro, outro));

        // medidas[loja][tipo] = microseconds per transaction of each round
        std::vector<std::vector<std::vector<double>>> medidas(lojas.size(), std::vector<std::vector<double>>(kTipos));
        std::vector<std::vector<std::int64_t>> paginas(lojas.size(), std::vector<std::int64_t>(kTipos, 0));
        for (int r = 0; r < rodadas; ++r) {
            for (int t = 0; t < kTipos; ++t) {
                // One transaction on each database in turn, so that a burst
                // of the machine's noise falls on both alike.
                std::vector<double> soma(lojas.size(), 0.0);
                std::vector<std::int64_t> antes;
                for (auto& l : lojas) antes.push_back(l->PaginasGravadas());
                for (int n = 0; n < quantas; ++n)
                    for (std::size_t k = 0; k < lojas.size(); ++k) {
                        const std::size_t i = (k + static_cast<std::size_t>(n)) % lojas.size();
                        soma[i] += lojas[i]->Transacao(static_cast<Tipo>(t), n);
                    }
                for (std::size_t i = 0; i < lojas.size(); ++i) {
                    medidas[i][t].push_back(soma[i] / quantas);
                    paginas[i][t] += lojas[i]->PaginasGravadas() - antes[i];
                }
            }
            for (auto& l : lojas) l->Ciclo();
        }

        // The agent's side: one call of the block procedure, as each block
        // sent makes it, on the log the rounds left behind.
        std::vector<double> procedimento(lojas.size(), 0.0);
        constexpr int kChamadas = 50;
        for (int n = 0; n < kChamadas; ++n)
            for (std::size_t i = 0; i < lojas.size(); ++i) {
                const auto t0 = Relogio::now();
                lojas[i]->Ciclo();
                procedimento[i] += std::chrono::duration<double, std::micro>(Relogio::now() - t0).count();
            }

        std::printf("Cost per store transaction (one row), %d rounds of %d transactions, microseconds\n", rodadas,
                    quantas);
        for (int t = 0; t < kTipos; ++t) {
            std::printf("%s:\n", kNomes[t]);
            for (std::size_t i = 0; i < lojas.size(); ++i) {
                const auto& m = medidas[i][t];
                std::printf("  %-40s median %8.1f  best %8.1f  pages written %5.2f\n", lojas[i]->Nome().c_str(),
                            Mediana(m), *std::min_element(m.begin(), m.end()),
                            static_cast<double>(paginas[i][t]) / (static_cast<double>(quantas) * rodadas));
            }
        }
        std::printf("block procedure, one call by the agent (mean of %d):\n", kChamadas);
        for (std::size_t i = 0; i < lojas.size(); ++i)
            std::printf("  %-40s mean   %8.1f\n", lojas[i]->Nome().c_str(), procedimento[i] / kChamadas);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_reservas: %s\n", e.what());
        return 1;
    }
    return 0;
}
