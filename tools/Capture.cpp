// tessarin-capture: a capture without a window. It runs a capture exactly as the
// window's Start does, prints every line it takes from the Data Buffer on standard
// output and takes node commands on standard input. Written with the standard library
// alone, so that the same program serves Linux and Windows.

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "link/DataBuffer.h"
#include "link/DongleLink.h"
#include "link/LinkNotify.h"
#include "app/settings/TessarinSettings.h"
#include "platform/ComPortNames.h"
#include "mqtt/MqttPublisher.h"
#include "mqtt/MqttToolOptions.h"
#include "tools/CaptureCommands.h"

namespace {

using Clock = std::chrono::steady_clock;

const char PROGRAM[] = "tessarin-capture";
const char PING_FAILED[] =
    "Not able to send PING!\nNote that \"Capture\" should be started before PING can be sent.";

// A signal handler may only set a flag; the main loop looks at it on every wake-up.
std::atomic<bool> g_bStopSignal{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the stop flag is set from a signal handler");

extern "C" void OnStopSignal(int)
{
    g_bStopSignal = true;
}

void CatchStopSignals()
{
    std::signal(SIGINT, OnStopSignal);
    std::signal(SIGTERM, OnStopSignal);
#ifdef SIGHUP
    // Started under nohup (SIGHUP ignored): stay ignored, as the user asked.
    if (std::signal(SIGHUP, OnStopSignal) == SIG_IGN)
        std::signal(SIGHUP, SIG_IGN);
#endif
#ifdef SIGPIPE
    // A closed standard output shows as a failed write, handled where it happens.
    std::signal(SIGPIPE, SIG_IGN);
#endif
}

// Everything the main thread waits for, under one lock: line announcements from the
// capture thread (counted, so a burst of lines costs one wake-up) and one command line at
// a time from the input reader, which waits until its line is taken: input is read only
// as fast as commands are carried out, however fast it comes.
class CEvents : public ILineReadyNotify, public IMqttCommandNotify {
public:
    void PostLineReady() override
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_nLinesReady++ == 0)
            m_wake.notify_one();
    }

    // The reader's side: hands line over and waits until it is taken; false once the
    // tool has closed this, when nothing more is taken.
    bool PostCommand(std::string& line)
    {
        std::unique_lock<std::mutex> guard(m_lock);
        m_taken.wait(guard, [this] { return !m_bCommand || m_bClosed; });
        if (m_bClosed)
            return false;
        m_command.swap(line);
        m_bCommand = true;
        m_wake.notify_one();
        return true;
    }

    // Commands from the broker wait in the publisher; this only wakes the loop.
    void PostCommandReady() override
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_bBrokerCommand = true;
        m_wake.notify_one();
    }

    void PostEndOfInput()
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_bEndOfInput = true;
        m_wake.notify_one();
    }

    // Waits until something has come or the time is up; hands over the lines announced,
    // the command waiting (if any, and if takeCommand) and whether the input has ended.
    void Wait(Clock::time_point until, int& linesReady, std::string& command, bool& hasCommand,
              bool& endOfInput, bool takeCommand = true)
    {
        std::unique_lock<std::mutex> guard(m_lock);
        m_wake.wait_until(guard, until, [&] {
            return m_nLinesReady > 0 || (takeCommand && m_bCommand) || m_bEndOfInput || m_bBrokerCommand;
        });
        m_bBrokerCommand = false;
        linesReady = m_nLinesReady;
        m_nLinesReady = 0;
        hasCommand = takeCommand && m_bCommand;
        if (hasCommand) {
            command.swap(m_command);
            m_bCommand = false;
            m_taken.notify_one();
        }
        endOfInput = m_bEndOfInput && !hasCommand;
        if (endOfInput)
            m_bEndOfInput = false;
    }

    int TakeLinesReady()
    {
        std::lock_guard<std::mutex> guard(m_lock);
        const int count = m_nLinesReady;
        m_nLinesReady = 0;
        return count;
    }

    // No more commands are taken: a reader waiting to hand one over returns.
    void Close()
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_bClosed = true;
        m_taken.notify_all();
    }

