#include "db/modulo_operacao.h"

#include "db/diagnostico.h"
#include "db/ini.h"
#include "protocolo/texto.h"

namespace ondaris::db {
using protocolo::IdentificadorValido;
using protocolo::MaiusculasAscii;

TModuloOperacao::TModuloOperacao(const std::string& pasta)
    : ConexaoOperacao(ParametrosConexao::De(pasta.empty() ? LerConfiguracaoBanco() : LerConfiguracaoBanco(pasta)),
                  "ConexaoOperacao"),
      TransReplicacaoReadWrite(ConexaoOperacao, "TransReplicacaoReadWrite",
                               OpcoesTransacao::Escrita()),
      TransReplicacaoReadOnly(ConexaoOperacao, "TransReplicacaoReadOnly",
                              OpcoesTransacao{.SomenteLeitura = true, .InicioAutomatico = true}.Instantanea()) {
    ConexaoOperacao.Abrir();
}

TModuloOperacao::~TModuloOperacao() {
    try {
        Fechar();
    } catch (const std::exception& e) {
        Diagnosticar(std::string("Falha ao fechar a conexão do bloco com o banco: ") + e.what());
    }
}

void TModuloOperacao::Fechar() {
    if (ConexaoOperacao.Aberta()) ConexaoOperacao.Fechar();
}

void TModuloOperacao::EncerrarLeitura() {
    for (auto it = consultas_.begin(); it != consultas_.end();) {
        if (&it->second->TransacaoDona() == &TransReplicacaoReadOnly) it = consultas_.erase(it);
        else ++it;
    }
    if (TransReplicacaoReadOnly.Ativa()) TransReplicacaoReadOnly.Commit();
}

Consulta* TModuloOperacao::Procurar(std::string_view nome) {
    const auto it = consultas_.find(MaiusculasAscii(nome));
    return it == consultas_.end() ? nullptr : it->second.get();
}

Consulta& TModuloOperacao::Criar(const std::string& nome, Transacao& transacao, std::string sql) {
    if (!IdentificadorValido(nome, std::string_view::npos)) throw ErroUso("\"" + nome + "\" não é um nome de comando válido");
    if (&transacao.ConexaoDona() != &ConexaoOperacao)
        throw ErroUso("o comando " + nome + " deve rodar numa das transações do próprio bloco");
    auto [it, nova] = consultas_.try_emplace(MaiusculasAscii(nome));
    if (!nova) throw ErroUso("já existe um comando chamado " + nome + " neste bloco");
    try {
        it->second = std::make_unique<Consulta>(ConexaoOperacao, transacao, std::move(sql), nome);
        it->second->DefinirTextosExatos(true);
    } catch (...) {
        consultas_.erase(it);
        throw;
    }
    return *it->second;
}

TModuloDaExecucao::~TModuloDaExecucao() { Descartar(); }

TModuloOperacao& TModuloDaExecucao::Tomar(const std::string& pasta, const TEstrutura* estrutura) {
    if (modulo_ && estrutura && estrutura_ != estrutura->Linhas()) Liberar();
    if (!modulo_) {
        modulo_ = std::make_unique<TModuloOperacao>(pasta);
        estrutura_ = estrutura ? estrutura->Linhas() : std::vector<TLinhaEstrutura>{};
    }
    return *modulo_;
}

void TModuloDaExecucao::Liberar() {
    const std::unique_ptr<TModuloOperacao> modulo = std::move(modulo_);
    estrutura_.clear();
    if (modulo) modulo->Fechar();
}

void TModuloDaExecucao::Descartar() noexcept {
    // Its destructor closes the connection; a failure goes to the log.
    modulo_.reset();
    estrutura_.clear();
}

TModuloDoBloco::~TModuloDoBloco() {
    if (!concluido_ && daExecucao_) daExecucao_->Descartar();
}

void TModuloDoBloco::Abrir() {
    if (daExecucao_) {
        modulo_ = &daExecucao_->Tomar(pasta_, estrutura_);
    } else {
        proprio_ = std::make_unique<TModuloOperacao>(pasta_);
        modulo_ = proprio_.get();
    }
}

void TModuloDoBloco::Concluir() {
    if (proprio_) proprio_->Fechar();
    else if (modulo_) modulo_->EncerrarLeitura();
    concluido_ = true;
}

}  // namespace ondaris::db
