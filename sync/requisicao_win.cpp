// One HTTP exchange through WinHTTP, which every Windows machine has, and
// character sets through the system's code pages: the Windows side of
// sync/transporte_http.h.
//
// Every exchange opens its own WinHTTP session and closes it, so nothing
// (connections, cookies, credentials) survives a call. WinHTTP follows no
// redirect, keeps no connection alive and answers no authentication
// challenge by itself: those are decisions of ExecutarRequisicao. The
// machine's WinHTTP proxy setting (netsh winhttp) is honoured.
#include "sync/transporte_http.h"

#include <winsock2.h>
#include <windows.h>
#include <winhttp.h>

#include <algorithm>
#include <limits>
#include <memory>

#include "protocolo/base64.h"
#include "protocolo/texto.h"
#include "protocolo/utf16_win.h"
#include "sync/mensagens.h"

namespace ondaris::sync::transporte {
using protocolo::StreamtoBase64;
using protocolo::Utf16ParaUtf8;
using protocolo::Utf8ParaUtf16;

namespace {

using protocolo::Utf16ParaUtf8;
using protocolo::Utf8ParaUtf16;

char Minuscula(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::string EmMinusculas(std::string texto) {
    for (char& c : texto) c = Minuscula(c);
    return texto;
}

struct FecharInternet {
    void operator()(HINTERNET h) const { WinHttpCloseHandle(h); }
};
using Alca = std::unique_ptr<void, FecharInternet>;

// Why a certificate was not accepted.
constexpr const char* kCertificadoInvalido = "o certificado é inválido";
constexpr const char* kCertificadoOutroNome =
    "o certificado foi emitido para outro nome, não para o endereço do LINKCENTRAL";
constexpr const char* kCertificadoFora = "o certificado venceu ou ainda não é válido (confira o relógio desta máquina)";
constexpr const char* kCertificadoAutoridade =
    "o certificado não foi emitido por uma autoridade em que esta máquina confia";
constexpr const char* kCertificadoRevogado = "o certificado foi revogado";
constexpr const char* kCertificadoSemRevogacao = "não foi possível verificar se o certificado foi revogado";

// The causes WinHTTP reports through its callback for a secure failure
// (WINHTTP_CALLBACK_STATUS_SECURE_FAILURE), which the error code alone
// (ERROR_WINHTTP_SECURE_FAILURE) does not tell.
std::string CausasSeguras(DWORD flags) {
    std::string causas;
    const auto mais = [&](DWORD flag, const char* texto) {
        if (flags & flag) causas += (causas.empty() ? "" : "; ") + std::string(texto);
    };
    mais(WINHTTP_CALLBACK_STATUS_FLAG_INVALID_CA, kCertificadoAutoridade);
    mais(WINHTTP_CALLBACK_STATUS_FLAG_CERT_CN_INVALID, kCertificadoOutroNome);
    mais(WINHTTP_CALLBACK_STATUS_FLAG_CERT_DATE_INVALID, kCertificadoFora);
    mais(WINHTTP_CALLBACK_STATUS_FLAG_CERT_REVOKED, kCertificadoRevogado);
    mais(WINHTTP_CALLBACK_STATUS_FLAG_CERT_REV_FAILED, kCertificadoSemRevogacao);
    mais(WINHTTP_CALLBACK_STATUS_FLAG_INVALID_CERT, kCertificadoInvalido);
    mais(WINHTTP_CALLBACK_STATUS_FLAG_CERT_WRONG_USAGE, "o certificado não serve para um servidor");
    if (!causas.empty()) return TextoCertificadoRecusado(causas);
    if (flags & WINHTTP_CALLBACK_STATUS_FLAG_SECURITY_CHANNEL_ERROR) return TextoFalhaTls("erro no canal seguro");
    return {};
}

void CALLBACK AoFalharSeguranca(HINTERNET, DWORD_PTR contexto, DWORD status, LPVOID info, DWORD tamanho) {
    if (status == WINHTTP_CALLBACK_STATUS_SECURE_FAILURE && contexto && info && tamanho >= sizeof(DWORD))
        *reinterpret_cast<DWORD*>(contexto) |= *static_cast<const DWORD*>(info);
}

// WinHTTP's failures in words of our own: the system's texts are in the
// language of the machine, and these end up next to the English texts of the
// rest of the request's failure.
std::string DescreverErro(DWORD codigo) {
    switch (codigo) {
        case ERROR_WINHTTP_TIMEOUT:
        case WSAETIMEDOUT:
            return "Timeout was reached";
        case ERROR_WINHTTP_NAME_NOT_RESOLVED: return "Could not resolve host name";
        case ERROR_WINHTTP_CANNOT_CONNECT: return "Couldn't connect to server";
        case ERROR_WINHTTP_CONNECTION_ERROR:
        case WSAECONNRESET:
        case WSAECONNABORTED:
            return "Connection reset or closed by the server";
        case ERROR_WINHTTP_INVALID_SERVER_RESPONSE: return "Empty reply from server, or one that cannot be read";
        case ERROR_WINHTTP_INVALID_URL: return "Malformed address";
        case ERROR_WINHTTP_UNRECOGNIZED_SCHEME: return "Unsupported protocol";
        case ERROR_WINHTTP_OPERATION_CANCELLED: return "The request was cancelled";
        case ERROR_WINHTTP_SECURE_CHANNEL_ERROR: return TextoFalhaTls("erro no canal seguro");
        case ERROR_WINHTTP_SECURE_INVALID_CERT: return TextoCertificadoRecusado(kCertificadoInvalido);
        case ERROR_WINHTTP_SECURE_CERT_CN_INVALID: return TextoCertificadoRecusado(kCertificadoOutroNome);
        case ERROR_WINHTTP_SECURE_CERT_DATE_INVALID: return TextoCertificadoRecusado(kCertificadoFora);
        case ERROR_WINHTTP_SECURE_INVALID_CA: return TextoCertificadoRecusado(kCertificadoAutoridade);
        case ERROR_WINHTTP_SECURE_CERT_REVOKED: return TextoCertificadoRecusado(kCertificadoRevogado);
        case ERROR_WINHTTP_SECURE_CERT_REV_FAILED: return TextoCertificadoRecusado(kCertificadoSemRevogacao);
        case ERROR_WINHTTP_SECURE_FAILURE: return TextoFalhaTls("certificado ou protocolo recusado");
        case ERROR_NOT_ENOUGH_MEMORY: return "Out of memory";
        default:
            return protocolo::TextoErroSistema(codigo, codigo >= WINHTTP_ERROR_BASE && codigo <= WINHTTP_ERROR_LAST
                                                    ? GetModuleHandleW(L"winhttp.dll")
                                                    : nullptr);
    }
}

// `falhasSeguras`: what the secure-failure callback reported, if anything.
[[noreturn]] void Falhar(const char* passo, DWORD falhasSeguras = 0) {
    const DWORD codigo = GetLastError();
    std::string texto = codigo == ERROR_WINHTTP_SECURE_FAILURE ? CausasSeguras(falhasSeguras) : std::string();
    if (texto.empty()) texto = DescreverErro(codigo);
    throw TFalhaTransporte{texto + " (" + passo + ", erro " + std::to_string(codigo) + ")"};
}

int Milissegundos(std::chrono::milliseconds d) {
    return static_cast<int>(std::clamp<long long>(d.count(), 1, std::numeric_limits<int>::max()));
}

// The body goes out in pieces of this size, each a send of its own with the
// answer's time-out: a slow but moving upload is never cut, a stalled one is.
constexpr DWORD kPedacoDoCorpo = 16 * 1024;

// A header of the answer as text; nothing when the answer has none.
std::optional<std::string> Cabecalho(HINTERNET requisicao, DWORD qual) {
    DWORD tamanho = 0;
    if (!WinHttpQueryHeaders(requisicao, qual, WINHTTP_HEADER_NAME_BY_INDEX, WINHTTP_NO_OUTPUT_BUFFER, &tamanho,
                             WINHTTP_NO_HEADER_INDEX) &&
        GetLastError() != ERROR_INSUFFICIENT_BUFFER)
        return std::nullopt;  // above all ERROR_WINHTTP_HEADER_NOT_FOUND
    std::wstring valor(tamanho / sizeof(wchar_t) + 1, L'\0');
    tamanho = static_cast<DWORD>(valor.size() * sizeof(wchar_t));
    if (!WinHttpQueryHeaders(requisicao, qual, WINHTTP_HEADER_NAME_BY_INDEX, valor.data(), &tamanho,
                             WINHTTP_NO_HEADER_INDEX))
        return std::nullopt;
    valor.resize(tamanho / sizeof(wchar_t));
    return Utf16ParaUtf8(valor);
}

// The parts of an address that WinHTTP needs, cut by WinHttpCrackUrl.
struct TEndereco {
    INTERNET_SCHEME Esquema = INTERNET_SCHEME_HTTP;
    std::wstring Servidor;
    INTERNET_PORT Porta = 0;
    std::wstring Caminho;  // path and query; never empty
    std::wstring Usuario, Senha;
};

std::optional<TEndereco> Decompor(const std::string& endereco, DWORD& erro) {
    std::wstring largo = Utf8ParaUtf16(endereco);
    // A fragment never travels in a request.
    if (auto cerquilha = largo.find(L'#'); cerquilha != std::wstring::npos) largo.resize(cerquilha);
    URL_COMPONENTS partes{};
    partes.dwStructSize = sizeof partes;
    partes.dwSchemeLength = partes.dwHostNameLength = partes.dwUrlPathLength = partes.dwExtraInfoLength =
        partes.dwUserNameLength = partes.dwPasswordLength = static_cast<DWORD>(-1);
    if (!WinHttpCrackUrl(largo.c_str(), static_cast<DWORD>(largo.size()), 0, &partes)) {
        erro = GetLastError();
        return std::nullopt;
    }
    TEndereco e;
    e.Esquema = partes.nScheme;
    e.Servidor.assign(partes.lpszHostName, partes.dwHostNameLength);
    e.Porta = partes.nPort;
    e.Caminho.assign(partes.lpszUrlPath, partes.dwUrlPathLength);
    e.Caminho.append(partes.lpszExtraInfo, partes.dwExtraInfoLength);
    if (e.Caminho.empty() || e.Caminho.front() != L'/') e.Caminho.insert(0, L"/");
    if (partes.lpszUserName) e.Usuario.assign(partes.lpszUserName, partes.dwUserNameLength);
    if (partes.lpszPassword) e.Senha.assign(partes.lpszPassword, partes.dwPasswordLength);
    if (e.Servidor.empty()) {
        erro = ERROR_WINHTTP_INVALID_URL;
        return std::nullopt;
    }
    return e;
}

// "%41" -> "A": user names and passwords are written escaped in a link.
std::string SemEscapes(const std::string& texto) {
    const auto valor = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        c = Minuscula(c);
        return (c >= 'a' && c <= 'f') ? c - 'a' + 10 : -1;
    };
    std::string saida;
    for (std::size_t i = 0; i < texto.size(); ++i) {
        if (texto[i] == '%' && i + 2 < texto.size() && valor(texto[i + 1]) >= 0 && valor(texto[i + 2]) >= 0) {
            saida += static_cast<char>(valor(texto[i + 1]) * 16 + valor(texto[i + 2]));
            i += 2;
        } else {
            saida += texto[i];
        }
    }
    return saida;
}

// ---- A Location against the address that answered with it --------------

// RFC 3986, 5.2.4.
std::string SemSegmentosDePonto(std::string entrada) {
    std::string saida;
    while (!entrada.empty()) {
        if (entrada.starts_with("../")) {
            entrada.erase(0, 3);
        } else if (entrada.starts_with("./")) {
            entrada.erase(0, 2);
        } else if (entrada.starts_with("/./")) {
            entrada.erase(0, 2);
        } else if (entrada == "/.") {
            entrada = "/";
        } else if (entrada.starts_with("/../") || entrada == "/..") {
            entrada = entrada.size() == 3 ? "/" : entrada.substr(3);
            const auto barra = saida.rfind('/');
            saida.erase(barra == std::string::npos ? 0 : barra);
        } else if (entrada == "." || entrada == "..") {
            entrada.clear();
        } else {
            const auto proxima = entrada.find('/', entrada.front() == '/' ? 1 : 0);
            saida += entrada.substr(0, proxima);
            entrada.erase(0, proxima == std::string::npos ? entrada.size() : proxima);
        }
    }
    return saida;
}

bool TemEsquema(std::string_view referencia) {
    std::size_t i = 0;
    while (i < referencia.size()) {
        const char c = referencia[i];
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (i > 0 && ((c >= '0' && c <= '9') || c == '+' ||
                                                                          c == '-' || c == '.'))))
            break;
        ++i;
    }
    return i > 0 && i < referencia.size() && referencia[i] == ':';
}