private:
    std::mutex m_lock;
    std::condition_variable m_wake;
    std::condition_variable m_taken;
    int m_nLinesReady = 0;
    std::string m_command;
    bool m_bCommand = false;
    bool m_bEndOfInput = false;
    bool m_bClosed = false;
    bool m_bBrokerCommand = false;
};

class CStderrWarnings : public IWarningSink, public IMqttReport {
public:
    void ShowWarning(const char* text) override
    {
        // One call per warning: stderr is unbuffered and each call writes whole, so
        // warnings from two threads never mix.
        std::fprintf(stderr, "%s: %s\n", PROGRAM, text);
    }
    void MqttReport(const char* text) override { std::fprintf(stderr, "%s: MQTT: %s\n", PROGRAM, text); }
};

// Reads standard input line by line on a thread of its own. A read that blocks cannot be
// interrupted portably, so the thread may still sit in one when the program ends (with
// _Exit): it shares the ownership of what it uses, and never touches the tool.
void ReadInput(std::shared_ptr<CEvents> events)
{
    char chunk[1024];
    std::string line;
    bool open = true;
    while (open && std::fgets(chunk, sizeof chunk, stdin)) {
        line += chunk;
        if (line.back() != '\n') {
            if (line.size() > 64 * 1024) {
                std::fprintf(stderr, "%s: command line too long, ignored\n", PROGRAM);
                line.clear();
            }
            continue;
        }
        line.pop_back();
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        open = events->PostCommand(line);
        line.clear();
    }
    if (open && !line.empty())
        open = events->PostCommand(line);   // a last line without its line end
    if (open)
        events->PostEndOfInput();
}

void PrintUsage(FILE* out)
{
    std::fprintf(out,
                 "Usage: %s COMn [--log FILE] [--append] [--seconds S] [MQTT options]\n"
                 "\n"
                 "Captures from the Location Dongle on COMn as the window's Start does (the\n"
                 "capture, then a PING). Every log line goes to standard output and to the log\n"
                 "file (default \"Tessarin.log\"; emptied first unless --append).\n"
                 "Stops at the end of standard input plus one second, on SIGINT or SIGTERM\n"
                 "(or SIGHUP), or after S seconds. When the port goes away (a dongle\n"
                 "unplugged), it waits for the same device to come back and goes on;\n"
                 "a command given meanwhile is sent then.\n"
                 "To capture with no commands to give, keep standard input open or give\n"
                 "--seconds.\n"
                 "Exit status: 0 when a capture ran, 1 when it could not start.\n"
                 "\n%s\n%s",
                 PROGRAM, CAPTURE_COMMAND_HELP, MQTT_OPTION_HELP);
}

struct Options {
    std::string strPort;
    std::string strLogFile = "Tessarin.log";
    bool bAppend = false;
    double dSeconds = 0;   // 0: no limit
    MqttToolOptions mqtt;
};

bool ParseOptions(int argc, char** argv, Options& o)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "-h" || arg == "--help") {
            PrintUsage(stdout);
            std::exit(0);
        } else if (arg == "--log") {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "%s: --log needs a file name\n", PROGRAM);
                return false;
            }
            o.strLogFile = argv[++i];
        } else if (arg == "--append") {
            o.bAppend = true;
        } else if (arg == "--seconds") {
            char* end = nullptr;
            const char* text = i + 1 < argc ? argv[i + 1] : "";
            errno = 0;
            o.dSeconds = std::strtod(text, &end);
            if (!*text || *end || errno != 0 || !(o.dSeconds > 0) || o.dSeconds > 1e9) {
                std::fprintf(stderr, "%s: --seconds needs a number of seconds above 0\n", PROGRAM);
                return false;
            }
            ++i;
        } else if (arg.compare(0, 6, "--mqtt") == 0) {
            std::string error;
            if (!ParseMqttToolOption(argc, argv, i, o.mqtt, error)) {
                std::fprintf(stderr, "%s: %s\n", PROGRAM, error.c_str());
                return false;
            }
        } else if (!arg.empty() && arg[0] == '-') {
            std::fprintf(stderr, "%s: unknown option %s\n", PROGRAM, arg.c_str());
            return false;
        } else if (o.strPort.empty()) {
            o.strPort = arg;
        } else {
            std::fprintf(stderr, "%s: one port only (%s, then %s)\n", PROGRAM, o.strPort.c_str(),
                         arg.c_str());
            return false;
        }
    }
    if (o.strPort.empty()) {
        std::fprintf(stderr, "%s: which port? (e.g. COM21)\n", PROGRAM);
        return false;
    }
    std::string error;
    if (!FinishMqttToolOptions(o.mqtt, o.strPort, error)) {
        std::fprintf(stderr, "%s: %s\n", PROGRAM, error.c_str());
        return false;
    }
    return true;
}

