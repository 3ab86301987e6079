#include "db/vinculo.h"

#include <cstdint>
#include <string>

#include "db/mensagens.h"
#include "protocolo/texto.h"

namespace ondaris::db {
using protocolo::CabeEmLatin1;
using protocolo::ContarCaracteresUtf8;
using protocolo::TConfiguracoesRegionais;
using protocolo::Utf8ParaLatin1;

std::optional<TTipoSQL> StrtoTipoSQL(std::string_view Acao) {
    // "I": stores whose own triggers log inserts with that letter send it
    // as it stands, and a sender built to the format sends every kind but
    // "D" with the row's content; it is the row as "U" is.
    if (Acao == "U" || Acao == "I") return TTipoSQL::tsUpdateInsert;
    if (Acao == "D") return TTipoSQL::tsDelete;
    if (Acao == "S") return TTipoSQL::tsSelect;
    return std::nullopt;
}

bool ParametroBinario(const DescricaoCampo& parametro) {
    return parametro.Categoria == TTipoCampo::tcBlobBinario;
}

namespace {

// The value of an integer column, or ErroLeitura saying why there is none.
std::int64_t InteiroNoIntervalo(std::string_view texto, std::int64_t minimo, std::int64_t maximo, const char* tipo) {
    const auto v = LerInteiro64(texto);
    if (!v) throw ErroLeitura(TextoNaoEhInteiro(texto));
    if (*v < minimo || *v > maximo) throw ErroLeitura(TextoForaDoIntervalo(texto, tipo));
    return *v;
}

// A text exactly as received, or ErroLeitura: a character the attachment's
// Latin-1 cannot carry, or a byte the answer's character set did not allow
// (decoded as U+FFFD), would be stored as something else.
std::string TextoExato(std::string_view texto, unsigned conjunto) {
    if (texto.find("\xEF\xBF\xBD") != std::string_view::npos)
        throw ErroLeitura(kTextoBytesInvalidos);
    if (conjunto != kCharsetUtf8 && !CabeEmLatin1(texto))
        throw ErroLeitura(kTextoCaractereSemLugar);
    return std::string(texto);
}

// A text for a CHAR or VARCHAR column that the column holds whole, or
// ErroLeitura: cutting it would store another value. Lengths count
// characters (bytes in OCTETS); a CHAR's trailing blanks are no part of its
// value.
void ExigirQueCaiba(const DescricaoCampo& p, std::string_view texto) {
    const bool octetos = p.ConjuntoCaracteres == kCharsetOctets;
    if (p.Categoria == TTipoCampo::tcChar && !octetos) {
        const auto fim = texto.find_last_not_of(' ');
        texto = fim == std::string_view::npos ? std::string_view() : texto.substr(0, fim + 1);
    }
    const std::size_t tamanho = ContarCaracteresUtf8(texto);
    const std::size_t maximo = octetos ? p.Tamanho : p.TamanhoCaracteres();
    if (tamanho <= maximo) return;
    throw ErroLeitura(TextoNaoCabe(tamanho, maximo, p.NomeTipo(), octetos));
}

}  // namespace

Valor LerValorParametro(const DescricaoCampo& p, std::string_view texto, const TConfiguracoesRegionais& regional,
                        int anoAtual) {
    if (p.EhNumerico()) {
        const auto v = LerNumerico(texto, -p.Escala, regional);
        if (!v) {
            throw ErroLeitura(LerDecimal(texto, regional) ? TextoForaDoIntervalo(texto, p.NomeTipo())
                                                          : TextoNaoEhDecimal(texto, p.NomeTipo()));
        }
        // Whether it fits the column's storage is checked when it is bound.
        return Numerico{*v, p.Escala};
    }
    switch (p.Categoria) {
        case TTipoCampo::tcChar:
        case TTipoCampo::tcVarchar:
            // Raw bytes travel as the characters of the same codes.
            if (p.ConjuntoCaracteres == kCharsetOctets) {
                const std::string bytes = Utf8ParaLatin1(TextoExato(texto, kCharsetOctets));
                ExigirQueCaiba(p, texto);
                return Bytes(bytes.begin(), bytes.end());
            }
            ExigirQueCaiba(p, TextoExato(texto, p.ConjuntoCaracteres));
            return std::string(texto);
        case TTipoCampo::tcBlobTexto: return TextoExato(texto, p.ConjuntoCaracteres);
        case TTipoCampo::tcSmallint:
            return static_cast<std::int16_t>(InteiroNoIntervalo(texto, INT16_MIN, INT16_MAX, "SMALLINT"));
        case TTipoCampo::tcInteger:
            return static_cast<std::int32_t>(InteiroNoIntervalo(texto, INT32_MIN, INT32_MAX, "INTEGER"));
        case TTipoCampo::tcBigint: return InteiroNoIntervalo(texto, INT64_MIN, INT64_MAX, "BIGINT");
        case TTipoCampo::tcDouble:
        case TTipoCampo::tcFloat: {
            const bool curto = p.Categoria == TTipoCampo::tcFloat;
            std::optional<double> v;
            if (!curto) v = LerDouble(texto, regional);
            else if (const auto f = LerFloat(texto, regional)) v = *f;
            if (!v) {
                const char* tipo = curto ? "FLOAT" : "DOUBLE PRECISION";
                throw ErroLeitura(LerDecimal(texto, regional) ? TextoForaDoIntervalo(texto, tipo)
                                                              : TextoNaoEhNumero(texto, tipo));
            }
            return curto ? Valor(static_cast<float>(*v)) : Valor(*v);
        }
        case TTipoCampo::tcBooleano: {
            const auto b = LerBooleano(texto);
            if (!b) throw ErroLeitura(TextoNaoEhBooleano(texto));
            return *b;
        }
        case TTipoCampo::tcData: return LerData(texto, regional, anoAtual);
        case TTipoCampo::tcHora: return LerHora(texto, regional);
        case TTipoCampo::tcDataHora: return LerDataHora(texto, regional, anoAtual);
        case TTipoCampo::tcBlobBinario:
        case TTipoCampo::tcNulo:
        case TTipoCampo::tcOutro: return {};
    }
    return {};
}

void TratarParametroPosicao(Consulta& Qry, std::size_t posicao, std::string_view Valor,
                            const TConfiguracoesRegionais& regional, int anoAtual) {
    const auto& parametros = Qry.Parametros();
    if (posicao >= parametros.size())
        throw ErroUso("comando " + Qry.Nome() + " não tem parâmetro na posição " + std::to_string(posicao));
    const DescricaoCampo& p = parametros[posicao];
    if (ParametroBinario(p) || p.Categoria == TTipoCampo::tcNulo || p.Categoria == TTipoCampo::tcOutro) return;
    Qry.DefinirPosicao(posicao, LerValorParametro(p, Valor, regional, anoAtual));
}

void TratarParametro(Consulta& Qry, std::string_view NomeParametro, std::string_view Valor,
                     const TConfiguracoesRegionais& regional, int anoAtual) {
    const auto posicao = Qry.PosicaoParametro(NomeParametro);
    if (!posicao) throw ErroUso("comando " + Qry.Nome() + " não tem parâmetro chamado " + std::string(NomeParametro));
    TratarParametroPosicao(Qry, *posicao, Valor, regional, anoAtual);
}

}  // namespace ondaris::db
