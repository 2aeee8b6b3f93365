#include "mqtt/MqttPublisher.h"

#include <chrono>
#include <cstdio>
#include <random>

namespace {

// QoS 1 messages sent and not yet acknowledged; more would only sit in the library's
// own queue, which has no bound.
constexpr int IN_FLIGHT_WINDOW = 256;
constexpr int LINES_PER_PASS = 64;
constexpr int IDLE_LOOP_MS = 10;
constexpr int FIRST_RETRY_MS = 250;
constexpr int LONGEST_RETRY_MS = 4000;
// Refused credentials do not mend themselves quickly.
constexpr int REFUSED_RETRY_MS = 5000;
constexpr int NODES_INTERVAL_MS = 1000;
constexpr int DROP_REPORT_INTERVAL_MS = 1000;
constexpr size_t MOST_COMMANDS_WAITING = 64;
constexpr int LONGEST_COMMAND = 1024;

int64_t SteadyMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

int64_t UtcMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::string JsonText(const std::string& text)
{
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\')
            out += '\\';
        if (static_cast<unsigned char>(c) < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
            out += escaped;
            continue;
        }
        out += c;
    }
    return out + "\"";
}

}   // namespace

CMqttPublisher::CMqttPublisher(int queueCapacity) : m_queue(queueCapacity), m_connection(*this) {}

CMqttPublisher::~CMqttPublisher()
{
    Stop(0);
}

bool CMqttPublisher::Start(const MqttSettings& settings, IMqttReport* report, IMqttCommandNotify* notify,
                           std::string& error)
{
    if (IsRunning()) {
        error = "already publishing";
        return false;
    }
    if (!IsValidTopicPrefix(settings.strPrefix)) {
        error = "the topic prefix \"" + settings.strPrefix + "\" is empty, or has + # or an empty level";
        return false;
    }
    std::random_device random;
    char clientId[24];
    std::snprintf(clientId, sizeof clientId, "tessarin-%08x", static_cast<unsigned>(random()));
    if (!m_connection.Setup(settings.endpoint, settings.strCaFile, clientId, error))
        return false;
    m_settings = settings;
    m_pReport = report;
    m_pNotify = notify;
    // Started again: a dongle already known keeps its name.
    m_strDongle = m_strIeee.empty() ? TopicLevel(settings.strPortName) : m_strIeee;
    m_bStop = false;
    m_bConnected = m_bSwitching = m_bRefused = false;
    m_nInFlight = 0;
    m_strLastReport.clear();
    SetState(State::CONNECTING, "connecting to " + DescribeEndpoint(settings.endpoint), false);
    m_thread = std::thread([this] { Run(); });
    return true;
}

void CMqttPublisher::Stop(int drainMs)
{
    if (!m_thread.joinable())
        return;
    {
        std::lock_guard<std::mutex> guard(m_stopLock);
        m_bStop = true;
        m_nDrainMs = drainMs;
        m_stopWake.notify_all();
    }
    m_thread.join();
    SetState(State::OFF, "off", false);
}

void CMqttPublisher::TapLine(const char* line, bool bNamesNode)
{
    m_queue.Put(line, bNamesNode, UtcMs());
}

bool CMqttPublisher::TakeCommand(std::string& command)
{
    std::lock_guard<std::mutex> guard(m_commandLock);
    if (m_commands.empty())
        return false;
    command.swap(m_commands.front());
    m_commands.pop_front();
    return true;
}

void CMqttPublisher::PublishCommandError(const std::string& command, const std::string& error)
{
    std::lock_guard<std::mutex> guard(m_commandLock);
    m_errors.push_back("{\"command\":" + JsonText(command) + ",\"error\":" + JsonText(error) + "}");
}

std::string CMqttPublisher::StateText()
{
    std::lock_guard<std::mutex> guard(m_stateLock);
    return m_strStateText;
}

void CMqttPublisher::SetState(State state, const std::string& text, bool report)
{
    m_state = state;
    {
        std::lock_guard<std::mutex> guard(m_stateLock);
        m_strStateText = text;
    }
    if (report)
        Report(text);
}

void CMqttPublisher::Report(const std::string& text)
{
    // A broker that stays away would say the same every few seconds.
    if (text == m_strLastReport || m_pReport == nullptr)
        return;
    m_strLastReport = text;
    m_pReport->MqttReport(text.c_str());
}

std::string CMqttPublisher::Topic(const char* leaf) const
{
    return m_settings.strPrefix + "/" + m_strDongle + "/" + leaf;
}

