// The in-process HTTP server of support/servidor_http.h for the Windows
// build, on Winsock: the same programmed answers, recorded requests, delays
// and cut connections as the Linux one, which rests on cpp-httplib (whose
// compiled part Debian has only for Linux). HTTP/1.1 as the agent uses it:
// one request per connection, a body by Content-Length, the answer with its
// length and "Connection: close".
#include "support/servidor_http.h"

#include "protocolo/texto.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <stdexcept>

namespace ondaris::teste {

namespace {

std::string_view Aparar(std::string_view t) {
    while (!t.empty() && (t.front() == ' ' || t.front() == '\t')) t.remove_prefix(1);
    while (!t.empty() && (t.back() == ' ' || t.back() == '\t' || t.back() == '\r')) t.remove_suffix(1);
    return t;
}

void IniciarWinsock() {
    static const bool iniciado = [] {
        WSADATA dados;
        if (WSAStartup(MAKEWORD(2, 2), &dados) != 0) throw std::runtime_error("ServidorHttp: WSAStartup failed");
        return true;
    }();
    (void)iniciado;
}

const char* Frase(int status) {
    switch (status) {
        case 200: return "OK";
        case 201: return "Created";
        case 204: return "No Content";
        case 301: return "Moved Permanently";
        case 302: return "Found";
        case 303: return "See Other";
        case 307: return "Temporary Redirect";
        case 308: return "Permanent Redirect";
        case 400: return "Bad Request";
        case 404: return "Not Found";
        case 408: return "Request Timeout";
        case 409: return "Conflict";
        case 500: return "Internal Server Error";
        case 501: return "Not Implemented";
        case 502: return "Bad Gateway";
        case 503: return "Service Unavailable";
        case 504: return "Gateway Timeout";
        default: return "Unknown";
    }
}

// A socket bound to 127.0.0.1 on a port the system picks.
SOCKET SoqueteLocal(int& porta) {
    IniciarWinsock();
    SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) throw std::runtime_error("ServidorHttp: no socket");
    sockaddr_in endereco{};
    endereco.sin_family = AF_INET;
    endereco.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    endereco.sin_port = 0;
    int tamanho = sizeof endereco;
    if (::bind(s, reinterpret_cast<sockaddr*>(&endereco), sizeof endereco) != 0 ||
        ::getsockname(s, reinterpret_cast<sockaddr*>(&endereco), &tamanho) != 0) {
        ::closesocket(s);
        throw std::runtime_error("ServidorHttp: no port could be bound on 127.0.0.1");
    }
    porta = ntohs(endereco.sin_port);
    return s;
}

bool EnviarTudo(SOCKET s, const std::string& dados) {
    std::size_t enviados = 0;
    while (enviados < dados.size()) {
        const int n = ::send(s, dados.data() + enviados,
                             static_cast<int>(std::min<std::size_t>(dados.size() - enviados, 1 << 16)), 0);
        if (n <= 0) return false;
        enviados += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

struct ServidorHttp::Estado {
    SOCKET escuta = INVALID_SOCKET;
    TLeitura leitura;
    mutable std::mutex mutex;
    std::condition_variable parada;
    bool parando = false;
    std::deque<RespostaProgramada> fila;
    Tratador tratador;
    std::vector<RequisicaoRecebida> recebidas;
    std::vector<std::thread> conexoes;
    std::vector<SOCKET> abertas;  // connections being served, cut short at stop

    // Waits `tempo`; false when the server stops first.
    bool Esperar(std::chrono::milliseconds tempo) {
        std::unique_lock<std::mutex> trava(mutex);
        return !parada.wait_for(trava, tempo, [this] { return parando; });
    }

    // Reads one request; nothing when the connection ends before it is whole.
    std::optional<RequisicaoRecebida> Ler(SOCKET s) {
        std::string dados;
        char bloco[16384];
        std::size_t fimCabecalhos = std::string::npos;
        while ((fimCabecalhos = dados.find("\r\n\r\n")) == std::string::npos) {
            const int n = ::recv(s, bloco, sizeof bloco, 0);
            if (n <= 0) return std::nullopt;
            dados.append(bloco, static_cast<std::size_t>(n));
        }
        RequisicaoRecebida r;
        std::string_view cabecalhos(dados.data(), fimCabecalhos);
        const auto fimLinha = cabecalhos.find("\r\n");
        const std::string_view linha = cabecalhos.substr(0, fimLinha);
        const auto espaco1 = linha.find(' ');
        const auto espaco2 = linha.find(' ', espaco1 + 1);
        if (espaco1 == std::string_view::npos || espaco2 == std::string_view::npos) return std::nullopt;
        r.Metodo = std::string(linha.substr(0, espaco1));
        r.Caminho = std::string(linha.substr(espaco1 + 1, espaco2 - espaco1 - 1));
        r.Versao = std::string(linha.substr(espaco2 + 1));
        std::size_t tamanho = 0;
        for (std::size_t pos = fimLinha; pos != std::string_view::npos && pos < cabecalhos.size();) {
            const std::size_t inicio = pos + 2;
            const auto proximo = cabecalhos.find("\r\n", inicio);
            const std::string_view h = cabecalhos.substr(inicio, proximo == std::string_view::npos
                                                                     ? std::string_view::npos
                                                                     : proximo - inicio);
            const auto dois = h.find(':');
            if (dois != std::string_view::npos) {
                std::string nome(Aparar(h.substr(0, dois)));
                std::string valor(Aparar(h.substr(dois + 1)));
                if (protocolo::MinusculasAscii(nome) == "content-length") tamanho = std::stoull(valor);
                r.Cabecalhos.emplace_back(std::move(nome), std::move(valor));
            }
            pos = proximo;
        }
        r.Corpo = dados.substr(fimCabecalhos + 4);
        // Read as `leitura` says: a piece at most, then a pause.
        const auto porVez = [&] {
            return leitura.Pedaco && r.Corpo.size() < leitura.Inicio ? std::min(leitura.Pedaco, sizeof bloco)
                                                                     : sizeof bloco;
        };
        std::size_t desdePausa = 0;
        while (r.Corpo.size() < tamanho) {
            const bool lento = leitura.Pedaco > 0 && r.Corpo.size() < leitura.Inicio;
            const int n = ::recv(s, bloco, static_cast<int>(std::min(porVez(), tamanho - r.Corpo.size())), 0);
            if (n <= 0) return std::nullopt;
            r.Corpo.append(bloco, static_cast<std::size_t>(n));
            desdePausa += static_cast<std::size_t>(n);
            if (lento && desdePausa >= leitura.Pedaco) {
                desdePausa = 0;
                if (!Esperar(leitura.Intervalo)) return std::nullopt;
            }
        }
        return r;
    }

    void Atender(SOCKET s) {
        const auto lida = Ler(s);
        if (!lida) return;
        RespostaProgramada resposta;
        Tratador escolhido;
        {
            std::lock_guard<std::mutex> trava(mutex);
            recebidas.push_back(*lida);
            if (!fila.empty()) {
                resposta = std::move(fila.front());
                fila.pop_front();
            } else if (tratador) {
                escolhido = tratador;
            } else {
                resposta = RespostaProgramada::Texto("nenhuma resposta programada", 404);
            }
        }
        if (escolhido) resposta = escolhido(*lida);

        if (resposta.Atraso.count() > 0) Esperar(resposta.Atraso);
        if (resposta.Corte == RespostaProgramada::TCorte::Fechar) {
            ::shutdown(s, SD_BOTH);
            return;
        }
        if (resposta.Corte == RespostaProgramada::TCorte::Reiniciar) {
            // Closing a socket that lingers for no time sends a reset.
            linger semEspera{1, 0};
            ::setsockopt(s, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&semEspera), sizeof semEspera);
            return;
        }
        std::string texto = "HTTP/1.1 " + std::to_string(resposta.Status) + " " + Frase(resposta.Status) + "\r\n";
        for (const auto& [nome, valor] : resposta.Cabecalhos) texto += nome + ": " + valor + "\r\n";
        if (!resposta.TipoConteudo.empty()) texto += "Content-Type: " + resposta.TipoConteudo + "\r\n";
        texto += "Content-Length: " + std::to_string(resposta.Corpo.size()) + "\r\nConnection: close\r\n\r\n";
        // The body at once, or piece by piece with the pauses asked for.
        const std::size_t pedaco = resposta.Pedaco ? resposta.Pedaco : resposta.Corpo.size();
        std::size_t enviados = std::min(pedaco, resposta.Corpo.size());
        texto += resposta.Corpo.substr(0, enviados);
        if (!EnviarTudo(s, texto)) return;
        while (enviados < resposta.Corpo.size()) {
            if (!Esperar(resposta.Intervalo)) return;
            const std::size_t n = std::min(pedaco, resposta.Corpo.size() - enviados);
            if (!EnviarTudo(s, resposta.Corpo.substr(enviados, n))) return;
            enviados += n;
        }
        ::shutdown(s, SD_SEND);
    }

    void Servir(SOCKET s) {
        Atender(s);
        {
            std::lock_guard<std::mutex> trava(mutex);
            abertas.erase(std::remove(abertas.begin(), abertas.end(), s), abertas.end());
        }
        ::closesocket(s);
    }

    void Escutar() {
        for (;;) {
            fd_set prontos;
            FD_ZERO(&prontos);
            FD_SET(escuta, &prontos);
            timeval espera{0, 50000};
            const int n = ::select(0, &prontos, nullptr, nullptr, &espera);
            {
                std::lock_guard<std::mutex> trava(mutex);
                if (parando) return;
            }
            if (n <= 0) continue;
            const SOCKET s = ::accept(escuta, nullptr, nullptr);
            if (s == INVALID_SOCKET) continue;
            // A client that stops sending does not hold its thread for ever.
            const DWORD limite = 30000;
            ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&limite), sizeof limite);
            std::lock_guard<std::mutex> trava(mutex);
            abertas.push_back(s);
            conexoes.emplace_back([this, s] { Servir(s); });
        }
    }
};

