#include "db/parametros.h"

#include "protocolo/texto.h"

namespace ondaris::db {
using protocolo::MaiusculasAscii;

namespace {

bool InicioNome(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }
bool ParteNome(char c) { return InicioNome(c) || (c >= '0' && c <= '9') || c == '$'; }

}  // namespace

SqlPosicional ReescreverParametros(std::string_view sql) {
    SqlPosicional r;
    r.Texto.reserve(sql.size());
    std::size_t i = 0;
    const std::size_t n = sql.size();
    // Keyword tracking, only to find the body of an EXECUTE BLOCK.
    int palavras = 0;
    bool executeBlock = false;
    bool primeiraExecute = false;
    int profundidade = 0;
    while (i < n) {
        const char c = sql[i];
        if (c == '\'' || c == '"') {
            // Literal or quoted identifier; a doubled quote stays inside.
            std::size_t j = i + 1;
            while (j < n) {
                if (sql[j] == c) {
                    if (j + 1 < n && sql[j + 1] == c) {
                        j += 2;
                        continue;
                    }
                    break;
                }
                ++j;
            }
            j = j < n ? j + 1 : n;
            r.Texto.append(sql.substr(i, j - i));
            i = j;
            continue;
        }
        if (c == '-' && i + 1 < n && sql[i + 1] == '-') {
            std::size_t j = sql.find('\n', i);
            j = j == std::string_view::npos ? n : j;
            r.Texto.append(sql.substr(i, j - i));
            i = j;
            continue;
        }
        if (c == '/' && i + 1 < n && sql[i + 1] == '*') {
            std::size_t j = sql.find("*/", i + 2);
            j = j == std::string_view::npos ? n : j + 2;
            r.Texto.append(sql.substr(i, j - i));
            i = j;
            continue;
        }
        if (c == ':' && i + 1 < n && InicioNome(sql[i + 1])) {
            std::size_t j = i + 1;
            while (j < n && ParteNome(sql[j])) ++j;
            const std::string nome = MaiusculasAscii(sql.substr(i + 1, j - i - 1));
            r.Posicoes[nome].push_back(r.Nomes.size());
            r.Nomes.push_back(nome);
            r.Texto.push_back('?');
            i = j;
            continue;
        }
        if (c == '?') {
            r.Nomes.emplace_back();
            r.Texto.push_back('?');
            ++i;
            continue;
        }
        if (InicioNome(c)) {
            std::size_t j = i;
            while (j < n && ParteNome(sql[j])) ++j;
            const std::string palavra = MaiusculasAscii(sql.substr(i, j - i));
            ++palavras;
            if (palavras == 1) primeiraExecute = palavra == "EXECUTE";
            if (palavras == 2) executeBlock = primeiraExecute && palavra == "BLOCK";
            r.Texto.append(sql.substr(i, j - i));
            i = j;
            if (executeBlock && profundidade == 0 && palavra == "AS") {
                r.Texto.append(sql.substr(i));  // the body keeps its own ":variables"
                return r;
            }
            continue;
        }
        if (c == '(') ++profundidade;
        if (c == ')' && profundidade > 0) --profundidade;
        r.Texto.push_back(c);
        ++i;
    }
    return r;
}

}  // namespace ondaris::db
