// ondaris-central: the reference central server. Keeps every command in one
// SQLite file, or in a PostgreSQL database several server processes share,
// and answers the store agents' four endpoints plus "status".
//
//   ondaris-central --banco central.sqlite --estrutura estrutura.json
//                   [--endereco 127.0.0.1] [--porta 8080] [--limite-parada MINUTOS]
//                   [--certificado central.pem --chave central.key]
//   ondaris-central --banco postgresql://usuario@maquina/banco --estrutura ...
//   ondaris-central --banco ... purgar
//   ondaris-central --banco ... credencial criar|revogar|sem-senha LOJA
//   ondaris-central --banco ... credencial listar
//
// "purgar" removes the commands every store has received, says how many,
// and ends (Armazem::Purgar); the server never does it on its own.
//
// The operator's page is at /painel, the metrics at /metrics.
//
// The stores' credentials (central/credenciais.h) are managed by the same
// program on the same database, also while a server is running on it.
#include <charconv>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "central/armazem.h"
#include "central/credenciais.h"
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
              << "uso: ondaris-central --banco ARQUIVO|postgresql://... --estrutura ARQUIVO [--endereco ENDERECO] [--porta N]\n"
                 "                       [--limite-parada MINUTOS] [--certificado CERTIFICADO.pem --chave CHAVE.key]\n"
                 "     ondaris-central --banco ARQUIVO purgar                     remove o que todas as lojas já receberam\n"
                 "     ondaris-central --banco ARQUIVO credencial criar LOJA      cria o segredo da loja e o mostra uma vez\n"
                 "                                                              (substitui o anterior)\n"
                 "     ondaris-central --banco ARQUIVO credencial revogar LOJA    o segredo da loja deixa de valer\n"
                 "     ondaris-central --banco ARQUIVO credencial sem-senha LOJA  admite a loja sem credenciais\n"
                 "                                                              (agente que não as envia)\n"
                 "     ondaris-central --banco ARQUIVO credencial listar          as credenciais de cada loja\n";
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