std::string CMqttPublisher::StatusPayload(bool online) const
{
    std::string json = std::string("{\"state\":\"") + (online ? "online" : "offline") +
                       "\",\"port\":" + JsonText(m_settings.strPortName);
    if (!m_strIeee.empty()) {
        json += ",\"ieee\":\"" + m_strIeee + "\"";
        if (online)
            json += ",\"shortAddr\":\"" + AddressText(m_nShortAddr) + "\"";
    }
    return json + "}";
}

void CMqttPublisher::Run()
{
    bool session = false;   // a connection is open or being opened
    int retryMs = FIRST_RETRY_MS;
    int64_t nextTry = 0;
    int64_t drainUntil = -1;
    std::string error;
    for (;;) {
        bool stop;
        {
            std::lock_guard<std::mutex> guard(m_stopLock);
            stop = m_bStop;
            if (stop && drainUntil < 0)
                drainUntil = SteadyMs() + m_nDrainMs;
        }
        if (stop) {
            const bool drained = m_queue.Count() == 0 && m_nInFlight == 0;
            if (!m_bConnected || drained || SteadyMs() >= drainUntil)
                break;
        }
        if (!session) {
            const int64_t now = SteadyMs();
            if (now < nextTry) {
                std::unique_lock<std::mutex> guard(m_stopLock);
                m_stopWake.wait_for(guard, std::chrono::milliseconds(nextTry - now),
                                    [this] { return m_bStop; });
                continue;
            }
            m_connection.SetWill(Topic("status"), StatusPayload(false));
            if (!m_connection.Connect(error)) {
                SetState(State::UNREACHABLE,
                         "cannot reach " + DescribeEndpoint(m_settings.endpoint) + " (" + error +
                             "); trying again",
                         true);
                nextTry = SteadyMs() + retryMs;
                retryMs = std::min(retryMs * 2, LONGEST_RETRY_MS);
                continue;
            }
            session = true;
            m_bRefused = false;
        }
        const bool busy = m_bConnected && (m_queue.Count() > 0 || m_nInFlight > 0);
        if (!m_connection.Loop(busy ? 0 : IDLE_LOOP_MS, error)) {
            session = false;
            const bool planned = m_bSwitching;
            m_bSwitching = false;
            if (planned) {
                nextTry = 0;
                m_bQuietConnect = true;
            } else if (m_bRefused) {
                nextTry = SteadyMs() + REFUSED_RETRY_MS;
            } else {
                if (m_bConnected)
                    retryMs = FIRST_RETRY_MS;
                SetState(State::UNREACHABLE,
                         "lost " + DescribeEndpoint(m_settings.endpoint) + " (" + error + "); trying again",
                         true);
                nextTry = SteadyMs() + retryMs;
                retryMs = std::min(retryMs * 2, LONGEST_RETRY_MS);
            }
            m_bConnected = false;
            continue;
        }
        if (!m_bConnected)
            continue;
        retryMs = FIRST_RETRY_MS;
        PublishErrors();
        if (!m_bSwitching)
            Drain();
        PublishNodes(false);
        ReportDrops(false);
        if (m_bSwitching && m_nInFlight == 0)
            m_connection.Disconnect();
    }

    m_nUnpublished = m_queue.Count();
    if (m_bConnected) {
        // A clean end sends no will: the offline status is ours to send.
        PublishNodes(true);
        PublishCounted(Topic("status"), StatusPayload(false), true);
        const int64_t until = SteadyMs() + 1000;
        while (m_nInFlight > 0 && SteadyMs() < until && m_connection.Loop(IDLE_LOOP_MS, error)) {
        }
        m_connection.Disconnect();
        m_connection.Loop(0, error);
        m_bConnected = false;
    }
    ReportDrops(true);
    if (m_nUnpublished > 0)
        Report(std::to_string(m_nUnpublished.load()) + " lines were never published (no broker took them)");
}

void CMqttPublisher::OnConnected(int code)
{
    if (code != 0) {
        m_bRefused = true;
        SetState(State::REFUSED,
                 DescribeEndpoint(m_settings.endpoint) +
                     " refused the connection: " + CMqttConnection::RefusalText(code),
                 true);
        return;
    }
    m_bConnected = true;
    m_nInFlight = 0;
    if (m_settings.bCommands) {
        m_strCmdTopic = Topic("cmd");
        m_connection.Subscribe(m_strCmdTopic);
    }
    PublishCounted(Topic("status"), StatusPayload(true), true);
    m_bNodesDirty = !m_nodes.Empty();
    // A new connection for a new dongle name is no news to the user.
    SetState(State::CONNECTED, "connected to " + DescribeEndpoint(m_settings.endpoint), !m_bQuietConnect);
    m_bQuietConnect = false;
}

