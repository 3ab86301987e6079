#include "db/conexao.h"

#include "db/diagnostico.h"

#include <algorithm>
#include <exception>
#include <thread>

#include "db/consulta.h"

namespace ondaris::db {

std::string ParametrosConexao::StringConexao() const { return db::StringConexao(Servidor, Porta, Caminho); }

ParametrosConexao ParametrosConexao::De(const ConfiguracaoBanco& c) {
    ParametrosConexao p;
    p.Servidor = c.Servidor;
    p.Porta = c.Porta;
    p.Caminho = c.Caminho;
    return p;
}

Conexao::Conexao(ParametrosConexao parametros, std::string nome)
    : parametros_(std::move(parametros)), nome_(std::move(nome)),
      pausa_([](std::chrono::milliseconds ms) { std::this_thread::sleep_for(ms); }) {}

Conexao::~Conexao() {
    try {
        Fechar();
    } catch (const std::exception& e) {
        Diagnosticar("Falha ao fechar a conexão " + nome_ + " com o banco: " + e.what());
    }
    // Whatever is still registered refers to us; make it forget its handles.
    for (auto* c : consultas_) c->Perdida();
    for (auto* t : transacoes_) t->Perdida();
}

void Conexao::Abrir() {
    if (anexo_) return;
    fb::Chamar([&](fb::Status& s) {
        auto* util = fb::Util();
        const fb::ConstrutorBlocoFb dpb(util->getXpbBuilder(&s, Firebird::IXpbBuilder::DPB, nullptr, 0));
        dpb->insertString(&s, isc_dpb_user_name, parametros_.Usuario.c_str());
        dpb->insertString(&s, isc_dpb_password, parametros_.Senha.c_str());
        dpb->insertString(&s, isc_dpb_lc_ctype, "ISO8859_1");
        dpb->insertInt(&s, isc_dpb_sql_dialect, 3);
        const std::string alvo = parametros_.StringConexao();
        anexo_ = fb::Anexo(fb::Provedor()->attachDatabase(&s, alvo.c_str(), dpb->getBufferLength(&s),
                                                          dpb->getBuffer(&s)));
    });
}

void Conexao::Fechar() {
    std::exception_ptr primeiro;
    if (anexo_) {
        for (auto* t : transacoes_) {
            if (!t->Ativa()) continue;
            const bool alterou = t->TemAlteracoes();
            try {
                // Only a transaction that ends by itself is committed here: one
                // its caller controls was not committed by that caller, so
                // what it holds may be half of a unit of work.
                if (t->opcoes_.FimAutomatico) t->Commit();
                else t->Rollback();
            } catch (const ErroConexaoPerdida&) {
                // An attachment the server has already let go of took with
                // it a transaction that had changed nothing: nothing is lost.
                if (alterou && !primeiro) primeiro = std::current_exception();
                t->Perdida();
            } catch (const std::exception&) {
                if (!primeiro) primeiro = std::current_exception();
                t->Perdida();
            }
        }
    }
    for (auto* c : consultas_) c->Perdida();
    for (auto* t : transacoes_) t->Perdida();
    if (anexo_) {
        try {
            anexo_.Finalizar([](fb::Status* s, Firebird::IAttachment* a) { a->detach(s); });
        } catch (const ErroConexaoPerdida&) {
            // The server has cut the attachment already (shut down, removed
            // by an administrator, the network gone): it is closed, which is
            // all that was asked.
            anexo_.Soltar();
        } catch (const std::exception&) {
            if (!primeiro) primeiro = std::current_exception();
            anexo_.Soltar();
        }
    }
    if (primeiro) std::rethrow_exception(primeiro);
}

Firebird::IAttachment* Conexao::Anexo() {
    Abrir();
    return anexo_.get();
}

void Conexao::Remover(Transacao* t) noexcept { std::erase(transacoes_, t); }
void Conexao::Remover(Consulta* c) noexcept { std::erase(consultas_, c); }

void Conexao::FecharCursores(const Transacao& t) noexcept {
    for (auto* c : consultas_)
        if (c->transacao_ == &t) c->FecharCursorSemServidor();
}

void Conexao::DescartarHandles() noexcept {
    // Close our side of the attachment at once, without a word to the
    // server: after the server has shut an attachment down (an administrator
    // removed it, the database went offline) it has been seen never to
    // answer a later rollback or detach, which would block us for good.
    // Then the attachment goes first, so the client library frees its
    // transactions, statements and cursors locally.
    if (anexo_) {
        const fb::StatusFb bruto(fb::Mestre()->getStatus());
        Firebird::CheckStatusWrapper status(bruto.get());
        // Its failure only means the attachment was closed already.
        anexo_->cancelOperation(&status, fb_cancel_abort);
    }
    anexo_.Soltar();
    for (auto* c : consultas_) c->Perdida();
    for (auto* t : transacoes_) {
        // A caller-controlled transaction that had done nothing yet is
        // started again on the new attachment: the caller cannot tell.
        t->reiniciarAposReconexao_ = t->Ativa() && !t->opcoes_.InicioAutomatico && !t->alteracoes_;
        t->Perdida();
    }
}

bool Conexao::TemAlteracoesPendentes(const Transacao* t) const { return t && t->TemAlteracoes(); }

void Conexao::Reconectar() {
    DescartarHandles();
    std::exception_ptr ultimo;
    for (int tentativa = 0; tentativa < kTentativasReconexao; ++tentativa) {
        if (tentativa > 0) pausa_(kPausaReconexao);
        try {
            Abrir();
            ++reconexoes_;
            for (auto* t : transacoes_) {
                if (t->reiniciarAposReconexao_) t->StartFb();
                t->reiniciarAposReconexao_ = false;
            }
            return;
        } catch (const ErroBanco&) {
            ultimo = std::current_exception();
            anexo_.Soltar();
        }
    }
    for (auto* t : transacoes_) t->reiniciarAposReconexao_ = false;
    std::rethrow_exception(ultimo);
}

void Conexao::LancarPerdaDeAlteracoes(const ErroConexaoPerdida& e, const Transacao& t) {
    throw ErroConexaoPerdida("a conexão caiu e foi restabelecida, mas as alterações não confirmadas da "
                             "transação " + t.Nome() + " se perderam com ela: " + e.what(),
                             e.Codigo(), e.SqlState(), e.Codigos());
}

// ---------------------------------------------------------------- Transacao

Transacao::Transacao(Conexao& conexao, std::string nome, OpcoesTransacao opcoes)
    : conexao_(conexao), nome_(std::move(nome)), opcoes_(opcoes) {
    conexao_.Registrar(this);
}

Transacao::~Transacao() {
    try {
        Rollback();  // nobody committed it: keep nothing half-done
    } catch (const std::exception& e) {
        Diagnosticar("Falha ao encerrar a transação " + nome_ + ": " + e.what());
    }
    Perdida();
    conexao_.Remover(this);
}

void Transacao::StartFb() {
    std::vector<unsigned char> tpb{isc_tpb_version3,
                                   static_cast<unsigned char>(opcoes_.SomenteLeitura ? isc_tpb_read : isc_tpb_write)};
    if (opcoes_.Isolamento == TIsolamento::Instantaneo) {
        tpb.push_back(isc_tpb_concurrency);
    } else {
        tpb.push_back(isc_tpb_read_committed);
        tpb.push_back(isc_tpb_rec_version);
    }
    tpb.push_back(isc_tpb_nowait);
    auto* anexo = conexao_.Anexo();
    handle_ = fb::TransacaoFb(fb::Chamar([&](fb::Status& s) {
        return anexo->startTransaction(&s, static_cast<unsigned>(tpb.size()), tpb.data());
    }));
    ativos_ = 0;
    alteracoes_ = false;
}

void Transacao::Iniciar() {
    if (Ativa()) throw ErroUso("transação " + nome_ + " já está ativa");
    conexao_.Operar(nullptr, [&] { StartFb(); });
}

void Transacao::Commit() {
    if (!Ativa()) return;
    conexao_.FecharCursores(*this);
    try {
        handle_.Finalizar([](fb::Status* s, Firebird::ITransaction* t) { t->commit(s); });
    } catch (const ErroConexaoPerdida&) {
        // The outcome is unknown and cannot be repeated; the connection
        // reattaches on its next use.
        conexao_.DescartarHandles();
        throw;
    }
    ativos_ = 0;
    alteracoes_ = false;
}

void Transacao::Rollback() {
    if (!Ativa()) return;
    conexao_.FecharCursores(*this);
    try {
        handle_.Finalizar([](fb::Status* s, Firebird::ITransaction* t) { t->rollback(s); });
    } catch (const ErroConexaoPerdida&) {
        // The server rolls back a lost attachment's work by itself.
        conexao_.DescartarHandles();
    } catch (const std::exception&) {
        // A transaction that could not be rolled back must never be
        // committed later by anyone: the attachment goes, and the server
        // rolls its work back with it. The caller still learns of it.
        conexao_.DescartarHandles();
        throw;
    }
    ativos_ = 0;
    alteracoes_ = false;
}

Firebird::ITransaction* Transacao::Garantir() {
    if (!Ativa()) {
        if (!opcoes_.InicioAutomatico)
            throw ErroUso("transação " + nome_ + " não está ativa: quem a usa deve iniciá-la");
        StartFb();
    }
    return handle_.get();
}

void Transacao::ComandoTerminou() {
    if (ativos_ > 0) --ativos_;
    if (ativos_ == 0 && opcoes_.FimAutomatico && Ativa()) Commit();
}

void Transacao::Perdida() noexcept {
    handle_.Soltar();
    ativos_ = 0;
    alteracoes_ = false;
}

}  // namespace ondaris::db
