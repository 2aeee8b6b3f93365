#pragma once
// Publishes every line the engine forms to an MQTT broker and takes node commands from
// it. The line is queued at once (CPublishQueue: never blocks, never allocates) and goes
// out from the publisher's own thread, which connects, reconnects and publishes:
//   PREFIX/<dongle>/log                      the log line, QoS 1
//   PREFIX/<dongle>/node/<address>/<name>    the message as JSON, QoS 1
//   PREFIX/<dongle>/nodes                    every node heard, retained, at most once a second
//   PREFIX/<dongle>/status                   online with the identity, retained; offline as will
//   PREFIX/<dongle>/cmd                      commands taken, when asked for
//   PREFIX/<dongle>/cmd/error                why a command was refused
// <dongle> is the port name until a device information names the IEEE address.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

#include "link/LinkNotify.h"
#include "mqtt/LineMessages.h"
#include "mqtt/MqttConnection.h"
#include "mqtt/MqttEndpoint.h"
#include "mqtt/PublishQueue.h"

// Changes of the connection and lines dropped, as text; called on the publisher's thread.
class IMqttReport {
public:
    virtual void MqttReport(const char* text) = 0;

protected:
    ~IMqttReport() = default;
};

// A command has come from the broker (TakeCommand gives it); must not block.
class IMqttCommandNotify {
public:
    virtual void PostCommandReady() = 0;

protected:
    ~IMqttCommandNotify() = default;
};

class CMqttPublisher : public ILineTap, private IMqttEvents {
public:
    enum class State { OFF, CONNECTING, CONNECTED, UNREACHABLE, REFUSED };

    explicit CMqttPublisher(int queueCapacity = CPublishQueue::DEFAULT_CAPACITY);
    ~CMqttPublisher();
    CMqttPublisher(const CMqttPublisher&) = delete;
    CMqttPublisher& operator=(const CMqttPublisher&) = delete;

    // Starts the publisher's thread; a broker that is away is no failure (it is tried
    // again and again). False with the reason when the settings cannot work. The two
    // seams may be null and must outlive Stop.
    bool Start(const MqttSettings& settings, IMqttReport* report, IMqttCommandNotify* notify,
               std::string& error);
    // Publishes what waits for up to drainMs while the broker is there, then the
    // offline status, and ends the thread. Lines still waiting then are counted in
    // Unpublished.
    void Stop(int drainMs = 3000);
    bool IsRunning() const { return m_thread.joinable(); }

    // Any thread.
    void TapLine(const char* line, bool bNamesNode) override;
    // The owner's thread: the oldest command from the broker; false when none waits.
    bool TakeCommand(std::string& command);
    // The owner's thread: tells the broker why a command was refused.
    void PublishCommandError(const std::string& command, const std::string& error);

    State GetState() const { return m_state.load(); }
    // "connected to host:port", "cannot reach host:port (...)", ...
    std::string StateText();
    long long Published() const { return m_nPublished.load(); }
    long long Dropped() const { return m_queue.Dropped(); }
    long long Unpublished() const { return m_nUnpublished.load(); }
    int QueueCapacity() const { return m_queue.Capacity(); }

private:
    void Run();
    bool Serve(bool& session, std::string& error);
    void Drain();
    void PublishLine(const PublishSlot& slot);
    void PublishCounted(const std::string& topic, const std::string& payload, bool retain);
    void PublishErrors();
    void PublishNodes(bool force);
    void ReportDrops(bool force);
    void SetState(State state, const std::string& text, bool report);
    void Report(const std::string& text);
    std::string Topic(const char* leaf) const;
    std::string StatusPayload(bool online) const;

    void OnConnected(int code) override;
    void OnPublished(int mid) override;
    void OnMessage(const char* topic, const void* payload, int length) override;

    CPublishQueue m_queue;
    CMqttConnection m_connection;
    MqttSettings m_settings;
    IMqttReport* m_pReport = nullptr;
    IMqttCommandNotify* m_pNotify = nullptr;
    std::thread m_thread;

    std::mutex m_stopLock;   // with m_stopWake: a stop wakes a thread that waits to retry
    std::condition_variable m_stopWake;
    bool m_bStop = false;
    int m_nDrainMs = 0;

    std::mutex m_commandLock;   // the commands taken and the errors to tell
    std::deque<std::string> m_commands;
    std::deque<std::string> m_errors;

    std::mutex m_stateLock;
    std::string m_strStateText;
    std::atomic<State> m_state{State::OFF};
    std::atomic<long long> m_nPublished{0};
    std::atomic<long long> m_nUnpublished{0};

    // The publisher's thread only.
    bool m_bConnected = false;
    bool m_bRefused = false;
    bool m_bSwitching = false;   // a new dongle name: reconnect once the window is empty
    bool m_bQuietConnect = false;
    int m_nInFlight = 0;
    std::string m_strDongle;
    std::string m_strIeee;
    uint16_t m_nShortAddr = 0;
    std::string m_strCmdTopic;
    CNodeTable m_nodes;
    bool m_bNodesDirty = false;
    int64_t m_nNextNodesMs = 0;
    long long m_nDropsReported = 0;
    int64_t m_nNextDropReportMs = 0;
    std::string m_strLastReport;
};
