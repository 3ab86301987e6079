#include "db/consulta.h"

#include "db/diagnostico.h"

#include <cmath>
#include <cstring>
#include <exception>
#include <limits>

#include "db/ocupado.h"
#include "db/texto.h"

namespace ondaris::db {

namespace {

// Largest VARCHAR the server accepts in a message: blobs up to this size are
// sent inline and the server builds them itself.
constexpr unsigned kMaximoVarchar = 32765;

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

// Text as the server's character set wants it: Latin-1 unless the
// parameter is described in UTF-8 or as raw octets.
std::string ParaServidor(const std::string& utf8, unsigned charset) {
    if (charset == kCharsetUtf8 || charset == kCharsetOctets) return utf8;
    return Utf8ParaLatin1(utf8);
}

std::string DoServidor(std::string_view bruto, unsigned charset) {
    if (charset == kCharsetUtf8) return std::string(bruto);
    return Latin1ParaUtf8(bruto);
}

// Cuts a server-side text to at most `caracteres` characters and `bytes`.
void Cortar(std::string& texto, unsigned charset, unsigned caracteres, unsigned bytes) {
    if (charset != kCharsetUtf8) {
        if (texto.size() > caracteres) texto.resize(caracteres);
    } else {
        texto = PrimeirosCaracteresUtf8(texto, caracteres, bytes);
    }
    if (texto.size() > bytes) texto.resize(bytes);
}

void ApararDireita(std::string& s) {
    while (!s.empty() && s.back() == ' ') s.pop_back();
}

// v * 10^(de - para), rounded half away from zero; nullopt on overflow.
std::optional<std::int64_t> Reescalar(std::int64_t v, int de, int para) {
    std::int64_t x = v;
    for (int k = 0; k < de - para; ++k)
        if (__builtin_mul_overflow(x, 10, &x)) return std::nullopt;
    if (de < para) {
        if (para - de > 18) return 0;
        std::int64_t divisor = 1;
        for (int k = 0; k < para - de; ++k) divisor *= 10;
        std::int64_t q = x / divisor;
        const std::int64_t r = x % divisor;
        const std::int64_t absR = r < 0 ? -r : r;
        if (absR >= divisor - absR) q += x < 0 ? -1 : 1;
        x = q;
    }
    return x;
}


// ------------------------------------------------------- values and kinds
//
// One encoder and one decoder per kind of column, in one table: every bind
// and every read goes through it, so each conversion rule lives here once.
// An encoder decides before it writes: a value it refuses leaves the
// parameter as it was.

enum class Gravacao { Gravado, Nulo, TipoErrado, NaoCabe };

// Writes `v` (never NULL) into the parameter's place in the message, or,
// for a blob, into `blob`, kept aside until execution.
using Codificador = Gravacao (*)(const DescricaoCampo& p, const Valor& v, unsigned char* dado,
                                 std::optional<std::string>& blob);
// The column's value from its place in the message (not NULL there), or
// from its blob's content for a blob.
using Decodificador = Valor (*)(const DescricaoCampo& c, const unsigned char* dado, std::string_view blob);

template <class T>
T Carregar(const unsigned char* dado) {
    T x;
    std::memcpy(&x, dado, sizeof x);
    return x;
}

template <class T>
void Guardar(unsigned char* dado, const T& x) {
    std::memcpy(dado, &x, sizeof x);
}

std::optional<std::int64_t> InteiroDe(const Valor& v) {
    if (const auto* a = std::get_if<std::int16_t>(&v)) return *a;
    if (const auto* b = std::get_if<std::int32_t>(&v)) return *b;
    if (const auto* c = std::get_if<std::int64_t>(&v)) return *c;
    return std::nullopt;
}

// SMALLINT, INTEGER, BIGINT and the NUMERIC/DECIMAL stored in them: any
// number, scaled to the column's places (half away from zero).
template <class I>
Gravacao GravarInteiro(const DescricaoCampo& p, const Valor& v, unsigned char* dado, std::optional<std::string>&) {
    std::optional<std::int64_t> escalado;
    if (const auto* n = std::get_if<Numerico>(&v)) {
        escalado = Reescalar(n->Valor, n->Escala, p.Escala);
    } else if (const auto inteiro = InteiroDe(v)) {
        escalado = Reescalar(*inteiro, 0, p.Escala);
    } else if (std::holds_alternative<float>(v) || std::holds_alternative<double>(v)) {
        const double d = std::holds_alternative<float>(v) ? std::get<float>(v) : std::get<double>(v);
        const double x = std::round(d * std::pow(10.0, -p.Escala));
        if (std::isfinite(x) && x >= -9.2233720368547758e18 && x < 9.2233720368547758e18)
            escalado = static_cast<std::int64_t>(x);
    } else {
        return Gravacao::TipoErrado;
    }
    if (!escalado || *escalado < std::numeric_limits<I>::min() || *escalado > std::numeric_limits<I>::max())
        return Gravacao::NaoCabe;
    Guardar(dado, static_cast<I>(*escalado));
    return Gravacao::Gravado;
}

template <class I>
Valor LerInteiro(const DescricaoCampo& c, const unsigned char* dado, std::string_view) {
    const I x = Carregar<I>(dado);
    if (c.Escala < 0) return Numerico{x, c.Escala};
    return x;
}

template <class F>
Gravacao GravarFlutuante(const DescricaoCampo&, const Valor& v, unsigned char* dado, std::optional<std::string>&) {
    double d = 0;
    if (const auto* n = std::get_if<Numerico>(&v)) d = n->ComoDouble();
    else if (const auto* f = std::get_if<float>(&v)) d = *f;
    else if (const auto* x = std::get_if<double>(&v)) d = *x;
    else if (const auto i = InteiroDe(v)) d = static_cast<double>(*i);
    else return Gravacao::TipoErrado;
    Guardar(dado, static_cast<F>(d));
    return Gravacao::Gravado;
}

template <class F>
Valor LerFlutuante(const DescricaoCampo&, const unsigned char* dado, std::string_view) {
    return Carregar<F>(dado);
}

ISC_DATE CodificarData(const Data& d) {
    return fb::Util()->encodeDate(static_cast<unsigned>(d.Ano), static_cast<unsigned>(d.Mes),
                                  static_cast<unsigned>(d.Dia));
}

ISC_TIME CodificarHora(const Hora& h) {
    return fb::Util()->encodeTime(static_cast<unsigned>(h.Horas), static_cast<unsigned>(h.Minutos),
                                  static_cast<unsigned>(h.Segundos), static_cast<unsigned>(h.DecimosMilesimos));
}

Data DecodificarData(ISC_DATE x) {
    unsigned a, m, d;
    fb::Util()->decodeDate(x, &a, &m, &d);
    return Data{static_cast<int>(a), static_cast<int>(m), static_cast<int>(d)};
}

Hora DecodificarHora(ISC_TIME x) {
    unsigned h, mi, s, f;
    fb::Util()->decodeTime(x, &h, &mi, &s, &f);
    return Hora{static_cast<int>(h), static_cast<int>(mi), static_cast<int>(s), static_cast<int>(f)};
}

unsigned char CodificarBooleano(const bool& b) { return b ? 1 : 0; }
bool DecodificarBooleano(unsigned char x) { return x != 0; }

// The kinds that take exactly one kind of value, stored as `Bruto`.
template <class T, class Bruto, Bruto (*Codificar)(const T&)>
Gravacao GravarExato(const DescricaoCampo&, const Valor& v, unsigned char* dado, std::optional<std::string>&) {
    const auto* x = std::get_if<T>(&v);
    if (!x) return Gravacao::TipoErrado;
    Guardar(dado, Codificar(*x));
    return Gravacao::Gravado;
}

template <class T, class Bruto, T (*Decodificar)(Bruto)>
Valor LerExato(const DescricaoCampo&, const unsigned char* dado, std::string_view) {
    return Decodificar(Carregar<Bruto>(dado));
}

// A date alone is that day at midnight.
Gravacao GravarDataHora(const DescricaoCampo&, const Valor& v, unsigned char* dado, std::optional<std::string>&) {
    DataHora dh;
    if (const auto* x = std::get_if<DataHora>(&v)) dh = *x;
    else if (const auto* d = std::get_if<Data>(&v)) dh.D = *d;
    else return Gravacao::TipoErrado;
    Guardar(dado, ISC_TIMESTAMP{CodificarData(dh.D), CodificarHora(dh.H)});
    return Gravacao::Gravado;
}

DataHora DecodificarDataHora(ISC_TIMESTAMP ts) {
    return DataHora{DecodificarData(ts.timestamp_date), DecodificarHora(ts.timestamp_time)};
}

// Whether a server-side text exceeds `caracteres` characters or `bytes`.
bool Excede(const std::string& texto, unsigned charset, unsigned caracteres, unsigned bytes) {
    if (texto.size() > bytes) return true;
    if (charset != kCharsetUtf8) return texto.size() > caracteres;
    return ContarCaracteresUtf8(texto) > caracteres;
}

// CHAR and VARCHAR: text in the parameter's character set, or raw bytes in
// an OCTETS one. A CHAR loses its trailing blanks. By the connection's
// rules a text left empty is NULL and a longer one is cut to the declared
// length; with exact texts (Exato) an empty text stays an empty text (a
// CHAR of blanks) and a longer one is refused.
template <bool Exato>
Gravacao GravarTexto(const DescricaoCampo& p, const Valor& v, unsigned char* dado, std::optional<std::string>&) {
    const bool octetos = p.ConjuntoCaracteres == kCharsetOctets;
    const bool fixo = p.Categoria == TTipoCampo::tcChar;
    std::string bruto;
    if (const auto* s = std::get_if<std::string>(&v))
        bruto = ParaServidor(*s, p.ConjuntoCaracteres);
    else if (const auto* b = std::get_if<Bytes>(&v); b && octetos)
        bruto.assign(b->begin(), b->end());
    else
        return Gravacao::TipoErrado;
    if (!octetos) {
        if (fixo) ApararDireita(bruto);
        if (!Exato && bruto.empty()) return Gravacao::Nulo;
    }
    if (Exato) {
        if (Excede(bruto, p.ConjuntoCaracteres, p.TamanhoCaracteres(), p.Tamanho)) return Gravacao::NaoCabe;
    } else {
        Cortar(bruto, p.ConjuntoCaracteres, p.TamanhoCaracteres(), p.Tamanho);
    }
    if (fixo) {
        std::memset(dado, octetos ? 0 : ' ', p.Tamanho);
    } else {
        Guardar(dado, static_cast<std::uint16_t>(bruto.size()));
        dado += sizeof(std::uint16_t);
    }
    std::memcpy(dado, bruto.data(), bruto.size());
    return Gravacao::Gravado;
}

template <bool Exato>
Valor LerTexto(const DescricaoCampo& c, const unsigned char* dado, std::string_view) {
    const bool fixo = c.Categoria == TTipoCampo::tcChar;
    const auto* inicio = reinterpret_cast<const char*>(dado);
    const std::string_view bruto = fixo ? std::string_view(inicio, c.Tamanho)
                                        : std::string_view(inicio + 2, Carregar<std::uint16_t>(dado));
    if (c.ConjuntoCaracteres == kCharsetOctets) return Bytes(bruto.begin(), bruto.end());
    std::string texto = DoServidor(bruto, c.ConjuntoCaracteres);
    if (fixo) ApararDireita(texto);
    if (!Exato && texto.empty()) return {};
    return texto;
}

template <bool Exato>
Gravacao GravarBlobTexto(const DescricaoCampo& p, const Valor& v, unsigned char*, std::optional<std::string>& blob) {
    const auto* s = std::get_if<std::string>(&v);
    if (!s) return Gravacao::TipoErrado;
    std::string bruto = ParaServidor(*s, p.ConjuntoCaracteres);
    if (!Exato && bruto.empty()) return Gravacao::Nulo;
    blob = std::move(bruto);
    return Gravacao::Gravado;
}

template <bool Exato>
Valor LerBlobTexto(const DescricaoCampo& c, const unsigned char*, std::string_view blob) {
    std::string texto = DoServidor(blob, c.ConjuntoCaracteres);
    if (!Exato && texto.empty()) return {};
    return texto;
}

Gravacao GravarBlobBinario(const DescricaoCampo&, const Valor& v, unsigned char*, std::optional<std::string>& blob) {
    const auto* b = std::get_if<Bytes>(&v);
    if (!b) return Gravacao::TipoErrado;
    blob = std::string(b->begin(), b->end());
    return Gravacao::Gravado;
}

Valor LerBlobBinario(const DescricaoCampo&, const unsigned char*, std::string_view blob) {
    return Bytes(blob.begin(), blob.end());
}

Valor LerNulo(const DescricaoCampo&, const unsigned char*, std::string_view) { return {}; }

struct Codec {
    Codificador Gravar;  // null: no value can be bound to the kind
    Decodificador Ler;   // null: this layer cannot read the kind
};

// Indexed by TTipoCampo, in its order.
constexpr Codec kCodecs[] = {
    {GravarInteiro<std::int16_t>, LerInteiro<std::int16_t>},  // tcSmallint
    {GravarInteiro<std::int32_t>, LerInteiro<std::int32_t>},  // tcInteger
    {GravarInteiro<std::int64_t>, LerInteiro<std::int64_t>},  // tcBigint
    {GravarFlutuante<float>, LerFlutuante<float>},            // tcFloat
    {GravarFlutuante<double>, LerFlutuante<double>},          // tcDouble
    {GravarExato<Data, ISC_DATE, CodificarData>, LerExato<Data, ISC_DATE, DecodificarData>},  // tcData
    {GravarExato<Hora, ISC_TIME, CodificarHora>, LerExato<Hora, ISC_TIME, DecodificarHora>},  // tcHora
    {GravarDataHora, LerExato<DataHora, ISC_TIMESTAMP, DecodificarDataHora>},              // tcDataHora
    {GravarTexto<false>, LerTexto<false>},                    // tcChar
    {GravarTexto<false>, LerTexto<false>},                    // tcVarchar
    {GravarBlobTexto<false>, LerBlobTexto<false>},            // tcBlobTexto
    {GravarBlobBinario, LerBlobBinario},                      // tcBlobBinario
    {GravarExato<bool, unsigned char, CodificarBooleano>,
     LerExato<bool, unsigned char, DecodificarBooleano>},  // tcBooleano
    {nullptr, LerNulo},                                       // tcNulo
    {nullptr, nullptr},                                       // tcOutro
};
static_assert(std::size(kCodecs) == static_cast<std::size_t>(TTipoCampo::tcOutro) + 1);

// The text kinds of a statement with exact texts (Consulta::DefinirTextosExatos).
constexpr Codec kCodecTextoExato{GravarTexto<true>, LerTexto<true>};
constexpr Codec kCodecBlobTextoExato{GravarBlobTexto<true>, LerBlobTexto<true>};

const Codec& CodecDe(const DescricaoCampo& d, bool textosExatos) {
    if (textosExatos) {
        if (d.EhTexto()) return kCodecTextoExato;
        if (d.Categoria == TTipoCampo::tcBlobTexto) return kCodecBlobTextoExato;
    }
    return kCodecs[static_cast<std::size_t>(d.Categoria)];
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
                construtor->setCharSet(&s, i, layout[i].Categoria == TTipoCampo::tcBlobTexto
                                                  ? (layout[i].ConjuntoCaracteres == kCharsetUtf8 ? kCharsetUtf8
                                                                                                  : kCharsetLatin1)
                                                  : kCharsetOctets);
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
    bool cabem = true;
    bool temBlob = false;
    for (std::size_t i = 0; i < parametros_.size(); ++i) {
        if (!parametros_[i].EhBlob()) continue;
        temBlob = true;
        if (blobs_[i] && blobs_[i]->size() > kMaximoVarchar) cabem = false;
    }
    if (!temBlob || cabem) {
        for (std::size_t i = 0; i < parametros_.size(); ++i) {
            const auto& p = parametros_[i];
            if (!p.EhBlob() || !blobs_[i]) continue;
            const auto tam = static_cast<std::uint16_t>(blobs_[i]->size());
            std::memcpy(Entrada() + p.Deslocamento, &tam, sizeof tam);
            std::memcpy(Entrada() + p.Deslocamento + sizeof tam, blobs_[i]->data(), blobs_[i]->size());
        }
        buffer = Entrada();
        return metaEntrada_.get();
    }
    // A blob too big to travel inline: send the server's own layout and
    // create every blob in the client first.
    auto* original = reinterpret_cast<unsigned char*>(entradaOriginal_.data());
    auto* anexo = conexao_.Anexo();
    for (std::size_t i = 0; i < parametros_.size(); ++i) {
        const auto& p = parametros_[i];
        const auto& o = layoutOriginal_[i];
        const auto indicador = *reinterpret_cast<const std::int16_t*>(Entrada() + p.DeslocamentoNulo);
        std::memcpy(original + o.DeslocamentoNulo, &indicador, sizeof indicador);
        if (!p.EhBlob()) {
            const unsigned tam = p.Categoria == TTipoCampo::tcVarchar ? p.Tamanho + 2 : p.Tamanho;
            std::memcpy(original + o.Deslocamento, Entrada() + p.Deslocamento, tam);
            continue;
        }
        if (!blobs_[i]) continue;
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
