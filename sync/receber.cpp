#include "sync/receber.h"

#include <algorithm>
#include <exception>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <stdexcept>
#include <unordered_set>
#include <utility>
#include <vector>

#include "db/construtores.h"
#include "db/modulo_operacao.h"
#include "db/ponto_falha.h"
#include "db/vinculo.h"
#include "protocolo/base64.h"
#include "protocolo/json.h"
#include "protocolo/texto.h"
#include "sync/de_lado.h"
#include "sync/mensagens.h"

namespace ondaris::sync {
using protocolo::Base64toStream;
using protocolo::ErroBase64;
using protocolo::EscreverJSONCompacto;
using protocolo::IdentidadeDe;
using protocolo::LerJSON;
using protocolo::TIdentidadeLinha;
using protocolo::TValorJSON;
using protocolo::TextoDoValor;

namespace {

// One command of "comandos", its members checked before anything of it runs.
struct TComando {
    int64_t Ordem = 0;
    std::string Tabela;
    std::string Acao;
    std::string IdTransacao;
    const TValorJSON* Campos = nullptr;
    const TValorJSON* Inteiro = nullptr;  // the whole command, as it came
    // The row the command names, as TAlteracoesPendentes keys it; empty
    // when the command does not say (no "atualvalorchave1").
    std::string Linha;
    std::string DescricaoLinha;  // for the log: "PRECOS (1, 20)"
};

TComando LerComando(const TValorJSON& elemento, std::size_t indice, const protocolo::TConfiguracoesRegionais& regional) {
    const auto onde = [&] { return TextoComandoDaLista(indice); };
    if (!elemento.EhObjeto()) throw TErroRespostaInvalida(TextoNaoEhObjeto(onde()));
    const auto membro = [&](const char* nome) -> const TValorJSON& {
        const TValorJSON* m = elemento.Membro(nome);
        if (!m) throw TErroRespostaInvalida(TextoSemMembro(onde(), nome));
        return *m;
    };
    TComando c;
    c.Inteiro = &elemento;
    c.Ordem = ConverterInteiro64(TextoDoValor(membro("ordem"), regional));
    c.Tabela = TextoDoValor(membro("tabela"), regional);
    c.Acao = TextoDoValor(membro("acao"), regional);
    c.IdTransacao = TextoDoValor(membro("idtransacao"), regional);
    c.Campos = &membro("campos");
    // The row by the key texts of the sender's log rather than by the key
    // members of "campos": they are the texts this store's own log holds for
    // the same row (a delete's "campos" is even made from them), they need
    // no local catalogue, and the central server, which knows no primary
    // key, names the row by them too, so both sides judge one row alike.
    if (const TValorJSON* chave1 = elemento.Membro("atualvalorchave1")) {
        const TValorJSON* chave2 = elemento.Membro("atualvalorchave2");
        const TIdentidadeLinha linha = IdentidadeDe(c.Tabela, TextoDoValor(*chave1, regional),
                                                    chave2 ? TextoDoValor(*chave2, regional) : std::string());
        c.Linha = linha.Chave();
        c.DescricaoLinha = linha.Descricao();
    }
    if (!c.Campos->EhObjeto())
        throw TErroRespostaInvalida(TextoCamposNaoEhObjeto(c.Ordem));
    return c;
}

// Every command of the block, read and checked before the first one runs:
// a malformed command, or positions that cannot follow the one asked from,
// refuse the whole answer and nothing of it is applied. Positions must rise
// strictly from `Ordem` and stay within the answer's own "ultimaordem": a
// position below would make the store receive everything again, one beyond
// would make it skip every later command for good. A first command at
// exactly `Ordem` is the one this store applied last, sent again by a
// server that answers from the position asked for: it is left out, and
// `repetida` tells so.
std::vector<TComando> LerComandos(const std::optional<TValorJSON>& bloco, std::int64_t Ordem,
                                  std::int64_t UltimaOrdem, const protocolo::TConfiguracoesRegionais& regional,
                                  bool& repetida) {
    repetida = false;
    if (!bloco || !bloco->EhObjeto()) throw TErroRespostaInvalida(kTextoBlocoNaoEhObjeto);
    const TValorJSON* comandos = bloco->Membro("comandos");
    if (!comandos) throw TErroRespostaInvalida(kTextoBlocoSemComandos);
    if (!comandos->EhMatriz()) throw TErroRespostaInvalida(kTextoComandosNaoEhLista);
    std::vector<TComando> lidos;
    const auto& elementos = comandos->Elementos();
    lidos.reserve(elementos.size());
    std::int64_t anterior = Ordem;
    for (std::size_t i = 0; i < elementos.size(); ++i) {
        TComando c = LerComando(elementos[i], i, regional);
        if (i == 0 && c.Ordem == Ordem) {
            repetida = true;
            continue;
        }
        if (c.Ordem <= anterior || c.Ordem > UltimaOrdem)
            throw TErroRespostaInvalida(c.Ordem <= anterior
                                            ? TextoOrdemAtrasada(c.Ordem, anterior, lidos.empty() && !repetida)
                                            : TextoOrdemAlemDaUltima(c.Ordem, UltimaOrdem));
        anterior = c.Ordem;
        lidos.push_back(std::move(c));
    }
    return lidos;
}

// A store transaction changed a row while this block was being applied,
// after the pending changes were read and before this block wrote the
// row: the group in progress is rolled back and applied again from its
// first command, knowing of that change. Caught by TAplicacaoBloco::Aplicar,
// which gives up after a few tries with a failure of its own.
class TAlteracaoConcorrente : public std::runtime_error {
public:
    TAlteracaoConcorrente() : std::runtime_error("a loja alterou uma linha que este bloco gravava") {}
};

// Phase 2: the block applied. Returns normally when every command was
// applied and committed together with the position; throws the failure
// otherwise, with the transaction in progress still open for the caller to
// roll back.
class TAplicacaoBloco {
public:
    // `falhou` hears of the command whose own values or statement failed
    // (not a lost connection or a row locked by the store, which pass).
    TAplicacaoBloco(TAmbienteRecebimento& ambiente, db::TModuloOperacao& modulo, std::optional<int64_t>& falhou)
        : amb_(ambiente), modulo_(modulo), ano_(db::AnoAtual()), falhou_(falhou) {}

