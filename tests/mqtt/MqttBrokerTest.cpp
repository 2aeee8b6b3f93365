// The headless tool publishing to a real broker, started by each test on a free loopback
// port with its own configuration: credentials and an access list, or TLS with a
// certificate made here; commands from the broker; a broker restart in a flood.

#include <gtest/gtest.h>

#include <regex>
#include <thread>

#include "tests/support/PosixPeers.h"

namespace {

const char kIeee[] = "00124B000A0B0C0D";

// A broker of our own, and its shell clients as the user "tess" (who may use tessarin/#).
class CBroker {
public:
    CBroker(const CScratchFolder& dir, bool tls) : m_dir(dir), m_bTls(tls)
    {
        std::string conf = "listener " + std::to_string(m_nPort) +
                           " 127.0.0.1\nuser root\npersistence true\npersistence_location " + dir.Path() +
                           "/\nmax_queued_messages 0\n";
        if (tls) {
            // Self-signed for the loopback address: it is its own CA.
            RunProgram(
                "/usr/bin/openssl",
                {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "1", "-subj", "/CN=127.0.0.1",
                 "-addext", "subjectAltName=IP:127.0.0.1", "-keyout", dir / "key.pem", "-out", Cert()},
                dir.Path(), "");
            conf += "certfile " + Cert() + "\nkeyfile " + dir / "key.pem" + "\nallow_anonymous true\n";
        } else {
            RunProgram("/usr/bin/mosquitto_passwd", {"-c", "-b", dir / "passwd", "tess", "secret"},
                       dir.Path(), "");
            WriteText(dir / "acl", "user tess\ntopic readwrite tessarin/#\n");
            conf +=
                "allow_anonymous false\npassword_file " + dir / "passwd" + "\nacl_file " + dir / "acl" + "\n";
        }
        WriteText(dir / "broker.conf", conf);
    }

    std::string Cert() const { return m_dir / "cert.pem"; }
    std::string Url(const std::string& user = "") const
    {
        return (m_bTls ? "mqtts://" : "mqtt://") + user + "127.0.0.1:" + std::to_string(m_nPort);
    }
    bool Start()
    {
        // Ready once it says so, after its listener is open.
        const size_t before = ReadFile(m_dir / "broker.log").rfind("running");
        m_broker.Start("/usr/sbin/mosquitto", {"-c", m_dir / "broker.conf"}, m_dir / "broker.log");
        return WaitUntil([&] { return ReadFile(m_dir / "broker.log").rfind("running") != before; });
    }
    void Stop() { m_broker.Stop(); }

    // mosquitto_sub with the given arguments; its lines.
    Texts Sub(Texts args) const
    {
        WriteText(m_dir / "sub.out", RunProgram("/usr/bin/mosquitto_sub", Client(args), "", "").out);
        return ReadLines(m_dir / "sub.out");
    }
    void Pub(const std::string& topic, const std::string& message) const
    {
        EXPECT_EQ(
            RunProgram("/usr/bin/mosquitto_pub", Client({"-q", "1", "-t", topic, "-m", message}), "", "")
                .status,
            0);
    }
    // A lasting session that keeps, for a later Sub, all that comes on topic meanwhile.
    void Watch(const std::string& topic) const { Sub({"-c", "-i", "watch", "-q", "1", "-t", topic, "-E"}); }
    // All that came: count messages, or what comes within seconds.
    Texts Watched(const std::string& topic, size_t count, int seconds) const
    {
        Texts args = {"-c", "-i", "watch", "-q", "1", "-v", "-t", topic, "-W", std::to_string(seconds)};
        if (count > 0)
            args.insert(args.end(), {"-C", std::to_string(count)});
        return Sub(args);
    }

private:
    Texts Client(Texts args) const
    {
        Texts common = {"-h", "127.0.0.1", "-p", std::to_string(m_nPort)};
        if (m_bTls)
            common.insert(common.end(), {"--cafile", Cert()});
        else
            common.insert(common.end(), {"-u", "tess", "-P", "secret"});
        args.insert(args.begin(), common.begin(), common.end());
        return args;
    }

    const CScratchFolder& m_dir;
    bool m_bTls;
    int m_nPort = FreeLoopbackPort();
    CChildProcess m_broker;
};

// The payloads of the watched messages whose topic ends with leaf.
Texts Payloads(const Texts& watched, const std::string& leaf)
{
    Texts payloads;
    for (const std::string& m : watched) {
        const size_t space = m.find(' ');
        if (space >= leaf.size() && m.compare(space - leaf.size(), leaf.size(), leaf) == 0)
            payloads.push_back(m.substr(space + 1));
    }
    return payloads;
}

}   // namespace

