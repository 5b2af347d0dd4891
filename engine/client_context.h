// The object handed to the player as its client context.  It implements no
// service itself: it owns the four responders and passes the engine's
// requests on to them, in a fixed order.
#pragma once

#include "engine/ref_counted.h"

namespace rma {

class ClientContext : public RefCounted<IUnknown, IID_Unknown> {
public:
    ClientContext() = default;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** out) override;

    // Creates the responders that are still missing, taking one reference on
    // each.  A responder that cannot be created stays null and is skipped.
    void CreateResponders(IRMAPlayer* player) noexcept;

    IRMAClientAdviseSink* AdviseSink() const { return adviseSink_; }
    IRMAErrorSink* ErrorSinkMember() const { return errorSink_; }
    IRMAAuthenticationManager* AuthenticationManagerMember() const { return authenticationManager_; }
    IRMASiteSupplier* SiteSupplierMember() const { return siteSupplier_; }

private:
    ~ClientContext() override;

    IRMAClientAdviseSink* adviseSink_ = nullptr;
    IRMAErrorSink* errorSink_ = nullptr;
    IRMAAuthenticationManager* authenticationManager_ = nullptr;
    IRMASiteSupplier* siteSupplier_ = nullptr;
};

}  // namespace rma
