#pragma once
// Certificates made by the test, with the openssl tool, in a temporary
// folder: a certificate authority of the test's own and server
// certificates for 127.0.0.1 signed by it, by a second authority nobody
// trusts, or for another name. Nothing of it is committed; the keys live
// and die with the object.
#include <filesystem>
#include <string>

#include "support/pasta_temporaria.h"

namespace ondaris::teste {

struct CertificadoServidor {
    std::filesystem::path Certificado;  // PEM
    std::filesystem::path Chave;        // PEM, unencrypted
};

class CertificadosTeste {
public:
    CertificadosTeste();  // throws std::runtime_error when openssl fails

    // The authority to trust (ONDARIS_CA) for the certificates it signed.
    const std::filesystem::path& Autoridade() const { return autoridade_; }
    // For 127.0.0.1 and localhost, signed by Autoridade().
    const CertificadoServidor& Valido() const { return valido_; }
    // For 127.0.0.1, signed by another authority, which is not trusted.
    const CertificadoServidor& DeOutraAutoridade() const { return outraAutoridade_; }
    // Signed by Autoridade(), but for the name outro.example only.
    const CertificadoServidor& DeOutroNome() const { return outroNome_; }

private:
    PastaTemporaria pasta_;
    std::filesystem::path autoridade_;
    CertificadoServidor valido_, outraAutoridade_, outroNome_;
};

}  // namespace ondaris::teste
