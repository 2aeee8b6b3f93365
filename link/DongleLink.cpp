#include "link/DongleLink.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <new>
#include <string>
#include <system_error>

#include "link/Frame.h"
#include "link/LogLine.h"
#include "platform/ComPortNames.h"

namespace {

constexpr int CAPTURE_BAUD_RATE = 38400;
constexpr uint16_t DONGLE_ADDR = 0x0000;   // the dongle's own lines show this address
// A device that hangs up again before a frame came is reopened no faster than this
// doubling wait allows, so that a faulty one cannot fill the log with pings.
constexpr std::chrono::milliseconds FIRST_REOPEN_WAIT{50};
constexpr std::chrono::milliseconds LAST_REOPEN_WAIT{2000};
// Without events from the OS, a gone device is looked for this often.
constexpr std::chrono::milliseconds DEVICE_RETRY{1000};

std::string WithName(const char* text, const char* name)
{
    return std::string(text) + (name ? name : "");
}

// What each outgoing message type becomes: its log name, the dongle command that carries
// it, whether its line shows the dongle's address, and the encoder of the payload after
// the tag (none for the dongle's own commands).
struct OutgoingMessage {
    uint32_t type;
    const char* name;
    uint16_t command;
    bool bToDongle;
    int (*encode)(const CMsgCodec& codec, uint8_t* out, const uint32_t* w);
};

uint16_t Word16(uint32_t w)
{
    return static_cast<uint16_t>(w);
}
uint8_t Byte(uint32_t w)
{
    return static_cast<uint8_t>(w);
}

const OutgoingMessage kOutgoing[] = {
    {MSG_PING_REQUEST, "PING_REQUEST", CMD_PING_REQUEST, true, nullptr},
    {MSG_GET_DEVICE_INFO, "GET_DEVICE_INFO", CMD_GET_DEVICE_INFO, true, nullptr},
    {MSG_XY_RSSI_REQ, "XY_RSSI_REQ", CMD_DATA_REQUEST, false,
     [](const CMsgCodec& c, uint8_t* out, const uint32_t* w) {
         return c.EncodeXyRssiReq(out, Word16(w[1]));
     }},
    {MSG_BLIND_FIND_REQ, "BLIND_FIND_REQ", CMD_DATA_REQUEST, false,
     [](const CMsgCodec& c, uint8_t* out, const uint32_t* w) {
         return c.EncodeBlindFindReq(out, Word16(w[1]));
     }},
    {MSG_REF_NODE_CONF, "REF_NODE_CONF", CMD_DATA_REQUEST, false,
     [](const CMsgCodec& c, uint8_t* out, const uint32_t* w) {
         return c.EncodeRefNodeConf(out, Word16(w[1]), Word16(w[2]), Word16(w[3]));
     }},
    {MSG_BLIND_NODE_CONF, "BLIND_NODE_CONF", CMD_DATA_REQUEST, false,
     [](const CMsgCodec& c, uint8_t* out, const uint32_t* w) {
         return c.EncodeBlindNodeConf(out, Word16(w[1]), Byte(w[2]), Byte(w[3]), Byte(w[4]), Word16(w[5]),
                                      Word16(w[6]), Word16(w[7]), Byte(w[8]), Byte(w[9]));
     }},
    {MSG_REF_NODE_REQ_CONF, "REF_NODE_REQ_CONF", CMD_DATA_REQUEST, false,
     [](const CMsgCodec& c, uint8_t* out, const uint32_t* w) {
         return c.EncodeRefNodeReqConf(out, Word16(w[1]));
     }},
    {MSG_BLIND_NODE_REQ_CONF, "BLIND_NODE_REQ_CONF", CMD_DATA_REQUEST, false,
     [](const CMsgCodec& c, uint8_t* out, const uint32_t* w) {
         return c.EncodeBlindNodeReqConf(out, Word16(w[1]));
     }},
};

const OutgoingMessage* FindOutgoing(uint32_t type)
{
    for (const OutgoingMessage& m : kOutgoing) {
        if (m.type == type)
            return &m;
    }
    return nullptr;
}

}   // namespace