// The same commands on standard input and from the broker send the same frames; every
// line is published once and in order, with its JSON, the Node List kept and the status
// told; credentials refused and a broker away are told while the capture goes on.
TEST(MqttBroker, CommandsLinesNodesAndCredentials)
{
    CScratchFolder dir("mqtt");
    CBroker broker(dir, false);
    ASSERT_TRUE(broker.Start());
    const std::string cmds[] = {"xy", "refreq 0101\nblindreq 0201", "refreq 12345"};
    setenv("TESSARIN_MQTT_PASSWORD", "secret", 1);
    Texts records[2];
    for (int fromBroker = 0; fromBroker < 2; ++fromBroker) {
        SCOPED_TRACE(fromBroker ? "commands from the broker" : "commands on standard input");
        const std::string record = dir / ("record" + std::to_string(fromBroker));
        const std::string log = dir / "run.log";
        CSimProcess sim;
        ASSERT_TRUE(sim.Start({"--quiet", "--ieee", std::string("0x") + kIeee, "--record", record}));
        broker.Watch("tessarin/#");
        Texts args = {"COM21", "--log", log, "--mqtt", broker.Url("tess@")};
        std::string input;
        if (fromBroker)
            args.push_back("--mqtt-commands");
        else
            input = cmds[0] + "\n" + cmds[1] + "\n" + cmds[2] + "\n";
        ToolResult r;
        std::thread tool([&] { r = RunProgram(CapturePath(), args, dir.Path(), input, true, 3.0); });
        if (fromBroker) {
            const std::string status = std::string("tessarin/") + kIeee + "/status";
            EXPECT_TRUE(WaitUntil([&] {
                const Texts s = broker.Sub({"-t", status, "-C", "1", "-W", "1"});
                return !s.empty() && s[0].find("\"online\"") != std::string::npos;
            }));
            for (const std::string& c : cmds)
                broker.Pub(std::string("tessarin/") + kIeee + "/cmd", c);
        }
        tool.join();
        sim.Stop();
        EXPECT_EQ(r.status, 0) << r.err;
        // Less the GET_DEVICE_INFO that answers the ping, wherever it fell.
        records[fromBroker] = ReadLines(record);
        Texts& frames = records[fromBroker];
        frames.erase(std::remove(frames.begin(), frames.end(), "02 00 14 00 14"), frames.end());

        const Texts logged = ReadLines(log);
        const Texts watched = broker.Watched("tessarin/#", 0, 2);
        EXPECT_EQ(Payloads(watched, "/log"), logged);
        size_t jsonFound = 0;
        for (const std::string& line : logged) {
            const std::string time = line.substr(0, 8) + "." + line.substr(9, 3) + "Z\"";
            const std::string name = line.substr(27, line.find_first_of(" |", 27) - 27);
            for (const std::string& m : watched)
                jsonFound +=
                    m.find("/node/0x" + line.substr(21, 4) + "/" + name + " ") != std::string::npos &&
                    m.find(time) != std::string::npos;
        }
        EXPECT_EQ(jsonFound, logged.size()) << "a JSON message for every line";
        const Texts errors = Payloads(watched, "/cmd/error");
        EXPECT_EQ(errors.size(), static_cast<size_t>(fromBroker));
        EXPECT_TRUE(!fromBroker ||
                    (errors.size() == 1 && errors[0].find("refreq 12345") != std::string::npos));
        EXPECT_NE(r.err.find("Invalid Destination Address!"), std::string::npos);

        const Texts nodes =
            broker.Sub({"-t", std::string("tessarin/") + kIeee + "/nodes", "-C", "1", "-W", "2"});
        ASSERT_EQ(nodes.size(), 1u);
        std::string kinds;
        const std::regex node(R"re("address":"(0x[0-9A-F]{4})","kind":"(\w+)")re");
        for (std::sregex_iterator i(nodes[0].begin(), nodes[0].end(), node), end; i != end; ++i)
            kinds += (*i)[1].str() + " " + (*i)[2].str() + ",";
        EXPECT_EQ(kinds, "0x0000 COORD,0x0101 REF,0x0102 REF,0x0103 REF,0x0104 REF,0x0105 REF,0x0201 BLIND,");
        const Texts status =
            broker.Sub({"-t", std::string("tessarin/") + kIeee + "/status", "-C", "1", "-W", "2"});
        EXPECT_EQ(status,
                  Texts{std::string(R"({"state":"offline","port":"COM21","ieee":")") + kIeee + "\"}"});
    }
    EXPECT_EQ(records[1], records[0]);
    EXPECT_EQ(records[0].size(), 4u) << "the ping and the three sent";

    const std::string pwFile = dir / "pw";
    WriteText(pwFile, "wrong\n");
    const std::pair<Texts, std::string> refused[] = {
        {{"--mqtt", broker.Url("tess:nope@")}, "refused the connection"},
        {{"--mqtt", broker.Url("tess@"), "--mqtt-password-file", pwFile}, "refused the connection"},
        {{"--mqtt", broker.Url("ghost@")}, "refused the connection"},
        {{"--mqtt", "mqtt://127.0.0.1:" + std::to_string(FreeLoopbackPort())}, "cannot reach"},
        {{"--mqtt", broker.Url("tess@"), "--mqtt-password-file", dir / "none"},
         "cannot read the password file"},
        {{"--mqtt-commands"}, "need --mqtt"},
    };
    CSimProcess sim;
    ASSERT_TRUE(sim.Start({"--quiet"}));
    for (const auto& [mqtt, told] : refused) {
        Texts args = {"COM21", "--log", dir / "refused.log"};
        args.insert(args.end(), mqtt.begin(), mqtt.end());
        const ToolResult r = RunProgram(CapturePath(), args, dir.Path(), "xy\n");
        const bool starts =
            told.find("need") == std::string::npos && told.find("cannot read") == std::string::npos;
        EXPECT_EQ(r.status, starts ? 0 : 1) << told;
        const size_t at = r.err.find(told);
        EXPECT_TRUE(at != std::string::npos && r.err.find(told, at + 1) == std::string::npos)
            << "once: " << r.err;
        if (starts) {
            EXPECT_GE(ReadLines(dir / "refused.log").size(), 10u) << "the capture goes on: " << told;
        }
    }
    unsetenv("TESSARIN_MQTT_PASSWORD");
}

