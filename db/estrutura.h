#pragma once
// TEstrutura: the in-memory list of replicated tables and columns that the
// central server hands out at the start of every cycle. The global data
// module owns one for the whole run; the structure download empties and
// refills it, and the update-or-insert builder asks it which columns to list
// for a table. Rows keep the order in which they were added; there is no
// key and duplicates are kept.
//
// Every field may be NULL (std::nullopt), which is not the same as empty
// text. Values are cut to the field's width in characters and hold only
// characters of the single-byte character set of the store database
// (ISO-8859-1): any other character is stored as "?". Strings are UTF-8.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ondaris::db {

struct TLinhaEstrutura {
    std::optional<std::string> TABELA;
    std::optional<std::string> CAMPO;
    std::optional<std::string> CHAVE;
    bool operator==(const TLinhaEstrutura&) const = default;
};

class TEstrutura {
public:
    static constexpr std::size_t LarguraTabela = 100;
    static constexpr std::size_t LarguraCampo = 100;
    static constexpr std::size_t LarguraChave = 30;

    void Limpar() { linhas_.clear(); }
    // Appends one row, each value converted and cut as described above.
    void Adicionar(std::optional<std::string> tabela, std::optional<std::string> campo,
                   std::optional<std::string> chave);

    const std::vector<TLinhaEstrutura>& Linhas() const { return linhas_; }
    std::size_t Quantidade() const { return linhas_.size(); }
    bool Vazia() const { return linhas_.empty(); }

    // The CAMPO values of the rows whose TABELA equals the table name with
    // its letters a-z upper-cased (the catalogue's form), in row order. The
    // comparison is exact otherwise, so a table stored in lower case is
    // never found. Rows whose CAMPO is NULL or empty name no column and are
    // left out.
    std::vector<std::string> CamposDaTabela(std::string_view tabela) const;

private:
    std::vector<TLinhaEstrutura> linhas_;
};

// UTF-8 text reduced to the ISO-8859-1 repertoire (other characters, and
// bytes that are not valid UTF-8, become "?") and cut to at most `largura`
// characters. The result is UTF-8 again.
std::string CortarLatin1(std::string_view texto, std::size_t largura);

}  // namespace ondaris::db
