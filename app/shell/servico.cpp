#include "app/shell/servico.h"

#include <algorithm>
#include <ostream>
#include <thread>

#include "db/construtores.h"
#include "db/manutencao.h"
#include "protocolo/texto.h"
#include "sync/de_lado.h"

namespace ondaris::shell {

namespace {

void DefinirComando(TOpcoesServico& opcoes, TComandoServico comando, const std::string& nome) {
    if (opcoes.Comando != TComandoServico::csSincronizar && opcoes.Comando != comando)
        throw ErroArgumento("um comando por vez: " + nome + " não combina com o anterior");
    opcoes.Comando = comando;
}

}  // namespace

TOpcoesServico LerArgumentos(const std::vector<std::string>& argumentos) {
    TOpcoesServico opcoes;
    std::vector<std::string> tabelas;
    for (std::size_t i = 0; i < argumentos.size(); ++i) {
        const std::string& a = argumentos[i];
        if (a == "--once") {
            opcoes.UmaVez = true;
        } else if (a == "--help" || a == "-h") {
            opcoes.Ajuda = true;
        } else if (a == "--verificar") {
            DefinirComando(opcoes, TComandoServico::csVerificar, a);
        } else if (a == "--instalar-gatilhos") {
            DefinirComando(opcoes, TComandoServico::csInstalarGatilhos, a);
        } else if (a == "--remover-gatilhos") {
            DefinirComando(opcoes, TComandoServico::csRemoverGatilhos, a);
        } else if (a == "--somente-imprimir") {
            opcoes.SomenteImprimir = true;
        } else if (a == "--limpar-log") {
            DefinirComando(opcoes, TComandoServico::csLimparLog, a);
            if (i + 1 >= argumentos.size()) throw ErroArgumento("--limpar-log precisa do número de dias");
            const std::string& dias = argumentos[++i];
            const bool digitos = !dias.empty() && dias.size() <= 5 &&
                                 std::all_of(dias.begin(), dias.end(), [](char c) { return c >= '0' && c <= '9'; });
            if (!digitos || std::stoi(dias) > kMaximoDiasLimpeza)
                throw ErroArgumento("--limpar-log: \"" + dias + "\" não é um número de dias de 0 a " +
                                    std::to_string(kMaximoDiasLimpeza));
            opcoes.Dias = std::stoi(dias);
        } else if (a == "--nova-loja") {
            DefinirComando(opcoes, TComandoServico::csNovaLoja, a);
            if (i + 1 >= argumentos.size()) throw ErroArgumento("--nova-loja precisa do código da nova loja");
            const std::string& codigo = argumentos[++i];
            const bool digitos = !codigo.empty() && codigo.size() <= 10 &&
                                 std::all_of(codigo.begin(), codigo.end(), [](char c) { return c >= '0' && c <= '9'; });
            if (!digitos || std::stoll(codigo) < 1 || std::stoll(codigo) > db::kMaiorCodigoLoja)
                throw ErroArgumento("--nova-loja: \"" + codigo + "\" não é um código de loja (um número inteiro de 1 a " +
                                    std::to_string(db::kMaiorCodigoLoja) + ")");
            opcoes.CodigoLoja = static_cast<std::int32_t>(std::stoll(codigo));
        } else if (a == sync::kOpcaoPorDeLadoRecebido || a == sync::kOpcaoPorDeLadoEnvio) {
            DefinirComando(opcoes,
                           a == sync::kOpcaoPorDeLadoRecebido ? TComandoServico::csPorDeLadoRecebido
                                                              : TComandoServico::csPorDeLadoEnvio,
                           a);
            if (i + 1 >= argumentos.size()) throw ErroArgumento(a + " precisa da ordem do comando");
            const std::string& ordem = argumentos[++i];
            const bool digitos = !ordem.empty() && ordem.size() <= 18 &&
                                 std::all_of(ordem.begin(), ordem.end(), [](char c) { return c >= '0' && c <= '9'; });
            if (!digitos || std::stoll(ordem) < 1)
                throw ErroArgumento(a + ": \"" + ordem + "\" não é a ordem de um comando (um número inteiro positivo)");
            opcoes.Ordem = std::stoll(ordem);
        } else if (a == "--envio-inicial") {
            DefinirComando(opcoes, TComandoServico::csEnvioInicial, a);
        } else if (a == "--confirmar") {
            opcoes.Confirmar = true;
        } else if (!a.empty() && a.front() != '-') {
            tabelas.push_back(a);
        } else {
            throw ErroArgumento("argumento desconhecido: " + a);
        }
    }
    const bool comTabelas = opcoes.Comando == TComandoServico::csInstalarGatilhos ||
                            opcoes.Comando == TComandoServico::csRemoverGatilhos ||
                            opcoes.Comando == TComandoServico::csEnvioInicial;
    if (!tabelas.empty() && !comTabelas) throw ErroArgumento("argumento desconhecido: " + tabelas.front());
    // Every row of every table, sent over every other store's rows, is
    // never what a bare command should mean.
    if (opcoes.Comando == TComandoServico::csEnvioInicial && tabelas.empty())
        throw ErroArgumento("--envio-inicial precisa dos nomes das tabelas");
    for (const auto& t : tabelas) {
        if (!protocolo::IdentificadorValido(t))
            throw ErroArgumento("\"" + t + "\" não é um nome de tabela (" + std::string(protocolo::kRegraIdentificador) + ")");
        opcoes.Tabelas.push_back(protocolo::MaiusculasAscii(t));
    }
    if (opcoes.SomenteImprimir && opcoes.Comando != TComandoServico::csInstalarGatilhos)
        throw ErroArgumento("--somente-imprimir só vale com --instalar-gatilhos");
    if (opcoes.Confirmar && opcoes.Comando != TComandoServico::csEnvioInicial)
        throw ErroArgumento("--confirmar só vale com --envio-inicial");
    if (opcoes.UmaVez && opcoes.Comando != TComandoServico::csSincronizar)
        throw ErroArgumento("--once não combina com um comando de instalação");
    return opcoes;
}

std::string TextoAjuda(const std::string& programa) {
    return "Uso: " + programa +
           " [--once]\n"
           "  Sincroniza o banco da loja com o servidor central a cada 2 minutos.\n"
           "  --once  executa uma única sincronização e termina (status 0 sem falha, 1 com falha ou com o\n"
           "          envio retido por uma transação aberta há mais tempo que SegundosEnvioRetido)\n"
           "\n"
           "Instalação e manutenção (um comando por vez; status 0 quando tudo deu certo):\n"
           "  --verificar\n"
           "      confere cada pré-requisito da loja e diz o que fazer em cada falha\n"
           "  --instalar-gatilhos [--somente-imprimir] [TABELA...]\n"
           "      cria o gatilho de registro e as permissões das tabelas nomeadas ou, sem nomes,\n"
           "      de todas as tabelas com chave primária; --somente-imprimir mostra o SQL sem mudar nada\n"
           "  --remover-gatilhos [TABELA...]\n"
           "      remove o gatilho de registro e as permissões das tabelas nomeadas ou, sem nomes,\n"
           "      de todas as que têm um\n"
           "  --limpar-log DIAS\n"
           "      apaga do LOG_REPLICACAO as linhas que o servidor central já recebeu e que têm mais\n"
           "      de DIAS dias, em lotes curtos\n"
           "  --nova-loja CODIGO\n"
           "      transforma a cópia restaurada do banco de uma loja na loja CODIGO: esvazia o log e as\n"
           "      reservas, grava o código, mantém a posição recebida da cópia e lista as tabelas com\n"
           "      linhas da loja anterior\n"
           "  --envio-inicial [--confirmar] TABELA...\n"
           "      registra no log cada linha existente das tabelas nomeadas, para que o agente as envie\n"
           "      e elas substituam as linhas de mesma chave em todas as outras lojas; sem --confirmar\n"
           "      só diz quantas seriam registradas\n"
           "  --por-de-lado-recebido ORDEM\n"
           "      põe de lado o comando ORDEM recebido do servidor central que esta loja não consegue\n"
           "      aplicar (o registro da falha dá o comando): guarda-o em RPL_POSTOS_DE_LADO e passa a\n"
           "      posição recebida por ele; o resto flui no próximo ciclo\n"
           "  --por-de-lado-envio ORDEM\n"
           "      põe de lado a linha ORDEM do LOG_REPLICACAO que não pode ser enviada (tabela apagada,\n"
           "      chave que o log não guarda): guarda-a em RPL_POSTOS_DE_LADO e a tira do log\n"
           "  Os comandos que mudam o banco entram como administrador: ISC_USER e ISC_PASSWORD do\n"
           "  ambiente ou, sem eles, SYSDBA com as senhas que o agente conhece.\n";
}

void TJanelaTexto::StatusRecebimento(const std::string& texto) {
    // The window clears the panel at the start of every receive step; as a
    // line that says nothing.
    if (!texto.empty()) Saida_ << "Recebimento: " << texto << std::endl;
}

void TJanelaTexto::StatusEnvio(const std::string& texto) {
    Saida_ << "Envio: " << texto << std::endl;
}

void TJanelaTexto::Cronometro(const std::string& texto) {
    if (UltimoCronometro_.empty() || UltimoCronometro_ == "00:00") {
        Saida_ << "Próxima sincronização em " << texto << std::endl;
    }
    UltimoCronometro_ = texto;
}

namespace {

// The application-wide exception handler of the headless program.
void ManipulaExcecoes(TAmbienteServico& amb, const std::string& mensagem) {
    amb.Registro.DoSaveLog(mensagem);
    amb.Erros << "Falha: " << mensagem << std::endl;
}

}  // namespace

int ExecutarServico(const TOpcoesServico& opcoes, TAmbienteServico& amb) {
    auto dormir = amb.Dormir ? amb.Dormir
                             : [](std::chrono::milliseconds ms) { std::this_thread::sleep_for(ms); };
    sync::TCiclo ciclo(
        amb.Operacoes, amb.Janela, [&amb](const std::string& m) { amb.Registro.DoSaveLog(m); }, dormir,
        amb.Parar);

    if (opcoes.UmaVez) {
        try {
            ciclo.TimerTimer();
            // A refused or stalled step is in the log already, and so is
            // sending held back for long by an open store transaction; the
            // exit status must not pass either off as a finished
            // synchronisation.
            return ciclo.ExecucaoIncompleta() || ciclo.EnvioRetido() ? 1 : 0;
        } catch (const std::exception& e) {
            ManipulaExcecoes(amb, e.what());
        } catch (...) {
            ManipulaExcecoes(amb, "Falha de tipo desconhecido na sincronização");
        }
        return 1;
    }

    ciclo.Iniciar();
    while (!(amb.Parar && amb.Parar())) {
        dormir(std::chrono::milliseconds(1000));
        if (amb.Parar && amb.Parar()) {
            break;
        }
        try {
            ciclo.Tick();
        } catch (const std::exception& e) {
            if (ciclo.RegistrarFalha(e.what())) ManipulaExcecoes(amb, e.what());
        } catch (...) {
            const char* texto = "Falha de tipo desconhecido na sincronização";
            if (ciclo.RegistrarFalha(texto)) ManipulaExcecoes(amb, texto);
        }
    }
    return 0;
}

}  // namespace ondaris::shell
