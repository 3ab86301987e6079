// The self-check against a real store database and a central server inside
// the test process: a healthy store passes every item, and each broken
// prerequisite fails with its own line and what to do about it.
#include "app/shell/verificacao.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "db/gatilhos.h"
#include "db/manutencao.h"
#include "support/banco_teste.h"
#include "support/loja_e2e.h"
#include "support/pasta_temporaria.h"
#include "support/servidor_http.h"

namespace ondaris::teste {
namespace {

using shell::TItemVerificacao;
using shell::TOpcoesVerificacao;

constexpr const char* kTabelasVerificadas[] = {"PRODUTOS", "PRECOS", "VENDAS", "ITENSVENDA"};

// A store ready to replicate: our objects, the example tables with their
// generated triggers, the settings row pointing at `central`.
std::unique_ptr<BancoTeste> LojaPronta(const std::string& central) {
    auto banco = std::make_unique<BancoTeste>();
    ConfigurarLoja(*banco, 12, central);
    return banco;
}

// The structure list of the example tables, less or more as a case needs.
std::string Estrutura(const std::vector<std::string>& extras = {}) {
    static const std::string base = [] {
        BancoTeste banco;
        return EstruturaDe(banco);
    }();
    std::string json = base.substr(0, base.rfind(']'));
    while (!json.empty() && (json.back() == '\n' || json.back() == ' ')) json.pop_back();
    for (const auto& e : extras) json += "," + e;
    return json + "]";
}

std::string Coluna(const std::string& tabela, const std::string& campo, bool chave = false) {
    return R"({"tabela":")" + tabela + R"(","campo":")" + campo + R"(","chave":")" + (chave ? "PRIMARY KEY" : "") +
           R"("})";
}

struct Cenario {
    std::unique_ptr<BancoTeste> banco;
    PastaTemporaria pasta{"ondaris-verificacao"};
    ServidorHttp central;
    std::string estrutura = Estrutura();
    TOpcoesVerificacao opcoes;

    explicit Cenario(bool comObjetos = true) {
        banco = comObjetos ? LojaPronta(central.Base()) : std::make_unique<BancoTeste>(BancoTeste::Conteudo::Vazio);
        GravarBytes(pasta.Caminho() / "korvin.ini",
                    "[Korvin]\r\nServidor=127.0.0.1\r\nCaminho=" + banco->Caminho() + "\r\n");
        central.Manipulador([this](const RequisicaoRecebida& r) {
            if (r.Caminho == "/estruturabd") return RespostaProgramada::Json(estrutura);
            return RespostaProgramada::Texto("rota desconhecida", 404);
        });
        opcoes.Pasta = pasta.Pasta();
        opcoes.TempoLimite = 10000;
        opcoes.Regional = {"pt_BR.UTF-8", true, protocolo::TConfiguracoesRegionais::Brasileiras()};
    }
};

std::string Falhas(const std::vector<TItemVerificacao>& itens) {
    return shell::TextoVerificacao(itens);
}

// A check that ran and failed (one not run, because it depends on a failed
// one, is no failure of its own).
bool Falhou(const TItemVerificacao& i) { return !i.Ok && !i.NaoVerificado; }

TEST(Verificacao, AHealthyStorePassesEveryItem) {
    GarantirUsuarioReplicacao();
    Cenario c;
    const auto itens = shell::Verificar(c.opcoes);
    EXPECT_TRUE(std::all_of(itens.begin(), itens.end(), [](const TItemVerificacao& i) { return i.Ok; })) << Falhas(itens);
    // korvin.ini, server, login, objects, settings, central, four tables, regional settings.
    EXPECT_EQ(itens.size(), 11u) << Falhas(itens);
    const std::string texto = shell::TextoVerificacao(itens);
    for (const char* t : kTabelasVerificadas)
        EXPECT_NE(texto.find(std::string("OK     Tabela ") + t + ":"), std::string::npos) << texto;
    EXPECT_NE(texto.find("Tudo certo: 11 itens verificados."), std::string::npos) << texto;
}

