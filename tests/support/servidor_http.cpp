#include "support/servidor_http.h"

#include "protocolo/texto.h"

#include <arpa/inet.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <stdexcept>

namespace ondaris::teste {

namespace {

// Entries that cpp-httplib adds to the header list itself; they never
// travelled on the wire.
bool PseudoCabecalho(const std::string& nome) {
    return nome == "REMOTE_ADDR" || nome == "REMOTE_PORT" || nome == "LOCAL_ADDR" || nome == "LOCAL_PORT";
}

// The server's own socket of the connection that carried `req`: the one
// whose local port is the server's and whose peer port is the request's
// (the client's socket in this same process has them the other way round).
int SoqueteDaRequisicao(const httplib::Request& req, int porta) {
    for (int fd = 0; fd < 65536; ++fd) {
        sockaddr_in local{}, par{};
        socklen_t tamanhoLocal = sizeof local, tamanhoPar = sizeof par;
        if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &tamanhoLocal) != 0) {
            if (errno == EBADF && fd > 1024) break;
            continue;
        }
        if (local.sin_family != AF_INET || ::getpeername(fd, reinterpret_cast<sockaddr*>(&par), &tamanhoPar) != 0)
            continue;
        if (ntohs(local.sin_port) == porta && ntohs(par.sin_port) == req.remote_port) return fd;
    }
    return -1;
}

// Cuts the connection under cpp-httplib's feet; its own write of the answer
// then fails and it closes what is left.
void Cortar(int soquete, RespostaProgramada::TCorte corte) {
    if (soquete < 0) throw std::runtime_error("ServidorHttp: the connection to cut was not found");
    if (corte == RespostaProgramada::TCorte::Fechar) {
        ::shutdown(soquete, SHUT_RDWR);
        return;
    }
    // A reset is sent when the last descriptor of a socket that lingers for
    // no time is closed: put an unconnected socket in its place.
    linger semEspera{1, 0};
    ::setsockopt(soquete, SOL_SOCKET, SO_LINGER, &semEspera, sizeof semEspera);
    const int substituto = ::socket(AF_INET, SOCK_STREAM, 0);
    if (substituto < 0 || ::dup2(substituto, soquete) < 0) {
        if (substituto >= 0) ::close(substituto);
        throw std::runtime_error("ServidorHttp: the connection could not be reset");
    }
    ::close(substituto);
}

}  // namespace

struct ServidorHttp::Estado {
    httplib::Server servidor;
    int porta = 0;
    TLeitura leitura;
    mutable std::mutex mutex;
    std::condition_variable parada;
    bool parando = false;
    std::deque<RespostaProgramada> fila;
    Tratador tratador;
    std::vector<RequisicaoRecebida> recebidas;

    // Waits `tempo`; false when the server stops first.
    bool Esperar(std::chrono::milliseconds tempo) {
        std::unique_lock<std::mutex> trava(mutex);
        return !parada.wait_for(trava, tempo, [this] { return parando; });
    }

    // The body as `leitura` says: piece by piece, pausing after each.
    std::optional<std::string> LerCorpo(const httplib::ContentReader& leitor) {
        std::string corpo;
        std::size_t desdePausa = 0;
        const bool lido = leitor([&](const char* dados, std::size_t tamanho) {
            const bool lento = leitura.Pedaco > 0 && corpo.size() < leitura.Inicio;
            corpo.append(dados, tamanho);
            desdePausa += tamanho;
            if (!lento || desdePausa < leitura.Pedaco) return true;
            desdePausa = 0;
            return Esperar(leitura.Intervalo);
        });
        if (!lido) return std::nullopt;
        return corpo;
    }