CDongleLink::CDongleLink()
    : m_pNotifyWindow(nullptr),
      m_bRunning(0),
      m_nLineCounter(0),
      m_nDongleShortAddr(-1),
      m_nDongleIeeeAddr(0),
      m_pWarningSink(nullptr),
      m_bDeviceGone(false)
{
}

CDongleLink::~CDongleLink()
{
    StopCapture();
    if (m_pLogFile)
        m_pLogFile->Close();
}

void CDongleLink::Warn(const char* text)
{
    IWarningSink* sink = m_pWarningSink.load();
    if (sink != nullptr) {
        sink->ShowWarning(text);
        return;
    }
    // Nobody to show it: standard error is all there is, and a failure there is moot.
    std::fprintf(stderr, "%s\n", text);
    std::fflush(stderr);
}

void CDongleLink::SetDongleUnknown()
{
    std::lock_guard<std::mutex> guard(m_identityLock);
    m_nDongleShortAddr = -1;
}

int CDongleLink::StartCapture(const char* portName, const char* logFileName, int bAppend)
{
    if (m_bRunning.load() != 0) {
        Warn("Capture already active!");
        return 0;
    }
    if (!m_pLogFile) {
        m_pLogFile.reset(new (std::nothrow) CLogFile);
        if (!m_pLogFile) {
            Warn("Not able to create Log File object");
            return 0;
        }
    }
    if (!m_pLogFile->Open(logFileName, bAppend ? "at" : "wt")) {
        Warn(WithName("Not able to Open Log File: ", logFileName).c_str());
        return 0;
    }
    if (!m_port.Open(MAX_RX_DATA_LENGTH, portName, CAPTURE_BAUD_RATE)) {
        // The log file stays open: the next start goes on writing to it.
        std::string text = WithName("Not able to Open Com Port: ", portName);
        const std::string hint = ComPortAccessHint(portName);
        if (!hint.empty())
            text += "\n" + hint;
        Warn(text.c_str());
        return 0;
    }

    m_strPortName = portName;
    m_strPortIdentity = ComPortIdentity(portName);
    m_bDeviceGone = false;
    m_bRunning = 1;
    try {
        m_pCaptureThread.reset(new std::thread(CaptureThread, this));
    } catch (const std::exception&) {
        // No thread (no memory, no room for its stack): undo the start, or the engine
        // would claim a capture that nothing runs.
        m_pCaptureThread.reset();
        m_bRunning = 0;
        m_port.Close();
        m_pLogFile->Close();
        Warn("Not able to create Capture thread");
        return 0;
    }
    return 1;
}

int CDongleLink::StopCapture()
{
    if (m_bRunning.load() == 0)
        return 0;
    {
        // Under the lock the capture thread waits with, so a wake-up cannot slip between
        // its test of the flag and its wait.
        std::lock_guard<std::mutex> guard(m_stopLock);
        m_bRunning = 0;
    }
    m_stopWake.notify_all();
    m_deviceWatcher.Wake();   // a capture waiting for its device
    if (!m_pCaptureThread)
        return 0;

    m_pCaptureThread->join();
    m_pCaptureThread.reset();
    m_port.Close();
    if (m_pLogFile)
        m_pLogFile->Close();
    SetDongleUnknown();
    m_bDeviceGone = false;
    return 1;
}

int CDongleLink::SendDongleMessage(const DongleMessage& msg)
{
    if (m_bRunning.load() == 0)
        return 0;

    const OutgoingMessage* const out = FindOutgoing(msg.word[0]);
    if (!out) {
        Warn("Unknown message type");
        return 0;
    }
    // Unknown from the request on: only the answer it brings may make it known again.
    if (msg.word[0] == MSG_PING_REQUEST)
        SetDongleUnknown();
    uint8_t data[MAX_TX_DATA_LENGTH];
    data[0] = MSG_TAG_FIRST;
    const int length = out->encode ? 1 + out->encode(m_codec, data + 1, msg.word) : 0;
    const uint16_t command = out->command;
    const uint16_t lineAddr = out->bToDongle ? DONGLE_ADDR : static_cast<uint16_t>(msg.word[1]);
    const char* const name = out->name;

    uint8_t frame[MAX_TX_FRAME];
    const int frameSize = BuildFrame(command, data, length, frame);

    char hex[3 * MAX_TX_DATA_LENGTH + 1];
    FormatHexText(data + 1, length > 0 ? length - 1 : 0, hex, static_cast<int>(sizeof hex));
    char line[LOG_LINE_SIZE];
    FormatLogLine(line, CurrentUtcTimeOfDay(), true, lineAddr, name, hex);
    // Logged before the write, so a send that then fails still shows.
    AddLine(line);
    if (m_port.SendFrame(frameSize, frame) == frameSize)
        return 1;
    // The line above stands for a message that did not leave. The file cannot take it
    // back, so a line of the log's own form follows that says so.
    FormatLogLine(line, CurrentUtcTimeOfDay(), true, lineAddr, "SEND_FAILED", hex);
    AddLine(line);
    return 0;
}