// Each case breaks one prerequisite of a healthy store; its line is the
// first failure, and only the checks that depend on it go unchecked.
TEST(Verificacao, EachBrokenPrerequisiteFailsWithItsOwnLine) {
    GarantirUsuarioReplicacao();
    struct Caso {
        const char* nome;
        std::function<void(Cenario&)> quebrar;
        const char* linha;  // a part of the failing line
        const char* fazer;  // a part of what to do
        bool comObjetos = true;
        std::size_t falhas = 1;
    };
    const auto sql = [](std::string comandos) {
        return [comandos](Cenario& c) { c.banco->ExecutarSql(comandos); };
    };
    const auto ini = [](std::string conteudo) {
        return [conteudo](Cenario& c) {
            std::string texto = conteudo;
            if (const auto i = texto.find("<banco>"); i != std::string::npos) texto.replace(i, 7, c.banco->Caminho());
            GravarBytes(c.pasta.Caminho() / "korvin.ini", texto);
        };
    };
    const std::vector<Caso> casos = {
        // Without the file the agent looks for KORVIN.FDB beside itself:
        // the database cannot be opened either.
        {"no korvin.ini", [](Cenario& c) { std::filesystem::remove(c.pasta.Caminho() / "korvin.ini"); },
         "korvin.ini não encontrado", "crie", true, 2},
        {"korvin.ini without Caminho", ini("[Korvin]\nServidor=127.0.0.1\n;Caminho=<banco>\n"), "sem Caminho",
         "acrescente", true, 2},
        {"database server unreachable", ini("[Korvin]\nServidor=127.0.0.2\nCaminho=<banco>\n"),
         "Servidor de banco de dados 127.0.0.2 (porta 3050) inacessível", "Firebird está em execução"},
        {"database file not found", ini("[Korvin]\nServidor=127.0.0.1\nCaminho=/tmp/nao-existe-ondaris.fdb\n"),
         "não pôde ser aberto pela conta", "Caminho="},
        {"replication account refused",
         [](Cenario& c) { c.opcoes.Usuario = "ONDARIS_SEM_CONTA"; }, "Login da conta de replicação ONDARIS_SEM_CONTA",
         "CREATE USER"},
        {"objects missing", [](Cenario&) {}, "Objetos da replicação ausentes: RPL_CONFIGURACOES, LOG_REPLICACAO",
         db::kScriptObjetos, false},
        {"objects of version 1", sql("DROP PROCEDURE PROC_VERSAO_REPLICACAO;"),
         "Objetos da replicação da versão 1; este agente precisa da 4", "sem perder o log"},
        {"account cannot read the log", sql("REVOKE SELECT ON LOG_REPLICACAO FROM USER ONDARIS;"),
         "não pode ler LOG_REPLICACAO", "concede as permissões"},
        {"no settings row", sql("DELETE FROM RPL_CONFIGURACOES;"), "RPL_CONFIGURACOES não tem nenhuma linha",
         "INSERT INTO RPL_CONFIGURACOES"},
        {"no store code", sql("UPDATE RPL_CONFIGURACOES SET CODIGOLOJA = 0;"), "CODIGOLOJA vazio ou não positivo",
         "código desta loja"},
        {"no central address", sql("UPDATE RPL_CONFIGURACOES SET LINKCENTRAL = NULL;"), "LINKCENTRAL vazio",
         "endereço do servidor central"},
        {"central server unreachable",
         [](Cenario& c) {
             c.banco->ExecutarSql("UPDATE RPL_CONFIGURACOES SET LINKCENTRAL = 'http://127.0.0.1:" +
                                  std::to_string(ServidorHttp::PortaFechada()) + "/';");
         },
         "inacessível ou com resposta inválida", "servidor central está no ar"},
        {"structure list refused", [](Cenario& c) { c.central.Responder(RespostaProgramada::Texto("sem lista", 404)); },
         "recusou GET", "estruturabd"},
        {"structure list empty", [](Cenario& c) { c.estrutura = "[]"; }, "lista de estrutura está vazia",
         "scripts/estrutura-json"},
        {"table missing here", [](Cenario& c) { c.estrutura = Estrutura({Coluna("FORNECEDORES", "CODIGO", true)}); },
         "Tabela FORNECEDORES da lista de estrutura: não existe neste banco", "crie a tabela"},
        {"column missing here", [](Cenario& c) { c.estrutura = Estrutura({Coluna("PRECOS", "PRECOPROMOCAO")}); },
         "Tabela PRECOS: colunas da lista de estrutura que não existem aqui (ou são calculadas): PRECOPROMOCAO; "
         "nenhuma alteração da tabela vinda das outras lojas poderia ser gravada",
         "acrescente as colunas"},
        {"column name outside the rule in the list",
         [](Cenario& c) { c.estrutura = Estrutura({Coluna("PRECOS", "PRECO PROMOCAO")}); },
         "Tabela PRECOS: colunas cujo nome não é um identificador simples em maiúsculas", "renomeie", true, 2},
        {"quoted column here", sql("ALTER TABLE PRECOS ADD \"Obs\" VARCHAR(10);"),
         "Tabela PRECOS: colunas cujo nome não é um identificador simples em maiúsculas (uma letra, depois letras, "
         "dígitos, _ ou $, até 31 caracteres, sem aspas): \"Obs\"",
         "renomeie"},
        {"table name outside the rule", [](Cenario& c) { c.estrutura = Estrutura({Coluna("PRE-COS", "ID", true)}); },
         "Tabela \"PRE-COS\" da lista de estrutura: o nome não é um identificador simples", "corrija o nome"},
        {"three-column key",
         [](Cenario& c) {
             c.banco->ExecutarSql(
                 "CREATE TABLE TRES (A INTEGER NOT NULL, B INTEGER NOT NULL, C INTEGER NOT NULL, PRIMARY KEY (A, B, C));");
             c.estrutura = Estrutura({Coluna("TRES", "A", true), Coluna("TRES", "B", true), Coluna("TRES", "C", true)});
         },
         "Tabela TRES: TRES tem chave primária de 3 colunas", "uma ou duas colunas", true,
         2},  // and the account has no rights on the new table either
        {"no logging trigger", sql("DROP TRIGGER PRECOS_RPL;"),
         "Tabela PRECOS: sem o gatilho de registro PRECOS_RPL", "--instalar-gatilhos PRECOS"},
        {"trigger with the key in the wrong order",
         [](Cenario& c) {
             const auto errado = db::GerarGatilhoRegistro(
                 "PRECOS", {{"CODIGOPRODUTO", db::TTipoColunaChave::tcInteiro, "INTEGER", 0, true},
                            {"CODIGOLOJA", db::TTipoColunaChave::tcInteiro, "INTEGER", 0, true}});
             c.banco->ExecutarSql(errado.Script());
         },
         "Tabela PRECOS: o gatilho PRECOS_RPL difere do gerado para a chave (CODIGOLOJA, CODIGOPRODUTO)",
         "--somente-imprimir"},
        {"inactive trigger", sql("ALTER TRIGGER VENDAS_RPL INACTIVE;"), "o gatilho VENDAS_RPL está inativo",
         "--instalar-gatilhos VENDAS"},
        {"a second logging trigger",
         sql("SET TERM ^ ;\nCREATE TRIGGER VENDAS_DUPLICADO FOR VENDAS ACTIVE AFTER INSERT POSITION 1 AS BEGIN\n"
             "EXECUTE PROCEDURE PROC_REGISTRA_ALTERACAO('VENDAS', 'U', NEW.NUMERO, NULL, NULL); END^\n"
             "SET TERM ; ^\n"
             "GRANT EXECUTE ON PROCEDURE PROC_REGISTRA_ALTERACAO TO TRIGGER VENDAS_DUPLICADO;\n"),
         "outros gatilhos também registram alterações no log (VENDAS_DUPLICADO)", "DROP TRIGGER"},
        {"trigger may not log",
         sql("REVOKE EXECUTE ON PROCEDURE PROC_REGISTRA_ALTERACAO FROM TRIGGER ITENSVENDA_RPL;"),
         "o gatilho ITENSVENDA_RPL não tem permissão de executar PROC_REGISTRA_ALTERACAO", "concede a permissão", true,
         2},  // and the account's writes fail on the trigger's missing right

        {"account may not claim the hold on the database", sql("REVOKE UPDATE ON RPL_POSSE FROM USER ONDARIS;"),
         "Objetos da replicação da versão 4, mas a conta ONDARIS não pode gravar RPL_POSSE", "concede as permissões"},
        {"account may not delete", sql("REVOKE DELETE ON PRODUTOS FROM USER ONDARIS;"),
         "Tabela PRODUTOS: a conta ONDARIS não consegue apagar linhas (no permission for DELETE access to TABLE PRODUTOS",
         "concede as permissões"},
        {"locale missing",
         [](Cenario& c) { c.opcoes.Regional = {"xx_YY.UTF-8", false, protocolo::TConfiguracoesRegionais::DoLocale("C")}; },
         "o locale \"xx_YY.UTF-8\" pedido pelo ambiente não existe", "locale-gen"},
        {"no locale", [](Cenario& c) { c.opcoes.Regional = {"C.UTF-8", true, protocolo::TConfiguracoesRegionais::DoLocale("C")}; },
         "nenhum locale definido (locale C: separador decimal '.'", "LANG=pt_BR.UTF-8"},
    };
    for (const auto& caso : casos) {
        SCOPED_TRACE(caso.nome);
        Cenario c(caso.comObjetos);
        caso.quebrar(c);
        const auto itens = shell::Verificar(c.opcoes);
        const auto primeira =
            std::find_if(itens.begin(), itens.end(), [](const TItemVerificacao& i) { return !i.Ok; });
        ASSERT_NE(primeira, itens.end()) << Falhas(itens);
        EXPECT_NE(primeira->Texto.find(caso.linha), std::string::npos) << Falhas(itens);
        EXPECT_NE(primeira->OQueFazer.find(caso.fazer), std::string::npos) << Falhas(itens);
        EXPECT_EQ(static_cast<std::size_t>(std::count_if(itens.begin(), itens.end(), Falhou)), caso.falhas)
            << Falhas(itens);
        const std::string texto = shell::TextoVerificacao(itens);
        EXPECT_NE(texto.find("FALHA  " + primeira->Texto + "\n       O que fazer: " + primeira->OQueFazer + "\n"),
                  std::string::npos)
            << texto;
    }
}

