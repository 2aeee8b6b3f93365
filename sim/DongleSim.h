#pragma once
// The simulated Location Dongle: reads the frames the program writes, answers PING and
// device-information requests, carries node messages to and from the simulated network,
// and queues every byte it sends for the caller to write. It knows nothing of file
// descriptors, so it can be driven by a pseudo-terminal loop or by a test.

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <queue>
#include <string>
#include <vector>

#include "sim/FrameScanner.h"
#include "sim/NodeNetwork.h"
#include "sim/NoiseMaker.h"
#include "sim/SimRandom.h"

constexpr uint16_t DEFAULT_DONGLE_SHORT_ADDR = 0x796F;
constexpr uint64_t DEFAULT_DONGLE_IEEE_ADDR = 0x5453524E44000001ull;

struct SimOptions {
    int nComPort = 21;
    bool bNoise = false;
    long nFlood = 0;
    long nFloodRate = 0;         // flood frames per second; 0 as fast as the line takes them
    bool bNetworkOnly = false;   // the flood's frames are all the network's own reports
    std::string strRecordFile;
    std::string strExpectFile;
    uint64_t nSeed = 1;
    bool bQuiet = false;
    bool bVerbose = false;
    bool bForce = false;
    uint16_t nShortAddr = DEFAULT_DONGLE_SHORT_ADDR;
    uint64_t nIeeeAddr = DEFAULT_DONGLE_IEEE_ADDR;
};

// The program's log line for a frame it receives, without the time stamp (the line from
// its 13th character on); empty when the program logs nothing for that frame.
std::string ExpectedLogText(uint16_t command, const uint8_t* data, int length);

class CDongleSim {
public:
    using Clock = std::chrono::steady_clock;

    CDongleSim(const SimOptions& options, Clock::time_point now);
    ~CDongleSim();
    CDongleSim(const CDongleSim&) = delete;
    CDongleSim& operator=(const CDongleSim&) = delete;

    // Opens the record and expect files, if asked for; false with a reason.
    bool OpenFiles(std::string& error);

    // Bytes that the program wrote to the port.
    void OnReceived(const uint8_t* bytes, int count, Clock::time_point now);
    // Does whatever is due: delayed answers, automatic reports, more of the flood.
    void OnTime(Clock::time_point now);
    // When OnTime next has work; Clock::time_point::max() when nothing is planned.
    Clock::time_point NextDue(Clock::time_point now) const;

    // Bytes waiting to be written to the port, in order.
    const uint8_t* OutData() const { return m_out.data() + m_nOutPos; }
    int OutSize() const { return static_cast<int>(m_out.size() - m_nOutPos); }
    void OutConsumed(int count);

    CNodeNetwork& Network() { return m_network; }
    long FramesSent() const { return m_nFramesSent; }
    long FramesReceived() const { return m_nFramesReceived; }
    // Frames not sent because nobody read the line.
    long FramesDropped() const { return m_nFramesDropped; }
    long FloodLeft() const { return m_nFloodLeft; }
    bool FloodStarted() const { return m_bFloodStarted; }

private:
    struct Pending {
        Clock::time_point due;
        long seq;
        uint16_t cluster;   // the cluster to answer with
        int node;           // index into the reference or blind nodes
        bool operator>(const Pending& o) const { return due != o.due ? due > o.due : seq > o.seq; }
    };

    void HandleFrame(const SimFrame& frame, Clock::time_point now);
    void HandleDataRequest(const SimFrame& frame, Clock::time_point now);
    void Schedule(Clock::time_point due, uint16_t cluster, int node);
    void SendAnswer(const Pending& p, Clock::time_point now);
    void SendNodeMessage(uint16_t command, uint16_t src, uint16_t cluster, const uint8_t* msg, int n);
    void SendFrame(uint16_t command, const uint8_t* data, int length);
    int MakeFloodFrame(uint16_t& command, uint8_t* data);
    long FloodAllowed(Clock::time_point now) const;
    void Trace(const char* dir, const uint8_t* frame, int size);

    SimOptions m_options;
    CSimRandom m_netRng;
    CSimRandom m_noiseRng;
    CSimRandom m_floodRng;
    CNodeNetwork m_network;
    CNoiseMaker m_noise;
    CFrameScanner m_scanner;
    std::priority_queue<Pending, std::vector<Pending>, std::greater<Pending>> m_pending;
    long m_nSeq = 0;
    std::vector<uint8_t> m_out;
    size_t m_nOutPos = 0;
    long m_nFloodLeft;
    bool m_bFloodStarted = false;
    Clock::time_point m_floodStart;
    long m_nFramesSent = 0;
    long m_nFramesReceived = 0;
    long m_nFramesDropped = 0;
    FILE* m_pRecord = nullptr;
    FILE* m_pExpect = nullptr;
};
