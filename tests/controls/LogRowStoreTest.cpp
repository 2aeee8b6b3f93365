#include <gtest/gtest.h>

#include "controls/LogRowStore.h"

namespace {

using Rows = std::vector<std::string>;

// The rows' texts, after checking the live byte count against them.
Rows Contents(const CLogRowStore& store)
{
    Rows rows;
    size_t live = 0;
    for (size_t i = 0; i < store.Count(); ++i) {
        rows.emplace_back(store.Get(i));
        live += rows.back().size() + 1;
    }
    EXPECT_EQ(store.LiveBytes(), live);
    return rows;
}

// Across many blocks, with inserts anywhere and a row longer than a block, every row
// keeps its text in its place and earlier texts never move; a row that cannot be stored
// is refused without a change. Erasing most rows compacts the dead text midway, keeping
// each live row's text and flags; after Clear the store starts afresh.
TEST(RowStore, KeepsTextsAndFlagsThroughInsertsAndCompaction)
{
    CLogRowStore store;
    Rows model;
    for (int i = 0; i < 30000; ++i) {
        model.push_back("10:00:00.000\t|-->|\t0x" + std::to_string(i) + std::string(size_t(i % 40), 'A'));
        ASSERT_TRUE(store.Insert(store.Count(), model.back().data(), model.back().size()));
    }
    const char* first = store.Get(0);
    const std::pair<size_t, std::string> inserts[] = {
        {777, "mid\tdle"}, {0, ""}, {5, std::string(3 * CLogRowStore::kBlockSize, 'x')}};
    for (const auto& [at, text] : inserts) {
        ASSERT_TRUE(store.Insert(at, (text + "def").data(), text.size())) << "only the length given is taken";
        model.insert(model.begin() + long(at), text);
    }
    EXPECT_FALSE(store.Insert(0, "x", SIZE_MAX - 1));
    EXPECT_FALSE(store.Insert(0, "x", SIZE_MAX / 4));
    EXPECT_TRUE(Contents(store) == model);
    EXPECT_EQ(store.Get(1), first);

    Rows kept;
    for (size_t i = 0; i < model.size(); i += 10) {
        kept.push_back(model[i]);
        store.SetFlags(i, static_cast<unsigned char>(1 + kept.size() % 200));
    }
    const char* zero = store.Get(0);
    bool moved = false;
    for (size_t i = model.size(); i-- > 0;) {
        if (i % 10)
            store.Erase(i);
        moved = moved || store.Get(0) != zero;
    }
    EXPECT_TRUE(moved) << "compacted";
    EXPECT_TRUE(Contents(store) == kept);
    for (size_t i = 0; i < kept.size(); ++i)
        ASSERT_EQ(store.GetFlags(i), 1 + (i + 1) % 200) << "row " << i;
    store.Clear();
    ASSERT_TRUE(store.Insert(0, "fresh", 5));
    EXPECT_EQ(Contents(store), Rows({"fresh"}));
}

}   // namespace
