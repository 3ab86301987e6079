#pragma once
// The layout of a statement's input message when it has blob parameters.
// A blob parameter is sent as a VARCHAR of up to kMaximoVarchar bytes (the
// server then builds the blob itself, with no round trip per blob), unless
// one bound blob is longer: then the message goes in the server's own
// layout, each blob created by the client first. These are the pure steps
// of that choice and of moving values between the two layouts; creating
// the blobs is the statement's (db/consulta.h).
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "db/valor.h"

namespace ondaris::db {

// Largest VARCHAR the server accepts in a message: blobs up to this size are
// sent inline and the server builds them itself.
inline constexpr unsigned kMaximoVarchar = 32765;

// The character set of a blob parameter sent inline: a text blob's own
// (UTF-8, else Latin-1, the attachment's), a binary blob's OCTETS.
unsigned ConjuntoDoBlobEmLinha(const DescricaoCampo& blob);

// Every bound blob of `parametros` (`blobs` by position) fits inline.
bool BlobsCabemEmLinha(const std::vector<DescricaoCampo>& parametros,
                       const std::vector<std::optional<std::string>>& blobs);

// Writes each bound blob into its VARCHAR place of the inline message
// `entrada` (length, then bytes). The blobs must fit (BlobsCabemEmLinha).
void GravarBlobsEmLinha(const std::vector<DescricaoCampo>& parametros,
                        const std::vector<std::optional<std::string>>& blobs, unsigned char* entrada);

// Copies every NULL indicator and every value other than a blob from the
// inline message `entrada` (`parametros`) to the server's layout `original`
// (`layoutOriginal`, the same parameters in the same order). The blobs'
// ids are the caller's to write.
void CopiarParaLayoutOriginal(const std::vector<DescricaoCampo>& parametros, const unsigned char* entrada,
                              const std::vector<DescricaoCampo>& layoutOriginal, unsigned char* original);

}  // namespace ondaris::db
