#include <gtest/gtest.h>

#include <cstring>

#include "controls/LogFilter.h"
#include "controls/LogRowStore.h"
#include "controls/RowSelection.h"

namespace {

// Rows as the window stores log lines: the four bars turned into tabs.
const char* const kRows[] = {
    "10:00:00:001 \t-->\t 0x1234 \tREF_RSP            \t0A 0B ",
    "10:00:00:002 \t<--\t 0xFFFF \tXY_RSSI_REQ        \tFF FF CA 11 ",
    "10:00:00:003 \t-->\t 0x0201 \tBLIND_RSP          \t00 3B 0a ",
    "10:00:00:004 \t-->\t 0x0000 \tPING_RESPONSE      \t",
    "no tabs at all",
};

// Which of the rows above each query matches, as a string of 0 and 1.
TEST(LogFilter, QueryWordsMatchTheirCells)
{
    const struct {
        const char* query;
        const char* matches;
        bool valid;
    } cases[] = {
        {"node:1234", "10000", true},
        {"NODE:0x1234", "10000", true},
        {"0x201", "00100", true},
        {"addr:0", "00010", true},
        {"node:12345", "00000", false},   // five digits: no address
        {"node:zz", "00000", false},
        {"msg:rsp", "10100", true},
        {"msg:ping_res", "00010", true},
        {"dir:in", "10110", true},
        {"<--", "01000", true},
        {"dir:up", "00000", false},
        {"0a", "10100", true},   // payload text, either case
        {"\"0A 0B\"", "10000", true},
        {"\"ca 11", "01000", true},   // an unclosed phrase runs to the end
        {"REF_RSP", "00000", true},   // bare words look in the payload only
        {"dir:in 0a msg:blind", "00100", true},
        {"   ", "11111", true},
    };
    for (const auto& c : cases) {
        CLogQuery query;
        EXPECT_EQ(query.Parse(c.query), c.valid) << c.query;
        std::string got;
        for (const char* row : kRows)
            got += query.Matches(row) ? '1' : '0';
        EXPECT_EQ(got, c.matches) << c.query;
    }
}

// Slices stop at the wanted count and go on from there; appended rows are found by the
// next slice, and a new query starts over.
TEST(LogFilter, ScansInSlicesAndTakesAppendedRows)
{
    CLogRowStore store;
    for (int i = 0; i < 10000; ++i) {
        const char* row = kRows[i % 4];
        ASSERT_TRUE(store.Insert(store.Count(), row, std::strlen(row)));
    }
    CLogFilter filter;
    EXPECT_FALSE(filter.IsActive());
    filter.SetQuery("dir:in");
    EXPECT_FALSE(filter.Scan(store, 30, std::chrono::seconds(10)));
    EXPECT_EQ(filter.Count(), 30u);
    EXPECT_EQ(filter.StoreRow(29), 39u);
    EXPECT_TRUE(filter.Scan(store, SIZE_MAX, std::chrono::seconds(10)));
    EXPECT_EQ(filter.Count(), 7500u);
    ASSERT_TRUE(store.Insert(store.Count(), kRows[2], std::strlen(kRows[2])));
    EXPECT_FALSE(filter.IsComplete(store));
    EXPECT_TRUE(filter.Scan(store, SIZE_MAX, std::chrono::seconds(10)));
    EXPECT_EQ(filter.StoreRow(filter.Count() - 1), 10000u);
    EXPECT_EQ(filter.FirstAtOrAfter(1), 1u);
    EXPECT_EQ(filter.StoreRow(filter.FirstAtOrAfter(1)), 2u);
    filter.SetQuery("<--");
    EXPECT_EQ(filter.Count() + filter.Scanned(), 0u);
}

using Ranges = std::vector<CRowSelection::Range>;

// Click, Shift and Ctrl as in any list, then rows inserted before and inside a range.
TEST(RowSelection, KeepsAnchorAndRanges)
{
    CRowSelection sel;
    const struct {
        char op;   // o: only, e: extend, t: toggle, a: all, i: inserted
        int row;
        Ranges ranges;
        int anchor;
    } steps[] = {
        {'o', 5, {{5, 5}}, 5},           {'e', 2, {{2, 5}}, 5},
        {'e', 8, {{5, 8}}, 5},           {'t', 10, {{5, 8}, {10, 10}}, 10},
        {'t', 9, {{5, 10}}, 9},          {'t', 7, {{5, 6}, {8, 10}}, 7},
        {'t', 5, {{6, 6}, {8, 10}}, 5},  {'t', 6, {{8, 10}}, 6},
        {'i', 9, {{8, 8}, {10, 11}}, 6}, {'i', 0, {{9, 9}, {11, 12}}, 7},
        {'a', 4, {{0, 3}}, 0},           {'o', -1, {}, -1},
        {'e', 3, {{3, 3}}, 3},
    };
    for (const auto& s : steps) {
        switch (s.op) {
        case 'o':
            sel.SelectOnly(s.row);
            break;
        case 'e':
            sel.ExtendTo(s.row);
            break;
        case 't':
            sel.Toggle(s.row);
            break;
        case 'a':
            sel.SelectAll(s.row);
            break;
        default:
            sel.Inserted(s.row);
            break;
        }
        EXPECT_TRUE(sel.Ranges() == s.ranges) << s.op << s.row;
        EXPECT_EQ(sel.Anchor(), s.anchor) << s.op << s.row;
        size_t count = 0;
        for (int row = -1; row < 20; ++row)
            count += sel.Contains(row);
        EXPECT_EQ(sel.Count(), count) << s.op << s.row;
    }
}

}   // namespace
