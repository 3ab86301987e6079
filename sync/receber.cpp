#include "sync/receber.h"

#include <exception>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <utility>
#include <vector>

#include "db/construtores.h"
#include "db/modulo_operacao.h"
#include "db/ponto_falha.h"
#include "db/texto.h"
#include "db/vinculo.h"
#include "sync/base64.h"
#include "sync/json.h"

namespace ondaris::sync {

namespace {

// One command of "comandos", its members checked before anything of it runs.
struct TComando {
    int64_t Ordem = 0;
    std::string Tabela;
    std::string Acao;
    std::string IdTransacao;
    const TValorJSON* Campos = nullptr;
};

TComando LerComando(const TValorJSON& elemento, std::size_t indice, const db::TConfiguracoesRegionais& regional) {
    const auto onde = [&] { return "command " + std::to_string(indice + 1) + " of \"comandos\""; };
    if (!elemento.EhObjeto()) throw TErroRespostaInvalida(onde() + " is not an object");
    const auto membro = [&](const char* nome) -> const TValorJSON& {
        const TValorJSON* m = elemento.Membro(nome);
        if (!m) throw TErroRespostaInvalida(onde() + " has no member \"" + nome + "\"");
        return *m;
    };
    TComando c;
    c.Ordem = ConverterInteiro64(TextoDoValor(membro("ordem"), regional));
    c.Tabela = TextoDoValor(membro("tabela"), regional);
    c.Acao = TextoDoValor(membro("acao"), regional);
    c.IdTransacao = TextoDoValor(membro("idtransacao"), regional);
    c.Campos = &membro("campos");
    if (!c.Campos->EhObjeto())
        throw TErroRespostaInvalida("\"campos\" of the command with ordem " + std::to_string(c.Ordem) +
                                    " is not an object");
    return c;
}

// Every command of the block, read and checked before the first one runs:
// a malformed command, or positions that cannot follow the one asked from,
// refuse the whole answer and nothing of it is applied. Positions must rise
// strictly from above `Ordem` and stay within the answer's own
// "ultimaordem": a position below would make the store receive everything
// again, one beyond would make it skip every later command for good.
std::vector<TComando> LerComandos(const std::optional<TValorJSON>& bloco, std::int64_t Ordem,
                                  std::int64_t UltimaOrdem, const db::TConfiguracoesRegionais& regional) {
    if (!bloco || !bloco->EhObjeto()) throw TErroRespostaInvalida("the block is not a JSON object");
    const TValorJSON* comandos = bloco->Membro("comandos");
    if (!comandos) throw TErroRespostaInvalida("the block has no member \"comandos\"");
    if (!comandos->EhMatriz()) throw TErroRespostaInvalida("\"comandos\" of the block is not an array");
    std::vector<TComando> lidos;
    const auto& elementos = comandos->Elementos();
    lidos.reserve(elementos.size());
    std::int64_t anterior = Ordem;
    for (std::size_t i = 0; i < elementos.size(); ++i) {
        TComando c = LerComando(elementos[i], i, regional);
        if (c.Ordem <= anterior || c.Ordem > UltimaOrdem)
            throw TErroRespostaInvalida(
                "the answer was refused: the command with ordem " + std::to_string(c.Ordem) +
                (c.Ordem <= anterior ? " does not come after " + std::string(i == 0 ? "the position asked from, "
                                                                                    : "the command before it, ") +
                                           std::to_string(anterior)
                                     : " lies beyond the answer's ultimaordem, " + std::to_string(UltimaOrdem)));
        anterior = c.Ordem;
        lidos.push_back(std::move(c));
    }
    return lidos;
}

// Phase 2: the block applied. Returns normally when every command was
// applied and committed together with the position; throws the failure
// otherwise, with the transaction in progress still open for the caller to
// roll back.
class TAplicacaoBloco {
public:
    TAplicacaoBloco(TAmbienteRecebimento& ambiente, db::TModuloOperacao& modulo)
        : amb_(ambiente), modulo_(modulo), ano_(db::AnoAtual()) {}

