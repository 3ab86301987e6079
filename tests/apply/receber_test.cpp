// Receiving and applying blocks against a real store database and a central
// server inside the test process, which keeps a list of commands and hands
// out those after the requested position, as a central server does.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

#include "db/construtores.h"
#include "db/erros.h"
#include "protocolo/base64.h"
#include "protocolo/json.h"
#include "protocolo/texto.h"
#include "support/banco_teste.h"
#include "support/captura.h"
#include "support/janela_gravadora.h"
#include "support/servidor_http.h"
#include "sync/de_lado.h"
#include "sync/operacoes.h"
#include "sync/receber.h"

namespace ondaris::sync {
using protocolo::EscreverJSONCompacto;
using protocolo::StreamtoBase64;
using protocolo::TValorJSON;
namespace {

using teste::BancoTeste;
using teste::RespostaProgramada;
using teste::ServidorHttp;

constexpr std::int32_t kLoja = 7;
const std::string kPrefixo = "Falha ao executar a rotina ReceberDados: ";

// One command as the central server holds it.
struct Comando {
    std::int64_t Ordem;
    std::string IdTransacao;
    std::string Acao = "U";
    std::string Tabela = "EVENTOS";
    std::vector<std::pair<std::string, std::string>> Campos;
    // "atualvalorchave1"/"atualvalorchave2", when the command carries them.
    std::optional<std::string> Chave1 = std::nullopt, Chave2 = std::nullopt;
};

Comando Evento(std::int64_t ordem, std::string id, std::string dia = "01/02/2024") {
    return {ordem, std::move(id), "U", "EVENTOS",
            {{"ID", std::to_string(ordem)}, {"TEXTO", "evento " + std::to_string(ordem)}, {"DIA", dia}}};
}

TValorJSON ComoJSON(const Comando& c) {
    TValorJSON campos = TValorJSON::Objeto();
    for (const auto& [nome, valor] : c.Campos) campos.Adicionar(nome, TValorJSON::Texto(valor));
    TValorJSON o = TValorJSON::Objeto();
    o.Adicionar("ordem", TValorJSON::Numero(c.Ordem));
    o.Adicionar("codigolojaorigem", TValorJSON::Texto("3"));
    o.Adicionar("tabela", TValorJSON::Texto(c.Tabela));
    o.Adicionar("acao", TValorJSON::Texto(c.Acao));
    o.Adicionar("idtransacao", TValorJSON::Texto(c.IdTransacao));
    if (c.Chave1) o.Adicionar("atualvalorchave1", TValorJSON::Texto(*c.Chave1));
    if (c.Chave2) o.Adicionar("atualvalorchave2", TValorJSON::Texto(*c.Chave2));
    o.Adicionar("campos", std::move(campos));
    return o;
}

// The central server's side: commands after the requested position, at
// most Tamanho per block; "ultimaordem" 0 when none is left.
class Central {
public:
    explicit Central(ServidorHttp& http) {
        http.Manipulador([this](const teste::RequisicaoRecebida& r) { return Atender(r); });
    }
    void Definir(std::vector<Comando> comandos) {
        std::lock_guard trava(mutex_);
        comandos_ = std::move(comandos);
    }
    void Corrigir(std::int64_t ordem, Comando novo) {
        std::lock_guard trava(mutex_);
        for (auto& c : comandos_)
            if (c.Ordem == ordem) c = std::move(novo);
    }
    std::size_t Tamanho = 5000;

private:
    RespostaProgramada Atender(const teste::RequisicaoRecebida& r) {
        std::lock_guard trava(mutex_);
        const auto barra = r.Caminho.rfind('/');
        const std::int64_t posicao = std::stoll(r.Caminho.substr(barra + 1));
        TValorJSON lista = TValorJSON::Matriz();
        std::int64_t inicial = 0, fim = 0, ultima = 0;
        for (const auto& c : comandos_) {
            ultima = std::max(ultima, c.Ordem);
            if (c.Ordem <= posicao || lista.Elementos().size() >= Tamanho) continue;
            if (lista.Elementos().empty()) inicial = c.Ordem;
            fim = c.Ordem;
            lista.Adicionar(ComoJSON(c));
        }
        if (lista.Elementos().empty()) ultima = 0;
        TValorJSON corpo = TValorJSON::Objeto();
        corpo.Adicionar("ordeminicial", TValorJSON::Texto(std::to_string(inicial)));
        corpo.Adicionar("ordemfinal", TValorJSON::Texto(std::to_string(fim)));
        corpo.Adicionar("ultimaordem", TValorJSON::Texto(std::to_string(ultima)));
        corpo.Adicionar("comandos", std::move(lista));
        return RespostaProgramada::Json(EscreverJSONCompacto(corpo));
    }
    std::mutex mutex_;
    std::vector<Comando> comandos_;
};

class Recebimento : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        teste::GarantirUsuarioReplicacao();
        banco_ = std::make_unique<BancoTeste>();
        // Every application of a row leaves a line in AUDITORIA, in the
        // same transaction: a command applied twice shows twice, one
        // rolled back not at all.
        banco_->ExecutarSql(
            "CREATE TABLE EVENTOS (ID INTEGER NOT NULL PRIMARY KEY, TEXTO VARCHAR(40), DIA DATE);"
            "CREATE TABLE AUDITORIA (ID INTEGER, TEXTO VARCHAR(40));"
            "CREATE TABLE TRES (A INTEGER NOT NULL, B INTEGER NOT NULL, C INTEGER NOT NULL, V VARCHAR(10),"
            " PRIMARY KEY (A, B, C));"
            "GRANT ALL ON TRES TO USER ONDARIS;"
            "SET TERM ^ ;"
            "CREATE TRIGGER EVENTOS_AUD FOR EVENTOS ACTIVE AFTER INSERT OR UPDATE AS BEGIN"
            " INSERT INTO AUDITORIA (ID, TEXTO) VALUES (NEW.ID, NEW.TEXTO); END^"
            "SET TERM ; ^"
            "GRANT ALL ON EVENTOS TO USER ONDARIS; GRANT INSERT ON AUDITORIA TO TRIGGER EVENTOS_AUD;"
            // Which connection applied each row.
            "CREATE TABLE CONEXOES (ID INTEGER, CONEXAO BIGINT);"
            "SET TERM ^ ;"
            "CREATE TRIGGER EVENTOS_CONEXAO FOR EVENTOS ACTIVE AFTER INSERT OR UPDATE AS BEGIN"
            " INSERT INTO CONEXOES (ID, CONEXAO) VALUES (NEW.ID, CURRENT_CONNECTION); END^"
            "SET TERM ; ^"
            "GRANT INSERT ON CONEXOES TO TRIGGER EVENTOS_CONEXAO;"
            "INSERT INTO RPL_CONFIGURACOES (CODIGO, CODIGOLOJA, LINKCENTRAL, NIVELREPLICACAO, ULTIMORECEBIMENTO)"
            " VALUES (1, 7, 'http://central/', 1, 0);");
        pasta_ = std::make_unique<teste::PastaKorvin>(*banco_);
    }
    static void TearDownTestSuite() {
        pasta_.reset();
        banco_.reset();
    }

