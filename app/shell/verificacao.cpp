#include "app/shell/verificacao.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <ostream>

#include "db/consulta.h"
#include "db/gatilhos.h"
#include "db/ini.h"
#include "db/manutencao.h"
#include "db/mensagens.h"
#include "db/postos_de_lado.h"
#include "db/udm.h"
#include "protocolo/texto.h"
#include "sync/ciclo.h"
#include "sync/servidor.h"

namespace ondaris::shell {

namespace {

constexpr const char* kAusente = "\x01";  // no key of korvin.ini can hold it

std::string Juntar(const std::vector<std::string>& nomes) {
    std::string r;
    for (const auto& n : nomes) r += (r.empty() ? "" : ", ") + n;
    return r;
}

class TRelatorio {
public:
    void Ok(std::string texto) { itens_.push_back({true, std::move(texto), {}}); }
    void Falha(std::string texto, std::string oQueFazer) {
        itens_.push_back({false, std::move(texto), std::move(oQueFazer)});
    }
    void Aviso(std::string texto, std::string oQueFazer) {
        itens_.push_back({true, std::move(texto), std::move(oQueFazer), true});
    }
    // A check that cannot run because one it depends on failed: `texto`
    // names it and what it depends on; the failure says what to do.
    void NaoVerificado(std::string texto) {
        itens_.push_back({false, std::move(texto), {}, false, true});
    }
    std::vector<TItemVerificacao> Itens() && { return std::move(itens_); }

private:
    std::vector<TItemVerificacao> itens_;
};

bool FalhaDeRede(const db::ErroBanco& e) {
    if (dynamic_cast<const db::ErroConexaoPerdida*>(&e)) return true;
    for (auto c : {isc_network_error, isc_net_connect_err, isc_net_connect_listen_err, isc_net_read_err,
                   isc_net_write_err})
        if (e.Contem(c)) return true;
    return false;
}

// Runs a statement that changes nothing (a condition no row meets, or a
// transaction rolled back) to learn whether the account may run it.
std::optional<std::string> Recusado(db::Conexao& conexao, const std::string& sql) {
    db::Transacao t(conexao, "TRVerificacao", db::OpcoesTransacao::Escrita());
    t.Iniciar();
    try {
        db::Consulta c(conexao, t, sql);
        if (sql.rfind("SELECT", 0) == 0) {
            c.Abrir();
            c.Fechar();
        } else {
            c.Executar();
        }
        t.Rollback();
        return std::nullopt;
    } catch (const db::ErroBanco& e) {
        t.Rollback();
        return std::string(e.what());
    }
}

std::string UmaLinha(std::string texto) {
    for (char& c : texto)
        if (c == '\n' || c == '\r') c = ' ';
    return texto;
}

// The regional settings line.
// Commands a technician set aside (RPL_POSTOS_DE_LADO): the rows they
// name may differ from the other stores' until corrected. Said only when
// there are some.
void VerificarPostosDeLado(db::Conexao& conexao, TRelatorio& rel) {
    try {
        const auto postos = db::LerPostosDeLado(conexao, 5);
        const std::int64_t total = postos.Recebidos + postos.Enviados;
        if (total == 0) return;
        std::string texto = protocolo::Quantidade(total, "comando posto de lado", "comandos postos de lado") +
                            " em RPL_POSTOS_DE_LADO (" +
                            protocolo::Quantidade(postos.Recebidos, "recebido sem ser aplicado", "recebidos sem ser aplicados") +
                            ", " +
                            protocolo::Quantidade(postos.Enviados, "linha do log não enviada", "linhas do log não enviadas") +
                            "); " + (total == 1 ? "o último" : "os últimos") + ":";
        for (const auto& p : postos.Ultimos)
            texto += std::string(" ") + (p.Recebido ? "recebido de ordem " : "log de ordem ") + std::to_string(p.Ordem) +
                     (p.Descricao.empty() ? "" : " " + p.Descricao) + " em " + p.Momento + ";";
        texto.pop_back();
        rel.Aviso(texto, "as linhas desses comandos podem estar diferentes nas outras lojas; confira cada uma em "
                         "RPL_POSTOS_DE_LADO (MOTIVO diz por que falhou, COMANDO ou as colunas do log dizem o que "
                         "era) e corrija a linha à mão onde for preciso");
    } catch (const db::ErroBanco& e) {
        rel.Falha("Comandos postos de lado não puderam ser lidos: " + UmaLinha(e.what()),
                  std::string("rode ") + db::kScriptObjetos + " no banco como SYSDBA");
    }
}

void VerificarRegional(const TRegionalEmVigor& r, TRelatorio& rel) {
    const auto& g = r.Regional;
    const char* ordem = g.OrdemData == protocolo::TOrdemData::DiaMesAno   ? "dia, mês, ano"
                        : g.OrdemData == protocolo::TOrdemData::MesDiaAno ? "mês, dia, ano"
                                                                   : "ano, mês, dia";
    const std::string valores = "separador decimal '" + g.SeparadorDecimal + "', datas " + g.FormatoDataCurta + " (" +
                                ordem + ")";
    const std::string comoDefinir =
        "defina no ambiente do agente o mesmo locale das outras lojas da rede, por exemplo LANG=pt_BR.UTF-8 "
        "(na unidade systemd: Environment=LANG=pt_BR.UTF-8), e instale-o se faltar (locale-gen)";
    if (!r.Existe)
        rel.Falha("Configurações regionais: o locale \"" + r.NomeLocale +
                      "\" pedido pelo ambiente não existe nesta máquina; o agente usaria as do locale C (" + valores +
                      ")",
                  "instale o locale (locale-gen " + r.NomeLocale + ") ou corrija o nome; " + comoDefinir);
    else if (r.NomeLocale.empty() || r.NomeLocale == "C" || r.NomeLocale == "POSIX" ||
             r.NomeLocale.rfind("C.", 0) == 0)
        rel.Falha("Configurações regionais: nenhum locale definido (locale C: " + valores +
                      "); números e datas viajam como texto no formato regional e as lojas devem usar o mesmo",
                  comoDefinir);
    else
        rel.Ok("Configurações regionais (" + r.NomeLocale + "): " + valores +
               " (as outras lojas da rede devem usar as mesmas)");
}

// Step 7 for one table of the structure list.
void VerificarTabela(db::TCatalogoLoja& catalogo, db::Conexao& conexao, const std::string& tabela,
                     const std::vector<std::string>& colunasLista, TRelatorio& rel) {
    const std::string instalar = "rode ondarisd --instalar-gatilhos " + tabela;
    const std::string regra = std::string(" (") + protocolo::kRegraIdentificador + ")";
    if (!protocolo::IdentificadorValido(tabela)) {
        rel.Falha("Tabela \"" + tabela + "\" da lista de estrutura: o nome não é um identificador simples" + regra +
                      "; nada dela seria enviado nem recebido",
                  "corrija o nome na lista de estrutura do servidor central (tabelas com nome entre aspas não podem "
                  "ser replicadas)");
        return;
    }
    if (!catalogo.TabelaExiste(tabela)) {
        rel.Falha("Tabela " + tabela + " da lista de estrutura: não existe neste banco",
                  "crie a tabela como nas outras lojas, ou tire-a da lista de estrutura do servidor central");
        return;
    }
    bool ok = true;
    std::vector<std::string> locais;
    for (const auto& c : catalogo.Campos(tabela, false)) locais.push_back(c.Campo);
    // Names the agent would refuse: a column of the list stops receiving
    // the table, a column of this store (quoted, say) stops its sending.
    std::vector<std::string> foraDaRegra;
    for (const auto& c : colunasLista)
        if (!protocolo::IdentificadorValido(c)) foraDaRegra.push_back("\"" + c + "\" (da lista)");
    for (const auto& c : locais)
        if (!protocolo::IdentificadorValido(c) || protocolo::MaiusculasAscii(c) != c) foraDaRegra.push_back("\"" + c + "\"");
    if (!foraDaRegra.empty()) {
        ok = false;
        rel.Falha("Tabela " + tabela + ": colunas cujo nome não é um identificador simples em maiúsculas" + regra +
                      ": " + Juntar(foraDaRegra) + "; o agente recusa a tabela e nada dela seria enviado nem recebido",
                  "renomeie as colunas, em todas as lojas, para nomes sem aspas, e corrija a lista de estrutura do "
                  "servidor central");
    }
    std::vector<std::string> faltando;
    for (const auto& c : colunasLista)
        if (std::find(locais.begin(), locais.end(), protocolo::MaiusculasAscii(c)) == locais.end()) faltando.push_back(c);
    if (!faltando.empty()) {
        ok = false;
        rel.Falha("Tabela " + tabela + ": colunas da lista de estrutura que não existem aqui (ou são calculadas): " +
                      Juntar(faltando) + "; nenhuma alteração da tabela vinda das outras lojas poderia ser gravada",
                  "acrescente as colunas à tabela como nas outras lojas, ou corrija a lista de estrutura do "
                  "servidor central");
    }
    // The other way: a column of this store that the list does not name is
    // sent, but no store writes it (the list decides what is written).
    std::vector<std::string> semLista;
    for (const auto& c : locais)
        if (std::none_of(colunasLista.begin(), colunasLista.end(),
                         [&](const std::string& l) { return protocolo::MaiusculasAscii(l) == protocolo::MaiusculasAscii(c); }))
            semLista.push_back(c);
    if (!semLista.empty())
        rel.Aviso("Tabela " + tabela + ": " + (semLista.size() == 1 ? "a coluna " : "as colunas ") + Juntar(semLista) +
                      (semLista.size() == 1 ? " desta loja não está" : " desta loja não estão") +
                      " na lista de estrutura; os valores são enviados, mas as outras lojas não os gravam",
                  "se a coluna deve ser replicada, crie-a em todas as lojas e acrescente-a à lista de estrutura do "
                  "servidor central (scripts/estrutura-json); se ela é só desta loja, nada a fazer");
    const auto chave = catalogo.ColunasChave(tabela);
    const std::string nomeGatilho = db::NomeGatilhoRegistro(tabela);
    std::vector<std::string> colunasChave;
    for (const auto& c : chave) colunasChave.push_back(c.Nome);
    const std::string nomesChave = Juntar(colunasChave);
    const auto motivo = db::MotivoRecusa(tabela, chave);
    if (motivo) {
        ok = false;
        rel.Falha("Tabela " + tabela + ": " + *motivo,
                  "a tabela não pode ser replicada assim: dê a ela uma chave primária de uma ou duas colunas "
                  "inteiras ou de texto, em todas as lojas, ou tire-a da lista de estrutura");
        // The logging trigger is generated from the key.
        rel.NaoVerificado("Tabela " + tabela + ": gatilho de registro " + nomeGatilho +
                          " não verificado: depende de uma chave que o log possa levar");
    } else {
        const auto gerado = db::GerarGatilhoRegistro(tabela, chave);
        const auto gatilho = catalogo.Gatilho(gerado.Nome);
        if (!gatilho) {
            ok = false;
            rel.Falha("Tabela " + tabela + ": sem o gatilho de registro " + gerado.Nome +
                          "; as alterações feitas nesta loja não são enviadas",
                      instalar);
        } else if (!gatilho->ComoGerado || gatilho->Corpo != db::NormalizarCorpo(gerado.Corpo)) {
            ok = false;
            rel.Falha("Tabela " + tabela + ": o gatilho " + gerado.Nome +
                          (gatilho->Ativo ? " difere do gerado para a chave (" + nomesChave + ")" : " está inativo"),
                      instalar + " para substituí-lo (veja antes o SQL com --somente-imprimir)");
        } else if (!catalogo.GatilhoPodeRegistrar(gerado.Nome)) {
            ok = false;
            rel.Falha("Tabela " + tabela + ": o gatilho " + gerado.Nome + " não tem permissão de executar " +
                          db::kProcedimentoRegistro + "; toda alteração da tabela falharia",
                      instalar + " (concede a permissão)");
        }
    }
    if (const auto outros = catalogo.OutrosGatilhosDeRegistro(tabela, nomeGatilho); !outros.empty()) {
        ok = false;
        rel.Falha("Tabela " + tabela + ": outros gatilhos também registram alterações no log (" + Juntar(outros) +
                      "); cada alteração seria enviada duas vezes",
                  "remova-os (DROP TRIGGER) e deixe só o " + nomeGatilho);
    }
    // The rights are tried on a key column or, without a key the log can
    // carry, on any column whose name the statements may hold.
    std::string k;
    if (!motivo) k = chave.front().Nome;
    for (const auto& c : locais)
        if (k.empty() && protocolo::IdentificadorValido(c) && protocolo::MaiusculasAscii(c) == c) k = c;
    if (k.empty()) {
        rel.NaoVerificado("Tabela " + tabela + ": permissões da conta " + db::kUsuarioReplicacao +
                          " não verificadas: dependem de uma coluna de nome simples");
        return;
    }
    const std::pair<const char*, std::string> direitos[] = {
        {"ler", "SELECT FIRST 0 " + k + " FROM " + tabela},
        {"incluir", "INSERT INTO " + tabela + " (" + k + ") SELECT " + k + " FROM " + tabela + " WHERE 1 = 0"},
        {"alterar", "UPDATE " + tabela + " SET " + k + " = " + k + " WHERE 1 = 0"},
        {"apagar", "DELETE FROM " + tabela + " WHERE 1 = 0"},
    };
    std::vector<std::string> negados;
    std::string primeiroErro;
    for (const auto& [acao, sql] : direitos)
        if (auto erro = Recusado(conexao, sql)) {
            negados.push_back(acao);
            if (primeiroErro.empty()) primeiroErro = UmaLinha(*erro);
        }
    if (!negados.empty()) {
        // The server's words name the missing right: the account's own, or
        // one a trigger of the table lacks.
        ok = false;
        rel.Falha("Tabela " + tabela + ": a conta " + db::kUsuarioReplicacao + " não consegue " + Juntar(negados) +
                      " linhas (" + primeiroErro + "); o que chega das outras lojas não seria gravado",
                  (motivo ? "depois de corrigir a chave, " + instalar : instalar) + " (concede as permissões)");
    }
    if (ok)
        rel.Ok("Tabela " + tabela + ": colunas, chave (" + nomesChave + "), gatilho " + nomeGatilho + " e permissões");
}

}  // namespace

std::vector<TItemVerificacao> Verificar(const TOpcoesVerificacao& opcoes) {
    TRelatorio rel;
    const std::string pasta = opcoes.Pasta.empty() ? db::PastaExecutavel() : opcoes.Pasta;
    const std::filesystem::path ini = std::filesystem::path(pasta + "korvin.ini");
    const db::ConfiguracaoBanco cfg = db::LerConfiguracaoBanco(pasta);

    // 1. korvin.ini
    const std::string exemplo = "[Korvin], Servidor=<máquina do Firebird> e Caminho=<arquivo do banco como o "
                                "servidor o vê>";
    std::error_code erroArquivo;
    if (!std::filesystem::is_regular_file(ini, erroArquivo)) {
        rel.Falha("korvin.ini não encontrado em " + ini.string() + "; o agente usaria Servidor=" + cfg.Servidor +
                      " e Caminho=" + cfg.Caminho,
                  "crie " + ini.string() + " com " + exemplo);
    } else if (!std::ifstream(ini)) {
        rel.Falha("korvin.ini em " + ini.string() + " não pôde ser lido",
                  "dê ao usuário do agente permissão de leitura do arquivo");
    } else {
        std::vector<std::string> faltam;
        for (const char* chave : {"Servidor", "Caminho"})
            if (db::LerValorIni(ini, "Korvin", chave, kAusente) == kAusente) faltam.push_back(chave);
        if (!faltam.empty())
            rel.Falha("korvin.ini lido em " + ini.string() + ", mas sem " + Juntar(faltam) +
                          " na seção [Korvin]; o agente usaria Servidor=" + cfg.Servidor + " e Caminho=" + cfg.Caminho,
                      "acrescente ao arquivo " + exemplo);
        else
            rel.Ok("korvin.ini lido em " + ini.string() + ": Servidor=" + cfg.Servidor + ", Caminho=" + cfg.Caminho);
    }

    // 2 and 3. The server and the replication account's login.
    db::OpcoesTDM opcoesTdm;
    opcoesTdm.Pasta = pasta;
    db::TDM dm(opcoesTdm);
    dm.ConexaoGlobal().Parametros() = db::ParametrosConexao::De(cfg);
    dm.ConexaoGlobal().Parametros().Usuario = opcoes.Usuario;
    dm.ConexaoGlobal().Parametros().Senha = opcoes.Senha;
    const std::string alvo = dm.ConexaoGlobal().Parametros().StringConexao();
    const std::string login = "Login da conta de replicação " + opcoes.Usuario + " em " + alvo;
    bool conexaoOk = false;
    try {
        dm.ConexaoGlobal().Abrir();
        rel.Ok("Servidor de banco de dados " + cfg.Servidor + " (porta " + cfg.Porta +
               ") responde");
        rel.Ok(login);
        conexaoOk = true;
    } catch (const db::ErroBanco& e) {
        const std::string erro = UmaLinha(e.what());
        if (FalhaDeRede(e)) {
            rel.Falha("Servidor de banco de dados " + cfg.Servidor + " (porta " + cfg.Porta +
                          ") inacessível: " + erro,
                      "confira se o Firebird está em execução em " + cfg.Servidor +
                          ", se a porta " + cfg.Porta + " está liberada na rede e se Servidor= do korvin.ini está certo");
            rel.NaoVerificado(login + " não verificado: depende do servidor de banco de dados, que não respondeu");
        } else {
            rel.Ok("Servidor de banco de dados " + cfg.Servidor + " (porta " + cfg.Porta +
                   ") responde");
            if (dynamic_cast<const db::ErroLoginRecusado*>(&e))
                rel.Falha(login + " recusado: " + erro,
                          std::string("crie a conta como SYSDBA: CREATE USER ") + db::kUsuarioReplicacao +
                              " PASSWORD '" + db::kSenhaReplicacao +
                              "'; (o agente também tenta criá-la ao iniciar, com o login do administrador)");
            else
                rel.Falha("Banco de dados " + alvo + " não pôde ser aberto pela conta " + opcoes.Usuario + ": " + erro,
                          "confira Caminho= do korvin.ini: é o caminho do arquivo do banco como o servidor o vê");
        }
    }
    // What the checks below need of the one before them; each check whose
    // need is not met says so, in place of its result.
    const std::string semConexao = "da conexão ao banco como a conta " + opcoes.Usuario + ", que não pôde ser aberta";

    // 4. Our objects, their version, the account's rights on them.
    // Why the settings row cannot be read, when the objects tell.
    std::optional<std::string> semConfiguracoes;
    if (!conexaoOk) {
        rel.NaoVerificado("Objetos da replicação não verificados: dependem " + semConexao);
        semConfiguracoes = semConexao;
    } else {
        try {
            db::TCatalogoLoja catalogo(dm.ConexaoGlobal());
            const int versao = catalogo.VersaoObjetos();
            const std::string rodar = std::string("rode ") + db::kScriptObjetos + " no banco como SYSDBA (isql-fb -ch " +
                                      "ISO8859_1 -i " + db::kScriptObjetos + " " + alvo + ")";
            if (versao == 0) {
                const auto faltando = catalogo.ObjetosFaltando();
                rel.Falha("Objetos da replicação ausentes: " + Juntar(faltando), rodar);
                if (std::find(faltando.begin(), faltando.end(), "RPL_CONFIGURACOES") != faltando.end())
                    semConfiguracoes = "da tabela RPL_CONFIGURACOES, que não existe neste banco";
            } else if (versao < db::kVersaoObjetosReplicacao) {
                rel.Falha("Objetos da replicação da versão " + std::to_string(versao) + "; este agente precisa da " +
                              std::to_string(db::kVersaoObjetosReplicacao),
                          rodar + ": ele atualiza os objetos sem perder o log nem as posições");
            } else if (versao > db::kVersaoObjetosReplicacao) {
                rel.Falha("Objetos da replicação da versão " + std::to_string(versao) + ", mais nova que a deste agente (" +
                              std::to_string(db::kVersaoObjetosReplicacao) + ")",
                          "atualize o agente para a versão que acompanha esses objetos");
            }
            // Every object is there, of whatever version: the account's
            // rights are a matter of their own.
            if (versao > 0) {
                constexpr const char* kLerConfiguracoes = "ler RPL_CONFIGURACOES";
                const std::pair<const char*, std::string> usos[] = {
                    {kLerConfiguracoes, std::string(db::TConfiguracoesReplicacao::kSqlConfiguracoes)},
                    {"gravar ULTIMORECEBIMENTO",
                     "UPDATE RPL_CONFIGURACOES SET ULTIMORECEBIMENTO = ULTIMORECEBIMENTO WHERE 1 = 0"},
                    {"ler LOG_REPLICACAO", std::string(db::TLogReplicacao::kSqlUltimoMovimentoLoja)},
                    {"executar PROC_RETORNA_INDICE", "SELECT * FROM PROC_RETORNA_INDICE(0, NULL, 1)"},
                    // The hold every cycle claims (db/posse.h).
                    {"gravar RPL_POSSE", "UPDATE RPL_POSSE SET CHAVE = CHAVE WHERE 1 = 0"},
                };
                std::vector<std::string> negados;
                for (const auto& [uso, sql] : usos)
                    if (auto erro = Recusado(dm.ConexaoGlobal(), sql)) {
                        negados.push_back(uso + std::string(" (") + UmaLinha(*erro) + ")");
                        if (uso == kLerConfiguracoes)
                            semConfiguracoes = std::string("da permissão de ler RPL_CONFIGURACOES, que a conta ") +
                                               opcoes.Usuario + " não tem";
                    }
                if (!negados.empty()) {
                    rel.Falha(std::string("Objetos da replicação da versão ") + std::to_string(versao) + ", mas a conta " +
                                  db::kUsuarioReplicacao + " não pode " + Juntar(negados),
                              rodar + ": ele concede as permissões");
                } else if (versao == db::kVersaoObjetosReplicacao) {
                    rel.Ok("Objetos da replicação presentes, versão " + std::to_string(versao) +
                           ", com as permissões da conta " + db::kUsuarioReplicacao);
                    VerificarPostosDeLado(dm.ConexaoGlobal(), rel);
                }
            }
        } catch (const db::ErroBanco& e) {
            // The settings row is still tried: its own failure says more.
            rel.Falha("Objetos da replicação não puderam ser conferidos: " + UmaLinha(e.what()),
                      std::string("rode ") + db::kScriptObjetos + " no banco como SYSDBA");
        }
    }

    // 5. The settings row: the store code and the central server's address
    // are checked apart, the address being what the next check needs.
    std::optional<std::string> semLinkCentral;
    if (semConfiguracoes) {
        rel.NaoVerificado("Linha de configuração não verificada: depende " + *semConfiguracoes);
        semLinkCentral = "do endereço LINKCENTRAL da linha de configuração, que não pôde ser lida";
    } else {
        const std::string exemploLinha =
            "INSERT INTO RPL_CONFIGURACOES (CODIGO, CODIGOLOJA, LINKCENTRAL, NIVELREPLICACAO, ULTIMORECEBIMENTO) "
            "VALUES (1, <código da loja>, 'http://<servidor central>/', 1, 0)";
        try {
            dm.Configuracoes().AbrirConfiguracoes();
            std::optional<std::int32_t> loja;
            try {
                loja = dm.Configuracoes().CodigoLoja();
            } catch (const db::ErroBanco&) {
            }
            const bool lojaOk = loja && *loja > 0;
            if (!lojaOk)
                rel.Falha("Linha de configuração: CODIGOLOJA vazio ou não positivo",
                          "grave em CODIGOLOJA o código desta loja, o mesmo que o servidor central conhece");
            if (dm.Configuracoes().LinkCentral().empty()) {
                rel.Falha("Linha de configuração" + (lojaOk ? " da loja " + std::to_string(*loja) : std::string()) +
                              ": LINKCENTRAL vazio",
                          "grave em LINKCENTRAL o endereço do servidor central, por exemplo http://central:8080/");
                semLinkCentral = "do endereço LINKCENTRAL da linha de configuração, que está vazio";
            } else if (lojaOk) {
                rel.Ok("Linha de configuração: loja " + std::to_string(*loja) + ", servidor central " +
                       sync::LinkParaExibir(dm.Configuracoes().LinkCentral()) + ", recebido até a posição " + std::to_string(dm.Configuracoes().UltimoRecebimento()));
            }
        } catch (const db::ErroBanco& e) {
            // The module's own refusal (no row) carries no server code.
            rel.Falha("Linha de configuração: " + (e.Codigo() == 0 ? std::string("RPL_CONFIGURACOES não tem nenhuma linha")
                                                                    : UmaLinha(e.what())),
                      "grave a linha como SYSDBA: " + exemploLinha);
            semLinkCentral = "do endereço LINKCENTRAL da linha de configuração, que não pôde ser lida";
        }
    }

    // 6. The central server and its structure list.
    bool estruturaOk = false;
    if (semLinkCentral) {
        rel.NaoVerificado("Servidor central não verificado: depende " + *semLinkCentral);
    } else {
        sync::TContextoServidor contexto;
        contexto.TempoLimite = opcoes.TempoLimite;
        contexto.Regional = opcoes.Regional.Regional;
        try {
            const std::optional<sync::TRecusa> recusa =
                sync::ObterEstruturaBanco(dm.Configuracoes().LinkCentral(), dm.TBEstrutura(), contexto);
            if (recusa)
                rel.Falha("Servidor central " + sync::LinkParaExibir(dm.Configuracoes().LinkCentral()) + ": " + UmaLinha(sync::TextoRecusa(*recusa)),
                          "confira LINKCENTRAL: o servidor central deve responder à lista de estrutura (estruturabd)");
            else if (dm.TBEstrutura().Vazia())
                rel.Falha("Servidor central " + sync::LinkParaExibir(dm.Configuracoes().LinkCentral()) +
                              " responde, mas a lista de estrutura está vazia: nenhuma tabela seria replicada",
                          "carregue no servidor central a lista das tabelas e colunas replicadas "
                          "(scripts/estrutura-json gera uma a partir de um banco de loja)");
            else
                estruturaOk = true;
        } catch (const std::exception& e) {
            rel.Falha("Servidor central " + sync::LinkParaExibir(dm.Configuracoes().LinkCentral()) + " inacessível ou com resposta inválida: " +
                          UmaLinha(e.what()),
                      "confira LINKCENTRAL na linha de configuração, a rede e se o servidor central está no ar");
        }
    }

    // 7. Each table of the list.
    if (!estruturaOk) {
        rel.NaoVerificado(std::string("Tabelas replicadas não verificadas: dependem da lista de estrutura do servidor "
                                      "central, que ") +
                          (semLinkCentral ? "não pôde ser pedida" : "não pôde ser lida"));
    } else {
        std::vector<std::string> tabelas;
        for (const auto& l : dm.TBEstrutura().Linhas())
            if (l.TABELA && !l.TABELA->empty() &&
                std::find(tabelas.begin(), tabelas.end(), *l.TABELA) == tabelas.end())
                tabelas.push_back(*l.TABELA);
        rel.Ok("Servidor central " + sync::LinkParaExibir(dm.Configuracoes().LinkCentral()) + " responde; lista de estrutura com " +
               protocolo::Quantidade(static_cast<std::int64_t>(tabelas.size()), "tabela", "tabelas"));
        // The list's address came through the database: the connection is open.
        db::TCatalogoLoja catalogo(dm.ConexaoGlobal());
        for (const auto& t : tabelas) {
            try {
                VerificarTabela(catalogo, dm.ConexaoGlobal(), protocolo::MaiusculasAscii(t),
                                dm.TBEstrutura().CamposDaTabela(t), rel);
            } catch (const std::exception& e) {
                rel.Falha("Tabela " + t + ": não pôde ser conferida: " + UmaLinha(e.what()),
                          "confira o nome da tabela na lista de estrutura e o banco");
            }
        }
    }

    // 8. Regional settings.
    VerificarRegional(opcoes.Regional, rel);
    return std::move(rel).Itens();
}

std::string TextoVerificacao(const std::vector<TItemVerificacao>& itens) {
    std::string r;
    std::size_t falhas = 0, avisos = 0, naoVerificados = 0;
    for (const auto& i : itens) {
        if (i.NaoVerificado) {
            ++naoVerificados;
            r += "--     " + i.Texto + "\n";
            continue;
        }
        r += (!i.Ok ? "FALHA  " : i.Aviso ? "AVISO  " : "OK     ") + i.Texto + "\n";
        if (!i.Ok || i.Aviso) {
            ++(i.Ok ? avisos : falhas);
            r += "       O que fazer: " + i.OQueFazer + "\n";
        }
    }
    const std::size_t verificados = itens.size() - naoVerificados;
    const std::string itensVerificados =
        " em " + protocolo::Quantidade(static_cast<std::int64_t>(verificados), "item verificado", "itens verificados") +
        (naoVerificados == 0 ? std::string()
                             : "; " + std::to_string(naoVerificados) +
                                   (naoVerificados == 1 ? " item não verificado, por depender do que falhou"
                                                        : " itens não verificados, por dependerem do que falhou")) +
        ".\n";
    const std::string textoAvisos = protocolo::Quantidade(static_cast<std::int64_t>(avisos), "aviso", "avisos");
    if (falhas == 0 && avisos == 0)
        r += "Tudo certo: " + protocolo::Quantidade(static_cast<std::int64_t>(itens.size()), "item verificado", "itens verificados") +
             ".\n";
    else if (falhas == 0)
        r += "Nenhuma falha e " + textoAvisos + itensVerificados;
    else
        r += protocolo::Quantidade(static_cast<std::int64_t>(falhas), "falha", "falhas") +
             (avisos == 0 ? std::string() : " e " + textoAvisos) + itensVerificados;
    return r;
}

int ExecutarVerificacao(const TOpcoesVerificacao& opcoes, std::ostream& saida) {
    std::vector<TItemVerificacao> itens;
    try {
        itens = Verificar(opcoes);
    } catch (const std::exception& e) {
        itens.push_back({false, std::string("A verificação parou: ") + UmaLinha(e.what()),
                         "corrija a causa acima e rode --verificar de novo"});
    }
    saida << TextoVerificacao(itens);
    const bool tudoOk = std::all_of(itens.begin(), itens.end(), [](const TItemVerificacao& i) { return i.Ok; });
    return tudoOk ? 0 : 1;
}

}  // namespace ondaris::shell
