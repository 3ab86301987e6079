#pragma once
// The texts a technician reads that come from the exchange with the
// central server: failed requests, malformed answers and blocks that cannot
// be applied, in Portuguese. A few are given word for word by the message
// format other agents share and stay exactly as they are written there; they
// are marked below. Counting ("1 linha", "2 linhas") is protocolo::Quantidade.
#include <cstdint>
#include <string>
#include <string_view>

#include "db/mensagens.h"

namespace ondaris::sync {

// Word for word from the message format: the prefix of a request that got
// no answer, followed by the HTTP layer's own description; a number that
// cannot be read; a JSON answer that is not an object.
std::string TextoFalhaRest(std::string_view causa);
std::string TextoNaoEhInteiroValido(std::string_view texto);
inline constexpr const char* kTextoTipoInvalido = "Invalid class typecast";

// Where a failed request went: " (GET http://…/receber/7/10)", with the
// address it was redirected to when that is another one.
std::string TextoOndePedido(std::string_view pedido, std::string_view redirecionadoPara);
// The redirect rule, in the words of the failure that refuses one.
inline constexpr const char* kRegraDeRedirecionamento =
    "só se seguem redirecionamentos para o mesmo host e porta, ou de http para https no mesmo host";
std::string TextoRedirecionamentoRecusado(std::string_view destino);
std::string TextoRedirecionamentosDemais(int maximo, std::string_view destino);
// Our own descriptions of transport faults the HTTP library does not word.
inline constexpr const char* kTextoHttpSemInicio = "a biblioteca HTTP não pôde ser iniciada";
inline constexpr const char* kTextoHttpSemPedido = "a biblioteca HTTP não pôde criar uma requisição";
std::string TextoTempoEsgotado(std::int64_t milissegundos);
// The central server's certificate was not accepted; `causa` says why (in
// our words when we know it, else the TLS library's). Nothing was sent.
std::string TextoCertificadoRecusado(std::string_view causa);
// The secure connection failed for another reason (protocol, handshake).
std::string TextoFalhaTls(std::string_view causa);
// The file of certificate authorities named by kVariavelAutoridades
// (Linux) cannot be used.
inline constexpr const char* kVariavelAutoridades = "ONDARIS_CA";
std::string TextoArquivoAutoridadesInvalido(std::string_view arquivo, std::string_view causa);
// The start of the log entry for a 401 answer: the server refused the
// store's credentials (the user and secret of its LINKCENTRAL).
inline constexpr const char* kTextoCredenciaisRecusadas =
    "O servidor central recusou as credenciais desta loja (o usuário e o segredo no LINKCENTRAL; peça ao "
    "operador da central uma credencial válida para esta loja)";

// An answer that cannot be read.
std::string TextoRespostaMalformada(std::string_view pedido, std::string_view detalhe);
std::string TextoCorpoNaoEhJson(std::string_view membro);    // membro: "\"ultimaordem\"", or empty
std::string TextoCorpoNaoEhObjeto(std::string_view membro);  // ends with kTextoTipoInvalido
inline constexpr const char* kTextoCorpoVazioSemLista = "o corpo está vazio; esperava-se uma lista JSON";
std::string TextoEstadoDeRegistro(std::string_view estado);

// A received block that cannot be applied.
std::string TextoComandoDaLista(std::size_t indice);  // "o comando 2 de \"comandos\"" (from 0)
std::string TextoNaoEhObjeto(std::string_view oQue);
std::string TextoSemMembro(std::string_view oQue, std::string_view membro);
std::string TextoCamposNaoEhObjeto(std::int64_t ordem);
inline constexpr const char* kTextoBlocoNaoEhObjeto = "o bloco não é um objeto JSON";
inline constexpr const char* kTextoBlocoSemComandos = "o bloco não tem o membro \"comandos\"";
inline constexpr const char* kTextoComandosNaoEhLista = "\"comandos\" do bloco não é uma lista";
// A command out of order: at or before `anterior` (the position asked from
// when it is the first one read, else the command before it), or beyond
// the answer's ultimaordem.
std::string TextoOrdemAtrasada(std::int64_t ordem, std::int64_t anterior, bool daPosicaoPedida);
std::string TextoOrdemAlemDaUltima(std::int64_t ordem, std::int64_t ultimaOrdem);
std::string TextoAcaoDesconhecida(std::int64_t ordem, std::string_view acao);
// The start of a failure of one command, and of one of its columns.
std::string TextoDoComando(std::int64_t ordem);
std::string TextoDaColuna(std::int64_t ordem, std::string_view coluna, std::string_view causa);
std::string TextoExclusaoSemChave(std::int64_t ordem, std::string_view coluna);
std::string TextoRollbackTambemFalhou(std::string_view causa);

}  // namespace ondaris::sync