    // The failure's text recorded for the command set aside on request.
    const std::string& MotivoPostoDeLado() const { return motivoPostoDeLado_; }

    void Aplicar(const std::vector<TComando>& comandos) {
        for (int tentativa = 1;; ++tentativa) {
            try {
                AplicarDesde(comandos, confirmados_);
                return;
            } catch (const TAlteracaoConcorrente&) {
                // Nothing of the group reached the database: it starts again
                // as the block would start there.
                lote_.clear();
                escritas_.clear();
                postosDeLado_.clear();
                pendente_ = false;
                auto& rw = modulo_.TransReplicacaoReadWrite;
                if (rw.Ativa()) rw.Rollback();
                if (tentativa == kTentativasConcorrencia)
                    throw std::runtime_error(
                        "a loja alterou, " + std::to_string(tentativa) +
                        " vezes seguidas, linhas que este bloco gravava (a partir do comando de ordem " +
                        std::to_string(comandos[confirmados_].Ordem) + "); o bloco será recebido de novo");
                rw.Iniciar();
            }
        }
    }

private:
    static constexpr int kTentativasConcorrencia = 5;

    void AplicarDesde(const std::vector<TComando>& comandos, std::size_t inicio) {
        std::string TransacaoAtual;
        int32_t Contador = 0;
        for (std::size_t i = inicio; i < comandos.size(); ++i) {
            const TComando& c = comandos[i];
            if (amb_.PorDeLado && c.Ordem == *amb_.PorDeLado) {
                PorDeLadoAPedido(c);
                anterior_ = c.Ordem;
                pendente_ = true;
                Confirmar(i + 1);
                return;  // what follows comes with the next cycle
            }
            const auto tipo = db::StrtoTipoSQL(c.Acao);
            if (!tipo) {
                falhou_ = c.Ordem;
                throw TErroRespostaInvalida(TextoAcaoDesconhecida(c.Ordem, c.Acao));
            }

            // Commit points come before the command runs, so each commit
            // covers exactly the commands up to the previous one.
            if (c.IdTransacao != "-1") {
                if (c.IdTransacao != TransacaoAtual) {
                    if (!TransacaoAtual.empty()) Confirmar(i);
                    TransacaoAtual = c.IdTransacao;
                    Contador = 0;
                }
            } else {
                if (Contador >= kLimiteComandosTransacao) Confirmar(i);
                Contador = 0;
            }

            if (*tipo != db::TTipoSQL::tsSelect) {
                if (PorDeLado(c)) {
                    // Not applied, and not counted: it changes nothing here.
                } else {
                    Executar(c, *tipo);
                    if (amb_.Pendentes && !c.Linha.empty()) escritas_.insert(c.Linha);
                    ++Contador;
                }
            }
            // A skipped "S" counts as received: it changes nothing.
            anterior_ = c.Ordem;
            pendente_ = true;
        }
        Confirmar(comandos.size());
    }