// "credencial ...": prints what was done, 0 on success.
int Credencial(const std::string& banco, const std::vector<std::string>& args) {
    if (args.empty()) return Uso("falta a operação de credencial (criar, revogar, sem-senha ou listar)");
    const std::string& operacao = args[0];
    ondaris::central::Credenciais credenciais(banco);
    if (operacao == "listar") {
        if (args.size() != 1) return Uso("credencial listar não recebe mais argumentos");
        const auto lista = credenciais.Listar();
        if (lista.empty()) std::cout << "nenhuma credencial nesta central: toda loja é recusada\n";
        for (const auto& c : lista) {
            std::cout << "loja " << c.Loja << " (usuário " << ondaris::central::UsuarioDaLoja(c.Loja) << "): ";
            if (c.TemSegredo) std::cout << "segredo criado em " << c.CriadaEm;
            if (c.TemSegredo && c.SemSenha) std::cout << "; ";
            if (c.SemSenha) std::cout << "admitida sem credenciais desde " << c.SemSenhaDesde;
            if (!c.TemSegredo && !c.SemSenha)
                std::cout << "revogada em " << c.RevogadaEm << ": recusada";
            std::cout << "\n";
        }
        return 0;
    }
    if (operacao != "criar" && operacao != "revogar" && operacao != "sem-senha")
        return Uso(("operação de credencial desconhecida: " + operacao).c_str());
    if (args.size() != 2) return Uso(("credencial " + operacao + " precisa do código da loja, e só dele").c_str());
    std::int32_t loja = 0;
    const std::string& texto = args[1];
    auto [fim, erro] = std::from_chars(texto.data(), texto.data() + texto.size(), loja);
    if (texto.empty() || erro != std::errc() || fim != texto.data() + texto.size() || loja < 1)
        return Uso(("código de loja inválido: '" + texto + "' (um número inteiro de 1 em diante)").c_str());
    const std::string usuario = ondaris::central::UsuarioDaLoja(loja);
    if (operacao == "criar") {
        const auto atual = credenciais.DaLoja(loja);
        const bool tinha = atual && atual->TemSegredo;
        const std::string segredo = credenciais.Criar(loja);
        std::cout << "credencial da loja " << loja << " criada"
                  << (tinha ? " (o segredo anterior deixou de valer)" : "") << ".\n"
                  << "anote o segredo agora: ele não será mostrado de novo.\n"
                  << "usuário: " << usuario << "\n"
                  << "segredo: " << segredo << "\n"
                  << "LINKCENTRAL da loja: https://" << usuario << ":" << segredo << "@ENDERECO-DA-CENTRAL/\n";
    } else if (operacao == "revogar") {
        if (!credenciais.Revogar(loja)) {
            std::cerr << "ondaris-central: a loja " << loja << " não tinha credencial válida nem admissão sem senha\n";
            return 1;
        }
        std::cout << "credencial da loja " << loja << " revogada: a loja é recusada até receber uma nova\n";
    } else {
        credenciais.PermitirSemSenha(loja);
        std::cout << "a loja " << loja << " é admitida sem credenciais (o status mostra \"sem senha\"); "
                  << "para desfazer: credencial revogar " << loja << "\n";
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::string banco, estrutura, endereco = "127.0.0.1", certificado, chave;
    int porta = 8080;
    bool purgar = false;
    ondaris::central::OpcoesPainel painel;
    std::vector<std::string> credencial;
    bool comandoCredencial = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (comandoCredencial) {
            credencial.push_back(a);
            continue;
        }
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
            else if (a == "--certificado") certificado = valor();
            else if (a == "--chave") chave = valor();
            else if (a == "credencial") comandoCredencial = true;
            else return Uso(("argumento desconhecido " + a).c_str());
        } catch (const std::exception& e) {
            return Uso(e.what());
        }
    }
    if (purgar) {
        if (banco.empty()) return Uso("--banco é obrigatório");
        return Purgar(banco);
    }
    if (comandoCredencial) {
        if (banco.empty()) return Uso("--banco é obrigatório");
        try {
            return Credencial(banco, credencial);
        } catch (const std::exception& e) {
            std::cerr << "ondaris-central: " << e.what() << "\n";
            return 1;
        }
    }
    if (banco.empty() || estrutura.empty()) return Uso("--banco e --estrutura são obrigatórios");
    if (certificado.empty() != chave.empty()) return Uso("--certificado e --chave vêm juntos");

    try {
        std::ifstream arquivo(estrutura, std::ios::binary);
        if (!arquivo) throw std::runtime_error("não foi possível ler " + estrutura);
        std::stringstream texto;
        texto << arquivo.rdbuf();

        ondaris::central::Armazem armazem(banco);
        ondaris::central::ServidorCentral central(armazem, texto.str());
        ondaris::central::Credenciais credenciais(banco);
        central.DefinirCredenciais(&credenciais);
        ondaris::central::ServidorHttp servidor;
        if (!certificado.empty()) servidor.UsarTls(certificado, chave);
        ondaris::central::ExigirCredenciais(servidor, credenciais);
        central.Registrar(servidor);
        ondaris::central::Painel paginaDoOperador(armazem, painel);
        paginaDoOperador.DefinirCredenciais(&credenciais);
        paginaDoOperador.Registrar(servidor);
        {
            std::vector<std::int32_t> conhecidas;
            for (const auto& e : armazem.Estado()) conhecidas.push_back(e.Loja);
            std::cerr << credenciais.AvisoAoIniciar(conhecidas, banco) << std::flush;
        }
        g_servidor = &servidor;
        std::signal(SIGTERM, Parar);
        std::signal(SIGINT, Parar);
        if (!servidor.bind_to_port(endereco.c_str(), porta))
            throw std::runtime_error("não foi possível escutar em " + endereco + ":" + std::to_string(porta));
        std::cout << "ondaris-central escutando em " << (servidor.Seguro() ? "https" : "http") << "://" << endereco << ":" << porta << "/" << std::endl;
        servidor.listen_after_bind();
        std::cout << "ondaris-central parado" << std::endl;
    } catch (const std::exception& e) {
        std::cerr << "ondaris-central: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