    void Atender(const httplib::Request& req, httplib::Response& res, std::string corpo) {
        RequisicaoRecebida recebida;
        recebida.Metodo = req.method;
        recebida.Caminho = req.target.empty() ? req.path : req.target;
        recebida.Versao = req.version;
        for (const auto& [nome, valor] : req.headers)
            if (!PseudoCabecalho(nome)) recebida.Cabecalhos.emplace_back(nome, valor);
        recebida.Corpo = std::move(corpo);

        RespostaProgramada resposta;
        Tratador escolhido;
        {
            std::lock_guard<std::mutex> trava(mutex);
            recebidas.push_back(recebida);
            if (!fila.empty()) {
                resposta = std::move(fila.front());
                fila.pop_front();
            } else if (tratador) {
                escolhido = tratador;
            } else {
                resposta = RespostaProgramada::Texto("nenhuma resposta programada", 404);
            }
        }
        if (escolhido) resposta = escolhido(recebida);

        if (resposta.Atraso.count() > 0) Esperar(resposta.Atraso);
        if (resposta.Corte != RespostaProgramada::TCorte::Nenhum) {
            Cortar(SoqueteDaRequisicao(req, porta), resposta.Corte);
            return;
        }
        res.status = resposta.Status;
        for (const auto& [nome, valor] : resposta.Cabecalhos) res.set_header(nome, valor);
        if (resposta.Pedaco == 0 || resposta.Corpo.empty()) {
            if (!resposta.TipoConteudo.empty()) res.set_header("Content-Type", resposta.TipoConteudo);
            res.body = std::move(resposta.Corpo);
            return;
        }
        auto texto = std::make_shared<std::string>(std::move(resposta.Corpo));
        res.set_content_provider(
            texto->size(), resposta.TipoConteudo,
            [this, texto, pedaco = resposta.Pedaco, intervalo = resposta.Intervalo](
                std::size_t inicio, std::size_t, httplib::DataSink& destino) {
                if (inicio > 0 && !Esperar(intervalo)) return false;
                return destino.write(texto->data() + inicio, std::min(pedaco, texto->size() - inicio));
            });
    }
};

ServidorHttp::ServidorHttp(TLeitura leitura) : estado_(std::make_unique<Estado>()) {
    // The handlers live inside the state they point to, and the server is
    // stopped before the state goes away: a plain pointer is enough.
    Estado* estado = estado_.get();
    estado->leitura = leitura;
    auto semCorpo = [estado](const httplib::Request& req, httplib::Response& res) {
        estado->Atender(req, res, req.body);
    };
    auto comCorpo = [estado](const httplib::Request& req, httplib::Response& res,
                             const httplib::ContentReader& leitor) {
        if (auto corpo = estado->LerCorpo(leitor)) estado->Atender(req, res, *std::move(corpo));
    };
    estado->servidor.Get(".*", semCorpo);
    estado->servidor.Options(".*", semCorpo);
    estado->servidor.Put(".*", comCorpo);
    estado->servidor.Post(".*", comCorpo);
    estado->servidor.Delete(".*", comCorpo);
    estado->servidor.Patch(".*", comCorpo);
    if (leitura.Pedaco > 0) {
        // A receive buffer about one piece large: what the server has not
        // read holds the client back, instead of piling up in the system.
        estado->servidor.set_socket_options([tamanho = static_cast<int>(leitura.Pedaco)](int s) {
            httplib::default_socket_options(s);
            ::setsockopt(s, SOL_SOCKET, SO_RCVBUF, &tamanho, sizeof tamanho);
        });
    }
    porta_ = estado->servidor.bind_to_any_port("127.0.0.1");
    if (porta_ <= 0) throw std::runtime_error("ServidorHttp: no port could be bound on 127.0.0.1");
    estado->porta = porta_;
    linha_ = std::thread([estado] { estado->servidor.listen_after_bind(); });
    // The socket already listens; wait until requests are served so that a
    // test's first request does not race the start.
    for (int i = 0; i < 2000 && !estado->servidor.is_running(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

ServidorHttp::~ServidorHttp() {
    {
        std::lock_guard<std::mutex> trava(estado_->mutex);
        estado_->parando = true;
    }
    estado_->parada.notify_all();
    estado_->servidor.stop();
    if (linha_.joinable()) linha_.join();
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
    int soquete = ::socket(AF_INET, SOCK_STREAM, 0);
    if (soquete < 0) throw std::runtime_error("ServidorHttp: no socket for a closed port");
    sockaddr_in endereco{};
    endereco.sin_family = AF_INET;
    endereco.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    endereco.sin_port = 0;
    socklen_t tamanho = sizeof endereco;
    bool ok = ::bind(soquete, reinterpret_cast<sockaddr*>(&endereco), sizeof endereco) == 0 &&
              ::getsockname(soquete, reinterpret_cast<sockaddr*>(&endereco), &tamanho) == 0;
    ::close(soquete);
    if (!ok) throw std::runtime_error("ServidorHttp: no port could be bound on 127.0.0.1");
    return ntohs(endereco.sin_port);
}

}  // namespace ondaris::teste
