// Engine-side stand-ins for the audio and advise-sink tests: a player, its
// scheduler, a device response and a PCM buffer.  Each starts with one
// reference held by the test, counts every AddRef and Release, and fails the
// test on any call it was not built to expect.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "core/rma.h"

namespace standins {

template <class Interface>
class Counted : public Interface {
public:
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
    ULONG STDMETHODCALLTYPE Release() override {
        LONG left = InterlockedDecrement(&refs_);
        if (left < 0) ADD_FAILURE() << "released more often than referenced";
        return static_cast<ULONG>(left);
    }
    LONG refs() const { return refs_; }

protected:
    LONG refs_ = 1;  // the test's own reference
};

#define STANDIN_UNEXPECTED(name) \
    do { ADD_FAILURE() << "unexpected call " << name; } while (0)

class Scheduler : public Counted<rma::IRMAScheduler> {
public:
    struct Entry {
        rma::IRMACallback* callback;
        rma::UINT32 delayMs;
    };

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
        STANDIN_UNEXPECTED("Scheduler.QueryInterface");
        *out = nullptr;
        return rma::kNoInterface;
    }
    rma::ULONG32 STDMETHODCALLTYPE RelativeEnter(rma::IRMACallback* callback, rma::UINT32 delayMs) override {
        callback->AddRef();
        rma::ULONG32 handle = nextHandle_++;
        pending_[handle] = Entry{callback, delayMs};
        delays.push_back(delayMs);
        return handle;
    }
    rma::ULONG32 STDMETHODCALLTYPE AbsoluteEnter(rma::IRMACallback*, rma::Timeval) override {
        STANDIN_UNEXPECTED("Scheduler.AbsoluteEnter");
        return 0;
    }
    HRESULT STDMETHODCALLTYPE Remove(rma::ULONG32 handle) override {
        removed.push_back(handle);
        auto found = pending_.find(handle);
        if (found == pending_.end()) {
            ADD_FAILURE() << "Remove of handle " << handle << " that is not pending";
            return rma::kFail;
        }
        found->second.callback->Release();
        pending_.erase(found);
        return rma::kOk;
    }
    rma::Timeval* STDMETHODCALLTYPE GetCurrentSchedulerTime(rma::Timeval* result) override {
        STANDIN_UNEXPECTED("Scheduler.GetCurrentSchedulerTime");
        return result;
    }

    size_t PendingCount() const { return pending_.size(); }
    // Fires the one pending callback as the engine's scheduler would.
    void FireOne() {
        ASSERT_EQ(pending_.size(), 1u);
        Entry entry = pending_.begin()->second;
        pending_.erase(pending_.begin());
        entry.callback->Func();
        entry.callback->Release();
    }
    void DropAll() {
        for (auto& [handle, entry] : pending_) entry.callback->Release();
        pending_.clear();
    }

    std::vector<rma::UINT32> delays;
    std::vector<rma::ULONG32> removed;

private:
    std::map<rma::ULONG32, Entry> pending_;
    rma::ULONG32 nextHandle_ = 7;
};

class Player : public Counted<rma::IRMAPlayer> {
public:
    explicit Player(Scheduler* scheduler = nullptr) : scheduler_(scheduler) {}

