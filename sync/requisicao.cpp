#include "sync/requisicao.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <limits>
#include <optional>

#include "protocolo/json.h"
#include "protocolo/texto.h"
#include "sync/transporte_http.h"

namespace ondaris::sync {
using protocolo::EscreverJSONIndentado;
using protocolo::IguaisSemCaixa;
using protocolo::LerJSON;
using protocolo::TValorJSON;
using protocolo::TextoDoValor;

namespace {

using protocolo::IguaisSemCaixa;

std::string EmMinusculas(std::string_view texto) { return protocolo::MinusculasAscii(texto); }

std::string_view Aparar(std::string_view texto, std::string_view brancos = " \t\r\n") {
    auto inicio = texto.find_first_not_of(brancos);
    if (inicio == std::string_view::npos) return {};
    auto fim = texto.find_last_not_of(brancos);
    return texto.substr(inicio, fim - inicio + 1);
}

std::string FrasePadrao(long status) {
    switch (status) {
        case 500: return "Internal Server Error";
        case 501: return "Not Implemented";
        case 502: return "Bad Gateway";
        case 503: return "Service Unavailable";
        case 504: return "Gateway Timeout";
        case 505: return "HTTP Version Not Supported";
        default: return {};
    }
}

// ---- Decoding the body ------------------------------------------------------

bool TipoTextual(std::string_view tipo, bool temCharset) {
    if (tipo.empty() || temCharset) return true;
    std::string t = EmMinusculas(tipo);
    if (t.starts_with("text/")) return true;
    if (t == "application/json" || t == "application/xml" || t == "application/javascript" ||
        t == "application/x-www-form-urlencoded")
        return true;
    return t.ends_with("+json") || t.ends_with("+xml");
}

std::string DeLatin1(std::string_view bytes) {
    std::string saida;
    saida.reserve(bytes.size());
    for (char c : bytes) protocolo::AcrescentarUtf8(saida, static_cast<unsigned char>(c));
    return saida;
}

std::string DeUTF8(std::string_view bytes) {
    std::string saida;
    saida.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size();) {
        std::size_t inicio = i;
        uint32_t c = protocolo::ProximoCaractereUtf8(bytes, i);
        if (c == protocolo::kCaractereSubstituto && i - inicio != 3) protocolo::AcrescentarUtf8(saida, c);
        else saida.append(bytes.substr(inicio, i - inicio));
    }
    return saida;
}

std::string Decodificar(std::string_view bytes, const std::string& charset) {
    std::string c = EmMinusculas(charset);
    if (c.empty() || c == "utf-8" || c == "utf8") return DeUTF8(bytes);
    if (c == "iso-8859-1" || c == "iso8859-1" || c == "latin1" || c == "latin-1" || c == "l1" ||
        c == "iso_8859-1")
        return DeLatin1(bytes);
    // Other character sets as the system knows them; one it does not know is
    // read as UTF-8 rather than throwing the answer away.
    if (auto texto = transporte::ParaUTF8(bytes, charset)) return *std::move(texto);
    return DeUTF8(bytes);
}

// Splits a Content-Type value into the media type and its charset.
void LerTipoConteudo(std::string_view valor, std::string& tipo, std::string& charset) {
    auto ponto = valor.find(';');
    tipo = std::string(Aparar(valor.substr(0, ponto)));
    charset.clear();
    while (ponto != std::string_view::npos) {
        std::string_view resto = valor.substr(ponto + 1);
        auto proximo = resto.find(';');
        std::string_view parametro = Aparar(resto.substr(0, proximo));
        auto igual = parametro.find('=');
        if (igual != std::string_view::npos && IguaisSemCaixa(Aparar(parametro.substr(0, igual)), "charset")) {
            std::string_view v = Aparar(parametro.substr(igual + 1));
            if (v.size() >= 2 && v.front() == '"' && v.back() == '"') v = v.substr(1, v.size() - 2);
            charset = std::string(v);
        }
        ponto = proximo == std::string_view::npos ? proximo : ponto + 1 + proximo;
    }
}

// The address without "user:password@": a link may carry credentials, and
// failure texts end up in the log.
std::string SemCredenciais(std::string_view endereco) {
    const auto esquema = endereco.find("://");
    if (esquema == std::string_view::npos) return std::string(endereco);
    const std::size_t inicio = esquema + 3;
    const std::size_t fim = std::min(endereco.find_first_of("/?#", inicio), endereco.size());
    const auto arroba = endereco.substr(inicio, fim - inicio).rfind('@');
    if (arroba == std::string_view::npos) return std::string(endereco);
    return std::string(endereco.substr(0, inicio)) + std::string(endereco.substr(inicio + arroba + 1));
}

// The "user:password@" of an address; empty when it has none.
std::string CredenciaisDe(std::string_view endereco) {
    const auto esquema = endereco.find("://");
    if (esquema == std::string_view::npos) return {};
    const std::size_t inicio = esquema + 3;
    const std::size_t fim = std::min(endereco.find_first_of("/?#", inicio), endereco.size());
    const auto arroba = endereco.substr(inicio, fim - inicio).rfind('@');
    if (arroba == std::string_view::npos) return {};
    return std::string(endereco.substr(inicio, arroba + 1));
}

// A redirect's target with the link's credentials: it goes only to the
// server the link names (RedirecionamentoPermitido), which still asks for
// them there.
std::string ComCredenciais(const std::string& destino, const std::string& credenciais) {
    if (credenciais.empty() || !CredenciaisDe(destino).empty()) return destino;
    const auto esquema = destino.find("://");
    if (esquema == std::string::npos) return destino;
    return destino.substr(0, esquema + 3) + credenciais + destino.substr(esquema + 3);
}

bool StatusDeRedirecionamento(long status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

bool ComecaComEsquema(std::string_view endereco) {
    std::size_t i = 0;
    while (i < endereco.size()) {
        char c = endereco[i];
        bool valido = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '+' ||
                      c == '-' || c == '.';
        if (!valido) break;
        ++i;
    }
    return i > 0 && endereco.substr(i).starts_with("://");
}

}  // namespace

std::string CaminhoEstrutura() { return "estruturabd"; }

std::string CaminhoReceber(int32_t CodigoLoja, int64_t Ordem) {
    return "receber/" + std::to_string(CodigoLoja) + "/" + std::to_string(Ordem);
}

std::string CaminhoIndiceEnvio(int32_t CodigoLoja, int64_t UltimaOrdem) {
    return "obterindiceenvio/" + std::to_string(CodigoLoja) + "/" + std::to_string(UltimaOrdem);
}

std::string CaminhoEnviar(int32_t CodigoLoja) { return "enviar/" + std::to_string(CodigoLoja); }

TRecusa RecusaDe(const std::string& pedido, const TRespostaServidor& resposta) {
    return TRecusa{pedido, resposta.StatusCode, resposta.FraseStatus, resposta.Conteudo};
}

std::string DescreverPedido(std::string_view Metodo, std::string_view URL) {
    return std::string(Metodo) + " " + SemCredenciais(NormalizarEndereco(URL));
}

std::string LinkParaExibir(std::string_view link) {
    const std::string credenciais = CredenciaisDe(link);
    if (credenciais.empty()) return std::string(link);
    const auto esquema = link.find("://") + 3;
    const auto doisPontos = credenciais.find(':');
    const std::string usuario = credenciais.substr(0, doisPontos == std::string::npos ? credenciais.size() - 1 : doisPontos);
    return std::string(link.substr(0, esquema)) + usuario + ":***@" + std::string(link.substr(esquema + credenciais.size()));
}

std::string TrechoDoCorpo(std::string_view corpo) {
    constexpr std::size_t limite = 300;
    std::string trecho;
    bool branco = false;
    for (char c : corpo) {
        if (static_cast<unsigned char>(c) <= 32) {
            branco = !trecho.empty();
            continue;
        }
        if (branco) trecho += ' ';
        branco = false;
        trecho += c;
        if (trecho.size() > limite) break;
    }
    if (trecho.size() <= limite) return trecho;
    std::size_t corte = limite;
    // Not inside a UTF-8 sequence: back up over continuation bytes.
    while (corte > 0 && (static_cast<unsigned char>(trecho[corte]) & 0xC0) == 0x80) --corte;
    trecho.resize(corte);
    return trecho + "...";
}

TErroRespostaInvalida RespostaMalformada(const std::string& pedido, std::string_view detalhe) {
    return TErroRespostaInvalida(TextoRespostaMalformada(pedido, detalhe));
}

std::string InsereBarraFinalURL(std::string_view URL) {
    std::string saida(URL);
    if (saida.empty() || saida.back() != '/') saida += '/';
    return saida;
}

std::string NormalizarEndereco(std::string_view endereco) {
    std::size_t inicio = 0;
    std::size_t fim = endereco.size();
    while (inicio < fim && static_cast<unsigned char>(endereco[inicio]) <= 32) ++inicio;
    while (fim > inicio && static_cast<unsigned char>(endereco[fim - 1]) <= 32) --fim;
    std::string saida(endereco.substr(inicio, fim - inicio));
    if (!ComecaComEsquema(saida)) saida.insert(0, "http://");
    if (!saida.empty() && saida.back() == '/') saida.pop_back();
    return saida;
}

bool RedirecionamentoPermitido(const std::string& original, const std::string& atual, const std::string& destino) {
    const auto padrao = [](const std::string& esquema) { return esquema == "https" ? 443 : 80; };
    const auto web = [](const std::string& esquema) { return esquema == "http" || esquema == "https"; };
    const auto o = transporte::Origem(original);
    const auto a = transporte::Origem(atual);
    const auto d = transporte::Origem(destino);
    if (!o || !a || !d || !web(o->Esquema) || !web(a->Esquema) || !web(d->Esquema)) return false;
    if (d->Servidor != o->Servidor) return false;
    // Once secure, never back to plain http: not from the link, not from a hop.
    if (d->Esquema == "http" && (o->Esquema == "https" || a->Esquema == "https")) return false;
    if (d->Porta == o->Porta) return true;
    // The link left the port to its scheme: the other scheme's own default
    // is the same server's (http://central/ -> https://central/).
    return o->Porta == padrao(o->Esquema) && d->Porta == padrao(d->Esquema);
}

TRespostaServidor ExecutarRequisicao(std::string_view Metodo, std::string_view URL, std::string_view CorpoJSON,
                                     int32_t TempoLimite) {
    const std::string pedido = DescreverPedido(Metodo, URL);
    const std::string original = NormalizarEndereco(URL);
    std::string alvo = original;

    // Where the failure happened: the request, and the address it was
    // redirected to when that is another one.
    const auto onde = [&] {
        return TextoOndePedido(pedido, alvo == original ? std::string() : SemCredenciais(alvo));
    };

    transporte::TPedidoHttp http;
    http.Metodo = std::string(Metodo);
    http.Corpo = std::string(CorpoJSON);
    http.Cabecalhos = {{"Accept", "application/json, text/plain; q=0.9, text/html;q=0.8,"},
                       {"Accept-Charset", "utf-8, *;q=0.8"},
                       {"User-Agent", std::string(AgenteUsuario)}};
    if (!http.Corpo.empty()) http.Cabecalhos.emplace_back("Content-Type", "application/json");

    // The same time for the connection and for every wait of the answer;
    // each redirect is a new exchange with the same times.
    http.LimiteConexao = http.LimiteResposta = std::chrono::milliseconds(std::max<int32_t>(1, TempoLimite));

    transporte::TRespostaHttp recebida;
    for (int redirecionamentos = 0;; ++redirecionamentos) {
        http.Endereco = alvo;
        try {
            recebida = transporte::Executar(http);
        } catch (const transporte::TFalhaTransporte& falha) {
            throw TErroTransporte(TextoFalhaRest(falha.what()) + onde());
        }
        if (!StatusDeRedirecionamento(recebida.Status) || recebida.Destino.empty()) break;
        const std::string& proximo = recebida.Destino;
        if (!RedirecionamentoPermitido(original, alvo, proximo))
            throw TErroTransporte(TextoFalhaRest(TextoRedirecionamentoRecusado(SemCredenciais(proximo))) + onde());
        if (redirecionamentos == MaximoRedirecionamentos)
            throw TErroTransporte(
                TextoFalhaRest(TextoRedirecionamentosDemais(MaximoRedirecionamentos, SemCredenciais(proximo))) + onde());
        alvo = ComCredenciais(proximo, CredenciaisDe(original));
    }

    TRespostaServidor resposta;
    resposta.StatusCode = static_cast<int32_t>(recebida.Status);
    resposta.VersaoHTTP = std::move(recebida.VersaoHTTP);
    resposta.FraseStatus = std::move(recebida.FraseStatus);
    if (resposta.FraseStatus.empty()) resposta.FraseStatus = FrasePadrao(recebida.Status);
    LerTipoConteudo(recebida.TipoConteudo, resposta.TipoConteudo, resposta.Charset);
    if (TipoTextual(resposta.TipoConteudo, !resposta.Charset.empty()))
        resposta.Conteudo = Decodificar(recebida.Corpo, resposta.Charset);

    if (recebida.Status >= 500) {
        std::string prefixo;
        if (resposta.VersaoHTTP == "1.0") prefixo = "HTTP/1.0 ";
        else if (resposta.VersaoHTTP == "1.1") prefixo = "HTTP/1.1 ";
        else if (resposta.VersaoHTTP == "2.0") prefixo = "HTTP/2.0 ";
        std::string texto = prefixo + std::to_string(recebida.Status) + " " + resposta.FraseStatus;
        // The status line says little; what the server wrote is the cause.
        const std::string trecho = TrechoDoCorpo(resposta.Conteudo);
        if (!trecho.empty()) texto += ": " + trecho;
        throw TErroStatusServidor(texto + onde(), std::move(resposta));
    }
    return resposta;
}

bool LerValorSimples(const TRespostaServidor& Resposta, std::string_view Nome, std::string& Retorno,
                     const protocolo::TConfiguracoesRegionais& regional) {
    const std::string& tipo = Resposta.TipoConteudo;
    if (IguaisSemCaixa(tipo, "text/html") || IguaisSemCaixa(tipo, "text/plain")) {
        std::string chave = std::string(Nome) + "=";
        auto posicao = Resposta.Conteudo.find(chave);
        if (posicao == std::string::npos) return false;
        auto inicio = posicao + chave.size();
        auto fim = Resposta.Conteudo.find('&', inicio);
        Retorno = Resposta.Conteudo.substr(inicio, fim == std::string::npos ? std::string::npos : fim - inicio);
        return true;
    }
    if (IguaisSemCaixa(tipo, "application/json")) {
        auto valor = LerJSON(Resposta.Conteudo);
        if (!valor) return false;
        if (!valor->EhObjeto()) throw TErroRespostaInvalida(kTextoTipoInvalido);
        const TValorJSON* membro = valor->Membro(Nome);
        if (!membro) return false;
        Retorno = TextoDoValor(*membro, regional);
        return true;
    }
    return false;
}

std::string LerTextoJSON(const TRespostaServidor& Resposta) {
    auto valor = LerJSON(Resposta.Conteudo);
    return valor ? EscreverJSONIndentado(*valor) : std::string();
}

int64_t ConverterInteiro64(std::string_view texto) {
    std::string_view numero = texto;
    bool positivoExplicito = !numero.empty() && numero.front() == '+';
    if (positivoExplicito) numero.remove_prefix(1);
    bool valido = !numero.empty();
    std::size_t inicioAlgarismos = (!numero.empty() && numero.front() == '-') ? 1 : 0;
    if (positivoExplicito && inicioAlgarismos == 1) valido = false;
    if (numero.size() <= inicioAlgarismos) valido = false;
    for (std::size_t i = inicioAlgarismos; valido && i < numero.size(); ++i)
        if (numero[i] < '0' || numero[i] > '9') valido = false;
    int64_t valor = 0;
    if (valido) {
        auto [fim, erro] = std::from_chars(numero.data(), numero.data() + numero.size(), valor);
        valido = erro == std::errc() && fim == numero.data() + numero.size();
    }
    if (!valido) throw TErroRespostaInvalida(TextoNaoEhInteiroValido(texto));
    return valor;
}

}  // namespace ondaris::sync
