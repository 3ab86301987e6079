#include "db/conta.h"

#include <algorithm>

#include "db/fb.h"
#include "db/ini.h"

namespace ondaris::db {

std::vector<TLogin> LoginsAdministradorConhecidos() {
    std::vector<TLogin> logins;
    for (const char* senha : kSenhasAdministrador) logins.push_back({kAdministrador, senha});
    return logins;
}

void AbrirComLogins(Conexao& conexao, const std::vector<TLogin>& logins) {
    if (logins.empty()) throw ErroUso("nenhum login para abrir a conexão " + conexao.Nome());
    auto& p = conexao.Parametros();
    for (std::size_t i = 0; i < logins.size(); ++i) {
        p.Usuario = logins[i].Usuario;
        p.Senha = logins[i].Senha;
        try {
            conexao.Abrir();
            return;
        } catch (const ErroLoginRecusado&) {
            conexao.Fechar();
            if (i + 1 == logins.size()) throw;
        } catch (const ErroBanco&) {
            conexao.Fechar();
            throw;
        }
    }
}

namespace {

void CriarUsuarioNoServidor(const ParametrosConexao& p, const TLogin& conta) {
    int porta = kPortaBanco;
    try {
        std::size_t usados = 0;
        porta = std::stoi(p.Porta, &usados);
        if (usados != p.Porta.size()) porta = kPortaBanco;
    } catch (const std::logic_error&) {
        porta = kPortaBanco;  // not an integer: the fixed port
    }
    const std::string alvo = p.Servidor + "/" + std::to_string(porta) + ":service_mgr";

    std::vector<unsigned char> spb{isc_spb_version, isc_spb_current_version};
    const auto curto = [&](unsigned char item, const std::string& valor) {
        spb.push_back(item);
        spb.push_back(static_cast<unsigned char>(std::min<std::size_t>(valor.size(), 255)));
        spb.insert(spb.end(), valor.begin(), valor.begin() + std::min<std::size_t>(valor.size(), 255));
    };
    curto(isc_spb_user_name, p.Usuario);
    curto(isc_spb_password, p.Senha);

    std::vector<unsigned char> acao{isc_action_svc_add_user};
    const auto longo = [&](unsigned char item, const std::string& valor) {
        acao.push_back(item);
        acao.push_back(static_cast<unsigned char>(valor.size() & 0xFF));
        acao.push_back(static_cast<unsigned char>((valor.size() >> 8) & 0xFF));
        acao.insert(acao.end(), valor.begin(), valor.end());
    };
    longo(isc_spb_sec_username, conta.Usuario);
    longo(isc_spb_sec_password, conta.Senha);

    fb::ServicoFb servico(fb::Chamar([&](fb::Status& s) {
        return fb::Provedor()->attachServiceManager(&s, alvo.c_str(), static_cast<unsigned>(spb.size()), spb.data());
    }));
    fb::Chamar([&](fb::Status& s) {
        servico->start(&s, static_cast<unsigned>(acao.size()), acao.data());
        // Ask for output until the service says it has nothing more: that
        // is when it has finished. The text itself is of no use here.
        const unsigned char pedido[] = {isc_info_svc_line};
        unsigned char resposta[1024];
        for (;;) {
            servico->query(&s, 0, nullptr, sizeof pedido, pedido, sizeof resposta, resposta);
            if (resposta[0] != isc_info_svc_line) break;
            const auto tamanho = static_cast<unsigned>(resposta[1]) | (static_cast<unsigned>(resposta[2]) << 8);
            if (tamanho == 0) break;
        }
    });
    servico.Finalizar([](fb::Status* s, Firebird::IService* sv) { sv->detach(s); });
}

}  // namespace

void ProvisionarConta(const ParametrosConexao& banco, const TLogin& conta,
                      const std::vector<TLogin>& administradores) {
    try {
        // The administrator's login is proved on an attachment of its own,
        // so that the caller's connection keeps its credentials.
        Conexao prova(banco, "Administrador");
        AbrirComLogins(prova, administradores);
        const ParametrosConexao administrador = prova.Parametros();
        prova.Fechar();
        CriarUsuarioNoServidor(administrador, conta);
    } catch (const ErroBanco& e) {
        throw ErroProvisionamento(e.what(), e.Codigo(), e.SqlState(), e.Codigos());
    }
}

}  // namespace ondaris::db
