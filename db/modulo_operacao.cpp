#include "db/modulo_operacao.h"

#include <iostream>

#include "db/ini.h"
#include "db/texto.h"

namespace ondaris::db {

TModuloOperacao::TModuloOperacao(const std::string& pasta)
    : ConnQuelbor(ParametrosConexao::De(pasta.empty() ? LerConfiguracaoBanco() : LerConfiguracaoBanco(pasta)),
                  "ConnQuelbor"),
      TransReplicacaoReadWrite(ConnQuelbor, "TransReplicacaoReadWrite",
                               OpcoesTransacao{.SomenteLeitura = false, .InicioAutomatico = false,
                                               .FimAutomatico = false}),
      TransReplicacaoReadOnly(ConnQuelbor, "TransReplicacaoReadOnly",
                              OpcoesTransacao{.SomenteLeitura = true, .InicioAutomatico = true,
                                              .FimAutomatico = false, .Isolamento = TIsolamento::Instantaneo}) {
    ConnQuelbor.Abrir();
}

TModuloOperacao::~TModuloOperacao() {
    try {
        Fechar();
    } catch (const std::exception& e) {
        std::cerr << "ondaris: closing the block's connection failed: " << e.what() << '\n';
    }
}

void TModuloOperacao::Fechar() {
    if (ConnQuelbor.Aberta()) ConnQuelbor.Fechar();
}

Consulta* TModuloOperacao::Procurar(std::string_view nome) {
    const auto it = consultas_.find(MaiusculasAscii(nome));
    return it == consultas_.end() ? nullptr : it->second.get();
}

Consulta& TModuloOperacao::Criar(const std::string& nome, Transacao& transacao, std::string sql) {
    if (!IdentificadorSimples(nome, std::string_view::npos)) throw ErroUso("\"" + nome + "\" is not a valid statement name");
    if (&transacao.ConexaoDona() != &ConnQuelbor)
        throw ErroUso("statement " + nome + " must run in one of the block's own transactions");
    auto [it, nova] = consultas_.try_emplace(MaiusculasAscii(nome));
    if (!nova) throw ErroUso("a statement named " + nome + " already exists in this block");
    try {
        it->second = std::make_unique<Consulta>(ConnQuelbor, transacao, std::move(sql), nome);
    } catch (...) {
        consultas_.erase(it);
        throw;
    }
    return *it->second;
}

}  // namespace ondaris::db
