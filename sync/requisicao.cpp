#include "sync/requisicao.h"

#include <curl/curl.h>
#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "sync/json.h"
#include "db/texto.h"

namespace ondaris::sync {

namespace {

using db::IguaisSemCaixa;

std::string EmMinusculas(std::string_view texto) { return db::MinusculasAscii(texto); }

std::string_view Aparar(std::string_view texto, std::string_view brancos = " \t\r\n") {
    auto inicio = texto.find_first_not_of(brancos);
    if (inicio == std::string_view::npos) return {};
    auto fim = texto.find_last_not_of(brancos);
    return texto.substr(inicio, fim - inicio + 1);
}

// ---- libcurl handles -------------------------------------------------------

void IniciarCurl() {
    static std::once_flag feito;
    std::call_once(feito, [] {
        if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK)
            throw TErroTransporte("REST request failed: the HTTP library could not be initialised");
    });
}

struct LiberarEasy {
    void operator()(CURL* c) const { curl_easy_cleanup(c); }
};
struct LiberarLista {
    void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};
using Easy = std::unique_ptr<CURL, LiberarEasy>;
using Lista = std::unique_ptr<curl_slist, LiberarLista>;

void Acrescentar(Lista& lista, const std::string& linha) {
    curl_slist* nova = curl_slist_append(lista.get(), linha.c_str());
    if (!nova) throw std::bad_alloc();
    (void)lista.release();
    lista.reset(nova);
}

struct Coletor {
    std::string corpo;
    std::string linhaStatus;  // of the last answer when redirects were followed
};

size_t ReceberCorpo(char* dados, size_t tamanho, size_t quantidade, void* usuario) {
    auto* coletor = static_cast<Coletor*>(usuario);
    coletor->corpo.append(dados, tamanho * quantidade);
    return tamanho * quantidade;
}

size_t ReceberCabecalho(char* dados, size_t tamanho, size_t quantidade, void* usuario) {
    auto* coletor = static_cast<Coletor*>(usuario);
    std::string_view linha(dados, tamanho * quantidade);
    if (linha.size() >= 5 && linha.substr(0, 5) == "HTTP/") {
        coletor->linhaStatus = std::string(Aparar(linha));
        coletor->corpo.clear();
    }
    return tamanho * quantidade;
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
    for (char c : bytes) db::AcrescentarUtf8(saida, static_cast<unsigned char>(c));
    return saida;
}

std::string DeUTF8(std::string_view bytes) {
    std::string saida;
    saida.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size();) {
        std::size_t inicio = i;
        uint32_t c = db::ProximoCaractereUtf8(bytes, i);
        if (c == db::kCaractereSubstituto && i - inicio != 3) db::AcrescentarUtf8(saida, c);
        else saida.append(bytes.substr(inicio, i - inicio));
    }
    return saida;
}

// Other character sets go through iconv; a charset it does not know is read
// as UTF-8 rather than throwing the answer away.
std::string ComIconv(std::string_view bytes, const std::string& charset) {
    iconv_t conversor = iconv_open("UTF-8", charset.c_str());
    if (conversor == reinterpret_cast<iconv_t>(-1)) return DeUTF8(bytes);
    std::string saida;
    std::vector<char> bloco(4096);
    std::string entrada(bytes);
    char* origem = entrada.data();
    size_t restante = entrada.size();
    while (restante > 0) {
        char* destino = bloco.data();
        size_t livre = bloco.size();
        size_t r = iconv(conversor, &origem, &restante, &destino, &livre);
        saida.append(bloco.data(), bloco.size() - livre);
        if (r == static_cast<size_t>(-1)) {
            if (errno == E2BIG) continue;
            // Invalid or truncated input: mark it and go on with the next byte.
            db::AcrescentarUtf8(saida, db::kCaractereSubstituto);
            ++origem;
            --restante;
            iconv(conversor, nullptr, nullptr, nullptr, nullptr);
        }
    }
    iconv_close(conversor);
    return saida;
}

