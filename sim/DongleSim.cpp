#include "sim/DongleSim.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <sys/time.h>

#include "link/Frame.h"

namespace {

// Flood frames are made while less than this is waiting to be written, so that an
// answer to the program never queues behind more than a few hundred frames.
constexpr int FLOOD_LOW_WATER = 16 * 1024;

// With no program reading the line, a dongle's buffer fills and further reports are
// lost; ours stops growing here instead of for as long as the simulator runs.
constexpr int OUT_LIMIT = 64 * 1024;

const char* NameOfCluster(uint16_t cluster)
{
    static const char* const names[] = {"REF_REQ",  "REF_RSP",    "BLIND_REQ",    "BLIND_RSP",
                                        "REF_CONF", "BLIND_CONF", "REF_REQ_CONF", "BLIND_REQ_CONF"};
    if (cluster < 0x0011 || cluster > 0x0018)
        return nullptr;
    return names[cluster - 0x0011];
}

void AppendHex(std::string& text, const uint8_t* bytes, int count)
{
    static const char digits[] = "0123456789ABCDEF";
    for (int i = 0; i < count; ++i) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 15];
        text += ' ';
    }
}

std::string HexLine(const uint8_t* bytes, int count)
{
    std::string text;
    AppendHex(text, bytes, count);
    if (!text.empty())
        text.pop_back();
    return text;
}

std::string LineStart(uint16_t addr, const char* name)
{
    char head[64];
    std::snprintf(head, sizeof head, " |-->| 0x%04X |%-19s|", addr, name);
    return head;
}

void Put16(uint8_t* out, uint16_t v)
{
    out[0] = static_cast<uint8_t>(v & 0xFF);
    out[1] = static_cast<uint8_t>(v >> 8);
}

bool Addressed(uint16_t dest, uint16_t node)
{
    return dest == 0xFFFF || dest == node;
}

}   // namespace

std::string ExpectedLogText(uint16_t command, const uint8_t* data, int length)
{
    if (length <= 0)
        return std::string();
    switch (command) {
    case CMD_DATA_INDICATION:
    case CMD_DATA_REQUEST: {
        if (length < MSG_HEADER_LENGTH)
            return std::string();   // never sent by the simulator
        const uint16_t addr = static_cast<uint16_t>(data[1] | data[2] << 8);
        const uint16_t cluster = static_cast<uint16_t>(data[4] | data[5] << 8);
        const int present = length - MSG_HEADER_LENGTH;
        const int shown = data[6] < present ? data[6] : present;
        char unknown[8];
        const char* name = NameOfCluster(cluster);
        if (!name) {
            std::snprintf(unknown, sizeof unknown, "0x%04X", cluster);
            name = unknown;
        }
        std::string text = LineStart(addr, name);
        AppendHex(text, data + MSG_HEADER_LENGTH, shown);
        return text;
    }
    case CMD_PING_RESPONSE:
        return LineStart(0, "PING_RESPONSE");
    case CMD_DEV_INFO_RSP: {
        std::string text = LineStart(0, "DEV_INFO_RSP");
        AppendHex(text, data, length);
        return text;
    }
    default:
        return std::string();
    }
}

CDongleSim::CDongleSim(const SimOptions& options, Clock::time_point now)
    : m_options(options),
      m_netRng(options.nSeed),
      m_noiseRng(options.nSeed ^ 0x6E6F697365ull),
      m_floodRng(options.nSeed ^ 0x666C6F6F64ull),
      m_network(m_netRng, options.bQuiet, now),
      m_noise(m_noiseRng),
      m_scanner(MAX_RX_DATA_LENGTH),
      m_nFloodLeft(options.nFlood)
{
}

CDongleSim::~CDongleSim()
{
    // Both files were flushed line by line; a failing close loses nothing more.
    if (m_pRecord)
        std::fclose(m_pRecord);
    if (m_pExpect)
        std::fclose(m_pExpect);
}