    void SetUp() override {
        dm_ = std::make_unique<db::TDM>(db::OpcoesTDM{.Pasta = Pasta()});
        dm_->DataModuleCreate();
        DefinirEstrutura({"ID", "TEXTO", "DIA"});
        ambiente_ = std::make_unique<TAmbienteRecebimento>(TAmbienteRecebimento{
            *dm_, janela_,
            TContextoServidor{.TempoLimite = 10000, .Regional = protocolo::TConfiguracoesRegionais::Brasileiras()}, Pasta()});
    }

    static std::string Pasta() { return pasta_->Pasta(); }

    // The structure list, with these columns of EVENTOS.
    void DefinirEstrutura(std::initializer_list<const char*> eventos) {
        dm_->TBEstrutura().Limpar();
        for (const char* campo : eventos) dm_->TBEstrutura().Adicionar("EVENTOS", campo, "");
        for (const char* campo : {"A", "B", "C", "V"}) dm_->TBEstrutura().Adicionar("TRES", campo, "");
        for (const char* campo : {"CODIGO", "DESCRICAO", "UNIDADE", "ATIVO", "PESOLIQUIDO", "FOTO", "OBSERVACOES"})
            dm_->TBEstrutura().Adicionar("PRODUTOS", campo, "");
    }

    // The connections that applied the rows of EVENTOS within [de, ate], as
    // a list for SQL ("12, 15"), and how many there were.
    std::pair<std::string, int> Conexoes(int de, int ate) {
        const std::string saida = banco_->ExecutarSql(
            "SET LIST ON; SELECT DISTINCT CONEXAO FROM CONEXOES WHERE ID BETWEEN " + std::to_string(de) + " AND " +
            std::to_string(ate) + ";");
        std::string lista;
        int quantas = 0;
        for (std::size_t pos = 0; (pos = saida.find("CONEXAO ", pos)) != std::string::npos; ++quantas) {
            pos = saida.find_first_not_of(' ', pos + 8);
            lista += (lista.empty() ? "" : ", ") + saida.substr(pos, saida.find('\n', pos) - pos);
        }
        return {lista, quantas};
    }

    // How many of those connections are still attached.
    static std::string Abertas(const std::string& conexoes) {
        return Valor("SELECT COUNT(*) FROM MON$ATTACHMENTS WHERE MON$ATTACHMENT_ID IN (" + conexoes + ")");
    }

    std::int64_t Posicao() {
        dm_->Configuracoes().AbrirConfiguracoes();
        return dm_->Configuracoes().UltimoRecebimento();
    }

    TResultado<TTipoUltimoMovimentoRecebido> Receber() { return ReceberDados(http_.Base(), kLoja, Posicao(), *ambiente_); }

    // The text of the failure that receiving raises, naming `rotina`, whose
    // cause is of kind `causa` (any when none is given).
    std::string FalhaAoReceber(std::optional<db::TCausaRotina> causa = std::nullopt,
                               std::string_view rotina = "ReceberDados") {
        return teste::TextoDaFalhaDaRotina(rotina, causa, [&] { Receber(); });
    }

    // Receives until the server has nothing left; the number of requests.
    int ReceberTudo() {
        for (int pedidos = 1; pedidos < 20; ++pedidos) {
            const auto r = Receber();
            if (r->UltimaOrdem == 0) return pedidos;
        }
        ADD_FAILURE() << "the server never ran out of commands";
        return 0;
    }

    // The value of the first row of a one-column query, as isql shows it.
    static std::string Valor(const std::string& sql) {
        const std::string saida = banco_->ExecutarSql("SET LIST ON; SELECT (" + sql + ") AS R FROM RDB$DATABASE;");
        const auto inicio = saida.find("R ");
        if (inicio == std::string::npos) return "<no row>";
        const auto valor = saida.find_first_not_of(' ', inicio + 1);
        return saida.substr(valor, saida.find('\n', valor) - valor);
    }

    // How many times each row of EVENTOS within [de, ate] was applied and
    // committed (absent rows: not in the map).
    std::map<int, int> Aplicacoes(int de, int ate) {
        const std::string saida = banco_->ExecutarSql(
            "SET LIST ON; SELECT ID, COUNT(*) AS N FROM AUDITORIA WHERE ID BETWEEN " + std::to_string(de) + " AND " +
            std::to_string(ate) + " GROUP BY ID;");
        std::map<int, int> r;
        std::size_t pos = 0;
        while ((pos = saida.find("ID ", pos)) != std::string::npos) {
            const int id = std::stoi(saida.substr(pos + 3));
            pos = saida.find("N ", pos);
            r[id] = std::stoi(saida.substr(pos + 2));
        }
        return r;
    }

    static inline std::unique_ptr<BancoTeste> banco_;
    static inline std::unique_ptr<teste::PastaKorvin> pasta_;
    ServidorHttp http_;
    Central central_{http_};
    teste::JanelaGravadora janela_;
    std::unique_ptr<db::TDM> dm_;
    std::unique_ptr<TAmbienteRecebimento> ambiente_;
};

std::map<int, int> UmaVez(std::int64_t de, std::int64_t ate) {
    std::map<int, int> r;
    for (auto i = de; i <= ate; ++i) r[static_cast<int>(i)] = 1;
    return r;
}

