#include "sync/enviar.h"

#include <charconv>
#include <cmath>
#include <memory>
#include <unordered_map>
#include <utility>
#include <vector>

#include "db/construtores.h"
#include "db/modulo_operacao.h"
#include "protocolo/base64.h"
#include "protocolo/texto.h"
#include "protocolo/textos.h"
#include "sync/de_lado.h"
#include "sync/requisicao.h"

namespace ondaris::sync {
using protocolo::FormatarGeral;
using protocolo::StreamtoBase64;
using protocolo::TEscritorJSON;
using protocolo::TextoBooleano;
using protocolo::TextoChar;
using protocolo::TextoData;
using protocolo::TextoDataHoraCompleta;
using protocolo::TextoDouble;
using protocolo::TextoFloat;
using protocolo::TextoHoraCompleta;
using protocolo::TextoInteiro;
using protocolo::TextoNumeric;

namespace {

// The fewest significant digits, 15 at least, that read back as the same
// double: 15 for every value that has at most 15, up to 17 for the others.
int DigitosDeVolta(double valor) {
    for (int digitos = 15; digitos < 17; ++digitos) {
        char buffer[64];
        const auto fim = std::to_chars(buffer, buffer + sizeof buffer, valor, std::chars_format::scientific,
                                       digitos - 1).ptr;
        double lido = 0;
        std::from_chars(buffer, fim, lido);
        if (lido == valor) return digitos;
    }
    return 17;
}

}  // namespace

std::optional<std::string> TextoDoValorBanco(const db::Valor& valor, const db::DescricaoCampo& coluna,
                                             const protocolo::TConfiguracoesRegionais& regional) {
    using db::TTipoCampo;
    struct Visitante {
        const db::DescricaoCampo& coluna;
        const protocolo::TConfiguracoesRegionais& regional;

        std::optional<std::string> operator()(std::monostate) const { return std::nullopt; }
        std::optional<std::string> operator()(bool v) const { return TextoBooleano(v); }
        std::optional<std::string> operator()(std::int16_t v) const { return Inteiro(v); }
        std::optional<std::string> operator()(std::int32_t v) const { return Inteiro(v); }
        std::optional<std::string> operator()(std::int64_t v) const { return Inteiro(v); }
        std::optional<std::string> operator()(const db::Numerico& v) const {
            return TextoNumeric(v.Valor, v.Escala, regional);
        }
        std::optional<std::string> operator()(float v) const { return TextoFloat(v, regional); }
        // The general format, with more than 15 digits only when 15 would
        // read back as another double.
        std::optional<std::string> operator()(double v) const {
            if (!std::isfinite(v)) return TextoDouble(v, regional);
            return FormatarGeral(v, regional, DigitosDeVolta(v));
        }
        std::optional<std::string> operator()(const protocolo::Data& v) const { return TextoData(v, regional); }
        std::optional<std::string> operator()(const protocolo::Hora& v) const { return TextoHoraCompleta(v, regional); }
        std::optional<std::string> operator()(const protocolo::DataHora& v) const {
            return TextoDataHoraCompleta(v, regional);
        }
        std::optional<std::string> operator()(const std::string& v) const {
            return coluna.Categoria == TTipoCampo::tcChar ? TextoChar(v) : v;
        }
        std::optional<std::string> operator()(const db::Bytes& v) const {
            if (coluna.Categoria == TTipoCampo::tcBlobBinario) return StreamtoBase64(std::span<const uint8_t>(v));
            // OCTETS text: each byte as the character of the same code.
            return protocolo::Latin1ParaUtf8(std::string_view(reinterpret_cast<const char*>(v.data()), v.size()));
        }
        // A scaled number read with an integer kind still has its scale.
        std::optional<std::string> Inteiro(std::int64_t v) const {
            return coluna.Escala < 0 ? TextoNumeric(v, coluna.Escala, regional) : TextoInteiro(v);
        }
    };
    return std::visit(Visitante{coluna, regional}, valor);
}

std::optional<std::string> TextoDoCampo(const db::Valor& valor, const db::DescricaoCampo& coluna,
                                        const protocolo::TConfiguracoesRegionais& regional) {
    return TextoDoValorBanco(valor, coluna, regional);
}

namespace {

// One row of the change log as the block needs it, each column in its text
// form (empty text for NULL).
struct TLinhaLog {
    int64_t Ordem = 0;
    std::string TextoOrdem;
    std::string CodigoLojaDestino;
    std::string Tipo;
    std::string Tabela;
    std::string AtualValorChave1;
    std::string AtualValorChave2;
    std::string NovoValorChave1;
    std::string OcorrenciaLocal;
    std::string IdTransacao;
};

// The block's log rows, read whole before the row queries run, in the
// block's own snapshot (see EnviarDados).
std::vector<TLinhaLog> LerLinhasLog(db::TModuloOperacao& DataModule, int64_t OrdemInicial, int64_t OrdemFinal,
                                    const protocolo::TConfiguracoesRegionais& regional) {
    db::Consulta& log =
        DataModule.Criar("TBLogReplicacao", DataModule.TransReplicacaoReadOnly, db::TLogReplicacao::kSqlLogReplicacao);
    log.Definir("ORDEMINICIAL", OrdemInicial);
    log.Definir("ORDEMFINAL", OrdemFinal);
    const auto& colunas = log.Colunas();
    const auto indice = [&](std::string_view nome) {
        const auto i = log.IndiceColuna(nome);
        if (!i) throw db::ErroUso("a consulta do log não tem a coluna " + std::string(nome));
        return *i;
    };
    const std::size_t iOrdem = indice("ORDEM"), iDestino = indice("CODIGOLOJADESTINO"), iTipo = indice("TIPO"),
                      iTabela = indice("TABELA"), iChave1 = indice("ATUALVALORCHAVE1"),
                      iChave2 = indice("ATUALVALORCHAVE2"), iNova = indice("NOVOVALORCHAVE1"),
                      iOcorrencia = indice("OCORRENCIA_LOCAL"), iTransacao = indice("ID_TRANSACAO");
    const auto texto = [&](std::size_t i) {
        return TextoDoValorBanco(log.Ler(i), colunas[i], regional).value_or(std::string());
    };

    std::vector<TLinhaLog> linhas;
    for (bool tem = log.Abrir(); tem; tem = log.Proximo()) {
        TLinhaLog l;
        const auto ordem = log.Ler<std::int64_t>("ORDEM");
        if (!ordem) throw db::ErroBanco("uma linha do log sem ORDEM");
        l.Ordem = *ordem;
        l.TextoOrdem = texto(iOrdem);
        l.CodigoLojaDestino = texto(iDestino);
        l.Tipo = texto(iTipo);
        l.Tabela = texto(iTabela);
        l.AtualValorChave1 = texto(iChave1);
        l.AtualValorChave2 = texto(iChave2);
        l.NovoValorChave1 = texto(iNova);
        l.OcorrenciaLocal = texto(iOcorrencia);
        l.IdTransacao = texto(iTransacao);
        linhas.push_back(std::move(l));
    }
    return linhas;
}

// A command's members before "campos", in their fixed order, then the name
// "campos": the caller writes that object and closes the command.
void AbrirComando(TEscritorJSON& json, const TLinhaLog& linha) {
    json.AbrirObjeto();
    const std::pair<const char*, const std::string&> membros[] = {
        {"ordem", linha.TextoOrdem},
        {"codigolojadestino", linha.CodigoLojaDestino},
        // The log's TIPO as it stands: other agents read the letter itself.
        {"acao", linha.Tipo},
        {"tabela", linha.Tabela},
        {"atualvalorchave1", linha.AtualValorChave1},
        {"atualvalorchave2", linha.AtualValorChave2},
        {"novovalorchave1", linha.NovoValorChave1},
        {"ocorrencialocal", linha.OcorrenciaLocal},
        {"idtransacao", linha.IdTransacao},
    };
    for (const auto& [nome, valor] : membros) {
        json.Nome(nome);
        json.Texto(valor);
    }
    json.Nome("campos");
}

// "campos" of a delete: the first key column takes the first stored key
// value, every further one the second.
void EscreverCamposDaExclusao(TEscritorJSON& json, const std::vector<db::TCampoCatalogo>& chave,
                              const TLinhaLog& linha) {
    json.AbrirObjeto();
    bool primeira = true;
    for (const auto& c : chave) {
        json.Nome(c.Campo);
        json.Texto(primeira ? linha.AtualValorChave1 : linha.AtualValorChave2);
        primeira = false;
    }
    json.FecharObjeto();
}

// Where a row query's values come from: the table's columns after ORDEM,
// each blob column with the column that brings its short values inline
// (see MontarSQLQuerySEL: one such column per blob column, in the same
// order, after the table's columns).
struct TColunaEnviada {
    std::size_t Indice = 0;
    std::optional<std::size_t> EmLinha;
};

std::vector<TColunaEnviada> ColunasEnviadas(db::Consulta& qry) {
    const auto& colunas = qry.Colunas();
    std::size_t blobs = 0;
    for (const auto& c : colunas) blobs += c.EhBlob() ? 1 : 0;
    if (colunas.size() < 1 + 2 * blobs)
        throw db::ErroUso("a consulta de linhas de " + qry.Nome() + " não tem as colunas embutidas dos seus blobs");
    const std::size_t fim = colunas.size() - blobs;
    std::vector<TColunaEnviada> enviadas;
    std::size_t proxima = fim;
    for (std::size_t i = 1; i < fim; ++i) {
        TColunaEnviada c{i, std::nullopt};
        if (colunas[i].EhBlob()) {
            const auto& emLinha = colunas[proxima];
            if (emLinha.Categoria != db::TTipoCampo::tcVarchar || emLinha.ConjuntoCaracteres != db::kCharsetOctets)
                throw db::ErroUso("a consulta de linhas de " + qry.Nome() + " não tem coluna embutida para o blob " +
                                  colunas[i].Nome);
            c.EmLinha = proxima++;
        }
        enviadas.push_back(c);
    }
    return enviadas;
}

// The value of a column of the current row. A blob whose bytes came inline
// (the inline column is not NULL) is not read by its own call: the bytes
// are what that call would give (the select inlines only binary blobs and
// text blobs in Latin-1 or NONE, whose bytes reach us untransliterated),
// taken as a text blob or a binary blob is read.
db::Valor LerColuna(db::Consulta& qry, const TColunaEnviada& coluna) {
    if (coluna.EmLinha) {
        db::Valor emLinha = qry.Ler(*coluna.EmLinha);
        if (auto* bytes = std::get_if<db::Bytes>(&emLinha)) {
            if (qry.Colunas()[coluna.Indice].Categoria == db::TTipoCampo::tcBlobBinario) return emLinha;
            // An empty blob is an empty text, as its own call reads it.
            return protocolo::Latin1ParaUtf8(std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()));
        }
    }
    return qry.Ler(coluna.Indice);
}

// "campos" of the current row of `qry`, each member named by its column.
void EscreverCampos(TEscritorJSON& json, db::Consulta& qry, const std::vector<TColunaEnviada>& enviadas,
                    const protocolo::TConfiguracoesRegionais& regional) {
    const auto& colunas = qry.Colunas();
    json.AbrirObjeto();
    for (const TColunaEnviada& c : enviadas) {
        const std::optional<std::string> texto = TextoDoCampo(LerColuna(qry, c), colunas[c.Indice], regional);
        if (!texto) continue;
        json.Nome(colunas[c.Indice].Nome);
        json.Texto(*texto);
    }
    json.FecharObjeto();
}

// Moves the select of a table (ordered by ORDEM) forward to the first row
// whose ORDEM is `ordem`. The block's log rows come in ascending ORDEM, so
// the rows skipped on the way belong to no later log row: the result is the
// first row of that ORDEM counted from the start, found without a search
// per log row. False when there is none.
bool AvancarAte(db::Consulta& qry, int64_t ordem) {
    while (qry.TemLinha()) {
        const db::Valor v = qry.Ler(std::size_t{0});
        const auto* atual = std::get_if<std::int64_t>(&v);
        if (!atual) throw db::ErroUso("a consulta de linhas de " + qry.Nome() + " não começa com ORDEM");
        if (*atual == ordem) return true;
        if (*atual > ordem) return false;
        qry.Proximo();
    }
    return false;
}

// The read of a log row's table for the block. A table that cannot be
// prepared (dropped, a key the log cannot carry) holds every later row
// back: the failure names the technician's command that sets the row
// aside. A lost connection is only a failed cycle.
db::Consulta& PrepararLeitura(db::TDM& DM, db::TModuloOperacao& DataModule, const TLinhaLog& linha,
                              int64_t OrdemInicial, int64_t OrdemFinal) {
    try {
        return db::ComandoDaTabelaPronto(DM, DataModule, linha.Tabela, db::TTipoSQL::tsSelect, OrdemInicial, OrdemFinal);
    } catch (const db::ErroRotina& e) {
        if (e.Causa() == db::TCausaRotina::ConexaoPerdida) throw;
        db::FalhaDaRotina("PrepararDataset", {}, TextoComoPorDeLadoEnvio(linha.Ordem));
    }
}

}  // namespace

