#include "sync/mensagens.h"

namespace ondaris::sync {

std::string TextoFalhaRest(std::string_view causa) { return "REST request failed: " + std::string(causa); }

std::string TextoNaoEhInteiroValido(std::string_view texto) {
    return "'" + std::string(texto) + "' is not a valid integer value";
}

std::string TextoOndePedido(std::string_view pedido, std::string_view redirecionadoPara) {
    return " (" + std::string(pedido) +
           (redirecionadoPara.empty() ? std::string() : ", redirecionado para " + std::string(redirecionadoPara)) + ")";
}

std::string TextoRedirecionamentoRecusado(std::string_view destino) {
    return "redirecionamento para " + std::string(destino) + " recusado: " + kRegraDeRedirecionamento;
}

std::string TextoRedirecionamentosDemais(int maximo, std::string_view destino) {
    return "mais de " + protocolo::Quantidade(maximo, "redirecionamento", "redirecionamentos") + ", o próximo para " +
           std::string(destino);
}

std::string TextoTempoEsgotado(std::int64_t milissegundos) {
    return "tempo esgotado: nada foi enviado nem recebido em " +
           protocolo::Quantidade(milissegundos, "milissegundo", "milissegundos");
}

std::string TextoCertificadoRecusado(std::string_view causa) {
    return "o certificado do servidor central não foi aceito, e nada foi enviado: " + std::string(causa);
}

std::string TextoFalhaTls(std::string_view causa) {
    return "a conexão segura (TLS) com o servidor central falhou, e nada foi enviado: " + std::string(causa);
}

std::string TextoArquivoAutoridadesInvalido(std::string_view arquivo, std::string_view causa) {
    return "o arquivo de autoridades certificadoras '" + std::string(arquivo) + "' (" + kVariavelAutoridades +
           ") não pôde ser usado: " + std::string(causa);
}

std::string TextoRespostaMalformada(std::string_view pedido, std::string_view detalhe) {
    return "resposta malformada do servidor central a " + std::string(pedido) + ": " + std::string(detalhe);
}

std::string TextoCorpoNaoEhJson(std::string_view membro) {
    return membro.empty() ? std::string("o corpo não é JSON válido")
                          : "o corpo não é JSON válido; " + std::string(membro) + " não pode ser lido";
}

std::string TextoCorpoNaoEhObjeto(std::string_view membro) {
    return "o corpo não é um objeto JSON; " + std::string(membro) + " não pode ser lido: " + kTextoTipoInvalido;
}

std::string TextoEstadoDeRegistro(std::string_view estado) {
    return "[TBEstrutura] estado de registro não suportado '" + std::string(estado) + "'";
}

std::string TextoComandoDaLista(std::size_t indice) {
    return "o comando " + std::to_string(indice + 1) + " de \"comandos\"";
}

std::string TextoNaoEhObjeto(std::string_view oQue) { return std::string(oQue) + " não é um objeto"; }

std::string TextoSemMembro(std::string_view oQue, std::string_view membro) {
    return std::string(oQue) + " não tem o membro \"" + std::string(membro) + "\"";
}

std::string TextoCamposNaoEhObjeto(std::int64_t ordem) {
    return "\"campos\" do comando de ordem " + std::to_string(ordem) + " não é um objeto";
}

std::string TextoOrdemAtrasada(std::int64_t ordem, std::int64_t anterior, bool daPosicaoPedida) {
    return "a resposta foi recusada: o comando de ordem " + std::to_string(ordem) + " não vem depois " +
           (daPosicaoPedida ? "da posição pedida, " : "do comando anterior, ") + std::to_string(anterior);
}

std::string TextoOrdemAlemDaUltima(std::int64_t ordem, std::int64_t ultimaOrdem) {
    return "a resposta foi recusada: o comando de ordem " + std::to_string(ordem) +
           " fica além da ultimaordem da resposta, " + std::to_string(ultimaOrdem);
}

std::string TextoAcaoDesconhecida(std::int64_t ordem, std::string_view acao) {
    return "o comando de ordem " + std::to_string(ordem) + " tem uma acao desconhecida \"" + std::string(acao) + "\"";
}

std::string TextoDoComando(std::int64_t ordem) { return "o comando de ordem " + std::to_string(ordem) + ": "; }

std::string TextoDaColuna(std::int64_t ordem, std::string_view coluna, std::string_view causa) {
    return "o comando de ordem " + std::to_string(ordem) + ", coluna " + std::string(coluna) + ": " +
           std::string(causa);
}

std::string TextoExclusaoSemChave(std::int64_t ordem, std::string_view coluna) {
    return "a exclusão de ordem " + std::to_string(ordem) + " não traz valor para a coluna de chave " +
           std::string(coluna);
}

std::string TextoRollbackTambemFalhou(std::string_view causa) {
    return " (o rollback também falhou: " + std::string(causa) + ")";
}

}  // namespace ondaris::sync
