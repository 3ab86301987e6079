// Sending rate: the change log of a fresh store database is sent in blocks
// of 1000 rows through EnviarDados to an HTTP server inside this process,
// and the rate is printed next to that of the plain select of the same
// rows (the row query of each block read to its end, every column read),
// so the cost of building the body and of the exchange shows apart from
// the cost of the database.
//
//   bench_enviar [rows without blobs] [rows with a blob, of each kind]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <unistd.h>

#include "db/construtores.h"
#include "db/consulta.h"
#include "db/modulo_operacao.h"
#include "db/udm.h"
#include "support/banco_teste.h"
#include "support/servidor_http.h"
#include "sync/enviar.h"

namespace {

using namespace ondaris;
using Relogio = std::chrono::steady_clock;

double Segundos(Relogio::time_point desde) {
    return std::chrono::duration<double>(Relogio::now() - desde).count();
}

struct Medida {
    std::int64_t Linhas = 0;
    std::int64_t Blocos = 0;
    std::size_t Bytes = 0;
    double Tempo = 0;
};

// Sends every block after `inicio` up to the end of the log.
Medida EnviarTudo(db::TDM& dm, const std::string& pasta, teste::ServidorHttp& servidor, std::int64_t inicio,
                  std::int64_t fim) {
    sync::TContextoServidor contexto;
    contexto.Regional = protocolo::TConfiguracoesRegionais::Brasileiras();
    Medida m;
    const auto t0 = Relogio::now();
    db::TModuloDaExecucao modulo;  // one connection for the blocks, as a run has
    for (std::int64_t posicao = inicio; posicao < fim;) {
        const auto enviado = sync::EnviarDados(servidor.Base(), 12, posicao, dm, contexto, pasta, nullptr, &modulo);
        if (const sync::TRecusa* r = enviado.Recusa())
            throw std::runtime_error("server refused a block: " + r->Conteudo);
        const std::string& corpo = *enviado;
        // The bound and the count from the text itself, so that the
        // measure holds no parsing of our own.
        const std::string chave = "\"ordemfinal\":\"";
        const auto p = corpo.rfind(chave);
        if (p == std::string::npos) throw std::runtime_error("a body without its bounds");
        const std::int64_t final = std::stoll(corpo.substr(p + chave.size()));
        if (final <= posicao) throw std::runtime_error("the block did not advance");
        for (auto q = corpo.find("{\"ordem\":"); q != std::string::npos; q = corpo.find("{\"ordem\":", q + 1))
            ++m.Linhas;
        m.Bytes += corpo.size();
        ++m.Blocos;
        posicao = final;
    }
    m.Tempo = Segundos(t0);
    servidor.LimparRecebidas();
    return m;
}

// The same blocks through the row query alone: one per-operation module
// per block, as the sending does, every column of every row read.
Medida SelecionarTudo(db::TDM& dm, const std::string& pasta, const std::string& tabela, std::int64_t inicio,
                      std::int64_t fim) {
    Medida m;
    const auto t0 = Relogio::now();
    for (std::int64_t posicao = inicio; posicao < fim;) {
        db::TModuloOperacao modulo(pasta);
        const db::TIndicesEnvio indices = dm.LogReplicacao().RetornaIndices(posicao, 1000);
        const std::int64_t primeira = indices.OrdemInicial, ultima = indices.OrdemFinal;
        db::Consulta& qry = db::ComandoDaTabelaPronto(dm, modulo, tabela, db::TTipoSQL::tsSelect, primeira, ultima);
        const std::size_t colunas = qry.Colunas().size();
        for (; qry.TemLinha(); qry.Proximo()) {
            for (std::size_t i = 0; i < colunas; ++i) (void)qry.Ler(i);
            ++m.Linhas;
        }
        ++m.Blocos;
        posicao = ultima;
    }
    m.Tempo = Segundos(t0);
    return m;
}

void Imprimir(const char* oque, const Medida& m) {
    std::printf("  %-34s %7lld rows %4lld blocks %8.3f s %9.0f rows/s", oque, static_cast<long long>(m.Linhas),
                static_cast<long long>(m.Blocos), m.Tempo, m.Tempo > 0 ? static_cast<double>(m.Linhas) / m.Tempo : 0.0);
    if (m.Bytes) std::printf(" %7.1f MB sent", static_cast<double>(m.Bytes) / 1e6);
    std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
    const long linhas = argc > 1 ? std::atol(argv[1]) : 20000;
    const long linhasComBlob = argc > 2 ? std::atol(argv[2]) : 3000;
    try {
        teste::GarantirUsuarioReplicacao();
        teste::BancoTeste banco;
        banco.ExecutarSql(
            "INSERT INTO RPL_CONFIGURACOES (CODIGO, CODIGOLOJA, LINKCENTRAL, NIVELREPLICACAO, ULTIMORECEBIMENTO)"
            " VALUES (1, 12, 'http://central/', 1, 0);");

        const teste::PastaKorvin pasta(banco);
        const std::string pastaIni = pasta.Pasta();

        teste::ServidorHttp servidor;
        servidor.Manipulador([](const teste::RequisicaoRecebida&) { return teste::RespostaProgramada::Json("{}"); });

        db::TDM dm(db::OpcoesTDM{.Pasta = pastaIni});
        dm.DataModuleCreate();

        std::printf("Sending blocks of 1000 log rows (PUT to a local HTTP server)\n");

        // Rows without blobs.
        std::int64_t inicio = dm.LogReplicacao().UltimoMovimentoLoja();
        banco.ExecutarSql(
            "SET TERM ^ ;\nEXECUTE BLOCK AS DECLARE I INTEGER = 0; BEGIN WHILE (I < " + std::to_string(linhas) +
            ") DO BEGIN INSERT INTO PRECOS (CODIGOLOJA, CODIGOPRODUTO, PRECOVENDA, PRECOCUSTO, MARGEM, COMISSAO,"
            " VIGENCIA) VALUES (12, :I, :I * 1.25, :I / 3.0, 12.5, 0.000125, DATE '2024-01-01' + MOD(:I, 365));"
            " I = I + 1; END END^\nSET TERM ; ^\n");
        std::int64_t fim = dm.LogReplicacao().UltimoMovimentoLoja();
        std::printf("PRECOS, %ld rows, no blob columns:\n", linhas);
        Imprimir("plain select of the blocks", SelecionarTudo(dm, pastaIni, "PRECOS", inicio, fim));
        Imprimir("EnviarDados (body + PUT)", EnviarTudo(dm, pastaIni, servidor, inicio, fim));

        // Rows of every column kind, a multi-line text blob in each.
        inicio = fim;
        banco.ExecutarSql(
            "SET TERM ^ ;\nEXECUTE BLOCK AS DECLARE I INTEGER = 0; BEGIN WHILE (I < " + std::to_string(linhasComBlob) +
            ") DO BEGIN INSERT INTO PRODUTOS (CODIGO, DESCRICAO, UNIDADE, ESTOQUEMINIMO, PESOLIQUIDO,"
            " FATORCONVERSAO, PRECOREFERENCIA, ATIVO, CADASTRO, ULTIMAALTERACAO, OBSERVACOES, DESCRICAOETIQUETA)"
            " VALUES (:I, 'Produto n' || ASCII_CHAR(250) || 'mero ' || :I, 'UN', MOD(:I, 100), :I / 7.0, 1.25,"
            " :I * 1.1, TRUE, DATE '2024-01-01' + MOD(:I, 365), CURRENT_TIMESTAMP, 'Linha 1' || ASCII_CHAR(13) ||"
            " ASCII_CHAR(10) || 'Linha 2', 'Etiqueta'); I = I + 1; END END^\nSET TERM ; ^\n");
        fim = dm.LogReplicacao().UltimoMovimentoLoja();
        std::printf("PRODUTOS, %ld rows of every column kind with a text blob:\n", linhasComBlob);
        Imprimir("plain select of the blocks", SelecionarTudo(dm, pastaIni, "PRODUTOS", inicio, fim));
        Imprimir("EnviarDados (body + PUT)", EnviarTudo(dm, pastaIni, servidor, inicio, fim));

        // Rows with a 1 KB binary blob each: every blob costs a read.
        inicio = fim;
        banco.ExecutarSql(
            "SET TERM ^ ;\nEXECUTE BLOCK AS DECLARE I INTEGER = 0; BEGIN WHILE (I < " + std::to_string(linhasComBlob) +
            ") DO BEGIN INSERT INTO PRODUTOS (CODIGO, DESCRICAO, FOTO) VALUES (10000000 + :I, 'Com foto',"
            " CAST(LPAD('', 1024, ASCII_CHAR(MOD(:I, 256))) AS BLOB SUB_TYPE BINARY)); I = I + 1; END END^\n"
            "SET TERM ; ^\n");
        fim = dm.LogReplicacao().UltimoMovimentoLoja();
        std::printf("PRODUTOS, %ld rows with a 1 KB binary blob:\n", linhasComBlob);
        Imprimir("plain select of the blocks", SelecionarTudo(dm, pastaIni, "PRODUTOS", inicio, fim));
        Imprimir("EnviarDados (body + PUT)", EnviarTudo(dm, pastaIni, servidor, inicio, fim));

        dm.ConexaoGlobal().Fechar();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_enviar: %s\n", e.what());
        return 1;
    }
    return 0;
}