    // A command for a row this store has changed since the server last
    // acknowledged its log. The race with store users who change that row
    // while the block is applied (read committed, no wait): a change
    // committed before the pending set was read is in it; one committed
    // after the block wrote the row had to wait for, or failed on, the
    // block's uncommitted write, so it comes after the received command
    // and is ordered after it by the server as well; one committed in
    // between is found by Confirmar, which reads the log again before every
    // commit and applies the group again when such a change names a row the
    // group wrote. Without that last step a delete made there would be
    // undone here by a received insert and then sent to the other stores,
    // which would lose the row while this one kept it. Sending reads each
    // row's content as it is when it sends, so whatever the block left in
    // a row the store then changed again goes out as it stands.
    bool PorDeLado(const TComando& c) {
        if (!amb_.Pendentes || c.Linha.empty() || !amb_.Pendentes->Contem(c.Linha)) return false;
        postosDeLado_.push_back("Conflito na linha " + c.DescricaoLinha + ": o comando de ordem " +
                                std::to_string(c.Ordem) +
                                " recebido do servidor central foi posto de lado, sem ser aplicado, porque esta "
                                "loja alterou a mesma linha e ainda não a enviou; a alteração desta loja "
                                "prevalecerá em todas as lojas");
        return true;
    }

    // The command the technician asked to set aside: everything before it
    // has run; it runs alone, and only when it fails is it recorded in
    // RPL_POSTOS_DE_LADO with the failure's text, in the transaction that
    // then moves the position past it. One that applies is no command to
    // set aside: that fails, and the caller rolls it back.
    void PorDeLadoAPedido(const TComando& c) {
        Descarregar();
        std::string motivo;
        try {
            const auto tipo = db::StrtoTipoSQL(c.Acao);
            if (!tipo)
                throw TErroRespostaInvalida(TextoAcaoDesconhecida(c.Ordem, c.Acao));
            if (*tipo != db::TTipoSQL::tsSelect) {
                Executar(c, *tipo);
                Descarregar();
            }
        } catch (const db::ErroConexaoPerdida&) {
            throw;
        } catch (const db::ErroRotina& e) {
            if (e.Passageira()) throw;
            motivo = e.what();
        } catch (const db::ErroConflitoBloqueio&) {
            throw;
        } catch (const std::exception& e) {
            motivo = e.what();
        }
        lote_.clear();
        if (motivo.empty())
            throw std::runtime_error("o comando de ordem " + std::to_string(c.Ordem) +
                                     " foi aplicado sem falha nesta loja: não há o que pôr de lado, e nada foi "
                                     "gravado");
        // The table and kind beside the whole command, for a reader of the
        // table, when they are plain (the command itself may be what is
        // wrong); the key texts only in COMANDO, which holds any character.
        db::Consulta& gravar = modulo_.Criar("TBPostoDeLadoRecebido", modulo_.TransReplicacaoReadWrite,
                                             "INSERT INTO RPL_POSTOS_DE_LADO (LADO, ORDEM, MOTIVO, COMANDO, TABELA, TIPO)\n"
                                             "VALUES ('R', :ORDEM, :MOTIVO, :COMANDO, :TABELA, :TIPO)");
        if (!gravar.TransacaoDona().Ativa()) gravar.TransacaoDona().Iniciar();
        gravar.Definir("TABELA", protocolo::IdentificadorValido(c.Tabela) ? db::Valor(protocolo::MaiusculasAscii(c.Tabela)) : db::Valor());
        gravar.Definir("TIPO", c.Acao == "U" || c.Acao == "D" || c.Acao == "S" ? db::Valor(c.Acao) : db::Valor());
        gravar.Definir("ORDEM", c.Ordem);
        gravar.Definir("MOTIVO", motivo);
        gravar.Definir("COMANDO", EscreverJSONCompacto(*c.Inteiro));
        gravar.Executar();
        motivoPostoDeLado_ = motivo;
    }

