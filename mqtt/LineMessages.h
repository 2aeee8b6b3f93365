#pragma once
// What a log line says, taken apart for the broker: its fields, the message as JSON, the
// Node List as JSON and the dongle identity a device information line carries. Runs on
// the publisher's thread, where allocating is allowed.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

struct LineFields {
    int nMsOfDay = 0;   // the line's UTC time of day
    bool bSent = false;
    uint16_t nAddr = 0;
    std::string strName;   // without its padding
    std::vector<uint8_t> bytes;
};

// False when the line is not in the log line's shape.
bool ParseLogLine(const char* line, LineFields& fields);

// The full UTC time of a line, in ms since 1970: its own time of day, on the date of the
// moment it was queued (the day before or after when the two lie across midnight).
int64_t LineUtcMs(int msOfDay, int64_t queuedUtcMs);
// "2026-12-06T18:30:00.123Z"
std::string IsoUtc(int64_t utcMs);

// The topic level for a name: the characters a topic gives a meaning to become "_".
std::string TopicLevel(const std::string& name);
// "0x1234"
std::string AddressText(uint16_t addr);

// {"time":..,"direction":"received"|"sent","address":"0x1234","name":..,"hex":"0A 0B",
//  "bytes":[10,11]}
std::string MessageJson(const LineFields& fields, int64_t utcMs);

// The dongle's IEEE address as 16 hex digits and its short address, from a received
// device information line whose status is 0; false for any other line.
bool DongleIdentityOf(const LineFields& fields, std::string& ieee, uint16_t& shortAddr);

// Every node heard, with the kind the window's Node List gives it: the first kind seen
// for an address stays. Sent lines and lines that name no node add nothing.
class CNodeTable {
public:
    // True when the table changed.
    bool Add(const LineFields& fields, bool bNamesNode, int64_t utcMs);
    std::string Json() const;
    bool Empty() const { return m_nodes.empty(); }

private:
    struct Node {
        const char* kind;
        int64_t nFirstMs;
        int64_t nLastMs;
        long long nCount;
    };
    std::map<uint16_t, Node> m_nodes;
};