void CMqttPublisher::OnPublished(int)
{
    if (m_nInFlight > 0)
        --m_nInFlight;
}

void CMqttPublisher::OnMessage(const char* topic, const void* payload, int length)
{
    if (!m_settings.bCommands || m_strCmdTopic != topic)
        return;
    if (length > LONGEST_COMMAND) {
        PublishCommandError("", "a command of " + std::to_string(length) + " bytes is too long");
        return;
    }
    // One command a line, as on standard input.
    const std::string text(static_cast<const char*>(payload), static_cast<size_t>(length));
    size_t start = 0;
    bool added = false;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string command = text.substr(start, end - start);
        start = end + 1;
        if (!command.empty() && command.back() == '\r')
            command.pop_back();
        if (command.find_first_not_of(" \t") == std::string::npos)
            continue;
        std::unique_lock<std::mutex> guard(m_commandLock);
        if (m_commands.size() >= MOST_COMMANDS_WAITING) {
            guard.unlock();
            PublishCommandError(command, "too many commands waiting; not taken");
            continue;
        }
        m_commands.push_back(command);
        added = true;
    }
    if (added && m_pNotify != nullptr)
        m_pNotify->PostCommandReady();
}

void CMqttPublisher::PublishCounted(const std::string& topic, const std::string& payload, bool retain)
{
    int mid = 0;
    if (m_connection.Publish(topic, payload, 1, retain, &mid))
        ++m_nInFlight;
}

void CMqttPublisher::PublishErrors()
{
    std::deque<std::string> errors;
    {
        std::lock_guard<std::mutex> guard(m_commandLock);
        errors.swap(m_errors);
    }
    for (const std::string& error : errors)
        PublishCounted(Topic("cmd/error"), error, false);
}

void CMqttPublisher::Drain()
{
    PublishSlot slot;
    for (int i = 0; i < LINES_PER_PASS && m_nInFlight < IN_FLIGHT_WINDOW && !m_bSwitching; ++i) {
        if (!m_queue.Take(slot))
            return;
        PublishLine(slot);
    }
}

void CMqttPublisher::PublishLine(const PublishSlot& slot)
{
    LineFields fields;
    const bool parsed = ParseLogLine(slot.szLine, fields);
    std::string ieee;
    uint16_t shortAddr = 0;
    if (parsed && DongleIdentityOf(fields, ieee, shortAddr) &&
        (ieee != m_strIeee || shortAddr != m_nShortAddr)) {
        if (ieee != m_strIeee) {
            // The old name's retained messages would describe a dongle no longer there.
            PublishCounted(Topic("status"), "", true);
            PublishCounted(Topic("nodes"), "", true);
            m_strDongle = ieee;
            // The will and the command topic go with the connection: a new one once
            // what is in flight has landed.
            m_bSwitching = true;
            m_bNodesDirty = !m_nodes.Empty();
        }
        m_strIeee = ieee;
        m_nShortAddr = shortAddr;
        if (!m_bSwitching)
            PublishCounted(Topic("status"), StatusPayload(true), true);
    }
    PublishCounted(Topic("log"), slot.szLine, false);
    if (parsed) {
        const int64_t utcMs = LineUtcMs(fields.nMsOfDay, slot.nUtcMs);
        const std::string leaf = "node/" + AddressText(fields.nAddr) + "/" + TopicLevel(fields.strName);
        PublishCounted(Topic(leaf.c_str()), MessageJson(fields, utcMs), false);
        m_bNodesDirty = m_nodes.Add(fields, slot.bNamesNode, utcMs) || m_bNodesDirty;
    }
    ++m_nPublished;
}

void CMqttPublisher::PublishNodes(bool force)
{
    const int64_t now = SteadyMs();
    if (!m_bNodesDirty || (!force && now < m_nNextNodesMs) || m_bSwitching)
        return;
    PublishCounted(Topic("nodes"), m_nodes.Json(), true);
    m_bNodesDirty = false;
    m_nNextNodesMs = now + NODES_INTERVAL_MS;
}

void CMqttPublisher::ReportDrops(bool force)
{
    const long long dropped = m_queue.Dropped();
    const int64_t now = SteadyMs();
    if (dropped == m_nDropsReported || (!force && now < m_nNextDropReportMs))
        return;
    m_nDropsReported = dropped;
    m_nNextDropReportMs = now + DROP_REPORT_INTERVAL_MS;
    Report(std::to_string(dropped) + " lines not published so far: the queue of " +
           std::to_string(m_queue.Capacity()) + " lines was full");
}