TEST_F(Recebimento, TransacoesEPosicoesAposFalhaERecomeco) {
    struct Caso {
        const char* nome;
        std::vector<Comando> comandos;
        std::int64_t falha;             // ordem of the command that fails
        std::int64_t posicaoAposFalha;  // ULTIMORECEBIMENTO after the failure
        std::map<int, int> aplicados;   // committed after the failure
    };
    // Runs of one transaction id followed by a "-1" command.
    const auto corrida = [](std::int64_t primeiro, int quantidade) {
        std::vector<Comando> r;
        for (int i = 0; i < quantidade; ++i) r.push_back(Evento(primeiro + i, "G" + std::to_string(primeiro)));
        r.push_back(Evento(primeiro + quantidade, "-1"));
        return r;
    };
    const Caso casos[] = {
        {"A A B B, fails in B's second",
         {Evento(10, "A"), Evento(11, "A"), Evento(12, "B"), Evento(13, "B")}, 13, 11, UmaVez(10, 11)},
        {"A A B B, fails in B's first",
         {Evento(110, "A"), Evento(111, "A"), Evento(112, "B"), Evento(113, "B")}, 112, 111, UmaVez(110, 111)},
        {"-1 -1 C C: the -1 commands belong to C's transaction",
         {Evento(20, "-1"), Evento(21, "-1"), Evento(22, "C"), Evento(23, "C")}, 23, 19, {}},
        {"A -1 A: one local transaction",
         {Evento(30, "A"), Evento(31, "-1"), Evento(32, "A")}, 32, 29, {}},
        {"A B A: every change of id commits",
         {Evento(40, "A"), Evento(41, "B"), Evento(42, "A")}, 42, 41, UmaVez(40, 41)},
        {"2500 in one transaction, then -1", corrida(1001, 2500), 3501, 3500, UmaVez(1001, 3500)},
        {"2000 in one transaction, then -1", corrida(4001, 2000), 6001, 6000, UmaVez(4001, 6000)},
        {"1999 in one transaction, then -1: no commit yet", corrida(7001, 1999), 9000, 7000, {}},
    };
    for (const auto& c : casos) {
        SCOPED_TRACE(c.nome);
        const std::int64_t inicio = c.comandos.front().Ordem - 1;
        dm_->Configuracoes().GravarUltimoRecebimento(inicio);
        auto comandos = c.comandos;
        for (auto& k : comandos)
            if (k.Ordem == c.falha) k = Evento(k.Ordem, k.IdTransacao, "32/13/2024");
        central_.Definir(comandos);
        EXPECT_EQ(FalhaAoReceber(db::TCausaRotina::Outra),
                  kPrefixo + "o comando de ordem " + std::to_string(c.falha) +
                      ", coluna DIA: '32/13/2024' não é uma data válida" + TextoComoPorDeLadoRecebido(c.falha));
        EXPECT_EQ(Posicao(), c.posicaoAposFalha);
        const auto ultima = comandos.back().Ordem;
        EXPECT_EQ(Aplicacoes(static_cast<int>(inicio), static_cast<int>(ultima)), c.aplicados);

        // The server fixes the command; the next requests receive every
        // command that was rolled back, and only those.
        central_.Corrigir(c.falha, Evento(c.falha, comandos.back().IdTransacao));
        ReceberTudo();
        EXPECT_EQ(Posicao(), ultima);
        EXPECT_EQ(Aplicacoes(static_cast<int>(inicio), static_cast<int>(ultima)),
                  UmaVez(c.comandos.front().Ordem, ultima));
    }
}

// A received command for a row this store changed after the position the
// server acknowledged is set aside: not applied, the position moves past it,
// and it is told once. The row is the command's table (any letter case) and
// its key texts as the sender's log wrote them, compared with this store's
// own log, accents included; a command that names no row is applied.
TEST_F(Recebimento, ComandosDeLinhasAlteradasNaLojaEAindaNaoEnviadasFicamDeLado) {
    dm_->Configuracoes().GravarUltimoRecebimento(40000);
    const auto registrar = [&](const std::string& tabela, const std::string& chave1, const std::string& chave2) {
        banco_->ExecutarSql(protocolo::Utf8ParaLatin1(
            "INSERT INTO LOG_REPLICACAO (TIPO, TABELA, ATUALVALORCHAVE1, ATUALVALORCHAVE2) VALUES ('U', '" + tabela +
            "', '" + chave1 + "', " + (chave2.empty() ? "NULL" : "'" + chave2 + "'") + ");"));
    };
    // Acknowledged by the server: no longer pending.
    registrar("EVENTOS", "40004", "");
    const std::int64_t confirmada = dm_->LogReplicacao().UltimoMovimentoLoja();
    // Not yet sent.
    registrar("EVENTOS", "40002", "");
    registrar("EVENTOS", "40003", "");
    registrar("EVENTOS", "40005", "");
    registrar("NOMES", "São João", "");
    registrar("DUAS", "1", "2");
    banco_->ExecutarSql("CREATE TABLE DUAS (A INTEGER NOT NULL, B INTEGER NOT NULL, V VARCHAR(10), PRIMARY KEY (A, B));"
                        "GRANT ALL ON DUAS TO USER ONDARIS;");
    for (const char* campo : {"A", "B", "V"}) dm_->TBEstrutura().Adicionar("DUAS", campo, "");

    const auto evento = [](std::int64_t ordem, std::optional<std::string> chave1, std::string tabela = "EVENTOS") {
        Comando c = Evento(ordem, "A");
        c.Tabela = std::move(tabela);
        c.Chave1 = std::move(chave1);
        return c;
    };
    // The server writes its key as "S\u00E3o Jo\u00E3o".
    const Comando nome = evento(40006, "São João", "NOMES");
    Comando duas = evento(40007, "1", "DUAS");
    duas.Campos = {{"A", "1"}, {"B", "3"}, {"V", "outra"}};
    duas.Chave2 = "3";  // another row of DUAS than the one pending
    central_.Definir({evento(40001, "40001"), evento(40002, "40002"), evento(40003, std::nullopt),
                      evento(40004, "40004"), evento(40005, "40005", "eventos"), nome, duas});
    ASSERT_NE(EscreverJSONCompacto(ComoJSON(nome)).find(R"("atualvalorchave1":"S\u00E3o Jo\u00E3o")"),
              std::string::npos);

    TAlteracoesPendentes pendentes;
    std::vector<std::string> contados;
    TAmbienteRecebimento ambiente = *ambiente_;
    ambiente.Pendentes = &pendentes;
    ambiente.PosicaoConfirmada = confirmada;
    ambiente.AoPorDeLado = [&](const std::string& texto) { contados.push_back(texto); };
    ASSERT_EQ(ReceberDados(http_.Base(), kLoja, Posicao(), ambiente)->UltimaOrdem, 40007);

    EXPECT_EQ(Posicao(), 40007);
    EXPECT_EQ(Aplicacoes(40001, 40007), (std::map<int, int>{{40001, 1}, {40003, 1}, {40004, 1}}));
    EXPECT_EQ(Valor("SELECT COUNT(*) FROM DUAS WHERE A = 1 AND B = 3"), "1");
    const auto texto = [](const char* linha, int ordem) {
        return std::string("Conflito na linha ") + linha + ": o comando de ordem " + std::to_string(ordem) +
               " recebido do servidor central foi posto de lado, sem ser aplicado, porque esta loja alterou a "
               "mesma linha e ainda não a enviou; a alteração desta loja prevalecerá em todas as lojas";
    };
    EXPECT_EQ(contados, (std::vector<std::string>{texto("EVENTOS (40002)", 40002), texto("EVENTOS (40005)", 40005),
                                                  texto("NOMES (São João)", 40006)}));
    // Nothing more waits: nothing is told again.
    EXPECT_EQ(ReceberDados(http_.Base(), kLoja, Posicao(), ambiente)->UltimaOrdem, 0);
    EXPECT_EQ(contados.size(), 3u);
    banco_->ExecutarSql("DELETE FROM LOG_REPLICACAO;");
}