// The absolute address a Location names, seen from `base` (RFC 3986, 5.2.2).
std::string Resolver(const std::string& base, const std::string& referencia) {
    if (TemEsquema(referencia)) return referencia;
    const auto fimEsquema = base.find("://");
    if (fimEsquema == std::string::npos) return referencia;
    if (referencia.starts_with("//")) return base.substr(0, fimEsquema + 1) + referencia;
    const auto inicioCaminho = base.find_first_of("/?#", fimEsquema + 3);
    const std::string autoridade = base.substr(0, inicioCaminho);
    std::string caminho, consulta;
    if (inicioCaminho != std::string::npos) {
        const std::string resto = base.substr(inicioCaminho, base.find('#', inicioCaminho) - inicioCaminho);
        const auto interrogacao = resto.find('?');
        caminho = resto.substr(0, interrogacao);
        if (interrogacao != std::string::npos) consulta = resto.substr(interrogacao);
    }
    if (referencia.empty() || referencia.front() == '#') return autoridade + caminho + consulta;
    if (referencia.front() == '?') return autoridade + caminho + referencia;
    const auto fimCaminhoRef = referencia.find_first_of("?#");
    std::string caminhoRef = referencia.substr(0, fimCaminhoRef);
    const std::string restoRef = fimCaminhoRef == std::string::npos ? "" : referencia.substr(fimCaminhoRef);
    if (caminhoRef.front() != '/') {
        const auto barra = caminho.rfind('/');
        caminhoRef = (barra == std::string::npos ? "/" : caminho.substr(0, barra + 1)) + caminhoRef;
    }
    return autoridade + SemSegmentosDePonto(caminhoRef) + restoRef;
}

