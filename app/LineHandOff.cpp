#include "app/TessarinDlg.h"

#include <wx/listbox.h>

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "platform/Text.h"

namespace {

const char kNotAbleToRead[] = "Not able to read Data Buffer!";

// ASCII only: addresses and kind tags are ASCII, and no locale may change the order.
std::string Lowered(std::string_view text)
{
    std::string out(text);
    for (char& c : out)
        c = AsciiLower(c);
    return out;
}

}   // namespace

void CTessarinDlg::OnLineReady()
{
    char szLine[CDataBuffer::SLOT_SIZE];
    bool bNamesNode = true;
    if (!m_pDataBuffer || m_pDataBuffer->Get(szLine, &bNamesNode) != CDataBuffer::DONE) {
        // A line announced and then dropped by Clear. Through the sink, so a run of them
        // shows one box rather than a pile.
        ShowWarning(kNotAbleToRead);
        return;
    }
    for (char* p = std::strchr(szLine, '|'); p; p = std::strchr(p + 1, '|'))
        *p = '\t';
    if (m_messageLog.InsertRow(szLine, -1) < 0)
        ++m_nRefusedRows;   // still in the log file; the status bar tells
    NodeHeard* heard = NoteNodeHeard(szLine);
    if (!bNamesNode)
        return;
    // A node of the network is heard many times a second and listed at its first line.
    if (heard && heard->nListedIn == m_nNodeKeysGeneration)
        return;
    UpdateNodeList(szLine);
    if (heard && m_nodeList)
        heard->nListedIn = m_nNodeKeysGeneration;
}

void CTessarinDlg::ForgetNodeKeys()
{
    m_nodeKeys.clear();
    ++m_nNodeKeysGeneration;
}

void CTessarinDlg::UpdateNodeList(const char* szLine)
{
    if (!szLine || !m_nodeList || std::strstr(szLine, "<--"))
        return;   // sent messages never add nodes

    const char* p = std::strchr(szLine, '\t');
    if (p)
        p = std::strchr(p + 1, '\t');
    if (!p)
        return;
    ++p;
    while (*p == ' ')
        ++p;
    const char* const addr = p;
    while (*p && !IsTabOrSpace(*p))
        ++p;
    const std::string_view address(addr, static_cast<size_t>(p - addr));

    // The prefix test runs for every received line, so it looks in a lower-case copy of
    // the entries (those listed and those waiting) rather than asking the toolkit for each
    // entry's text. A copy that no longer matches the list in size is made again; even the
    // list's size costs more than the rest of a line, so it is compared only when the
    // copy lacks the address, and at every status tick (OnTimer).
    char key[CDataBuffer::SLOT_SIZE];
    const size_t keyLength = address.size();
    for (size_t i = 0; i < keyLength; ++i)
        key[i] = AsciiLower(address[i]);
    const std::string_view lowered(key, keyLength);
    // In sorted order, the first text not below the prefix is the one to start with it
    // if any does.
    auto listed = [&] {
        const auto found = m_nodeKeys.lower_bound(lowered);
        return found != m_nodeKeys.end() && std::string_view(*found).substr(0, keyLength) == lowered;
    };
    if (listed())
        return;   // the first kind seen for an address stays
    if (m_nodeKeys.size() != m_nodeList->GetCount() + m_pendingNodes.size()) {
        ForgetNodeKeys();
        for (unsigned i = 0; i < m_nodeList->GetCount(); ++i)
            m_nodeKeys.insert(Lowered(m_nodeList->GetString(i).utf8_string()));
        for (const std::string& pending : m_pendingNodes)
            m_nodeKeys.insert(Lowered(pending));
        if (listed())
            return;
    }

    while (IsTabOrSpace(*p))
        ++p;
    const char* const name = p;
    while (*p && *p != '\t')
        ++p;
    const std::string_view nameText(name, static_cast<size_t>(p - name));

    const char* format = "%.*s COORD ";
    if (nameText.find("REF") != std::string_view::npos)
        format = "%.*s REF   ";
    else if (nameText.find("BLIND") != std::string_view::npos)
        format = "%.*s BLIND ";
    char entry[CDataBuffer::SLOT_SIZE + 16];
    std::snprintf(entry, sizeof entry, format, static_cast<int>(keyLength), addr);

    m_nodeKeys.insert(Lowered(entry));
    m_pendingNodes.emplace_back(entry);
    // Each entry the toolkit adds makes it lay the window out again: about a millisecond.
    // The first new node after a quiet spell shows at once; the rest of a burst (a noisy
    // line can name a new address in every frame) goes in together, at most every
    // kNodeListInterval, by the next line or the status timer.
    if (std::chrono::steady_clock::now() >= m_nextNodeListFlush)
        FlushNodeList();
}

void CTessarinDlg::FlushNodeList()
{
    if (m_pendingNodes.empty() || !m_nodeList)
        return;
    // A sorted insertion costs tens of microseconds, and GTK measures each new entry after
    // this returns: a backlog of thousands goes in a few milliseconds and a few dozen
    // entries at a time, so that the window keeps answering meanwhile.
    constexpr std::chrono::milliseconds kBudget{3};
    constexpr size_t kMostPerFlush = 64;
    constexpr std::chrono::milliseconds kBacklogInterval{20};
    const auto start = std::chrono::steady_clock::now();
    size_t done = 0;
    m_nodeList->Freeze();
    while (done < m_pendingNodes.size() && done < kMostPerFlush) {
        const std::string& entry = m_pendingNodes[done++];
        const int index = m_nodeList->Append(wxString::FromUTF8(entry.c_str()));
        if (index != wxNOT_FOUND) {
            unsigned int nodeAddr = 0;
            // Text that is not a number leaves the entry without an address: 0.
            if (std::sscanf(entry.c_str(), "%x", &nodeAddr) != 1)
                nodeAddr = 0;
            m_nodeList->SetClientData(static_cast<unsigned>(index),
                                      reinterpret_cast<void*>(static_cast<wxUIntPtr>(nodeAddr)));
        }
        if (std::chrono::steady_clock::now() - start >= kBudget)
            break;
    }
    m_nodeList->Thaw();
    m_pendingNodes.erase(m_pendingNodes.begin(), m_pendingNodes.begin() + static_cast<std::ptrdiff_t>(done));
    m_nextNodeListFlush =
        std::chrono::steady_clock::now() + (m_pendingNodes.empty() ? kNodeListInterval : kBacklogInterval);
}
