#include <gtest/gtest.h>

#include "controls/LogRowStore.h"

#include <string>
#include <vector>

namespace
{
void ExpectSame(const CLogRowStore& store, const std::vector<std::string>& model)
{
    ASSERT_EQ(store.Count(), model.size());
    size_t live = 0;
    for (size_t i = 0; i < model.size(); ++i)
    {
        ASSERT_STREQ(store.Get(i), model[i].c_str()) << "row " << i;
        live += model[i].size() + 1;
    }
    EXPECT_EQ(store.LiveBytes(), live);
}
} // namespace

// Across many blocks, with inserts anywhere and rows longer than a block, every row
// keeps its exact text in its place, and earlier texts never move.
TEST(LogRowStore, KeepsOrderAndTextAcrossBlocks)
{
    CLogRowStore store;
    std::vector<std::string> model;
    for (int i = 0; i < 20000; ++i)
        model.push_back("10:00:00.000\t|-->|\t0x" + std::to_string(i) + "\t" +
                        std::string(static_cast<size_t>(i % 40), 'A'));
    for (const std::string& row : model)
        ASSERT_TRUE(store.Insert(store.Count(), row.data(), row.size()));
    const char* first = store.Get(0);

    const std::string huge(CLogRowStore::kBlockSize * 3 + 17, 'x');
    const std::pair<size_t, std::string> inserts[] = {{777, "mid\tdle"}, {0, ""}, {5, huge}};
    for (const auto& [at, text] : inserts)
    {
        ASSERT_TRUE(store.Insert(at, text.data(), text.size()));
        model.insert(model.begin() + static_cast<long>(at), text);
    }
    ASSERT_TRUE(store.Insert(3, "abcdef", 3)) << "only the given length is taken";
    model.insert(model.begin() + 3, "abc");
    EXPECT_FALSE(store.Insert(store.Count() + 1, "x", 1)) << "past the end is refused";
    ExpectSame(store, model);
    EXPECT_EQ(store.Get(1), first) << "earlier texts never move";
}

// Erasing most rows one by one compacts the dead text without losing a live row; Clear
// gives everything back and the store is usable again.
TEST(LogRowStore, EraseCompactsAndClearResets)
{
    CLogRowStore store;
    std::vector<std::string> kept;
    for (int i = 0; i < 30000; ++i)
    {
        const std::string row = "row " + std::to_string(i) + std::string(40, '.');
        ASSERT_TRUE(store.Insert(store.Count(), row.data(), row.size()));
        if (i % 10 == 0)
            kept.push_back(row);
    }
    // Erase front to back, so that compaction runs several times midway.
    for (size_t index = 0, i = 0; i < 30000; ++i)
        if (i % 10 == 0)
            ++index;
        else
            store.Erase(index);
    store.Erase(store.Count()); // out of range: nothing
    ExpectSame(store, kept);

    store.Clear();
    ExpectSame(store, {});
    ASSERT_TRUE(store.Insert(0, "fresh", 5));
    ExpectSame(store, {"fresh"});
}