    // The exception in flight concerns the command itself, not the
    // connection or a store user's lock: it is the one that stops receiving.
    void Falhou(const TComando& c) {
        try {
            throw;
        } catch (const db::ErroConexaoPerdida&) {
        } catch (const db::ErroConflitoBloqueio&) {
        } catch (const db::ErroRotina& e) {
            if (!e.Passageira()) falhou_ = c.Ordem;
        } catch (...) {
            falhou_ = c.Ordem;
        }
    }

    // Commits what ran since the last commit together with the position of
    // the last command it covered: both or neither reach the database.
    // `proximo` is the index of the first command the commit does not cover.
    void Confirmar(std::size_t proximo) {
        Descarregar();
        if (!escritas_.empty()) {
            for (const std::string& linha : amb_.Pendentes->Atualizar(amb_.DM, modulo_, amb_.Contexto.Regional))
                if (escritas_.count(linha)) throw TAlteracaoConcorrente();
        }
        auto& rw = modulo_.TransReplicacaoReadWrite;
        if (pendente_) {
            db::PontoFalha("receber.antes_da_posicao");
            amb_.DM.Configuracoes().GravarUltimoRecebimento(anterior_, modulo_);
        }
        db::PontoFalha("receber.antes_do_commit");
        if (rw.Ativa()) rw.Commit();
        db::PontoFalha("receber.apos_o_commit");
        if (pendente_) {
            amb_.DM.Configuracoes().UltimoRecebimentoConfirmado(anterior_);
            pendente_ = false;
        }
        confirmados_ = proximo;
        escritas_.clear();
        // Told once: the position has moved past them for good.
        if (amb_.AoPorDeLado)
            for (const std::string& texto : postosDeLado_) amb_.AoPorDeLado(texto);
        postosDeLado_.clear();
    }

    // Consecutive commands for one table and kind wait here and run
    // together, in EXECUTE BLOCK statements of a few fixed sizes, each
    // prepared once per module (a run's): one round trip for many rows
    // instead of one per row. They run before every commit point, so
    // commits and positions stay exactly where they are.
    void Executar(const TComando& c, db::TTipoSQL tipo) {
        db::Consulta* preparada = nullptr;
        try {
            preparada = &db::ComandoDaTabelaPronto(amb_.DM, modulo_, c.Tabela, tipo, 0, 0);
        } catch (...) {
            Falhou(c);
            throw;
        }
        db::Consulta& Qry = *preparada;
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
        for (std::size_t k = 0; k < quantos; ++k) {
            try {
                Vincular(lote_[inicio + k], lote, k * largura);
            } catch (...) {
                Falhou(*lote_[inicio + k].Comando);
                throw;
            }
        }
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
        try {
            Vincular(p, Qry, 0);
        } catch (...) {
            Falhou(*p.Comando);
            throw;
        }
        auto& transacao = Qry.TransacaoDona();
        if (!transacao.Ativa()) transacao.Iniciar();
        try {
            Qry.Executar();
        } catch (...) {
            Falhou(*p.Comando);
            db::FalhaDaRotina("ReceberDados", TextoDoComando(p.Comando->Ordem));
        }
    }

