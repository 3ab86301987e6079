#include "sync/servidor.h"

#include "protocolo/texto.h"

namespace ondaris::sync {
using protocolo::LerJSON;
using protocolo::TValorJSON;
using protocolo::TextoDoValor;

int64_t LerPosicao(const TRespostaServidor& resposta, const std::optional<TValorJSON>& corpo, std::string_view nome,
                   const protocolo::TConfiguracoesRegionais& regional, const std::string& pedido) {
    const std::string membro = "\"" + std::string(nome) + "\"";
    // This member's own text: a missing member must never read as the one
    // before it (a missing "ultimomovimentoloja" taken for
    // "ultimaordemenviada" would tell the cycle that everything was sent).
    std::optional<std::string> texto;
    if (protocolo::MaiusculasAscii(resposta.TipoConteudo) == "APPLICATION/JSON") {
        if (!corpo) throw RespostaMalformada(pedido, TextoCorpoNaoEhJson(membro));
        if (!corpo->EhObjeto())
            throw RespostaMalformada(pedido, TextoCorpoNaoEhObjeto(membro));
        if (const TValorJSON* valor = corpo->Membro(nome)) texto = TextoDoValor(*valor, regional);
    } else if (std::string lido; LerValorSimples(resposta, nome, lido, regional)) {
        texto = std::move(lido);
    }
    const std::string aResposta = "A resposta do servidor central a " + pedido;
    if (!texto) {
        const std::string tipo = resposta.TipoConteudo.empty() ? "resposta sem tipo de conteúdo"
                                                               : "resposta do tipo " + resposta.TipoConteudo;
        throw TErroRespostaInvalida(aResposta + " não traz o membro " + membro + " (" + tipo + ")");
    }
    try {
        return ConverterInteiro64(*texto);
    } catch (const TErroRespostaInvalida&) {
        throw TErroRespostaInvalida(aResposta + " traz o membro " + membro + " com '" + *texto +
                                    "', que não é um número inteiro");
    }
}

TTipoUltimoMovimentoRecebido LerPosicoesRecebimento(const TRespostaServidor& resposta,
                                                    const std::optional<TValorJSON>& corpo,
                                                    const protocolo::TConfiguracoesRegionais& regional,
                                                    const std::string& pedido) {
    TTipoUltimoMovimentoRecebido lido;
    lido.OrdemInicial = LerPosicao(resposta, corpo, "ordeminicial", regional, pedido);
    lido.OrdemFinal = LerPosicao(resposta, corpo, "ordemfinal", regional, pedido);
    lido.UltimaOrdem = LerPosicao(resposta, corpo, "ultimaordem", regional, pedido);
    return lido;
}

TResultado<TTipoUltimoMovimentoEnviado> UltimoMovimentoEnviado(std::string_view URL, int32_t CodigoLoja,
                                                               int64_t UltimoMovimentoLoja,
                                                               const TContextoServidor& contexto) {
    const std::string endereco = InsereBarraFinalURL(URL) + CaminhoIndiceEnvio(CodigoLoja, UltimoMovimentoLoja);
    const std::string pedido = DescreverPedido("GET", endereco);
    const TRespostaServidor resposta = ExecutarRequisicao("GET", endereco, "", contexto.TempoLimite);
    if (resposta.StatusCode != 200) return RecusaDe(pedido, resposta);
    TTipoUltimoMovimentoEnviado lido;
    const std::optional<TValorJSON> corpo = LerJSON(resposta.Conteudo);
    const auto& regional = contexto.Regional;
    lido.UltimaOrdemEnviada = LerPosicao(resposta, corpo, "ultimaordemenviada", regional, pedido);
    lido.UltimoMovimentoLoja = LerPosicao(resposta, corpo, "ultimomovimentoloja", regional, pedido);
    return lido;
}

TResultado<TTipoUltimoMovimentoRecebido> ConsultarRecebimento(std::string_view URL, int32_t CodigoLoja, int64_t Ordem,
                                                              const TContextoServidor& contexto) {
    const std::string endereco = InsereBarraFinalURL(URL) + CaminhoReceber(CodigoLoja, Ordem);
    const std::string pedido = DescreverPedido("GET", endereco);
    const TRespostaServidor resposta = ExecutarRequisicao("GET", endereco, "", contexto.TempoLimite);
    if (resposta.StatusCode != 200) return RecusaDe(pedido, resposta);
    return LerPosicoesRecebimento(resposta, LerJSON(resposta.Conteudo), contexto.Regional, pedido);
}

namespace {

const TValorJSON* MembroDoCampo(const TValorJSON& objeto, std::string_view minusculo, std::string_view maiusculo) {
    const TValorJSON* membro = objeto.Membro(minusculo);
    return membro ? membro : objeto.Membro(maiusculo);
}

std::optional<std::string> ValorDoCampo(const TValorJSON& objeto, std::string_view minusculo,
                                        std::string_view maiusculo, const protocolo::TConfiguracoesRegionais& regional) {
    const TValorJSON* membro = MembroDoCampo(objeto, minusculo, maiusculo);
    if (!membro || membro->EhNulo()) return std::nullopt;
    return TextoDoValor(*membro, regional);
}

void CarregarLinha(const TValorJSON& objeto, db::TEstrutura& TBEstrutura,
                   const protocolo::TConfiguracoesRegionais& regional) {
    if (objeto.Membros().empty()) return;
    const TValorJSON* estado = objeto.Membro("object_state");
    if (!estado) estado = objeto.Membro("objectState");
    if (estado) {
        std::string texto = TextoDoValor(*estado, regional);
        if (texto == "UNMODIFIED") return;
        if (texto != "INSERTED")
            throw TErroRespostaInvalida(TextoEstadoDeRegistro(texto));
    }
    TBEstrutura.Adicionar(ValorDoCampo(objeto, "tabela", "TABELA", regional),
                          ValorDoCampo(objeto, "campo", "CAMPO", regional),
                          ValorDoCampo(objeto, "chave", "CHAVE", regional));
}

void CarregarMatriz(const TValorJSON& matriz, db::TEstrutura& TBEstrutura,
                    const protocolo::TConfiguracoesRegionais& regional) {
    for (const auto& elemento : matriz.Elementos()) {
        if (elemento.EhObjeto()) CarregarLinha(elemento, TBEstrutura, regional);
        else if (elemento.EhMatriz()) CarregarMatriz(elemento, TBEstrutura, regional);
        else throw TErroRespostaInvalida("[TBEstrutura] Invalid field count");
    }
}

}  // namespace

void CarregarEstrutura(const TValorJSON& valor, db::TEstrutura& TBEstrutura,
                       const protocolo::TConfiguracoesRegionais& regional) {
    if (valor.EhObjeto()) CarregarLinha(valor, TBEstrutura, regional);
    else if (valor.EhMatriz()) CarregarMatriz(valor, TBEstrutura, regional);
}

std::optional<TRecusa> ObterEstruturaBanco(std::string_view URL, db::TEstrutura& TBEstrutura,
                                           const TContextoServidor& contexto) {
    const std::string endereco = InsereBarraFinalURL(URL) + CaminhoEstrutura();
    const std::string pedido = DescreverPedido("GET", endereco);
    try {
        TRespostaServidor resposta = ExecutarRequisicao("GET", endereco, "", contexto.TempoLimite);
        if (resposta.StatusCode != 200) return RecusaDe(pedido, resposta);
        // The indented text of the answer read back, as the list has always
        // been loaded; it is empty only when the body is not JSON at all.
        auto valor = LerJSON(LerTextoJSON(resposta));
        if (!valor)
            throw RespostaMalformada(pedido, resposta.Conteudo.empty() ? std::string(kTextoCorpoVazioSemLista)
                                                                       : TextoCorpoNaoEhJson({}));
        TBEstrutura.Limpar();
        try {
            CarregarEstrutura(*valor, TBEstrutura, contexto.Regional);
        } catch (const TErroRespostaInvalida& e) {
            throw TErroRespostaInvalida(std::string(e.what()) + " (" + pedido + ")");
        }
    } catch (const TErroServidorCentral&) {
        db::FalhaDaRotina("ObterEstruturaBanco");
    }
    return std::nullopt;
}

}  // namespace ondaris::sync
