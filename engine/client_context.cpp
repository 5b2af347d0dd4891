#include "engine/client_context.h"

#include "engine/com_ptr.h"
#include "engine/responders.h"

namespace rma {
namespace {

template <class T>
void Keep(T*& member, T* created) {
    if (!created) return;
    created->AddRef();
    member = created;
}

}  // namespace

HRESULT STDMETHODCALLTYPE ClientContext::QueryInterface(REFIID id, void** out) {
    if (!out) return static_cast<HRESULT>(0x80004003);
    if (SameId(id, IID_Unknown)) {
        AddRef();
        *out = static_cast<IUnknown*>(this);
        return 0;
    }
    IUnknown* const members[] = {adviseSink_, errorSink_, authenticationManager_, siteSupplier_};
    for (IUnknown* member : members) {
        if (member && member->QueryInterface(id, out) == 0) return 0;
    }
    *out = nullptr;
    return kNoInterface;
}

void ClientContext::CreateResponders(IRMAPlayer* player) noexcept {
    if (!errorSink_) Keep(errorSink_, NewErrorSink());
    if (!adviseSink_) Keep(adviseSink_, NewClientAdviseSink(player));
    if (!authenticationManager_) Keep(authenticationManager_, NewAuthenticationManager());
    if (!siteSupplier_) Keep(siteSupplier_, NewSiteSupplier(player));
}

// The responders go with the context: the advise sink and the site supplier
// hold the player, which would otherwise never be freed.
ClientContext::~ClientContext() {
    ReleaseAndClear(adviseSink_);
    ReleaseAndClear(errorSink_);
    ReleaseAndClear(authenticationManager_);
    ReleaseAndClear(siteSupplier_);
}

}  // namespace rma
