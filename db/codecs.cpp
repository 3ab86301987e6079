#include "db/codecs.h"

#include <cmath>
#include <cstring>
#include <firebird/Interface.h>
#include <limits>

#include "db/fb.h"
#include "protocolo/texto.h"

namespace ondaris::db {
using protocolo::ContarCaracteresUtf8;
using protocolo::Data;
using protocolo::DataHora;
using protocolo::Hora;
using protocolo::Latin1ParaUtf8;
using protocolo::PrimeirosCaracteresUtf8;
using protocolo::Utf8ParaLatin1;

namespace {

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

// The text kinds of a statement with exact texts (Consulta::DefinirTextosExatos).
constexpr Codec kCodecTextoExato{GravarTexto<true>, LerTexto<true>};
constexpr Codec kCodecBlobTextoExato{GravarBlobTexto<true>, LerBlobTexto<true>};

}  // namespace

const Codec& CodecDe(const DescricaoCampo& d, bool textosExatos) {
    // Keyed by the kind itself, one case each: the compiler names a kind
    // added without one, and no order of the enum can give a kind another
    // kind's codec.
    static constexpr Codec kSmallint{GravarInteiro<std::int16_t>, LerInteiro<std::int16_t>};
    static constexpr Codec kInteger{GravarInteiro<std::int32_t>, LerInteiro<std::int32_t>};
    static constexpr Codec kBigint{GravarInteiro<std::int64_t>, LerInteiro<std::int64_t>};
    static constexpr Codec kFloat{GravarFlutuante<float>, LerFlutuante<float>};
    static constexpr Codec kDouble{GravarFlutuante<double>, LerFlutuante<double>};
    static constexpr Codec kData{GravarExato<Data, ISC_DATE, CodificarData>, LerExato<Data, ISC_DATE, DecodificarData>};
    static constexpr Codec kHora{GravarExato<Hora, ISC_TIME, CodificarHora>, LerExato<Hora, ISC_TIME, DecodificarHora>};
    static constexpr Codec kDataHora{GravarDataHora, LerExato<DataHora, ISC_TIMESTAMP, DecodificarDataHora>};
    static constexpr Codec kTexto{GravarTexto<false>, LerTexto<false>};
    static constexpr Codec kBlobTexto{GravarBlobTexto<false>, LerBlobTexto<false>};
    static constexpr Codec kBlobBinario{GravarBlobBinario, LerBlobBinario};
    static constexpr Codec kBooleano{GravarExato<bool, unsigned char, CodificarBooleano>,
                                     LerExato<bool, unsigned char, DecodificarBooleano>};
    static constexpr Codec kNulo{nullptr, LerNulo};
    static constexpr Codec kOutro{nullptr, nullptr};
    switch (d.Categoria) {
        case TTipoCampo::tcSmallint: return kSmallint;
        case TTipoCampo::tcInteger: return kInteger;
        case TTipoCampo::tcBigint: return kBigint;
        case TTipoCampo::tcFloat: return kFloat;
        case TTipoCampo::tcDouble: return kDouble;
        case TTipoCampo::tcData: return kData;
        case TTipoCampo::tcHora: return kHora;
        case TTipoCampo::tcDataHora: return kDataHora;
        case TTipoCampo::tcChar:
        case TTipoCampo::tcVarchar: return textosExatos ? kCodecTextoExato : kTexto;
        case TTipoCampo::tcBlobTexto: return textosExatos ? kCodecBlobTextoExato : kBlobTexto;
        case TTipoCampo::tcBlobBinario: return kBlobBinario;
        case TTipoCampo::tcBooleano: return kBooleano;
        case TTipoCampo::tcNulo: return kNulo;
        case TTipoCampo::tcOutro: return kOutro;
    }
    return kOutro;
}

}  // namespace ondaris::db