TResultado<std::string> EnviarDados(std::string_view URL, int32_t CodigoLoja, int64_t Ordem, db::TDM& DM,
                                    const TContextoServidor& contexto, const std::string& pastaIni,
                                    db::TIndicesEnvio* Indices, db::TModuloDaExecucao* Modulo) {
    const std::string base = InsereBarraFinalURL(URL);
    std::string corpo;
    {
        // The run's module, or the block's own; either holds no transaction
        // any more while the server is being waited for.
        db::TModuloDoBloco modulo(Modulo, pastaIni);
        modulo.Abrir();
        db::TModuloOperacao& DataModule = *modulo;
        // The bounds first, read committed on the global connection; then
        // every read of the block in the module's snapshot, which starts
        // with the log rows: it sees every change committed within the
        // bounds, and the blobs of the rows it reads stay readable while
        // store users go on updating and deleting those rows.
        const db::TIndicesEnvio indices = DM.LogReplicacao().RetornaIndices(Ordem, protocolo::TamanhoBloco);
        if (Indices) *Indices = indices;
        const int64_t OrdemInicial = indices.OrdemInicial, OrdemFinal = indices.OrdemFinal;
        const std::vector<TLinhaLog> linhas = LerLinhasLog(DataModule, OrdemInicial, OrdemFinal, contexto.Regional);

        std::unordered_map<std::string, std::vector<db::TCampoCatalogo>> chaves;   // per table, this call
        std::unordered_map<db::Consulta*, std::vector<TColunaEnviada>> enviadas;  // per row query
        // The body is written once, straight into the text that is sent.
        corpo.reserve(512 * linhas.size() + 256);
        TEscritorJSON json(corpo);
        json.AbrirObjeto();
        json.Nome("codigolojaorigem");
        json.Texto(std::to_string(CodigoLoja));
        json.Nome("comandos");
        json.AbrirMatriz();
        for (const TLinhaLog& linha : linhas) {
            if (linha.Tipo == "D") {
                auto it = chaves.find(linha.Tabela);
                if (it == chaves.end())
                    it = chaves.emplace(linha.Tabela, DM.Catalogo().Campos(linha.Tabela, true)).first;
                AbrirComando(json, linha);
                EscreverCamposDaExclusao(json, it->second, linha);
                json.FecharObjeto();
                continue;
            }
            db::Consulta& qry = PrepararLeitura(DM, DataModule, linha, OrdemInicial, OrdemFinal);
            if (!AvancarAte(qry, linha.Ordem)) continue;  // the row is gone, or its key moved
            auto it = enviadas.find(&qry);
            if (it == enviadas.end()) it = enviadas.emplace(&qry, ColunasEnviadas(qry)).first;
            AbrirComando(json, linha);
            EscreverCampos(json, qry, it->second, contexto.Regional);
            json.FecharObjeto();
        }
        json.FecharMatriz();
        // The bounds, so that a server can move its position past log rows
        // that were left out (rows deleted since).
        json.Nome("ordeminicial");
        json.Texto(std::to_string(OrdemInicial));
        json.Nome("ordemfinal");
        json.Texto(std::to_string(OrdemFinal));
        json.FecharObjeto();
        modulo.Concluir();
    }

    const std::string endereco = base + CaminhoEnviar(CodigoLoja);
    const TRespostaServidor resposta = ExecutarRequisicao("PUT", endereco, corpo, contexto.TempoLimite);
    if (resposta.StatusCode != 200) return RecusaDe(DescreverPedido("PUT", endereco), resposta);
    return corpo;
}