bool CDongleSim::OpenFiles(std::string& error)
{
    if (!m_options.strRecordFile.empty()) {
        m_pRecord = std::fopen(m_options.strRecordFile.c_str(), "w");
        if (!m_pRecord) {
            error = "cannot write " + m_options.strRecordFile + ": " + std::strerror(errno);
            return false;
        }
    }
    if (!m_options.strExpectFile.empty()) {
        m_pExpect = std::fopen(m_options.strExpectFile.c_str(), "w");
        if (!m_pExpect) {
            error = "cannot write " + m_options.strExpectFile + ": " + std::strerror(errno);
            return false;
        }
    }
    return true;
}

void CDongleSim::Trace(const char* dir, const uint8_t* frame, int size)
{
    if (!m_options.bVerbose)
        return;
    timeval tv;
    gettimeofday(&tv, nullptr);
    tm utc;
    gmtime_r(&tv.tv_sec, &utc);
    std::fprintf(stderr, "%02d:%02d:%02d.%03d %s %s\n", utc.tm_hour, utc.tm_min, utc.tm_sec,
                 static_cast<int>(tv.tv_usec / 1000), dir, HexLine(frame, size).c_str());
}

void CDongleSim::OnReceived(const uint8_t* bytes, int count, Clock::time_point now)
{
    m_scanner.Feed(bytes, count);
    SimFrame frame;
    while (m_scanner.Next(frame))
        HandleFrame(frame, now);
}

void CDongleSim::HandleFrame(const SimFrame& frame, Clock::time_point now)
{
    ++m_nFramesReceived;
    uint8_t raw[255 + FRAME_OVERHEAD];
    const int size = BuildFrame(frame.command, frame.data, frame.length, raw);
    Trace("<-", raw, size);
    if (m_pRecord) {
        // One line per frame, at once: a test may read it while we run.
        std::fprintf(m_pRecord, "%s\n", HexLine(raw, size).c_str());
        std::fflush(m_pRecord);
    }
    // The program opens the port and pings before anything else; the flood waits for it
    // so that no frame is lost in the purge that opening does.
    if (!m_bFloodStarted) {
        m_bFloodStarted = true;
        m_floodStart = now;
    }

    switch (frame.command) {
    case CMD_PING_REQUEST: {
        const uint8_t status = 0;
        SendFrame(CMD_PING_RESPONSE, &status, 1);
        break;
    }
    case CMD_GET_DEVICE_INFO: {
        uint8_t info[11];
        info[0] = 0;
        for (int i = 0; i < 8; ++i)
            info[1 + i] = static_cast<uint8_t>(m_options.nIeeeAddr >> (56 - 8 * i));
        Put16(info + 9, m_options.nShortAddr);
        SendFrame(CMD_DEV_INFO_RSP, info, sizeof info);
        break;
    }
    case CMD_DATA_REQUEST:
        HandleDataRequest(frame, now);
        break;
    default:
        if (m_options.bVerbose)
            std::fprintf(stderr, "   command 0x%04X ignored\n", frame.command);
        break;
    }
}

