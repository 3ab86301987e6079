#include "central/servidor.h"

#include <httplib.h>

#include <charconv>
#include <optional>
#include <stdexcept>
#include <string_view>

#include "sync/json.h"

namespace ondaris::central {
namespace {

using sync::TTipoJSON;
using sync::TValorJSON;

// A request the server refuses: its text goes back as a 4xx plain answer.
struct Recusa {
    int Status;
    std::string Texto;
};

template <typename T>
std::optional<T> Inteiro(std::string_view texto) {
    T valor{};
    if (texto.empty()) return std::nullopt;
    auto [fim, erro] = std::from_chars(texto.data(), texto.data() + texto.size(), valor);
    if (erro != std::errc() || fim != texto.data() + texto.size()) return std::nullopt;
    return valor;
}

template <typename T>
T InteiroDoCaminho(const std::string& texto, const char* nome) {
    auto v = Inteiro<T>(texto);
    if (!v) throw Recusa{400, std::string(nome) + " is not an integer: '" + texto + "'"};
    return *v;
}

// A member that must be a string (the store writes every command member as
// one) or a JSON integer number.
std::string TextoDoMembro(const TValorJSON& objeto, const char* nome, bool obrigatorio, const std::string& onde) {
    const TValorJSON* m = objeto.Membro(nome);
    if (!m) {
        if (obrigatorio) throw Recusa{400, onde + ": member \"" + nome + "\" is missing"};
        return {};
    }
    if (m->Tipo() != TTipoJSON::Texto && m->Tipo() != TTipoJSON::Numero)
        throw Recusa{400, onde + ": member \"" + nome + "\" must be a string"};
    return m->Bruto();
}

std::int64_t InteiroDoMembro(const TValorJSON& objeto, const char* nome, const std::string& onde) {
    std::string texto = TextoDoMembro(objeto, nome, true, onde);
    auto v = Inteiro<std::int64_t>(texto);
    if (!v) throw Recusa{400, onde + ": \"" + nome + "\" is not an integer: '" + texto + "'"};
    return *v;
}

std::vector<ComandoRecebido> LerBlocoEnviado(const std::string& corpo, std::int32_t loja,
                                             std::optional<std::int64_t>& ordemFinal) {
    auto json = sync::LerJSON(corpo);
    if (!json) throw Recusa{400, "body is not valid JSON"};
    if (!json->EhObjeto()) throw Recusa{400, "body must be a JSON object"};
    std::string origem = TextoDoMembro(*json, "codigolojaorigem", true, "body");
    if (Inteiro<std::int32_t>(origem) != loja)
        throw Recusa{400, "codigolojaorigem '" + origem + "' differs from the store in the path (" +
                              std::to_string(loja) + ")"};
    const TValorJSON* comandos = json->Membro("comandos");
    if (!comandos || !comandos->EhMatriz()) throw Recusa{400, "body: \"comandos\" must be an array"};
    if (json->Membro("ordemfinal")) ordemFinal = InteiroDoMembro(*json, "ordemfinal", "body");
    if (json->Membro("ordeminicial")) InteiroDoMembro(*json, "ordeminicial", "body");

    std::vector<ComandoRecebido> lidos;
    lidos.reserve(comandos->Elementos().size());
    std::size_t i = 0;
    for (const TValorJSON& c : comandos->Elementos()) {
        std::string onde = "comandos[" + std::to_string(i++) + "]";
        if (!c.EhObjeto()) throw Recusa{400, onde + " must be an object"};
        ComandoRecebido r;
        r.Ordem = InteiroDoMembro(c, "ordem", onde);
        r.Destino = TextoDoMembro(c, "codigolojadestino", false, onde);
        if (!r.Destino.empty() && !Inteiro<std::int32_t>(r.Destino))
            throw Recusa{400, onde + ": \"codigolojadestino\" is not a store code: '" + r.Destino + "'"};
        for (const char* nome : {"acao", "tabela", "idtransacao"}) TextoDoMembro(c, nome, true, onde);
        const TValorJSON* campos = c.Membro("campos");
        if (!campos || !campos->EhObjeto()) throw Recusa{400, onde + ": \"campos\" must be an object"};
        r.Json = sync::EscreverJSONCompacto(c);
        lidos.push_back(std::move(r));
    }
    return lidos;
}

// The stored command with "ordem" carrying the server's position, which is
// what the receiving store keeps and asks after next time.
TValorJSON ComandoParaLoja(const ComandoArmazenado& c) {
    auto original = sync::LerJSON(c.Json);
    if (!original || !original->EhObjeto()) throw std::runtime_error("stored command is damaged");
    TValorJSON saida = TValorJSON::Objeto();
    bool trocada = false;
    for (const auto& [nome, valor] : original->Membros()) {
        if (nome == "ordem" && !trocada) {
            saida.Adicionar(nome, TValorJSON::Texto(std::to_string(c.Posicao)));
            trocada = true;
        } else {
            saida.Adicionar(nome, valor);
        }
    }
    return saida;
}

void Json(httplib::Response& res, const TValorJSON& valor) {
    res.status = 200;
    res.set_content(sync::EscreverJSONCompacto(valor), "application/json");
}

TValorJSON Texto(std::int64_t n) { return TValorJSON::Texto(std::to_string(n)); }

}  // namespace

ServidorCentral::ServidorCentral(Armazem& armazem, std::string estruturaJson)
    : Armazem_(armazem), Estrutura_(std::move(estruturaJson)) {
    if (!sync::LerJSON(Estrutura_)) throw std::invalid_argument("the structure list is not valid JSON");
}

void ServidorCentral::Registrar(httplib::Server& servidor) {
    // Every handler runs under one lock and turns a refusal into its answer.
    auto guardado = [this](auto corpo) {
        return [this, corpo](const httplib::Request& req, httplib::Response& res) {
            std::lock_guard trava(Mutex_);
            try {
                corpo(req, res);
            } catch (const Recusa& r) {
                res.status = r.Status;
                res.set_content(r.Texto, "text/plain; charset=utf-8");
            } catch (const std::exception& e) {
                res.status = 500;
                res.set_content(std::string("internal error: ") + e.what(), "text/plain; charset=utf-8");
            }
        };
    };

    servidor.Get("/estruturabd", guardado([this](const httplib::Request&, httplib::Response& res) {
        res.set_content(Estrutura_, "application/json");
    }));

    servidor.Put(R"(/enviar/([^/]+))", guardado([this](const httplib::Request& req, httplib::Response& res) {
        auto loja = InteiroDoCaminho<std::int32_t>(req.matches[1], "store code");
        std::optional<std::int64_t> ordemFinal;
        auto comandos = LerBlocoEnviado(req.body, loja, ordemFinal);
        ResultadoGravacao r = Armazem_.Gravar(loja, comandos, ordemFinal);
        TValorJSON resposta = TValorJSON::Objeto();
        resposta.Adicionar("aceitos", TValorJSON::Numero(r.Aceitos));
        resposta.Adicionar("ignorados", TValorJSON::Numero(r.Ignorados));
        resposta.Adicionar("ultimaordemenviada", Texto(r.PosicaoConfirmada));
        Json(res, resposta);
    }));

    servidor.Get(R"(/obterindiceenvio/([^/]+)/([^/]+))",
                 guardado([this](const httplib::Request& req, httplib::Response& res) {
                     auto loja = InteiroDoCaminho<std::int32_t>(req.matches[1], "store code");
                     auto ultimo = InteiroDoCaminho<std::int64_t>(req.matches[2], "last movement");
                     Armazem_.RegistrarPedido(loja, std::nullopt);
                     TValorJSON resposta = TValorJSON::Objeto();
                     resposta.Adicionar("ultimaordemenviada", Texto(Armazem_.PosicaoConfirmada(loja)));
                     resposta.Adicionar("ultimomovimentoloja", Texto(ultimo));
                     Json(res, resposta);
                 }));

    servidor.Get(R"(/receber/([^/]+)/([^/]+))", guardado([this](const httplib::Request& req, httplib::Response& res) {
        auto loja = InteiroDoCaminho<std::int32_t>(req.matches[1], "store code");
        auto ordem = InteiroDoCaminho<std::int64_t>(req.matches[2], "position");
        Armazem_.RegistrarPedido(loja, ordem);
        BlocoParaLoja bloco = Armazem_.Proximos(loja, ordem, TamanhoBloco);
        TValorJSON comandos = TValorJSON::Matriz();
        for (const auto& c : bloco.Comandos) comandos.Adicionar(ComandoParaLoja(c));
        TValorJSON resposta = TValorJSON::Objeto();
        resposta.Adicionar("ordeminicial", Texto(bloco.Comandos.empty() ? 0 : bloco.Comandos.front().Posicao));
        resposta.Adicionar("ordemfinal", Texto(bloco.Comandos.empty() ? 0 : bloco.Comandos.back().Posicao));
        resposta.Adicionar("ultimaordem", Texto(bloco.UltimaPosicao));
        resposta.Adicionar("comandos", std::move(comandos));
        Json(res, resposta);
    }));

    servidor.Get("/status", guardado([this](const httplib::Request&, httplib::Response& res) {
        TValorJSON lojas = TValorJSON::Matriz();
        for (const EstadoLoja& e : Armazem_.Estado()) {
            TValorJSON l = TValorJSON::Objeto();
            l.Adicionar("loja", TValorJSON::Numero(e.Loja));
            l.Adicionar("ultimaordemenviada", Texto(e.PosicaoConfirmada));
            l.Adicionar("ultimaordemrecebida", Texto(e.PosicaoRecebida));
            l.Adicionar("comandosaguardando", TValorJSON::Numero(e.ComandosAguardando));
            l.Adicionar("ultimopedido", TValorJSON::Texto(e.UltimoPedido));
            lojas.Adicionar(std::move(l));
        }
        TValorJSON resposta = TValorJSON::Objeto();
        resposta.Adicionar("lojas", std::move(lojas));
        Json(res, resposta);
    }));

    servidor.set_error_handler([](const httplib::Request& req, httplib::Response& res) {
        if (res.body.empty())
            res.set_content("no such endpoint: " + req.method + " " + req.path, "text/plain; charset=utf-8");
    });
    servidor.set_payload_max_length(256u * 1024u * 1024u);
}

}  // namespace ondaris::central
