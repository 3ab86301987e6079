#pragma once
// Server operations that read positions and the structure list from the
// central server: UltimoMovimentoEnviado (how far the server holds this
// store's log) and ObterEstruturaBanco (the replicated tables and columns).
// Each makes exactly one exchange and never retries.
//
// An answer other than 200 below 500 is not an error: the operation returns
// the refusal as its result (TResultado, see requisicao.h: the request, the
// server's status and text). Any other failure is raised as it came
// (TErroServidorCentral), its text complete and naming its request; the
// cycle, which owns the run, shows and logs it once.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "db/estrutura.h"
#include "protocolo/datahora.h"
#include "protocolo/json.h"
#include "protocolo/regional.h"
#include "sync/requisicao.h"

namespace ondaris::sync {

// What every server operation needs besides its arguments.
struct TContextoServidor {
    int32_t TempoLimite = Timeout;  // milliseconds; tests shorten it
    protocolo::TConfiguracoesRegionais Regional;
};

struct TTipoUltimoMovimentoEnviado {
    int64_t UltimaOrdemEnviada = 0;
    int64_t UltimoMovimentoLoja = 0;
};

struct TTipoUltimoMovimentoRecebido {
    int64_t OrdemInicial = 0;
    int64_t OrdemFinal = 0;
    int64_t UltimaOrdem = 0;
    // After a block applied with a command set aside on request
    // (TAmbienteRecebimento::PorDeLado): the failure's text recorded for
    // it; empty otherwise.
    std::string MotivoPostoDeLado;
};


// Reads the integer member `nome` of a 200 answer to `pedido`. `corpo` is
// the body parsed as JSON (nothing when it is not JSON), so that several
// members cost one parse. An application/json answer is read from `corpo`
// (the first member of that exact name), a text/plain or text/html one by
// LerValorSimples. Every member is read on its own: one that is missing is
// a failure, never the value of a member read before it. Throws
// TErroRespostaInvalida naming the request and the member:
//   "A resposta do servidor central a GET <address> não traz o membro
//   \"ultimaordem\" (resposta do tipo application/json)" when it is missing;
//   "A resposta do servidor central a GET <address> traz o membro
//   \"ultimaordem\" com 'muitos', que não é um número inteiro" when its text
//   is not an integer (ConverterInteiro64);
// and RespostaMalformada when the body is not JSON where JSON is announced,
// or is JSON but not an object ("Invalid class typecast").
int64_t LerPosicao(const TRespostaServidor& resposta, const std::optional<protocolo::TValorJSON>& corpo, std::string_view nome,
                   const protocolo::TConfiguracoesRegionais& regional, const std::string& pedido);

// The three positions of a 200 answer to receber, each read on its own by
// LerPosicao: the one reading of them, for applying and for asking alike.
TTipoUltimoMovimentoRecebido LerPosicoesRecebimento(const TRespostaServidor& resposta,
                                                    const std::optional<protocolo::TValorJSON>& corpo,
                                                    const protocolo::TConfiguracoesRegionais& regional,
                                                    const std::string& pedido);

// GET <URL>/obterindiceenvio/<CodigoLoja>/<UltimoMovimentoLoja>.
TResultado<TTipoUltimoMovimentoEnviado> UltimoMovimentoEnviado(std::string_view URL, int32_t CodigoLoja,
                                                               int64_t UltimoMovimentoLoja,
                                                               const TContextoServidor& contexto);

// GET <URL>/receber/<CodigoLoja>/<Ordem>, with the answer's positions read
// as ReceberDados reads them and its commands left alone: nothing is
// applied. "ultimaordem" is the server's last position of a command
// addressed to that store after `Ordem` (0 when none waits). The server
// takes the request as the store's own (a store it did not know it now
// knows, having received up to `Ordem`).
TResultado<TTipoUltimoMovimentoRecebido> ConsultarRecebimento(std::string_view URL, int32_t CodigoLoja, int64_t Ordem,
                                                              const TContextoServidor& contexto);

// GET <URL>/estruturabd. With status 200 TBEstrutura is emptied and loaded
// from the answer and nothing is returned; otherwise it keeps its rows and
// the refusal is returned. Failures raise ErroRotina
// (db/erros.h) naming "ObterEstruturaBanco", the server failure kept as its
// cause; rows loaded before a failure while loading stay. A 200 answer
// whose body is empty or not JSON is malformed and leaves the rows as they
// were: a garbled answer must not empty the list that every received
// change needs.
std::optional<TRecusa> ObterEstruturaBanco(std::string_view URL, db::TEstrutura& TBEstrutura,
                                           const TContextoServidor& contexto);

// Appends the rows that a structure answer describes: an object is one row
// (nothing for {}), an array is taken element by element with nested arrays
// flattened, a bare value at the top adds nothing. A bare value inside an
// array throws TErroRespostaInvalida "[TBEstrutura] Invalid field count"
// after the rows before it were added. Each field is looked up by its name
// in lower case, then in upper case (exact, first member wins); a missing
// member leaves it NULL, JSON null sets NULL, anything else gives its text
// form. An element with "object_state" (or "objectState") "UNMODIFIED" is
// skipped, "INSERTED" loads as usual, and any other state is refused with
// TErroRespostaInvalida, since the list has no key to find a row by.
void CarregarEstrutura(const protocolo::TValorJSON& valor, db::TEstrutura& TBEstrutura,
                       const protocolo::TConfiguracoesRegionais& regional);

}  // namespace ondaris::sync
