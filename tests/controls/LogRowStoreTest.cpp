#include <gtest/gtest.h>

#include "controls/LogRowStore.h"

#include <cstring>
#include <string>
#include <vector>

namespace
{
std::string RowText(int i)
{
    return "12:00:00.000\t|-->|\t0x" + std::to_string(1000 + i) + "\tREF_REQ\t" +
           std::string(static_cast<size_t>(i % 40), 'A');
}

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

// Inserts anywhere, erases anywhere, and across many blocks every row keeps its exact
// text in its place; earlier rows' texts never move while later ones are added.
TEST(LogRowStore, KeepsOrderAndTextAcrossBlocks)
{
    CLogRowStore store;
    std::vector<std::string> model;
    for (int i = 0; i < 20000; ++i)
    {
        model.push_back(RowText(i));
        ASSERT_TRUE(store.Insert(store.Count(), model.back().data(), model.back().size()));
    }
    const char* first = store.Get(0);
    ExpectSame(store, model);

    // Middle, front and end inserts.
    const std::string mid = "inserted\tin\tthe\tmiddle";
    ASSERT_TRUE(store.Insert(777, mid.data(), mid.size()));
    model.insert(model.begin() + 777, mid);
    ASSERT_TRUE(store.Insert(0, "", 0));
    model.insert(model.begin(), "");
    EXPECT_FALSE(store.Insert(store.Count() + 1, "x", 1)) << "past the end is refused";
    ExpectSame(store, model);
    EXPECT_EQ(store.Get(1), first) << "a row's text never moves while rows are added";

    // Only `length` bytes are taken, even when more follow.
    ASSERT_TRUE(store.Insert(5, "abcdef", 3));
    model.insert(model.begin() + 5, "abc");
    ExpectSame(store, model);

    store.Erase(3);
    model.erase(model.begin() + 3);
    store.Erase(store.Count()); // out of range: nothing
    ExpectSame(store, model);
}

// A row longer than a block gets its own block, and the rows around it still share one.
TEST(LogRowStore, LongRowsAndEmptyRows)
{
    CLogRowStore store;
    const std::string huge(CLogRowStore::kBlockSize * 3 + 17, 'x');
    ASSERT_TRUE(store.Insert(0, "before", 6));
    ASSERT_TRUE(store.Insert(1, huge.data(), huge.size()));
    ASSERT_TRUE(store.Insert(2, "after", 5));
    ASSERT_TRUE(store.Insert(3, nullptr, 0));
    ExpectSame(store, {"before", huge, "after", ""});
    EXPECT_EQ(store.Get(2), store.Get(0) + 7) << "short rows keep filling the shared block";
}

// Erasing most rows one by one compacts the dead text away without losing a live row;
// Clear gives everything back and the store is usable again.
TEST(LogRowStore, EraseCompactsAndClearResets)
{
    CLogRowStore store;
    std::vector<std::string> model;
    for (int i = 0; i < 30000; ++i)
    {
        model.push_back(RowText(i));
        ASSERT_TRUE(store.Insert(store.Count(), model.back().data(), model.back().size()));
    }
    // Erase every row but each tenth, front to back, so compaction runs several times.
    size_t index = 0;
    for (int i = 0; i < 30000; ++i)
    {
        if (i % 10 == 0)
        {
            ++index;
            continue;
        }
        store.Erase(index);
    }
    std::vector<std::string> kept;
    for (int i = 0; i < 30000; i += 10)
        kept.push_back(model[static_cast<size_t>(i)]);
    ExpectSame(store, kept);

    while (store.Count())
        store.Erase(0);
    EXPECT_EQ(store.LiveBytes(), 0u);

    ASSERT_TRUE(store.Insert(0, "again", 5));
    store.Clear();
    EXPECT_EQ(store.Count(), 0u);
    EXPECT_EQ(store.LiveBytes(), 0u);
    ASSERT_TRUE(store.Insert(0, "fresh", 5));
    ExpectSame(store, {"fresh"});
}
