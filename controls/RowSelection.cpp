#include "controls/RowSelection.h"

#include <algorithm>

void CRowSelection::Clear()
{
    m_ranges.clear();
    m_nAnchor = -1;
}

void CRowSelection::SelectOnly(int row)
{
    m_ranges.clear();
    m_nAnchor = row;
    if (row >= 0)
        m_ranges.push_back(Range{row, row});
}

void CRowSelection::ExtendTo(int row)
{
    if (m_nAnchor < 0) {
        SelectOnly(row);
        return;
    }
    m_ranges.assign(1, Range{std::min(m_nAnchor, row), std::max(m_nAnchor, row)});
}

void CRowSelection::Toggle(int row)
{
    if (row < 0)
        return;
    m_nAnchor = row;
    // The first range that ends at or after the row.
    auto it = std::lower_bound(m_ranges.begin(), m_ranges.end(), row,
                               [](const Range& r, int value) { return r.last < value; });
    if (it != m_ranges.end() && it->first <= row) {
        if (it->first == it->last) {
            m_ranges.erase(it);
        } else if (row == it->first) {
            ++it->first;
        } else if (row == it->last) {
            --it->last;
        } else {
            const Range tail{row + 1, it->last};
            it->last = row - 1;
            m_ranges.insert(it + 1, tail);
        }
        return;
    }
    const bool joinsPrevious = it != m_ranges.begin() && (it - 1)->last == row - 1;
    const bool joinsNext = it != m_ranges.end() && it->first == row + 1;
    if (joinsPrevious && joinsNext) {
        (it - 1)->last = it->last;
        m_ranges.erase(it);
    } else if (joinsPrevious) {
        (it - 1)->last = row;
    } else if (joinsNext) {
        it->first = row;
    } else {
        m_ranges.insert(it, Range{row, row});
    }
}

void CRowSelection::SelectAll(int count)
{
    m_ranges.clear();
    if (count > 0)
        m_ranges.push_back(Range{0, count - 1});
    if (m_nAnchor < 0 || m_nAnchor >= count)
        m_nAnchor = count > 0 ? 0 : -1;
}

void CRowSelection::Inserted(int row)
{
    for (Range& r : m_ranges) {
        if (r.first >= row)
            ++r.first;
        if (r.last >= row)
            ++r.last;
    }
    // A range that held the row now has a gap there: split it.
    for (size_t i = 0; i < m_ranges.size(); ++i) {
        Range& r = m_ranges[i];
        if (r.first < row && r.last > row) {
            const Range tail{row + 1, r.last};
            r.last = row - 1;
            m_ranges.insert(m_ranges.begin() + static_cast<std::ptrdiff_t>(i) + 1, tail);
            break;
        }
    }
    if (m_nAnchor >= row)
        ++m_nAnchor;
}

bool CRowSelection::Contains(int row) const
{
    auto it = std::lower_bound(m_ranges.begin(), m_ranges.end(), row,
                               [](const Range& r, int value) { return r.last < value; });
    return it != m_ranges.end() && it->first <= row;
}

size_t CRowSelection::Count() const
{
    size_t n = 0;
    for (const Range& r : m_ranges)
        n += static_cast<size_t>(r.last - r.first) + 1;
    return n;
}
