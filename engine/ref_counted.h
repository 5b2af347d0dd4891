// The one reference-count base behind the plug-in's single-interface engine
// objects (client context, advise sink, error sink, authentication manager,
// site supplier).  The count is the first field after the interface table,
// starts at 0, and moves only by interlocked increment and decrement, since
// the engine takes and drops references on threads of its own.
#pragma once

#include <windows.h>

#include "engine/rma.h"

namespace rma {

template <class Interface, const GUID& InterfaceId>
class RefCounted : public Interface {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** out) override {
        if (!out) return static_cast<HRESULT>(0x80004003);
        if (SameId(id, IID_Unknown) || SameId(id, InterfaceId)) {
            AddRef();
            *out = static_cast<Interface*>(this);
            return 0;
        }
        *out = nullptr;
        return kNoInterface;
    }

    ULONG STDMETHODCALLTYPE AddRef() override {
        return static_cast<ULONG>(InterlockedIncrement(&refCount_));
    }

    ULONG STDMETHODCALLTYPE Release() override {
        LONG remaining = InterlockedDecrement(&refCount_);
        if (remaining > 0) return static_cast<ULONG>(remaining);
        delete this;
        return 0;
    }

    LONG RefCountForTesting() const { return refCount_; }

protected:
    RefCounted() = default;
    virtual ~RefCounted() = default;
    RefCounted(const RefCounted&) = delete;
    RefCounted& operator=(const RefCounted&) = delete;

private:
    LONG refCount_ = 0;
};

}  // namespace rma
