// Gives video content a site: a windowed site from the engine's class
// factory, registered with the player's site manager and opened as a
// top-level "Video Window" owned by the host window, at its top-right corner.
#pragma once

#include "core/com_object.h"
#include "core/com_ptr.h"
#include "core/playback.h"
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
    // Makes the site's window, on the host's thread, for `playback`, which
    // keeps it for its Stop.  None for a playback that is closed or gone.
    static void ShowSite(const core::PlaybackRef& playback, core::ComPtr<IRMASiteWindowed> windowed) noexcept;
    // Unregisters a recorded site, destroys its window and drops the
    // table's reference.  `report`: asked for by the engine's report
    // (SitesNotNeeded), whose window work is posted; else the supplier's
    // own end.
    void RetireSite(IRMASite* site, bool report) noexcept;

    core::ComPtr<rma::IRMASiteManager> siteManager_;
    core::ComPtr<rma::IRMACommonClassFactory> classFactory_;
    core::ComPtr<rma::IRMAPlayer> player_;
    SiteTable sites_;
};

// A new supplier with a reference count of 0, or null without memory.
rma::IRMASiteSupplier* NewSiteSupplier(rma::IRMAPlayer* player) noexcept;

// Stop's: destroys every video site window of `playback` still up, on the
// host's thread.
void DestroyVideoSites(core::Playback& playback) noexcept;

}  // namespace engine
