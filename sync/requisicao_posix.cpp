// One HTTP exchange through libcurl, and character sets through iconv: the
// Linux side of sync/transporte_http.h.
#include "sync/transporte_http.h"

#include <curl/curl.h>
#include <iconv.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdlib>
#include <limits>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

#include "protocolo/texto.h"
#include "sync/mensagens.h"

namespace ondaris::sync::transporte {

namespace {

char Minuscula(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::string_view Aparar(std::string_view texto) {
    auto inicio = texto.find_first_not_of(" \t\r\n");
    if (inicio == std::string_view::npos) return {};
    auto fim = texto.find_last_not_of(" \t\r\n");
    return texto.substr(inicio, fim - inicio + 1);
}

void IniciarCurl() {
    static std::once_flag feito;
    std::call_once(feito, [] {
        if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK)
            throw TFalhaTransporte{kTextoHttpSemInicio};
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

using Relogio = std::chrono::steady_clock;

struct Coletor {
    std::string corpo;
    std::string linhaStatus;  // of the last answer (after a 100 Continue, the real one)

    // The answer's time-out counts from the last byte moved either way, once
    // the connection stands (before that, the connection's own time-out
    // rules): a transfer that keeps moving is never cut, however long.
    std::chrono::milliseconds limiteResposta{0};
    bool conectado = false;
    Relogio::time_point ultimoMovimento{};
    curl_off_t recebidos = 0, enviados = 0;
    bool parado = false;  // ended by that time-out

    void Moveu() { ultimoMovimento = Relogio::now(); }
};

size_t ReceberCorpo(char* dados, size_t tamanho, size_t quantidade, void* usuario) {
    auto* coletor = static_cast<Coletor*>(usuario);
    coletor->Moveu();
    coletor->corpo.append(dados, tamanho * quantidade);
    return tamanho * quantidade;
}

// Called when the connection stands, just before the request is sent.
int Conectado(void* usuario, char*, char*, int, int) {
    auto* coletor = static_cast<Coletor*>(usuario);
    coletor->conectado = true;
    coletor->Moveu();
    return CURL_PREREQFUNC_OK;
}

// Called often while bytes move, and about once a second while none do.
int Progresso(void* usuario, curl_off_t, curl_off_t recebidos, curl_off_t, curl_off_t enviados) {
    auto* coletor = static_cast<Coletor*>(usuario);
    if (recebidos != coletor->recebidos || enviados != coletor->enviados) {
        coletor->recebidos = recebidos;
        coletor->enviados = enviados;
        coletor->Moveu();
        return 0;
    }
    if (coletor->conectado && Relogio::now() - coletor->ultimoMovimento >= coletor->limiteResposta) {
        coletor->parado = true;
        return 1;
    }
    return 0;
}

// Bytes of a body count as sent when they leave, not when they are queued:
// without a limit the system takes megabytes of a large PUT at once, and a
// slow but moving upload would look like a stalled one while it drains.
int OpcoesDoSoquete(void*, curl_socket_t soquete, curlsocktype) {
#ifdef TCP_NOTSENT_LOWAT
    const int naoEnviados = 16 * 1024;
    ::setsockopt(soquete, IPPROTO_TCP, TCP_NOTSENT_LOWAT, &naoEnviados, sizeof naoEnviados);
#else
    (void)soquete;
#endif
    return CURL_SOCKOPT_OK;
}

size_t ReceberCabecalho(char* dados, size_t tamanho, size_t quantidade, void* usuario) {
    auto* coletor = static_cast<Coletor*>(usuario);
    coletor->Moveu();
    std::string_view linha(dados, tamanho * quantidade);
    if (linha.size() >= 5 && linha.substr(0, 5) == "HTTP/") {
        coletor->linhaStatus = std::string(Aparar(linha));
        coletor->corpo.clear();
    }
    return tamanho * quantidade;
}

struct LiberarUrl {
    void operator()(CURLU* u) const { curl_url_cleanup(u); }
};
struct LiberarTextoCurl {
    void operator()(char* t) const { curl_free(t); }
};

// Why OpenSSL did not accept the server's certificate, in words of ours,
// for the verification results a technician meets (X509_V_ERR_*); empty
// for the others, which libcurl's own text then describes.
std::string CausaDoCertificado(long resultado) {
    switch (resultado) {
        case 9: return "o certificado ainda não é válido (confira o relógio desta máquina)";
        case 10: return "o certificado venceu";
        case 18:
        case 19:
        case 20:
        case 21:
        case 2:
            return "o certificado não foi emitido por uma autoridade em que esta máquina confia";
        case 23: return "o certificado foi revogado";
        case 62: return "o certificado foi emitido para outro nome, não para o endereço do LINKCENTRAL";
        default: return {};
    }
}

// A failure of the secure connection in words a technician reads, with
// libcurl's own text after ours. Empty when `resultado` is no such failure.
std::string FalhaSegura(CURL* c, CURLcode resultado, const std::string& textoCurl) {
    switch (resultado) {
        case CURLE_PEER_FAILED_VERIFICATION: {
            long verificacao = 0;
            curl_easy_getinfo(c, CURLINFO_SSL_VERIFYRESULT, &verificacao);
            std::string causa = CausaDoCertificado(verificacao);
            // The name is checked by libcurl itself, not by the chain's verification.
            if (causa.empty() && textoCurl.find("subject name") != std::string::npos) causa = CausaDoCertificado(62);
            return TextoCertificadoRecusado(causa.empty() ? textoCurl : causa + " (" + textoCurl + ")");
        }
        case CURLE_SSL_CACERT_BADFILE: {
            const char* arquivo = std::getenv(kVariavelAutoridades);
            return TextoArquivoAutoridadesInvalido(arquivo ? arquivo : "", textoCurl);
        }
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_SSL_CIPHER:
        case CURLE_SSL_ISSUER_ERROR:
        case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
        case CURLE_SSL_INVALIDCERTSTATUS:
            return TextoFalhaTls(textoCurl);
        default:
            return {};
    }
}

long Milissegundos(std::chrono::milliseconds d) {
    const auto ms = d.count();
    return static_cast<long>(std::clamp<long long>(ms, 1, std::numeric_limits<long>::max()));
}

}  // namespace

TRespostaHttp Executar(const TPedidoHttp& pedido) {
    IniciarCurl();
    Easy easy(curl_easy_init());
    if (!easy) throw TFalhaTransporte{kTextoHttpSemPedido};
    CURL* c = easy.get();
    char erroCurl[CURL_ERROR_SIZE] = {};
    Coletor coletor;

    Lista cabecalhos;
    for (const auto& [nome, valor] : pedido.Cabecalhos) Acrescentar(cabecalhos, nome + ": " + valor);
    // libcurl would otherwise wait for "100 Continue" before larger bodies,
    // and announce a form for a body sent without a type of its own.
    Acrescentar(cabecalhos, "Expect:");
    const bool temTipo = std::any_of(pedido.Cabecalhos.begin(), pedido.Cabecalhos.end(), [](const auto& c) {
        std::string nome = c.first;
        for (char& x : nome) x = Minuscula(x);
        return nome == "content-type";
    });
    if (!temTipo) Acrescentar(cabecalhos, "Content-Type:");

    curl_easy_setopt(c, CURLOPT_ERRORBUFFER, erroCurl);
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
    // Redirects are judged by the caller, one at a time.
    curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(c, CURLOPT_FORBID_REUSE, 1L);
    curl_easy_setopt(c, CURLOPT_FRESH_CONNECT, 1L);
    curl_easy_setopt(c, CURLOPT_HTTPHEADER, cabecalhos.get());
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, ReceberCorpo);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &coletor);
    curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, ReceberCabecalho);
    curl_easy_setopt(c, CURLOPT_HEADERDATA, &coletor);