    void Aplicar(const std::vector<TComando>& comandos) {
        std::string TransacaoAtual;
        int32_t Contador = 0;
        for (const TComando& c : comandos) {
            const auto tipo = db::StrtoTipoSQL(c.Acao);
            if (!tipo)
                throw TErroRespostaInvalida("the command with ordem " + std::to_string(c.Ordem) +
                                            " has an unknown acao \"" + c.Acao + "\"");

            // Commit points come before the command runs, so each commit
            // covers exactly the commands up to the previous one.
            if (c.IdTransacao != "-1") {
                if (c.IdTransacao != TransacaoAtual) {
                    if (!TransacaoAtual.empty()) Confirmar();
                    TransacaoAtual = c.IdTransacao;
                    Contador = 0;
                }
            } else {
                if (Contador >= kLimiteComandosTransacao) Confirmar();
                Contador = 0;
            }

            if (*tipo != db::TTipoSQL::tsSelect) {
                Executar(c, *tipo);
                ++Contador;
            }
            // A skipped "S" counts as received: it changes nothing.
            anterior_ = c.Ordem;
            pendente_ = true;
        }
        Confirmar();
    }

private:
    // Commits what ran since the last commit together with the position of
    // the last command it covered: both or neither reach the database.
    void Confirmar() {
        Descarregar();
        auto& rw = modulo_.TransReplicacaoReadWrite;
        if (pendente_) {
            db::PontoFalha("receber.antes_da_posicao");
            amb_.DM.GravarUltimoRecebimento(anterior_, modulo_);
        }
        db::PontoFalha("receber.antes_do_commit");
        if (rw.Ativa()) rw.Commit();
        db::PontoFalha("receber.apos_o_commit");
        if (pendente_) {
            amb_.DM.UltimoRecebimentoConfirmado(anterior_);
            pendente_ = false;
        }
    }

    // Consecutive commands for one table and kind wait here and run
    // together, in EXECUTE BLOCK statements of a few fixed sizes, each
    // prepared once per module (a run's): one round trip for many rows
    // instead of one per row. They run before every commit point, so
    // commits and positions stay exactly where they are.
    void Executar(const TComando& c, db::TTipoSQL tipo) {
        db::Consulta& Qry = db::PrepararDataset(amb_.DM, modulo_, c.Tabela, tipo, 0, 0);
        if (!lote_.empty() && lote_.front().Unitaria != &Qry) Descarregar();
        lote_.push_back({&c, &Qry, tipo});
        if (lote_.size() == kTamanhosLote[0]) Descarregar();
    }

    // Runs every command waiting, in order.
    void Descarregar() {
        std::size_t feitos = 0;
        for (const std::size_t tamanho : kTamanhosLote) {
            if (lote_.size() - feitos < tamanho || !CabeNoLote(*lote_[feitos].Unitaria, tamanho)) continue;
            while (lote_.size() - feitos >= tamanho) {
                ExecutarLote(feitos, tamanho);
                feitos += tamanho;
            }
        }
        for (; feitos < lote_.size(); ++feitos) ExecutarUm(lote_[feitos]);
        lote_.clear();
    }

    struct TPendente {
        const TComando* Comando;
        db::Consulta* Unitaria;  // the table's own statement for one command
        db::TTipoSQL Tipo;
    };

    // Whether `quantos` rows of the statement's values stay well within the
    // 64 KiB a message can carry (wide text columns make batches smaller).
    static bool CabeNoLote(db::Consulta& unitaria, std::size_t quantos) {
        std::size_t bytes = 0;
        for (const auto& p : unitaria.Parametros()) bytes += p.Tamanho + 8;
        return bytes * quantos <= 48 * 1024;
    }

    // `quantos` waiting commands from `inicio`, in one statement. When it
    // fails for any reason but a lost connection, they run again one by
    // one, so that the failure names its command exactly as alone.
    void ExecutarLote(std::size_t inicio, std::size_t quantos) {
        const TPendente& primeiro = lote_[inicio];
        db::Consulta& lote = LoteDe(*primeiro.Comando, *primeiro.Unitaria, primeiro.Tipo, quantos);
        const std::size_t largura = primeiro.Unitaria->Parametros().size();
        for (std::size_t k = 0; k < quantos; ++k) Vincular(lote_[inicio + k], lote, k * largura);
        auto& transacao = lote.TransacaoDona();
        if (!transacao.Ativa()) transacao.Iniciar();
        try {
            lote.Executar();
            return;
        } catch (const db::ErroConexaoPerdida&) {
            throw;
        } catch (const db::ErroBanco&) {
            // The whole statement was undone; find the command that fails.
        }
        for (std::size_t k = 0; k < quantos; ++k) ExecutarUm(lote_[inicio + k]);
    }

