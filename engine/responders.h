// Factories for the plug-in's engine-facing objects.  Each returns a new
// object with a reference count of 0 (the caller takes the first reference),
// or null when it cannot be created.
#pragma once

#include "engine/rma.h"

namespace rma {

IRMAClientAdviseSink* NewClientAdviseSink(IRMAPlayer* player) noexcept;
IRMAErrorSink* NewErrorSink() noexcept;
IRMAAuthenticationManager* NewAuthenticationManager() noexcept;
IRMASiteSupplier* NewSiteSupplier(IRMAPlayer* player) noexcept;
IRMAAudioDevice* NewAudioDevice(IRMAPlayer* player) noexcept;

// Destroys the video site that the latest SitesNeeded created, if any.
void DestroyVideoSite() noexcept;

}  // namespace rma