void CDongleSim::HandleDataRequest(const SimFrame& frame, Clock::time_point now)
{
    const uint8_t* d = frame.data;
    if (frame.length < MSG_HEADER_LENGTH || d[0] != MSG_TAG_FIRST || d[3] != MSG_TAG_SECOND ||
        d[6] > frame.length - MSG_HEADER_LENGTH) {
        if (m_options.bVerbose)
            std::fprintf(stderr, "   malformed node message ignored\n");
        return;
    }
    const uint16_t dest = static_cast<uint16_t>(d[1] | d[2] << 8);
    const uint16_t cluster = static_cast<uint16_t>(d[4] | d[5] << 8);
    const uint8_t* msg = d + MSG_HEADER_LENGTH;
    const int n = d[6];

    m_network.Advance(now);
    auto& refs = m_network.Refs();
    auto& blinds = m_network.Blinds();
    switch (cluster) {
    case CLUSTER_REF_REQ:   // XY-RSSI request: the reference nodes answer one by one
        for (size_t i = 0; i < refs.size(); ++i)
            if (Addressed(dest, refs[i].addr))
                Schedule(now + std::chrono::milliseconds(5 + 10 * static_cast<int>(i)), CLUSTER_REF_RSP,
                         static_cast<int>(i));
        break;
    case CLUSTER_BLIND_REQ:   // blind node find: each answers after its collect time
        for (size_t i = 0; i < blinds.size(); ++i)
            if (Addressed(dest, blinds[i].addr))
                Schedule(now + std::chrono::milliseconds(5 + 100 * blinds[i].conf.collectTime +
                                                         3 * static_cast<int>(i)),
                         CLUSTER_BLIND_RSP, static_cast<int>(i));
        break;
    case CLUSTER_REF_CONF:
        for (RefNode& ref : refs)
            if (Addressed(dest, ref.addr))
                CNodeNetwork::ApplyRefConf(ref, msg, n);
        break;
    case CLUSTER_BLIND_CONF:
        for (BlindNode& blind : blinds)
            if (Addressed(dest, blind.addr))
                m_network.ApplyBlindConf(blind, msg, n, now);
        break;
    case CLUSTER_REF_REQ_CONF:
        for (size_t i = 0; i < refs.size(); ++i)
            if (Addressed(dest, refs[i].addr))
                Schedule(now + std::chrono::milliseconds(5 + 2 * static_cast<int>(i)), CLUSTER_REF_CONF,
                         static_cast<int>(i));
        break;
    case CLUSTER_BLIND_REQ_CONF:
        for (size_t i = 0; i < blinds.size(); ++i)
            if (Addressed(dest, blinds[i].addr))
                Schedule(now + std::chrono::milliseconds(5 + 2 * static_cast<int>(i)), CLUSTER_BLIND_CONF,
                         static_cast<int>(i));
        break;
    default:
        if (m_options.bVerbose)
            std::fprintf(stderr, "   cluster 0x%04X ignored\n", cluster);
        break;
    }
}

void CDongleSim::Schedule(Clock::time_point due, uint16_t cluster, int node)
{
    m_pending.push(Pending{due, m_nSeq++, cluster, node});
}

void CDongleSim::SendAnswer(const Pending& p, Clock::time_point now)
{
    m_network.Advance(now);
    uint8_t msg[32];
    switch (p.cluster) {
    case CLUSTER_REF_RSP: {
        const RefNode& ref = m_network.Refs()[static_cast<size_t>(p.node)];
        SendNodeMessage(CMD_DATA_INDICATION, ref.addr, p.cluster, msg, m_network.RefResponse(ref, msg));
        break;
    }
    case CLUSTER_REF_CONF: {
        const RefNode& ref = m_network.Refs()[static_cast<size_t>(p.node)];
        SendNodeMessage(CMD_DATA_INDICATION, ref.addr, p.cluster, msg, CNodeNetwork::RefConfigData(ref, msg));
        break;
    }
    case CLUSTER_BLIND_RSP: {
        const BlindNode& blind = m_network.Blinds()[static_cast<size_t>(p.node)];
        SendNodeMessage(CMD_DATA_INDICATION, blind.addr, p.cluster, msg, m_network.BlindResponse(blind, msg));
        break;
    }
    case CLUSTER_BLIND_CONF: {
        const BlindNode& blind = m_network.Blinds()[static_cast<size_t>(p.node)];
        SendNodeMessage(CMD_DATA_INDICATION, blind.addr, p.cluster, msg,
                        CNodeNetwork::BlindConfigData(blind, msg));
        break;
    }
    default:
        break;
    }
}

