#include "db/mensagens.h"

#include "protocolo/texto.h"

namespace ondaris::db {
using protocolo::Quantidade;
using protocolo::kRegraIdentificador;

std::string Citado(std::string_view texto) { return "'" + std::string(texto) + "'"; }

std::string TextoNaoEhInteiro(std::string_view texto) { return Citado(texto) + " não é um valor inteiro válido"; }

std::string TextoForaDoIntervalo(std::string_view texto, std::string_view tipo) {
    return Citado(texto) + " está fora do intervalo de " + std::string(tipo);
}

std::string TextoNaoEhDecimal(std::string_view texto, std::string_view tipo) {
    return Citado(texto) + " não é um valor decimal válido para " + std::string(tipo);
}

std::string TextoNaoEhNumero(std::string_view texto, std::string_view tipo) {
    return Citado(texto) + " não é um número válido para " + std::string(tipo);
}

std::string TextoNaoEhBooleano(std::string_view texto) { return Citado(texto) + " não é um valor booleano válido"; }
std::string TextoNaoEhData(std::string_view texto) { return Citado(texto) + " não é uma data válida"; }
std::string TextoNaoEhHora(std::string_view texto) { return Citado(texto) + " não é uma hora válida"; }
std::string TextoNaoEhDataHora(std::string_view texto) { return Citado(texto) + " não é uma data e hora válida"; }

std::string TextoNaoCabe(std::size_t tamanho, std::size_t maximo, std::string_view tipo, bool emBytes) {
    const auto n = [&](std::size_t q) {
        return emBytes ? Quantidade(static_cast<std::int64_t>(q), "byte", "bytes")
                       : Quantidade(static_cast<std::int64_t>(q), "caractere", "caracteres");
    };
    return "o texto tem " + n(tamanho) + " e a coluna (" + std::string(tipo) + ") guarda no máximo " + n(maximo) +
           "; cortado, chegaria outro valor";
}

std::string NomeNaoSimples(bool deTabela, std::string_view nomeMostrado) {
    return std::string(deTabela ? "o nome de tabela " : "o nome de coluna ") + std::string(nomeMostrado) +
           " não é um identificador simples (" + kRegraIdentificador + ")";
}

std::string ChaveLongaDemais(std::string_view tabela, std::size_t colunasChave, std::size_t maximo) {
    return "a tabela " + std::string(tabela) + " tem chave primária de " +
           Quantidade(static_cast<std::int64_t>(colunasChave), "coluna", "colunas") + ": o log guarda no máximo " +
           Quantidade(static_cast<std::int64_t>(maximo), "valor", "valores") +
           " de chave, então suas alterações não podem ser replicadas";
}

std::string TabelaSemColunas(std::string_view tabela, bool daEstrutura) {
    return "a tabela " + std::string(tabela) + " não tem colunas " +
           (daEstrutura ? "na lista da estrutura" : "no catálogo do banco");
}

std::string TabelaSemChave(std::string_view tabela, bool paraApagar) {
    return "a tabela " + std::string(tabela) + " não tem chave primária: " +
           (paraApagar ? "uma exclusão ficaria sem condição" : "suas linhas não podem ser achadas a partir do log");
}

}  // namespace ondaris::db
