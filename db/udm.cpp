#include "db/udm.h"

#include "db/diagnostico.h"
#include "db/ini.h"
#include "db/mensagens.h"
#include "protocolo/texto.h"

namespace ondaris::db {

TDM::TDM(OpcoesTDM opcoes)
    : Opcoes_(std::move(opcoes)),
      conexaoGlobal_(ParametrosConexao{}, "ConexaoGlobal"),
      TRPrincipal_(conexaoGlobal_, "TRPrincipal", OpcoesTransacao::EscritaAutomatica()),
      catalogo_(conexaoGlobal_, TRPrincipal_),
      configuracoes_(conexaoGlobal_, TRPrincipal_, catalogo_),
      log_(conexaoGlobal_, TRPrincipal_) {}

TDM::~TDM() {
    // A write-back made while a result set of the module was still open
    // waits for that set to close; the module going is that moment.
    try {
        TRPrincipal_.Commit();
    } catch (const std::exception& e) {
        Diagnosticar("Falha ao confirmar a transação " + TRPrincipal_.Nome() + ": " + e.what());
    }
}

std::string TDM::Pasta() const { return Opcoes_.Pasta.empty() ? PastaExecutavel() : Opcoes_.Pasta; }

void TDM::ConfigurarBancodeDados() {
    const ConfiguracaoBanco cfg = LerConfiguracaoBanco(Pasta());
    conexaoGlobal_.Fechar();
    ParametrosConexao p = ParametrosConexao::De(cfg);
    p.Usuario = Opcoes_.Usuario;
    p.Senha = Opcoes_.Senha;
    conexaoGlobal_.Parametros() = p;
    Conectar();
}

void TDM::Conectar() {
    if (conexaoGlobal_.Aberta()) return;
    try {
        conexaoGlobal_.Abrir();
        return;
    } catch (const ErroLoginRecusado&) {
        // The one case that means the account is missing (or its password
        // was changed): a server that cannot be reached says otherwise.
    }
    std::string falhaProvisionamento;
    try {
        ProvisionarContaReplicacao();
    } catch (const ErroProvisionamento& e) {
        falhaProvisionamento = e.what();
    }
    try {
        conexaoGlobal_.Abrir();
    } catch (const ErroLoginRecusado& e) {
        if (falhaProvisionamento.empty()) throw;
        throw ErroLoginRecusado(std::string(e.what()) + " (a criação da conta " + Opcoes_.Usuario +
                                    " pelo login de administrador falhou: " + falhaProvisionamento + ")",
                                e.Codigo(), e.SqlState(), e.Codigos());
    }
}

void TDM::ProvisionarContaReplicacao() {
    conexaoGlobal_.Fechar();
    ProvisionarConta(conexaoGlobal_.Parametros(), TLogin{Opcoes_.Usuario, Opcoes_.Senha});
}

}  // namespace ondaris::db
