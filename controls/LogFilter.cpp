#include "controls/LogFilter.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "controls/LogRowStore.h"
#include "platform/Text.h"

namespace {

std::string Lowered(std::string_view text)
{
    std::string out(text);
    for (char& c : out)
        c = AsciiLower(c);
    return out;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix)
{
    if (text.size() < prefix.size())
        return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (AsciiLower(text[i]) != prefix[i])
            return false;
    return true;
}

// Four hexadecimal digits at most, with or without 0x: an address.
bool ParseAddress(std::string_view text, unsigned* value)
{
    if (StartsWithNoCase(text, "0x"))
        text.remove_prefix(2);
    if (text.empty() || text.size() > 4)
        return false;
    unsigned v = 0;
    for (char c : text) {
        const int digit = HexDigit(c);
        if (digit < 0)
            return false;
        v = v * 16 + static_cast<unsigned>(digit);
    }
    *value = v;
    return true;
}

// needle is already in lower case.
bool ContainsNoCase(std::string_view hay, std::string_view needle)
{
    if (needle.empty())
        return true;
    if (hay.size() < needle.size())
        return false;
    const char first = needle[0];
    const char firstUpper = (first >= 'a' && first <= 'z') ? static_cast<char>(first - 'a' + 'A') : first;
    for (size_t i = 0; i + needle.size() <= hay.size(); ++i) {
        if (hay[i] != first && hay[i] != firstUpper)
            continue;
        size_t k = 1;
        while (k < needle.size() && AsciiLower(hay[i + k]) == needle[k])
            ++k;
        if (k == needle.size())
            return true;
    }
    return false;
}

std::string_view Trimmed(std::string_view text)
{
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ')
        text.remove_suffix(1);
    return text;
}

}   // namespace

bool CLogQuery::Parse(std::string_view text)
{
    m_terms.clear();
    m_bValid = true;
    size_t i = 0;
    while (i < text.size()) {
        if (text[i] == ' ' || text[i] == '\t') {
            ++i;
            continue;
        }
        if (text[i] == '"') {
            // A phrase runs to the closing quote, or to the end of what was typed so far.
            const size_t close = text.find('"', i + 1);
            const size_t end = close == std::string_view::npos ? text.size() : close;
            const std::string_view phrase = text.substr(i + 1, end - i - 1);
            if (!phrase.empty())
                m_terms.push_back(Term{TEXT, Lowered(phrase), 0});
            i = end + 1;
            continue;
        }
        size_t end = i;
        while (end < text.size() && text[end] != ' ' && text[end] != '\t')
            ++end;
        m_bValid = AddWord(text.substr(i, end - i)) && m_bValid;
        i = end;
    }
    return m_bValid;
}

bool CLogQuery::AddWord(std::string_view word)
{
    Term term{TEXT, std::string(), 0};
    if (StartsWithNoCase(word, "node:") || StartsWithNoCase(word, "addr:")) {
        term.kind = NODE;
        if (!ParseAddress(word.substr(5), &term.value))
            return false;
    } else if (StartsWithNoCase(word, "0x") && ParseAddress(word, &term.value)) {
        term.kind = NODE;
    } else if (StartsWithNoCase(word, "msg:")) {
        term.kind = NAME;
        term.text = Lowered(word.substr(4));
    } else if (StartsWithNoCase(word, "dir:") || word == "-->" || word == "<--") {
        term.kind = DIR;
        const std::string dir = Lowered(word.size() == 3 ? word : word.substr(4));
        if (dir == "in" || dir == "-->")
            term.value = 1;
        else if (dir != "out" && dir != "<--")
            return false;
    } else {
        term.text = Lowered(word);
    }
    m_terms.push_back(std::move(term));
    return true;
}

bool CLogQuery::Matches(const char* row) const
{
    if (!m_bValid)
        return false;
    if (m_terms.empty())
        return true;
    std::string_view cells[5];
    const char* p = row;
    for (int i = 0; i < 5; ++i) {
        const char* tab = std::strchr(p, '\t');
        const size_t length = tab ? static_cast<size_t>(tab - p) : std::strlen(p);
        cells[i] = std::string_view(p, length);
        if (!tab)
            break;
        p = tab + 1;
    }
    for (const Term& term : m_terms) {
        bool ok = false;
        switch (term.kind) {
        case NODE: {
            unsigned addr = 0;
            ok = ParseAddress(Trimmed(cells[2]), &addr) && addr == term.value;
            break;
        }
        case NAME:
            ok = ContainsNoCase(Trimmed(cells[3]), term.text);
            break;
        case DIR:
            ok = cells[1].find(term.value ? "-->" : "<--") != std::string_view::npos;
            break;
        case TEXT:
            ok = ContainsNoCase(cells[4], term.text);
            break;
        }
        if (!ok)
            return false;
    }
    return true;
}

void CLogFilter::SetQuery(std::string_view text)
{
    m_query.Parse(text);
    Restart();
}

void CLogFilter::Restart()
{
    // Swap, not clear: a filter of a long capture should not keep its memory.
    std::vector<uint32_t>().swap(m_matches);
    m_nScanned = 0;
}

bool CLogFilter::IsComplete(const CLogRowStore& store) const
{
    return m_nScanned >= store.Count();
}

bool CLogFilter::Scan(const CLogRowStore& store, size_t wanted, std::chrono::microseconds budget)
{
    // The clock is read once per batch: a row costs well under a microsecond.
    constexpr size_t kBatch = 4096;
    const auto deadline = std::chrono::steady_clock::now() + budget;
    const size_t count = store.Count();
    while (m_nScanned < count && m_matches.size() < wanted) {
        const size_t end = std::min(count, m_nScanned + kBatch);
        for (; m_nScanned < end && m_matches.size() < wanted; ++m_nScanned) {
            if (!m_query.Matches(store.Get(m_nScanned)))
                continue;
            try {
                m_matches.push_back(static_cast<uint32_t>(m_nScanned));
            } catch (const std::bad_alloc&) {
                return false;   // the scan stops here; a later slice tries again
            }
        }
        if (std::chrono::steady_clock::now() >= deadline)
            break;
    }
    return m_nScanned >= count;
}

size_t CLogFilter::FirstAtOrAfter(size_t storeRow) const
{
    return static_cast<size_t>(std::lower_bound(m_matches.begin(), m_matches.end(), storeRow) -
                               m_matches.begin());
}
