// Owning reference to an engine object.  put() releases what it holds first,
// so an out-parameter call never leaks an earlier reference.
#pragma once

#include <utility>

#include "core/rma.h"

namespace core {

template <class T>
class ComPtr {
public:
    ComPtr() noexcept = default;
    ComPtr(std::nullptr_t) noexcept {}
    // Takes a new reference on p.
    explicit ComPtr(T* p) noexcept : p_(p) { if (p_) p_->AddRef(); }
    ComPtr(const ComPtr& other) noexcept : ComPtr(other.p_) {}
    ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    ~ComPtr() { reset(); }

    ComPtr& operator=(ComPtr other) noexcept { std::swap(p_, other.p_); return *this; }

    // Adopts a reference the caller already owns.
    static ComPtr Attach(T* p) noexcept { ComPtr c; c.p_ = p; return c; }
    T* detach() noexcept { return std::exchange(p_, nullptr); }

    void reset() noexcept {
        if (T* p = std::exchange(p_, nullptr)) p->Release();
    }
    T** put() noexcept { reset(); return &p_; }
    void** put_void() noexcept { return reinterpret_cast<void**>(put()); }

    T* get() const noexcept { return p_; }
    T* operator->() const noexcept { return p_; }
    explicit operator bool() const noexcept { return p_ != nullptr; }

    // QueryInterface into another smart pointer; returns the engine's result.
    template <class U>
    long query(const GUID& id, ComPtr<U>& out) const noexcept {
        if (!p_) { out.reset(); return rma::kPointer; }
        return p_->QueryInterface(id, out.put_void());
    }

private:
    T* p_ = nullptr;
};

// Releases the reference a plain field holds and empties the field.
template <class T>
void ReleaseAndClear(T*& field) noexcept {
    if (T* p = std::exchange(field, nullptr)) p->Release();
}

}  // namespace core
