// tessarin-dongle-sim: a simulated Location Dongle with a small network behind it, on a
// pseudo-terminal that the program opens as COM<n>.

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <unistd.h>

#include "sim/DongleSim.h"
#include "sim/PtyLink.h"

namespace {

int g_nStopPipe[2] = {-1, -1};

void OnStopSignal(int)
{
    const int saved = errno;
    const char c = 1;
    // A full pipe already says "stop".
    if (write(g_nStopPipe[1], &c, 1) < 0) {
    }
    errno = saved;
}

void PrintHelp()
{
    std::printf(
        "Usage: tessarin-dongle-sim [options]\n"
        "\n"
        "A simulated Location Dongle on a pseudo-terminal, linked as COM<N> in the\n"
        "ports folder ${XDG_CONFIG_HOME:-$HOME/.config}/tessarin/ports, so that\n"
        "Tessarin and tessarin-capture open it as COM<N>. The first line written to\n"
        "standard output, once the link exists, is the device and the COM name:\n"
        "\n"
        "    /dev/pts/<k> COM<N>\n"
        "\n"
        "Nothing else is written to standard output. The link is removed on SIGINT,\n"
        "SIGTERM or SIGHUP.\n"
        "\n"
        "Options:\n"
        "  --com N          link as COM<N>, 1..29 (default 21)\n"
        "  --force          replace a COM<N> link of a running simulator or of the user\n"
        "                   (ours is removed when we end)\n"
        "  --seed S         seed of the network, noise and flood (default 1)\n"
        "  --quiet          no node reports on its own; answers only\n"
        "  --noise          line noise between frames: garbage, false start bytes,\n"
        "                   bad checksums, length-49 headers, frames to be ignored;\n"
        "                   never so placed that a good frame could be lost\n"
        "  --flood N        send N node frames as fast as the line takes them, starting\n"
        "                   when the first frame from the program arrives (a capture\n"
        "                   starts with a PING); then go on serving. The frames depend\n"
        "                   only on --seed. Implies --quiet. Mostly REF_RSP,\n"
        "                   BLIND_RSP, REF_CONF and BLIND_CONF; a few carry a cluster\n"
        "                   outside the name table, an n above or below the data\n"
        "                   present, no data, or the command code 0x0018.\n"
        "  --rate R         send the flood at R frames per second instead\n"
        "  --network-only   the flood's frames are all well-formed reports from the\n"
        "                   network's own nodes, as from a network at work\n"
        "  --record FILE    every frame received from the program, one line each, as\n"
        "                   upper-case hex pairs separated by spaces: 02 00 07 00 07\n"
        "  --expect FILE    for every frame sent that the program logs, the log line it\n"
        "                   should write, less the 12-character time stamp\n"
        "  --short-addr HEX the dongle's short address (default 0x%04X)\n"
        "  --ieee HEX       the dongle's IEEE address (default 0x%016llX)\n"
        "  -v, --verbose    trace every frame on standard error\n"
        "  -h, --help       this text\n"
        "\n"
        "The dongle answers PING_REQUEST with PING_RESPONSE (one data byte, 00) and\n"
        "GET_DEVICE_INFO with DEV_INFO_RSP: status 00, the IEEE address (most significant\n"
        "byte first) and the short address (low byte first).\n"
        "\n"
        "The network: reference nodes 0x0101..0x0105 at (2,2), (38,2), (2,38), (38,38)\n"
        "and (20,20) metres; blind nodes 0x0201..0x0203 that walk about the 40 m square\n"
        "and work out where they are from the signal strength of the reference nodes,\n"
        "with their A and N. Blind node 0x0201 starts in automatic mode (cycle 2 s)\n"
        "unless --quiet. Every node answers messages sent to its address or to 0xFFFF:\n"
        "  XY_RSSI_REQ         each reference node answers REF_RSP\n"
        "  BLIND_FIND_REQ      each blind node answers BLIND_RSP after its collect time\n"
        "  REF_NODE_CONF       stored (no answer)\n"
        "  BLIND_NODE_CONF     stored (no answer); mode 1 reports every cycle time\n"
        "  REF_NODE_REQ_CONF   answered with REF_CONF\n"
        "  BLIND_NODE_REQ_CONF answered with BLIND_CONF\n"
        "Automatic reports reach the dongle when the report address is 0x0000, 0xFFFF or\n"
        "the dongle's short address.\n"
        "\n"
        "Message data of the node messages (16-bit values low byte first, positions in\n"
        "quarter metres, RSSI as -dBm):\n"
        "  REF_RSP    (n = 5)  X, Y, RSSI of the request at the node\n"
        "  BLIND_RSP  (n = 7)  status, X, Y, reference nodes used, RSSI at the dongle;\n"
        "                      status 0 valid, 1 too few reference nodes, 2 N is 0\n"
        "  REF_CONF   (n = 4)  X, Y\n"
        "  BLIND_CONF (n = 11) A, N, mode, collect time, cycle time (100 ms units),\n"
        "                      report address, report endpoint, minimum reference nodes\n"
        "A is the signal strength at one metre (-dBm), N the path-loss exponent in\n"
        "tenths: distance = 10 ^ ((RSSI - A) / N) metres.\n",
        DEFAULT_DONGLE_SHORT_ADDR, static_cast<unsigned long long>(DEFAULT_DONGLE_IEEE_ADDR));
}

bool ParseNumber(const char* text, int base, unsigned long long max, unsigned long long& out)
{
    if (!text || !*text)
        return false;
    errno = 0;
    char* end = nullptr;
    const unsigned long long v = std::strtoull(text, &end, base);
    if (errno != 0 || *end != '\0' || v > max || text[0] == '-')
        return false;
    out = v;
    return true;
}

bool ParseOptions(int argc, char** argv, SimOptions& o)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        unsigned long long v = 0;
        auto bad = [&](const char* what) {
            std::fprintf(stderr, "tessarin-dongle-sim: %s needs %s\n", arg.c_str(), what);
            return false;
        };
        if (arg == "-h" || arg == "--help") {
            PrintHelp();
            std::exit(0);
        } else if (arg == "--com") {
            if (!ParseNumber(value, 10, 29, v) || v < 1)
                return bad("a number from 1 to 29");
            o.nComPort = static_cast<int>(v);
            ++i;
        } else if (arg == "--seed") {
            if (!ParseNumber(value, 0, ~0ull, v))
                return bad("a number");
            o.nSeed = v;
            ++i;
        } else if (arg == "--flood") {
            if (!ParseNumber(value, 10, 1000000000ull, v))
                return bad("a count");
            o.nFlood = static_cast<long>(v);
            ++i;
        } else if (arg == "--rate") {
            if (!ParseNumber(value, 10, 100000000ull, v) || v < 1)
                return bad("a number of frames per second");
            o.nFloodRate = static_cast<long>(v);
            ++i;
        } else if (arg == "--record" || arg == "--expect") {
            if (!value || !*value)
                return bad("a file name");
            (arg == "--record" ? o.strRecordFile : o.strExpectFile) = value;
            ++i;
        } else if (arg == "--short-addr") {
            if (!ParseNumber(value, 16, 0xFFFF, v))
                return bad("a hexadecimal address up to FFFF");
            o.nShortAddr = static_cast<uint16_t>(v);
            ++i;
        } else if (arg == "--ieee") {
            if (!ParseNumber(value, 16, ~0ull, v))
                return bad("a hexadecimal address of up to 16 digits");
            o.nIeeeAddr = v;
            ++i;
        } else if (arg == "--noise") {
            o.bNoise = true;
        } else if (arg == "--network-only") {
            o.bNetworkOnly = true;
        } else if (arg == "--quiet") {
            o.bQuiet = true;
        } else if (arg == "--force") {
            o.bForce = true;
        } else if (arg == "-v" || arg == "--verbose") {
            o.bVerbose = true;
        } else {
            std::fprintf(stderr, "tessarin-dongle-sim: unknown option %s (try --help)\n", arg.c_str());
            return false;
        }
    }
    if (o.nFlood > 0)
        o.bQuiet = true;   // the flood is all the traffic, so that it can be foreseen
    return true;
}