ServidorHttp::ServidorHttp(TLeitura leitura) : estado_(std::make_unique<Estado>()) {
    Estado* estado = estado_.get();
    estado->leitura = leitura;
    estado->escuta = SoqueteLocal(porta_);
    if (leitura.Pedaco > 0) {
        // A receive buffer about one piece large: what the server has not
        // read holds the client back, instead of piling up in the system.
        const int tamanho = static_cast<int>(leitura.Pedaco);
        ::setsockopt(estado->escuta, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&tamanho),
                     sizeof tamanho);
    }
    if (::listen(estado->escuta, SOMAXCONN) != 0) {
        ::closesocket(estado->escuta);
        throw std::runtime_error("ServidorHttp: the socket does not listen");
    }
    linha_ = std::thread([estado] { estado->Escutar(); });
}

ServidorHttp::~ServidorHttp() {
    std::vector<std::thread> conexoes;
    {
        std::lock_guard<std::mutex> trava(estado_->mutex);
        estado_->parando = true;
        for (SOCKET s : estado_->abertas) ::shutdown(s, SD_BOTH);
    }
    estado_->parada.notify_all();
    if (linha_.joinable()) linha_.join();
    {
        std::lock_guard<std::mutex> trava(estado_->mutex);
        conexoes.swap(estado_->conexoes);
    }
    for (auto& t : conexoes) t.join();
    ::closesocket(estado_->escuta);
}

