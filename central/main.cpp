// ondaris-central: the reference central server. Keeps every command in one
// SQLite file, or in a PostgreSQL database several server processes share,
// and answers the store agents' four endpoints plus "status".
//
//   ondaris-central --banco central.sqlite --estrutura estrutura.json
//                   [--endereco 127.0.0.1] [--porta 8080] [--limite-parada MINUTOS]
//   ondaris-central --banco postgresql://usuario@maquina/banco --estrutura ...
//   ondaris-central --banco ... purgar
//
// "purgar" removes the commands every store has received, says how many,
// and ends (Armazem::Purgar); the server never does it on its own.
//
// The operator's page is at /painel, the metrics at /metrics.
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "central/armazem.h"
#include "central/http.h"
#include "central/painel.h"
#include "central/servidor.h"

namespace {

ondaris::central::ServidorHttp* g_servidor = nullptr;

void Parar(int) {
    if (g_servidor) g_servidor->stop();
}

int Uso(const char* msg) {
    std::cerr << "ondaris-central: " << msg << "\n"
              << "uso: ondaris-central --banco ARQUIVO|postgresql://... --estrutura ARQUIVO [--endereco ENDERECO]"
                 " [--porta N] [--limite-parada MINUTOS]\n"
              << "     ondaris-central --banco ARQUIVO|postgresql://... purgar\n";
    return 2;
}

std::string Lista(const std::vector<std::int32_t>& lojas) {
    std::string r;
    for (std::size_t i = 0; i < lojas.size(); ++i)
        r += (i == 0 ? "" : i + 1 == lojas.size() ? " e " : ", ") + std::to_string(lojas[i]);
    return r;
}

int Purgar(const std::string& banco) {
    try {
        ondaris::central::Armazem armazem(banco);
        const ondaris::central::ResultadoPurga r = armazem.Purgar();
        if (r.Removidos == 0) std::cout << "nenhum comando removido";
        else if (r.Removidos == 1) std::cout << "1 comando removido";
        else std::cout << r.Removidos << " comandos removidos";
        if (r.AtePosicao > 0) std::cout << ": todas as lojas já receberam até a posição " << r.AtePosicao;
        else if (r.Atrasadas.empty()) std::cout << ": nenhuma loja conhecida";
        std::cout << "\n";
        const std::string alem =
            r.AtePosicao > 0 ? " além da posição " + std::to_string(r.AtePosicao) : std::string(" nenhum comando");
        if (r.Atrasadas.size() == 1)
            std::cout << "a loja " << r.Atrasadas[0] << " ainda não recebeu" << alem << "\n";
        else if (r.Atrasadas.size() > 1)
            std::cout << "as lojas " << Lista(r.Atrasadas) << " ainda não receberam" << alem << "\n";
    } catch (const std::exception& e) {
        std::cerr << "ondaris-central: " << e.what() << "\n";
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::string banco, estrutura, endereco = "127.0.0.1";
    int porta = 8080;
    bool purgar = false;
    ondaris::central::OpcoesPainel painel;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto valor = [&]() -> std::string {
            if (i + 1 >= argc) throw std::invalid_argument(a + " precisa de um valor");
            return argv[++i];
        };
        try {
            if (a == "--banco") banco = valor();
            else if (a == "--estrutura") estrutura = valor();
            else if (a == "--endereco") endereco = valor();
            else if (a == "--porta") porta = std::stoi(valor());
            else if (a == "purgar") purgar = true;
            else if (a == "--limite-parada") {
                const int minutos = std::stoi(valor());
                if (minutos < 1) return Uso("--limite-parada precisa de um número de minutos a partir de 1");
                painel.LimiteParada = std::chrono::minutes(minutos);
            }
            else return Uso(("argumento desconhecido " + a).c_str());
        } catch (const std::exception& e) {
            return Uso(e.what());
        }
    }
    if (purgar) {
        if (banco.empty()) return Uso("--banco é obrigatório");
        return Purgar(banco);
    }
    if (banco.empty() || estrutura.empty()) return Uso("--banco e --estrutura são obrigatórios");

    try {
        std::ifstream arquivo(estrutura, std::ios::binary);
        if (!arquivo) throw std::runtime_error("não foi possível ler " + estrutura);
        std::stringstream texto;
        texto << arquivo.rdbuf();

        ondaris::central::Armazem armazem(banco);
        ondaris::central::ServidorCentral central(armazem, texto.str());
        ondaris::central::ServidorHttp servidor;
        central.Registrar(servidor);
        ondaris::central::Painel paginaDoOperador(armazem, painel);
        paginaDoOperador.Registrar(servidor);
        g_servidor = &servidor;
        std::signal(SIGTERM, Parar);
        std::signal(SIGINT, Parar);
        if (!servidor.bind_to_port(endereco.c_str(), porta))
            throw std::runtime_error("não foi possível escutar em " + endereco + ":" + std::to_string(porta));
        std::cout << "ondaris-central escutando em http://" << endereco << ":" << porta << "/" << std::endl;
        servidor.listen_after_bind();
        std::cout << "ondaris-central parado" << std::endl;
    } catch (const std::exception& e) {
        std::cerr << "ondaris-central: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
