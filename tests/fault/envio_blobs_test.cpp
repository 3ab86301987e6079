// Sending while store users change rows with text blobs: several sessions
// insert, update and delete products with long notes, each change committed
// at once, while the agent sends run after run. A blob read in a
// transaction that keeps no view of its own can vanish between reading the
// row and opening the blob; the block is read in one snapshot, so every run
// must succeed, and the other store must end up with the same rows.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "support/loja_e2e.h"
#include "envio_apoio.h"

namespace ondaris::teste::envio {
namespace {

using Relogio = std::chrono::steady_clock;

// Notes of 200 to 6000 letters, so that most take several segments.
std::string Nota(std::mt19937& sorteio) {
    std::string texto(200 + sorteio() % 5800, ' ');
    for (auto& c : texto) c = static_cast<char>('a' + sorteio() % 26);
    return texto;
}

// One store session changing its own range of products until told to stop
// or its count is done, each change in a transaction of its own.
class Escritor {
public:
    Escritor(const BancoTeste& banco, int numero)
        : conexao_(banco.ParametrosSysdba(), "Escritor"),
          transacao_(conexao_, "Escritor", db::OpcoesTransacao::Escrita()),
          inserir_(conexao_, transacao_, "INSERT INTO PRODUTOS (CODIGO, DESCRICAO, OBSERVACOES) VALUES (:C, :D, :O)"),
          alterar_(conexao_, transacao_, "UPDATE PRODUTOS SET DESCRICAO = :D, OBSERVACOES = :O WHERE CODIGO = :C"),
          excluir_(conexao_, transacao_, "DELETE FROM PRODUTOS WHERE CODIGO = :C"),
          sorteio_(static_cast<unsigned>(1000 + numero)),
          primeiro_(100000 * (numero + 1)) {}

    void Rodar(const std::atomic<bool>& parar, int maximo) {
        for (int n = 0; n < maximo && !parar; ++n) {
            try {
                transacao_.Iniciar();
                const unsigned acao = sorteio_() % 100;
                if (codigos_.size() < 20 || acao < 30) {
                    const int codigo = primeiro_ + proximo_++;
                    Gravar(inserir_, codigo);
                    codigos_.push_back(codigo);
                } else {
                    const std::size_t i = sorteio_() % codigos_.size();
                    if (acao < 80) {
                        Gravar(alterar_, codigos_[i]);
                    } else {
                        excluir_.Definir("C", codigos_[i]);
                        excluir_.Executar();
                        codigos_.erase(codigos_.begin() + static_cast<std::ptrdiff_t>(i));
                    }
                }
                transacao_.Commit();
                ++feitas_;
            } catch (const std::exception& e) {
                if (transacao_.Ativa()) transacao_.Rollback();
                falhas_.push_back(e.what());
                return;
            }
        }
    }

    int Feitas() const { return feitas_; }
    const std::vector<std::string>& Falhas() const { return falhas_; }

private:
    void Gravar(db::Consulta& q, int codigo) {
        q.Definir("C", codigo);
        q.Definir("D", "Produto " + std::to_string(codigo) + " v" + std::to_string(sorteio_() % 1000));
        q.Definir("O", Nota(sorteio_));
        q.Executar();
    }

    db::Conexao conexao_;
    db::Transacao transacao_;
    db::Consulta inserir_, alterar_, excluir_;
    std::mt19937 sorteio_;
    int primeiro_;
    int proximo_ = 0;
    std::vector<int> codigos_;
    int feitas_ = 0;
    std::vector<std::string> falhas_;
};

TEST(EnvioBlobs, SendingKeepsUpWhileStoreUsersChangeTextBlobs) {
    GarantirUsuarioReplicacao();
    BancoTeste origem, destino;
    CentralE2E central(EstruturaDe(origem));
    ConfigurarLoja(origem, 1, central.Url(1));
    ConfigurarLoja(destino, 2, central.Url(2));
    PastaAgente pastaOrigem(Ini(origem)), pastaDestino(Ini(destino));
    Agente agenteOrigem(pastaOrigem.Pasta()), agenteDestino(pastaDestino.Pasta());
    ASSERT_TRUE(agenteOrigem.Iniciar()) << agenteOrigem.Registros.back();
    ASSERT_TRUE(agenteDestino.Iniciar()) << agenteDestino.Registros.back();

    constexpr int kEscritores = 4;
    std::vector<std::unique_ptr<Escritor>> escritores;
    for (int i = 0; i < kEscritores; ++i) escritores.push_back(std::make_unique<Escritor>(origem, i));
    std::atomic<bool> parar{false};
    std::atomic<int> ativos{kEscritores};
    std::vector<std::thread> linhas;
    for (auto& e : escritores)
        linhas.emplace_back([&, escritor = e.get()] {
            escritor->Rodar(parar, 800);
            --ativos;
        });

    // The agent sends all along while they write; bounded in runs and time.
    int rodadasDuranteEscrita = 0;
    const auto limite = Relogio::now() + std::chrono::seconds(60);
    while (ativos > 0 && rodadasDuranteEscrita < 200 && Relogio::now() < limite) {
        agenteOrigem.Rodar();
        ++rodadasDuranteEscrita;
    }
    parar = true;
    for (auto& l : linhas) l.join();
    const std::int64_t enviadasDuranteEscrita = FimDoLog(origem);

    for (const auto& e : escritores) EXPECT_TRUE(e->Falhas().empty()) << e->Falhas().front();
    EXPECT_GE(rodadasDuranteEscrita, 3) << "the agent must have sent while the rows changed";
    EXPECT_GT(enviadasDuranteEscrita, 0);

    // Then what is left, and the other store receives it all.
    for (int i = 0; i < 5; ++i) agenteOrigem.Rodar();
    EXPECT_TRUE(agenteOrigem.Falhas.empty()) << agenteOrigem.Falhas.size() << " of "
                                             << rodadasDuranteEscrita + 5 << " runs failed, the first: "
                                             << agenteOrigem.Falhas.front();
    for (int i = 0; i < 3; ++i) agenteDestino.Rodar();
    EXPECT_TRUE(agenteDestino.Falhas.empty()) << agenteDestino.Falhas.front();

    LeitorLoja leitorOrigem(origem), leitorDestino(destino);
    const auto retratoOrigem = leitorOrigem.Retrato();
    EXPECT_GT(retratoOrigem.size(), 20u);
    EXPECT_EQ(retratoOrigem, leitorDestino.Retrato());
}

}  // namespace
}  // namespace ondaris::teste::envio