const char* DongleMessageName(uint32_t type)
{
    const OutgoingMessage* const out = FindOutgoing(type);
    return out ? out->name : nullptr;
}

void CDongleLink::SetNotifyWindow(ILineReadyNotify* pNotify)
{
    m_pNotifyWindow = pNotify;
}

void CDongleLink::SetWarningSink(IWarningSink* pSink)
{
    m_pWarningSink = pSink;
}

void CDongleLink::SetLineTap(ILineTap* pTap)
{
    m_pLineTap = pTap;
}

int CDongleLink::GetDataBuffer(CDataBuffer** ppDataBuffer)
{
    if (ppDataBuffer != nullptr)
        *ppDataBuffer = &m_dataBuffer;
    return 1;
}

bool CDongleLink::GetDongleInfo(int* pShortAddr, uint64_t* pIeeeAddr)
{
    std::lock_guard<std::mutex> guard(m_identityLock);
    if (m_nDongleShortAddr < 0)
        return false;
    if (pShortAddr != nullptr)
        *pShortAddr = m_nDongleShortAddr;
    if (pIeeeAddr != nullptr)
        *pIeeeAddr = m_nDongleIeeeAddr;
    return true;
}

int CDongleLink::AddLine(const char* line, bool bNamesNode)
{
    if (m_pLogFile && !m_pLogFile->WriteLine(line))
        Warn("Not able to add message to Log File");
    ILineTap* tap = m_pLineTap.load();
    if (tap != nullptr)
        tap->TapLine(line, bNamesNode);
    if (m_dataBuffer.Put(line, bNamesNode) != CDataBuffer::DONE)
        return 0;
    ++m_nLineCounter;
    ILineReadyNotify* notify = m_pNotifyWindow.load();
    if (notify != nullptr)
        notify->PostLineReady();
    return 1;
}

unsigned CDongleLink::CaptureThread(CDongleLink* pLink)
{
    uint8_t data[MAX_RX_DATA_LENGTH];
    auto reopenWait = FIRST_REOPEN_WAIT;
    bool framesSinceOpen = true;
    while (pLink->m_bRunning.load() != 0) {
        int command = 0;
        int length = 0;
        if (pLink->m_port.ReceiveFrame(command, length, data)) {
            framesSinceOpen = true;
            if (length <= 0)
                continue;
            switch (command) {
            case CMD_DATA_INDICATION:
            case CMD_DATA_REQUEST:
                pLink->OnDataIndication(data, length);
                break;
            case CMD_PING_RESPONSE:
                pLink->OnPingResponse();
                break;
            case CMD_DEV_INFO_RSP:
                pLink->OnDeviceInfo(data, length);
                break;
            default:
                break;
            }
        } else if (pLink->m_port.IsGone()) {
            if (framesSinceOpen)
                reopenWait = FIRST_REOPEN_WAIT;
            pLink->AwaitDeviceBack(framesSinceOpen ? std::chrono::milliseconds(0) : reopenWait);
            if (!framesSinceOpen)
                reopenWait = std::min(reopenWait * 2, LAST_REOPEN_WAIT);
            framesSinceOpen = false;
        }
    }
    pLink->m_bRunning = 0;
    return 0;
}

