// Request id -> site map of the site supplier: two parallel arrays that grow
// by growStep entries.  The table never takes or releases a reference on a
// site; its owner does.  Pure logic: no Win32 calls.
#pragma once

#include <cstdint>

namespace rma {
struct IRMASite;
}

namespace engine {

using rma::IRMASite;

class SiteTable {
public:
    SiteTable() noexcept = default;
    ~SiteTable();
    SiteTable(const SiteTable&) = delete;
    SiteTable& operator=(const SiteTable&) = delete;

    // The site recorded for requestId, or null.
    IRMASite* Find(std::uint32_t requestId) const noexcept;

    // Records site under requestId.  A repeated id keeps its place and
    // count; its former site is stored in *replaced (else null) so that the
    // owner can give it up.  False when the arrays could not grow; nothing
    // changes then.
    bool Insert(std::uint32_t requestId, IRMASite* site, IRMASite** replaced) noexcept;

    // Forgets requestId, keeping the order of the others; the arrays never shrink.
    void Erase(std::uint32_t requestId) noexcept;

    // Removes and returns the last entry's site, or null when empty.
    IRMASite* PopLast() noexcept;

    std::int32_t Count() const noexcept { return count_; }
    std::int32_t Capacity() const noexcept { return capacity_; }
    std::uint32_t KeyAt(std::int32_t index) const noexcept { return keys_[index]; }
    IRMASite* SiteAt(std::int32_t index) const noexcept { return values_[index]; }

private:
    std::int32_t IndexOf(std::uint32_t requestId) const noexcept;

    std::int32_t growStep_ = 10;
    std::uint32_t* keys_ = nullptr;
    IRMASite** values_ = nullptr;
    std::int32_t count_ = 0;
    std::int32_t capacity_ = 0;
};

}  // namespace engine