std::string Decodificar(std::string_view bytes, const std::string& charset) {
    std::string c = EmMinusculas(charset);
    if (c.empty() || c == "utf-8" || c == "utf8") return DeUTF8(bytes);
    if (c == "iso-8859-1" || c == "iso8859-1" || c == "latin1" || c == "latin-1" || c == "l1" ||
        c == "iso_8859-1")
        return DeLatin1(bytes);
    return ComIconv(bytes, charset);
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

struct LiberarUrl {
    void operator()(CURLU* u) const { curl_url_cleanup(u); }
};
struct LiberarTextoCurl {
    void operator()(char* t) const { curl_free(t); }
};

// Scheme, host and port of an address (the scheme's default port when none
// is written), in lower case; nothing when it cannot be parsed.
std::optional<std::string> Origem(const std::string& endereco) {
    std::unique_ptr<CURLU, LiberarUrl> url(curl_url());
    if (!url || curl_url_set(url.get(), CURLUPART_URL, endereco.c_str(), 0) != CURLUE_OK) return std::nullopt;
    std::string origem;
    for (const auto& [parte, opcoes] : {std::pair{CURLUPART_SCHEME, 0u}, std::pair{CURLUPART_HOST, 0u},
                                       std::pair{CURLUPART_PORT, static_cast<unsigned>(CURLU_DEFAULT_PORT)}}) {
        char* lido = nullptr;
        const CURLUcode codigo = curl_url_get(url.get(), parte, &lido, opcoes);
        const std::unique_ptr<char, LiberarTextoCurl> valor(lido);
        if (codigo != CURLUE_OK || !valor) return std::nullopt;
        origem += EmMinusculas(valor.get());
        origem += '\n';
    }
    return origem;
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

std::string DescreverPedido(std::string_view Metodo, std::string_view URL) {
    return std::string(Metodo) + " " + SemCredenciais(NormalizarEndereco(URL));
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
    return TErroRespostaInvalida("malformed answer from the central server to " + pedido + ": " +
                                 std::string(detalhe));
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

TRespostaServidor ExecutarRequisicao(std::string_view Metodo, std::string_view URL, std::string_view CorpoJSON,
                                     int32_t TempoLimite) {
    IniciarCurl();
    const std::string pedido = DescreverPedido(Metodo, URL);
    Easy easy(curl_easy_init());
    if (!easy) throw TErroTransporte("REST request failed: the HTTP library could not create a request (" + pedido + ")");
    CURL* c = easy.get();

    const std::string original = NormalizarEndereco(URL);
    std::string alvo = original;
    std::string metodo(Metodo);
    std::string corpo(CorpoJSON);
    char erroCurl[CURL_ERROR_SIZE] = {};
    Coletor coletor;

    // Where the failure happened: the request, and the address it was
    // redirected to when that is another one.
    const auto onde = [&] {
        return " (" + pedido + (alvo == original ? std::string() : ", redirected to " + SemCredenciais(alvo)) + ")";
    };

    Lista cabecalhos;
    Acrescentar(cabecalhos, "Accept: application/json, text/plain; q=0.9, text/html;q=0.8,");
    Acrescentar(cabecalhos, "Accept-Charset: utf-8, *;q=0.8");
    Acrescentar(cabecalhos, "User-Agent: " + std::string(AgenteUsuario));
    // libcurl would otherwise wait for "100 Continue" before larger bodies.
    Acrescentar(cabecalhos, "Expect:");
    // With a body libcurl would announce a form; without one, nothing at all.
    Acrescentar(cabecalhos, corpo.empty() ? "Content-Type:" : "Content-Type: application/json");

    const long limite = std::max<long>(1, TempoLimite);
    const long limiteTotal = limite > std::numeric_limits<long>::max() / 2 ? limite : 2 * limite;
    const auto prazo = std::chrono::steady_clock::now() + std::chrono::milliseconds(limiteTotal);

    curl_easy_setopt(c, CURLOPT_ERRORBUFFER, erroCurl);
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
    // Redirects are judged here, one at a time, not followed by libcurl.
    curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(c, CURLOPT_FORBID_REUSE, 1L);
    curl_easy_setopt(c, CURLOPT_FRESH_CONNECT, 1L);
    curl_easy_setopt(c, CURLOPT_HTTPHEADER, cabecalhos.get());
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, ReceberCorpo);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &coletor);
    curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, ReceberCabecalho);
    curl_easy_setopt(c, CURLOPT_HEADERDATA, &coletor);

    if (metodo == "GET" && corpo.empty()) {
        curl_easy_setopt(c, CURLOPT_HTTPGET, 1L);
    } else if (metodo == "HEAD") {
        curl_easy_setopt(c, CURLOPT_NOBODY, 1L);
    } else {
        // Every other method carries a body, possibly empty, so that the
        // length is always announced.
        curl_easy_setopt(c, CURLOPT_POSTFIELDS, corpo.c_str());
        curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(corpo.size()));
        if (metodo != "POST") curl_easy_setopt(c, CURLOPT_CUSTOMREQUEST, metodo.c_str());
    }

    const std::optional<std::string> origem = Origem(original);
    long status = 0;
    for (int redirecionamentos = 0;; ++redirecionamentos) {
        const long restante = static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                                    prazo - std::chrono::steady_clock::now())
                                                    .count());
        if (restante <= 0) throw TErroTransporte("REST request failed: the time allowed ran out" + onde());
        curl_easy_setopt(c, CURLOPT_URL, alvo.c_str());
        curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, std::min(limite, restante));
        curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, restante);
        coletor = Coletor{};
        erroCurl[0] = '\0';

        const CURLcode resultado = curl_easy_perform(c);
        if (resultado != CURLE_OK) {
            std::string causa = erroCurl[0] ? std::string(erroCurl) : std::string(curl_easy_strerror(resultado));
            throw TErroTransporte("REST request failed: " + causa + onde());
        }
        curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);

        const char* destino = nullptr;
        curl_easy_getinfo(c, CURLINFO_REDIRECT_URL, &destino);
        if (!StatusDeRedirecionamento(status) || !destino || !*destino) break;
        const std::string proximo(destino);
        if (!origem || Origem(proximo) != origem)
            throw TErroTransporte("REST request failed: redirect to " + SemCredenciais(proximo) +
                                  " refused, only redirects to the same scheme, host and port are followed" +
                                  onde());
        if (redirecionamentos == MaximoRedirecionamentos)
            throw TErroTransporte("REST request failed: more than " + std::to_string(MaximoRedirecionamentos) +
                                  " redirects, the next to " + SemCredenciais(proximo) + onde());
        alvo = proximo;
    }

    TRespostaServidor resposta;
    resposta.StatusCode = static_cast<int32_t>(status);

    long versao = 0;
    curl_easy_getinfo(c, CURLINFO_HTTP_VERSION, &versao);
    switch (versao) {
        case CURL_HTTP_VERSION_1_0: resposta.VersaoHTTP = "1.0"; break;
        case CURL_HTTP_VERSION_1_1: resposta.VersaoHTTP = "1.1"; break;
        case CURL_HTTP_VERSION_2_0: resposta.VersaoHTTP = "2.0"; break;
        case CURL_HTTP_VERSION_3: resposta.VersaoHTTP = "3"; break;
        default: break;
    }

    // "HTTP/1.1 404 Not Found": the phrase is what follows the code.
    std::string_view linha = coletor.linhaStatus;
    auto espaco = linha.find(' ');
    if (espaco != std::string_view::npos) {
        auto segundo = linha.find(' ', espaco + 1);
        if (segundo != std::string_view::npos) resposta.FraseStatus = std::string(Aparar(linha.substr(segundo + 1)));
    }
    if (resposta.FraseStatus.empty()) resposta.FraseStatus = FrasePadrao(status);

    const char* tipo = nullptr;
    curl_easy_getinfo(c, CURLINFO_CONTENT_TYPE, &tipo);
    if (tipo) LerTipoConteudo(tipo, resposta.TipoConteudo, resposta.Charset);
    if (TipoTextual(resposta.TipoConteudo, !resposta.Charset.empty()))
        resposta.Conteudo = Decodificar(coletor.corpo, resposta.Charset);

    if (status >= 500) {
        std::string prefixo;
        if (resposta.VersaoHTTP == "1.0") prefixo = "HTTP/1.0 ";
        else if (resposta.VersaoHTTP == "1.1") prefixo = "HTTP/1.1 ";
        else if (resposta.VersaoHTTP == "2.0") prefixo = "HTTP/2.0 ";
        std::string texto = prefixo + std::to_string(status) + " " + resposta.FraseStatus;
        // The status line says little; what the server wrote is the cause.
        const std::string trecho = TrechoDoCorpo(resposta.Conteudo);
        if (!trecho.empty()) texto += ": " + trecho;
        throw TErroStatusServidor(texto + onde(), std::move(resposta));
    }
    return resposta;
}

bool LerValorSimples(const TRespostaServidor& Resposta, std::string_view Nome, std::string& Retorno,
                     const db::TConfiguracoesRegionais& regional) {
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
        if (!valor->EhObjeto()) throw TErroRespostaInvalida("Invalid class typecast");
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
    if (!valido) throw TErroRespostaInvalida("'" + std::string(texto) + "' is not a valid integer value");
    return valor;
}

}  // namespace ondaris::sync