// Several faults at once: the check goes past every failure it can, so one
// report shows each fault, not only the first; a check that depends on a
// failed one is not run and says what it depends on.
TEST(Verificacao, EveryFaultOfAStoreIsReportedAtOnceAndWhatDependsOnAFailureSaysSo) {
    GarantirUsuarioReplicacao();
    struct Caso {
        const char* nome;
        std::function<void(Cenario&)> quebrar;
        std::vector<std::string> falhas;          // a part of each failing line, in the report's order
        std::vector<std::string> naoVerificados;  // each line of a check not run, whole ("{banco}": the path)
        std::string resumo = {};                  // the last line, when given
        bool comObjetos = true;
    };
    const auto sql = [](std::string comandos) {
        return [comandos](Cenario& c) { c.banco->ExecutarSql(comandos); };
    };
    const auto semLocale = [](Cenario& c) {
        c.opcoes.Regional = {"xx_YY.UTF-8", false, protocolo::TConfiguracoesRegionais::DoLocale("C")};
    };
    const std::string linhaNaoLida =
        "Servidor central não verificado: depende do endereço LINKCENTRAL da linha de configuração, que não pôde "
        "ser lida";
    const std::string tabelas =
        "Tabelas replicadas não verificadas: dependem da lista de estrutura do servidor central, que não pôde ser "
        "pedida";
    const std::vector<Caso> casos = {
        {"a right missing on our objects and a dropped trigger",
         sql("REVOKE EXECUTE ON PROCEDURE PROC_RETORNA_INDICE FROM USER ONDARIS;\nDROP TRIGGER PRECOS_RPL;"),
         {"Objetos da replicação da versão 4, mas a conta ONDARIS não pode executar PROC_RETORNA_INDICE",
          "Tabela PRECOS: sem o gatilho de registro PRECOS_RPL"},
         {},
         "2 falhas em 11 itens verificados."},
        {"no settings row while the central server answers, and no locale",
         [&](Cenario& c) {
             c.banco->ExecutarSql("DELETE FROM RPL_CONFIGURACOES;");
             semLocale(c);
         },
         {"Linha de configuração: RPL_CONFIGURACOES não tem nenhuma linha", "o locale \"xx_YY.UTF-8\""},
         {linhaNaoLida, tabelas},
         "2 falhas em 6 itens verificados; 2 itens não verificados, por dependerem do que falhou."},
        {"no right to read the settings",
         sql("REVOKE SELECT ON RPL_CONFIGURACOES FROM USER ONDARIS;"),
         {"mas a conta ONDARIS não pode ler RPL_CONFIGURACOES"},
         {"Linha de configuração não verificada: depende da permissão de ler RPL_CONFIGURACOES, que a conta "
          "ONDARIS não tem",
          linhaNaoLida, tabelas}},
        {"no store code, a right missing on a table and an inactive trigger",
         sql("UPDATE RPL_CONFIGURACOES SET CODIGOLOJA = 0;\nREVOKE DELETE ON PRODUTOS FROM USER ONDARIS;\n"
             "ALTER TRIGGER VENDAS_RPL INACTIVE;"),
         {"Linha de configuração: CODIGOLOJA vazio ou não positivo",
          "Tabela PRODUTOS: a conta ONDARIS não consegue apagar linhas", "o gatilho VENDAS_RPL está inativo"},
         {}},
        {"neither store code nor central address",
         sql("UPDATE RPL_CONFIGURACOES SET CODIGOLOJA = 0, LINKCENTRAL = '';"),
         {"Linha de configuração: CODIGOLOJA vazio ou não positivo", "Linha de configuração: LINKCENTRAL vazio"},
         {"Servidor central não verificado: depende do endereço LINKCENTRAL da linha de configuração, que está vazio",
          tabelas}},
        {"a key the log cannot carry: the trigger waits for it, the rights do not",
         [](Cenario& c) {
             c.banco->ExecutarSql(
                 "CREATE TABLE TRES (A INTEGER NOT NULL, B INTEGER NOT NULL, C INTEGER NOT NULL, PRIMARY KEY (A, B, C));");
             c.estrutura = Estrutura({Coluna("TRES", "A", true), Coluna("TRES", "B", true), Coluna("TRES", "C", true)});
         },
         {"Tabela TRES: TRES tem chave primária de 3 colunas",
          "Tabela TRES: a conta ONDARIS não consegue ler, incluir, alterar, apagar linhas"},
         {"Tabela TRES: gatilho de registro TRES_RPL não verificado: depende de uma chave que o log possa levar"}},
        {"the replication account's login refused, and no locale",
         [&](Cenario& c) {
             c.opcoes.Usuario = "ONDARIS_SEM_CONTA";
             semLocale(c);
         },
         {"Login da conta de replicação ONDARIS_SEM_CONTA em 127.0.0.1/3050:{banco} recusado", "o locale"},
         {"Objetos da replicação não verificados: dependem da conexão ao banco como a conta ONDARIS_SEM_CONTA, que "
          "não pôde ser aberta",
          "Linha de configuração não verificada: depende da conexão ao banco como a conta ONDARIS_SEM_CONTA, que não "
          "pôde ser aberta",
          linhaNaoLida, tabelas},
         "2 falhas em 4 itens verificados; 4 itens não verificados, por dependerem do que falhou."},
        {"the database server unreachable",
         [](Cenario& c) {
             GravarBytes(c.pasta.Caminho() / "korvin.ini",
                         "[Korvin]\nServidor=127.0.0.2\nCaminho=" + c.banco->Caminho() + "\n");
         },
         {"Servidor de banco de dados 127.0.0.2 (porta 3050) inacessível"},
         {"Login da conta de replicação ONDARIS em 127.0.0.2/3050:{banco} não verificado: depende do servidor de "
          "banco de dados, que não respondeu",
          "Objetos da replicação não verificados: dependem da conexão ao banco como a conta ONDARIS, que não pôde ser "
          "aberta",
          "Linha de configuração não verificada: depende da conexão ao banco como a conta ONDARIS, que não pôde ser "
          "aberta",
          linhaNaoLida, tabelas}},
        {"none of our objects",
         [](Cenario&) {},
         {"Objetos da replicação ausentes: RPL_CONFIGURACOES"},
         {"Linha de configuração não verificada: depende da tabela RPL_CONFIGURACOES, que não existe neste banco",
          linhaNaoLida, tabelas},
         {},
         false},
    };
    for (const auto& caso : casos) {
        SCOPED_TRACE(caso.nome);
        Cenario c(caso.comObjetos);
        caso.quebrar(c);
        const auto itens = shell::Verificar(c.opcoes);
        const std::string texto = shell::TextoVerificacao(itens);
        const auto expandir = [&](std::string t) {
            if (const auto i = t.find("{banco}"); i != std::string::npos) t.replace(i, 7, c.banco->Caminho());
            return t;
        };

        std::vector<std::string> falhas, naoVerificados;
        for (const auto& i : itens) {
            if (Falhou(i)) falhas.push_back(i.Texto);
            if (i.NaoVerificado) naoVerificados.push_back(i.Texto);
        }
        ASSERT_EQ(falhas.size(), caso.falhas.size()) << texto;
        for (std::size_t i = 0; i < falhas.size(); ++i)
            EXPECT_NE(falhas[i].find(expandir(caso.falhas[i])), std::string::npos) << texto;
        std::vector<std::string> esperados;
        for (const auto& t : caso.naoVerificados) esperados.push_back(expandir(t));
        EXPECT_EQ(naoVerificados, esperados) << texto;
        // A check not run has its own mark and no advice of its own.
        for (const auto& t : esperados) EXPECT_NE(texto.find("\n--     " + t + "\n"), std::string::npos) << texto;
        if (!caso.resumo.empty()) {
            EXPECT_EQ(texto.substr(texto.rfind('\n', texto.size() - 2) + 1), caso.resumo + "\n") << texto;
        }
        std::ostringstream saida;
        EXPECT_EQ(shell::ExecutarVerificacao(c.opcoes, saida), 1) << texto;
    }
}