    void ExecutarUm(const TPendente& p) {
        db::Consulta& Qry = *p.Unitaria;
        Vincular(p, Qry, 0);
        auto& transacao = Qry.TransacaoDona();
        if (!transacao.Ativa()) transacao.Iniciar();
        try {
            Qry.Executar();
        } catch (...) {
            db::FalhaDaRotina("ReceberDados", "the command with ordem " + std::to_string(p.Comando->Ordem) + ": ");
        }
    }

    // The EXECUTE BLOCK that runs `quantos` commands of the unit statement's
    // kind for one table: the parameters take the columns' own types, the
    // k-th command's i-th value is P<k>_<i> (":P<k>_<i>" inside the body,
    // where the name rewrite leaves it to the block).
    db::Consulta& LoteDe(const TComando& c, db::Consulta& unitaria, db::TTipoSQL tipo, std::size_t quantos) {
        const std::string nome = unitaria.Nome() + "_L" + std::to_string(quantos);
        if (db::Consulta* existente = modulo_.Procurar(nome)) return *existente;
        const auto& parametros = unitaria.Parametros();
        std::string entrada, corpo;
        for (std::size_t k = 0; k < quantos; ++k) {
            std::string colunas, valores, condicao;
            for (std::size_t i = 0; i < parametros.size(); ++i) {
                const std::string p = "P" + std::to_string(k) + "_" + std::to_string(i);
                const std::string& coluna = parametros[i].Nome;
                entrada += (entrada.empty() ? "" : ", ") + p + " TYPE OF COLUMN " + c.Tabela + "." + coluna + " = :" + p;
                colunas += (i ? ", " : "") + coluna;
                valores += (i ? ", :" : ":") + p;
                condicao += (i ? " AND " : "") + coluna + " = :" + p;
            }
            corpo += tipo == db::TTipoSQL::tsDelete
                         ? "DELETE FROM " + c.Tabela + " WHERE " + condicao + "; "
                         : "UPDATE OR INSERT INTO " + c.Tabela + "(" + colunas + ") VALUES (" + valores + "); ";
        }
        db::Consulta& lote = modulo_.Criar(nome, modulo_.TransReplicacaoReadWrite,
                                           "EXECUTE BLOCK (" + entrada + ") AS BEGIN " + corpo + "END");
        auto& transacao = lote.TransacaoDona();
        if (!transacao.Ativa()) transacao.Iniciar();
        lote.Preparar();
        return lote;
    }

    // Binds one command's values into `alvo` from parameter `deslocamento`
    // on, where the unit statement's parameters stand in the same order.
    // Positions and descriptions are the statements' own, taken when they
    // were prepared: nothing is asked of the server per field.
    void Vincular(const TPendente& p, db::Consulta& alvo, std::size_t deslocamento) {
        const TComando& c = *p.Comando;
        db::Consulta& unitaria = *p.Unitaria;
        const auto& nomes = unitaria.Parametros();
        const std::size_t largura = nomes.size();
        const auto& parametros = alvo.Parametros();
        const auto& regional = amb_.Contexto.Regional;
        for (std::size_t i = 0; i < largura; ++i) alvo.DefinirPosicao(deslocamento + i, db::Valor());
        for (const auto& [nome, valor] : c.Campos->Membros()) {
            const auto indice = unitaria.PosicaoParametro(nome);
            if (!indice) {  // a column this store does not write
                if (amb_.AoDescartarColuna && !TabelaTemColuna(c.Tabela, nome))
                    amb_.AoDescartarColuna(c.Tabela, nome, c.Ordem);
                continue;
            }
            const std::size_t posicao = deslocamento + *indice;
            if (valor.EhNulo()) {
                // A null value is NULL, as sent; a later member of the same
                // name still overwrites an earlier one.
                alvo.DefinirPosicao(posicao, db::Valor());
                continue;
            }
            const std::string texto = TextoDoValor(valor, regional);
            try {
                if (db::ParametroBinario(parametros[posicao]))
                    alvo.DefinirPosicao(posicao, db::Valor(Base64toStream(texto)));
                else
                    db::TratarParametroPosicao(alvo, posicao, texto, regional, ano_);
            } catch (const std::exception& e) {
                throw TErroRespostaInvalida("the command with ordem " + std::to_string(c.Ordem) + ", column " +
                                            nomes[*indice].Nome + ": " + e.what());
            }
        }
        if (p.Tipo == db::TTipoSQL::tsDelete) {
            // WHERE KEY = NULL matches nothing: the delete would be lost
            // while the position moves past it.
            for (std::size_t i = 0; i < largura; ++i)
                if (alvo.ParametroNulo(deslocamento + i))
                    throw TErroRespostaInvalida("the delete with ordem " + std::to_string(c.Ordem) +
                                                " carries no value for the key column " + nomes[i].Nome);
        }
    }