bool StatusDeRedirecionamento(DWORD status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

}  // namespace

TRespostaHttp Executar(const TPedidoHttp& pedido) {
    DWORD erro = 0;
    const auto endereco = Decompor(pedido.Endereco, erro);
    if (!endereco) {
        SetLastError(erro);
        Falhar("WinHttpCrackUrl");
    }
    if (endereco->Esquema != INTERNET_SCHEME_HTTP && endereco->Esquema != INTERNET_SCHEME_HTTPS) {
        SetLastError(ERROR_WINHTTP_UNRECOGNIZED_SCHEME);
        Falhar("WinHttpCrackUrl");
    }

    // The User-Agent goes in with the other headers, so the session has none.
    Alca sessao(WinHttpOpen(nullptr, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                            WINHTTP_NO_PROXY_BYPASS, 0));
    if (!sessao) Falhar("WinHttpOpen");
    // WinHTTP's time-outs hold for one operation each: name resolution and
    // connecting get the connection's; every send (one piece of the body),
    // the wait for the answer's headers and every read of its body get the
    // answer's. No time bounds the exchange as a whole, so a transfer ends
    // only when one such operation sees nothing move for that long.
    const int conexao = Milissegundos(pedido.LimiteConexao);
    const int resposta = Milissegundos(pedido.LimiteResposta);
    if (!WinHttpSetTimeouts(sessao.get(), conexao, conexao, resposta, resposta)) Falhar("WinHttpSetTimeouts");

    Alca ligacao(WinHttpConnect(sessao.get(), endereco->Servidor.c_str(), endereco->Porta, 0));
    if (!ligacao) Falhar("WinHttpConnect");
    const std::wstring metodo = Utf8ParaUtf16(pedido.Metodo);
    Alca requisicao(WinHttpOpenRequest(ligacao.get(), metodo.c_str(), endereco->Caminho.c_str(), nullptr,
                                       WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                       endereco->Esquema == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0));
    if (!requisicao) Falhar("WinHttpOpenRequest");
    HINTERNET r = requisicao.get();

    DWORD desligar = WINHTTP_DISABLE_COOKIES | WINHTTP_DISABLE_REDIRECTS | WINHTTP_DISABLE_KEEP_ALIVE |
                     WINHTTP_DISABLE_AUTHENTICATION;
    if (!WinHttpSetOption(r, WINHTTP_OPTION_DISABLE_FEATURE, &desligar, sizeof desligar))
        Falhar("WinHttpSetOption");
    DWORD espera = static_cast<DWORD>(resposta);
    WinHttpSetOption(r, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &espera, sizeof espera);
    // https: WinHTTP verifies the server's certificate and name against the
    // machine's authorities; no WINHTTP_OPTION_SECURITY_FLAGS is ever set
    // here, so nothing relaxes it. Why a certificate was refused comes
    // through this callback.
    DWORD falhasSeguras = 0;
    DWORD_PTR contexto = reinterpret_cast<DWORD_PTR>(&falhasSeguras);
    if (!WinHttpSetOption(r, WINHTTP_OPTION_CONTEXT_VALUE, &contexto, sizeof contexto)) Falhar("WinHttpSetOption");
    if (WinHttpSetStatusCallback(r, AoFalharSeguranca, WINHTTP_CALLBACK_FLAG_SECURE_FAILURE, 0) ==
        WINHTTP_INVALID_STATUS_CALLBACK)
        Falhar("WinHttpSetStatusCallback");

    std::wstring cabecalhos;
    for (const auto& [nome, valor] : pedido.Cabecalhos) cabecalhos += Utf8ParaUtf16(nome + ": " + valor + "\r\n");
    // A user name and password written in the link log in, as on Linux.
    if (!endereco->Usuario.empty() || !endereco->Senha.empty()) {
        std::string credencial = StreamtoBase64(SemEscapes(Utf16ParaUtf8(endereco->Usuario)) + ":" +
                                                SemEscapes(Utf16ParaUtf8(endereco->Senha)));
        std::erase_if(credencial, [](char c) { return c == '\r' || c == '\n'; });
        cabecalhos += Utf8ParaUtf16("Authorization: Basic " + credencial + "\r\n");
    }
    if (!cabecalhos.empty() &&
        !WinHttpAddRequestHeaders(r, cabecalhos.c_str(), static_cast<DWORD>(cabecalhos.size()),
                                  WINHTTP_ADDREQ_FLAG_ADD | WINHTTP_ADDREQ_FLAG_REPLACE))
        Falhar("WinHttpAddRequestHeaders");

    // The headers, with the body's whole length; then the body piece by piece.
    const DWORD tamanhoCorpo = static_cast<DWORD>(pedido.Corpo.size());
    if (!WinHttpSendRequest(r, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, tamanhoCorpo, 0))
        Falhar("WinHttpSendRequest", falhasSeguras);
    for (DWORD enviados = 0; enviados < tamanhoCorpo;) {
        DWORD escritos = 0;
        const DWORD pedaco = std::min(kPedacoDoCorpo, tamanhoCorpo - enviados);
        if (!WinHttpWriteData(r, pedido.Corpo.data() + enviados, pedaco, &escritos)) Falhar("WinHttpWriteData", falhasSeguras);
        if (escritos == 0) {
            SetLastError(ERROR_WINHTTP_CONNECTION_ERROR);
            Falhar("WinHttpWriteData");
        }
        enviados += escritos;
    }
    if (!WinHttpReceiveResponse(r, nullptr)) Falhar("WinHttpReceiveResponse", falhasSeguras);

    TRespostaHttp recebida;
    DWORD status = 0;
    DWORD tamanho = sizeof status;
    if (!WinHttpQueryHeaders(r, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER, WINHTTP_HEADER_NAME_BY_INDEX,
                             &status, &tamanho, WINHTTP_NO_HEADER_INDEX))
        Falhar("WinHttpQueryHeaders");
    recebida.Status = static_cast<long>(status);
    recebida.FraseStatus = Cabecalho(r, WINHTTP_QUERY_STATUS_TEXT).value_or("");
    const std::string versao = Cabecalho(r, WINHTTP_QUERY_VERSION).value_or("");
    if (versao == "HTTP/1.0") recebida.VersaoHTTP = "1.0";
    else if (versao == "HTTP/1.1") recebida.VersaoHTTP = "1.1";
    else if (versao == "HTTP/2" || versao == "HTTP/2.0") recebida.VersaoHTTP = "2.0";
    else if (versao == "HTTP/3" || versao == "HTTP/3.0") recebida.VersaoHTTP = "3";
    recebida.TipoConteudo = Cabecalho(r, WINHTTP_QUERY_CONTENT_TYPE).value_or("");
    if (StatusDeRedirecionamento(status))
        if (const auto local = Cabecalho(r, WINHTTP_QUERY_LOCATION); local && !local->empty())
            recebida.Destino = Resolver(pedido.Endereco, *local);

    char bloco[16384];
    for (;;) {
        DWORD lidos = 0;
        if (!WinHttpReadData(r, bloco, sizeof bloco, &lidos)) Falhar("WinHttpReadData");
        if (lidos == 0) break;
        recebida.Corpo.append(bloco, lidos);
    }
    return recebida;
}

