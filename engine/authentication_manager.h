// Declines every request for credentials at once: the plug-in has no way to
// ask the user for a name and a password.
#pragma once

#include "core/com_object.h"

namespace engine {

class AuthenticationManager final : public core::ComObject<rma::IRMAAuthenticationManager> {
public:
    HRESULT STDMETHODCALLTYPE HandleAuthenticationRequest(
        rma::IRMAAuthenticationManagerResponse* response) noexcept override;
};

// A new manager with a reference count of 0, or null without memory.
rma::IRMAAuthenticationManager* NewAuthenticationManager() noexcept;

}  // namespace engine
