#pragma once
// A prepared statement with named parameters, on one connection and run in
// one transaction; also its result set when it is a query. This is the
// statement's life cycle (preparing, again after a reconnection, binding,
// running, fetching, reading blobs); the conversion of each kind of value
// is in db/codecs.h, the input message's layout with blobs in
// db/mensagem.h.
//
// The statement text uses ":NAME" markers (db/parametros.h). Once prepared,
// every parameter and column carries the type the server describes (type,
// sub-type, scale, length, character set); a value is bound or read by name
// (without regard to case; a name used twice in the text binds every
// position) or by position. The statement is prepared once and executed
// many times; between executions only the changed parameters need binding.
// Values stay bound until changed.
//
// The data-conversion rules hold on every bind and read: fixed-length text
// (CHAR) loses its trailing blanks; a text that is then empty is NULL; a
// bound text longer than the parameter's declared length is cut to it, in
// characters, without error. Text crosses as Latin-1 (protocolo/texto.h). Text
// blobs are read and written as text, other blobs as bytes.
//
// A statement with exact texts (DefinirTextosExatos), as every statement
// of replicated rows is, departs from two of those rules, which would
// change a value: an empty text (text blobs included) is an empty text on
// bind and on read, not NULL, so a CHAR of blanks reads as "" and is
// written back as blanks; and a text longer than its parameter is refused
// like a number too big for its parameter, never cut.
//
// Binding a value of the wrong kind (a text to an INTEGER, say) is a usage
// error naming both types; a number too big for its parameter is a database
// error, as the server would report it. Reading a NULL gives an empty
// std::optional / std::monostate, never an error.
//
// The Consulta belongs to whoever created it and must not outlive its
// connection or its transaction.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "db/conexao.h"
#include "db/fb.h"
#include "db/parametros.h"
#include "db/valor.h"

namespace ondaris::db {

class Consulta {
public:
    Consulta(Conexao& conexao, Transacao& transacao, std::string sql = {}, std::string nome = {});
    ~Consulta();
    Consulta(const Consulta&) = delete;
    Consulta& operator=(const Consulta&) = delete;

    const std::string& Nome() const { return nome_; }
    const std::string& Sql() const { return sql_; }
    // Replaces the text: closes and unprepares the statement and forgets
    // every parameter value.
    void DefinirSql(std::string sql);
    Transacao& TransacaoDona() { return *transacao_; }
    Conexao& ConexaoDona() { return conexao_; }

    // Prepares now (on demand otherwise). When the statement's transaction
    // is not active, a short read-only transaction serves the preparation:
    // preparing never starts the statement's own.
    void Preparar();
    bool Preparada() const { return static_cast<bool>(comando_); }

    // Exact texts (above); off unless set. Takes effect with the next bind
    // or read.
    void DefinirTextosExatos(bool exatos) { textosExatos_ = exatos; }
    bool TextosExatos() const { return textosExatos_; }

    // ---- parameters
    // Described by the server when first asked for, then kept: binding
    // never prepares the statement again.
    const std::vector<DescricaoCampo>& Parametros();
    // The first position of a name, without regard to case; nothing for a
    // name the text does not use.
    std::optional<std::size_t> PosicaoParametro(std::string_view nome);
    // Binds by name (every position of it) or by zero-based position; an
    // empty optional, or std::monostate, is NULL.
    void Definir(std::string_view nome, const Valor& valor);
    template <class T>
    void Definir(std::string_view nome, const std::optional<T>& valor) {
        Definir(nome, valor ? Valor(*valor) : Valor());
    }
    void DefinirPosicao(std::size_t posicao, const Valor& valor);
    // True when the parameter at that position is bound to NULL (an empty
    // text is bound as NULL, see the conversion rules).
    bool ParametroNulo(std::size_t posicao);

