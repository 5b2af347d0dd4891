// The object handed to the player as its client context.  It implements no
// service itself: it owns the four responders and passes the engine's
// requests on to them, in a fixed order.
#pragma once

#include "core/com_object.h"
#include "core/com_ptr.h"

namespace engine {

class ClientContext final : public core::ComObject<IUnknown> {
public:
    ClientContext() noexcept = default;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** out) noexcept override;

    // Creates the responders that are still missing, taking one reference on
    // each.  A responder that cannot be created stays null and is skipped.
    void CreateResponders(rma::IRMAPlayer* player) noexcept;

    rma::IRMAClientAdviseSink* AdviseSink() const noexcept { return adviseSink_.get(); }
    rma::IRMAErrorSink* ErrorSinkMember() const noexcept { return errorSink_.get(); }
    rma::IRMAAuthenticationManager* AuthenticationManagerMember() const noexcept {
        return authenticationManager_.get();
    }
    rma::IRMASiteSupplier* SiteSupplierMember() const noexcept { return siteSupplier_.get(); }

private:
    // The responders go with the context, in the order they were asked:
    // the advise sink and the site supplier hold the player, which would
    // otherwise never be freed.
    ~ClientContext() override;

    core::ComPtr<rma::IRMAClientAdviseSink> adviseSink_;
    core::ComPtr<rma::IRMAErrorSink> errorSink_;
    core::ComPtr<rma::IRMAAuthenticationManager> authenticationManager_;
    core::ComPtr<rma::IRMASiteSupplier> siteSupplier_;
};

}  // namespace engine
