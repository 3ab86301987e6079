// The send-position query and the structure download against a real HTTP
// server in the process: addresses, outcomes in the result
// record, raised failures, and how the structure list is loaded.
#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "support/servidor_http.h"
#include "support/captura.h"
#include "sync/servidor.h"

namespace ondaris::sync {
namespace {

using teste::RespostaProgramada;
using teste::ServidorHttp;

TContextoServidor Contexto(int32_t tempo = 5000) {
    TContextoServidor c;
    c.TempoLimite = tempo;
    c.Regional = protocolo::TConfiguracoesRegionais::Brasileiras();
    return c;
}

// ---- ConsultarRecebimento ---------------------------------------------------

TEST(ConsultarRecebimento, ReadsTheBlocksPositionsAndLeavesItsCommandsAlone) {
    ServidorHttp servidor;
    servidor.Responder(RespostaProgramada::Json(
        R"({"ordeminicial":"41","ordemfinal":"42","ultimaordem":"4294967301",)"
        R"("comandos":[{"ordem":"41","tabela":"NAOEXISTE","acao":"X","idtransacao":"1","campos":{}}]})"));
    const auto r = ConsultarRecebimento(servidor.Base(), 3, 40, Contexto());
    ASSERT_FALSE(r.Recusado());
    EXPECT_EQ(r->OrdemInicial, 41);
    EXPECT_EQ(r->OrdemFinal, 42);
    EXPECT_EQ(r->UltimaOrdem, 4294967301LL);
    EXPECT_EQ(servidor.Ultima().Caminho, "/receber/3/40");

    servidor.Responder(RespostaProgramada::Texto("loja bloqueada", 403));
    const auto recusado = ConsultarRecebimento(servidor.Base(), 3, 40, Contexto());
    ASSERT_TRUE(recusado.Recusado());
    EXPECT_EQ(recusado.Recusa()->StatusCode, 403);
    EXPECT_EQ(recusado.Recusa()->Conteudo, "loja bloqueada");
    EXPECT_EQ(recusado.Recusa()->Pedido, "GET " + servidor.Base("receber/3/40"));

    servidor.Responder(RespostaProgramada::Json(R"({"ordeminicial":"41","ordemfinal":"42","ultimaordem":"fim"})"));
    const std::string texto =
        teste::TextoDaFalha<TErroRespostaInvalida>([&] { ConsultarRecebimento(servidor.Base(), 3, 40, Contexto()); });
    EXPECT_NE(texto.find("o membro \"ultimaordem\" com 'fim', que não é um número inteiro"), std::string::npos) << texto;
}

// ---- UltimoMovimentoEnviado ------------------------------------------------

TEST(UltimoMovimentoEnviado, AsksWithStoreAndPositionAndReadsJson) {
    ServidorHttp servidor;
    servidor.Responder(
        RespostaProgramada::Json(R"({"ultimaordemenviada": 4294967301, "ultimomovimentoloja": "9223372036854775807"})"));
    auto r = UltimoMovimentoEnviado(servidor.Base(), 12, 9223372036854775807LL, Contexto());
    ASSERT_FALSE(r.Recusado());
    EXPECT_EQ(r->UltimaOrdemEnviada, 4294967301LL);
    EXPECT_EQ(r->UltimoMovimentoLoja, 9223372036854775807LL);

    auto req = servidor.Ultima();
    EXPECT_EQ(req.Metodo, "GET");
    EXPECT_EQ(req.Caminho, "/obterindiceenvio/12/9223372036854775807");
    EXPECT_EQ(req.Corpo, "");
}

TEST(UltimoMovimentoEnviado, PathCarriesPlainDecimals) {
    ServidorHttp servidor;
    servidor.Manipulador([](const teste::RequisicaoRecebida&) {
        return RespostaProgramada::Json(R"({"ultimaordemenviada":0,"ultimomovimentoloja":0})");
    });
    struct Caso {
        std::string base;
        int32_t loja;
        int64_t posicao;
        const char* caminho;
    };
    const Caso casos[] = {
        {servidor.Base(), 1, 0, "/obterindiceenvio/1/0"},
        {servidor.Base("api"), -3, -1, "/api/obterindiceenvio/-3/-1"},
        {servidor.Base("api/"), 2147483647, INT64_MIN, "/api/obterindiceenvio/2147483647/-9223372036854775808"},
    };
    for (const auto& caso : casos) {
        UltimoMovimentoEnviado(caso.base, caso.loja, caso.posicao, Contexto());
        EXPECT_EQ(servidor.Ultima().Caminho, caso.caminho);
    }
}

TEST(UltimoMovimentoEnviado, ReadsNameValueText) {
    ServidorHttp servidor;
    servidor.Responder(RespostaProgramada::Texto("ultimaordemenviada=7&ultimomovimentoloja=9"));
    servidor.Responder(RespostaProgramada::Texto("ultimomovimentoloja=9&ultimaordemenviada=7", 200, "text/html"));
    for (int i = 0; i < 2; ++i) {
        auto r = UltimoMovimentoEnviado(servidor.Base(), 1, 9, Contexto());
        EXPECT_EQ(r->UltimaOrdemEnviada, 7);
        EXPECT_EQ(r->UltimoMovimentoLoja, 9);
    }
}

TEST(UltimoMovimentoEnviado, AnswersOtherThan200AreToldAndRaiseNothing) {
    ServidorHttp servidor;
    struct Caso {
        int status;
        std::string corpo;
        const char* frase;
    };
    const Caso casos[] = {{201, "criado", "Created"},
                          {204, "", "No Content"},
                          {404, "loja desconhecida", "Not Found"},
                          {409, "{\"erro\":1}", "Conflict"}};
    for (const auto& caso : casos) {
        servidor.Responder(RespostaProgramada::Texto(caso.corpo, caso.status));
        // Every refusal is the result, also one without a body.
        auto r = UltimoMovimentoEnviado(servidor.Base(), 1, 9, Contexto());
        ASSERT_TRUE(r.Recusado()) << caso.status;
        EXPECT_EQ(r.Recusa()->Pedido, "GET " + servidor.Base("obterindiceenvio/1/9"));
        EXPECT_EQ(r.Recusa()->StatusCode, caso.status);
        EXPECT_EQ(r.Recusa()->FraseStatus, caso.frase);
        EXPECT_EQ(r.Recusa()->Conteudo, caso.corpo);
    }
}

// Runs the query expecting a raised failure of type E; returns its text.
template <class E>
std::string FalhaDoUltimoMovimento(const std::string& base, int32_t tempo = 5000) {
    return teste::TextoDaFalha<E>([&] { UltimoMovimentoEnviado(base, 1, 9, Contexto(tempo)); });
}

TEST(UltimoMovimentoEnviado, FailuresAreRaisedAsTheyCame) {
    ServidorHttp servidor;
    const std::string pedido = "GET " + servidor.Base("obterindiceenvio/1/9");
    servidor.Responder(RespostaProgramada::Texto("indisponivel", 503));
    EXPECT_EQ(FalhaDoUltimoMovimento<TErroStatusServidor>(servidor.Base()),
              "HTTP/1.1 503 Service Unavailable: indisponivel (" + pedido + ")");

    // A malformed answer says so, naming the request and the member. Each
    // member is read on its own: a missing one is never the value of the
    // member read before it.
    const std::string malformada = "resposta malformada do servidor central a " + pedido + ": ";
    const std::string resposta = "A resposta do servidor central a " + pedido;
    struct Caso {
        RespostaProgramada resposta;
        std::string texto;
    };
    const Caso casos[] = {
        {RespostaProgramada::Json(R"({"ultimomovimentoloja": 9})"),
         resposta + " não traz o membro \"ultimaordemenviada\" (resposta do tipo application/json)"},
        {RespostaProgramada::Json(R"({"ultimaordemenviada": 5})"),
         resposta + " não traz o membro \"ultimomovimentoloja\" (resposta do tipo application/json)"},
        {RespostaProgramada::Json(R"({"ultimaordemenviada": 5, "UltimoMovimentoLoja": 5})"),
         resposta + " não traz o membro \"ultimomovimentoloja\" (resposta do tipo application/json)"},
        {RespostaProgramada::Texto("ultimaordemenviada=7"),
         resposta + " não traz o membro \"ultimomovimentoloja\" (resposta do tipo text/plain)"},
        {RespostaProgramada::Texto("<html>proxy</html>", 200, "text/html"),
         resposta + " não traz o membro \"ultimaordemenviada\" (resposta do tipo text/html)"},
        {RespostaProgramada::Texto("ultimaordemenviada=7", 200, "application/octet-stream"),
         resposta + " não traz o membro \"ultimaordemenviada\" (resposta do tipo application/octet-stream)"},
        {RespostaProgramada::Json(R"({"ultimaordemenviada": 1.5, "ultimomovimentoloja": 9})"),
         resposta + " traz o membro \"ultimaordemenviada\" com '1,5', que não é um número inteiro"},
        {RespostaProgramada::Json(R"({"ultimaordemenviada": "", "ultimomovimentoloja": 9})"),
         resposta + " traz o membro \"ultimaordemenviada\" com '', que não é um número inteiro"},
        {RespostaProgramada::Json(R"({"ultimaordemenviada": 1, "ultimomovimentoloja": "x"})"),
         resposta + " traz o membro \"ultimomovimentoloja\" com 'x', que não é um número inteiro"},
        {RespostaProgramada::Json(R"({"ultimaordemenviada": 1, "ultimomovimentoloja": null})"),
         resposta + " traz o membro \"ultimomovimentoloja\" com 'null', que não é um número inteiro"},
        {RespostaProgramada::Texto("ultimaordemenviada=7&ultimomovimentoloja=9a"),
         resposta + " traz o membro \"ultimomovimentoloja\" com '9a', que não é um número inteiro"},
        {RespostaProgramada::Texto("ultimaordemenviada=7&ultimomovimentoloja="),
         resposta + " traz o membro \"ultimomovimentoloja\" com '', que não é um número inteiro"},
        {RespostaProgramada::Json(R"([{"ultimaordemenviada": 1}])"),
         malformada +
             "o corpo não é um objeto JSON; \"ultimaordemenviada\" não pode ser lido: Invalid class typecast"},
        {RespostaProgramada::Json("nao e json"),
         malformada + "o corpo não é JSON válido; \"ultimaordemenviada\" não pode ser lido"},
        {RespostaProgramada::Json(""), malformada + "o corpo não é JSON válido; \"ultimaordemenviada\" não pode ser lido"},
    };
    for (const auto& caso : casos) {
        servidor.Responder(caso.resposta);
        EXPECT_EQ(FalhaDoUltimoMovimento<TErroRespostaInvalida>(servidor.Base()), caso.texto);
    }

    auto fechada = "http://127.0.0.1:" + std::to_string(ServidorHttp::PortaFechada());
    const std::string transporte = FalhaDoUltimoMovimento<TErroTransporte>(fechada);
    EXPECT_TRUE(transporte.starts_with("REST request failed: ")) << transporte;
    EXPECT_TRUE(transporte.ends_with(" (GET " + fechada + "/obterindiceenvio/1/9)")) << transporte;

    auto lenta = RespostaProgramada::Json("{}");
    lenta.Atraso = std::chrono::seconds(20);
    servidor.Responder(lenta);
    EXPECT_TRUE(FalhaDoUltimoMovimento<TErroTransporte>(servidor.Base(), 300).starts_with("REST request failed: "));
}

// ---- Structure list --------------------------------------------------------

using Linha = db::TLinhaEstrutura;
const std::nullopt_t Nulo = std::nullopt;

TEST(TEstrutura, CutsWidthsAndKeepsLatin1Only) {
    db::TEstrutura estrutura;
    estrutura.Adicionar(std::string(150, 'T'), std::string(150, 'c'), std::string(31, 'k'));
    estrutura.Adicionar("A\xC3\xA7\xE2\x82\xAC" "B", Nulo, "");  // c cedilla stays, the euro sign does not
    ASSERT_EQ(estrutura.Quantidade(), 2u);
    EXPECT_EQ(estrutura.Linhas()[0].TABELA, std::string(100, 'T'));
    EXPECT_EQ(estrutura.Linhas()[0].CAMPO, std::string(100, 'c'));
    EXPECT_EQ(estrutura.Linhas()[0].CHAVE, std::string(30, 'k'));
    EXPECT_EQ(estrutura.Linhas()[1], (Linha{"A\xC3\xA7?B", Nulo, ""}));
    // Widths count characters, not bytes.
    std::string acentos;
    for (int i = 0; i < 40; ++i) acentos += "\xC3\xA9";
    estrutura.Adicionar(Nulo, Nulo, acentos);
    EXPECT_EQ(estrutura.Linhas()[2].CHAVE->size(), 60u);
}

TEST(TEstrutura, ListsTheColumnsOfATableByItsUpperCaseName) {
    db::TEstrutura estrutura;
    estrutura.Adicionar("PRODUTOS", "CODIGO", "S");
    estrutura.Adicionar("CLIENTES", "NOME", Nulo);
    estrutura.Adicionar("PRODUTOS", "DESCRICAO", Nulo);
    estrutura.Adicionar("PRODUTOS", Nulo, Nulo);
    estrutura.Adicionar("PRODUTOS", "", Nulo);
    estrutura.Adicionar("produtos", "PRECO", Nulo);
    estrutura.Adicionar("PRODUTOS ", "X", Nulo);
    EXPECT_EQ(estrutura.CamposDaTabela("produtos"), (std::vector<std::string>{"CODIGO", "DESCRICAO"}));
    EXPECT_EQ(estrutura.CamposDaTabela("PRODUTOS"), (std::vector<std::string>{"CODIGO", "DESCRICAO"}));
    EXPECT_EQ(estrutura.CamposDaTabela("Clientes"), (std::vector<std::string>{"NOME"}));
    EXPECT_TRUE(estrutura.CamposDaTabela("VENDAS").empty());
    estrutura.Limpar();
    EXPECT_TRUE(estrutura.Vazia());
}

TEST(ObterEstruturaBanco, LoadsTheAnswerByTheLoadingRules) {
    ServidorHttp servidor;
    struct Caso {
        std::string corpo;
        std::vector<Linha> linhas;
    };
    const std::string longo(150, 'x');
    const Caso casos[] = {
        {"[]", {}},
        {"{}", {}},
        {"\"texto\"", {}},
        {"42", {}},
        {"null", {}},
        {R"({"tabela":"A","campo":"B","chave":"S"})", {{"A", "B", "S"}}},
        {R"([{"TABELA": "A", "campo": "B"}])", {{"A", "B", Nulo}}},
        {R"([{"tabela": "A", "TABELA": "X", "campo": "B"}])", {{"A", "B", Nulo}}},
        {R"([{"Tabela": "A", "campo": "B", "chave": null}])", {{Nulo, "B", Nulo}}},
        {R"([{"tabela": "A", "tabela": "Z", "campo": 12, "chave": true}])", {{"A", "12", "true"}}},
        {R"([[{"tabela": "A", "campo": "B"}], {"tabela": "A", "campo": "C"}])", {{"A", "B", Nulo}, {"A", "C", Nulo}}},
        {R"([{}, [[{"campo":"D"}]], {"outro": 1}])", {{Nulo, "D", Nulo}, {Nulo, Nulo, Nulo}}},
        {R"([{"tabela":"A","campo":")" + longo + R"("}])", {{"A", std::string(100, 'x'), Nulo}}},
        {R"([{"tabela":"A\u00e7\u20ac","campo":"B"}])", {{"A\xC3\xA7?", "B", Nulo}}},
        {R"([{"tabela":"A","campo":"B","object_state":"UNMODIFIED"},{"tabela":"A","campo":"C","objectState":"INSERTED"}])",
         {{"A", "C", Nulo}}},
    };
    for (const auto& caso : casos) {
        servidor.Responder(RespostaProgramada::Json(caso.corpo));
        db::TEstrutura estrutura;
        estrutura.Adicionar("VELHA", "LINHA", Nulo);
        EXPECT_FALSE(ObterEstruturaBanco(servidor.Base(), estrutura, Contexto()));
        EXPECT_EQ(estrutura.Linhas(), caso.linhas) << caso.corpo;
    }
}

TEST(ObterEstruturaBanco, AddressEndsInEstruturabdWithOrWithoutSlash) {
    ServidorHttp servidor;
    servidor.Manipulador([](const teste::RequisicaoRecebida&) { return RespostaProgramada::Json("[]"); });
    for (const std::string& base : {servidor.Base("central"), servidor.Base("central/")}) {
        db::TEstrutura estrutura;
        ObterEstruturaBanco(base, estrutura, Contexto());
        auto req = servidor.Ultima();
        EXPECT_EQ(req.Metodo, "GET");
        EXPECT_EQ(req.Caminho, "/central/estruturabd");
    }
}

TEST(ObterEstruturaBanco, ARefusalKeepsThePreviousRowsAndIsTold) {
    ServidorHttp servidor;
    servidor.Responder(RespostaProgramada::Texto("estrutura indisponivel", 404));
    servidor.Responder(RespostaProgramada::Texto("", 204));
    for (const auto& [status, esperado] : {std::pair{404, "estrutura indisponivel"}, std::pair{204, ""}}) {
        db::TEstrutura estrutura;
        estrutura.Adicionar("A", "B", Nulo);
        const std::optional<TRecusa> recusa = ObterEstruturaBanco(servidor.Base(), estrutura, Contexto());
        EXPECT_EQ(estrutura.Linhas(), (std::vector<Linha>{{"A", "B", Nulo}}));
        ASSERT_TRUE(recusa);
        EXPECT_EQ(recusa->Pedido, "GET " + servidor.Base("estruturabd"));
        EXPECT_EQ(recusa->StatusCode, status);
        EXPECT_EQ(recusa->Conteudo, esperado);
    }
}

TEST(ObterEstruturaBanco, AnAnswerThatIsNotJsonIsMalformedAndKeepsThePreviousRows) {
    ServidorHttp servidor;
    const std::string prefixo = "Falha ao executar a rotina ObterEstruturaBanco: resposta malformada do servidor central "
                                "a GET " + servidor.Base("estruturabd") + ": ";
    struct Caso {
        RespostaProgramada resposta;
        std::string detalhe;
    };
    const Caso casos[] = {
        {RespostaProgramada::Json("nao e json"), "o corpo não é JSON válido"},
        {RespostaProgramada::Texto("<html>entrar no proxy</html>", 200, "text/html"), "o corpo não é JSON válido"},
        {RespostaProgramada::Json(""), "o corpo está vazio; esperava-se uma lista JSON"},
    };
    for (const auto& caso : casos) {
        servidor.Responder(caso.resposta);
        db::TEstrutura estrutura;
        estrutura.Adicionar("A", "B", Nulo);
        EXPECT_EQ(teste::TextoDaFalhaDaRotina(
                      "ObterEstruturaBanco", db::TCausaRotina::Outra, [&] { ObterEstruturaBanco(servidor.Base(), estrutura, Contexto()); }),
                  prefixo + caso.detalhe);
        EXPECT_EQ(estrutura.Linhas(), (std::vector<Linha>{{"A", "B", Nulo}}));
    }
}

TEST(ObterEstruturaBanco, FailuresCarryTheRoutinePrefix) {
    ServidorHttp servidor;
    const std::string prefixo = "Falha ao executar a rotina ObterEstruturaBanco: ";

    // A bare value inside the array: rows before it stay.
    servidor.Responder(RespostaProgramada::Json(R"([{"tabela":"A","campo":"B"}, "solto", {"tabela":"A","campo":"C"}])"));
    db::TEstrutura estrutura;
    const auto falha = [&](const std::string& base) {
        return teste::TextoDaFalhaDaRotina("ObterEstruturaBanco", db::TCausaRotina::Outra,
                                           [&] { ObterEstruturaBanco(base, estrutura, Contexto()); });
    };
    EXPECT_EQ(falha(servidor.Base()),
              prefixo + "[TBEstrutura] Invalid field count (GET " + servidor.Base("estruturabd") + ")");
    EXPECT_EQ(estrutura.Linhas(), (std::vector<Linha>{{"A", "B", Nulo}}));

    servidor.Responder(RespostaProgramada::Json(R"([{"tabela":"A","object_state":"DELETED"}])"));
    EXPECT_EQ(falha(servidor.Base()),
              prefixo + "[TBEstrutura] estado de registro não suportado 'DELETED' (GET " + servidor.Base("estruturabd") + ")");

    // A server failure leaves the table as it was; the failure as it came
    // is kept whole.
    estrutura.Limpar();
    estrutura.Adicionar("A", "B", Nulo);
    servidor.Responder(RespostaProgramada::Texto("quebrou", 500));
    if (const auto e = teste::Capturar<db::ErroRotina>(
            [&] { ObterEstruturaBanco(servidor.Base(), estrutura, Contexto()); })) {
        EXPECT_EQ(std::string(e->what()),
                  prefixo + "HTTP/1.1 500 Internal Server Error: quebrou (GET " + servidor.Base("estruturabd") + ")");
        EXPECT_EQ(e->Causa(), db::TCausaRotina::Outra);
    }
    EXPECT_EQ(estrutura.Quantidade(), 1u);

    auto fechada = "http://127.0.0.1:" + std::to_string(ServidorHttp::PortaFechada());
    const std::string transporte = falha(fechada);
    EXPECT_TRUE(transporte.starts_with(prefixo + "REST request failed: ")) << transporte;
    EXPECT_TRUE(transporte.ends_with(" (GET " + fechada + "/estruturabd)")) << transporte;
    EXPECT_EQ(estrutura.Quantidade(), 1u);
}

}  // namespace
}  // namespace ondaris::sync
