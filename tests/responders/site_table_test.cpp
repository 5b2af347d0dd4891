// The supplier's request id -> site table.
#include <gtest/gtest.h>

#include <cstdint>

#include "engine/site_table.h"

namespace {

rma::IRMASite* SiteNo(std::uintptr_t n) { return reinterpret_cast<rma::IRMASite*>(n * 16); }

void ExpectEntries(const engine::SiteTable& table, std::initializer_list<std::uint32_t> ids) {
    ASSERT_EQ(table.Count(), static_cast<std::int32_t>(ids.size()));
    std::int32_t i = 0;
    for (std::uint32_t id : ids) {
        EXPECT_EQ(table.KeyAt(i), id) << "position " << i;
        EXPECT_EQ(table.SiteAt(i), SiteNo(id)) << "site paired with id " << id;
        ++i;
    }
}

bool Insert(engine::SiteTable& table, std::uint32_t id, rma::IRMASite* site, rma::IRMASite** replaced) {
    return table.Insert(id, site, replaced);
}

TEST(SiteTable, GrowsByTenKeepingOrder) {
    engine::SiteTable table;
    rma::IRMASite* replaced = SiteNo(999);
    EXPECT_EQ(table.Find(1), nullptr);
    EXPECT_EQ(table.Capacity(), 0);
    for (std::uint32_t id = 101; id <= 110; ++id) {
        ASSERT_TRUE(Insert(table, id, SiteNo(id), &replaced));
        EXPECT_EQ(replaced, nullptr);
        EXPECT_EQ(table.Capacity(), 10);
    }
    ASSERT_TRUE(Insert(table, 111, SiteNo(111), &replaced));
    EXPECT_EQ(table.Capacity(), 20);
    ExpectEntries(table, {101, 102, 103, 104, 105, 106, 107, 108, 109, 110, 111});
    for (std::uint32_t id = 101; id <= 111; ++id) EXPECT_EQ(table.Find(id), SiteNo(id));
    EXPECT_EQ(table.Find(112), nullptr);
}

TEST(SiteTable, EraseKeepsTheOthersPairedAndInOrder) {
    engine::SiteTable table;
    rma::IRMASite* replaced = nullptr;
    for (std::uint32_t id : {7u, 8u, 9u}) Insert(table, id, SiteNo(id), &replaced);
    table.Erase(8);
    ExpectEntries(table, {7, 9});
    EXPECT_EQ(table.Find(8), nullptr);
    table.Erase(9);
    ExpectEntries(table, {7});
    table.Erase(42);
    ExpectEntries(table, {7});
    EXPECT_EQ(table.Capacity(), 10);
    // Freed positions are reused.
    Insert(table, 10, SiteNo(10), &replaced);
    ExpectEntries(table, {7, 10});
    EXPECT_EQ(table.PopLast(), SiteNo(10));
    EXPECT_EQ(table.PopLast(), SiteNo(7));
    EXPECT_EQ(table.PopLast(), nullptr);
}

TEST(SiteTable, RepeatedIdReplacesInPlaceAndHandsBackTheOldSite) {
    engine::SiteTable table;
    rma::IRMASite* replaced = nullptr;
    for (std::uint32_t id : {1u, 2u, 3u}) Insert(table, id, SiteNo(id), &replaced);
    ASSERT_TRUE(Insert(table, 2, SiteNo(50), &replaced));
    EXPECT_EQ(replaced, SiteNo(2));
    EXPECT_EQ(table.Count(), 3);
    EXPECT_EQ(table.KeyAt(1), 2u);
    EXPECT_EQ(table.Find(2), SiteNo(50));
}

}  // namespace
