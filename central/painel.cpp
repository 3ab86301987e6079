#include "central/painel.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <exception>
#include <iostream>
#include <optional>

#include "protocolo/mensagens.h"

namespace ondaris::central {
namespace {

using Relogio = std::chrono::system_clock;
using std::chrono::seconds;

const char* kTextoPlano = "text/plain; charset=utf-8";

// "2026-12-10T22:47:57Z", as the store of commands writes times.
std::optional<Relogio::time_point> LerHoraUtc(const std::string& texto) {
    std::tm tm{};
    char z = 0;
    if (std::sscanf(texto.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%c", &tm.tm_year, &tm.tm_mon, &tm.tm_mday, &tm.tm_hour,
                    &tm.tm_min, &tm.tm_sec, &z) != 7 ||
        z != 'Z')
        return std::nullopt;
    tm.tm_year -= 1900;
    tm.tm_mon -= 1;
    return Relogio::from_time_t(timegm(&tm));
}

std::string HoraLegivel(Relogio::time_point t) {
    const std::time_t tt = Relogio::to_time_t(t);
    std::tm tm{};
    gmtime_r(&tt, &tm);
    char texto[32];
    std::strftime(texto, sizeof texto, "%d/%m/%Y %H:%M:%S", &tm);
    return texto;
}

// "12 s", "5 min", "3 h 20 min", "2 dias 4 h".
std::string Duracao(seconds d) {
    const std::int64_t s = std::max<std::int64_t>(0, d.count());
    if (s < 60) return std::to_string(s) + " s";
    if (s < 3600) return std::to_string(s / 60) + " min";
    if (s < 86400) {
        const std::int64_t min = (s % 3600) / 60;
        return std::to_string(s / 3600) + " h" + (min ? " " + std::to_string(min) + " min" : "");
    }
    const std::int64_t h = (s % 86400) / 3600;
    return protocolo::Quantidade(s / 86400, "dia", "dias") + (h ? " " + std::to_string(h) + " h" : "");
}

seconds Desde(Relogio::time_point t, Relogio::time_point agora) {
    return std::chrono::duration_cast<seconds>(agora - t);
}

}  // namespace

std::vector<std::string> MotivosParada(const EstadoLoja& e, Relogio::time_point agora, seconds limite) {
    std::vector<std::string> motivos;
    const auto passou = [&](const std::string& hora) -> std::optional<seconds> {
        const auto t = LerHoraUtc(hora);
        if (!t || Desde(*t, agora) <= limite) return std::nullopt;
        return Desde(*t, agora);
    };
    if (e.UltimoPedido.empty())
        motivos.push_back("nenhum contato registrado");
    else if (auto d = passou(e.UltimoPedido))
        motivos.push_back("sem contato há " + Duracao(*d));
    if (auto d = passou(e.EnvioParadoDesde)) motivos.push_back("envio parado há " + Duracao(*d));
    if (e.ComandosAguardando > 0)
        if (auto d = passou(e.RecebimentoParadoDesde))
            motivos.push_back("recebimento sem avançar há " + Duracao(*d));
    return motivos;
}

FotoCentral Fotografar(Armazem& armazem, Relogio::time_point agora, seconds limite,
                       const std::set<std::int32_t>& semCredencial) {
    FotoCentral f;
    f.Agora = agora;
    f.LimiteParada = limite;
    // Three reads, each consistent in itself; a figure that moves between
    // them is shown as it was a moment apart.
    const std::vector<EstadoLoja> estados = armazem.Estado();
    const std::vector<OcorrenciasLoja> ocorrencias = armazem.Ocorrencias();
    f.Conflitos = armazem.Conflitos();
    std::map<std::int32_t, OcorrenciasLoja> porLoja;
    for (const OcorrenciasLoja& o : ocorrencias) {
        if (o.Loja == 0) f.SemLoja = o;
        else porLoja[o.Loja] = o;
    }
    for (const EstadoLoja& e : estados) {
        LojaNoPainel l;
        l.Estado = e;
        l.Estado.SemCredencial = semCredencial.count(e.Loja) != 0;
        if (auto o = porLoja.find(e.Loja); o != porLoja.end()) l.Ocorrencias = o->second;
        l.Ocorrencias.Loja = e.Loja;
        l.MotivosParada = MotivosParada(e, agora, limite);
        f.Paradas += l.MotivosParada.empty() ? 0 : 1;
        f.ComandosAguardando += e.ComandosAguardando;
        f.Lojas.push_back(std::move(l));
    }
    std::stable_sort(f.Lojas.begin(), f.Lojas.end(), [](const LojaNoPainel& a, const LojaNoPainel& b) {
        const bool pa = !a.MotivosParada.empty(), pb = !b.MotivosParada.empty();
        if (pa != pb) return pa;
        return a.Estado.Loja < b.Estado.Loja;
    });
    return f;
}

std::string EscaparHtml(std::string_view texto) {
    std::string r;
    r.reserve(texto.size() + 16);
    for (char c : texto) {
        switch (c) {
            case '&': r += "&amp;"; break;
            case '<': r += "&lt;"; break;
            case '>': r += "&gt;"; break;
            case '"': r += "&quot;"; break;
            case '\'': r += "&#39;"; break;
            default: r += c;
        }
    }
    return r;
}

std::string EscaparRotulo(std::string_view texto) {
    std::string r;
    for (char c : texto) {
        if (c == '\\') r += "\\\\";
        else if (c == '"') r += "\\\"";
        else if (c == '\n') r += "\\n";
        else r += c;
    }
    return r;
}

// ---- The page ----

namespace {

const char* kEstilo = R"CSS(
*{box-sizing:border-box}
body{margin:0;font-family:"DejaVu Sans","Liberation Sans",Arial,sans-serif;font-size:14px;color:#1d2733;background:#f3f5f8}
header{background:#1f3a5f;color:#fff;padding:14px 24px;display:flex;align-items:baseline;justify-content:space-between;flex-wrap:wrap;gap:8px}
header h1{margin:0;font-size:20px;font-weight:600}
header .hora{font-size:13px;color:#c9d6e8}
main{padding:18px 24px 32px}
.resumo{display:flex;gap:12px;flex-wrap:wrap;margin-bottom:10px}
.cartao{background:#fff;border:1px solid #d8dee6;border-radius:8px;padding:10px 18px;min-width:150px}
.cartao .numero{display:block;font-size:28px;font-weight:700;font-variant-numeric:tabular-nums}
.cartao .rotulo{color:#56657a}
.cartao.alerta{border-color:#d9534f;background:#fdf0ef}
.cartao.alerta .numero{color:#b52b27}
.criterio{color:#56657a;margin:6px 0 16px;font-size:13px}
.aviso{background:#fff7e0;border:1px solid #e8c766;border-radius:6px;padding:8px 12px;margin:0 0 14px}
table{border-collapse:collapse;width:100%;background:#fff;border:1px solid #d8dee6}
th,td{padding:7px 10px;border-bottom:1px solid #e6eaf0;text-align:left;vertical-align:top}
th{background:#e9eef5;font-size:12px;font-weight:600;color:#33435a;vertical-align:bottom}
th.num{text-align:right}
.rolagem{overflow-x:auto}
td.num{text-align:right;font-variant-numeric:tabular-nums;white-space:nowrap}
tbody tr:nth-child(even){background:#f9fafc}
tr.parada,tr.parada:nth-child(even){background:#fde8e7}
tr.parada td:first-child{border-left:4px solid #d9534f}
td.hora{white-space:nowrap}
td.loja{font-weight:700;font-size:15px;white-space:nowrap;min-width:170px}
td.recusas{min-width:200px}
.selo{display:inline-block;margin-left:6px;padding:1px 7px;border-radius:10px;font-size:11px;font-weight:600;vertical-align:middle}
.selo.parada{background:#d9534f;color:#fff}
.selo.credencial{background:#f0ad4e;color:#3b2a00}
.motivo{font-weight:400;font-size:12px;color:#9c2420;margin-top:3px;white-space:normal}
.sub{display:block;font-size:12px;color:#6b7a8f;white-space:nowrap}
.recusa{display:block;font-size:12px;color:#6b4d00;max-width:340px;overflow-wrap:anywhere}
.nada{color:#9aa6b5}
.destaque{font-weight:700;color:#b52b27}
h2{font-size:16px;margin:26px 0 8px}
.vazio{padding:24px;text-align:center;color:#56657a;background:#fff;border:1px solid #d8dee6}
)CSS";

std::string Celula(const std::string& conteudo, const char* classe = nullptr) {
    return classe ? "<td class=\"" + std::string(classe) + "\">" + conteudo + "</td>" : "<td>" + conteudo + "</td>";
}

const std::string kNada = "<span class=\"nada\">—</span>";

// A stored time as "10/12/2026 22:47:57" with how long ago beneath it.
std::string HoraComIdade(const std::string& hora, Relogio::time_point agora) {
    if (hora.empty()) return kNada;
    const auto t = LerHoraUtc(hora);
    if (!t) return EscaparHtml(hora);
    return HoraLegivel(*t) + "<span class=\"sub\">há " + Duracao(Desde(*t, agora)) + "</span>";
}

std::string Numero(std::int64_t n) { return std::to_string(n); }

std::string Cartao(const std::string& id, std::int64_t n, const char* singular, const char* plural, bool alerta) {
    const std::string texto = protocolo::Quantidade(n, singular, plural);
    const std::string rotulo = texto.substr(texto.find(' ') + 1);
    return std::string("<div class=\"cartao") + (alerta ? " alerta" : "") + "\" id=\"" + id +
           "\"><span class=\"numero\">" + Numero(n) + "</span><span class=\"rotulo\">" + EscaparHtml(rotulo) +
           "</span></div>";
}

std::string LinhaDaLoja(const LojaNoPainel& l, Relogio::time_point agora) {
    const EstadoLoja& e = l.Estado;
    const OcorrenciasLoja& o = l.Ocorrencias;
    const bool parada = !l.MotivosParada.empty();
    std::string tr = std::string("<tr") + (parada ? " class=\"parada\"" : "") + " data-loja=\"" + Numero(e.Loja) + "\">";

    std::string loja = Numero(e.Loja);
    if (parada) loja += "<span class=\"selo parada\">parada</span>";
    if (e.SemCredencial) loja += "<span class=\"selo credencial\">sem credencial</span>";
    if (parada) {
        std::string motivos;
        for (const std::string& m : l.MotivosParada) motivos += (motivos.empty() ? "" : "; ") + m;
        loja += "<div class=\"motivo\">" + EscaparHtml(motivos) + "</div>";
    }
    tr += Celula(loja, "loja");
    tr += Celula(HoraComIdade(e.UltimoPedido, agora), "hora contato");
    tr += Celula(Numero(e.PosicaoConfirmada), "num confirmada");
    tr += Celula(e.UltimoMovimentoLoja ? Numero(*e.UltimoMovimentoLoja) : kNada, "num movimento");
    tr += Celula(Numero(e.PosicaoRecebida), "num recebida");
    tr += Celula(e.ComandosAguardando > 0 ? "<span class=\"destaque\">" + Numero(e.ComandosAguardando) + "</span>"
                                          : Numero(0),
                 "num aguardando");
    tr += Celula(HoraComIdade(e.EnvioParadoDesde, agora), "hora envio-parado");
    std::string recusas = o.Recusas ? "<span class=\"destaque\">" + Numero(o.Recusas) + "</span>" : Numero(0);
    if (o.Recusas) {
        std::string quando;
        if (const auto t = LerHoraUtc(o.UltimaRecusaQuando)) quando = "há " + Duracao(Desde(*t, agora)) + ": ";
        recusas += "<span class=\"recusa\">" + EscaparHtml(quando + o.UltimaRecusa) + "</span>";
    }
    tr += Celula(recusas, "recusas");
    tr += Celula(Numero(o.Conflitos), "num conflitos");
    tr += Celula(Numero(o.PostosDeLado), "num postos-de-lado");
    return tr + "</tr>\n";
}

std::string TabelaConflitos(const ConflitosRegistrados& c) {
    constexpr std::size_t kMostrados = 20;
    std::string t = "<h2>Últimos conflitos</h2>\n<table id=\"conflitos\"><thead><tr><th>Quando (UTC)</th>"
                    "<th>Loja</th><th>Tabela</th><th>Chave</th><th>Comando não aplicado</th>"
                    "<th>Comando da loja que vale</th></tr></thead><tbody>\n";
    for (std::size_t i = 0; i < c.Recentes.size() && i < kMostrados; ++i) {
        const Conflito& k = c.Recentes[i];
        std::string chave = k.Chave1 ? *k.Chave1 : "";
        if (k.Chave2 && !k.Chave2->empty()) chave += " / " + *k.Chave2;
        const auto quando = LerHoraUtc(k.Quando);
        t += "<tr>" + Celula(quando ? HoraLegivel(*quando) : EscaparHtml(k.Quando)) + Celula(Numero(k.Loja), "num") +
             Celula(EscaparHtml(k.Tabela)) + Celula(k.Chave1 ? EscaparHtml(chave) : kNada) +
             Celula("posição " + Numero(k.PosicaoPreterida) + ", da loja " + Numero(k.LojaPreterida)) +
             Celula("posição " + Numero(k.PosicaoVencedora)) + "</tr>\n";
    }
    return t + "</tbody></table>\n";
}

}  // namespace

std::string PaginaPainel(const FotoCentral& f, seconds atualizacao) {
    std::string p;
    p.reserve(4096 + f.Lojas.size() * 900);
    p += "<!DOCTYPE html>\n<html lang=\"pt-BR\"><head><meta charset=\"utf-8\">";
    p += "<meta http-equiv=\"refresh\" content=\"" + Numero(atualizacao.count()) + "\">";
    p += "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">";
    p += "<title>Ondaris — painel da rede</title><style>";
    p += kEstilo;
    p += "</style></head>\n<body>\n<header><h1>Ondaris · painel da rede</h1><span class=\"hora\" id=\"hora\">"
         "Atualizado em " +
         HoraLegivel(f.Agora) + " UTC · recarrega a cada " + Duracao(atualizacao) + "</span></header>\n<main>\n";

    p += "<section class=\"resumo\" id=\"resumo\">";
    p += Cartao("total-lojas", static_cast<std::int64_t>(f.Lojas.size()), "loja", "lojas", false);
    p += Cartao("total-paradas", f.Paradas, "parada", "paradas", f.Paradas > 0);
    p += Cartao("total-aguardando", f.ComandosAguardando, "comando aguardando", "comandos aguardando", false);
    p += Cartao("total-conflitos", f.Conflitos.Total, "conflito", "conflitos", false);
    p += "</section>\n";
    p += "<p class=\"criterio\">Uma loja está <strong>parada</strong> quando, há mais de " + Duracao(f.LimiteParada) +
         ", não faz contato, tem o envio parado ou recebe comandos sem avançar a posição. Horários em UTC.</p>\n";
    if (f.SemLoja.Recusas > 0) {
        std::string quando;
        if (const auto t = LerHoraUtc(f.SemLoja.UltimaRecusaQuando)) quando = " há " + Duracao(Desde(*t, f.Agora));
        p += "<p class=\"aviso\" id=\"recusas-sem-loja\">" +
             EscaparHtml(protocolo::Quantidade(f.SemLoja.Recusas, "requisição recusada", "requisições recusadas") +
                         " sem uma loja conhecida; a última" + quando + ": " + f.SemLoja.UltimaRecusa) +
             "</p>\n";
    }

    if (f.Lojas.empty()) {
        p += "<p class=\"vazio\" id=\"sem-lojas\">Nenhuma loja fez contato com este servidor ainda.</p>\n";
    } else {
        p += "<div class=\"rolagem\"><table id=\"lojas\"><thead><tr><th>Loja</th><th>Último contato</th>"
             "<th class=\"num\" title=\"Até onde o servidor tem o log da loja\">Envio confirmado até</th>"
             "<th class=\"num\" title=\"O fim do log da loja na última vez que ela informou\">Fim do log informado</th>"
             "<th class=\"num\" title=\"A posição depois da qual a loja pediu comandos por último\">Recebido até</th>"
             "<th class=\"num\">Comandos aguardando</th><th>Envio parado desde</th><th>Recusas</th>"
             "<th class=\"num\" title=\"Comandos de outras lojas que o servidor deixou de servir porque vale uma "
             "alteração posterior da própria loja\">Conflitos</th>"
             "<th class=\"num\" title=\"Comandos que o agente da loja pôs de lado por uma alteração sua ainda não "
             "enviada\">Postos de lado</th></tr></thead>\n<tbody>\n";
        for (const LojaNoPainel& l : f.Lojas) p += LinhaDaLoja(l, f.Agora);
        p += "</tbody></table></div>\n";
    }
    if (!f.Conflitos.Recentes.empty()) p += TabelaConflitos(f.Conflitos);
    p += "</main>\n</body></html>\n";
    return p;
}

// ---- Metrics ----

void ContadorRequisicoes::Contar(const std::string& caminho, int status) {
    const std::string endpoint = Endpoint(caminho);
    std::lock_guard trava(Mutex_);
    ++Valores_[{endpoint, status}];
}

std::map<std::pair<std::string, int>, std::int64_t> ContadorRequisicoes::Valores() const {
    std::lock_guard trava(Mutex_);
    return Valores_;
}

std::string ContadorRequisicoes::Endpoint(std::string_view caminho) {
    if (!caminho.empty() && caminho.front() == '/') caminho.remove_prefix(1);
    const std::string_view primeiro = caminho.substr(0, caminho.find('/'));
    if (primeiro.empty()) return caminho.empty() ? "raiz" : "outro";
    for (const char* conhecido : {"estruturabd", "enviar", "obterindiceenvio", "receber", "status", "painel", "metrics"})
        if (primeiro == conhecido) return conhecido;
    return "outro";
}

namespace {

class Metricas {
public:
    void Familia(const char* nome, const char* tipo, const char* ajuda) {
        Texto_ += std::string("# HELP ") + nome + " " + ajuda + "\n# TYPE " + nome + " " + tipo + "\n";
    }
    void Amostra(const char* nome, std::int64_t valor,
                 std::initializer_list<std::pair<const char*, std::string>> rotulos = {}) {
        Texto_ += nome;
        if (rotulos.size()) {
            Texto_ += '{';
            bool primeiro = true;
            for (const auto& [r, v] : rotulos) {
                if (!primeiro) Texto_ += ',';
                primeiro = false;
                Texto_ += std::string(r) + "=\"" + EscaparRotulo(v) + "\"";
            }
            Texto_ += '}';
        }
        Texto_ += " " + std::to_string(valor) + "\n";
    }
    // One sample per store.
    template <typename F>
    void PorLoja(const FotoCentral& f, const char* nome, const char* tipo, const char* ajuda, F valor) {
        Familia(nome, tipo, ajuda);
        for (const LojaNoPainel& l : f.Lojas)
            if (auto v = valor(l)) Amostra(nome, *v, {{"loja", std::to_string(l.Estado.Loja)}});
    }
    std::string Texto_;
};

std::optional<std::int64_t> Segundos(const std::string& hora) {
    const auto t = LerHoraUtc(hora);
    if (!t) return std::nullopt;
    return Relogio::to_time_t(*t);
}

}  // namespace

std::string TextoMetricas(const FotoCentral& f, const ContadorRequisicoes& requisicoes) {
    using O = std::optional<std::int64_t>;
    Metricas m;
    m.Familia("ondaris_central_lojas", "gauge", "Lojas que já fizeram contato com o servidor.");
    m.Amostra("ondaris_central_lojas", static_cast<std::int64_t>(f.Lojas.size()));
    m.Familia("ondaris_central_lojas_paradas", "gauge",
              "Lojas paradas: sem contato, envio parado ou recebimento sem avançar além do limite.");
    m.Amostra("ondaris_central_lojas_paradas", f.Paradas);
    m.Familia("ondaris_central_limite_parada_seconds", "gauge", "Tempo a partir do qual uma loja conta como parada.");
    m.Amostra("ondaris_central_limite_parada_seconds", f.LimiteParada.count());
    m.Familia("ondaris_central_comandos_aguardando", "gauge", "Comandos aguardando, somados em todas as lojas.");
    m.Amostra("ondaris_central_comandos_aguardando", f.ComandosAguardando);

    m.PorLoja(f, "ondaris_central_loja_parada", "gauge", "1 quando a loja está parada.",
              [](const LojaNoPainel& l) -> O { return l.MotivosParada.empty() ? 0 : 1; });
    m.PorLoja(f, "ondaris_central_loja_comandos_aguardando", "gauge", "Comandos endereçados à loja que ela ainda não pediu.",
              [](const LojaNoPainel& l) -> O { return l.Estado.ComandosAguardando; });
    m.PorLoja(f, "ondaris_central_loja_posicao_confirmada", "gauge", "Até onde o servidor tem o log da loja.",
              [](const LojaNoPainel& l) -> O { return l.Estado.PosicaoConfirmada; });
    m.PorLoja(f, "ondaris_central_loja_posicao_recebida", "gauge",
              "A posição depois da qual a loja pediu comandos por último.",
              [](const LojaNoPainel& l) -> O { return l.Estado.PosicaoRecebida; });
    m.PorLoja(f, "ondaris_central_loja_ultimo_movimento", "gauge", "O fim do log da loja, como ela informou por último.",
              [](const LojaNoPainel& l) -> O { return l.Estado.UltimoMovimentoLoja; });
    m.PorLoja(f, "ondaris_central_loja_ultimo_contato_timestamp_seconds", "gauge",
              "Hora (Unix) da última requisição da loja.",
              [](const LojaNoPainel& l) -> O { return Segundos(l.Estado.UltimoPedido); });
    m.PorLoja(f, "ondaris_central_loja_envio_parado_desde_timestamp_seconds", "gauge",
              "Hora (Unix) desde a qual o envio da loja está parado; só para lojas com o envio parado.",
              [](const LojaNoPainel& l) -> O { return Segundos(l.Estado.EnvioParadoDesde); });
    m.PorLoja(f, "ondaris_central_loja_sem_credencial", "gauge", "1 quando a loja é admitida sem credenciais.",
              [](const LojaNoPainel& l) -> O { return l.Estado.SemCredencial ? 1 : 0; });
    m.PorLoja(f, "ondaris_central_loja_recusas_total", "counter", "Requisições da loja recusadas pelo servidor.",
              [](const LojaNoPainel& l) -> O { return l.Ocorrencias.Recusas; });
    m.PorLoja(f, "ondaris_central_loja_conflitos_total", "counter",
              "Comandos de outras lojas que o servidor não serviu à loja porque vale uma alteração posterior dela.",
              [](const LojaNoPainel& l) -> O { return l.Ocorrencias.Conflitos; });
    m.PorLoja(f, "ondaris_central_loja_postos_de_lado_total", "counter",
              "Comandos que o agente da loja pôs de lado por uma alteração sua ainda não enviada.",
              [](const LojaNoPainel& l) -> O { return l.Ocorrencias.PostosDeLado; });

    std::int64_t recusas = f.SemLoja.Recusas;
    for (const LojaNoPainel& l : f.Lojas) recusas += l.Ocorrencias.Recusas;
    m.Familia("ondaris_central_recusas_total", "counter", "Requisições recusadas pelo servidor, de todas as lojas.");
    m.Amostra("ondaris_central_recusas_total", recusas);
    m.Familia("ondaris_central_recusas_sem_loja_total", "counter",
              "Requisições recusadas que não nomeavam uma loja conhecida.");
    m.Amostra("ondaris_central_recusas_sem_loja_total", f.SemLoja.Recusas);
    m.Familia("ondaris_central_conflitos_total", "counter", "Conflitos registrados desde que o banco foi criado.");
    m.Amostra("ondaris_central_conflitos_total", f.Conflitos.Total);

    m.Familia("ondaris_central_requisicoes_total", "counter",
              "Requisições respondidas por este processo, por endpoint e status HTTP.");
    for (const auto& [chave, n] : requisicoes.Valores())
        m.Amostra("ondaris_central_requisicoes_total", n,
                  {{"endpoint", chave.first}, {"status", std::to_string(chave.second)}});
    return m.Texto_;
}

// ---- The endpoints ----

Painel::Painel(Armazem& armazem, OpcoesPainel opcoes) : Armazem_(armazem), Opcoes_(std::move(opcoes)) {}

FotoCentral Painel::Foto() {
    std::set<std::int32_t> semCredencial;
    if (Credenciais_)
        for (const CredencialLoja& c : Credenciais_->Listar())
            if (c.SemSenha) semCredencial.insert(c.Loja);
    return Fotografar(Armazem_, Agora(), Opcoes_.LimiteParada, semCredencial);
}

Relogio::time_point Painel::Agora() const { return Opcoes_.Relogio ? Opcoes_.Relogio() : Relogio::now(); }

void Painel::Registrar(ServidorHttp& servidor) {
    // A failure to read the store shows as such, never as an empty chain.
    const auto guardado = [](auto corpo) {
        return [corpo](const httplib::Request& req, httplib::Response& res) {
            try {
                corpo(req, res);
            } catch (const std::exception& e) {
                std::cerr << "ondaris-central: " << req.path << ": " << e.what() << std::endl;
                res.status = 500;
                res.set_content(std::string("erro interno: ") + e.what(), kTextoPlano);
            }
        };
    };
    servidor.Get("/", [](const httplib::Request&, httplib::Response& res) { res.set_redirect("/painel"); });
    servidor.Get("/painel", guardado([this](const httplib::Request&, httplib::Response& res) {
        const FotoCentral foto = Foto();
        res.set_header("Cache-Control", "no-store");
        res.set_content(PaginaPainel(foto, Opcoes_.Atualizacao), "text/html; charset=utf-8");
    }));
    servidor.Get("/metrics", guardado([this](const httplib::Request&, httplib::Response& res) {
        const FotoCentral foto = Foto();
        res.set_content(TextoMetricas(foto, Requisicoes_), "text/plain; version=0.0.4; charset=utf-8");
    }));
    // After every handler and error text, before the answer is written: a
    // client that asks for the metrics after an answer finds it counted.
    servidor.set_post_routing_handler(
        [this](const httplib::Request& req, httplib::Response& res) { Requisicoes_.Contar(req.path, res.status); });
}

}  // namespace ondaris::central
