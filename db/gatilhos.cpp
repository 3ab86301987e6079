#include "db/gatilhos.h"

#include <cstdint>
#include <cstdio>

#include "db/conexao.h"
#include "db/construtores.h"
#include "db/mensagens.h"
#include "protocolo/texto.h"

namespace ondaris::db {
using protocolo::IdentificadorValido;
using protocolo::IguaisSemCaixa;
using protocolo::LiteralSql;
using protocolo::MaiusculasAscii;
using protocolo::Quantidade;
using protocolo::kRegraIdentificador;
using protocolo::kTamanhoMaximoIdentificador;

namespace {

constexpr const char* kSufixo = "_RPL";

bool IdentificadorMaiusculo(std::string_view nome) {
    return IdentificadorValido(nome) && MaiusculasAscii(nome) == nome;
}

// The procedure call of one log row.
std::string Registro(const std::string& tabela, const char* tipo, const std::string& chave1,
                     const std::string& chave2, const std::string& novaChave1) {
    return std::string("EXECUTE PROCEDURE ") + kProcedimentoRegistro + "(" + LiteralSql(tabela) + ", '" + tipo +
           "', " + chave1 + ", " + chave2 + ", " + novaChave1 + ");";
}

}  // namespace

bool TabelaDaReplicacao(std::string_view tabela) {
    for (const char* t : kTabelasReplicacao)
        if (IguaisSemCaixa(tabela, t)) return true;
    return false;
}

std::string NomeGatilhoRegistro(std::string_view tabela) {
    const std::string nome(tabela);
    if (nome.size() + 4 <= kTamanhoMaximoIdentificador) return nome + kSufixo;
    // FNV-1a: stable across builds and machines, so that every run finds
    // the trigger it made before.
    std::uint32_t h = 2166136261u;
    for (unsigned char c : nome) {
        h ^= c;
        h *= 16777619u;
    }
    char hexa[8];
    std::snprintf(hexa, sizeof hexa, "%04X", static_cast<unsigned>(h & 0xFFFFu));
    return nome.substr(0, kTamanhoMaximoIdentificador - 9) + "_" + hexa + kSufixo;
}

std::optional<std::string> MotivoRecusa(std::string_view tabela, const std::vector<TColunaChave>& chave) {
    const std::string t(tabela);
    if (!IdentificadorMaiusculo(tabela))
        return "o nome \"" + t + "\" não é um identificador simples em maiúsculas (" + kRegraIdentificador +
               "): tabelas com nome entre aspas não podem ser replicadas";
    if (TabelaDaReplicacao(tabela)) return t + " é uma tabela da própria replicação e não é registrada";
    if (chave.empty())
        return t + " não tem chave primária: uma alteração dela não poderia ser encontrada na outra loja";
    if (chave.size() > kMaximoColunasChave)
        return t + " tem chave primária de " +
               Quantidade(static_cast<std::int64_t>(chave.size()), "coluna", "colunas") + ": o log guarda no máximo " +
               Quantidade(static_cast<std::int64_t>(kMaximoColunasChave), "valor", "valores") + " de chave";
    for (const auto& c : chave) {
        if (!IdentificadorMaiusculo(c.Nome))
            return "a coluna de chave \"" + c.Nome + "\" de " + t + " não é um identificador simples em maiúsculas (" +
                   kRegraIdentificador + "): colunas com nome entre aspas não podem ser replicadas";
        switch (c.Tipo) {
            case TTipoColunaChave::tcInteiro: break;
            case TTipoColunaChave::tcTexto:
                if (c.Caracteres > kCaracteresValorChave)
                    return "a coluna de chave " + c.Nome + " de " + t + " (" + c.Declaracao + ") tem mais de " +
                           std::to_string(kCaracteresValorChave) + " caracteres, o tamanho dos valores de chave do log";
                if (!c.ConjuntoCompativel)
                    return "a coluna de chave " + c.Nome + " de " + t + " (" + c.Declaracao +
                           ") usa um conjunto de caracteres que as colunas de chave do log não guardam sem perda";
                break;
            case TTipoColunaChave::tcOutro:
                return "a coluna de chave " + c.Nome + " de " + t + " é do tipo " + c.Declaracao +
                       ": só chaves inteiras (SMALLINT, INTEGER, BIGINT) ou de texto (CHAR, VARCHAR) voltam "
                       "iguais do log, que as guarda como texto; datas e decimais seriam lidos na outra loja com "
                       "as configurações regionais dela";
        }
    }
    return std::nullopt;
}

TGatilhoRegistro GerarGatilhoRegistro(std::string_view tabela, const std::vector<TColunaChave>& chave) {
    if (auto motivo = MotivoRecusa(tabela, chave)) throw ErroGatilho(*motivo);

    TGatilhoRegistro g;
    g.Tabela = std::string(tabela);
    g.Nome = NomeGatilhoRegistro(tabela);
    const std::string& k1 = chave[0].Nome;
    const bool duas = chave.size() == 2;
    const std::string novo2 = duas ? "NEW." + chave[1].Nome : "NULL";
    const std::string velho2 = duas ? "OLD." + chave[1].Nome : "NULL";
    std::string mudou = "NEW." + k1 + " IS DISTINCT FROM OLD." + k1;
    if (duas) mudou += " OR NEW." + chave[1].Nome + " IS DISTINCT FROM OLD." + chave[1].Nome;

    g.Corpo = "AS\n"
              "BEGIN\n"
              "    IF (INSERTING) THEN\n"
              "        " + Registro(g.Tabela, "U", "NEW." + k1, novo2, "NULL") + "\n"
              "    ELSE IF (DELETING) THEN\n"
              "        " + Registro(g.Tabela, "D", "OLD." + k1, velho2, "NULL") + "\n"
              "    ELSE\n"
              "    BEGIN\n"
              "        IF (" + mudou + ") THEN\n"
              "            " + Registro(g.Tabela, "D", "OLD." + k1, velho2, "NEW." + k1) + "\n"
              "        " + Registro(g.Tabela, "U", "NEW." + k1, novo2, "NULL") + "\n"
              "    END\n"
              "END";
    g.Criacao = "CREATE OR ALTER TRIGGER " + g.Nome + " FOR " + g.Tabela +
                "\nACTIVE AFTER INSERT OR UPDATE OR DELETE POSITION 100\n" + g.Corpo;
    g.Permissoes = {std::string("GRANT EXECUTE ON PROCEDURE ") + kProcedimentoRegistro + " TO TRIGGER " + g.Nome,
                    "GRANT SELECT, INSERT, UPDATE, DELETE ON " + g.Tabela + " TO USER " + kUsuarioReplicacao};
    return g;
}

std::string TGatilhoRegistro::Script() const {
    std::string s = "SET TERM ^ ;\n" + Criacao + "^\nSET TERM ; ^\n";
    for (const auto& p : Permissoes) s += p + ";\n";
    return s;
}

std::vector<std::string> ComandosRemocao(std::string_view tabela) {
    return {"DROP TRIGGER " + NomeGatilhoRegistro(tabela),
            "REVOKE SELECT, INSERT, UPDATE, DELETE ON " + std::string(tabela) + " FROM USER " + kUsuarioReplicacao};
}

}  // namespace ondaris::db
