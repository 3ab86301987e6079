#include "app/shell/servico.h"

#include <ostream>
#include <thread>

namespace ondaris::shell {

TOpcoesServico LerArgumentos(const std::vector<std::string>& argumentos) {
    TOpcoesServico opcoes;
    for (const auto& a : argumentos) {
        if (a == "--once") {
            opcoes.UmaVez = true;
        } else if (a == "--help" || a == "-h") {
            opcoes.Ajuda = true;
        } else {
            throw ErroArgumento("argumento desconhecido: " + a);
        }
    }
    return opcoes;
}

std::string TextoAjuda(const std::string& programa) {
    return "Uso: " + programa +
           " [--once]\n"
           "  Sincroniza o banco da loja com o servidor central a cada 2 minutos.\n"
           "  --once  executa uma única sincronização e termina (status 0 sem falha, 1 com falha)\n";
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
            // A refused or stalled step is in the log already; the exit
            // status must not pass it off as a finished synchronisation.
            return ciclo.ExecucaoIncompleta() ? 1 : 0;
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
            ManipulaExcecoes(amb, e.what());
        } catch (...) {
            ManipulaExcecoes(amb, "Falha de tipo desconhecido na sincronização");
        }
    }
    return 0;
}

}  // namespace ondaris::shell
