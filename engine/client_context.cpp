#include "engine/client_context.h"

#include "core/trace.h"
#include "engine/authentication_manager.h"
#include "engine/client_advise_sink.h"
#include "engine/error_sink.h"
#include "engine/site_supplier.h"

namespace engine {

HRESULT STDMETHODCALLTYPE ClientContext::QueryInterface(REFIID id, void** out) noexcept {
    if (!out) return rma::kPointer;
    if (rma::SameId(id, rma::IID_Unknown)) {
        AddRef();
        *out = static_cast<IUnknown*>(this);
        return rma::kOk;
    }
    // Each responder serves IUnknown and its own id only, so the id picks
    // the one to ask.
    struct Member {
        const GUID& id;
        IUnknown* object;
    };
    const Member members[] = {
        {rma::IID_IRMAClientAdviseSink, adviseSink_.get()},
        {rma::IID_IRMAErrorSink, errorSink_.get()},
        {rma::IID_IRMAAuthenticationManager, authenticationManager_.get()},
        {rma::IID_IRMASiteSupplier, siteSupplier_.get()},
    };
    for (const Member& member : members) {
        if (member.object && rma::SameId(id, member.id)) return member.object->QueryInterface(id, out);
    }
    *out = nullptr;
    core::TraceUnknownInterface(id);
    return rma::kNoInterface;
}

ClientContext::~ClientContext() {
    adviseSink_.reset();
    errorSink_.reset();
    authenticationManager_.reset();
    siteSupplier_.reset();
}

void ClientContext::CreateResponders(rma::IRMAPlayer* player) noexcept {
    if (!errorSink_) errorSink_ = core::ComPtr<rma::IRMAErrorSink>(NewErrorSink());
    if (!adviseSink_) adviseSink_ = core::ComPtr<rma::IRMAClientAdviseSink>(NewClientAdviseSink(player));
    if (!authenticationManager_)
        authenticationManager_ = core::ComPtr<rma::IRMAAuthenticationManager>(NewAuthenticationManager());
    if (!siteSupplier_) siteSupplier_ = core::ComPtr<rma::IRMASiteSupplier>(NewSiteSupplier(player));
}

}  // namespace engine
