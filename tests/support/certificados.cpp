#include "support/certificados.h"

#include <chrono>
#include <stdexcept>
#include <vector>

#include "support/loja_e2e.h"

namespace ondaris::teste {
namespace {

void Openssl(const std::filesystem::path& pasta, std::vector<std::string> argumentos) {
    argumentos.insert(argumentos.begin(), "/usr/bin/openssl");
    Processo p(argumentos, pasta / "openssl.out");
    const int status = p.Esperar(std::chrono::seconds(60));
    if (status != 0)
        throw std::runtime_error("openssl " + argumentos.at(1) + " failed (status " + std::to_string(status) +
                                 "):\n" + p.Saida());
}

// A self-signed authority: its certificate and key.
CertificadoServidor NovaAutoridade(const std::filesystem::path& pasta, const std::string& nome) {
    CertificadoServidor ca{pasta / (nome + ".pem"), pasta / (nome + ".key")};
    Openssl(pasta, {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj", "/CN=" + nome,
                    "-keyout", ca.Chave.string(), "-out", ca.Certificado.string()});
    return ca;
}

CertificadoServidor Servidor(const std::filesystem::path& pasta, const std::string& nome,
                             const CertificadoServidor& ca, const std::string& nomes) {
    CertificadoServidor s{pasta / (nome + ".pem"), pasta / (nome + ".key")};
    const auto pedido = pasta / (nome + ".csr");
    const auto extensoes = pasta / (nome + ".ext");
    GravarBytes(extensoes, "subjectAltName=" + nomes + "\nextendedKeyUsage=serverAuth\n");
    Openssl(pasta, {"req", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=" + nome, "-keyout", s.Chave.string(),
                    "-out", pedido.string()});
    Openssl(pasta, {"x509", "-req", "-in", pedido.string(), "-CA", ca.Certificado.string(), "-CAkey",
                    ca.Chave.string(), "-CAcreateserial", "-days", "2", "-extfile", extensoes.string(), "-out",
                    s.Certificado.string()});
    return s;
}

}  // namespace

CertificadosTeste::CertificadosTeste() : pasta_("ondaris-certificados") {
    const auto& p = pasta_.Caminho();
    const CertificadoServidor ca = NovaAutoridade(p, "ondaris-teste-ca");
    const CertificadoServidor estranha = NovaAutoridade(p, "autoridade-desconhecida");
    autoridade_ = ca.Certificado;
    valido_ = Servidor(p, "central", ca, "IP:127.0.0.1,DNS:localhost");
    outraAutoridade_ = Servidor(p, "central-estranha", estranha, "IP:127.0.0.1,DNS:localhost");
    outroNome_ = Servidor(p, "outro", ca, "DNS:outro.example");
}

}  // namespace ondaris::teste