// The frame loop: read what the program writes, write what the dongle says, sleep until
// the next answer or report is due. Returns the exit status.
int Serve(CDongleSim& sim, int master, int stopFd)
{
    using Clock = CDongleSim::Clock;
    uint8_t in[4096];
    for (;;) {
        Clock::time_point now = Clock::now();
        sim.OnTime(now);

        int timeout = -1;
        if (sim.OutSize() == 0) {
            const Clock::time_point due = sim.NextDue(now);
            if (due != Clock::time_point::max()) {
                const auto ms = std::chrono::ceil<std::chrono::milliseconds>(due - now).count();
                timeout = static_cast<int>(ms < 0 ? 0 : (ms > 60000 ? 60000 : ms));
            }
        } else {
            // Held back by a full line: still wake for answers that fall due.
            const Clock::time_point due = sim.NextDue(now);
            if (due != Clock::time_point::max() && due > now)
                timeout = static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(due - now).count());
        }

        pollfd fds[2] = {{master, static_cast<short>(POLLIN | (sim.OutSize() ? POLLOUT : 0)), 0},
                         {stopFd, POLLIN, 0}};
        const int ready = poll(fds, 2, timeout);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            std::perror("tessarin-dongle-sim: poll");
            return 1;
        }
        if (fds[1].revents)
            return 0;
        if (fds[0].revents & (POLLERR | POLLNVAL)) {
            std::fprintf(stderr, "tessarin-dongle-sim: the pseudo-terminal failed\n");
            return 1;
        }
        if (fds[0].revents & POLLIN) {
            const ssize_t n = read(master, in, sizeof in);
            if (n > 0)
                sim.OnReceived(in, static_cast<int>(n), Clock::now());
            else if (n < 0 && errno != EAGAIN && errno != EINTR && errno != EIO) {
                std::perror("tessarin-dongle-sim: read");
                return 1;
            }
        } else if (fds[0].revents & POLLHUP) {
            // Cannot happen while we hold the device open; never spin if it does.
            poll(nullptr, 0, 50);
        }
        if ((fds[0].revents & POLLOUT) && sim.OutSize() > 0) {
            const ssize_t n = write(master, sim.OutData(), static_cast<size_t>(sim.OutSize()));
            if (n > 0)
                sim.OutConsumed(static_cast<int>(n));
            else if (n < 0 && errno != EAGAIN && errno != EINTR) {
                std::perror("tessarin-dongle-sim: write");
                return 1;
            }
        }
    }
}

}   // namespace

