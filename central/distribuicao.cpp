#include "central/distribuicao.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

namespace ondaris::central {
namespace {

// Where the string that starts at `aspas` in compact JSON ends (its
// closing quote).
std::size_t FimDoTexto(std::string_view json, std::size_t aspas) {
    std::size_t i = aspas + 1;
    while (i < json.size() && json[i] != '"') i += json[i] == '\\' ? 2 : 1;
    if (i >= json.size()) throw std::runtime_error("comando armazenado danificado");
    return i;
}

// One text per row: table and key texts, each with its length, and
// whether the second key is there at all (a missing one is not an empty
// one here, as in the database).
std::string ChaveDaLinha(const LinhaComando& l) {
    std::string chave = std::to_string(l.Tabela.size()) + ':' + l.Tabela + std::to_string(l.Chave1->size()) + ':' +
                        *l.Chave1;
    if (l.Chave2) chave += std::to_string(l.Chave2->size()) + ':' + *l.Chave2;
    else chave += '-';
    return chave;
}

std::uint64_t LinhaDaLoja(std::uint32_t linha, std::int32_t loja) {
    return (static_cast<std::uint64_t>(linha) << 32) | static_cast<std::uint32_t>(loja);
}

}  // namespace

// The stored text is compact JSON as this server wrote it, so the first
// top-level member "ordem" is found in the text and only its value is
// replaced, without parsing the command into values and writing it again.
void TextoParaLoja(std::string& saida, std::string_view json, std::int64_t posicao) {
    if (json.size() < 2 || json.front() != '{' || json.back() != '}')
        throw std::runtime_error("comando armazenado danificado");
    constexpr std::string_view kChave = "\"ordem\":";
    int profundidade = 0;
    bool chave = false;  // a member's name comes next at the top level
    for (std::size_t i = 0; i < json.size(); ++i) {
        const char ch = json[i];
        if (ch == '"') {
            if (profundidade == 1 && chave && json.substr(i, kChave.size()) == kChave) {
                const std::size_t inicio = i + kChave.size();
                std::size_t fim = inicio;
                if (fim < json.size() && json[fim] == '"') fim = FimDoTexto(json, fim) + 1;
                else
                    while (fim < json.size() && json[fim] != ',' && json[fim] != '}') ++fim;
                saida.append(json.substr(0, inicio));
                saida += '"' + std::to_string(posicao) + '"';
                saida.append(json.substr(fim));
                return;
            }
            i = FimDoTexto(json, i);
            chave = false;
        } else if (ch == '{' || ch == '[') {
            chave = ++profundidade == 1;
        } else if (ch == '}' || ch == ']') {
            --profundidade;
        } else if (ch == ',' && profundidade == 1) {
            chave = true;
        }
    }
    saida.append(json);  // no "ordem": as stored
}

void JanelaComandos::Iniciar(std::int64_t ultimaPosicao) {
    Iniciada_ = true;
    Desde_ = Ate_ = ultimaPosicao;
}

JanelaComandos::Item JanelaComandos::Preparar(ComandoLido& c) {
    Item item{c.Posicao, c.LojaOrigem, c.Destino, kSemLinha, {}};
    item.Texto.reserve(c.Json.size() + 8);
    TextoParaLoja(item.Texto, c.Json, c.Posicao);
    if (c.Linha.Chave1) {
        auto [onde, nova] = IdDaLinha_.try_emplace(ChaveDaLinha(c.Linha), static_cast<std::uint32_t>(Linhas_.size()));
        if (nova) Linhas_.push_back(std::move(c.Linha));
        item.Linha = onde->second;
    }
    return item;
}

void JanelaComandos::Indexar(const Item& item) {
    auto& ultima = UltimaDaLoja_[item.LojaOrigem];
    ultima = std::max(ultima, item.Posicao);
    if (item.Linha == kSemLinha) return;
    auto& naLinha = UltimaDaLojaNaLinha_[LinhaDaLoja(item.Linha, item.LojaOrigem)];
    naLinha = std::max(naLinha, item.Posicao);
}

void JanelaComandos::AcrescentarNoFim(std::vector<ComandoLido> comandos) {
    for (ComandoLido& c : comandos) {
        if (c.Posicao <= Ate_) throw std::logic_error("janela de comandos: posição fora de ordem");
        Itens_.push_back(Preparar(c));
        Indexar(Itens_.back());
        Ate_ = c.Posicao;
        ++Acrescentados_;
    }
}

void JanelaComandos::AcrescentarNoInicio(std::int64_t desde, std::vector<ComandoLido> comandos) {
    for (auto c = comandos.rbegin(); c != comandos.rend(); ++c) {
        if (c->Posicao <= desde || c->Posicao > Desde_ || (!Itens_.empty() && c->Posicao >= Itens_.front().Posicao))
            throw std::logic_error("janela de comandos: posição fora de ordem");
        Itens_.push_front(Preparar(*c));
        Indexar(Itens_.front());
        ++Acrescentados_;
    }
    Desde_ = std::min(Desde_, desde);
}

void JanelaComandos::DescartarAntes(std::int64_t primeira) {
    Desde_ = std::max(Desde_, std::min(primeira - 1, Ate_));
    if (Itens_.empty() || Itens_.front().Posicao >= primeira) return;
    while (!Itens_.empty() && Itens_.front().Posicao < primeira) Itens_.pop_front();
    Reindexar();
}

// The rows and highest positions again from what is left: rare, after the
// oldest commands were removed.
void JanelaComandos::Reindexar() {
    std::vector<LinhaComando> linhas;
    std::unordered_map<std::string, std::uint32_t> ids;
    UltimaDaLojaNaLinha_.clear();
    UltimaDaLoja_.clear();
    for (Item& item : Itens_) {
        if (item.Linha != kSemLinha) {
            LinhaComando& l = Linhas_[item.Linha];
            auto [onde, nova] = ids.try_emplace(ChaveDaLinha(l), static_cast<std::uint32_t>(linhas.size()));
            if (nova) linhas.push_back(l);
            item.Linha = onde->second;
        }
        Indexar(item);
    }
    Linhas_ = std::move(linhas);
    IdDaLinha_ = std::move(ids);
}

JanelaComandos::Para JanelaComandos::Destinar(const Item& item, std::int32_t loja, bool precedencia,
                                              std::int64_t& vencedora) const {
    if (item.Destino != loja && (item.Destino != 0 || item.LojaOrigem == loja)) return Para::Ninguem;
    if (precedencia && item.Linha != kSemLinha) {
        const auto s = UltimaDaLojaNaLinha_.find(LinhaDaLoja(item.Linha, loja));
        if (s != UltimaDaLojaNaLinha_.end() && s->second > item.Posicao) {
            vencedora = s->second;
            return Para::Preterir;
        }
    }
    return Para::Servir;
}

std::deque<JanelaComandos::Item>::const_iterator JanelaComandos::Primeiro(std::int64_t depoisDe) const {
    return std::upper_bound(Itens_.begin(), Itens_.end(), depoisDe,
                            [](std::int64_t p, const Item& item) { return p < item.Posicao; });
}

SelecaoParaLoja JanelaComandos::Selecionar(std::int32_t loja, std::int64_t depoisDe, int limite,
                                           bool precedencia) const {
    SelecaoParaLoja s;
    BlocoParaLoja& b = s.Bloco;
    const auto inicio = Primeiro(depoisDe);
    std::int64_t vencedora = 0;
    // The last one the store will be served, walking back from the newest.
    for (auto i = Itens_.end(); i != inicio;) {
        --i;
        if (Destinar(*i, loja, precedencia, vencedora) == Para::Servir) {
            b.UltimaPosicao = i->Posicao;
            break;
        }
    }
    // The store's own newest command: only commands before it can be
    // passed over.
    std::int64_t propria = 0;
    if (precedencia)
        if (const auto p = UltimaDaLoja_.find(loja); p != UltimaDaLoja_.end()) propria = p->second;
    if (b.UltimaPosicao == 0 && propria <= depoisDe) return s;
    const std::int64_t ate = b.UltimaPosicao != 0 ? b.UltimaPosicao : propria;
    for (auto i = inicio; i != Itens_.end() && i->Posicao <= ate && static_cast<int>(b.Comandos.size()) < limite; ++i) {
        switch (Destinar(*i, loja, precedencia, vencedora)) {
        case Para::Servir:
            b.Comandos.push_back({i->Posicao, i->LojaOrigem, i->Texto});
            break;
        case Para::Preterir: {
            const LinhaComando& l = Linhas_[i->Linha];
            s.Preteridos.push_back({loja, i->Posicao, i->LojaOrigem, vencedora, l.Tabela, l.Chave1, l.Chave2, {}});
            break;
        }
        case Para::Ninguem:
            break;
        }
    }
    return s;
}

std::int64_t JanelaComandos::Aguardando(std::int32_t loja, std::int64_t depoisDe, bool precedencia) const {
    std::int64_t n = 0, vencedora = 0;
    for (auto i = Primeiro(depoisDe); i != Itens_.end(); ++i)
        if (Destinar(*i, loja, precedencia, vencedora) == Para::Servir) ++n;
    return n;
}

}  // namespace ondaris::central
