#pragma once
// Server operations that read positions and the structure list from the
// central server: UltimoMovimentoEnviado (how far the server holds this
// store's log) and ObterEstruturaBanco (the replicated tables and columns).
// Each makes exactly one exchange and never retries.
//
// Every operation first empties `Erro`. An answer other than 200 below 500
// is not an error: `Erro` receives the answer's body, the context's
// AoRecusar hears of the refusal, and the operation returns normally. Any
// other failure (TErroServidorCentral, see requisicao.h) sets `Erro` and is
// raised again, of the same kind, with the text of `Erro`; the caller, the
// cycle, does not catch it. Every failure text names its request.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "db/datahora.h"
#include "db/estrutura.h"
#include "db/regional.h"
#include "sync/json.h"
#include "sync/requisicao.h"

namespace ondaris::sync {

// What every server operation needs besides its arguments.
struct TContextoServidor {
    int32_t TempoLimite = Timeout;  // milliseconds; tests shorten it
    db::TConfiguracoesRegionais Regional;
    // Told of every refusal (an answer other than 200 below 500) with the
    // request it answered, whatever the answer's body: the cycle logs it and
    // shows it, so that a refused step never passes for a finished one.
    std::function<void(const TRecusa&)> AoRecusar{};
};

// Tells the context's AoRecusar, if any, that `pedido` got `resposta`.
void AvisarRecusa(const TContextoServidor& contexto, const std::string& pedido, const TRespostaServidor& resposta);

struct TTipoUltimoMovimentoEnviado {
    int32_t StatusCode = 0;  // 400 after a failure
    std::string Mensagem;    // empty on success, else the text of `Erro`
    int64_t UltimaOrdemEnviada = 0;
    int64_t UltimoMovimentoLoja = 0;
    db::DataHora DataHoraAtualizacao{};  // local time of a successful answer; zero otherwise
};

struct TTipoUltimoMovimentoRecebido {
    int32_t StatusCode = 0;
    std::string Mensagem;
    int64_t OrdemInicial = 0;
    int64_t OrdemFinal = 0;
    int64_t UltimaOrdem = 0;
};

// The current local date and time, to the second.
db::DataHora AgoraLocal();

// The outcome rules shared by the operations that fill a result record.
// An answer other than 200 below 500: `Erro` and `Mensagem` get the body,
// `StatusCode` the status, every number is zero; the refusal is told
// (AvisarRecusa).
template <class TRegistro>
void RegistrarRecusa(TRegistro& registro, std::string& Erro, const TRespostaServidor& resposta,
                     const std::string& pedido, const TContextoServidor& contexto) {
    registro = TRegistro{};
    Erro = resposta.Conteudo;
    registro.StatusCode = resposta.StatusCode;
    registro.Mensagem = Erro;
    AvisarRecusa(contexto, pedido, resposta);
}

// A failure: `Erro` and `Mensagem` get its text, `StatusCode` is 400, every
// number is zero; then the failure is raised again with that text.
template <class TRegistro>
[[noreturn]] void RegistrarFalha(TRegistro& registro, std::string& Erro, const TErroServidorCentral& falha) {
    registro = TRegistro{};
    Erro = falha.what();
    registro.StatusCode = 400;
    registro.Mensagem = Erro;
    falha.Relancar(Erro);
}

// Reads a named position of a 200 answer to `pedido` into `Retorno`, then
// converts it with ConverterInteiro64. `corpo` is the body parsed as JSON
// (nothing when it is not JSON), so that several positions cost one parse.
// An application/json answer is read from `corpo` (the first member of that
// exact name), a text/plain or text/html one by LerValorSimples. A missing
// name leaves `Retorno` as the previous read set it. Throws
// RespostaMalformada naming `pedido` and the member when the body is not
// JSON where JSON is announced, is JSON but not an object ("Invalid class
// typecast"), holds no value for the member and none was read before, or
// holds one that is not an integer ("'<texto>' is not a valid integer value").
int64_t LerPosicao(const TRespostaServidor& resposta, const std::optional<TValorJSON>& corpo, std::string_view nome,
                   std::string& Retorno, const db::TConfiguracoesRegionais& regional, const std::string& pedido);

// GET <URL>/obterindiceenvio/<CodigoLoja>/<UltimoMovimentoLoja>.
// `Resultado` is filled on every path, also before a failure is raised.
void UltimoMovimentoEnviado(std::string& Erro, TTipoUltimoMovimentoEnviado& Resultado, std::string_view URL,
                            int32_t CodigoLoja, int64_t UltimoMovimentoLoja, const TContextoServidor& contexto);
TTipoUltimoMovimentoEnviado UltimoMovimentoEnviado(std::string& Erro, std::string_view URL, int32_t CodigoLoja,
                                                   int64_t UltimoMovimentoLoja, const TContextoServidor& contexto);

// GET <URL>/estruturabd. With status 200 TBEstrutura is emptied and loaded
// from the answer; otherwise it keeps its rows. Failures carry the prefix
// MensagemErro with "ObterEstruturaBanco"; rows loaded before a failure
// while loading stay. A 200 answer whose body is empty or not JSON is
// malformed (TErroRespostaInvalida) and leaves the rows as they were: a
// garbled answer must not empty the list that every received change needs.
void ObterEstruturaBanco(std::string& Erro, std::string_view URL, db::TEstrutura& TBEstrutura,
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
void CarregarEstrutura(const TValorJSON& valor, db::TEstrutura& TBEstrutura,
                       const db::TConfiguracoesRegionais& regional);

}  // namespace ondaris::sync