    if (pedido.Metodo == "GET" && pedido.Corpo.empty()) {
        curl_easy_setopt(c, CURLOPT_HTTPGET, 1L);
    } else if (pedido.Metodo == "HEAD") {
        curl_easy_setopt(c, CURLOPT_NOBODY, 1L);
    } else {
        // Every other method carries a body, possibly empty, so that the
        // length is always announced.
        curl_easy_setopt(c, CURLOPT_POSTFIELDS, pedido.Corpo.c_str());
        curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(pedido.Corpo.size()));
        if (pedido.Metodo != "POST") curl_easy_setopt(c, CURLOPT_CUSTOMREQUEST, pedido.Metodo.c_str());
    }

    curl_easy_setopt(c, CURLOPT_URL, pedido.Endereco.c_str());
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, Milissegundos(pedido.LimiteConexao));
    // No time-out for the whole exchange: the answer's is kept by Progresso.
    coletor.limiteResposta = std::max(pedido.LimiteResposta, std::chrono::milliseconds(1));
    curl_easy_setopt(c, CURLOPT_PREREQFUNCTION, Conectado);
    curl_easy_setopt(c, CURLOPT_PREREQDATA, &coletor);
    curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, Progresso);
    curl_easy_setopt(c, CURLOPT_XFERINFODATA, &coletor);
    curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(c, CURLOPT_SOCKOPTFUNCTION, OpcoesDoSoquete);
    // https: the server's certificate and name are always verified (libcurl's
    // default, stated here so that it is never lost), against the system's
    // authorities, or against only those in the file ONDARIS_CA names: a
    // chain with its own authority, and the tests and the demo with theirs.
    curl_easy_setopt(c, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(c, CURLOPT_SSL_VERIFYHOST, 2L);
    if (const char* autoridades = std::getenv(kVariavelAutoridades); autoridades && *autoridades)
        curl_easy_setopt(c, CURLOPT_CAINFO, autoridades);

    const CURLcode resultado = curl_easy_perform(c);
    if (resultado == CURLE_ABORTED_BY_CALLBACK && coletor.parado)
        throw TFalhaTransporte{TextoTempoEsgotado(coletor.limiteResposta.count())};
    if (resultado != CURLE_OK) {
        const std::string texto = erroCurl[0] ? std::string(erroCurl) : std::string(curl_easy_strerror(resultado));
        const std::string segura = FalhaSegura(c, resultado, texto);
        throw TFalhaTransporte{segura.empty() ? texto : segura};
    }

    TRespostaHttp resposta;
    curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &resposta.Status);

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

    const char* tipo = nullptr;
    curl_easy_getinfo(c, CURLINFO_CONTENT_TYPE, &tipo);
    if (tipo) resposta.TipoConteudo = tipo;
    const char* destino = nullptr;
    curl_easy_getinfo(c, CURLINFO_REDIRECT_URL, &destino);
    if (destino) resposta.Destino = destino;
    resposta.Corpo = std::move(coletor.corpo);
    return resposta;
}