void CDongleLink::AwaitDeviceBack(std::chrono::milliseconds firstWait)
{
    // Every read now fails at once: looping on would spin. The frames already read were
    // delivered before the reader ran dry; the dongle is no longer known to be there.
    m_bDeviceGone = true;
    SetDongleUnknown();
    // The descriptor of a gone device serves nothing, and its lock file must go now.
    m_port.Close();
    {
        std::unique_lock<std::mutex> guard(m_stopLock);
        m_stopWake.wait_for(guard, firstWait, [this] { return m_bRunning.load() == 0; });
        if (!CPortWatcher::FollowsDevices()) {
            m_stopWake.wait(guard, [this] { return m_bRunning.load() == 0; });
            return;
        }
    }
    // Events are only hints: a device back before the watch began is found by the first
    // try, and the timed tries cover a watch that could not be set. The capture thread
    // has nothing else to do, so it waits in the watch itself: no thread is made.
    const bool watching = m_deviceWatcher.Watch();
    while (m_bRunning.load() != 0 && !ReopenPort()) {
        if (watching) {
            m_deviceWatcher.WaitForChange(static_cast<int>(4 * DEVICE_RETRY.count()));
            continue;
        }
        std::unique_lock<std::mutex> guard(m_stopLock);
        m_stopWake.wait_for(guard, DEVICE_RETRY, [this] { return m_bRunning.load() == 0; });
    }
    m_deviceWatcher.Stop();
    if (m_bRunning.load() == 0)
        return;   // stopped while away: StopCapture closes what is left
    m_bDeviceGone = false;
    ++m_nDeviceReturns;
    // As at a start: the answer makes the dongle known again.
    SendDongleMessage(DongleMessage());
}

bool CDongleLink::ReopenPort()
{
    // Another device now under the same name (a second dongle) is not this capture's.
    if (ComPortIdentity(m_strPortName.c_str()) != m_strPortIdentity)
        return false;
    return m_port.Open(MAX_RX_DATA_LENGTH, m_strPortName.c_str(), CAPTURE_BAUD_RATE);
}

int CDongleLink::OnDataIndication(const uint8_t* data, int length)
{
    MsgHeader header;
    m_codec.DecodeMsgHeader(data, length, header);

    // A cluster outside the table is shown as a number, never looked up.
    char clusterText[8];
    const char* name = ClusterName(header.nCluster);
    if (name == nullptr) {
        std::snprintf(clusterText, sizeof clusterText, "0x%04X", static_cast<unsigned>(header.nCluster));
        name = clusterText;
    }

    char hex[3 * MAX_RX_DATA_LENGTH + 1];
    FormatHexText(header.data, header.nDataCount, hex, static_cast<int>(sizeof hex));
    char line[LOG_LINE_SIZE];
    FormatLogLine(line, CurrentUtcTimeOfDay(), false, header.nAddr, name, hex);
    // Too short for the header, its address and kind are guesses: logged, but it must not
    // give a node an entry whose kind would then stay.
    AddLine(line, length >= MSG_HEADER_LENGTH);
    return 1;
}

int CDongleLink::OnPingResponse()
{
    char line[LOG_LINE_SIZE];
    FormatLogLine(line, CurrentUtcTimeOfDay(), false, DONGLE_ADDR, "PING_RESPONSE", nullptr);
    if (AddLine(line) == 0) {
        Warn("Not able log Ping Response");
        return 0;
    }
    DongleMessage request;
    request.word[0] = MSG_GET_DEVICE_INFO;
    return SendDongleMessage(request);
}

void CDongleLink::OnDeviceInfo(const uint8_t* data, int length)
{
    // Shorter than the device information: logged, but no identity can come of it.
    DeviceInfo info;
    if (m_codec.DecodeDeviceInfo(data, length, info) && info.nStatus == 0) {
        std::lock_guard<std::mutex> guard(m_identityLock);
        m_nDongleShortAddr = info.nShortAddr;
        m_nDongleIeeeAddr = info.nIeeeAddr;
    }

    int count = length < MAX_RX_DATA_LENGTH ? length : MAX_RX_DATA_LENGTH;
    if (count < 0)
        count = 0;
    char hex[3 * MAX_RX_DATA_LENGTH + 1];
    FormatHexText(data, count, hex, static_cast<int>(sizeof hex));
    char line[LOG_LINE_SIZE];
    FormatLogLine(line, CurrentUtcTimeOfDay(), false, DONGLE_ADDR, "DEV_INFO_RSP", hex);
    AddLine(line);
}
