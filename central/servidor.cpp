#include "central/servidor.h"

#include <charconv>
#include <iostream>
#include <cstdint>
#include <iostream>
#include <limits>
#include <map>
#include <optional>
#include <stdexcept>
#include <string_view>

#include "central/credenciais.h"
#include "protocolo/json.h"
#include "protocolo/regras.h"
#include "protocolo/texto.h"

namespace ondaris::central {
using protocolo::TTipoJSON;
using protocolo::TValorJSON;
namespace {

using protocolo::TTipoJSON;
using protocolo::TValorJSON;

const char* kTextoPlano = "text/plain; charset=utf-8";

// A request the server refuses: its text goes back as a 4xx plain answer
// with that status. Raised by the readers of a request, turned into the
// answer by every endpoint; nothing of the request is stored.
class Recusa : public std::runtime_error {
public:
    Recusa(int status, const std::string& texto) : std::runtime_error(texto), Status(status) {}
    int Status;
};

template <typename T>
std::optional<T> Inteiro(std::string_view texto) {
    T valor{};
    if (texto.empty()) return std::nullopt;
    auto [fim, erro] = std::from_chars(texto.data(), texto.data() + texto.size(), valor);
    if (erro != std::errc() || fim != texto.data() + texto.size()) return std::nullopt;
    return valor;
}

// `onde` names the value in the refusal ("o código de loja no caminho",
// "comandos[3]: \"ordem\"").
std::int32_t CodigoLoja(std::string_view texto, const std::string& onde) {
    auto v = Inteiro<std::int32_t>(texto);
    if (!v || *v < 1)
        throw Recusa{400, onde + " não é um código de loja (um número inteiro de 1 a " +
                              std::to_string(std::numeric_limits<std::int32_t>::max()) + "): '" +
                              std::string(texto) + "'"};
    return *v;
}

std::int64_t Posicao(std::string_view texto, std::int64_t minimo, const std::string& onde) {
    auto v = Inteiro<std::int64_t>(texto);
    if (!v || *v < minimo)
        throw Recusa{400, onde + " não é uma posição (um número inteiro de " + std::to_string(minimo) + " a " +
                              std::to_string(std::numeric_limits<std::int64_t>::max()) + "): '" +
                              std::string(texto) + "'"};
    return *v;
}

void ExigirNome(std::string_view nome, const std::string& onde) {
    if (!protocolo::IdentificadorValido(nome))
        throw Recusa{400, onde + " não é um identificador simples (" + protocolo::kRegraIdentificador + "): '" +
                              std::string(nome) + "'"};
}

// A member that must be a string (the store writes every command member as
// one) or a JSON integer number.
std::string TextoDoMembro(const TValorJSON& objeto, const char* nome, bool obrigatorio, const std::string& onde) {
    const TValorJSON* m = objeto.Membro(nome);
    if (!m) {
        if (obrigatorio) throw Recusa{400, onde + ": falta o membro \"" + nome + "\""};
        return {};
    }
    if (m->Tipo() != TTipoJSON::Texto && m->Tipo() != TTipoJSON::Numero)
        throw Recusa{400, onde + ": o membro \"" + nome + "\" deve ser um texto"};
    return m->Bruto();
}

std::string Membro(const std::string& onde, const char* nome) { return onde + ": \"" + nome + "\""; }

void ExigirJson(const httplib::Request& req) {
    const std::string tipo = req.get_header_value("Content-Type");
    std::string midia = tipo.substr(0, tipo.find(';'));
    while (!midia.empty() && (midia.back() == ' ' || midia.back() == '\t')) midia.pop_back();
    if (protocolo::MinusculasAscii(midia) != "application/json")
        throw Recusa{415, "o corpo deve ser enviado como application/json, não '" + tipo + "'"};
}

BlocoRecebido LerBlocoEnviado(const std::string& corpo, std::int32_t loja) {
    auto json = protocolo::LerJSON(corpo);
    if (!json) throw Recusa{400, "o corpo não é JSON válido"};
    if (!json->EhObjeto()) throw Recusa{400, "o corpo deve ser um objeto JSON"};
    BlocoRecebido bloco;
    bloco.Loja = loja;
    std::int32_t origem = CodigoLoja(TextoDoMembro(*json, "codigolojaorigem", true, "corpo"),
                                     "corpo: \"codigolojaorigem\"");
    if (origem != loja)
        throw Recusa{400, "codigolojaorigem " + std::to_string(origem) + " difere da loja no caminho (" +
                              std::to_string(loja) + ")"};
    const TValorJSON* comandos = json->Membro("comandos");
    if (!comandos || !comandos->EhMatriz()) throw Recusa{400, "corpo: \"comandos\" deve ser uma lista"};

    const bool temInicial = json->Membro("ordeminicial") != nullptr;
    const bool temFinal = json->Membro("ordemfinal") != nullptr;
    if (temInicial != temFinal)
        throw Recusa{400, std::string("corpo: \"") + (temInicial ? "ordeminicial" : "ordemfinal") +
                              "\" sem \"" + (temInicial ? "ordemfinal" : "ordeminicial") +
                              "\": os limites de um bloco vêm juntos"};
    if (temInicial) {
        bloco.OrdemInicial = Posicao(TextoDoMembro(*json, "ordeminicial", true, "corpo"), 1, "corpo: \"ordeminicial\"");
        bloco.OrdemFinal = Posicao(TextoDoMembro(*json, "ordemfinal", true, "corpo"), 0, "corpo: \"ordemfinal\"");
        if (*bloco.OrdemInicial - 1 > *bloco.OrdemFinal)
            throw Recusa{400, "corpo: \"ordeminicial\" " + std::to_string(*bloco.OrdemInicial) +
                                  " fica além de \"ordemfinal\" " + std::to_string(*bloco.OrdemFinal) + " + 1"};
    }

    bloco.Comandos.reserve(comandos->Elementos().size());
    std::size_t i = 0;
    for (const TValorJSON& c : comandos->Elementos()) {
        std::string onde = "comandos[" + std::to_string(i++) + "]";
        if (!c.EhObjeto()) throw Recusa{400, onde + " deve ser um objeto"};
        ComandoRecebido r;
        r.Ordem = Posicao(TextoDoMembro(c, "ordem", true, onde), 1, Membro(onde, "ordem"));
        if (!bloco.Comandos.empty() && r.Ordem <= bloco.Comandos.back().Ordem)
            throw Recusa{400, Membro(onde, "ordem") + " " + std::to_string(r.Ordem) +
                                  " não vem depois da ordem do comando anterior, " +
                                  std::to_string(bloco.Comandos.back().Ordem) + ": os comandos devem ser estritamente crescentes"};
        if (bloco.OrdemInicial && (r.Ordem < *bloco.OrdemInicial || r.Ordem > *bloco.OrdemFinal))
            throw Recusa{400, Membro(onde, "ordem") + " " + std::to_string(r.Ordem) +
                                  " fica fora dos limites do bloco, " + std::to_string(*bloco.OrdemInicial) +
                                  " a " + std::to_string(*bloco.OrdemFinal)};
        const std::string destino = TextoDoMembro(c, "codigolojadestino", false, onde);
        r.Destino = (destino.empty() || destino == "0") ? 0 : CodigoLoja(destino, Membro(onde, "codigolojadestino"));
        for (const char* nome : {"acao", "idtransacao"}) TextoDoMembro(c, nome, true, onde);
        ExigirNome(TextoDoMembro(c, "tabela", true, onde), Membro(onde, "tabela"));
        const TValorJSON* campos = c.Membro("campos");
        if (!campos || !campos->EhObjeto()) throw Recusa{400, onde + ": \"campos\" deve ser um objeto"};
        for (const auto& [nome, valor] : campos->Membros()) {
            ExigirNome(nome, onde + ": o nome de coluna");
            if (valor.Tipo() != TTipoJSON::Texto && valor.Tipo() != TTipoJSON::Numero)
                throw Recusa{400, onde + ": o membro \"" + nome + "\" de \"campos\" deve ser um texto"};
        }
        r.Json = protocolo::EscreverJSONCompacto(c);
        r.Linha = LinhaDoComando(c);
        bloco.Comandos.push_back(std::move(r));
    }
    return bloco;
}

void Json(httplib::Response& res, const TValorJSON& valor) {
    res.status = 200;
    res.set_content(protocolo::EscreverJSONCompacto(valor), "application/json");
}

TValorJSON Texto(std::int64_t n) { return TValorJSON::Texto(std::to_string(n)); }

}  // namespace

ServidorCentral::ServidorCentral(Armazem& armazem, std::string estruturaJson)
    : Armazem_(armazem), Estrutura_(std::move(estruturaJson)) {
    if (!protocolo::LerJSON(Estrutura_)) throw std::invalid_argument("a lista da estrutura não é JSON válido");
}

void ServidorCentral::Registrar(ServidorHttp& servidor) {
    // Every handler turns a refusal into its answer.
    auto guardado = [this](auto corpo) {
        return [this, corpo](const httplib::Request& req, httplib::Response& res) {
            try {
                corpo(req, res);
            } catch (const Recusa& r) {
                res.status = r.Status;
                res.set_content(r.what(), kTextoPlano);
                AnotarRecusa(req, r.what());
            } catch (const BlocoRecusado& e) {
                res.status = 409;
                res.set_content(e.what(), kTextoPlano);
                AnotarRecusa(req, e.what());
            } catch (const std::exception& e) {
                // The database failed (it may be another machine's): the
                // operator reads it here, the agent in its answer.
                std::cerr << "ondaris-central: " << req.method << " " << req.path << ": " << e.what() << std::endl;
                res.status = 500;
                res.set_content(std::string("erro interno: ") + e.what(), kTextoPlano);
            }
        };
    };

    servidor.Get("/estruturabd", guardado([this](const httplib::Request&, httplib::Response& res) {
        res.set_content(Estrutura_, "application/json");
    }));

    servidor.Put(R"(/enviar/([^/]+))", guardado([this](const httplib::Request& req, httplib::Response& res) {
        auto loja = CodigoLoja(req.matches[1].str(), "o código de loja no caminho");
        ExigirJson(req);
        ResultadoGravacao r = Armazem_.Gravar(LerBlocoEnviado(req.body, loja));
        TValorJSON resposta = TValorJSON::Objeto();
        resposta.Adicionar("aceitos", TValorJSON::Numero(r.Aceitos));
        resposta.Adicionar("ignorados", TValorJSON::Numero(r.Ignorados));
        resposta.Adicionar("ultimaordemenviada", Texto(r.PosicaoConfirmada));
        Json(res, resposta);
    }));

    servidor.Get(R"(/obterindiceenvio/([^/]+)/([^/]+))",
                 guardado([this](const httplib::Request& req, httplib::Response& res) {
                     auto loja = CodigoLoja(req.matches[1].str(), "o código de loja no caminho");
                     auto ultimo = Posicao(req.matches[2].str(), 0, "o último movimento no caminho");
                     const std::int64_t confirmada = Armazem_.RegistrarIndice(loja, ultimo);
                     TValorJSON resposta = TValorJSON::Objeto();
                     resposta.Adicionar("ultimaordemenviada", Texto(confirmada));
                     resposta.Adicionar("ultimomovimentoloja", Texto(ultimo));
                     Json(res, resposta);
                 }));

    servidor.Get(R"(/receber/([^/]+)/([^/]+))", guardado([this](const httplib::Request& req, httplib::Response& res) {
        auto loja = CodigoLoja(req.matches[1].str(), "o código de loja no caminho");
        auto ordem = Posicao(req.matches[2].str(), 0, "a posição no caminho");
        BlocoParaLoja bloco = Armazem_.Receber(loja, ordem, protocolo::TamanhoBloco);
        // Written as EscreverJSONCompacto writes the same object.
        const auto posicao = [](std::int64_t n) { return '"' + std::to_string(n) + '"'; };
        std::size_t tamanho = 128;
        for (const auto& c : bloco.Comandos) tamanho += c.Json.size() + 24;
        std::string corpo;
        corpo.reserve(tamanho);
        corpo += "{\"ordeminicial\":" + posicao(bloco.Comandos.empty() ? 0 : bloco.Comandos.front().Posicao) +
                 ",\"ordemfinal\":" + posicao(bloco.Comandos.empty() ? 0 : bloco.Comandos.back().Posicao) +
                 ",\"ultimaordem\":" + posicao(bloco.UltimaPosicao) + ",\"comandos\":[";
        // Each command comes as it is served: only put side by side.
        for (std::size_t i = 0; i < bloco.Comandos.size(); ++i) {
            if (i) corpo += ',';
            corpo += bloco.Comandos[i].Json;
        }
        corpo += "]}";
        res.status = 200;
        res.set_content(std::move(corpo), "application/json");
    }));

    servidor.Get("/status", guardado([this](const httplib::Request&, httplib::Response& res) {
        TValorJSON lojas = TValorJSON::Matriz();
        std::map<std::int32_t, CredencialLoja> credenciais;
        if (Credenciais_)
            for (auto& c : Credenciais_->Listar()) credenciais.emplace(c.Loja, std::move(c));
        for (const EstadoLoja& e : Armazem_.Estado()) {
            TValorJSON l = TValorJSON::Objeto();
            l.Adicionar("loja", TValorJSON::Numero(e.Loja));
            l.Adicionar("ultimaordemenviada", Texto(e.PosicaoConfirmada));
            l.Adicionar("ultimaordemrecebida", Texto(e.PosicaoRecebida));
            l.Adicionar("comandosaguardando", TValorJSON::Numero(e.ComandosAguardando));
            l.Adicionar("ultimopedido", TValorJSON::Texto(e.UltimoPedido));
            l.Adicionar("ultimomovimentoloja",
                        e.UltimoMovimentoLoja ? Texto(*e.UltimoMovimentoLoja) : TValorJSON::Nulo());
            l.Adicionar("envioparadodesde",
                        e.EnvioParadoDesde.empty() ? TValorJSON::Nulo() : TValorJSON::Texto(e.EnvioParadoDesde));
            if (Credenciais_) {
                const auto c = credenciais.find(e.Loja);
                l.Adicionar("credencial", TValorJSON::Texto(DescreverCredencial(
                                              c == credenciais.end() ? std::nullopt : std::optional(c->second))));
            }
            lojas.Adicionar(std::move(l));
        }
        TValorJSON resposta = TValorJSON::Objeto();
        resposta.Adicionar("lojas", std::move(lojas));
        // Commands a store did not apply because a later change of its own
        // to the same row stands: how many in all, and the latest.
        const ConflitosRegistrados conflitos = Armazem_.Conflitos();
        const auto chave = [](const std::optional<std::string>& v) {
            return v ? TValorJSON::Texto(*v) : TValorJSON::Nulo();
        };
        TValorJSON recentes = TValorJSON::Matriz();
        for (const Conflito& c : conflitos.Recentes) {
            TValorJSON r = TValorJSON::Objeto();
            r.Adicionar("tabela", TValorJSON::Texto(c.Tabela));
            r.Adicionar("atualvalorchave1", chave(c.Chave1));
            r.Adicionar("atualvalorchave2", chave(c.Chave2));
            r.Adicionar("loja", TValorJSON::Numero(c.Loja));
            r.Adicionar("lojapreterida", TValorJSON::Numero(c.LojaPreterida));
            r.Adicionar("posicaopreterida", Texto(c.PosicaoPreterida));
            r.Adicionar("lojavencedora", TValorJSON::Numero(c.Loja));
            r.Adicionar("posicaovencedora", Texto(c.PosicaoVencedora));
            r.Adicionar("quando", TValorJSON::Texto(c.Quando));
            recentes.Adicionar(std::move(r));
        }
        resposta.Adicionar("conflitos", TValorJSON::Numero(conflitos.Total));
        resposta.Adicionar("ultimosconflitos", std::move(recentes));
        Json(res, resposta);
    }));
}

// For the operator's page: the refusal counts for the store the path
// names, when it names one; the answer goes out whatever happens here.
void ServidorCentral::AnotarRecusa(const httplib::Request& req, const std::string& motivo) {
    std::int32_t loja = 0;
    if (req.matches.size() > 1)
        if (auto codigo = Inteiro<std::int32_t>(req.matches[1].str()); codigo && *codigo > 0) loja = *codigo;
    try {
        Armazem_.RegistrarRecusa(loja, motivo);
    } catch (const std::exception& e) {
        std::cerr << "ondaris-central: a recusa de " << req.method << " " << req.path
                  << " não foi registrada para o painel: " << e.what() << std::endl;
    }
}

}  // namespace ondaris::central
