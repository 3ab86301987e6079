#include "db/vinculo.h"

#include <string>

#include "db/texto.h"

namespace ondaris::db {

std::optional<TTipoSQL> StrtoTipoSQL(std::string_view Acao) {
    if (Acao == "U") return TTipoSQL::tsUpdateInsert;
    if (Acao == "D") return TTipoSQL::tsDelete;
    if (Acao == "S") return TTipoSQL::tsSelect;
    return std::nullopt;
}

TTipoOperacao StrtoTipoOperacao(std::string_view Str) {
    return Str == "D" ? TTipoOperacao::toDelete : TTipoOperacao::toInsertUpdate;
}

bool ParametroBinario(const DescricaoCampo& parametro) {
    return parametro.Categoria == TTipoCampo::tcBlobBinario;
}

Valor LerValorParametro(const DescricaoCampo& p, std::string_view texto, const TConfiguracoesRegionais& regional,
                        int anoAtual) {
    if (p.EhNumerico()) return Numerico{LerNumerico(texto, -p.Escala, regional), p.Escala};
    switch (p.Categoria) {
        case TTipoCampo::tcChar:
        case TTipoCampo::tcVarchar:
            // Raw bytes travel as the characters of the same codes.
            if (p.ConjuntoCaracteres == kCharsetOctets) {
                const std::string bytes = Utf8ParaLatin1(texto);
                return Bytes(bytes.begin(), bytes.end());
            }
            return std::string(texto);
        case TTipoCampo::tcBlobTexto: return std::string(texto);
        case TTipoCampo::tcSmallint:
            // The low 16 bits, as a signed value: what the column has always
            // received for a text beyond its range.
            return static_cast<std::int16_t>(static_cast<std::uint16_t>(LerInteiro32(texto) & 0xFFFF));
        case TTipoCampo::tcInteger: return LerInteiro32(texto);
        case TTipoCampo::tcBigint: return LerInteiro64(texto);
        case TTipoCampo::tcDouble: return LerDouble(texto, regional);
        case TTipoCampo::tcFloat: return LerFloat(texto, regional);
        case TTipoCampo::tcBooleano: {
            const auto b = LerBooleano(texto);
            return b ? Valor(*b) : Valor();
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
        throw ErroUso("statement " + Qry.Nome() + " has no parameter at position " + std::to_string(posicao));
    const DescricaoCampo& p = parametros[posicao];
    if (ParametroBinario(p) || p.Categoria == TTipoCampo::tcNulo || p.Categoria == TTipoCampo::tcOutro) return;
    Qry.DefinirPosicao(posicao, LerValorParametro(p, Valor, regional, anoAtual));
}

void TratarParametro(Consulta& Qry, std::string_view NomeParametro, std::string_view Valor,
                     const TConfiguracoesRegionais& regional, int anoAtual) {
    const std::string nome = MaiusculasAscii(NomeParametro);
    const auto& parametros = Qry.Parametros();
    for (std::size_t i = 0; i < parametros.size(); ++i)
        if (parametros[i].Nome == nome) return TratarParametroPosicao(Qry, i, Valor, regional, anoAtual);
    throw ErroUso("statement " + Qry.Nome() + " has no parameter named " + std::string(NomeParametro));
}

}  // namespace ondaris::db
