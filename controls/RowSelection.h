#pragma once

#include <cstddef>
#include <vector>

// The selected rows of a list as an anchor and ascending, disjoint ranges, so that
// selecting all of a hundred million rows costs one range. Rows are view indexes.
class CRowSelection {
public:
    struct Range {
        int first, last;   // both included
        bool operator==(const Range& other) const { return first == other.first && last == other.last; }
    };

    void Clear();
    // Just this row; it becomes the anchor. A negative row clears.
    void SelectOnly(int row);
    // The rows from the anchor to this one, in place of the rest (Shift).
    void ExtendTo(int row);
    // Adds or removes one row; it becomes the anchor (Ctrl).
    void Toggle(int row);
    void SelectAll(int count);
    // A row was inserted at `row`: selected rows at or after it move down one.
    void Inserted(int row);

    bool Contains(int row) const;
    bool IsEmpty() const { return m_ranges.empty(); }
    int Anchor() const { return m_nAnchor; }
    const std::vector<Range>& Ranges() const { return m_ranges; }
    size_t Count() const;

private:
    std::vector<Range> m_ranges;
    int m_nAnchor = -1;
};
