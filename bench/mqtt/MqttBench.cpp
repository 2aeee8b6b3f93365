// Publishing figures: the simulator's flood at full speed into a capture, once with no
// publisher and once publishing to a local broker started here.
//   tessarin-bench-mqtt [--frames N]

#include <arpa/inet.h>
#include <csignal>
#include <fcntl.h>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "link/DongleLink.h"
#include "mqtt/MqttPublisher.h"

namespace {

using Clock = std::chrono::steady_clock;

pid_t Spawn(std::vector<std::string> args, bool waitForLine)
{
    int out[2];
    if (pipe(out) != 0)
        return -1;
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(&a[0]);
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        // The broker's chatter goes nowhere.
        const int quiet = waitForLine ? out[1] : open("/dev/null", O_WRONLY);
        dup2(quiet, STDOUT_FILENO);
        dup2(quiet, STDERR_FILENO);
        close(out[0]);
        close(out[1]);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(out[1]);
    char c = 0;
    pollfd pfd = {out[0], POLLIN, 0};
    // The simulator's first line says its link is in place.
    while (waitForLine && poll(&pfd, 1, 10000) > 0 && read(out[0], &c, 1) == 1 && c != '\n') {
    }
    close(out[0]);
    return pid;
}

void Stop(pid_t pid)
{
    int status;
    kill(pid, SIGTERM);
    waitpid(pid, &status, 0);
}

int FreePort()
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof addr;
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length) != 0)
        return 0;
    close(fd);
    return ntohs(addr.sin_port);
}

// Counts the lines the capture forms and hands them on to the publisher, if any.
class CCountingTap : public ILineTap {
public:
    explicit CCountingTap(ILineTap* next) : m_pNext(next) {}
    void TapLine(const char* line, bool bNamesNode) override
    {
        if (m_pNext != nullptr)
            m_pNext->TapLine(line, bNamesNode);
        if (++m_nLines == m_nExpected)
            m_done = Clock::now();
    }
    void Expect(long count) { m_nExpected = count; }
    long Lines() const { return m_nLines.load(); }
    Clock::time_point Done() const { return m_done; }

private:
    ILineTap* m_pNext;
    std::atomic<long> m_nLines{0};
    long m_nExpected = 0;
    Clock::time_point m_done;
};

class CStderr : public IWarningSink, public IMqttReport {
public:
    void ShowWarning(const char* text) override { std::fprintf(stderr, "warning: %s\n", text); }
    void MqttReport(const char* text) override { std::fprintf(stderr, "MQTT: %s\n", text); }
};

void Flood(long frames, CMqttPublisher* publisher)
{
    const pid_t sim = Spawn({TESSARIN_SIM_PATH, "--flood", std::to_string(frames), "--seed", "3"}, true);
    CStderr sink;
    CCountingTap tap(publisher);
    const long expected = frames + 4;   // PING, its answer, GET_DEVICE_INFO, its answer
    tap.Expect(expected);
    CDongleLink link;
    link.SetWarningSink(&sink);
    link.SetLineTap(&tap);
    const std::string log = "/tmp/tessarin-bench-mqtt.log";
    DongleMessage ping;
    if (!link.StartCapture("COM21", log.c_str(), 0) || !link.SendDongleMessage(ping)) {
        std::fprintf(stderr, "the capture did not start\n");
        std::exit(1);
    }
    const Clock::time_point t0 = Clock::now();
    while (tap.Lines() < expected && Clock::now() - t0 < std::chrono::seconds(60))
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    while (publisher != nullptr && publisher->Published() + publisher->Dropped() < expected &&
           Clock::now() - t0 < std::chrono::seconds(60))
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const Clock::time_point published = Clock::now();
    link.StopCapture();
    link.SetLineTap(nullptr);
    Stop(sim);
    std::remove(log.c_str());

    const double capture = std::chrono::duration<double>(tap.Done() - t0).count();
    std::printf("%s: %ld frames captured in %.3f s: %.0f frames/s\n",
                publisher ? "publishing" : "not publishing", frames, capture,
                static_cast<double>(frames) / capture);
    if (publisher != nullptr) {
        const double all = std::chrono::duration<double>(published - t0).count();
        std::printf(
            "  published %lld lines (log line and JSON each) in %.3f s: %.0f frames/s; %lld dropped\n",
            publisher->Published(), all, static_cast<double>(publisher->Published()) / all,
            publisher->Dropped());
    }
}

}   // namespace

int main(int argc, char** argv)
{
    long frames = 20000;
    if (argc == 3 && std::string(argv[1]) == "--frames")
        frames = std::atol(argv[2]);
    const int port = FreePort();
    const std::string conf = "/tmp/tessarin-bench-mqtt.conf";
    std::ofstream(conf) << "listener " << port << " 127.0.0.1\nallow_anonymous true\nuser root\n";
    const pid_t broker = Spawn({"/usr/sbin/mosquitto", "-c", conf}, false);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));

    Flood(frames, nullptr);
    CMqttPublisher publisher;
    CStderr report;
    MqttSettings settings;
    settings.strPortName = "COM21";
    std::string error;
    if (!ParseMqttUrl("mqtt://127.0.0.1:" + std::to_string(port), settings.endpoint, error) ||
        !publisher.Start(settings, &report, nullptr, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    Flood(frames, &publisher);
    publisher.Stop();
    Stop(broker);
    std::remove(conf.c_str());
    return 0;
}
