// Gives video content a site: a windowed site from the engine's class
// factory, registered with the player's site manager and opened as a
// top-level "Video Window" owned by the host window, at its top-right corner.
#pragma once

#include <atomic>

#include "core/com_object.h"
#include "core/com_ptr.h"
#include "engine/site_table.h"

namespace engine {

using rma::IRMASiteWindowed;
using rma::IRMAValues;
using rma::UINT32;

class SiteSupplier final : public core::ComObject<rma::IRMASiteSupplier> {
public:
    explicit SiteSupplier(rma::IRMAPlayer* player) noexcept;
    ~SiteSupplier() override;

    HRESULT STDMETHODCALLTYPE SitesNeeded(UINT32 requestId,
                                          IRMAValues* siteProperties) noexcept override;
    HRESULT STDMETHODCALLTYPE SitesNotNeeded(UINT32 requestId) noexcept override;
    HRESULT STDMETHODCALLTYPE BeginChangeLayout() noexcept override { return rma::kOk; }
    HRESULT STDMETHODCALLTYPE DoneChangeLayout() noexcept override { return rma::kOk; }

    const SiteTable& SitesForTesting() const noexcept { return sites_; }

private:
    // Steps after the site exists; the caller keeps or drops the site.
    HRESULT OpenSite(UINT32 requestId, IRMAValues* request, IRMASiteWindowed* windowed) noexcept;
    // Unregisters a recorded site, destroys its window and drops the table's reference.
    void RetireSite(IRMASite* site) noexcept;

    core::ComPtr<rma::IRMASiteManager> siteManager_;
    core::ComPtr<rma::IRMACommonClassFactory> classFactory_;
    core::ComPtr<rma::IRMAPlayer> player_;
    SiteTable sites_;
};

// A new supplier with a reference count of 0, or null without memory.
rma::IRMASiteSupplier* NewSiteSupplier(rma::IRMAPlayer* player) noexcept;

// The newest video site, held (one reference) for Stop to destroy.
extern std::atomic<rma::IRMASiteWindowed*> g_videoSite;

// Destroys the video site that the latest SitesNeeded created, if any.
void DestroyVideoSite() noexcept;

}  // namespace engine