std::string ServidorHttp::Base(std::string_view caminho) const {
    return "http://127.0.0.1:" + std::to_string(porta_) + "/" + std::string(caminho);
}

void ServidorHttp::Responder(RespostaProgramada resposta) {
    std::lock_guard<std::mutex> trava(estado_->mutex);
    estado_->fila.push_back(std::move(resposta));
}

void ServidorHttp::Manipulador(Tratador tratador) {
    std::lock_guard<std::mutex> trava(estado_->mutex);
    estado_->tratador = std::move(tratador);
}

std::vector<RequisicaoRecebida> ServidorHttp::Recebidas() const {
    std::lock_guard<std::mutex> trava(estado_->mutex);
    return estado_->recebidas;
}

std::size_t ServidorHttp::Quantidade() const {
    std::lock_guard<std::mutex> trava(estado_->mutex);
    return estado_->recebidas.size();
}

RequisicaoRecebida ServidorHttp::Ultima() const {
    std::lock_guard<std::mutex> trava(estado_->mutex);
    if (estado_->recebidas.empty()) throw std::logic_error("ServidorHttp: no request has arrived");
    return estado_->recebidas.back();
}

void ServidorHttp::LimparRecebidas() {
    std::lock_guard<std::mutex> trava(estado_->mutex);
    estado_->recebidas.clear();
}

int ServidorHttp::PortaFechada() {
    // Bind a socket to a free port, read the port and close it unheard.
    int porta = 0;
    ::closesocket(SoqueteLocal(porta));
    return porta;
}

}  // namespace ondaris::teste
