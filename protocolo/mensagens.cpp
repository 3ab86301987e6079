#include "protocolo/mensagens.h"

namespace ondaris::protocolo {

std::string Quantidade(std::int64_t n, std::string_view singular, std::string_view plural) {
    return std::to_string(n) + " " + std::string(n == 1 || n == -1 ? singular : plural);
}

}  // namespace ondaris::protocolo

namespace ondaris::protocolo {

std::string TextoBase64CaractereInesperado(std::size_t posicao) {
    return "o texto não é base64: caractere inesperado na posição " + std::to_string(posicao);
}

}  // namespace ondaris::protocolo