// A run of the cycle applies all its blocks on one connection, which its
// receiving session closes as soon as the loop is over, and again (as a
// no-op) when it goes.
TEST_F(Recebimento, UmaConexaoPorExecucaoFechadaAoFimDoRecebimento) {
    dm_->Configuracoes().GravarUltimoRecebimento(30000);
    central_.Tamanho = 2;
    central_.Definir({Evento(30001, "A"), Evento(30002, "A"), Evento(30003, "B"), Evento(30004, "-1"),
                      Evento(30005, "C")});
    TOperacoesMotor operacoes(*dm_, janela_, ambiente_->Contexto, Pasta());
    // The server holds every change of the store: none is pending.
    const std::int64_t confirmada = dm_->LogReplicacao().UltimoMovimentoLoja();
    const std::unique_ptr<ondaris::sync::ISessaoRecebimento> sessao = operacoes.AbrirRecebimento(confirmada);
    int blocos = 0;
    for (std::int64_t ultima = -1; ultima != 0 && blocos < 10; ++blocos) {
        const auto r = sessao->ReceberDados(http_.Base(), kLoja, Posicao());
        ASSERT_FALSE(r.Recusado());
        ultima = *r;
        // Kept open between the blocks of the run.
        EXPECT_EQ(Abertas(Conexoes(30001, 30005).first), "1");
    }
    sessao->Encerrar();
    EXPECT_EQ(blocos, 4);
    EXPECT_EQ(Posicao(), 30005);
    EXPECT_EQ(Aplicacoes(30001, 30005), UmaVez(30001, 30005));
    const auto [conexoes, quantas] = Conexoes(30001, 30005);
    EXPECT_EQ(quantas, 1);
    EXPECT_EQ(Abertas(conexoes), "0");
}

// The run's module never serves a block after a failure, and statements
// built from one structure list never serve another.
TEST_F(Recebimento, ModuloDaExecucaoDescartadoAposFalhaERefeitoComOutraEstrutura) {
    db::TModuloDaExecucao modulo;
    ambiente_->Modulo = &modulo;
    dm_->Configuracoes().GravarUltimoRecebimento(31000);
    central_.Tamanho = 2;
    central_.Definir({Evento(31001, "A"), Evento(31002, "A"), Evento(31003, "B"),
                      Evento(31004, "B", "32/13/2024"), Evento(31005, "C"), Evento(31006, "C")});
    EXPECT_EQ(Receber()->UltimaOrdem, 31006);
    ASSERT_TRUE(modulo.Aberto());
    const std::string primeira = Conexoes(31001, 31002).first;
    EXPECT_EQ(Abertas(primeira), "1");

    FalhaAoReceber(db::TCausaRotina::Outra);
    EXPECT_FALSE(modulo.Aberto());
    EXPECT_EQ(Abertas(primeira), "0");
    EXPECT_EQ(Posicao(), 31002);

    // Fixed on the server; DIA is no longer in the structure list.
    central_.Corrigir(31004, Evento(31004, "B"));
    DefinirEstrutura({"ID", "TEXTO"});
    EXPECT_EQ(Receber()->UltimaOrdem, 31006);
    const std::string segunda = Conexoes(31003, 31004).first;
    EXPECT_NE(segunda, primeira);
    // DIA back in the list: a statement without it must not be used again.
    DefinirEstrutura({"ID", "TEXTO", "DIA"});
    EXPECT_EQ(Receber()->UltimaOrdem, 31006);
    // Only the two rows applied without DIA in the list have no DIA.
    EXPECT_EQ(Valor("SELECT SUM(ID - 31000) FROM EVENTOS WHERE ID BETWEEN 31001 AND 31006 AND DIA IS NULL"), "7");
    EXPECT_EQ(Valor("SELECT COUNT(*) FROM EVENTOS WHERE ID BETWEEN 31001 AND 31006 AND DIA = '2024-02-01'"), "4");
    EXPECT_NE(Conexoes(31005, 31006).first, segunda);
    EXPECT_EQ(Aplicacoes(31001, 31006), UmaVez(31001, 31006));
    modulo.Liberar();
    EXPECT_EQ(Abertas(Conexoes(31001, 31006).first), "0");
}

