#include "sync/servidor.h"

#include <ctime>

namespace ondaris::sync {

db::DataHora AgoraLocal() {
    std::time_t agora = std::time(nullptr);
    std::tm local{};
    localtime_r(&agora, &local);
    db::DataHora resultado;
    resultado.D = {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday};
    resultado.H = {local.tm_hour, local.tm_min, local.tm_sec > 59 ? 59 : local.tm_sec, 0};
    return resultado;
}

int64_t LerPosicao(const TRespostaServidor& resposta, std::string_view nome, std::string& Retorno,
                   const db::TConfiguracoesRegionais& regional) {
    LerValorSimples(resposta, nome, Retorno, regional);
    return ConverterInteiro64(Retorno);
}

void UltimoMovimentoEnviado(std::string& Erro, TTipoUltimoMovimentoEnviado& Resultado, std::string_view URL,
                            int32_t CodigoLoja, int64_t UltimoMovimentoLoja, const TContextoServidor& contexto) {
    Erro.clear();
    Resultado = TTipoUltimoMovimentoEnviado{};
    std::string endereco = InsereBarraFinalURL(URL) + "obterindiceenvio/" + std::to_string(CodigoLoja) + "/" +
                           std::to_string(UltimoMovimentoLoja);
    try {
        TRespostaServidor resposta = ExecutarRequisicao("GET", endereco, "", contexto.TempoLimite);
        if (resposta.StatusCode != 200) {
            RegistrarRecusa(Resultado, Erro, resposta);
            return;
        }
        TTipoUltimoMovimentoEnviado lido;
        lido.StatusCode = 200;
        std::string Retorno;
        lido.UltimaOrdemEnviada = LerPosicao(resposta, "ultimaordemenviada", Retorno, contexto.Regional);
        lido.UltimoMovimentoLoja = LerPosicao(resposta, "ultimomovimentoloja", Retorno, contexto.Regional);
        lido.DataHoraAtualizacao = AgoraLocal();
        Resultado = std::move(lido);
    } catch (const TErroServidorCentral& falha) {
        RegistrarFalha(Resultado, Erro, falha);
    }
}

TTipoUltimoMovimentoEnviado UltimoMovimentoEnviado(std::string& Erro, std::string_view URL, int32_t CodigoLoja,
                                                   int64_t UltimoMovimentoLoja, const TContextoServidor& contexto) {
    TTipoUltimoMovimentoEnviado resultado;
    UltimoMovimentoEnviado(Erro, resultado, URL, CodigoLoja, UltimoMovimentoLoja, contexto);
    return resultado;
}

namespace {

const TValorJSON* MembroDoCampo(const TValorJSON& objeto, std::string_view minusculo, std::string_view maiusculo) {
    const TValorJSON* membro = objeto.Membro(minusculo);
    return membro ? membro : objeto.Membro(maiusculo);
}

std::optional<std::string> ValorDoCampo(const TValorJSON& objeto, std::string_view minusculo,
                                        std::string_view maiusculo, const db::TConfiguracoesRegionais& regional) {
    const TValorJSON* membro = MembroDoCampo(objeto, minusculo, maiusculo);
    if (!membro || membro->EhNulo()) return std::nullopt;
    return TextoDoValor(*membro, regional);
}

void CarregarLinha(const TValorJSON& objeto, db::TEstrutura& TBEstrutura,
                   const db::TConfiguracoesRegionais& regional) {
    if (objeto.Membros().empty()) return;
    const TValorJSON* estado = objeto.Membro("object_state");
    if (!estado) estado = objeto.Membro("objectState");
    if (estado) {
        std::string texto = TextoDoValor(*estado, regional);
        if (texto == "UNMODIFIED") return;
        if (texto != "INSERTED")
            throw TErroRespostaInvalida("[TBEstrutura] Unsupported record state '" + texto + "'");
    }
    TBEstrutura.Adicionar(ValorDoCampo(objeto, "tabela", "TABELA", regional),
                          ValorDoCampo(objeto, "campo", "CAMPO", regional),
                          ValorDoCampo(objeto, "chave", "CHAVE", regional));
}

void CarregarMatriz(const TValorJSON& matriz, db::TEstrutura& TBEstrutura,
                    const db::TConfiguracoesRegionais& regional) {
    for (const auto& elemento : matriz.Elementos()) {
        if (elemento.EhObjeto()) CarregarLinha(elemento, TBEstrutura, regional);
        else if (elemento.EhMatriz()) CarregarMatriz(elemento, TBEstrutura, regional);
        else throw TErroRespostaInvalida("[TBEstrutura] Invalid field count");
    }
}

}  // namespace

void CarregarEstrutura(const TValorJSON& valor, db::TEstrutura& TBEstrutura,
                       const db::TConfiguracoesRegionais& regional) {
    if (valor.EhObjeto()) CarregarLinha(valor, TBEstrutura, regional);
    else if (valor.EhMatriz()) CarregarMatriz(valor, TBEstrutura, regional);
}

void ObterEstruturaBanco(std::string& Erro, std::string_view URL, db::TEstrutura& TBEstrutura,
                         const TContextoServidor& contexto) {
    Erro.clear();
    std::string endereco = InsereBarraFinalURL(URL) + "estruturabd";
    try {
        TRespostaServidor resposta = ExecutarRequisicao("GET", endereco, "", contexto.TempoLimite);
        if (resposta.StatusCode != 200) {
            Erro = resposta.Conteudo;
            return;
        }
        TBEstrutura.Limpar();
        // The indented text of the answer read back: empty (invalid JSON or
        // an empty body) loads nothing.
        auto valor = LerJSON(LerTextoJSON(resposta));
        if (valor) CarregarEstrutura(*valor, TBEstrutura, contexto.Regional);
    } catch (const TErroServidorCentral& falha) {
        Erro = FormatarMensagemErro("ObterEstruturaBanco") + falha.what();
        falha.Relancar(Erro);
    }
}

}  // namespace ondaris::sync
