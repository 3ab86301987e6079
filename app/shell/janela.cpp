#include "app/shell/janela.h"

#include "app/shell/ligacao.h"
#include "app/shell/registro.h"
#include "app/shell/verificacao.h"
#include "app/shell/versao.h"
#include "db/ocupado.h"

#include <sstream>

namespace ondaris::shell {

std::string TituloJanela(const std::string& caminhoExecutavel) {
    std::string versao = VersaoPrograma(caminhoExecutavel, false);
    if (versao.empty()) {
        // No version in the file (a foreign build): the version this code
        // was compiled as.
        versao = TextoVersao(VersaoDeTexto(ONDARIS_VERSION), false);
    }
    return std::string(CaptionJanela) + " - Versão " + versao;
}

namespace {

// Lower case of one UTF-8 character for the letters a file name of ours can
// hold: A..Z and the Latin-1 capitals (U+00C0..U+00DE but the multiplication
// sign), which is every letter of Portuguese.
void AcrescentarMinuscula(std::string& saida, const std::string& texto, std::size_t& i) {
    const auto c = static_cast<unsigned char>(texto[i]);
    if (c >= 'A' && c <= 'Z') {
        saida += static_cast<char>(c - 'A' + 'a');
        ++i;
        return;
    }
    if (c == 0xC3 && i + 1 < texto.size()) {
        const auto d = static_cast<unsigned char>(texto[i + 1]);
        // U+00C0..U+00DE are C3 80..C3 9E; their small letters are 32 higher.
        const bool maiuscula = d >= 0x80 && d <= 0x9E && d != 0x97;
        saida += static_cast<char>(c);
        saida += static_cast<char>(maiuscula ? d + 0x20 : d);
        i += 2;
        return;
    }
    saida += static_cast<char>(c);
    ++i;
}

}  // namespace

std::string TituloAplicacao(const std::string& caminhoExecutavel) {
    std::string nome = caminhoExecutavel;
    if (const auto barra = nome.find_last_of("/\\"); barra != std::string::npos) nome.erase(0, barra + 1);
    if (const auto ponto = nome.find('.'); ponto != std::string::npos) nome.erase(ponto);
    if (nome.empty()) return nome;
    // The first character whole, however many bytes it takes.
    std::size_t i = 1;
    while (i < nome.size() && (static_cast<unsigned char>(nome[i]) & 0xC0) == 0x80) ++i;
    std::string titulo = nome.substr(0, i);
    while (i < nome.size()) AcrescentarMinuscula(titulo, nome, i);
    return titulo;
}

bool SenhaAceita(const std::optional<std::string>& digitada,
                 const std::function<void(const std::string&)>& avisar) {
    if (!digitada) return false;
    if (SenhaConfere(*digitada)) return true;
    // No limit on attempts and no delay: the user chooses the command again.
    avisar(TextoSenhaIncorreta);
    return false;
}

TJanela::TJanela(IVistaJanela& vista, TLigacao& ligacao, TRegistro& registro,
                 const std::string& caminhoExecutavel)
    : TJanela(vista, [&ligacao](sync::IJanelaStatus& janela) { return ligacao.CriarOperacoes(janela); },
              registro, caminhoExecutavel) {}

TJanela::TJanela(IVistaJanela& vista, const TCriarOperacoes& criarOperacoes, TRegistro& registro,
                 const std::string& caminhoExecutavel)
    : Vista_(vista), Registro_(registro) {
    Textos_.Titulo = TituloJanela(caminhoExecutavel);
    Operacoes_ = criarOperacoes(*this);
    Ciclo_ = std::make_unique<sync::TCiclo>(
        *Operacoes_, *this, [this](const std::string& mensagem) { Registro_.DoSaveLog(mensagem); },
        sync::TCiclo::TDormir{}, [this] { return Parada_.load(); });
    // Statements run on the cycle's thread; the view shows the busy pointer
    // on its own.
    db::DefinirGanchoOcupado([this](bool ocupado) { Vista_.Ocupado(ocupado); });
}

TJanela::~TJanela() {
    db::DefinirGanchoOcupado({});
    // Each run lets go of its connections as it ends; what start-up opened
    // and no run has closed yet goes here, its failure to the log.
    if (const auto falha = Operacoes_->LiberarConexoes()) Registro_.DoSaveLog(*falha);
}

TTextosJanela TJanela::Textos() const {
    std::lock_guard trava(MutexTextos_);
    return Textos_;
}

void TJanela::Alterar(std::string TTextosJanela::*campo, const std::string& texto) {
    {
        std::lock_guard trava(MutexTextos_);
        if (Textos_.*campo == texto) return;
        Textos_.*campo = texto;
    }
    Vista_.TextosAlterados();
}

void TJanela::StatusRecebimento(const std::string& texto) { Alterar(&TTextosJanela::Recebimento, texto); }
void TJanela::StatusEnvio(const std::string& texto) { Alterar(&TTextosJanela::Envio, texto); }
void TJanela::Cronometro(const std::string& texto) { Alterar(&TTextosJanela::Cronometro, texto); }

void TJanela::Iniciar() {
    Ciclo_->Iniciar();
}

void TJanela::MostrarSemBandeja() {
    if (!Vista_.BandejaDisponivel()) Restaurar();
}

void TJanela::Tick() {
    if (Parada_) return;
    bool livre = false;
    if (!Execucao_.compare_exchange_strong(livre, true)) return;
    EmAndamento_ = Ciclo_->TimerHabilitado();
    try {
        Ciclo_->Tick();
    } catch (const std::exception& e) {
        if (Ciclo_->RegistrarFalha(e.what())) ManipulaExcecoes(e.what());
    } catch (...) {
        const char* texto = "Falha de tipo desconhecido na sincronização";
        if (Ciclo_->RegistrarFalha(texto)) ManipulaExcecoes(texto);
    }
    EmAndamento_ = false;
    Execucao_ = false;
}

void TJanela::ManipulaExcecoes(const std::string& mensagem) { Registro_.DoSaveLog(mensagem); }

void TJanela::Executar(TComandoJanela comando) {
    switch (comando) {
        case TComandoJanela::cjRestaurar: Restaurar(); break;
        case TComandoJanela::cjOcultar: Ocultar(); break;
        case TComandoJanela::cjVerificarInstalacao: MostrarVerificacao(VerificarInstalacao()); break;
        case TComandoJanela::cjFechar: Fechar(); break;
    }
}

void TJanela::Restaurar() {
    std::optional<TPonto> posicao;
    if (!Vista_.Visivel()) {
        posicao = PosicaoJanela(Vista_.Tela(), Vista_.AreaDisponivel(), layout::Largura, layout::Altura);
    }
    Vista_.Mostrar(posicao);
    Vista_.TrazerParaFrente();
}

void TJanela::Ocultar() {
    if (!Vista_.BandejaDisponivel()) {
        Vista_.Minimizar();
        return;
    }
    Vista_.Ocultar();
}

void TJanela::Minimizado() {
    if (Vista_.BandejaDisponivel() && Vista_.Visivel()) Vista_.Ocultar();
}

void TJanela::Fechar() {
    const auto digitada = Vista_.PedirSenha(CaptionSenha, PromptSenha, std::string());
    if (SenhaAceita(digitada, [this](const std::string& texto) {
            Vista_.Mensagem(texto, TIconeMensagem::imNenhum);
        })) {
        PedirParada();
        Vista_.Encerrar();
    }
}

TResultadoVerificacao TJanela::VerificarInstalacao() {
    TResultadoVerificacao r;
    bool livre = false;
    if (EmAndamento_ || !Execucao_.compare_exchange_strong(livre, true)) {
        r.Texto = TextoVerificacaoDuranteSincronizacao;
        return r;
    }
    try {
        TOpcoesVerificacao opcoes;
        opcoes.Regional = TRegionalEmVigor::DoAmbiente();
        std::ostringstream saida;
        r.TudoCerto = ExecutarVerificacao(opcoes, saida) == 0;
        r.Texto = saida.str();
    } catch (...) {
        Execucao_ = false;
        throw;
    }
    Execucao_ = false;
    return r;
}

void TJanela::MostrarVerificacao(const TResultadoVerificacao& resultado) {
    Vista_.Mensagem(resultado.Texto, resultado.TudoCerto ? TIconeMensagem::imInformacao : TIconeMensagem::imAviso);
}

}  // namespace ondaris::shell
