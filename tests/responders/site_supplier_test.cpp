// The site supplier against stand-in engine objects that create real windows.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/rma.h"
#include "core/com_ptr.h"
#include "audio/audio_device.h"
#include "engine/authentication_manager.h"
#include "engine/client_advise_sink.h"
#include "engine/error_sink.h"
#include "engine/site_supplier.h"
#include "core/playback.h"
#include "stand_in_engine.h"
#include "support/test_support.h"
#include "ui/status_window.h"

using namespace core;

namespace {

using standin::As;
using Strings = std::vector<std::string>;

std::string Caption(HWND window) {
    char text[256] = {};
    GetWindowTextA(window, text, sizeof(text));
    return text;
}

core::ComPtr<rma::IRMASiteSupplier> MakeSupplier(standin::World& world) {
    return core::ComPtr<rma::IRMASiteSupplier>(engine::NewSiteSupplier(As<rma::IRMAPlayer>(world.player.face)));
}

HRESULT Need(rma::IRMASiteSupplier* supplier, standin::World& world, UINT32 id,
             const std::map<std::string, std::string>& properties) {
    const HRESULT result = supplier->SitesNeeded(id, As<rma::IRMAValues>(world.NewValues(properties)->face));
    testsupport::DispatchWaiting();  // the window is made from the host's next dispatch
    return result;
}

std::int32_t RecordedSites(rma::IRMASiteSupplier* supplier) {
    return static_cast<engine::SiteSupplier*>(supplier)->SitesForTesting().Count();
}

class SiteSupplierTest : public ::testing::Test {
protected:
    void SetUp() override {
        host.settings.stopOnMessages = false;
    }
    void TearDown() override {
        EXPECT_TRUE(playing->TakeVideoSites().empty()) << "a video site left for Stop";
        EXPECT_EQ(world.LiveWindows(), 0);
        world.ExpectBalanced();
    }

    // The newest site the playback keeps for its Stop, all left where they are.
    rma::IRMASiteWindowed* HeldSite() {
        HWND window = playing->VideoWindow();
        std::vector<core::ComPtr<rma::IRMASiteWindowed>> sites = playing->TakeVideoSites();
        rma::IRMASiteWindowed* held = sites.empty() ? nullptr : sites.back().get();
        for (auto& site : sites) playing->AdoptVideoSite(std::move(site), window);
        return held;
    }

