#include <gtest/gtest.h>

#include "controls/LogRowStore.h"

namespace {

using Rows = std::vector<std::string>;

// The rows' texts, after checking the live byte count against them.
Rows Contents(const CLogRowStore& store)
{
    Rows rows;
    size_t live = 0;
    for (size_t i = 0; i < store.Count(); live += rows.back().size() + 1, ++i)
        rows.emplace_back(store.Get(i));
    EXPECT_EQ(store.LiveBytes(), live);
    return rows;
}

// Across many blocks, with inserts anywhere and a row longer than a block, every row
// keeps its text in its place, earlier texts never move, and a row that cannot be
// stored is refused without a change.
TEST(RowStore, KeepsOrderAndTextAcrossBlocks)
{
    CLogRowStore store;
    Rows model;
    for (int i = 0; i < 20000; ++i) {
        model.push_back("10:00:00.000\t|-->|\t0x" + std::to_string(i) + std::string(size_t(i % 40), 'A'));
        ASSERT_TRUE(store.Insert(store.Count(), model.back().data(), model.back().size()));
    }
    const char* first = store.Get(0);
    for (const auto& [at, text] : {std::pair<size_t, std::string>(777, "mid\tdle"),
                                   {0, ""},
                                   {5, std::string(3 * CLogRowStore::kBlockSize, 'x')},
                                   {3, "abc"}}) {
        ASSERT_TRUE(store.Insert(at, (text + "def").data(), text.size())) << "only the given length is taken";
        model.insert(model.begin() + long(at), text);
    }
    EXPECT_FALSE(store.Insert(store.Count() + 1, "x", 1) || store.Insert(0, "x", SIZE_MAX - 1) ||
                 store.Insert(0, "x", SIZE_MAX / 4));
    EXPECT_TRUE(Contents(store) == model && store.Get(1) == first);
}

// Erasing most rows compacts the dead text, keeping each live row's text and flags;
// Clear gives everything back and the store is usable again.
TEST(RowStore, EraseCompactsAndClearResets)
{
    CLogRowStore store;
    Rows kept;
    for (size_t i = 0; i < 30000; ++i) {
        const std::string row = "row " + std::to_string(i) + std::string(40, '.');
        ASSERT_TRUE(store.Insert(i, row.data(), row.size()) && store.GetFlags(i) == 0);
        store.SetFlags(i, static_cast<unsigned char>(i % 10 ? 1 : 2 + kept.size() % 200));
        i % 10 ? void() : kept.push_back(row);
    }
    const char* first = store.Get(0);
    bool moved = false;   // compaction runs midway and moves the texts
    for (size_t index = 0, i = 0; i < 30000; ++i, moved = moved || store.Get(0) != first)
        i % 10 ? store.Erase(index) : void(++index);
    EXPECT_TRUE((store.Erase(store.Count()), Contents(store) == kept) && moved)
        << "compacted; out of range erases nothing";
    for (size_t i = 0; i < kept.size(); ++i)
        ASSERT_EQ(store.GetFlags(i), 2 + i % 200) << "row " << i;
    EXPECT_TRUE((store.ClearFlags(), store.GetFlags(kept.size() - 1) == 0) &&
                (store.Clear(), Contents(store).empty()) && store.Insert(0, "fresh", 5) &&
                Contents(store) == Rows({"fresh"}));
}

}   // namespace
