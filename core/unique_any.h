// An owned system handle, closed by the function named in its type, as
// WIL's unique_any does.  put() closes what it holds first, so an
// out-parameter call never leaks an earlier handle.
#pragma once

#include <windows.h>

#include <cstdint>
#include <utility>

namespace core {

// `Invalid` is the value meaning "nothing held" (0, or -1 for file handles).
template <class T, auto Close, std::intptr_t Invalid = 0>
class UniqueAny {
public:
    UniqueAny() noexcept = default;
    explicit UniqueAny(T value) noexcept : value_(value) {}
    UniqueAny(UniqueAny&& other) noexcept : value_(other.release()) {}
    UniqueAny& operator=(UniqueAny&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    UniqueAny(const UniqueAny&) = delete;
    UniqueAny& operator=(const UniqueAny&) = delete;
    ~UniqueAny() { reset(); }

    static T InvalidValue() noexcept { return reinterpret_cast<T>(Invalid); }

    void reset(T value = InvalidValue()) noexcept {
        T old = std::exchange(value_, value);
        if (old != InvalidValue()) Close(old);
    }
    T release() noexcept { return std::exchange(value_, InvalidValue()); }
    T* put() noexcept {
        reset();
        return &value_;
    }

    T get() const noexcept { return value_; }
    explicit operator bool() const noexcept { return value_ != InvalidValue(); }

private:
    T value_ = InvalidValue();
};

using UniqueKey = UniqueAny<HKEY, &RegCloseKey>;
// Threads, processes and events: null when none.
using UniqueHandle = UniqueAny<HANDLE, &CloseHandle>;
using UniqueFile = UniqueAny<HANDLE, &CloseHandle, -1>;
using UniqueModule = UniqueAny<HMODULE, &FreeLibrary>;

}  // namespace core