    // The EXECUTE BLOCK that runs `quantos` commands of the unit statement's
    // kind for one table: the parameters take the columns' own types, the
    // k-th command is the unit statement's text (db::MontarComandoRecebido)
    // with its i-th value named P<k>_<i> (":P<k>_<i>" inside the body, where
    // the name rewrite leaves it to the block).
    db::Consulta& LoteDe(const TComando& c, db::Consulta& unitaria, db::TTipoSQL tipo, std::size_t quantos) {
        const std::string nome = unitaria.Nome() + "_L" + std::to_string(quantos);
        if (db::Consulta* existente = modulo_.Procurar(nome)) return *existente;
        const auto& parametros = unitaria.Parametros();
        std::vector<std::string> colunas;
        colunas.reserve(parametros.size());
        for (const auto& p : parametros) colunas.push_back(p.Nome);
        std::string entrada, corpo;
        for (std::size_t k = 0; k < quantos; ++k) {
            std::vector<std::string> nomes;
            nomes.reserve(colunas.size());
            for (std::size_t i = 0; i < colunas.size(); ++i) {
                const std::string p = "P" + std::to_string(k) + "_" + std::to_string(i);
                entrada += (entrada.empty() ? "" : ", ") + p + " TYPE OF COLUMN " + c.Tabela + "." + colunas[i] +
                           " = :" + p;
                nomes.push_back(p);
            }
            corpo += db::MontarComandoRecebido(tipo, c.Tabela, colunas, nomes) + "; ";
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
            // Only a value that cannot be read, or does not fit its column,
            // makes the answer unusable; a usage error is a bug and goes on
            // as it is.
            const auto invalida = [&](const std::exception& e) {
                return TErroRespostaInvalida(TextoDaColuna(c.Ordem, nomes[*indice].Nome, e.what()));
            };
            try {
                if (db::ParametroBinario(parametros[posicao]))
                    alvo.DefinirPosicao(posicao, db::Valor(Base64toStream(texto)));
                else
                    db::TratarParametroPosicao(alvo, posicao, texto, regional, ano_);
            } catch (const db::ErroLeitura& e) {
                throw invalida(e);
            } catch (const ErroBase64& e) {
                throw invalida(e);
            } catch (const db::ErroBanco& e) {
                throw invalida(e);  // a value beyond its column's storage
            }
        }
        if (p.Tipo == db::TTipoSQL::tsDelete) {
            // WHERE KEY = NULL matches nothing: the delete would be lost
            // while the position moves past it.
            for (std::size_t i = 0; i < largura; ++i)
                if (alvo.ParametroNulo(deslocamento + i))
                    throw TErroRespostaInvalida(TextoExclusaoSemChave(c.Ordem, nomes[i].Nome));
        }
    }

