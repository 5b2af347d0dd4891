#include "engine/site_supplier.h"

#include <new>

#include "core/playback_state.h"
#include "core/trace.h"

namespace engine {

using namespace rma;
using core::ComPtr;
using core::g_module;
using core::g_state;

std::atomic<IRMASiteWindowed*> g_videoSite{nullptr};

namespace {

// Visible, resizable, captioned; no child flag, so the window is top-level
// and owned by its parent.
constexpr UINT32 kVideoWindowStyle = WS_VISIBLE | WS_CLIPCHILDREN | WS_OVERLAPPEDWINDOW;
static_assert(kVideoWindowStyle == 0x12CF0000, "video window style");

// The engine matches renderers to sites by these names: "playto" becomes the
// site's "channel", failing that "name" becomes its "LayoutGroup".
void CopyNamingProperty(IRMAValues* request, IRMAValues* site) noexcept {
    ComPtr<IRMABuffer> value;
    if (request->GetPropertyCString("playto", value.put()) == kOk && value) {
        site->SetPropertyCString("channel", value.get());
        return;
    }
    if (request->GetPropertyCString("name", value.put()) == kOk && value) {
        site->SetPropertyCString("LayoutGroup", value.get());
    }
}

}  // namespace

SiteSupplier::SiteSupplier(rma::IRMAPlayer* player) noexcept {
    if (!player) return;
    player->QueryInterface(IID_IRMASiteManager, siteManager_.put_void());
    player->QueryInterface(IID_IRMACommonClassFactory, classFactory_.put_void());
    player_ = ComPtr<IRMAPlayer>(player);
}

SiteSupplier::~SiteSupplier() {
    while (IRMASite* site = sites_.PopLast()) RetireSite(site);
    siteManager_.reset();
    classFactory_.reset();
    player_.reset();
}

HRESULT SiteSupplier::SitesNeeded(UINT32 requestId, IRMAValues* siteProperties) noexcept {
    if (!siteProperties) return kInvalidArg;
    if (!classFactory_ || !siteManager_) return kFail;
    const std::uint32_t generation = core::CurrentGeneration();

    ComPtr<IRMASiteWindowed> windowed;
    HRESULT result = classFactory_->CreateInstance(CLSID_IRMASiteWindowed, windowed.put_void());
    if (result == kOk && !windowed) result = kFail;
    if (result == kOk) result = OpenSite(requestId, siteProperties, windowed.get());

    // The newest site is the one Stop destroys; a failed one is not kept, and
    // an older one stays reachable through the table until SitesNotNeeded.
    IRMASiteWindowed* site = result == kOk ? windowed.detach() : nullptr;
    IRMASiteWindowed* older = g_videoSite.exchange(site);
    if (older) older->Release();
    // Published first, checked after: a Stop that began meanwhile (it
    // starts a new generation before it destroys the site) either finds the
    // site published, or is seen here and the site goes at once.  Whoever
    // takes it out of the shared field destroys it.
    if (site && !core::IsCurrentGeneration(generation)) {
        core::Trace("video site created after its playback stopped: destroyed");
        IRMASiteWindowed* expected = site;
        if (g_videoSite.compare_exchange_strong(expected, nullptr)) {
            site->Destroy();
            site->Release();
        }
    }
    return result;
}

HRESULT SiteSupplier::OpenSite(UINT32 requestId, IRMAValues* request,
                               IRMASiteWindowed* windowed) noexcept {
    ComPtr<IRMASite> site;
    HRESULT result = windowed->QueryInterface(IID_IRMASite, site.put_void());
    if (result != kOk) return result;
    ComPtr<IRMAValues> values;
    result = windowed->QueryInterface(IID_IRMAValues, values.put_void());
    if (result != kOk) return result;

    CopyNamingProperty(request, values.get());

    result = siteManager_->AddSite(site.get());
    if (result != kOk) return result;
    IRMASite* replaced = nullptr;
    if (!sites_.Insert(requestId, site.get(), &replaced)) {
        siteManager_->RemoveSite(site.get());
        return kOutOfMemory;
    }
    site->AddRef();
    if (replaced == site.get()) {
        replaced->Release();
    } else if (replaced) {
        RetireSite(replaced);
    }

    HWND host = g_module.hMainWindow;
    RECT hostRect;
    if (GetWindowRect(host, &hostRect)) site->SetPosition(Point{hostRect.right, hostRect.top});

    result = windowed->Create(host, kVideoWindowStyle);
    if (result != kOk) return result;

    const WindowRecord* record = windowed->GetWindow();
    HWND window = record ? static_cast<HWND>(record->window) : nullptr;
    g_state.videoWindow = window;
    SetWindowTextA(window, "Video Window");
    return kOk;
}

HRESULT SiteSupplier::SitesNotNeeded(UINT32 requestId) noexcept {
    IRMASite* site = sites_.Find(requestId);
    if (!site) return kInvalidArg;
    sites_.Erase(requestId);
    RetireSite(site);
    return kOk;
}

void SiteSupplier::RetireSite(IRMASite* site) noexcept {
    if (siteManager_) siteManager_->RemoveSite(site);
    ComPtr<IRMASiteWindowed> windowed;
    if (site->QueryInterface(IID_IRMASiteWindowed, windowed.put_void()) == kOk && windowed) {
        // Stop destroys the video site's window at once; the engine gives the
        // site up only later (at the next URL, or when the player closes),
        // and a window is destroyed once.
        const WindowRecord* record = windowed->GetWindow();
        if (record && record->window) windowed->Destroy();
    }
    site->Release();
}

rma::IRMASiteSupplier* NewSiteSupplier(rma::IRMAPlayer* player) noexcept {
    return new (std::nothrow) SiteSupplier(player);
}

void DestroyVideoSite() noexcept {
    IRMASiteWindowed* site = g_videoSite.exchange(nullptr);
    if (!site) return;
    site->Destroy();
    site->Release();
}

}  // namespace engine
