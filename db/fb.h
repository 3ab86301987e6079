#pragma once
// Thin RAII over the Firebird OO API, and the one place where the client
// library's status vector becomes one of our exceptions (db/erros.h).
//
// Ref<I> owns one reference of a reference-counted interface (attachment,
// transaction, statement, result set, blob, metadata, service) and releases
// it when destroyed. It is move-only: a copied holder would release twice.
// Calls that free the interface themselves on success (commit, rollback,
// detach, close, free) go through Finalizar(), which gives up ownership only
// when the call succeeded; after a failure the reference is still ours.
//
// Chamar(f) runs f with a throwing status wrapper and converts a failure:
// a lost or unreachable attachment becomes ErroConexaoPerdida, a refused
// login ErroLoginRecusado, a lock or update conflict ErroConflitoBloqueio,
// anything else ErroBanco; each keeps the ISC
// code, the SQLSTATE and the formatted text of the server.
#include <firebird/Interface.h>

#include <utility>

#include "db/erros.h"

namespace ondaris::db::fb {

Firebird::IMaster* Mestre();
Firebird::IUtil* Util();
Firebird::IProvider* Provedor();

using Status = Firebird::ThrowStatusWrapper;

// Converts a failed status into the matching exception and throws it.
[[noreturn]] void LancarErro(const Firebird::IStatus* status);

// Descartavel<I> owns one disposable object (a status, a parameter-block
// builder) and disposes of it when destroyed; move-only like Ref.
template <class I>
class Descartavel {
public:
    explicit Descartavel(I* p) noexcept : p_(p) {}
    ~Descartavel() {
        if (p_) p_->dispose();
    }
    Descartavel(const Descartavel&) = delete;
    Descartavel& operator=(const Descartavel&) = delete;
    Descartavel(Descartavel&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    Descartavel& operator=(Descartavel&&) = delete;

    I* get() const noexcept { return p_; }
    I* operator->() const noexcept { return p_; }

private:
    I* p_;
};

using StatusFb = Descartavel<Firebird::IStatus>;
using ConstrutorBlocoFb = Descartavel<Firebird::IXpbBuilder>;

// Runs f(Status&) and turns a Firebird failure into our exceptions.
template <class F>
decltype(auto) Chamar(F&& f) {
    const StatusFb bruto(Mestre()->getStatus());
    Status status(bruto.get());
    try {
        return std::forward<F>(f)(status);
    } catch (const Firebird::FbException& e) {
        LancarErro(e.getStatus());
    }
}

template <class I>
class Ref {
public:
    Ref() = default;
    explicit Ref(I* p) noexcept : p_(p) {}
    ~Ref() { Soltar(); }
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    Ref(Ref&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    Ref& operator=(Ref&& o) noexcept {
        if (this != &o) {
            Soltar();
            p_ = std::exchange(o.p_, nullptr);
        }
        return *this;
    }

    I* get() const noexcept { return p_; }
    I* operator->() const noexcept { return p_; }
    explicit operator bool() const noexcept { return p_ != nullptr; }

    // Releases our reference now (no server call is made that could fail).
    void Soltar() noexcept {
        if (p_) std::exchange(p_, nullptr)->release();
    }

    // Runs a call that frees the interface on success (commit, detach...).
    template <class F>
    void Finalizar(F&& f) {
        if (!p_) return;
        Chamar([&](Status& s) { std::forward<F>(f)(&s, p_); });
        p_ = nullptr;
    }

private:
    I* p_ = nullptr;
};

using Anexo = Ref<Firebird::IAttachment>;
using TransacaoFb = Ref<Firebird::ITransaction>;
using ComandoFb = Ref<Firebird::IStatement>;
using CursorFb = Ref<Firebird::IResultSet>;
using BlobFb = Ref<Firebird::IBlob>;
using Metadados = Ref<Firebird::IMessageMetadata>;
using ConstrutorMetadados = Ref<Firebird::IMetadataBuilder>;
using ServicoFb = Ref<Firebird::IService>;

}  // namespace ondaris::db::fb