    // Whether the store's table has that column (non-computed), by the
    // catalogue, asked once per table and block.
    bool TabelaTemColuna(const std::string& tabela, const std::string& coluna) {
        auto it = colunasLocais_.find(tabela);
        if (it == colunasLocais_.end()) {
            std::set<std::string> nomes;
            for (const auto& c : amb_.DM.Catalogo().Campos(protocolo::MaiusculasAscii(tabela), false))
                nomes.insert(protocolo::MaiusculasAscii(c.Campo));
            it = colunasLocais_.emplace(tabela, std::move(nomes)).first;
        }
        return it->second.count(protocolo::MaiusculasAscii(coluna)) != 0;
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
    std::size_t confirmados_ = 0;  // commands committed so far, from the block's first
    // Since the last commit: the rows written, and the log entries of the
    // commands set aside.
    std::unordered_set<std::string> escritas_;
    std::vector<std::string> postosDeLado_;
    std::optional<int64_t>& falhou_;
    std::string motivoPostoDeLado_;
};

}  // namespace

std::string TextoGravandoBloco(std::int64_t OrdemInicial, std::int64_t OrdemFinal, std::int64_t UltimaOrdem) {
    return "Gravando bloco de registro de " + std::to_string(OrdemInicial) + " at\xC3\xA9 " +
           std::to_string(OrdemFinal) + " em um total de " + std::to_string(UltimaOrdem) + " registro(s)";
}

TResultado<TTipoUltimoMovimentoRecebido> ReceberDados(std::string_view URL, std::int32_t CodigoLoja,
                                                      std::int64_t Ordem, TAmbienteRecebimento& ambiente) {
    IJanelaStatus& janela = ambiente.Janela;
    const std::string endereco = InsereBarraFinalURL(URL) + CaminhoReceber(CodigoLoja, Ordem);
    const std::string pedido = DescreverPedido("GET", endereco);
    janela.StatusRecebimento("");

    // Phase 1: the request.
    const TRespostaServidor resposta = ExecutarRequisicao("GET", endereco, "", ambiente.Contexto.TempoLimite);
    if (resposta.StatusCode != 200) return RecusaDe(pedido, resposta);
    // The body is parsed once, as it came: characters beyond ASCII stay.
    const std::optional<TValorJSON> bloco = LerJSON(resposta.Conteudo);
    const auto& regional = ambiente.Contexto.Regional;
    TTipoUltimoMovimentoRecebido lido = LerPosicoesRecebimento(resposta, bloco, regional, pedido);
    if (lido.UltimaOrdem == 0) return lido;
    bool repetida = false;
    const auto avisarRepetida = [&] {
        if (repetida && ambiente.AoRepetirPosicao) ambiente.AoRepetirPosicao(Ordem);
    };
    if (lido.UltimaOrdem == Ordem) {
        // A server that answers from the position asked for, when it has
        // nothing after it: the answer is checked, and nothing is left.
        try {
            LerComandos(bloco, Ordem, lido.UltimaOrdem, regional, repetida);
        } catch (...) {
            db::FalhaDaRotina("ReceberDados");
        }
        avisarRepetida();
        TTipoUltimoMovimentoRecebido nada = lido;
        nada.UltimaOrdem = 0;
        return nada;
    }

    // Phase 2: the block applied.
    janela.StatusRecebimento(TextoGravandoBloco(lido.OrdemInicial, lido.OrdemFinal, lido.UltimaOrdem));
    janela.ProcessarMensagens();
    db::TModuloDoBloco DataModule(ambiente.Modulo, ambiente.PastaIni, &ambiente.DM.TBEstrutura());
    std::optional<int64_t> falhou;
    try {
        DataModule.Abrir();
        DataModule->TransReplicacaoReadWrite.Iniciar();
        const auto comandos = LerComandos(bloco, Ordem, lido.UltimaOrdem, regional, repetida);
        avisarRepetida();
        // A command to set aside must be among those that come next; else
        // nothing of the block runs.
        if (ambiente.PorDeLado &&
            std::none_of(comandos.begin(), comandos.end(),
                         [&](const TComando& c) { return c.Ordem == *ambiente.PorDeLado; }))
            throw std::runtime_error(
                "o comando de ordem " + std::to_string(*ambiente.PorDeLado) +
                " não é um dos próximos que esta loja receberia (o próximo bloco, depois da posição " +
                std::to_string(Ordem) + ", " +
                (comandos.empty() ? std::string("não tem comandos")
                                  : "vai do comando de ordem " + std::to_string(comandos.front().Ordem) + " ao de " +
                                        std::to_string(comandos.back().Ordem)) +
                "); nada foi gravado");
        if (ambiente.Pendentes && !comandos.empty())
            ambiente.Pendentes->Preparar(ambiente.DM, *DataModule, ambiente.PosicaoConfirmada, regional);
        TAplicacaoBloco aplicacao(ambiente, *DataModule, falhou);
        aplicacao.Aplicar(comandos);
        lido.MotivoPostoDeLado = aplicacao.MotivoPostoDeLado();
        DataModule.Concluir();
    } catch (...) {
        // The technician's command to set aside the one that stops this
        // store, unless that is what is running.
        std::string acrescimo = falhou && !ambiente.PorDeLado ? TextoComoPorDeLadoRecebido(*falhou) : std::string();
        if (DataModule) {
            // Closing the module would roll the group in progress back as
            // well, but only here does a failure of that rollback reach the
            // block's failure text.
            try {
                DataModule->TransReplicacaoReadWrite.Rollback();
            } catch (const std::exception& r) {
                acrescimo = TextoRollbackTambemFalhou(r.what()) + acrescimo;
            }
        }
        db::FalhaDaRotina("ReceberDados", {}, acrescimo);
    }
    return lido;
}

}  // namespace ondaris::sync
