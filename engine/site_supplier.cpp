#include "engine/site_supplier.h"

#include <new>

#include "core/trace.h"
#include "ui/ui_thread.h"

namespace engine {

using namespace rma;
using core::ComPtr;
using core::g_module;
using core::PlaybackRef;

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
    while (IRMASite* site = sites_.PopLast()) RetireSite(site, false);
    siteManager_.reset();
    classFactory_.reset();
    player_.reset();
}

HRESULT SiteSupplier::SitesNeeded(UINT32 requestId, IRMAValues* siteProperties) noexcept {
    if (!siteProperties) return kInvalidArg;
    if (!classFactory_ || !siteManager_) return kFail;

    ComPtr<IRMASiteWindowed> windowed;
    HRESULT result = classFactory_->CreateInstance(CLSID_IRMASiteWindowed, windowed.put_void());
    if (result == kOk && !windowed) result = kFail;
    if (result == kOk) result = OpenSite(requestId, siteProperties, windowed.get());
    if (result != kOk) return result;

    // The window is made on the host's thread, from a plain dispatch: the
    // engine has its site at once, and its window follows.
    PlaybackRef playback = core::CurrentPlayback();
    ui::PostToUiThread([playback, windowed] { ShowSite(playback, windowed); });
    return kOk;
}

void SiteSupplier::ShowSite(const PlaybackRef& playback, ComPtr<IRMASiteWindowed> windowed) noexcept {
    // A site asked for while Stop runs, or after it, gets no window: its
    // playback is over, and the engine gives the site up later.
    if (!playback || playback->Closed()) {
        core::Trace("video site asked for after its playback stopped: no window");
        return;
    }
    // The window and its caption belong to the engine's window thread:
    // both calls wait for it and serve sent messages meanwhile, so a Stop
    // may run inside them.  The playback, closed then, gives the site back.
    const HRESULT result = windowed->Create(g_module.hMainWindow, kVideoWindowStyle);
    if (result != kOk) {
        core::TraceFailure("video site Create", result);
        return;
    }
    const WindowRecord* record = windowed->GetWindow();
    HWND window = record ? static_cast<HWND>(record->window) : nullptr;
    SetWindowTextA(window, "Video Window");
    if (!playback->AdoptVideoSite(windowed, window)) {
        core::Trace("video site created after its playback stopped: destroyed");
        windowed->Destroy();
    }
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
        RetireSite(replaced, true);
    }

    RECT hostRect;
    if (GetWindowRect(g_module.hMainWindow, &hostRect)) site->SetPosition(Point{hostRect.right, hostRect.top});
    return kOk;
}

HRESULT SiteSupplier::SitesNotNeeded(UINT32 requestId) noexcept {
    IRMASite* site = sites_.Find(requestId);
    if (!site) return kInvalidArg;
    sites_.Erase(requestId);
    RetireSite(site, true);
    return kOk;
}

namespace {

// Stop destroys the video site's window at once; the engine gives the site
// up only later (at the next URL, or when the player closes), and a window
// is destroyed once, by the thread that made it.
void DestroyIfUp(const ComPtr<IRMASiteWindowed>& windowed) noexcept {
    const WindowRecord* record = windowed->GetWindow();
    if (record && record->window) windowed->Destroy();
}

}  // namespace

void SiteSupplier::RetireSite(IRMASite* site, bool report) noexcept {
    if (siteManager_) siteManager_->RemoveSite(site);
    ComPtr<IRMASiteWindowed> windowed;
    if (site->QueryInterface(IID_IRMASiteWindowed, windowed.put_void()) == kOk && windowed) {
        if (report)
            ui::PostToUiThread([windowed] { DestroyIfUp(windowed); });
        else
            ui::RunOnUiThread([windowed] { DestroyIfUp(windowed); });
    }
    site->Release();
}

rma::IRMASiteSupplier* NewSiteSupplier(rma::IRMAPlayer* player) noexcept {
    return new (std::nothrow) SiteSupplier(player);
}

void DestroyVideoSites(core::Playback& playback) noexcept {
    for (ComPtr<IRMASiteWindowed>& site : playback.TakeVideoSites())
        ui::RunOnUiThread([site = std::move(site)] { DestroyIfUp(site); });
}

}  // namespace engine