std::optional<std::string> MotivoLinhaNaoEnviavel(int64_t Ordem, db::TDM& DM, const std::string& pastaIni,
                                                  const protocolo::TConfiguracoesRegionais& regional) {
    db::TModuloDoBloco modulo(nullptr, pastaIni);
    modulo.Abrir();
    const std::vector<TLinhaLog> linhas = LerLinhasLog(*modulo, Ordem, Ordem, regional);
    if (linhas.empty())
        throw db::ErroBanco("o LOG_REPLICACAO não tem linha de ordem " + std::to_string(Ordem));
    std::optional<std::string> motivo;
    if (linhas.front().Tipo != "D") {
        try {
            PrepararLeitura(DM, *modulo, linhas.front(), Ordem, Ordem);
        } catch (const db::ErroRotina& e) {
            if (e.Causa() == db::TCausaRotina::ConexaoPerdida) throw;
            // The failure as the cycle logs it, without the way out: this is it.
            motivo = e.what();
            const std::string saida = TextoComoPorDeLadoEnvio(Ordem);
            if (motivo->size() >= saida.size() && motivo->compare(motivo->size() - saida.size(), saida.size(), saida) == 0)
                motivo->resize(motivo->size() - saida.size());
        }
    }
    modulo.Concluir();
    return motivo;
}

}  // namespace ondaris::sync
