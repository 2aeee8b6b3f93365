#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class CLogRowStore;

// What the Message Log's filter and find look for in a row. A row holds the cells of a
// log line, TAB-separated: time, direction, address, message name, payload. The query
// is words separated by blanks, all of which must match:
//   node:1234, node:0x1234 or a bare 0x1234  the address (hexadecimal)
//   msg:REF                                  part of the message name
//   dir:in, dir:out, --> or <--              the direction
//   anything else, or "a quoted phrase"      part of the payload
// Names and payload text compare without regard to ASCII case. A word that cannot be
// read (node:xyz, dir:up) makes the query match no row.
class CLogQuery {
public:
    // Replaces the query; false when a word could not be read.
    bool Parse(std::string_view text);
    bool IsEmpty() const { return m_terms.empty() && m_bValid; }
    bool IsValid() const { return m_bValid; }
    bool Matches(const char* row) const;

private:
    enum Kind { NODE, NAME, DIR, TEXT };
    struct Term {
        Kind kind;
        std::string text;   // lower case, for NAME and TEXT
        unsigned value;     // the address, or 1 for received and 0 for sent
    };
    bool AddWord(std::string_view word);

    std::vector<Term> m_terms;
    bool m_bValid = true;
};

// The rows of a store that match a query, as an ascending list of row numbers, built a
// slice at a time so that a long store never holds the caller for long. Rows are taken
// as appended: a row inserted elsewhere or erased calls for Restart.
// Not thread-safe: it belongs to the control's thread.
class CLogFilter {
public:
    // Sets the query and starts again from row 0. An empty query filters nothing.
    void SetQuery(std::string_view text);
    const CLogQuery& GetQuery() const { return m_query; }
    bool IsActive() const { return !m_query.IsEmpty(); }
    // Forgets every match and starts the scan again from row 0.
    void Restart();

    // Scans rows of the store from where the last scan stopped, until it reaches the
    // end, `wanted` matches in all are known, or `budget` has passed. Returns true once
    // every row of the store has been scanned.
    bool Scan(const CLogRowStore& store, size_t wanted, std::chrono::microseconds budget);
    bool IsComplete(const CLogRowStore& store) const;
    size_t Scanned() const { return m_nScanned; }

    // The matches found so far and the store row of each.
    size_t Count() const { return m_matches.size(); }
    size_t StoreRow(size_t index) const { return m_matches[index]; }
    // The index of the first match at or after a store row: Count() when none so far.
    size_t FirstAtOrAfter(size_t storeRow) const;

private:
    CLogQuery m_query;
    std::vector<uint32_t> m_matches;
    size_t m_nScanned = 0;
};