std::optional<TOrigem> Origem(const std::string& endereco) {
    DWORD erro = 0;
    const auto e = Decompor(endereco, erro);
    if (!e) return std::nullopt;
    std::string esquema;
    switch (e->Esquema) {
        case INTERNET_SCHEME_HTTP: esquema = "http"; break;
        case INTERNET_SCHEME_HTTPS: esquema = "https"; break;
        default: return std::nullopt;
    }
    return TOrigem{esquema, EmMinusculas(Utf16ParaUtf8(e->Servidor)), static_cast<int>(e->Porta)};
}

namespace {

// Code pages of the character sets an answer may name (Latin-1 and UTF-8
// never come here).
UINT PaginaDeCodigo(const std::string& charset) {
    const std::string c = EmMinusculas(charset);
    struct Nome {
        const char* nome;
        UINT pagina;
    };
    static constexpr Nome nomes[] = {
        {"us-ascii", 20127},     {"ascii", 20127},        {"iso-8859-2", 28592},  {"iso-8859-3", 28593},
        {"iso-8859-4", 28594},   {"iso-8859-5", 28595},   {"iso-8859-6", 28596},  {"iso-8859-7", 28597},
        {"iso-8859-8", 28598},   {"iso-8859-9", 28599},   {"iso-8859-13", 28603}, {"iso-8859-15", 28605},
        {"koi8-r", 20866},       {"koi8-u", 21866},       {"shift_jis", 932},     {"windows-31j", 932},
        {"euc-jp", 20932},       {"iso-2022-jp", 50220},  {"gb2312", 936},        {"gbk", 936},
        {"gb18030", 54936},      {"big5", 950},           {"euc-kr", 51949},      {"ks_c_5601-1987", 949},
        {"ibm437", 437},         {"ibm850", 850},         {"cp437", 437},         {"cp850", 850},
    };
    for (const auto& n : nomes)
        if (c == n.nome) return n.pagina;
    // windows-1250 .. windows-1258, also written cp1252.
    for (const char* prefixo : {"windows-", "cp"}) {
        const std::string p = prefixo;
        if (c.size() == p.size() + 4 && c.starts_with(p) && c.compare(p.size(), 3, "125") == 0 &&
            c.back() >= '0' && c.back() <= '8')
            return static_cast<UINT>(1250 + (c.back() - '0'));
    }
    return 0;
}

std::string DeUtf16(std::string_view bytes, bool grandeExtremidade) {
    std::wstring largo;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        const auto a = static_cast<unsigned char>(bytes[i]);
        const auto b = static_cast<unsigned char>(bytes[i + 1]);
        largo += static_cast<wchar_t>(grandeExtremidade ? (a << 8) | b : (b << 8) | a);
    }
    std::string texto = Utf16ParaUtf8(largo);
    if (bytes.size() % 2) protocolo::AcrescentarUtf8(texto, protocolo::kCaractereSubstituto);  // half a character at the end
    return texto;
}

}  // namespace

std::optional<std::string> ParaUTF8(std::string_view bytes, const std::string& charset) {
    const std::string c = EmMinusculas(charset);
    if (c == "utf-16le") return DeUtf16(bytes, false);
    if (c == "utf-16be") return DeUtf16(bytes, true);
    if (c == "utf-16") {
        // A byte-order mark decides; without one, big-endian (RFC 2781).
        if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
            static_cast<unsigned char>(bytes[1]) == 0xFE)
            return DeUtf16(bytes.substr(2), false);
        if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFE &&
            static_cast<unsigned char>(bytes[1]) == 0xFF)
            bytes.remove_prefix(2);
        return DeUtf16(bytes, true);
    }
    const UINT pagina = PaginaDeCodigo(charset);
    if (pagina == 0 || !IsValidCodePage(pagina)) return std::nullopt;
    if (bytes.empty()) return std::string();
    const int tamanho = static_cast<int>(bytes.size());
    const int n = MultiByteToWideChar(pagina, 0, bytes.data(), tamanho, nullptr, 0);
    if (n <= 0) return std::nullopt;
    std::wstring largo(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(pagina, 0, bytes.data(), tamanho, largo.data(), n);
    return Utf16ParaUtf8(largo);
}

}  // namespace ondaris::sync::transporte
