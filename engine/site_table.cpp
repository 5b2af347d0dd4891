#include "engine/site_table.h"

#include <algorithm>
#include <new>

namespace engine {

SiteTable::~SiteTable() {
    delete[] keys_;
    delete[] values_;
}

std::int32_t SiteTable::IndexOf(std::uint32_t requestId) const noexcept {
    for (std::int32_t i = 0; i < count_; ++i) {
        if (keys_[i] == requestId) return i;
    }
    return -1;
}

IRMASite* SiteTable::Find(std::uint32_t requestId) const noexcept {
    std::int32_t index = IndexOf(requestId);
    return index < 0 ? nullptr : values_[index];
}

bool SiteTable::Insert(std::uint32_t requestId, IRMASite* site, IRMASite** replaced) noexcept {
    *replaced = nullptr;
    std::int32_t index = IndexOf(requestId);
    if (index >= 0) {
        *replaced = values_[index];
        values_[index] = site;
        return true;
    }
    if (count_ == capacity_) {
        std::int32_t capacity = capacity_ + growStep_;
        auto* keys = new (std::nothrow) std::uint32_t[capacity];
        auto* values = new (std::nothrow) IRMASite*[capacity];
        if (!keys || !values) {
            delete[] keys;
            delete[] values;
            return false;
        }
        std::copy(keys_, keys_ + count_, keys);
        std::copy(values_, values_ + count_, values);
        delete[] keys_;
        delete[] values_;
        keys_ = keys;
        values_ = values;
        capacity_ = capacity;
    }
    keys_[count_] = requestId;
    values_[count_] = site;
    ++count_;
    return true;
}

void SiteTable::Erase(std::uint32_t requestId) noexcept {
    std::int32_t index = IndexOf(requestId);
    if (index < 0) return;
    std::copy(keys_ + index + 1, keys_ + count_, keys_ + index);
    std::copy(values_ + index + 1, values_ + count_, values_ + index);
    --count_;
}

IRMASite* SiteTable::PopLast() noexcept {
    if (count_ == 0) return nullptr;
    return values_[--count_];
}

}  // namespace engine
