#include "app/shell/manutencao.h"

#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <ostream>

#include "app/shell/verificacao.h"
#include "db/ini.h"
#include "db/manutencao.h"
#include "db/mensagens.h"
#include "db/postos_de_lado.h"
#include "db/udm.h"
#include "sync/ciclo.h"
#include "sync/de_lado.h"
#include "sync/enviar.h"
#include "sync/pendentes.h"
#include "sync/receber.h"

namespace ondaris::shell {

namespace {

std::string Juntar(const std::vector<std::string>& nomes, const char* separador = ", ") {
    std::string r;
    for (const auto& n : nomes) r += (r.empty() ? "" : separador) + n;
    return r;
}

std::string NomesChave(const std::vector<db::TColunaChave>& chave) {
    std::vector<std::string> nomes;
    for (const auto& c : chave) nomes.push_back(c.Nome);
    return Juntar(nomes);
}

db::ConfiguracaoBanco Configuracao(const TAmbienteManutencao& a) {
    return a.Pasta.empty() ? db::LerConfiguracaoBanco() : db::LerConfiguracaoBanco(a.Pasta);
}

// The objects must be there, of the version this program expects: the
// triggers call the logging procedure, and housekeeping must know how the
// log is kept.
bool ObjetosProntos(db::TCatalogoLoja& catalogo, std::ostream& erros) {
    const int versao = catalogo.VersaoObjetos();
    if (versao == db::kVersaoObjetosReplicacao) return true;
    if (versao == 0)
        erros << "Faltam objetos da replicação neste banco (" << Juntar(catalogo.ObjetosFaltando())
              << "): rode " << db::kScriptObjetos << " nele como SYSDBA antes.\n";
    else if (versao < db::kVersaoObjetosReplicacao)
        erros << "Os objetos da replicação deste banco são da versão " << versao << " e este programa precisa da "
              << db::kVersaoObjetosReplicacao << ": rode " << db::kScriptObjetos
              << " nele como SYSDBA (ele atualiza os objetos sem perder o log).\n";
    else
        erros << "Os objetos da replicação deste banco são da versão " << versao
              << ", mais nova que a deste programa (" << db::kVersaoObjetosReplicacao
              << "): use o programa que acompanha esses objetos.\n";
    return false;
}


}  // namespace

std::optional<TLogin> AdministradorDoAmbiente() {
    const char* usuario = std::getenv("ISC_USER");
    const char* senha = std::getenv("ISC_PASSWORD");
    if (!usuario || !*usuario || !senha) return std::nullopt;
    return TLogin{usuario, senha};
}

void AbrirComoAdministrador(db::Conexao& conexao, const std::optional<TLogin>& administrador) {
    const std::vector<TLogin> logins =
        administrador ? std::vector<TLogin>{*administrador} : db::LoginsAdministradorConhecidos();
    const auto& p = conexao.Parametros();
    try {
        db::AbrirComLogins(conexao, logins);
    } catch (const db::ErroLoginRecusado& e) {
        throw db::ErroBanco("o administrador não conseguiu entrar em " + p.StringConexao() + ": " + e.what() +
                                (administrador ? std::string(" (ISC_USER e ISC_PASSWORD do ambiente)")
                                               : std::string(" (SYSDBA com as senhas que o agente conhece; "
                                                             "defina ISC_USER e ISC_PASSWORD)")),
                            e.Codigo(), e.SqlState(), e.Codigos());
    } catch (const db::ErroBanco& e) {
        throw db::ErroBanco("não foi possível abrir " + p.StringConexao() + ": " + e.what(), e.Codigo(),
                            e.SqlState(), e.Codigos());
    }
}

int InstalarGatilhos(TAmbienteManutencao& a, const std::vector<std::string>& nomeadas, bool somenteImprimir) {
    try {
        db::Conexao conexao(db::ParametrosConexao::De(Configuracao(a)), "Instalacao");
        if (somenteImprimir) conexao.Abrir();  // the replication account reads the catalogue
        else AbrirComoAdministrador(conexao, a.Administrador);

        struct TPronta {
            db::TGatilhoRegistro Gatilho;
            std::string Chave;
        };
        std::vector<TPronta> prontas;
        std::vector<std::string> recusas;
        {
            db::TCatalogoLoja catalogo(conexao);
            if (!ObjetosProntos(catalogo, a.Erros)) return 1;
            const auto existentes = catalogo.Tabelas();
            std::vector<std::string> tabelas = nomeadas;
            if (tabelas.empty())
                for (const auto& t : existentes)
                    if (!db::TabelaDaReplicacao(t)) tabelas.push_back(t);
            for (const auto& t : tabelas) {
                if (std::find(existentes.begin(), existentes.end(), t) == existentes.end()) {
                    recusas.push_back(t + " não existe neste banco");
                    continue;
                }
                const auto chave = catalogo.ColunasChave(t);
                if (auto motivo = db::MotivoRecusa(t, chave)) {
                    recusas.push_back(*motivo);
                    continue;
                }
                auto gatilho = db::GerarGatilhoRegistro(t, chave);
                if (const auto outros = catalogo.OutrosGatilhosDeRegistro(t, gatilho.Nome); !outros.empty()) {
                    recusas.push_back(t + " já tem outro gatilho que registra alterações no log (" + Juntar(outros) +
                                      "): com dois, cada alteração seria enviada duas vezes; remova-o antes");
                    continue;
                }
                prontas.push_back({std::move(gatilho), NomesChave(chave)});
            }
        }
        for (const auto& r : recusas) a.Erros << "Recusada: " << r << ".\n";
        if (!nomeadas.empty() && !recusas.empty()) {
            a.Erros << "Nada foi instalado.\n";
            return 1;
        }
        if (somenteImprimir) {
            for (const auto& p : prontas)
                a.Saida << "/* " << p.Gatilho.Tabela << ": chave " << p.Chave << " */\n" << p.Gatilho.Script() << "\n";
            a.Saida << "COMMIT;\n";
            return 0;
        }
        for (const auto& p : prontas) {
            db::InstalarGatilho(conexao, p.Gatilho);
            a.Saida << "Gatilho " << p.Gatilho.Nome << " instalado em " << p.Gatilho.Tabela << " (chave "
                    << p.Chave << "); a conta " << db::kUsuarioReplicacao
                    << " pode ler e gravar a tabela.\n";
        }
        a.Saida << protocolo::Quantidade(static_cast<std::int64_t>(prontas.size()), "tabela registrada", "tabelas registradas");
        if (!recusas.empty())
            a.Saida << ", " << protocolo::Quantidade(static_cast<std::int64_t>(recusas.size()), "recusada", "recusadas");
        a.Saida << ". As tabelas replicadas também precisam estar na lista de estrutura do servidor central.\n";
        return 0;
    } catch (const std::exception& e) {
        a.Erros << "Falha: " << e.what() << "\n";
        return 1;
    }
}

int RemoverGatilhos(TAmbienteManutencao& a, const std::vector<std::string>& nomeadas) {
    try {
        db::Conexao conexao(db::ParametrosConexao::De(Configuracao(a)), "Instalacao");
        AbrirComoAdministrador(conexao, a.Administrador);
        std::vector<std::string> tabelas = nomeadas;
        {
            db::TCatalogoLoja catalogo(conexao);
            const auto existentes = catalogo.Tabelas();
            if (tabelas.empty()) {
                for (const auto& t : existentes)
                    if (catalogo.Gatilho(db::NomeGatilhoRegistro(t))) tabelas.push_back(t);
                if (tabelas.empty()) a.Saida << "Nenhuma tabela tem gatilho de registro.\n";
            }
            for (const auto& t : tabelas)
                if (std::find(existentes.begin(), existentes.end(), t) == existentes.end()) {
                    a.Erros << "Recusada: " << t << " não existe neste banco.\nNada foi removido.\n";
                    return 1;
                }
        }
        for (const auto& t : tabelas) {
            const bool existia = db::RemoverGatilho(conexao, t);
            a.Saida << (existia ? "Gatilho " + db::NomeGatilhoRegistro(t) + " removido de " + t
                                : t + " não tinha gatilho de registro")
                    << "; a conta " << db::kUsuarioReplicacao << " não tem mais permissões na tabela.\n";
        }
        return 0;
    } catch (const std::exception& e) {
        a.Erros << "Falha: " << e.what() << "\n";
        return 1;
    }
}

int LimparLog(TAmbienteManutencao& a, int dias) {
    try {
        db::OpcoesTDM opcoes;
        opcoes.Pasta = a.Pasta;
        db::TDM dm(opcoes);
        dm.ConexaoGlobal().Parametros() = db::ParametrosConexao::De(Configuracao(a));
        AbrirComoAdministrador(dm.ConexaoGlobal(), a.Administrador);
        {
            db::TCatalogoLoja catalogo(dm.ConexaoGlobal());
            if (!ObjetosProntos(catalogo, a.Erros)) return 1;
        }
        dm.Configuracoes().AbrirConfiguracoes();
        const std::int64_t ultima = dm.LogReplicacao().UltimoMovimentoLoja();

        // The same question the cycle asks before it sends.
        const auto posicao = sync::UltimoMovimentoEnviado(dm.Configuracoes().LinkCentral(), dm.Configuracoes().CodigoLoja(), ultima, a.Contexto);
        if (const sync::TRecusa* recusa = posicao.Recusa()) {
            a.Erros << sync::TextoRecusa(*recusa) << "\nNada foi apagado.\n";
            return 1;
        }
        const std::int64_t confirmada = posicao->UltimaOrdemEnviada;
        a.Saida << "O servidor central tem o log desta loja (loja " << dm.Configuracoes().CodigoLoja() << ") até a posição "
                << confirmada << "; o log vai até " << ultima << ".\n";
        const auto r = db::LimparLogReplicacao(dm.ConexaoGlobal(), confirmada, dias, db::kLinhasPorLote,
                                               [&](const db::TLimpezaLog& parcial) {
                                                   a.Saida << "Lote " << parcial.Lotes << ": "
                                                           << protocolo::Quantidade(parcial.Apagadas, "linha apagada",
                                                                             "linhas apagadas")
                                                           << " até agora.\n";
                                               });
        if (r.Apagadas == 0)
            a.Saida << "Nenhuma linha apagada: não há linhas com mais de " << protocolo::Quantidade(dias, "dia", "dias")
                    << " até a posição " << confirmada << ".\n";
        else
            a.Saida << protocolo::Quantidade(r.Apagadas, "linha apagada", "linhas apagadas") << " do log em "
                    << protocolo::Quantidade(r.Lotes, "lote", "lotes") << ", até a posição " << r.MaiorOrdemApagada
                    << (r.Apagadas == 1 ? ", com mais de " : ", todas com mais de ") << protocolo::Quantidade(dias, "dia", "dias")
                    << (r.Apagadas == 1 ? " e já recebida" : " e já recebidas") << " pelo servidor central.\n";
        return 0;
    } catch (const std::exception& e) {
        a.Erros << "Falha: " << e.what() << "\n";
        return 1;
    }
}

int NovaLoja(TAmbienteManutencao& a, std::int32_t codigo) {
    try {
        db::Conexao conexao(db::ParametrosConexao::De(Configuracao(a)), "NovaLoja");
        AbrirComoAdministrador(conexao, a.Administrador);
        {
            db::TCatalogoLoja catalogo(conexao);
            if (!ObjetosProntos(catalogo, a.Erros)) {
                a.Erros << "Nada foi mudado.\n";
                return 1;
            }
        }
        const auto lida = db::LerConfiguracaoLoja(conexao);
        if (!lida) {
            a.Erros << "Recusado: RPL_CONFIGURACOES não tem a linha de configuração: este banco não é a cópia de "
                       "uma loja que replicava.\nNada foi mudado.\n";
            return 1;
        }
        if (auto motivo = db::MotivoRecusaNovaLoja(codigo, lida->CodigoLoja)) {
            a.Erros << "Recusado: " << *motivo << ".\nNada foi mudado.\n";
            return 1;
        }
        const std::string loja = "loja " + std::to_string(codigo);
        a.Saida << "Este banco é uma cópia da loja " << lida->CodigoLoja << " e vai passar a ser a " << loja
                << ".\n";

        // Only the agent's own requests: every central server of a chain
        // answers them. How far the server holds a store's log is above 0
        // once that store has sent something.
        const sync::TContextoServidor& contexto = a.Contexto;
        const auto enviado = sync::UltimoMovimentoEnviado(lida->LinkCentral, codigo, 0, contexto);
        if (const sync::TRecusa* recusa = enviado.Recusa()) {
            a.Erros << sync::TextoRecusa(*recusa) << "\nNada foi mudado.\n";
            return 1;
        }
        if (enviado->UltimaOrdemEnviada > 0) {
            a.Erros << "Recusado: o servidor central já tem o log da " << loja << " até a posição "
                    << enviado->UltimaOrdemEnviada
                    << ": esse código é de uma loja que já enviou alterações; escolha um código que nenhuma loja "
                       "use.\nNada foi mudado.\n";
            return 1;
        }
        a.Saida << "O servidor central não tem nada enviado pela " << loja << ": o código está livre.\n";

        const std::int64_t posicao = lida->UltimoRecebimento;
        a.Saida << "Posição recebida da cópia: " << posicao << ".\n";
        try {
            const auto fim = sync::ConsultarRecebimento(lida->LinkCentral, codigo, posicao, contexto);
            if (const sync::TRecusa* recusa = fim.Recusa())
                a.Saida << "Não foi possível saber até que posição o servidor central tem comandos para a " << loja
                        << " (" << sync::TextoRecusa(*recusa) << ").\n";
            else if (fim->UltimaOrdem == 0)
                a.Saida << "O servidor central não tem comandos para a " << loja << " depois da posição " << posicao
                        << ".\n";
            else
                a.Saida << "O servidor central tem comandos para a " << loja << " até a posição " << fim->UltimaOrdem
                        << ".\n";
        } catch (const std::exception& e) {
            a.Saida << "Não foi possível saber até que posição o servidor central tem comandos para a " << loja
                    << " (" << e.what() << ").\n";
        }
        a.Saida << "A nova loja vai receber tudo o que vier depois da posição " << posicao
                << ", inclusive o que a loja " << lida->CodigoLoja
                << " enviou depois desta cópia: os comandos depois dessa posição ainda não estão nesta cópia.\n";

        const auto r = db::TornarNovaLoja(conexao, *lida, codigo);
        a.Saida << "Pronto: este banco agora é a " << loja << ". Apagadas do log: "
                << protocolo::Quantidade(r.LinhasLogApagadas, "linha", "linhas") << " (alterações da loja " << r.CodigoAnterior
                << ", que ela mesma envia); reservas apagadas: " << r.ReservasApagadas
                << ". A posição recebida continua " << r.PosicaoRecebida << ".\n";
        if (r.LinhasDaLojaAnterior.empty()) {
            a.Saida << "Nenhuma coluna de loja (com LOJA no nome) tem linhas da loja " << r.CodigoAnterior << ".\n";
        } else {
            a.Saida << "Linhas da loja " << r.CodigoAnterior << " em colunas de loja (com LOJA no nome), para você "
                    << "decidir:\n";
            for (const auto& l : r.LinhasDaLojaAnterior)
                a.Saida << "  " << l.Tabela << "." << l.Coluna << ": " << protocolo::Quantidade(l.Linhas, "linha", "linhas")
                        << (l.Replicada ? " (tabela replicada)" : " (tabela não replicada)") << "\n";
            a.Saida << "Nas tabelas replicadas, as linhas da loja " << r.CodigoAnterior
                    << " são dela e todas as lojas as têm: não as altere nem apague aqui, a mudança iria para todas "
                       "as lojas, inclusive a "
                    << r.CodigoAnterior << ". Onde esta loja precisar de linhas suas, crie-as com o código " << codigo
                    << ". Nas tabelas não replicadas, ajuste o que for desta loja.\n";
        }
        return 0;
    } catch (const std::exception& e) {
        a.Erros << "Falha: " << e.what() << "\nNada foi mudado.\n";
        return 1;
    }
}

int EnvioInicial(TAmbienteManutencao& a, const std::vector<std::string>& tabelas, bool confirmar) {
    std::int64_t registradas = 0;
    try {
        db::Conexao conexao(db::ParametrosConexao::De(Configuracao(a)), "EnvioInicial");
        AbrirComoAdministrador(conexao, a.Administrador);
        std::vector<std::string> recusas;
        std::vector<std::string> chaves;
        {
            db::TCatalogoLoja catalogo(conexao);
            if (!ObjetosProntos(catalogo, a.Erros)) {
                a.Erros << "Nada foi registrado.\n";
                return 1;
            }
            for (const auto& t : tabelas) {
                if (auto motivo = db::MotivoRecusaEnvioInicial(catalogo, t)) recusas.push_back(*motivo);
                else chaves.push_back(NomesChave(catalogo.ColunasChave(t)));
            }
        }
        if (!recusas.empty()) {
            for (const auto& r : recusas) a.Erros << "Recusada: " << r << ".\n";
            a.Erros << "Nada foi registrado.\n";
            return 1;
        }

        for (std::size_t i = 0; i < tabelas.size(); ++i) {
            const std::int64_t n = db::ContarLinhas(conexao, tabelas[i]);
            a.Saida << tabelas[i] << " (chave " << chaves[i] << "): ";
            if (n == 0) a.Saida << "nenhuma linha.\n";
            else
                a.Saida << protocolo::Quantidade(n, "linha existente", "linhas existentes")
                        << (confirmar ? (n == 1 ? " será registrada" : " serão registradas")
                                      : (n == 1 ? " seria registrada" : " seriam registradas"))
                        << " no log, uma alteração por linha.\n";
        }
        a.Saida << "Enviada pelo agente, cada linha vai substituir, em todas as outras lojas, a linha de mesma chave "
                   "(e será criada onde faltar): o que as outras lojas tiverem de diferente nessas linhas será "
                   "perdido. Linhas que só as outras lojas têm não mudam.\n";
        if (!confirmar) {
            a.Saida << "Nada foi registrado: para registrar, rode de novo com --confirmar.\n";
            return 0;
        }
        for (const auto& t : tabelas) {
            const std::int64_t antes = registradas;
            const auto r = db::RegistrarEnvioInicial(conexao, t, db::kLinhasPorLote, [&](const db::TEnvioInicial& p) {
                registradas = antes + p.Registradas;
                a.Saida << t << ", lote " << p.Lotes << ": "
                        << protocolo::Quantidade(p.Registradas, "linha registrada", "linhas registradas") << " até agora.\n";
            });
            registradas = antes + r.Registradas;
            a.Saida << t << ": " << protocolo::Quantidade(r.Registradas, "linha registrada", "linhas registradas") << " no log em "
                    << protocolo::Quantidade(r.Lotes, "lote", "lotes") << ".\n";
        }
        a.Saida << "Total: " << protocolo::Quantidade(registradas, "linha registrada", "linhas registradas")
                << "; o agente as envia nos próximos ciclos.\n";
        return 0;
    } catch (const std::exception& e) {
        a.Erros << "Falha: " << e.what() << "\n";
        if (registradas == 0) a.Erros << "Nada foi registrado.\n";
        else
            a.Erros << protocolo::Quantidade(registradas, "linha já estava registrada", "linhas já estavam registradas")
                    << (registradas == 1 ? " antes da falha e será enviada" : " antes da falha e serão enviadas")
                    << "; rodar de novo registra todas outra vez, o que só as envia de novo.\n";
        return 1;
    }
}

namespace {

// The global data module as the agent has it, logged in as the
// administrator, with our objects of this version; nothing when they are
// not (said on `erros`).
std::unique_ptr<db::TDM> ModuloComoAdministrador(TAmbienteManutencao& a) {
    db::OpcoesTDM opcoes;
    opcoes.Pasta = a.Pasta;
    auto dm = std::make_unique<db::TDM>(opcoes);
    dm->ConexaoGlobal().Parametros() = db::ParametrosConexao::De(Configuracao(a));
    AbrirComoAdministrador(dm->ConexaoGlobal(), a.Administrador);
    {
        db::TCatalogoLoja catalogo(dm->ConexaoGlobal());
        if (!ObjetosProntos(catalogo, a.Erros)) return nullptr;
    }
    dm->Configuracoes().AbrirConfiguracoes();
    return dm;
}

constexpr const char* kComoVerPostosDeLado =
    "O que foi posto de lado fica em RPL_POSTOS_DE_LADO (ondarisd --verificar mostra os últimos). ";

}  // namespace

int PorDeLadoRecebido(TAmbienteManutencao& a, std::int64_t ordem) {
    try {
        const auto dm = ModuloComoAdministrador(a);
        if (!dm) {
            a.Erros << "Nada foi gravado.\n";
            return 1;
        }
        const std::int64_t posicao = dm->Configuracoes().UltimoRecebimento();
        const std::string link = dm->Configuracoes().LinkCentral();
        const std::int32_t loja = dm->Configuracoes().CodigoLoja();
        a.Saida << "Esta loja (loja " << loja << ") recebeu até a posição " << posicao << ".\n";

        // What a cycle does before it receives: the structure list, then how
        // far the server holds this store's log, so that the commands
        // before the one set aside are applied exactly as a cycle would.
        const sync::TContextoServidor& contexto = a.Contexto;
        std::optional<sync::TRecusa> recusa = sync::ObterEstruturaBanco(link, dm->TBEstrutura(), contexto);
        if (!recusa) {
            const auto enviado = sync::UltimoMovimentoEnviado(link, loja, dm->LogReplicacao().UltimoMovimentoLoja(), contexto);
            if (enviado.Recusado()) recusa = *enviado.Recusa();
            if (!recusa) {
                sync::JanelaMuda janela;
                sync::TAlteracoesPendentes pendentes;
                sync::TAmbienteRecebimento ambiente{*dm, janela, contexto, a.Pasta};
                ambiente.Pendentes = &pendentes;
                ambiente.PosicaoConfirmada = enviado->UltimaOrdemEnviada;
                ambiente.PorDeLado = ordem;
                std::vector<std::string> avisos;
                ambiente.AoPorDeLado = [&](const std::string& texto) { avisos.push_back(texto); };
                const auto recebido = sync::ReceberDados(link, loja, posicao, ambiente);
                if (recebido.Recusado()) recusa = *recebido.Recusa();
                if (!recusa && recebido->MotivoPostoDeLado.empty()) {
                    a.Erros << "Recusado: o servidor central não tem comandos para esta loja depois da posição "
                            << posicao << ", e o comando de ordem " << ordem
                            << " não é um dos próximos que ela receberia.\nNada foi gravado.\n";
                    return 1;
                }
                if (!recusa) {
                    for (const auto& aviso : avisos) a.Saida << aviso << ".\n";
                    dm->Configuracoes().AbrirConfiguracoes();
                    a.Saida << "O comando de ordem " << ordem
                            << " recebido do servidor central foi posto de lado sem ser aplicado, porque falha nesta "
                               "loja:\n  "
                            << recebido->MotivoPostoDeLado << "\nA posição recebida passou para "
                            << dm->Configuracoes().UltimoRecebimento()
                            << "; o resto vem no próximo ciclo do agente. " << kComoVerPostosDeLado
                            << "Até que a linha desse comando seja corrigida, esta loja pode ficar diferente das "
                               "outras nela.\n";
                    return 0;
                }
            }
        }
        a.Erros << sync::TextoRecusa(*recusa) << "\nNada foi gravado.\n";
        return 1;
    } catch (const std::exception& e) {
        a.Erros << "Falha: " << e.what() << "\nNada foi posto de lado.\n";
        return 1;
    }
}

int PorDeLadoEnvio(TAmbienteManutencao& a, std::int64_t ordem) {
    try {
        const auto dm = ModuloComoAdministrador(a);
        if (!dm) {
            a.Erros << "Nada foi mudado.\n";
            return 1;
        }
        const auto motivo = sync::MotivoLinhaNaoEnviavel(ordem, *dm, a.Pasta, a.Contexto.Regional);
        if (!motivo) {
            a.Erros << "Recusado: a linha de ordem " << ordem
                    << " do LOG_REPLICACAO pode ser enviada: não há o que pôr de lado.\nNada foi mudado.\n";
            return 1;
        }
        const auto linha = db::PorDeLadoLinhaLog(dm->ConexaoGlobal(), ordem, *motivo);
        if (!linha) {
            a.Erros << "Recusado: o LOG_REPLICACAO não tem mais a linha de ordem " << ordem << ".\nNada foi mudado.\n";
            return 1;
        }
        a.Saida << "A linha de ordem " << ordem << " do LOG_REPLICACAO (" << (linha->Tipo == "D" ? "exclusão" : "alteração")
                << " em " << linha->Tabela << ", chave " << linha->Chave1
                << (linha->Chave2.empty() ? std::string() : ", " + linha->Chave2)
                << ") foi posta de lado sem ser enviada, porque não pode ser enviada:\n  " << *motivo
                << "\nEla saiu do log; o resto do log segue no próximo ciclo do agente. " << kComoVerPostosDeLado
                << "As outras lojas não recebem essa alteração: até que a linha seja corrigida, elas podem ficar "
                   "diferentes desta nela.\n";
        return 0;
    } catch (const std::exception& e) {
        a.Erros << "Falha: " << e.what() << "\nNada foi posto de lado.\n";
        return 1;
    }
}

int ExecutarComandoInstalacao(const TOpcoesServico& opcoes) {
    if (opcoes.Comando == TComandoServico::csVerificar) {
        TOpcoesVerificacao verificacao;
        verificacao.Regional = TRegionalEmVigor::DoAmbiente();
        return ExecutarVerificacao(verificacao, std::cout);
    }
    TAmbienteManutencao ambiente{{}, AdministradorDoAmbiente(), {}, std::cout, std::cerr};
    ambiente.Contexto.Regional = protocolo::TConfiguracoesRegionais::DoLocale();
    switch (opcoes.Comando) {
        case TComandoServico::csInstalarGatilhos:
            return InstalarGatilhos(ambiente, opcoes.Tabelas, opcoes.SomenteImprimir);
        case TComandoServico::csRemoverGatilhos: return RemoverGatilhos(ambiente, opcoes.Tabelas);
        case TComandoServico::csLimparLog: return LimparLog(ambiente, opcoes.Dias);
        case TComandoServico::csNovaLoja: return NovaLoja(ambiente, opcoes.CodigoLoja);
        case TComandoServico::csEnvioInicial: return EnvioInicial(ambiente, opcoes.Tabelas, opcoes.Confirmar);
        case TComandoServico::csPorDeLadoRecebido: return PorDeLadoRecebido(ambiente, opcoes.Ordem);
        case TComandoServico::csPorDeLadoEnvio: return PorDeLadoEnvio(ambiente, opcoes.Ordem);
        case TComandoServico::csVerificar:
        case TComandoServico::csSincronizar: break;
    }
    throw db::ErroUso("nenhum comando de manutenção a executar");
}

}  // namespace ondaris::shell
