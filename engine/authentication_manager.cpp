#include "engine/authentication_manager.h"

#include <new>

#include "engine/responders.h"

namespace rma {

HRESULT AuthenticationManager::HandleAuthenticationRequest(
    IRMAAuthenticationManagerResponse* response) noexcept {
    if (!response) return static_cast<HRESULT>(0x80004003);
    return response->AuthenticationRequestDone(kNotAuthorized, nullptr, nullptr);
}

IRMAAuthenticationManager* NewAuthenticationManager() noexcept {
    return new (std::nothrow) AuthenticationManager();
}

}  // namespace rma