    // Whether the store's table has that column (non-computed), by the
    // catalogue, asked once per table and block.
    bool TabelaTemColuna(const std::string& tabela, const std::string& coluna) {
        auto it = colunasLocais_.find(tabela);
        if (it == colunasLocais_.end()) {
            std::set<std::string> nomes;
            for (const auto& c : amb_.DM.CamposTabela(db::MaiusculasAscii(tabela), false))
                nomes.insert(db::MaiusculasAscii(c.Campo));
            it = colunasLocais_.emplace(tabela, std::move(nomes)).first;
        }
        return it->second.count(db::MaiusculasAscii(coluna)) != 0;
    }
    std::map<std::string, std::set<std::string>> colunasLocais_;

    // 64 is the largest that fits: each UPDATE OR INSERT takes two of the
    // 256 contexts a statement may have, so 128 cannot even be prepared.
    // Measured against 16 and 32 with the statements kept for a run, the
    // sizes apply alike (within 5%); the larger makes fewer round trips.
    static constexpr std::size_t kTamanhosLote[] = {64, 16, 4};
    std::vector<TPendente> lote_;

    TAmbienteRecebimento& amb_;
    db::TModuloOperacao& modulo_;
    int ano_;
    int64_t anterior_ = 0;   // ordem of the last command processed
    bool pendente_ = false;  // commands processed since the position was last written
};

}  // namespace

std::string TextoGravandoBloco(std::int64_t OrdemInicial, std::int64_t OrdemFinal, std::int64_t UltimaOrdem) {
    return "Gravando bloco de registro de " + std::to_string(OrdemInicial) + " at\xC3\xA9 " +
           std::to_string(OrdemFinal) + " em um total de " + std::to_string(UltimaOrdem) + " registro(s)";
}

TTipoUltimoMovimentoRecebido ReceberDados(std::string_view URL, std::int32_t CodigoLoja, std::int64_t Ordem,
                                          TAmbienteRecebimento& ambiente) {
    IJanelaStatus& janela = ambiente.Janela;
    const std::string endereco = InsereBarraFinalURL(URL) + CaminhoReceber(CodigoLoja, Ordem);
    const std::string pedido = DescreverPedido("GET", endereco);
    janela.StatusRecebimento("");

    // Phase 1: the request.
    const TRespostaServidor resposta = ExecutarRequisicao("GET", endereco, "", ambiente.Contexto.TempoLimite);
    if (resposta.StatusCode != 200)
        return RegistroRecusado<TTipoUltimoMovimentoRecebido>(resposta, pedido, ambiente.Contexto);
    // The body is parsed once, as it came: characters beyond ASCII stay.
    const std::optional<TValorJSON> bloco = LerJSON(resposta.Conteudo);
    const auto& regional = ambiente.Contexto.Regional;
    const TTipoUltimoMovimentoRecebido lido = LerPosicoesRecebimento(resposta, bloco, regional, pedido);
    if (lido.UltimaOrdem == 0) return lido;

    // Phase 2: the block applied.
    janela.StatusRecebimento(TextoGravandoBloco(lido.OrdemInicial, lido.OrdemFinal, lido.UltimaOrdem));
    janela.ProcessarMensagens();
    db::TModuloDoBloco DataModule(ambiente.Modulo, ambiente.PastaIni, &ambiente.DM.TBEstrutura());
    try {
        DataModule.Abrir();
        DataModule->TransReplicacaoReadWrite.Iniciar();
        const auto comandos = LerComandos(bloco, Ordem, lido.UltimaOrdem, regional);
        TAplicacaoBloco aplicacao(ambiente, *DataModule);
        aplicacao.Aplicar(comandos);
        DataModule.Concluir();
    } catch (...) {
        std::string acrescimo;
        if (DataModule) {
            // Closing the module would commit a transaction still active:
            // the group in progress must go first.
            try {
                DataModule->TransReplicacaoReadWrite.Rollback();
            } catch (const std::exception& r) {
                acrescimo = " (the rollback failed as well: " + std::string(r.what()) + ")";
            }
        }
        db::FalhaDaRotina("ReceberDados", {}, acrescimo);
    }
    return lido;
}

}  // namespace ondaris::sync