TEST_F(Recebimento, BlocoAplicadoPainelEPedido) {
    dm_->Configuracoes().GravarUltimoRecebimento(500);
    central_.Definir({Evento(501, "A"), Evento(502, "A"), Evento(503, "-1")});
    const auto r = Receber();
    ASSERT_FALSE(r.Recusado());
    EXPECT_EQ(r->OrdemInicial, 501);
    EXPECT_EQ(r->OrdemFinal, 503);
    EXPECT_EQ(r->UltimaOrdem, 503);
    EXPECT_EQ(http_.Ultima().Caminho, "/receber/7/500");
    EXPECT_EQ(janela_.Recebimento,
              (std::vector<std::string>{
                  "", "Gravando bloco de registro de 501 at\xC3\xA9 503 em um total de 503 registro(s)"}));
    EXPECT_EQ(janela_.Bombeamentos, 1);
    EXPECT_EQ(Posicao(), 503);
    EXPECT_EQ(Aplicacoes(501, 503), UmaVez(501, 503));
}

TEST_F(Recebimento, RespostasSemBloco) {
    // A module opened for nothing would fail here: this folder's korvin.ini
    // names no database.
    const auto semBanco = std::filesystem::temp_directory_path() / ("ondaris-sem-banco-" + std::to_string(::getpid()));
    std::filesystem::create_directories(semBanco);
    std::ofstream(semBanco / "korvin.ini") << "[Korvin]\nServidor=127.0.0.1\nCaminho=/nao/existe.fdb\n";
    ambiente_->PastaIni = semBanco.string() + "/";
    dm_->Configuracoes().GravarUltimoRecebimento(600);

    http_.Responder(RespostaProgramada::Texto("loja desconhecida", 404));
    auto r = Receber();
    ASSERT_TRUE(r.Recusado());
    EXPECT_EQ(r.Recusa()->StatusCode, 404);
    EXPECT_EQ(r.Recusa()->Conteudo, "loja desconhecida");
    EXPECT_EQ(janela_.Recebimento, std::vector<std::string>{""});

    janela_.Recebimento.clear();
    http_.Responder(
        RespostaProgramada::Json(R"({"ordeminicial":"0","ordemfinal":"0","ultimaordem":"0","comandos":[]})"));
    r = Receber();
    ASSERT_FALSE(r.Recusado());
    EXPECT_EQ(r->UltimaOrdem, 0);
    EXPECT_EQ(janela_.Recebimento, std::vector<std::string>{""});
    EXPECT_EQ(janela_.Bombeamentos, 0);

    // Phase 1 failures are raised as they came, without a routine's prefix.
    // Each of the three numbers is read on its own: a missing one is never
    // the value of the one before it.
    const std::string semMembro = "A resposta do servidor central a GET " + http_.Base("receber/7/600") +
                                  " não traz o membro ";
    const std::pair<const char*, std::string> incompletas[] = {
        {R"({"ordemfinal":"2","ultimaordem":"2"})", semMembro + "\"ordeminicial\" (resposta do tipo application/json)"},
        {R"({"ordeminicial":"601","ultimaordem":"650","comandos":[]})",
         semMembro + "\"ordemfinal\" (resposta do tipo application/json)"},
        {R"({"ordeminicial":"601","ordemfinal":"650","comandos":[]})",
         semMembro + "\"ultimaordem\" (resposta do tipo application/json)"},
    };
    for (const auto& [corpo, texto] : incompletas) {
        http_.Responder(RespostaProgramada::Json(corpo));
        EXPECT_EQ(teste::TextoDaFalha<TErroRespostaInvalida>([&] { Receber(); }), texto) << corpo;
    }
    http_.Responder(RespostaProgramada::Texto("falhou", 503));
    const std::string falha = teste::TextoDaFalha<TErroStatusServidor>([&] { Receber(); });
    EXPECT_EQ(falha.rfind("HTTP/1.1 503", 0), 0u) << falha;

    // Positions but no commands: nothing to move the position to.
    ambiente_->PastaIni = Pasta();
    http_.Responder(
        RespostaProgramada::Json(R"({"ordeminicial":"601","ordemfinal":"650","ultimaordem":"650","comandos":[]})"));
    r = Receber();
    EXPECT_EQ(r->UltimaOrdem, 650);
    EXPECT_EQ(Posicao(), 600);
    std::error_code ignorado;
    std::filesystem::remove_all(semBanco, ignorado);
}

TEST_F(Recebimento, BlocosMalformados) {
    const std::string valido =
        R"({"ordem":701,"tabela":"EVENTOS","acao":"U","idtransacao":"A","campos":{"ID":"701","TEXTO":"ok"}})";
    const std::string numeros = R"("ordeminicial":"701","ordemfinal":"702","ultimaordem":"702")";
    const auto bloco = [&](const std::string& segundo) {
        return "{" + numeros + R"(,"comandos":[)" + valido + "," + segundo + "]}";
    };
    struct Caso {
        RespostaProgramada resposta;
        std::string mensagem;
    };
    const Caso casos[] = {
        {RespostaProgramada::Texto("ordeminicial=701&ordemfinal=702&ultimaordem=702"),
         "o bloco não é um objeto JSON"},
        {RespostaProgramada::Json("{" + numeros + "}"), "o bloco não tem o membro \"comandos\""},
        {RespostaProgramada::Json("{" + numeros + R"(,"comandos":{}})"), "\"comandos\" do bloco não é uma lista"},
        {RespostaProgramada::Json(bloco("1")), "o comando 2 de \"comandos\" não é um objeto"},
        {RespostaProgramada::Json(bloco(R"({"tabela":"EVENTOS","acao":"U","idtransacao":"A","campos":{}})")),
         "o comando 2 de \"comandos\" não tem o membro \"ordem\""},
        {RespostaProgramada::Json(bloco(R"({"ordem":702,"acao":"U","idtransacao":"A","campos":{}})")),
         "o comando 2 de \"comandos\" não tem o membro \"tabela\""},
        {RespostaProgramada::Json(bloco(R"({"ordem":702,"tabela":"EVENTOS","idtransacao":"A","campos":{}})")),
         "o comando 2 de \"comandos\" não tem o membro \"acao\""},
        {RespostaProgramada::Json(bloco(R"({"ordem":702,"tabela":"EVENTOS","acao":"U","campos":{}})")),
         "o comando 2 de \"comandos\" não tem o membro \"idtransacao\""},
        {RespostaProgramada::Json(bloco(R"({"ordem":702,"tabela":"EVENTOS","acao":"U","idtransacao":"A"})")),
         "o comando 2 de \"comandos\" não tem o membro \"campos\""},
        {RespostaProgramada::Json(bloco(R"({"ordem":702,"tabela":"EVENTOS","acao":"U",)"
                                        R"("idtransacao":"A","campos":[]})")),
         "\"campos\" do comando de ordem 702 não é um objeto"},
        {RespostaProgramada::Json(bloco(R"({"ordem":"70x","tabela":"EVENTOS","acao":"U",)"
                                        R"("idtransacao":"A","campos":{}})")),
         "'70x' is not a valid integer value"},
        {RespostaProgramada::Json(bloco(R"({"ordem":702.5,"tabela":"EVENTOS","acao":"U",)"
                                        R"("idtransacao":"A","campos":{}})")),
         "'702,5' is not a valid integer value"},
        {RespostaProgramada::Json(bloco(R"({"ordem":702,"tabela":"EVENTOS","acao":"X",)"
                                        R"("idtransacao":"A","campos":{}})")),
         "o comando de ordem 702 tem uma acao desconhecida \"X\"" + TextoComoPorDeLadoRecebido(702)},
        {RespostaProgramada::Json(bloco(R"({"ordem":702,"tabela":"EVENTOS","acao":"u",)"
                                        R"("idtransacao":"A","campos":{}})")),
         "o comando de ordem 702 tem uma acao desconhecida \"u\"" + TextoComoPorDeLadoRecebido(702)},
    };
    for (const auto& c : casos) {
        SCOPED_TRACE(c.mensagem);
        dm_->Configuracoes().GravarUltimoRecebimento(700);
        http_.Responder(c.resposta);
        EXPECT_EQ(FalhaAoReceber(db::TCausaRotina::Outra), kPrefixo + c.mensagem);
        EXPECT_EQ(Posicao(), 700);
        EXPECT_TRUE(Aplicacoes(701, 702).empty());  // the valid first command was rolled back
    }
}

