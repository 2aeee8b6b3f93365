#include "mqtt/LineMessages.h"

#include <cstdio>
#include <cstring>

#include "platform/Text.h"

namespace {

constexpr int64_t MS_PER_DAY = 24LL * 60 * 60 * 1000;

int Digits(const char* p, int count)
{
    int value = 0;
    for (int i = 0; i < count; ++i) {
        if (p[i] < '0' || p[i] > '9')
            return -1;
        value = value * 10 + (p[i] - '0');
    }
    return value;
}

void AppendJsonString(std::string& out, const std::string& text)
{
    out += '"';
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
            out += escaped;
        } else {
            out += c;
        }
    }
    out += '"';
}

}   // namespace

bool ParseLogLine(const char* line, LineFields& fields)
{
    // "hh:mm:ss:mmm |-->| 0xAAAA |NAME...|HEX"
    if (std::strlen(line) < 28 || line[2] != ':' || line[5] != ':' || line[8] != ':')
        return false;
    const int h = Digits(line, 2), m = Digits(line + 3, 2), s = Digits(line + 6, 2), ms = Digits(line + 9, 3);
    if (h < 0 || h > 23 || m < 0 || m > 59 || s < 0 || s > 59 || ms < 0)
        return false;
    fields.nMsOfDay = ((h * 60 + m) * 60 + s) * 1000 + ms;
    if (std::strncmp(line + 12, " |<--| 0x", 9) == 0)
        fields.bSent = true;
    else if (std::strncmp(line + 12, " |-->| 0x", 9) == 0)
        fields.bSent = false;
    else
        return false;
    unsigned addr = 0;
    for (int i = 21; i < 25; ++i) {
        const int d = HexDigit(line[i]);
        if (d < 0)
            return false;
        addr = addr * 16 + static_cast<unsigned>(d);
    }
    fields.nAddr = static_cast<uint16_t>(addr);
    if (std::strncmp(line + 25, " |", 2) != 0)
        return false;
    const char* name = line + 27;
    const char* bar = std::strchr(name, '|');
    if (bar == nullptr)
        return false;
    const char* end = bar;
    while (end > name && end[-1] == ' ')
        --end;
    fields.strName.assign(name, end);
    fields.bytes.clear();
    for (const char* p = bar + 1; *p;) {
        if (*p == ' ') {
            ++p;
            continue;
        }
        const int high = HexDigit(p[0]);
        const int low = high >= 0 ? HexDigit(p[1]) : -1;
        if (low < 0)
            return false;
        fields.bytes.push_back(static_cast<uint8_t>(high * 16 + low));
        p += 2;
    }
    return true;
}

int64_t LineUtcMs(int msOfDay, int64_t queuedUtcMs)
{
    int64_t day = queuedUtcMs / MS_PER_DAY;
    if (queuedUtcMs % MS_PER_DAY < 0)
        --day;
    int64_t when = day * MS_PER_DAY + msOfDay;
    // Formed just before midnight and queued just after, or the other way round.
    if (when - queuedUtcMs > MS_PER_DAY / 2)
        when -= MS_PER_DAY;
    else if (queuedUtcMs - when > MS_PER_DAY / 2)
        when += MS_PER_DAY;
    return when;
}

std::string IsoUtc(int64_t utcMs)
{
    int64_t days = utcMs / MS_PER_DAY;
    int64_t msOfDay = utcMs % MS_PER_DAY;
    if (msOfDay < 0) {
        msOfDay += MS_PER_DAY;
        --days;
    }
    // Civil date from days since 1970-01-01 (proleptic Gregorian), in 400-year eras.
    const int64_t z = days + 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    const int day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    const int month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    const long long year = yoe + era * 400 + (month <= 2 ? 1 : 0);
    char text[40];
    std::snprintf(text, sizeof text, "%04lld-%02d-%02dT%02d:%02d:%02d.%03dZ", year, month, day,
                  static_cast<int>(msOfDay / 3600000), static_cast<int>(msOfDay / 60000 % 60),
                  static_cast<int>(msOfDay / 1000 % 60), static_cast<int>(msOfDay % 1000));
    return text;
}

std::string TopicLevel(const std::string& name)
{
    std::string level = name.empty() ? "_" : name;
    for (char& c : level)
        if (c == '/' || c == '+' || c == '#' || c == ' ' || static_cast<unsigned char>(c) < 0x20)
            c = '_';
    return level;
}

std::string AddressText(uint16_t addr)
{
    char text[8];
    std::snprintf(text, sizeof text, "0x%04X", static_cast<unsigned>(addr));
    return text;
}

std::string MessageJson(const LineFields& fields, int64_t utcMs)
{
    std::string json = "{\"time\":\"" + IsoUtc(utcMs) + "\",\"direction\":\"";
    json += fields.bSent ? "sent" : "received";
    json += "\",\"address\":\"" + AddressText(fields.nAddr) + "\",\"name\":";
    AppendJsonString(json, fields.strName);
    std::string hex, list;
    char byte[8];
    for (const uint8_t b : fields.bytes) {
        std::snprintf(byte, sizeof byte, "%s%02X", hex.empty() ? "" : " ", b);
        hex += byte;
        list += (list.empty() ? "" : ",") + std::to_string(b);
    }
    json += ",\"hex\":\"" + hex + "\",\"bytes\":[" + list + "]}";
    return json;
}

bool DongleIdentityOf(const LineFields& fields, std::string& ieee, uint16_t& shortAddr)
{
    if (fields.bSent || fields.strName != "DEV_INFO_RSP" || fields.bytes.size() < 11 || fields.bytes[0] != 0)
        return false;
    char text[20];
    for (int i = 0; i < 8; ++i)
        std::snprintf(text + 2 * i, 3, "%02X", fields.bytes[static_cast<size_t>(1 + i)]);
    ieee = text;
    shortAddr = static_cast<uint16_t>(fields.bytes[9] | fields.bytes[10] << 8);
    return true;
}

bool CNodeTable::Add(const LineFields& fields, bool bNamesNode, int64_t utcMs)
{
    if (fields.bSent || !bNamesNode)
        return false;
    auto found = m_nodes.find(fields.nAddr);
    if (found != m_nodes.end()) {
        found->second.nLastMs = utcMs;
        ++found->second.nCount;
        return true;
    }
    const char* kind = "COORD";
    if (fields.strName.find("REF") != std::string::npos)
        kind = "REF";
    else if (fields.strName.find("BLIND") != std::string::npos)
        kind = "BLIND";
    m_nodes.emplace(fields.nAddr, Node{kind, utcMs, utcMs, 1});
    return true;
}

std::string CNodeTable::Json() const
{
    std::string json = "{\"nodes\":[";
    for (const auto& [addr, node] : m_nodes) {
        if (json.back() == '}')
            json += ',';
        json += "{\"address\":\"" + AddressText(addr) + "\",\"kind\":\"" + node.kind + "\",\"first\":\"" +
                IsoUtc(node.nFirstMs) + "\",\"last\":\"" + IsoUtc(node.nLastMs) +
                "\",\"count\":" + std::to_string(node.nCount) + "}";
    }
    return json + "]}";
}
