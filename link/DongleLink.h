#pragma once
// The capture engine: the one object that talks to the Location Dongle. It starts and
// stops a capture (port, log file, capture thread), turns every frame received and every
// message sent into a log line, writes the line to the log file and queues it in the Data
// Buffer with one announcement to the notify window. It keeps the dongle identity.
//
// StartCapture, StopCapture, SetNotifyWindow, SetWarningSink and SetLineTap belong to the owner's
// thread. SendDongleMessage, AddLine, GetDongleInfo and GetLineCounter may be called
// from any thread.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "link/ComPort.h"
#include "link/DataBuffer.h"
#include "link/DongleMessage.h"
#include "link/LinkNotify.h"
#include "link/LogFile.h"
#include "link/MsgCodec.h"
#include "platform/PortWatcher.h"

// Longest log line, without its terminating zero.
constexpr int MAX_LINE_LENGTH = 255;

class CDongleLink {
public:
    CDongleLink();
    // Stops a running capture first.
    virtual ~CDongleLink();

    // 1 when the capture runs; 0 after a warning that says why not.
    int StartCapture(const char* portName, const char* logFileName, int bAppend);
    // 1 when it stopped a running capture; 0 when none ran.
    int StopCapture();
    // 1 when the frame was written whole; 0 when not capturing, on an unknown type
    // (warning "Unknown message type") or on a short write.
    int SendDongleMessage(const DongleMessage& msg);

    // Both seams are set while idle and must outlive every capture that uses them.
    void SetNotifyWindow(ILineReadyNotify* pNotify);
    // Where warnings go; null restores the default, which writes them to stderr.
    void SetWarningSink(IWarningSink* pSink);
    // A second reader of every line (a publisher); null for none.
    void SetLineTap(ILineTap* pTap);
    // Stores the address of the engine's Data Buffer; returns 1.
    int GetDataBuffer(CDataBuffer** ppDataBuffer);
    // False while the dongle identity is unknown; otherwise both addresses of one answer.
    bool GetDongleInfo(int* pShortAddr, uint64_t* pIeeeAddr);
    // Writes the line to the log file and queues it; 1 when queued and announced, 0 when
    // the Data Buffer refused it. bNamesNode false: the line's address is no node's.
    int AddLine(const char* line, bool bNamesNode = true);

    // Lines handed to the owner since the engine was made; never reset.
    int GetLineCounter() const { return m_nLineCounter.load(); }
    bool IsCapturing() const { return m_bRunning.load() != 0; }
    // True while the port's device is away (unplugged, hung up) during this capture: the
    // dongle identity is then unknown, and the capture idles until the same device (by
    // its identity, see ComPortIdentity) is back, when it is reopened and pinged and the
    // capture goes on with the same log file and Data Buffer; or until stopped.
    bool IsDeviceGone() const { return m_bDeviceGone.load(); }
    // How often the device came back so; raised after IsDeviceGone turned false, so a
    // caller that reads this first and then IsDeviceGone never sees a return still gone.
    int GetDeviceReturns() const { return m_nDeviceReturns.load(); }

    // The capture thread's body; returns 0.
    static unsigned CaptureThread(CDongleLink* pLink);

    // Receive handlers, run on the capture thread.
    int OnDataIndication(const uint8_t* data, int length);
    int OnPingResponse();
    void OnDeviceInfo(const uint8_t* data, int length);

private:
    void Warn(const char* text);
    void SetDongleUnknown();
    // Waits firstWait (a device that keeps hanging up), then until the device is back
    // and reopened or the capture is stopped.
    void AwaitDeviceBack(std::chrono::milliseconds firstWait);
    bool ReopenPort();

    std::atomic<ILineReadyNotify*> m_pNotifyWindow;
    std::unique_ptr<std::thread> m_pCaptureThread;
    std::unique_ptr<CLogFile> m_pLogFile;
    CDataBuffer m_dataBuffer;
    CMsgCodec m_codec;
    CComPort m_port;
    std::atomic<int> m_bRunning;
    std::atomic<int> m_nLineCounter;
    std::mutex m_identityLock;
    int m_nDongleShortAddr;
    uint64_t m_nDongleIeeeAddr;
    std::atomic<IWarningSink*> m_pWarningSink;
    std::atomic<ILineTap*> m_pLineTap{nullptr};
    std::atomic<bool> m_bDeviceGone;
    std::atomic<int> m_nDeviceReturns{0};
    std::mutex m_stopLock;   // with m_stopWake: a stop wakes a capture that idles
    std::condition_variable m_stopWake;
    // The port's name and its device's identity, kept from the start for reopening;
    // capture thread while it runs.
    std::string m_strPortName;
    std::string m_strPortIdentity;
    CPortWatcher m_deviceWatcher;
};