// Warnings: a column of this store that the list does not name is sent but
// written nowhere; the check says so without failing, and names with "$"
// pass like any other.
TEST(Verificacao, AColumnTheListLacksIsAWarningAndDollarNamesPass) {
    GarantirUsuarioReplicacao();
    Cenario c;
    c.banco->ExecutarSql("ALTER TABLE PRECOS ADD PRECOPROMOCAO NUMERIC(15,2), ADD OBS$ VARCHAR(10);\n"
                         "CREATE TABLE PRE$COS (COD$ INTEGER NOT NULL PRIMARY KEY, VALOR$ VARCHAR(20));\n" +
                         db::GerarGatilhoRegistro("PRE$COS", {{"COD$", db::TTipoColunaChave::tcInteiro, "INTEGER", 0, true}})
                             .Script());
    c.estrutura = Estrutura({Coluna("PRE$COS", "COD$", true), Coluna("PRE$COS", "VALOR$")});
    const auto itens = shell::Verificar(c.opcoes);
    const std::string texto = shell::TextoVerificacao(itens);
    EXPECT_TRUE(std::all_of(itens.begin(), itens.end(), [](const TItemVerificacao& i) { return i.Ok; })) << texto;
    EXPECT_NE(texto.find("AVISO  Tabela PRECOS: as colunas PRECOPROMOCAO, OBS$ desta loja não estão na lista de "
                         "estrutura; os valores são enviados, mas as outras lojas não os gravam\n"
                         "       O que fazer: se a coluna deve ser replicada, crie-a em todas as lojas"),
              std::string::npos)
        << texto;
    EXPECT_NE(texto.find("OK     Tabela PRE$COS: colunas, chave (COD$), gatilho PRE$COS_RPL e permissões"),
              std::string::npos)
        << texto;
    EXPECT_NE(texto.find("Nenhuma falha e 1 aviso em 13 itens verificados."), std::string::npos) << texto;
    EXPECT_EQ(shell::ExecutarVerificacao(c.opcoes, *std::make_unique<std::ostringstream>()), 0);
}

