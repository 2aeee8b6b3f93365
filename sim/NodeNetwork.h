#pragma once
// The simulated location network behind the dongle: reference nodes at fixed places and
// blind nodes that wander about and estimate where they are from the signal strength of
// the reference nodes they hear, with their own A and N parameters.
//
// Message data layouts of what the nodes send (16-bit values low byte first, positions
// in quarter metres as the program's position values):
//   REF_RSP    (0x0012, n = 5)  X, Y (configured position), RSSI of the request (-dBm)
//   BLIND_RSP  (0x0014, n = 7)  status, X, Y (estimate), reference nodes used,
//                               RSSI of the blind node at the dongle (-dBm)
//              status 0 = estimate valid, 1 = fewer reference nodes heard than its
//              minimum, 2 = N is 0 so no distance can be worked out
//   REF_CONF   (0x0015, n = 4)  X, Y                       (as REF_NODE_CONF)
//   BLIND_CONF (0x0016, n = 11) A, N, mode, collect, cycle, report address, report
//                               endpoint, minimum reference nodes (as BLIND_NODE_CONF)
// A blind node takes A as the signal strength at one metre (-dBm) and N as the path-loss
// exponent in tenths: distance = 10 ^ ((RSSI - A) / N) metres.

#include <chrono>
#include <cstdint>
#include <vector>

#include "sim/SimRandom.h"

enum : uint16_t {
    CLUSTER_REF_REQ = 0x0011,
    CLUSTER_REF_RSP = 0x0012,
    CLUSTER_BLIND_REQ = 0x0013,
    CLUSTER_BLIND_RSP = 0x0014,
    CLUSTER_REF_CONF = 0x0015,
    CLUSTER_BLIND_CONF = 0x0016,
    CLUSTER_REF_REQ_CONF = 0x0017,
    CLUSTER_BLIND_REQ_CONF = 0x0018,
};

constexpr int REF_RSP_LENGTH = 5;
constexpr int BLIND_RSP_LENGTH = 7;
constexpr int REF_CONF_LENGTH = 4;
constexpr int BLIND_CONF_LENGTH = 11;

// Weakest signal a node still hears, as -dBm.
constexpr int RSSI_HEARD_LIMIT = 95;

struct BlindConfig {
    uint8_t a = 40;
    uint8_t n = 25;
    uint8_t mode = 0;           // 0 polled, 1 automatic
    uint16_t collectTime = 5;   // 100 ms units
    uint16_t cycleTime = 20;    // 100 ms units
    uint16_t reportAddr = 0x0000;
    uint8_t reportEndpoint = 1;
    uint8_t minRefNodes = 3;
};

struct RefNode {
    uint16_t addr = 0;
    double x = 0, y = 0;             // where it really stands, metres
    uint16_t confX = 0, confY = 0;   // where it has been told it stands, quarter metres
};

struct BlindNode {
    uint16_t addr = 0;
    double x = 0, y = 0;         // where it really is, metres
    double wayX = 0, wayY = 0;   // where it is walking to
    double speed = 1.0;          // metres per second
    BlindConfig conf;
    std::chrono::steady_clock::time_point nextReport;
};

struct PositionEstimate {
    uint8_t status = 0;
    uint16_t x = 0, y = 0;   // quarter metres
    uint8_t used = 0;
};

class CNodeNetwork {
public:
    using Clock = std::chrono::steady_clock;

    // The default network: five reference nodes on a 40 m square, three blind nodes.
    // Unless quiet, blind node 0x0201 starts in automatic mode.
    CNodeNetwork(CSimRandom& rng, bool quiet, Clock::time_point now);

    // Walks the blind nodes on to the given time.
    void Advance(Clock::time_point now);

    std::vector<RefNode>& Refs() { return m_refs; }
    std::vector<BlindNode>& Blinds() { return m_blinds; }
    const std::vector<BlindNode>& Blinds() const { return m_blinds; }

    // Message data of each node message; the result is n.
    int RefResponse(const RefNode& ref, uint8_t* out);
    int BlindResponse(const BlindNode& blind, uint8_t* out);
    static int RefConfigData(const RefNode& ref, uint8_t* out);
    static int BlindConfigData(const BlindNode& blind, uint8_t* out);

    // Store a configuration sent to a node; false when the message data is too short.
    static bool ApplyRefConf(RefNode& ref, const uint8_t* data, int n);
    bool ApplyBlindConf(BlindNode& blind, const uint8_t* data, int n, Clock::time_point now);

    PositionEstimate Locate(const BlindNode& blind);

    // Simulated RSSI (-dBm) over a distance in metres.
    int Rssi(double distance);

    static Clock::duration CycleOf(const BlindConfig& conf);

    static constexpr double AREA = 40.0;
    static constexpr double DONGLE_X = 20.0, DONGLE_Y = -4.0;

private:
    void NewWaypoint(BlindNode& blind);

    CSimRandom& m_rng;
    std::vector<RefNode> m_refs;
    std::vector<BlindNode> m_blinds;
    Clock::time_point m_lastAdvance;
    double m_dRssiNoise = 2.0;   // standard deviation of the simulated RSSI, dB
};
