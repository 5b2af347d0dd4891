// Declines every request for credentials at once: the plug-in has no way to
// ask the user for a name and a password.
#pragma once

#include "engine/ref_counted.h"

namespace rma {

class AuthenticationManager final
    : public RefCounted<IRMAAuthenticationManager, IID_IRMAAuthenticationManager> {
public:
    HRESULT STDMETHODCALLTYPE HandleAuthenticationRequest(
        IRMAAuthenticationManagerResponse* response) noexcept override;
};

}  // namespace rma