// The program itself: its lines on standard output, exit 0 only when all pass.
TEST(Verificacao, OndarisdExitsWithZeroOnlyWhenEveryItemPasses) {
    GarantirUsuarioReplicacao();
    Cenario c;
    std::filesystem::copy_file(ONDARIS_BINARY_DIR "/app/ondarisd", c.pasta.Caminho() / "ondarisd");
    const auto rodar = [&] {
        Processo p({(c.pasta.Caminho() / "ondarisd").string(), "--verificar"}, c.pasta.Caminho() / "saida.txt",
                   AmbienteBrasileiro());
        const int status = p.Esperar(std::chrono::seconds(120));
        return std::make_pair(status, p.Saida());
    };
    const auto [ok, saidaOk] = rodar();
    EXPECT_EQ(ok, 0) << saidaOk;
    EXPECT_NE(saidaOk.find("OK     Configurações regionais (pt_BR.UTF-8): separador decimal ','"),
              std::string::npos)
        << saidaOk;
    EXPECT_NE(saidaOk.find("Tudo certo"), std::string::npos) << saidaOk;

    c.banco->ExecutarSql("DROP TRIGGER PRODUTOS_RPL;");
    const auto [falhou, saidaFalha] = rodar();
    EXPECT_EQ(falhou, 1) << saidaFalha;
    EXPECT_NE(saidaFalha.find("FALHA  Tabela PRODUTOS: sem o gatilho de registro PRODUTOS_RPL"), std::string::npos)
        << saidaFalha;
    EXPECT_NE(saidaFalha.find("1 falha em 11 itens verificados."), std::string::npos) << saidaFalha;
    EXPECT_FALSE(std::filesystem::exists(c.pasta.Caminho() / "Ondaris.log")) << "the check writes no log entry";
}

}  // namespace
}  // namespace ondaris::teste