void CDongleSim::OnTime(Clock::time_point now)
{
    while (!m_pending.empty() && m_pending.top().due <= now) {
        const Pending p = m_pending.top();
        m_pending.pop();
        SendAnswer(p, now);
    }

    for (BlindNode& blind : m_network.Blinds()) {
        if (blind.conf.mode != 1 || blind.nextReport > now)
            continue;
        m_network.Advance(now);
        const uint16_t to = blind.conf.reportAddr;
        // Reports to another node never reach the dongle.
        if (to == 0x0000 || to == 0xFFFF || to == m_options.nShortAddr) {
            uint8_t msg[16];
            SendNodeMessage(CMD_DATA_INDICATION, blind.addr, CLUSTER_BLIND_RSP, msg,
                            m_network.BlindResponse(blind, msg));
        }
        blind.nextReport += CNodeNetwork::CycleOf(blind.conf);
        if (blind.nextReport <= now)   // we were held up: do not catch up in a burst
            blind.nextReport = now + CNodeNetwork::CycleOf(blind.conf);
    }

    const long allowed = FloodAllowed(now);
    while (m_bFloodStarted && m_nFloodLeft > 0 && OutSize() < FLOOD_LOW_WATER &&
           m_options.nFlood - m_nFloodLeft < allowed) {
        uint16_t command;
        uint8_t data[MAX_RX_DATA_LENGTH];
        const int length = MakeFloodFrame(command, data);
        SendFrame(command, data, length);
        --m_nFloodLeft;
    }
}

CDongleSim::Clock::time_point CDongleSim::NextDue(Clock::time_point now) const
{
    Clock::time_point due = Clock::time_point::max();
    if (m_bFloodStarted && m_nFloodLeft > 0 && OutSize() < FLOOD_LOW_WATER) {
        if (m_options.nFloodRate <= 0)
            return now;
        const long sent = m_options.nFlood - m_nFloodLeft;
        due = m_floodStart + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(
                                 static_cast<double>(sent) / m_options.nFloodRate));
    }
    if (!m_pending.empty())
        due = std::min(due, m_pending.top().due);
    for (const BlindNode& blind : m_network.Blinds())
        if (blind.conf.mode == 1 && blind.nextReport < due)
            due = blind.nextReport;
    return due;
}

long CDongleSim::FloodAllowed(Clock::time_point now) const
{
    if (m_options.nFloodRate <= 0)
        return m_options.nFlood;
    const double seconds = std::chrono::duration<double>(now - m_floodStart).count();
    return static_cast<long>(seconds * static_cast<double>(m_options.nFloodRate)) + 1;
}

void CDongleSim::OutConsumed(int count)
{
    m_nOutPos += static_cast<size_t>(count);
    if (m_nOutPos == m_out.size()) {
        m_out.clear();
        m_nOutPos = 0;
    } else if (m_nOutPos > 64 * 1024) {
        m_out.erase(m_out.begin(), m_out.begin() + static_cast<long>(m_nOutPos));
        m_nOutPos = 0;
    }
}

void CDongleSim::SendNodeMessage(uint16_t command, uint16_t src, uint16_t cluster, const uint8_t* msg, int n)
{
    uint8_t data[MAX_RX_DATA_LENGTH];
    data[0] = MSG_TAG_FIRST;
    Put16(data + 1, src);
    data[3] = MSG_TAG_SECOND;
    Put16(data + 4, cluster);
    data[6] = static_cast<uint8_t>(n);
    std::memcpy(data + MSG_HEADER_LENGTH, msg, static_cast<size_t>(n));
    SendFrame(command, data, MSG_HEADER_LENGTH + n);
}

void CDongleSim::SendFrame(uint16_t command, const uint8_t* data, int length)
{
    uint8_t frame[MAX_RX_DATA_LENGTH + FRAME_OVERHEAD];
    const int size = BuildFrame(command, data, length, frame);
    if (OutSize() > OUT_LIMIT) {
        ++m_nFramesDropped;
        if (m_options.bVerbose)
            std::fprintf(stderr, "   line stalled, frame dropped\n");
        return;
    }
    if (m_options.bNoise)
        m_noise.AppendWithNoise(frame, size, m_out);
    else
        m_out.insert(m_out.end(), frame, frame + size);
    ++m_nFramesSent;
    Trace("->", frame, size);
    if (m_pExpect) {
        const std::string text = ExpectedLogText(command, data, length);
        if (!text.empty()) {
            std::fprintf(m_pExpect, "%s\n", text.c_str());
            std::fflush(m_pExpect);
        }
    }
}