TEST_F(Recebimento, AcoesCamposBinariosETexto) {
    dm_->Configuracoes().GravarUltimoRecebimento(800);
    std::vector<std::uint8_t> foto(200);
    for (std::size_t i = 0; i < foto.size(); ++i) foto[i] = static_cast<std::uint8_t>(i * 7);
    const std::string base64 = StreamtoBase64(foto);
    ASSERT_NE(base64.find("\r\n"), std::string::npos);
    const std::string acentos = "S\xC3\xA3o Jo\xC3\xA3o \xC3\xA7\xC3\xA9\xC3\xBC";
    central_.Definir({
        {801, "P", "U", "PRODUTOS",
         {{"codigo", "1"}, {"DESCRICAO", acentos}, {"ATIVO", "False"}, {"PESOLIQUIDO", "1,2345"}, {"FOTO", base64},
          {"NAOEXISTE", "x"}, {"OBSERVACOES", "linha " + acentos}}},
        {802, "P", "U", "PRODUTOS", {{"CODIGO", "2"}, {"DESCRICAO", "segundo"}, {"UNIDADE", "KG"}}},
        // Changes nothing, whatever it names.
        {803, "P", "S", "NAO; EXISTE", {{"CODIGO", "2"}}},
        {804, "Q", "D", "PRODUTOS", {{"CODIGO", "2"}}},
        // A delete needs no structure rows: its key comes from the catalogue.
        {805, "Q", "D", "VENDAS", {{"NUMERO", "99"}}},
        // "I", as stores whose own triggers log inserts send it: the row.
        {806, "Q", "I", "PRODUTOS", {{"CODIGO", "3"}, {"DESCRICAO", "terceiro"}, {"UNIDADE", "CX"}}},
        {807, "Q", "U", "PRODUTOS", {{"CODIGO", "3"}, {"DESCRICAO", "terceiro"}}},  // UNIDADE left out: NULL
        {808, "Q", "U", "PRODUTOS",
         {{"CODIGO", "4"}, {"DESCRICAO", "quarto"}, {"descricaoetiqueta", "fora da lista"}, {"naoexiste", "y"}}},
    });
    banco_->ExecutarSql("INSERT INTO VENDAS (NUMERO, CODIGOLOJA, DATAVENDA) VALUES (99, 1, '2024-01-01');");
    // A member of a column the table lacks is told; one of a column the
    // table has but the structure list leaves out (DESCRICAOETIQUETA) is
    // the list's choice and goes without a word.
    std::vector<std::string> descartadas;
    ambiente_->AoDescartarColuna = [&](const std::string& tabela, const std::string& coluna, std::int64_t ordem) {
        descartadas.push_back(tabela + "." + coluna + "@" + std::to_string(ordem));
    };
    ReceberTudo();
    EXPECT_EQ(Posicao(), 808);
    EXPECT_EQ(descartadas, (std::vector<std::string>{"PRODUTOS.NAOEXISTE@801", "PRODUTOS.naoexiste@808"}));

    db::Conexao conexao(db::ParametrosConexao{.Servidor = "127.0.0.1", .Caminho = banco_->Caminho()});
    db::Transacao t(conexao, "T", db::OpcoesTransacao::EscritaAutomatica());
    db::Consulta q(conexao, t,
                   "SELECT CODIGO, DESCRICAO, ATIVO, PESOLIQUIDO, FOTO, OBSERVACOES, UNIDADE FROM PRODUTOS ORDER BY "
                   "CODIGO");
    ASSERT_TRUE(q.Abrir());
    EXPECT_EQ(q.Ler<std::int32_t>("CODIGO"), 1);
    EXPECT_EQ(q.Ler<std::string>("DESCRICAO"), acentos);
    EXPECT_EQ(q.Ler<bool>("ATIVO"), false);
    EXPECT_EQ(q.Ler<db::Numerico>("PESOLIQUIDO"), (db::Numerico{1235, -3}));
    EXPECT_EQ(q.Ler<db::Bytes>("FOTO"), foto);
    EXPECT_EQ(q.Ler<std::string>("OBSERVACOES"), "linha " + acentos);
    EXPECT_EQ(q.Ler<std::string>("UNIDADE"), std::nullopt);
    ASSERT_TRUE(q.Proximo());
    EXPECT_EQ(q.Ler<std::int32_t>("CODIGO"), 3);
    EXPECT_EQ(q.Ler<std::string>("UNIDADE"), std::nullopt);
    ASSERT_TRUE(q.Proximo());
    EXPECT_EQ(q.Ler<std::int32_t>("CODIGO"), 4);  // the rest of the row applied
    EXPECT_EQ(q.Ler<std::string>("DESCRICAO"), "quarto");
    EXPECT_FALSE(q.Proximo());
    db::Consulta vendas(conexao, t, "SELECT COUNT(*) FROM VENDAS WHERE NUMERO = 99");
    ASSERT_TRUE(vendas.Abrir());
    EXPECT_EQ(vendas.Ler(std::size_t{0}), db::Valor(std::int64_t{0}));
    vendas.Fechar();

    // An update-or-insert for a table without structure rows fails at
    // preparation, naming the statement.
    central_.Definir({{900, "Z", "U", "VENDAS", {{"NUMERO", "1"}}}});
    dm_->Configuracoes().GravarUltimoRecebimento(899);
    // Its text names the routine that failed, once.
    const std::string erro = FalhaAoReceber(db::TCausaRotina::Banco, "PrepararDataset");
    EXPECT_EQ(erro.rfind("Falha ao executar a rotina PrepararDataset: \r\nTabela: TBVENDAS_UI\r\n", 0), 0u) << erro;
    EXPECT_EQ(erro.find("Falha ao executar", 1), std::string::npos) << erro;
    EXPECT_EQ(Posicao(), 899);

    // A table name that is no plain identifier never reaches SQL.
    banco_->ExecutarSql("UPDATE OR INSERT INTO EVENTOS (ID, TEXTO) VALUES (9999, 'fica');");
    for (const char* acao : {"U", "D"}) {
        SCOPED_TRACE(acao);
        dm_->TBEstrutura().Adicionar("EVENTOS; DELETE FROM EVENTOS", "ID", "");
        central_.Definir({{901, "Z", acao, "EVENTOS; DELETE FROM EVENTOS", {{"ID", "801"}}}});
        const std::string hostil = FalhaAoReceber(db::TCausaRotina::Banco, "PrepararDataset");
        EXPECT_NE(hostil.find("Tabela: TBEVENTOS; DELETE FROM EVENTOS_"), std::string::npos) << hostil;
        EXPECT_EQ(Posicao(), 899);
    }
    db::Consulta eventos(conexao, t, "SELECT COUNT(*) FROM EVENTOS");
    ASSERT_TRUE(eventos.Abrir());
    EXPECT_GT(std::get<std::int64_t>(eventos.Ler(std::size_t{0})), 0);
}