    bool offerScheduler = true;
    bool offerPlayer = true;
    std::vector<rma::IRMAClientAdviseSink*> sinks;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** out) override {
        *out = nullptr;
        if (rma::SameId(id, rma::IID_IRMAScheduler) && scheduler_ && offerScheduler) {
            scheduler_->AddRef();
            *out = scheduler_;
            return rma::kOk;
        }
        if ((rma::SameId(id, rma::IID_IRMAPlayer) && offerPlayer) || rma::SameId(id, rma::IID_Unknown)) {
            AddRef();
            *out = static_cast<rma::IRMAPlayer*>(this);
            return rma::kOk;
        }
        return rma::kNoInterface;  // a player may lack any other service
    }
    HRESULT STDMETHODCALLTYPE AddAdviseSink(rma::IRMAClientAdviseSink* sink) override {
        sink->AddRef();
        sinks.push_back(sink);
        return rma::kOk;
    }
    // What the engine does when it closes the player.
    void DropSinks() {
        for (auto* sink : sinks) sink->Release();
        sinks.clear();
    }

    HRESULT STDMETHODCALLTYPE GetClientEngine(rma::IRMAClientEngine**) override { return Unexpected("GetClientEngine"); }
    rma::BOOL32 STDMETHODCALLTYPE IsDone() override { return Unexpected("IsDone"); }
    rma::BOOL32 STDMETHODCALLTYPE IsLive() override { return Unexpected("IsLive"); }
    rma::ULONG32 STDMETHODCALLTYPE GetCurrentPlayTime() override { return Unexpected("GetCurrentPlayTime"); }
    HRESULT STDMETHODCALLTYPE OpenURL(const char*) override { return Unexpected("OpenURL"); }
    HRESULT STDMETHODCALLTYPE Begin() override { return Unexpected("Begin"); }
    HRESULT STDMETHODCALLTYPE Stop() override { return Unexpected("Stop"); }
    HRESULT STDMETHODCALLTYPE Pause() override { return Unexpected("Pause"); }
    HRESULT STDMETHODCALLTYPE Seek(rma::ULONG32) override { return Unexpected("Seek"); }
    rma::UINT16 STDMETHODCALLTYPE GetSourceCount() override { return 0 * Unexpected("GetSourceCount"); }
    HRESULT STDMETHODCALLTYPE GetSource(rma::UINT16, IUnknown**) override { return Unexpected("GetSource"); }
    HRESULT STDMETHODCALLTYPE SetClientContext(IUnknown*) override { return Unexpected("SetClientContext"); }
    HRESULT STDMETHODCALLTYPE GetClientContext(IUnknown**) override { return Unexpected("GetClientContext"); }
    HRESULT STDMETHODCALLTYPE RemoveAdviseSink(rma::IRMAClientAdviseSink*) override {
        return Unexpected("RemoveAdviseSink");
    }

private:
    static HRESULT Unexpected(const char* name) {
        ADD_FAILURE() << "unexpected call Player." << name;
        return rma::kFail;
    }
    Scheduler* scheduler_;
};

class Response : public Counted<rma::IRMAAudioDeviceResponse> {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
        STANDIN_UNEXPECTED("Response.QueryInterface");
        *out = nullptr;
        return rma::kNoInterface;
    }
    HRESULT STDMETHODCALLTYPE OnTimeSync(rma::ULONG32 timeMs) override {
        times.push_back(timeMs);
        return rma::kOk;
    }
    std::vector<rma::ULONG32> times;
};

class Buffer : public Counted<rma::IRMABuffer> {
public:
    explicit Buffer(std::string bytes) : bytes_(std::move(bytes)) {}
    // Memory of the test's own, such as the end of a page before a guard.
    Buffer(UCHAR* memory, rma::ULONG32 size) : memory_(memory), size_(size) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
        STANDIN_UNEXPECTED("Buffer.QueryInterface");
        *out = nullptr;
        return rma::kNoInterface;
    }
    HRESULT STDMETHODCALLTYPE Get(UCHAR**, rma::ULONG32*) override { return Unexpected("Get"); }
    HRESULT STDMETHODCALLTYPE Set(const UCHAR*, rma::ULONG32) override { return Unexpected("Set"); }
    HRESULT STDMETHODCALLTYPE SetSize(rma::ULONG32) override { return Unexpected("SetSize"); }
    rma::ULONG32 STDMETHODCALLTYPE GetSize() override {
        return memory_ ? size_ : static_cast<rma::ULONG32>(bytes_.size());
    }
    UCHAR* STDMETHODCALLTYPE GetBuffer() override {
        return memory_ ? memory_ : reinterpret_cast<UCHAR*>(&bytes_[0]);
    }

    const std::string& bytes() const { return bytes_; }

private:
    static HRESULT Unexpected(const char* name) {
        ADD_FAILURE() << "unexpected call Buffer." << name;
        return rma::kFail;
    }
    std::string bytes_;
    UCHAR* memory_ = nullptr;
    rma::ULONG32 size_ = 0;
};

}  // namespace standins
