#include "engine/authentication_manager.h"

#include <new>

namespace engine {

HRESULT AuthenticationManager::HandleAuthenticationRequest(
    rma::IRMAAuthenticationManagerResponse* response) noexcept {
    if (!response) {
        core::Trace("authentication request without a response object");
        return rma::kPointer;
    }
    return response->AuthenticationRequestDone(rma::kNotAuthorized, nullptr, nullptr);
}

rma::IRMAAuthenticationManager* NewAuthenticationManager() noexcept {
    return new (std::nothrow) AuthenticationManager();
}

}  // namespace engine