// A value that cannot arrive exactly as it was sent fails the whole block,
// naming the command, the column and the text; nothing of the block stays
// and the position does not move past it.
TEST_F(Recebimento, ValorQueNaoChegaComoEnviadoFalhaOBloco) {
    const std::string um = R"({"ordem":20001,"tabela":"EVENTOS","acao":"U","idtransacao":"A","campos":{"ID":"20001"}})";
    const auto bloco = [&](const std::string& segundo) {
        return R"({"ordeminicial":"20001","ordemfinal":"20002","ultimaordem":"20002","comandos":[)" + um + "," +
               segundo + "]}";
    };
    const auto comando = [](const char* tabela, const char* acao, const std::string& campos) {
        return std::string(R"({"ordem":20002,"tabela":")") + tabela + R"(","acao":")" + acao +
               R"(","idtransacao":"A","campos":)" + campos + "}";
    };
    struct Caso {
        std::string segundo;
        std::string mensagem;
    };
    std::string cedilhas41;  // 41 characters, 82 bytes in UTF-8
    for (int i = 0; i < 41; ++i) cedilhas41 += "\\u00e7";
    const Caso casos[] = {
        {comando("EVENTOS", "U", R"({"ID":"abc"})"), "o comando de ordem 20002, coluna ID: 'abc' não é um valor inteiro válido"},
        {comando("EVENTOS", "U", R"({"ID":"3000000000"})"),
         "o comando de ordem 20002, coluna ID: '3000000000' está fora do intervalo de INTEGER"},
        {comando("EVENTOS", "U", R"({"ID":null,"TEXTO":"sem chave"})"), "o comando de ordem 20002: "},
        {comando("EVENTOS", "U", "{\"ID\":\"20002\",\"TEXTO\":\"a\xFF\"}"),
         "o comando de ordem 20002, coluna TEXTO: o texto tem bytes que não são válidos"},
        {comando("EVENTOS", "U", R"({"ID":"20002","TEXTO":"\u20ac 5"})"),
         "o comando de ordem 20002, coluna TEXTO: o texto tem um caractere que o conjunto de caracteres da coluna "
         "não comporta"},
        {comando("PRODUTOS", "U", R"({"CODIGO":"9","DESCRICAO":"x","FOTO":"isto n\u00e3o \u00e9 base64"})"),
         "o comando de ordem 20002, coluna FOTO: o texto não é base64"},
        {comando("EVENTOS", "D", "{}"), "a exclusão de ordem 20002 não traz valor para a coluna de chave ID"},
        {comando("EVENTOS", "D", R"({"ID":""})"), "o comando de ordem 20002, coluna ID: '' não é um valor inteiro válido"},
        {comando("EVENTOS", "D", R"({"ID":null})"), "a exclusão de ordem 20002 não traz valor para a coluna de chave ID"},
        // Cut to its column, a text would be another value; the lengths count
        // characters, not the bytes of the answer.
        {comando("EVENTOS", "U", R"({"ID":"20002","TEXTO":")" + cedilhas41 + R"("})"),
         "o comando de ordem 20002, coluna TEXTO: o texto tem 41 caracteres e a coluna (VARCHAR(40)) guarda no "
         "máximo 40 caracteres"},
    };
    banco_->ExecutarSql("UPDATE OR INSERT INTO EVENTOS (ID, TEXTO) VALUES (20003, 'fica');");
    for (const auto& c : casos) {
        SCOPED_TRACE(c.mensagem);
        dm_->Configuracoes().GravarUltimoRecebimento(20000);
        http_.Responder(RespostaProgramada::Json(bloco(c.segundo)));
        const std::string erro = FalhaAoReceber();
        EXPECT_EQ(erro.rfind(kPrefixo + c.mensagem, 0), 0u) << erro;
        // The entry names the way out for that command, and only for it.
        const std::string saida = "para pôr este comando de lado: ondarisd --por-de-lado-recebido 20002";
        EXPECT_EQ(erro.size() - erro.rfind(saida), saida.size()) << erro;
        EXPECT_EQ(erro.find("--por-de-lado-recebido 20001"), std::string::npos) << erro;
        EXPECT_EQ(Posicao(), 20000);
        EXPECT_TRUE(Aplicacoes(20001, 20002).empty());
    }
}

