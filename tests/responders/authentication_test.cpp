// The authentication manager, and the identity every responder answers with.
#include <gtest/gtest.h>

#include "core/rma.h"
#include "core/com_ptr.h"
#include "audio/audio_device.h"
#include "engine/authentication_manager.h"
#include "engine/client_advise_sink.h"
#include "engine/error_sink.h"
#include "engine/site_supplier.h"
#include "stand_in_engine.h"

namespace {

TEST(AuthenticationManager, DeclinesEachRequestAtOnceWithTheResponsesOwnResult) {
    standin::World world;
    core::ComPtr<rma::IRMAAuthenticationManager> manager(engine::NewAuthenticationManager());
    ASSERT_TRUE(manager);
    standin::Response* response = world.NewResponse();
    auto* face = standin::As<rma::IRMAAuthenticationManagerResponse>(response->face);

    response->answer = static_cast<HRESULT>(0x80040009);
    EXPECT_EQ(manager->HandleAuthenticationRequest(face), static_cast<HRESULT>(0x80040009));
    ASSERT_EQ(response->calls.size(), 1u);

    response->answer = 0;
    EXPECT_EQ(manager->HandleAuthenticationRequest(face), 0);
    ASSERT_EQ(response->calls.size(), 2u);
    for (const auto& call : response->calls) {
        EXPECT_EQ(static_cast<std::uint32_t>(call.result), 0x800400CEu);
        EXPECT_EQ(call.user, nullptr);
        EXPECT_EQ(call.password, nullptr);
    }
    EXPECT_EQ(manager->HandleAuthenticationRequest(nullptr), static_cast<HRESULT>(0x80004003));
    world.ExpectBalanced();
}

// Each responder answers IUnknown and its own id with itself, anything else with null.
template <class Interface>
void ExpectIdentity(Interface* made, const GUID& own, const GUID& other) {
    ASSERT_NE(made, nullptr);
    EXPECT_EQ(made->AddRef(), 1u);
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(made->QueryInterface(rma::IID_Unknown, &out), 0);
    EXPECT_EQ(out, made);
    out = reinterpret_cast<void*>(1);
    EXPECT_EQ(made->QueryInterface(own, &out), 0);
    EXPECT_EQ(out, made);
    out = reinterpret_cast<void*>(1);
    EXPECT_EQ(made->QueryInterface(other, &out), rma::kNoInterface);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(made->Release(), 2u);
    EXPECT_EQ(made->Release(), 1u);
    EXPECT_EQ(made->Release(), 0u);
}

TEST(Responders, AnswerOnlyTheirOwnIds) {
    ExpectIdentity(engine::NewErrorSink(), rma::IID_IRMAErrorSink, rma::IID_IRMAErrorSinkControl);
    ExpectIdentity(engine::NewAuthenticationManager(), rma::IID_IRMAAuthenticationManager,
                   rma::IID_IRMAAuthenticationManagerResponse);
    standin::World world;
    world.hideSiteManager = world.hideClassFactory = true;
    ExpectIdentity(engine::NewSiteSupplier(standin::As<rma::IRMAPlayer>(world.player.face)),
                   rma::IID_IRMASiteSupplier, rma::IID_IRMASiteManager);
    world.ExpectBalanced();
}

}  // namespace