class CCaptureTool {
public:
    explicit CCaptureTool(const Options& options) : m_options(options) {}

    // The exit status.
    int Run()
    {
        // A USB dongle goes by the number the window gave it.
        RememberComPortNumbers(LoadComPortIds());
        m_link.SetWarningSink(&m_warnings);
        m_link.SetNotifyWindow(m_pEvents.get());
        m_link.GetDataBuffer(&m_pDataBuffer);
        if (m_options.mqtt.bEnabled) {
            std::string error;
            if (!m_mqtt.Start(m_options.mqtt.settings, &m_warnings, m_pEvents.get(), error)) {
                std::fprintf(stderr, "%s: MQTT: %s\n", PROGRAM, error.c_str());
                return 1;
            }
            m_link.SetLineTap(&m_mqtt);
        }

        if (!m_link.StartCapture(m_options.strPort.c_str(), m_options.strLogFile.c_str(),
                                 m_options.bAppend ? 1 : 0))
            return 1;
        Send(DongleMessage());   // the PING that every start sends
        std::thread(ReadInput, m_pEvents).detach();
        Loop();
        m_pEvents->Close();
        m_link.StopCapture();
        TakeLines(m_pEvents->TakeLinesReady());
        m_link.SetNotifyWindow(nullptr);
        m_link.SetLineTap(nullptr);
        m_mqtt.Stop();
        return 0;
    }

private:
    void Loop()
    {
        Clock::time_point deadline = Clock::time_point::max();
        if (m_options.dSeconds > 0)
            deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                          std::chrono::duration<double>(m_options.dSeconds));
        std::string command;
        // The limit, a signal and a lost port are looked at between any two commands.
        while (!m_bQuit && !g_bStopSignal) {
            const Clock::time_point now = Clock::now();
            if (now >= deadline)
                break;
            TellDeviceState();
            // Wakes now and then for what cannot wake it: a signal, a device gone or back.
            const Clock::time_point until = std::min(deadline, now + std::chrono::milliseconds(200));
            int linesReady = 0;
            bool hasCommand = false;
            bool endOfInput = false;
            // A message held while the port is away stops the input until it is sent.
            m_pEvents->Wait(until, linesReady, command, hasCommand, endOfInput, !m_bHolding);
            // The lines first, so that standard output keeps up with the log file.
            TakeLines(linesReady);
            if (m_bHolding && !m_link.IsDeviceGone()) {
                m_bHolding = false;
                Send(m_held);
            }
            if (hasCommand)
                Command(command, false);
            std::string brokerCommand;
            while (!m_bQuit && !m_bHolding && m_mqtt.TakeCommand(brokerCommand))
                Command(brokerCommand, true);
            if (endOfInput) {
                // A moment for the answers to the last commands.
                deadline = std::min(deadline, Clock::now() + std::chrono::seconds(1));
            }
        }
    }

    // Says when the port went away and when it came back, also when both happened
    // between two looks.
    void TellDeviceState()
    {
        const char* port = m_options.strPort.c_str();
        const int returns = m_link.GetDeviceReturns();   // before the state: see the engine
        if (returns != m_nReturnsTold) {
            if (!m_bToldGone)
                std::fprintf(stderr, "%s: %s has gone away (unplugged or hung up); reconnecting...\n",
                             PROGRAM, port);
            std::fprintf(stderr, "%s: %s is back; capturing again\n", PROGRAM, port);
            m_nReturnsTold = returns;
            m_bToldGone = false;
        }
        if (m_link.IsDeviceGone() && !m_bToldGone) {
            std::fprintf(stderr, "%s: %s has gone away (unplugged or hung up); reconnecting...\n", PROGRAM,
                         port);
            m_bToldGone = true;
        }
    }

    // The same rules whether the line came on standard input or from the broker.
    void Command(const std::string& line, bool fromBroker)
    {
        DongleMessage msg;
        std::string error;
        switch (ParseCaptureCommand(line, msg, error)) {
        case CaptureCommand::SEND:
            if (m_link.IsDeviceGone()) {
                // Sent when the port is back: the commands after it wait, as for any send.
                m_held = msg;
                m_bHolding = true;
            } else {
                Send(msg);
            }
            break;
        case CaptureCommand::HELP:
            std::fputs(CAPTURE_COMMAND_HELP, stderr);
            break;
        case CaptureCommand::QUIT:
            m_bQuit = true;
            break;
        case CaptureCommand::INVALID:
            std::fprintf(stderr, "%s: %s\n", PROGRAM, error.c_str());
            if (fromBroker)
                m_mqtt.PublishCommandError(line, error);
            break;
        case CaptureCommand::NONE:
            break;
        }
    }

    void Send(const DongleMessage& msg)
    {
        if (m_link.SendDongleMessage(msg))
            return;
        if (msg.word[0] == MSG_PING_REQUEST)
            std::fprintf(stderr, "%s: %s\n", PROGRAM, PING_FAILED);
        else
            std::fprintf(stderr, "%s: the message was not sent\n", PROGRAM);
        // Most often the port has gone: the capture thread tells within a moment, and the
        // loop then says so before the next command.
        for (int wait = 0; wait < 20 && !m_link.IsDeviceGone(); ++wait)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }

    // Exactly one line per announcement, as the window takes them.
    void TakeLines(int count)
    {
        char line[CDataBuffer::SLOT_SIZE];
        for (int i = 0; i < count; ++i) {
            if (m_pDataBuffer->Get(line) != CDataBuffer::DONE) {
                std::fprintf(stderr, "%s: Not able to read Data Buffer!\n", PROGRAM);
                continue;
            }
            if (m_bStdoutGone)
                continue;
            std::fputs(line, stdout);
            std::fputc('\n', stdout);
        }
        if (count == 0 || m_bStdoutGone || std::fflush(stdout) == 0)
            return;
        if (errno == EPIPE) {
            // Whoever read our output has gone (| head): there is no one to serve.
            m_bStdoutGone = true;
            m_bQuit = true;
            return;
        }
        if (!m_bStdoutWarned) {
            // The log file still has every line; say so once, not per line.
            std::fprintf(stderr, "%s: standard output: %s (the log file goes on)\n", PROGRAM,
                         std::strerror(errno));
            m_bStdoutWarned = true;
        }
        std::clearerr(stdout);
    }

    Options m_options;
    // Before the engine, which it must outlive; shared with the input reader.
    std::shared_ptr<CEvents> m_pEvents = std::make_shared<CEvents>();
    CStderrWarnings m_warnings;
    CMqttPublisher m_mqtt;   // before the engine, which taps lines into it
    CDongleLink m_link;
    CDataBuffer* m_pDataBuffer = nullptr;
    bool m_bQuit = false;
    bool m_bToldGone = false;
    int m_nReturnsTold = 0;
    DongleMessage m_held;
    bool m_bHolding = false;
    bool m_bStdoutGone = false;
    bool m_bStdoutWarned = false;
};

}   // namespace

int main(int argc, char** argv)
{
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        std::fprintf(stderr, "Try %s --help\n", PROGRAM);
        return 1;
    }
    CatchStopSignals();
    int status;
    {
        CCaptureTool tool(options);
        status = tool.Run();
    }
    // The input reader may still sit in a read; a normal exit would flush its stream
    // under the stream's lock and wait for it.
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(status);
}