int main(int argc, char** argv)
{
    SimOptions options;
    if (!ParseOptions(argc, argv, options))
        return 2;

    if (pipe(g_nStopPipe) != 0) {
        std::perror("tessarin-dongle-sim: pipe");
        return 1;
    }
    for (int fd : g_nStopPipe) {
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
        fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    struct sigaction sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sa_handler = OnStopSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);

    CDongleSim sim(options, CDongleSim::Clock::now());
    std::string error;
    if (!sim.OpenFiles(error)) {
        std::fprintf(stderr, "tessarin-dongle-sim: %s\n", error.c_str());
        return 1;
    }
    CPtyLink pty;
    if (!pty.Open(error) || !pty.CreateLink(options.nComPort, options.bForce, error)) {
        std::fprintf(stderr, "tessarin-dongle-sim: %s\n", error.c_str());
        return 1;
    }
    std::printf("%s COM%d\n", pty.DevicePath().c_str(), options.nComPort);
    std::fflush(stdout);
    if (options.bVerbose)
        std::fprintf(stderr, "linked %s -> %s\n", pty.LinkPath().c_str(), pty.DevicePath().c_str());

    const int status = Serve(sim, pty.MasterFd(), g_nStopPipe[0]);
    if (options.bVerbose)
        std::fprintf(stderr, "stopping: %ld frames received, %ld sent, %ld dropped\n", sim.FramesReceived(),
                     sim.FramesSent(), sim.FramesDropped());
    return status;   // the link goes with pty
}