std::optional<TOrigem> Origem(const std::string& endereco) {
    std::unique_ptr<CURLU, LiberarUrl> url(curl_url());
    if (!url || curl_url_set(url.get(), CURLUPART_URL, endereco.c_str(), 0) != CURLUE_OK) return std::nullopt;
    const auto parte = [&](CURLUPart qual, unsigned opcoes) -> std::optional<std::string> {
        char* lido = nullptr;
        const CURLUcode codigo = curl_url_get(url.get(), qual, &lido, opcoes);
        const std::unique_ptr<char, LiberarTextoCurl> valor(lido);
        if (codigo != CURLUE_OK || !valor) return std::nullopt;
        std::string texto;
        for (const char* p = valor.get(); *p; ++p) texto += Minuscula(*p);
        return texto;
    };
    const auto esquema = parte(CURLUPART_SCHEME, 0);
    const auto servidor = parte(CURLUPART_HOST, 0);
    const auto porta = parte(CURLUPART_PORT, CURLU_DEFAULT_PORT);
    if (!esquema || !servidor || !porta) return std::nullopt;
    int numero = 0;
    const auto [fim, erro] = std::from_chars(porta->data(), porta->data() + porta->size(), numero);
    if (erro != std::errc() || fim != porta->data() + porta->size()) return std::nullopt;
    return TOrigem{*esquema, *servidor, numero};
}

std::optional<std::string> ParaUTF8(std::string_view bytes, const std::string& charset) {
    iconv_t conversor = iconv_open("UTF-8", charset.c_str());
    if (conversor == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
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
            protocolo::AcrescentarUtf8(saida, protocolo::kCaractereSubstituto);
            ++origem;
            --restante;
            iconv(conversor, nullptr, nullptr, nullptr, nullptr);
        }
    }
    iconv_close(conversor);
    return saida;
}

}  // namespace ondaris::sync::transporte
