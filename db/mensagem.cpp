#include "db/mensagem.h"

#include <cstring>

namespace ondaris::db {

unsigned ConjuntoDoBlobEmLinha(const DescricaoCampo& blob) {
    if (blob.Categoria != TTipoCampo::tcBlobTexto) return kCharsetOctets;
    return blob.ConjuntoCaracteres == kCharsetUtf8 ? kCharsetUtf8 : kCharsetLatin1;
}

bool BlobsCabemEmLinha(const std::vector<DescricaoCampo>& parametros,
                       const std::vector<std::optional<std::string>>& blobs) {
    for (std::size_t i = 0; i < parametros.size(); ++i)
        if (parametros[i].EhBlob() && blobs[i] && blobs[i]->size() > kMaximoVarchar) return false;
    return true;
}

void GravarBlobsEmLinha(const std::vector<DescricaoCampo>& parametros,
                        const std::vector<std::optional<std::string>>& blobs, unsigned char* entrada) {
    for (std::size_t i = 0; i < parametros.size(); ++i) {
        const auto& p = parametros[i];
        if (!p.EhBlob() || !blobs[i]) continue;
        const auto tam = static_cast<std::uint16_t>(blobs[i]->size());
        std::memcpy(entrada + p.Deslocamento, &tam, sizeof tam);
        std::memcpy(entrada + p.Deslocamento + sizeof tam, blobs[i]->data(), blobs[i]->size());
    }
}

void CopiarParaLayoutOriginal(const std::vector<DescricaoCampo>& parametros, const unsigned char* entrada,
                              const std::vector<DescricaoCampo>& layoutOriginal, unsigned char* original) {
    for (std::size_t i = 0; i < parametros.size(); ++i) {
        const auto& p = parametros[i];
        const auto& o = layoutOriginal[i];
        std::memcpy(original + o.DeslocamentoNulo, entrada + p.DeslocamentoNulo, sizeof(std::int16_t));
        if (p.EhBlob()) continue;
        const unsigned tam = p.Categoria == TTipoCampo::tcVarchar ? p.Tamanho + 2 : p.Tamanho;
        std::memcpy(original + o.Deslocamento, entrada + p.Deslocamento, tam);
    }
}

}  // namespace ondaris::db
