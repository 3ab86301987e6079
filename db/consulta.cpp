#include "db/consulta.h"

#include "db/diagnostico.h"

#include <cmath>
#include <cstring>
#include <exception>
#include <limits>

#include "db/codecs.h"
#include "db/mensagem.h"
#include "db/ocupado.h"
#include "protocolo/texto.h"

namespace ondaris::db {
using protocolo::MaiusculasAscii;

namespace {


TTipoCampo Categoria(unsigned tipo, int subTipo, unsigned charset) {
    switch (tipo) {
        case SQL_SHORT: return TTipoCampo::tcSmallint;
        case SQL_LONG: return TTipoCampo::tcInteger;
        case SQL_INT64: return TTipoCampo::tcBigint;
        case SQL_FLOAT: return TTipoCampo::tcFloat;
        case SQL_DOUBLE:
        case SQL_D_FLOAT: return TTipoCampo::tcDouble;
        case SQL_TYPE_DATE: return TTipoCampo::tcData;
        case SQL_TYPE_TIME: return TTipoCampo::tcHora;
        case SQL_TIMESTAMP: return TTipoCampo::tcDataHora;
        case SQL_TEXT: return TTipoCampo::tcChar;
        case SQL_VARYING: return TTipoCampo::tcVarchar;
        case SQL_BLOB:
            return subTipo == 1 && charset != kCharsetOctets ? TTipoCampo::tcBlobTexto : TTipoCampo::tcBlobBinario;
        case SQL_BOOLEAN: return TTipoCampo::tcBooleano;
        case SQL_NULL: return TTipoCampo::tcNulo;
        default: return TTipoCampo::tcOutro;
    }
}

DescricaoCampo Descrever(fb::Status& s, Firebird::IMessageMetadata* m, unsigned i) {
    DescricaoCampo d;
    d.Tipo = m->getType(&s, i) & ~1u;
    d.SubTipo = m->getSubType(&s, i);
    d.Escala = m->getScale(&s, i);
    d.Tamanho = m->getLength(&s, i);
    d.ConjuntoCaracteres = m->getCharSet(&s, i);
    d.Categoria = Categoria(d.Tipo, d.SubTipo, d.ConjuntoCaracteres);
    d.Deslocamento = m->getOffset(&s, i);
    d.DeslocamentoNulo = m->getNullOffset(&s, i);
    return d;
}

bool MesmoTipo(const DescricaoCampo& a, const DescricaoCampo& b) {
    return a.Tipo == b.Tipo && a.SubTipo == b.SubTipo && a.Escala == b.Escala && a.Tamanho == b.Tamanho &&
           a.ConjuntoCaracteres == b.ConjuntoCaracteres && a.Deslocamento == b.Deslocamento &&
           a.DeslocamentoNulo == b.DeslocamentoNulo;
}

void Redimensionar(std::vector<std::uint64_t>& buffer, unsigned bytes) {
    buffer.assign(bytes / 8 + 1, 0);  // 8-byte aligned, never empty
}

}  // namespace

// ------------------------------------------------------------------ set-up

Consulta::Consulta(Conexao& conexao, Transacao& transacao, std::string sql, std::string nome)
    : conexao_(conexao), transacao_(&transacao), sql_(std::move(sql)), nome_(std::move(nome)) {
    if (&transacao.ConexaoDona() != &conexao)
        throw ErroUso("comando " + nome_ + ": sua transação pertence a outra conexão");
    conexao_.Registrar(this);
}

Consulta::~Consulta() {
    try {
        Fechar();
    } catch (const std::exception& e) {
        Diagnosticar("Falha ao fechar o comando " + nome_ + ": " + e.what());
    }
    Perdida();
    conexao_.Remover(this);
}

void Consulta::DefinirSql(std::string sql) {
    Fechar();
    Perdida();
    sql_ = std::move(sql);
    reescrito_ = false;
    descritos_ = false;
    parametros_.clear();
    layoutOriginal_.clear();
    metaEntrada_.Soltar();
    metaEntradaOriginal_.Soltar();
    metaSaida_.Soltar();
    colunas_.clear();
    indiceColunas_.clear();
    blobs_.clear();
}

void Consulta::Perdida() noexcept {
    cursor_.Soltar();
    comando_.Soltar();
    cursorContaAtivo_ = false;
    temLinha_ = false;
}

void Consulta::FecharCursorSemServidor() noexcept {
    // The transaction is ending: the server closes the cursor itself.
    cursor_.Soltar();
    cursorContaAtivo_ = false;
    temLinha_ = false;
}

void Consulta::Preparar() {
    MarcaOcupado ocupado;
    conexao_.Operar(nullptr, [&] { GarantirPreparada(); });
}

void Consulta::GarantirPreparada() {
    if (!comando_) PrepararFb();
}

void Consulta::PrepararFb() {
    if (sql_.empty()) throw ErroUso("comando " + nome_ + " não tem texto");
    if (!reescrito_) {
        posicional_ = ReescreverParametros(sql_);
        reescrito_ = true;
    }
    auto* anexo = conexao_.Anexo();
    fb::Chamar([&](fb::Status& s) {
        // Preparing needs a transaction; when ours is not running, a short
        // read-only one serves, so a statement can be prepared at any time.
        fb::TransacaoFb temporaria;
        Firebird::ITransaction* tra = nullptr;
        if (transacao_->Ativa()) {
            tra = transacao_->Garantir();
        } else {
            const unsigned char tpb[] = {isc_tpb_version3, isc_tpb_read, isc_tpb_read_committed, isc_tpb_rec_version,
                                         isc_tpb_nowait};
            temporaria = fb::TransacaoFb(anexo->startTransaction(&s, sizeof tpb, tpb));
            tra = temporaria.get();
        }
        fb::ComandoFb novo(anexo->prepare(&s, tra, 0, posicional_.Texto.c_str(), 3,
                                          Firebird::IStatement::PREPARE_PREFETCH_METADATA));
        tipoComando_ = novo->getType(&s);
        // Columns first: a statement counts as described once its
        // parameters are.
        DescreverColunas(novo.get());
        DescreverParametros(novo.get());
        if (temporaria) temporaria.Finalizar([](fb::Status* st, Firebird::ITransaction* t) { t->commit(st); });
        comando_ = std::move(novo);
    });
}

void Consulta::DescreverParametros(Firebird::IStatement* st) {
    fb::Chamar([&](fb::Status& s) {
        fb::Metadados original(st->getInputMetadata(&s));
        const unsigned n = original->getCount(&s);
        std::vector<DescricaoCampo> layout;
        for (unsigned i = 0; i < n; ++i) layout.push_back(Descrever(s, original.get(), i));

        if (descritos_) {
            // Prepared again after a reconnection: the bound values are kept,
            // which is only sound if the server still describes the same.
            bool igual = layout.size() == layoutOriginal_.size();
            for (std::size_t i = 0; igual && i < layout.size(); ++i) igual = MesmoTipo(layout[i], layoutOriginal_[i]);
            if (!igual)
                throw ErroBanco("comando " + nome_ + " descreve seus parâmetros de outro jeito depois de reconectar");
            return;
        }

        bool temBlob = false;
        for (const auto& d : layout) temBlob = temBlob || d.EhBlob();
        fb::Metadados envio;
        if (temBlob) {
            fb::ConstrutorMetadados construtor(original->getBuilder(&s));
            for (unsigned i = 0; i < n; ++i) {
                if (!layout[i].EhBlob()) continue;
                construtor->setType(&s, i, SQL_VARYING | 1);
                construtor->setSubType(&s, i, 0);
                construtor->setLength(&s, i, kMaximoVarchar);
                construtor->setCharSet(&s, i, ConjuntoDoBlobEmLinha(layout[i]));
                construtor->setScale(&s, i, 0);
            }
            envio = fb::Metadados(construtor->getMetadata(&s));
        } else {
            original->addRef();
            envio = fb::Metadados(original.get());
        }

        parametros_ = layout;
        for (unsigned i = 0; i < n; ++i) {
            parametros_[i].Deslocamento = envio->getOffset(&s, i);
            parametros_[i].DeslocamentoNulo = envio->getNullOffset(&s, i);
            if (i < posicional_.Nomes.size()) parametros_[i].Nome = posicional_.Nomes[i];
        }
        Redimensionar(entrada_, envio->getMessageLength(&s));
        for (const auto& p : parametros_)
            *reinterpret_cast<std::int16_t*>(Entrada() + p.DeslocamentoNulo) = -1;
        Redimensionar(entradaOriginal_, original->getMessageLength(&s));
        blobs_.assign(n, std::nullopt);
        layoutOriginal_ = std::move(layout);
        metaEntradaOriginal_ = std::move(original);
        metaEntrada_ = std::move(envio);
        descritos_ = true;
    });
}

void Consulta::DescreverColunas(Firebird::IStatement* st) {
    fb::Chamar([&](fb::Status& s) {
        fb::Metadados meta(st->getOutputMetadata(&s));
        const unsigned n = meta->getCount(&s);
        std::vector<DescricaoCampo> colunas;
        std::unordered_map<std::string, std::size_t> indice;
        for (unsigned i = 0; i < n; ++i) {
            DescricaoCampo d = Descrever(s, meta.get(), i);
            d.Nome = meta->getAlias(&s, i);
            d.Relacao = meta->getRelation(&s, i);
            indice.emplace(MaiusculasAscii(d.Nome), i);
            colunas.push_back(std::move(d));
        }
        Redimensionar(saida_, meta->getMessageLength(&s));
        colunas_ = std::move(colunas);
        indiceColunas_ = std::move(indice);
        metaSaida_ = std::move(meta);
    });
}

// -------------------------------------------------------------- parameters

// Binding and asking about parameters needs their descriptions only: once
// described, a statement is never prepared again for them, not even after a
// reconnection dropped its handle (it is prepared again when it runs).
void Consulta::GarantirDescrita() {
    if (!descritos_) Preparar();
}

const std::vector<DescricaoCampo>& Consulta::Parametros() {
    GarantirDescrita();
    return parametros_;
}

std::optional<std::size_t> Consulta::PosicaoParametro(std::string_view nome) {
    GarantirDescrita();
    const auto it = posicional_.Posicoes.find(MaiusculasAscii(nome));
    if (it == posicional_.Posicoes.end()) return std::nullopt;
    return it->second.front();
}

void Consulta::Definir(std::string_view nome, const Valor& valor) {
    GarantirDescrita();
    const auto it = posicional_.Posicoes.find(MaiusculasAscii(nome));
    if (it == posicional_.Posicoes.end())
        throw ErroUso("comando " + nome_ + " não tem parâmetro chamado " + std::string(nome));
    for (const auto pos : it->second) GravarParametro(pos, valor);
}

void Consulta::DefinirPosicao(std::size_t posicao, const Valor& valor) {
    GravarParametro(PosicaoOuErro(posicao), valor);
}

bool Consulta::ParametroNulo(std::size_t posicao) {
    const auto& p = parametros_[PosicaoOuErro(posicao)];
    return *reinterpret_cast<const std::int16_t*>(Entrada() + p.DeslocamentoNulo) != 0;
}

std::size_t Consulta::PosicaoOuErro(std::size_t posicao) {
    GarantirDescrita();
    if (posicao >= parametros_.size())
        throw ErroUso("comando " + nome_ + " não tem parâmetro na posição " + std::to_string(posicao));
    return posicao;
}

void Consulta::GravarParametro(std::size_t i, const Valor& v) {
    const DescricaoCampo& p = parametros_[i];
    const Codificador gravar = CodecDe(p, textosExatos_).Gravar;
    Gravacao r = Gravacao::Nulo;
    if (!std::holds_alternative<std::monostate>(v))
        r = gravar ? gravar(p, v, Entrada() + p.Deslocamento, blobs_[i]) : Gravacao::TipoErrado;
    auto* nulo = reinterpret_cast<std::int16_t*>(Entrada() + p.DeslocamentoNulo);
    switch (r) {
        case Gravacao::Gravado: *nulo = 0; return;
        case Gravacao::Nulo:
            *nulo = -1;
            blobs_[i].reset();
            return;
        case Gravacao::TipoErrado:
            throw ErroUso(NomeParametro(i) + " é " + p.NomeTipo() + " e não aceita um valor do tipo " +
                          NomeTipoValor(v));
        case Gravacao::NaoCabe:
            throw ErroBanco("arithmetic exception, numeric overflow, or string truncation: o valor não cabe no " +
                                NomeParametro(i) + " (" + p.NomeTipo() + ")",
                            isc_arith_except, "22003", {isc_arith_except});
    }
}

std::string Consulta::NomeParametro(std::size_t i) const {
    const auto& nome = parametros_[i].Nome;
    return "parâmetro " + (nome.empty() ? "#" + std::to_string(i + 1) : nome) + " do comando " + nome_;
}
Firebird::IMessageMetadata* Consulta::MontarEntrada(Firebird::ITransaction* tra, unsigned char*& buffer) {
    if (BlobsCabemEmLinha(parametros_, blobs_)) {
        GravarBlobsEmLinha(parametros_, blobs_, Entrada());
        buffer = Entrada();
        return metaEntrada_.get();
    }
    // A blob too big to travel inline: send the server's own layout and
    // create every blob in the client first.
    auto* original = reinterpret_cast<unsigned char*>(entradaOriginal_.data());
    auto* anexo = conexao_.Anexo();
    CopiarParaLayoutOriginal(parametros_, Entrada(), layoutOriginal_, original);
    for (std::size_t i = 0; i < parametros_.size(); ++i) {
        const auto& o = layoutOriginal_[i];
        if (!parametros_[i].EhBlob() || !blobs_[i]) continue;
        fb::Chamar([&](fb::Status& s) {
            ISC_QUAD id{};
            fb::BlobFb blob(anexo->createBlob(&s, tra, &id, 0, nullptr));
            const std::string& conteudo = *blobs_[i];
            for (std::size_t pos = 0; pos < conteudo.size(); pos += kMaximoVarchar) {
                const auto pedaco = static_cast<unsigned>(std::min<std::size_t>(kMaximoVarchar, conteudo.size() - pos));
                blob->putSegment(&s, pedaco, conteudo.data() + pos);
            }
            blob.Finalizar([](fb::Status* st, Firebird::IBlob* b) { b->close(st); });
            std::memcpy(original + o.Deslocamento, &id, sizeof id);
        });
    }
    buffer = original;
    return metaEntradaOriginal_.get();
}

// --------------------------------------------------------------- execution

void Consulta::Executar() {
    MarcaOcupado ocupado;
    Fechar();
    conexao_.Operar(transacao_, [&] {
        GarantirPreparada();
        if (tipoComando_ == isc_info_sql_stmt_select || tipoComando_ == isc_info_sql_stmt_select_for_upd)
            throw ErroUso("comando " + nome_ + " é uma consulta: abra-o com Abrir()");
        auto* tra = transacao_->Garantir();
        transacao_->ComandoIniciou();
        try {
            fb::Chamar([&](fb::Status& s) {
                unsigned char* buffer = nullptr;
                auto* meta = MontarEntrada(tra, buffer);
                const bool comSaida = !colunas_.empty();
                comando_->execute(&s, tra, meta, buffer, comSaida ? metaSaida_.get() : nullptr,
                                  comSaida ? Saida() : nullptr);
            });
            transacao_->MarcarAlteracao();
            afetadas_.reset();
            temLinha_ = !colunas_.empty();
        } catch (const ErroConexaoPerdida&) {
            throw;  // every handle of the attachment is dropped by the reconnection
        } catch (const std::exception&) {
            // The server undid the failed statement; an automatic transaction
            // still ends as usual, and the statement's own error wins.
            try {
                transacao_->ComandoTerminou();
            } catch (const std::exception& e) {
                Diagnosticar("Falha ao encerrar a transação " + transacao_->Nome() + ": " + e.what());
            }
            throw;
        }
        transacao_->ComandoTerminou();
    });
}

bool Consulta::Abrir() {
    MarcaOcupado ocupado;
    Fechar();
    return conexao_.Operar(transacao_, [&] {
        GarantirPreparada();
        auto* tra = transacao_->Garantir();
        fb::Chamar([&](fb::Status& s) {
            unsigned char* buffer = nullptr;
            auto* meta = MontarEntrada(tra, buffer);
            cursor_ = fb::CursorFb(comando_->openCursor(&s, tra, meta, buffer, metaSaida_.get(), 0));
        });
        transacao_->ComandoIniciou();
        cursorContaAtivo_ = true;
        return Buscar();  // a loss here repeats the whole opening
    });
}

bool Consulta::Buscar() {
    const int resultado = fb::Chamar([&](fb::Status& s) { return cursor_->fetchNext(&s, Saida()); });
    if (resultado == Firebird::IStatus::RESULT_OK) {
        temLinha_ = true;
        return true;
    }
    Fechar();
    return false;
}

bool Consulta::Proximo() {
    if (!cursor_) {
        temLinha_ = false;
        return false;
    }
    MarcaOcupado ocupado;
    try {
        return Buscar();
    } catch (const ErroConexaoPerdida& e) {
        conexao_.Reconectar();
        // A half-read result cannot be resumed on a new attachment without
        // guessing where it stood; the caller opens it again.
        throw ErroConexaoPerdida("a conexão caiu e foi restabelecida durante a leitura do resultado de " +
                                     nome_ + "; abra-o de novo: " + e.what(),
                                 e.Codigo(), e.SqlState(), e.Codigos());
    }
}

void Consulta::Fechar() {
    temLinha_ = false;
    if (cursor_) {
        try {
            cursor_.Finalizar([](fb::Status* s, Firebird::IResultSet* r) { r->close(s); });
        } catch (const ErroBanco&) {
            cursor_.Soltar();  // the cursor is gone with its transaction or attachment
        }
    }
    if (cursorContaAtivo_) {
        cursorContaAtivo_ = false;
        transacao_->ComandoTerminou();
    }
}

std::int64_t Consulta::LinhasAfetadas() {
    // Asked of the server only when wanted: it costs a round trip, as much
    // as the execution itself.
    if (!afetadas_) {
        if (!comando_) throw ErroUso("comando " + nome_ + " não foi executado");
        afetadas_ = fb::Chamar(
            [&](fb::Status& s) { return static_cast<std::int64_t>(comando_->getAffectedRecords(&s)); });
    }
    return *afetadas_;
}

// ----------------------------------------------------------------- columns

const std::vector<DescricaoCampo>& Consulta::Colunas() {
    GarantirDescrita();
    return colunas_;
}

std::optional<std::size_t> Consulta::IndiceColuna(std::string_view nome) {
    GarantirDescrita();
    const auto it = indiceColunas_.find(MaiusculasAscii(nome));
    if (it == indiceColunas_.end()) return std::nullopt;
    return it->second;
}

std::size_t Consulta::IndiceColunaOuErro(std::string_view nome) {
    const auto i = IndiceColuna(nome);
    if (!i) throw ErroUso("comando " + nome_ + " não tem coluna chamada " + std::string(nome));
    return *i;
}

std::string Consulta::LerBlob(std::size_t i) {
    const auto& c = colunas_[i];
    ISC_QUAD id;
    std::memcpy(&id, Saida() + c.Deslocamento, sizeof id);
    auto* tra = transacao_->Garantir();
    auto* anexo = conexao_.Anexo();
    return fb::Chamar([&](fb::Status& s) {
        fb::BlobFb blob(anexo->openBlob(&s, tra, &id, 0, nullptr));
        std::string conteudo;
        char pedaco[32768];
        for (;;) {
            unsigned lidos = 0;
            const int r = blob->getSegment(&s, sizeof pedaco, pedaco, &lidos);
            if (r == Firebird::IStatus::RESULT_NO_DATA) break;
            conteudo.append(pedaco, lidos);  // a segment may come in parts
        }
        blob.Finalizar([](fb::Status* st, Firebird::IBlob* b) { b->close(st); });
        return conteudo;
    });
}

Valor Consulta::Ler(std::size_t i) {
    if (!temLinha_) throw ErroUso("comando " + nome_ + " não tem linha atual");
    if (i >= colunas_.size()) throw ErroUso("comando " + nome_ + " não tem coluna " + std::to_string(i));
    const auto& c = colunas_[i];
    if (*reinterpret_cast<const std::int16_t*>(Saida() + c.DeslocamentoNulo) != 0) return {};
    const Decodificador ler = CodecDe(c, textosExatos_).Ler;
    if (!ler)
        throw ErroUso("coluna " + c.Nome + " do comando " + nome_ + " tem um tipo que esta camada não sabe ler: " +
                      c.NomeTipo());
    const std::string blob = c.EhBlob() ? LerBlob(i) : std::string();
    return ler(c, Saida() + c.Deslocamento, blob);
}

Valor Consulta::Ler(std::string_view nome) { return Ler(IndiceColunaOuErro(nome)); }

void Consulta::ErroTipoColuna(std::size_t i, const char* pedido) {
    throw ErroUso("coluna " + colunas_[i].Nome + " do comando " + nome_ + " é " + colunas_[i].NomeTipo() +
                  " e não pode ser lida como " + pedido);
}

}  // namespace ondaris::db
