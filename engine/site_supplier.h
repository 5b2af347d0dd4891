// Gives video content a site: a windowed site from the engine's class
// factory, registered with the player's site manager and opened as a
// top-level "Video Window" owned by the host window, at its top-right corner.
#pragma once

#include "engine/rma.h"
#include "engine/com_ptr.h"
#include "engine/ref_counted.h"
#include "engine/site_table.h"

namespace rma {

class SiteSupplier final : public RefCounted<IRMASiteSupplier, IID_IRMASiteSupplier> {
public:
    explicit SiteSupplier(IRMAPlayer* player) noexcept;
    ~SiteSupplier() override;

    HRESULT STDMETHODCALLTYPE SitesNeeded(UINT32 requestId,
                                          IRMAValues* siteProperties) noexcept override;
    HRESULT STDMETHODCALLTYPE SitesNotNeeded(UINT32 requestId) noexcept override;
    HRESULT STDMETHODCALLTYPE BeginChangeLayout() noexcept override { return kOk; }
    HRESULT STDMETHODCALLTYPE DoneChangeLayout() noexcept override { return kOk; }

    const SiteTable& SitesForTesting() const noexcept { return sites_; }

private:
    // Steps after the site exists; the caller keeps or drops the site.
    HRESULT OpenSite(UINT32 requestId, IRMAValues* request, IRMASiteWindowed* windowed) noexcept;
    // Unregisters a recorded site, destroys its window and drops the table's reference.
    void RetireSite(IRMASite* site) noexcept;

    ComPtr<IRMASiteManager> siteManager_;
    ComPtr<IRMACommonClassFactory> classFactory_;
    ComPtr<IRMAPlayer> player_;
    SiteTable sites_;
};

}  // namespace rma