// JSON null is NULL, in every kind of column, as sent.
TEST_F(Recebimento, NuloDoJSONEhNulo) {
    dm_->Configuracoes().GravarUltimoRecebimento(20100);
    http_.Responder(RespostaProgramada::Json(
        R"({"ordeminicial":"20101","ordemfinal":"20101","ultimaordem":"20101","comandos":[)"
        R"({"ordem":20101,"tabela":"PRODUTOS","acao":"U","idtransacao":"N","campos":)"
        R"({"CODIGO":"11","DESCRICAO":"nulos","UNIDADE":"UN","UNIDADE":null,"PESOLIQUIDO":null,"ATIVO":null,)"
        R"("FOTO":null,"OBSERVACOES":null}}]})"));
    Receber();
    EXPECT_EQ(Posicao(), 20101);
    EXPECT_EQ(Valor("SELECT IIF(UNIDADE IS NULL, 'n', 'v') || IIF(PESOLIQUIDO IS NULL, 'n', 'v') || IIF(ATIVO IS "
                    "NULL, 'n', 'v') || IIF(FOTO IS NULL, 'n', 'v') || IIF(OBSERVACOES IS NULL, 'n', 'v') || "
                    "IIF(DESCRICAO IS NULL, 'n', 'v') FROM PRODUTOS WHERE CODIGO = 11"),
              "nnnnnv");
}

// Positions that cannot follow the one asked from refuse the whole answer:
// one below would make the store receive everything again, one past the
// answer's own end would make it skip every later command for good.
TEST_F(Recebimento, PosicoesQueNaoSeguemAPedidaRecusamARespostaInteira) {
    const auto comando = [](const std::string& ordem) {
        return R"({"ordem":)" + ordem + R"(,"tabela":"EVENTOS","acao":"U","idtransacao":"A","campos":{"ID":"20201"}})";
    };
    const auto resposta = [&](const std::string& ultima, std::vector<std::string> ordens) {
        std::string r = R"({"ordeminicial":"1","ordemfinal":"1","ultimaordem":")" + ultima + R"(","comandos":[)";
        for (std::size_t i = 0; i < ordens.size(); ++i) r += (i ? "," : "") + comando(ordens[i]);
        return r + "]}";
    };
    struct Caso {
        std::string corpo;
        std::string mensagem;
    };
    const Caso casos[] = {
        {resposta("20202", {"-5"}), "o comando de ordem -5 não vem depois da posição pedida, 20200"},
        {resposta("20202", {"20199"}), "o comando de ordem 20199 não vem depois da posição pedida, 20200"},
        // The one at the position asked for is left out (below), not a second time.
        {resposta("20202", {"20200", "20200"}),
         "o comando de ordem 20200 não vem depois do comando anterior, 20200"},
        {resposta("20202", {"20201", "20201"}),
         "o comando de ordem 20201 não vem depois do comando anterior, 20201"},
        {resposta("-1", {"20201"}), "o comando de ordem 20201 fica além da ultimaordem da resposta, -1"},
        {resposta("20202", {"20201", "20202", "9223372036854775807"}),
         "o comando de ordem 9223372036854775807 fica além da ultimaordem da resposta, 20202"},
    };
    for (const auto& c : casos) {
        SCOPED_TRACE(c.mensagem);
        dm_->Configuracoes().GravarUltimoRecebimento(20200);
        http_.Responder(RespostaProgramada::Json(c.corpo));
        EXPECT_EQ(FalhaAoReceber(db::TCausaRotina::Outra), kPrefixo + "a resposta foi recusada: " + c.mensagem);
        EXPECT_EQ(Posicao(), 20200);
        EXPECT_TRUE(Aplicacoes(20201, 20201).empty());
    }

    // A server that answers from the position asked for sends the command
    // applied last again: it is left out and told, the rest applies; with
    // nothing after it, the store has received everything.
    std::vector<std::int64_t> repetidas;
    ambiente_->AoRepetirPosicao = [&](std::int64_t ordem) { repetidas.push_back(ordem); };
    dm_->Configuracoes().GravarUltimoRecebimento(20200);
    http_.Responder(RespostaProgramada::Json(resposta("20201", {"20200", "20201"})));
    EXPECT_EQ(Receber()->UltimaOrdem, 20201);
    EXPECT_EQ(Posicao(), 20201);
    http_.Responder(RespostaProgramada::Json(resposta("20201", {"20201"})));
    EXPECT_EQ(Receber()->UltimaOrdem, 0);
    EXPECT_EQ(Posicao(), 20201);
    EXPECT_EQ(Aplicacoes(20200, 20201), (std::map<int, int>{{20201, 1}}));
    EXPECT_EQ(repetidas, (std::vector<std::int64_t>{20200, 20201}));
}

// The log carries two key values: a table with a longer key is refused for
// every statement kind, before anything of it is applied or sent.
TEST_F(Recebimento, ChaveDeTresColunasRecusada) {
    for (const char* acao : {"U", "D"}) {
        SCOPED_TRACE(acao);
        dm_->Configuracoes().GravarUltimoRecebimento(20300);
        central_.Definir({{20301, "A", acao, "TRES", {{"A", "1"}, {"B", "2"}, {"C", "3"}, {"V", "x"}}}});
        const std::string erro = FalhaAoReceber(db::TCausaRotina::Banco, "PrepararDataset");
        EXPECT_NE(erro.find("a tabela TRES tem chave primária de 3 colunas: o log guarda no máximo 2 valores de chave"),
                  std::string::npos)
            << erro;
        EXPECT_EQ(Posicao(), 20300);
    }
    EXPECT_EQ(Valor("SELECT COUNT(*) FROM TRES"), "0");
    EXPECT_THROW(db::MontarSQLQuerySEL("TRES", dm_->Catalogo().Campos("TRES", false)), db::ErroPreparacao);
}

}  // namespace
}  // namespace ondaris::sync