int CDongleSim::MakeFloodFrame(uint16_t& command, uint8_t* data)
{
    CSimRandom& r = m_floodRng;
    const auto& refs = m_network.Refs();
    const auto& blinds = m_network.Blinds();
    const RefNode& ref = refs[static_cast<size_t>(r.Range(0, static_cast<int>(refs.size()) - 1))];
    const BlindNode& blind = blinds[static_cast<size_t>(r.Range(0, static_cast<int>(blinds.size()) - 1))];
    // Mostly the real thing; now and then the data-request code, which the program
    // must take as an indication.
    command = r.Chance(0.05) && !m_options.bNetworkOnly ? CMD_DATA_REQUEST : CMD_DATA_INDICATION;

    uint16_t src;
    uint16_t cluster;
    uint8_t msg[MAX_RX_DATA_LENGTH];
    int n;         // the length the header states
    int present;   // the message data bytes the frame really carries
    const int kind = r.Range(0, m_options.bNetworkOnly ? 90 : 99);
    if (kind < 40) {
        src = ref.addr;
        cluster = CLUSTER_REF_RSP;
        Put16(msg, ref.confX);
        Put16(msg + 2, ref.confY);
        msg[4] = static_cast<uint8_t>(r.Range(40, RSSI_HEARD_LIMIT));
        n = present = REF_RSP_LENGTH;
    } else if (kind < 75) {
        src = blind.addr;
        cluster = CLUSTER_BLIND_RSP;
        msg[0] = r.Chance(0.9) ? 0 : 1;
        Put16(msg + 1, static_cast<uint16_t>(r.Range(0, 160)));
        Put16(msg + 3, static_cast<uint16_t>(r.Range(0, 160)));
        msg[5] = static_cast<uint8_t>(r.Range(3, 5));
        msg[6] = static_cast<uint8_t>(r.Range(40, RSSI_HEARD_LIMIT));
        n = present = BLIND_RSP_LENGTH;
    } else if (kind < 83) {
        src = ref.addr;
        cluster = CLUSTER_REF_CONF;
        n = present = CNodeNetwork::RefConfigData(ref, msg);
    } else if (kind < 91) {
        src = blind.addr;
        cluster = CLUSTER_BLIND_CONF;
        n = present = CNodeNetwork::BlindConfigData(blind, msg);
    } else {
        // The odd ones: a cluster outside the name table, a header that claims more data
        // than the frame holds, one that claims less, and overheard requests without data.
        src = static_cast<uint16_t>(r.Next());
        present = r.Range(0, 12);
        for (int i = 0; i < present; ++i)
            msg[i] = r.Byte();
        n = present;
        switch (kind) {
        case 91:
        case 92:
        case 93:
            cluster = static_cast<uint16_t>(r.Chance(0.5) ? r.Range(0x0019, 0x00FF) : r.Next());
            if (cluster >= 0x0011 && cluster <= 0x0018)
                cluster = 0x0010;
            break;
        case 94:
        case 95:
            cluster = static_cast<uint16_t>(r.Range(0x0011, 0x0018));
            present = r.Range(0, MAX_RX_DATA_LENGTH - MSG_HEADER_LENGTH);
            for (int i = 0; i < present; ++i)
                msg[i] = r.Byte();
            n = r.Range(present + 1, 255);
            break;
        case 96:
        case 97:
            cluster = r.Chance(0.5) ? CLUSTER_REF_REQ : CLUSTER_BLIND_REQ;
            n = present = 0;
            break;
        default:
            cluster = static_cast<uint16_t>(r.Range(0x0011, 0x0018));
            n = r.Range(0, present);
            break;
        }
    }
    data[0] = MSG_TAG_FIRST;
    Put16(data + 1, src);
    data[3] = MSG_TAG_SECOND;
    Put16(data + 4, cluster);
    data[6] = static_cast<uint8_t>(n);
    std::memcpy(data + MSG_HEADER_LENGTH, msg, static_cast<size_t>(present));
    return MSG_HEADER_LENGTH + present;
}
