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

// Rows enough for many blocks, most of them on disk, with inserts and erasures
// anywhere (into blocks on disk too) and a row longer than a block: every row keeps its
// text and its flags in its place, read in any order; a row that cannot be stored is
// refused without a change; after Clear the store starts afresh, its file gone.
TEST(RowStore, KeepsTextsAndFlagsInPlaceOnDiskAndInMemory)
{
    CLogRowStore store;
    Rows model;
    std::vector<unsigned char> flags;
    for (int i = 0; i < 30000; ++i) {
        model.push_back("10:00:00.000\t|-->|\t0x" + std::to_string(i) + std::string(size_t(i % 40), 'A'));
        ASSERT_TRUE(store.Insert(store.Count(), model.back().data(), model.back().size()));
    }
    EXPECT_GT(store.FileBytes(), store.LiveBytes() / 2) << "old rows went to the disk";
    for (size_t i = 0; i < model.size(); i += 7)
        store.SetFlags(i, static_cast<unsigned char>(1 + i % 200));
    for (size_t i = 0; i < model.size(); ++i)
        flags.push_back(i % 7 ? 0 : static_cast<unsigned char>(1 + i % 200));
    const std::pair<size_t, std::string> inserts[] = {{777, "mid\tdle"},
                                                      {0, ""},
                                                      {5, std::string(3 * CLogRowStore::kBlockSize, 'x')},
                                                      {29000, "near the end"},
                                                      {4096, "at a flag chunk's edge"}};
    for (const auto& [at, text] : inserts) {
        ASSERT_TRUE(store.Insert(at, (text + "def").data(), text.size())) << "only the length given is taken";
        model.insert(model.begin() + long(at), text);
        flags.insert(flags.begin() + long(at), 0);
    }
    ASSERT_TRUE(store.Insert(3, "cut\0here", 8));
    model.insert(model.begin() + 3, "cut");
    flags.insert(flags.begin() + 3, 0);
    EXPECT_FALSE(store.Insert(0, "x", SIZE_MAX - 1));
    EXPECT_FALSE(store.Insert(0, "x", SIZE_MAX / 4));
    EXPECT_FALSE(store.Insert(store.Count() + 1, "x", 1));
    for (size_t at : {10, 4095, 20000, 30002}) {
        store.Erase(at);
        model.erase(model.begin() + long(at));
        flags.erase(flags.begin() + long(at));
    }
    EXPECT_TRUE(Contents(store) == model);
    for (size_t i = model.size(); i-- > 0;) {   // backwards: blocks come back from the disk
        ASSERT_EQ(model[i], store.Get(i)) << "row " << i;
        ASSERT_EQ(flags[i], store.GetFlags(i)) << "row " << i;
    }
    store.ClearFlags();
    EXPECT_EQ(store.GetFlags(7), 0);
    store.Clear();
    EXPECT_EQ(store.FileBytes(), 0u);
    ASSERT_TRUE(store.Insert(0, "fresh", 5));
    EXPECT_EQ(Contents(store), Rows({"fresh"}));
}

}   // namespace
