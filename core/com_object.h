// The one reference-count base behind every object of ours that the engine
// holds: it serves an object with any number of interfaces.  The count is
// the first field after the interface tables, starts at 0 and moves only by
// interlocked increment and decrement, since the engine takes and drops
// references on threads of its own.  QueryInterface answers IUnknown (the
// first interface's table) and the id of each listed interface.
#pragma once

#include <windows.h>

#include "core/rma.h"
#include "core/trace.h"

namespace core {

template <class First, class... Rest>
class ComObject : public First, public Rest... {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** out) noexcept override {
        if (!out) return rma::kPointer;
        if (rma::SameId(id, rma::IID_Unknown)) {
            *out = static_cast<First*>(this);
        } else if (!((rma::SameId(id, rma::InterfaceId<First>) && (*out = static_cast<First*>(this))) ||
                     ... ||
                     (rma::SameId(id, rma::InterfaceId<Rest>) && (*out = static_cast<Rest*>(this))))) {
            *out = nullptr;
            TraceUnknownInterface(id);
            return rma::kNoInterface;
        }
        AddRef();
        return rma::kOk;
    }

    ULONG STDMETHODCALLTYPE AddRef() noexcept override {
        return static_cast<ULONG>(InterlockedIncrement(&refCount_));
    }

    ULONG STDMETHODCALLTYPE Release() noexcept override {
        LONG remaining = InterlockedDecrement(&refCount_);
        if (remaining > 0) return static_cast<ULONG>(remaining);
        delete this;
        return 0;
    }

    LONG RefCountForTesting() const noexcept { return refCount_; }

protected:
    ComObject() = default;
    virtual ~ComObject() = default;
    ComObject(const ComObject&) = delete;
    ComObject& operator=(const ComObject&) = delete;

private:
    LONG refCount_ = 0;
};

}  // namespace core
