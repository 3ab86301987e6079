#pragma once
// The texts a technician reads that come from the database layer: errors
// raised while reading a received value, preparing a statement or reading
// the replication objects, all in Portuguese. The counting rule ("1
// linha", "2 linhas") is the protocol's (protocolo/mensagens.h), shared
// with the central server.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "protocolo/mensagens.h"

namespace ondaris::db {

// A received text shown between single quotes, as the reading errors
// below show it.
std::string Citado(std::string_view texto);

// Reading a received text as a column's value.
std::string TextoNaoEhInteiro(std::string_view texto);
std::string TextoForaDoIntervalo(std::string_view texto, std::string_view tipo);
std::string TextoNaoEhDecimal(std::string_view texto, std::string_view tipo);
std::string TextoNaoEhNumero(std::string_view texto, std::string_view tipo);
std::string TextoNaoEhBooleano(std::string_view texto);
std::string TextoNaoEhData(std::string_view texto);
std::string TextoNaoEhHora(std::string_view texto);
std::string TextoNaoEhDataHora(std::string_view texto);
inline constexpr const char* kTextoBytesInvalidos =
    "o texto tem bytes que não são válidos no conjunto de caracteres da resposta";
inline constexpr const char* kTextoCaractereSemLugar =
    "o texto tem um caractere que o conjunto de caracteres da coluna não comporta";
// A text longer than its CHAR/VARCHAR column (in bytes for OCTETS).
std::string TextoNaoCabe(std::size_t tamanho, std::size_t maximo, std::string_view tipo, bool emBytes);

// Preparing the statements of a replicated table.
std::string NomeNaoSimples(bool deTabela, std::string_view nomeMostrado);
std::string ChaveLongaDemais(std::string_view tabela, std::size_t colunasChave, std::size_t maximo);
std::string TabelaSemColunas(std::string_view tabela, bool daEstrutura);
std::string TabelaSemChave(std::string_view tabela, bool paraApagar);

}  // namespace ondaris::db