    testsupport::FakeHost host;
    testsupport::TestPlayback playing{StatePlaying};
    standin::World world;
};

TEST_F(SiteSupplierTest, OpensOwnedVideoWindowAtHostTopRightThenEngineAndStopEndIt) {
    auto supplier = MakeSupplier(world);
    EXPECT_EQ(world.player.refs, 2);
    EXPECT_EQ(world.siteManager.refs, 2);
    EXPECT_EQ(world.classFactory.refs, 2);

    ASSERT_EQ(Need(supplier.get(), world, 7, {{"playto", "left"}, {"name", "main"}}), 0);
    ASSERT_EQ(world.sites.size(), 1u);
    standin::Site& site = *world.sites[0];
    EXPECT_EQ(world.calls, (Strings{"CreateInstance", "GetPropertyCString playto",
                                    "SetPropertyCString channel=left", "AddSite 1", "Create 1"}));
    EXPECT_EQ(site.properties, (std::map<std::string, std::string>{{"channel", "left"}}));
    ASSERT_TRUE(site.positioned);
    EXPECT_EQ(site.position.x, 375);
    EXPECT_EQ(site.position.y, 50);
    EXPECT_EQ(site.parent, host.window());
    EXPECT_EQ(site.style, 0x12CF0000u);

    HWND window = site.window;
    ASSERT_TRUE(IsWindow(window));
    EXPECT_TRUE(IsWindowVisible(window));
    EXPECT_EQ(GetWindow(window, GW_OWNER), host.window());
    EXPECT_EQ(GetAncestor(window, GA_PARENT), GetDesktopWindow());
    EXPECT_EQ(Caption(window), "Video Window");
    LONG style = GetWindowLongA(window, GWL_STYLE);
    EXPECT_EQ(style & WS_CHILD, 0);
    EXPECT_EQ(style & WS_CAPTION, WS_CAPTION);
    RECT placed;
    GetWindowRect(window, &placed);
    EXPECT_EQ(placed.left, 375);
    EXPECT_EQ(placed.top, 50);

    EXPECT_EQ(HeldSite(), As<rma::IRMASiteWindowed>(site.windowed));
    EXPECT_EQ(playing->VideoWindow(), window);
    EXPECT_EQ(site.refs, 2) << "Stop's reference and the table's";
    EXPECT_EQ(RecordedSites(supplier.get()), 1);

    // The engine may give the site up on a thread of its own: the window
    // goes on the thread that made it (DestroyWindow from another fails).
    world.calls.clear();
    HRESULT notNeeded = E_FAIL;
    testsupport::EngineThreadCall giveUp([&] { notNeeded = supplier->SitesNotNeeded(7); });
    ASSERT_TRUE(giveUp.Finish());
    EXPECT_EQ(notNeeded, 0);
    testsupport::DispatchWaiting();
    EXPECT_EQ(world.calls, (Strings{"RemoveSite 1", "Destroy 1"}));
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(site.refs, 1);
    EXPECT_EQ(supplier->SitesNotNeeded(7), rma::kInvalidArg);
    testsupport::DispatchWaiting();

    engine::DestroyVideoSites(*playing);
    EXPECT_EQ(site.destroys, 1) << "a window already gone is not destroyed again";
    EXPECT_EQ(site.refs, 0);
    EXPECT_EQ(playing->VideoWindow(), window) << "the handle is kept after the window is gone";
    engine::DestroyVideoSites(*playing);
    EXPECT_EQ(site.destroys, 1);
}

TEST_F(SiteSupplierTest, StopBeforeEngineAndNamingFallbacks) {
    auto supplier = MakeSupplier(world);
    ASSERT_EQ(Need(supplier.get(), world, 1, {{"name", "main"}}), 0);
    standin::Site& named = *world.sites[0];
    EXPECT_EQ(named.properties, (std::map<std::string, std::string>{{"LayoutGroup", "main"}}));

    engine::DestroyVideoSites(*playing);
    EXPECT_FALSE(IsWindow(named.window));
    EXPECT_EQ(named.refs, 1);
    EXPECT_EQ(supplier->SitesNotNeeded(1), 0);
    testsupport::DispatchWaiting();
    testsupport::DispatchWaiting();
    EXPECT_EQ(named.destroys, 1);
    EXPECT_EQ(named.refs, 0);
    EXPECT_EQ(world.Count("RemoveSite 1"), 1);

    world.calls.clear();
    ASSERT_EQ(Need(supplier.get(), world, 2, {}), 0);
    EXPECT_EQ(world.calls, (Strings{"CreateInstance", "GetPropertyCString playto", "GetPropertyCString name",
                                    "AddSite 2", "Create 2"}));
    EXPECT_TRUE(world.sites[1]->properties.empty());
    EXPECT_TRUE(IsWindowVisible(world.sites[1]->window));
    engine::DestroyVideoSites(*playing);
    EXPECT_EQ(supplier->SitesNotNeeded(2), 0);
    testsupport::DispatchWaiting();
}

TEST_F(SiteSupplierTest, EachFailureReleasesWhatTheCallTook) {
    struct Case {
        const char* name;
        HRESULT standin::World::*setting;
        HRESULT code;
        bool registered;  // the site stays registered until SitesNotNeeded
        HRESULT answer;   // the engine has its site before the window is made
    };
    const Case cases[] = {
        {"CreateInstance", &standin::World::createInstanceResult, static_cast<HRESULT>(0x8007000E), false,
         static_cast<HRESULT>(0x8007000E)},
        {"IRMASite query", &standin::World::siteQueryResult, E_NOINTERFACE, false, E_NOINTERFACE},
        {"IRMAValues query", &standin::World::valuesQueryResult, E_NOINTERFACE, false, E_NOINTERFACE},
        {"AddSite", &standin::World::addSiteResult, static_cast<HRESULT>(0x80004005), false,
         static_cast<HRESULT>(0x80004005)},
        {"Create", &standin::World::createResult, static_cast<HRESULT>(0x80040009), true, S_OK},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        standin::World failing;
        failing.*c.setting = c.code;
        {
            auto supplier = MakeSupplier(failing);
            EXPECT_EQ(Need(supplier.get(), failing, 3, {{"playto", "left"}}), c.answer);
            EXPECT_EQ(HeldSite(), nullptr);
            EXPECT_EQ(failing.LiveWindows(), 0);
            EXPECT_EQ(RecordedSites(supplier.get()), c.registered ? 1 : 0);
            // A refused AddSite is still logged, but registers nothing to remove.
            const int added = failing.addSiteResult == S_OK ? failing.Count("AddSite 1") : 0;
            EXPECT_EQ(added - failing.Count("RemoveSite 1"), c.registered ? 1 : 0);
            if (c.registered) {
                EXPECT_EQ(supplier->SitesNotNeeded(3), 0);
                testsupport::DispatchWaiting();
                EXPECT_EQ(failing.Count("RemoveSite 1"), 1);
            }
        }
        failing.ExpectBalanced();
    }
}

TEST_F(SiteSupplierTest, WithoutFactoryOrManagerOrPropertiesNothingIsCreated) {
    for (bool hideFactory : {true, false}) {
        standin::World partial;
        partial.hideClassFactory = hideFactory;
        partial.hideSiteManager = !hideFactory;
        {
            auto supplier = MakeSupplier(partial);
            EXPECT_EQ(Need(supplier.get(), partial, 1, {{"playto", "x"}}), rma::kFail);
            EXPECT_EQ(supplier->SitesNeeded(1, nullptr), rma::kInvalidArg);
            EXPECT_TRUE(partial.calls.empty());
            EXPECT_EQ(supplier->SitesNotNeeded(1), rma::kInvalidArg);
            testsupport::DispatchWaiting();
        }
        partial.ExpectBalanced();
    }
    engine::DestroyVideoSites(*playing);
    EXPECT_EQ(engine::NewSiteSupplier(nullptr)->Release(), 0u) << "a supplier without a player";
}

// Stop takes down every window the presentation was given, not only the
// newest: before, an older "Video Window" stayed up until the next URL.
TEST_F(SiteSupplierTest, StopDestroysEveryVideoWindowThePresentationWasGiven) {
    auto supplier = MakeSupplier(world);
    ASSERT_EQ(Need(supplier.get(), world, 1, {{"playto", "a"}}), 0);
    ASSERT_EQ(Need(supplier.get(), world, 2, {{"playto", "b"}}), 0);
    standin::Site& older = *world.sites[0];
    standin::Site& newer = *world.sites[1];
    EXPECT_EQ(HeldSite(), As<rma::IRMASiteWindowed>(newer.windowed));
    EXPECT_EQ(playing->VideoWindow(), newer.window) << "the newest carries the status text";
    EXPECT_EQ(older.refs, 2) << "Stop's reference and the table's";
    EXPECT_TRUE(IsWindow(older.window));

    engine::DestroyVideoSites(*playing);
    EXPECT_FALSE(IsWindow(older.window));
    EXPECT_FALSE(IsWindow(newer.window));
    EXPECT_EQ(supplier->SitesNotNeeded(1), 0);
    testsupport::DispatchWaiting();
    EXPECT_EQ(supplier->SitesNotNeeded(2), 0);
    testsupport::DispatchWaiting();
    EXPECT_EQ(older.destroys, 1);
    EXPECT_EQ(newer.destroys, 1);
}

TEST_F(SiteSupplierTest, RepeatedRequestIdRetiresTheSiteItReplaces) {
    auto supplier = MakeSupplier(world);
    ASSERT_EQ(Need(supplier.get(), world, 5, {{"playto", "a"}}), 0);
    ASSERT_EQ(Need(supplier.get(), world, 5, {{"playto", "b"}}), 0);
    EXPECT_EQ(RecordedSites(supplier.get()), 1);
    EXPECT_EQ(world.sites[0]->refs, 1) << "Stop's only";
    EXPECT_EQ(world.Count("RemoveSite 1"), 1);
    EXPECT_FALSE(IsWindow(world.sites[0]->window));
    EXPECT_EQ(supplier->SitesNotNeeded(5), 0);
    testsupport::DispatchWaiting();
    EXPECT_EQ(world.Count("RemoveSite 2"), 1);
    engine::DestroyVideoSites(*playing);
    EXPECT_EQ(world.sites[0]->refs, 0);
    EXPECT_EQ(world.sites[0]->destroys, 1);
}

TEST_F(SiteSupplierTest, DestructionRetiresTheSitesStillRecorded) {
    auto supplier = MakeSupplier(world);
    ASSERT_EQ(Need(supplier.get(), world, 1, {}), 0);
    ASSERT_EQ(Need(supplier.get(), world, 2, {}), 0);
    engine::DestroyVideoSites(*playing);
    supplier.reset();
    EXPECT_EQ(world.Count("RemoveSite 1"), 1);
    EXPECT_EQ(world.Count("RemoveSite 2"), 1);
}

TEST_F(SiteSupplierTest, StatusCaptionMovesIntoTheVisibleVideoWindowAndBack) {
    auto supplier = MakeSupplier(world);
    ASSERT_EQ(Need(supplier.get(), world, 1, {}), 0);
    HWND video = world.sites[0]->window;

    ui::ShowStatusText(playing.ref, "Buffering 40%");

    testsupport::DispatchWaiting();
    EXPECT_EQ(Caption(video), "Buffering 40%");
    HWND status = playing->caption;
    EXPECT_TRUE(status == nullptr || !IsWindowVisible(status)) << "no status window beside a video window";
    ui::HideStatusWindow(playing.ref);
    testsupport::DispatchWaiting();
    EXPECT_EQ(Caption(video), "Video Window");
    EXPECT_EQ(playing->caption, nullptr);

    // Once the video window is gone the caption goes back to the status window.
    engine::DestroyVideoSites(*playing);
    ui::ShowStatusText(playing.ref, "Contacting example.com");
    testsupport::DispatchWaiting();
    status = playing->caption;
    ASSERT_NE(status, nullptr);
    EXPECT_TRUE(IsWindowVisible(status));
    EXPECT_EQ(Caption(status), "Contacting example.com");
    ui::HideStatusWindow(playing.ref);
    testsupport::DispatchWaiting();
    EXPECT_FALSE(IsWindowVisible(status));
    DestroyWindow(status);
    playing->caption = nullptr;
    EXPECT_EQ(supplier->SitesNotNeeded(1), 0);
    testsupport::DispatchWaiting();
}

}  // namespace