    // ---- execution
    // Runs a statement that opens no result set (a singleton result, as of
    // EXECUTE PROCEDURE or RETURNING, becomes the current row). A SELECT
    // goes through Abrir().
    void Executar();
    // Rows changed by the last Executar(); ask before the statement runs
    // again.
    std::int64_t LinhasAfetadas();
    // Opens the result set (closing one still open) and moves to its first
    // row; false when there is none.
    bool Abrir();
    // Moves to the next row; false at the end, where the result set closes.
    bool Proximo();
    void Fechar();
    bool Aberta() const { return static_cast<bool>(cursor_); }
    // A row is current (after Abrir/Proximo returned true, or a singleton).
    bool TemLinha() const { return temLinha_; }

    // ---- columns of the current row
    const std::vector<DescricaoCampo>& Colunas();
    std::optional<std::size_t> IndiceColuna(std::string_view nome);
    Valor Ler(std::size_t coluna);
    Valor Ler(std::string_view nome);
    // The column's value as T by ValorComo (db/valor.h): NULL is an empty
    // optional whatever the column; a value T cannot hold is a usage error
    // naming both types.
    template <class T>
    std::optional<T> Ler(std::size_t coluna) {
        Valor v = Ler(coluna);
        if (std::holds_alternative<std::monostate>(v)) return std::nullopt;
        T saida{};
        if (!ValorComo(std::move(v), saida)) ErroTipoColuna(coluna, NomeTipo<T>());
        return saida;
    }
    template <class T>
    std::optional<T> Ler(std::string_view nome) {
        return Ler<T>(IndiceColunaOuErro(nome));
    }

private:
    friend class Conexao;
    // The attachment is gone: forget every handle, keep text and values.
    void Perdida() noexcept;
    void FecharCursorSemServidor() noexcept;
    void GarantirPreparada();
    void GarantirDescrita();
    std::size_t PosicaoOuErro(std::size_t posicao);
    // "parameter NAME of statement NAME", for error texts.
    std::string NomeParametro(std::size_t i) const;
    bool Buscar();
    void PrepararFb();
    void DescreverParametros(Firebird::IStatement* st);
    void DescreverColunas(Firebird::IStatement* st);
    // The input message as sent: its metadata and buffer for this execution.
    Firebird::IMessageMetadata* MontarEntrada(Firebird::ITransaction* tra, unsigned char*& buffer);
    void GravarParametro(std::size_t i, const Valor& v);
    std::size_t IndiceColunaOuErro(std::string_view nome);
    [[noreturn]] void ErroTipoColuna(std::size_t i, const char* pedido);
    std::string LerBlob(std::size_t i);
    unsigned char* Entrada() { return reinterpret_cast<unsigned char*>(entrada_.data()); }
    unsigned char* Saida() { return reinterpret_cast<unsigned char*>(saida_.data()); }

    Conexao& conexao_;
    Transacao* transacao_;
    std::string sql_;
    std::string nome_;
    SqlPosicional posicional_;
    bool reescrito_ = false;
    bool textosExatos_ = false;

    fb::ComandoFb comando_;
    fb::CursorFb cursor_;
    unsigned tipoComando_ = 0;
    bool cursorContaAtivo_ = false;  // the open cursor counts as active in its transaction
    bool temLinha_ = false;
    std::optional<std::int64_t> afetadas_;

    // Parameters: the server's own input metadata, and (when there are blob
    // parameters) a copy with every blob described as VARCHAR, so that the
    // server builds small blobs itself without extra round trips. The buffer
    // always follows the second layout; blob values are kept aside.
    bool descritos_ = false;
    std::vector<DescricaoCampo> parametros_;
    fb::Metadados metaEntradaOriginal_;
    fb::Metadados metaEntrada_;
    std::vector<DescricaoCampo> layoutOriginal_;
    std::vector<std::uint64_t> entrada_;
    std::vector<std::uint64_t> entradaOriginal_;
    std::vector<std::optional<std::string>> blobs_;

    std::vector<DescricaoCampo> colunas_;
    std::unordered_map<std::string, std::size_t> indiceColunas_;  // upper-case name -> first column
    fb::Metadados metaSaida_;
    std::vector<std::uint64_t> saida_;
};

}  // namespace ondaris::db