// Over TLS, a broker stopped and started again during a flood of 20,000 frames: the
// queue holds the lines meanwhile, and every line of the log is published in order.
TEST(MqttBroker, TlsAndABrokerRestartInAFlood)
{
    CScratchFolder dir("mqtts");
    CBroker broker(dir, true);
    ASSERT_TRUE(broker.Start());
    broker.Watch("tessarin/+/log");
    CSimProcess sim;
    ASSERT_TRUE(sim.Start({"--flood", "20000", "--rate", "4000"}));
    const std::string log = dir / "flood.log";
    ToolResult r;
    std::thread tool([&] {
        r = RunProgram(
            CapturePath(),
            {"COM21", "--log", log, "--seconds", "8", "--mqtt", broker.Url(), "--mqtt-ca", broker.Cert()},
            dir.Path(), "", true);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    broker.Stop();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_TRUE(broker.Start());
    tool.join();
    const Texts logged = ReadLines(log);
    EXPECT_GE(logged.size(), 20004u) << "the flood and the ping's four";
    EXPECT_NE(r.err.find("MQTT: lost"), std::string::npos) << r.err;
    // What did not fit is told: none here, but a slow build (sanitizers) publishes too
    // slowly for the flood and must then account for every line it left out.
    size_t told = 0;
    for (const char* what : {" lines not published so far", " lines were never published"}) {
        const size_t at = r.err.rfind(what);
        told += at == std::string::npos ? 0 : std::stoul(r.err.substr(r.err.rfind(' ', at - 1) + 1));
    }
#ifndef __SANITIZE_ADDRESS__
    EXPECT_EQ(told, 0u) << r.err;
#endif
    // In order, at least once (a message whose acknowledgement died with the broker
    // comes again), and only the lines told are missing.
    size_t next = 0, missing = 0;
    for (const std::string& payload :
         Payloads(broker.Watched("tessarin/+/log", logged.size() - told, 10), "/log")) {
        const auto at = std::find(logged.begin() + static_cast<long>(next), logged.end(), payload);
        if (at == logged.end()) {
            EXPECT_NE(std::find(logged.begin(), logged.begin() + static_cast<long>(next), payload),
                      logged.begin() + static_cast<long>(next));
            continue;
        }
        missing += static_cast<size_t>(at - logged.begin()) - next;
        next = static_cast<size_t>(at - logged.begin()) + 1;
    }
    EXPECT_EQ(missing + logged.size() - next, told);
}
