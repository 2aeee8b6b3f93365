// The hive file on POSIX: where it lives, its modes, exports written by hand or by a
// registry editor, damaged and odd files, unwritable folders, and saves that are killed
// or run side by side. Processes are forked; a child reports through a pipe.

#include "app/RegistryKey.h"
#include "app/TessarinSettings.h"
#include "platform/Registry.h"
#include "platform/RegistryHive.h"
#include "tests/settings/TestStore.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const char kSettingsKey[] = "HKEY_CURRENT_USER\\Software\\Varnolt\\Tessarin\\Settings";
const char kOtherKey[] = "HKEY_CURRENT_USER\\Software\\Other Vendor\\Tool";

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteFile(const std::string& path, const std::string& bytes)
{
    mkdir(path.substr(0, path.rfind('/')).c_str(), 0700);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

std::string Utf16Le(const std::u16string& text)
{
    std::string out = "\xFF\xFE";
    for (char16_t c : text) {
        out += char(c & 0xFF);
        out += char(c >> 8);
    }
    return out;
}

// Names in folder that contain tag.
std::vector<std::string> FilesWith(const std::string& folder, const char* tag)
{
    std::vector<std::string> names;
    if (DIR* d = opendir(folder.c_str())) {
        while (dirent* e = readdir(d)) {
            if (std::strstr(e->d_name, tag))
                names.push_back(e->d_name);
        }
        closedir(d);
    }
    return names;
}

CRegistryHive ParseFile(const std::string& path, RegistryHiveDamage* damage = nullptr)
{
    std::string text = ReadFile(path);
    CRegistryHive hive;
    RegistryHiveDamage d = hive.Parse(reinterpret_cast<const uint8_t*>(text.data()), text.size());
    if (damage)
        *damage = d;
    return hive;
}

// Runs body in a child process with a deadline; returns what it reported as failing,
// "" when all held.
#define CHILD_CHECK(cond) \
    do { \
        if (!(cond)) \
            failures += "line " + std::to_string(__LINE__) + ": " #cond "\n"; \
    } while (0)

std::string RunInChild(const std::function<void(std::string&)>& body, unsigned seconds = 20,
                       bool bAsNobody = false)
{
    int fds[2];
    if (pipe(fds) != 0)
        return "pipe failed";
    pid_t pid = fork();
    if (pid < 0)
        return "fork failed";
    if (pid == 0) {
        close(fds[0]);
        alarm(seconds);   // a hang ends as SIGALRM
        std::string failures;
        if (bAsNobody && geteuid() == 0) {
            if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0)
                failures = "could not become an ordinary user\n";
        }
        if (failures.empty())
            body(failures);
        if (!failures.empty() && write(fds[1], failures.data(), failures.size()) < 0)
            _exit(3);
        _exit(failures.empty() ? 0 : 1);
    }
    close(fds[1]);
    std::string report;
    char buf[512];
    ssize_t n;
    while ((n = read(fds[0], buf, sizeof buf)) > 0)
        report.append(buf, size_t(n));
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFSIGNALED(status))
        report += "child died of signal " + std::to_string(WTERMSIG(status));
    else if (WEXITSTATUS(status) != 0 && report.empty())
        report = "child exit " + std::to_string(WEXITSTATUS(status));
    return report;
}

class SettingsPosixTest : public ::testing::Test {
protected:
    CTestStore m_store;

    CTessarinSettings Loaded()
    {
        CTessarinSettings s;
        s.Load();
        return s;
    }

    static void FillAll(CTessarinSettings& s, uint32_t v)
    {
        for (uint32_t* p : {&s.m_nChkParam, &s.m_nChkBroadcast, &s.m_nDestAddrRefN, &s.m_nXPos,
                            &s.m_nYPos, &s.m_nDestAddrBlindN, &s.m_nA, &s.m_nIndex, &s.m_nMode,
                            &s.m_nCollectTime, &s.m_nCycleTime, &s.m_nReportShortAddr,
                            &s.m_nReportEndpoint, &s.m_nMinRefNodes, &s.m_nAppendToLogFile})
            *p = v;
        s.SetLogFile(("run-" + std::to_string(v) + ".log").c_str());
    }

    // True when all sixteen values come from one FillAll (or are all defaults).
    static bool IsWhole(const CTessarinSettings& s, uint32_t* which = nullptr)
    {
        const uint32_t v = s.m_nChkParam;
        for (uint32_t x : {s.m_nChkBroadcast, s.m_nDestAddrRefN, s.m_nXPos, s.m_nYPos,
                           s.m_nDestAddrBlindN, s.m_nA, s.m_nIndex, s.m_nMode, s.m_nCollectTime,
                           s.m_nCycleTime, s.m_nReportShortAddr, s.m_nReportEndpoint,
                           s.m_nMinRefNodes, s.m_nAppendToLogFile}) {
            if (x != v)
                return false;
        }
        if (which)
            *which = v;
        std::string log = v == 0 ? "Tessarin.log" : "run-" + std::to_string(v) + ".log";
        return log == s.m_szLogFile;
    }
};

TEST_F(SettingsPosixTest, HiveLivesUnderXdgConfigHomeOwnerOnly)
{
    // Loading from nothing creates nothing: not even the folder.
    struct stat st;
    EXPECT_FALSE(Loaded().Load());
    EXPECT_NE(0, stat(m_store.Folder().c_str(), &st));

    mode_t old = umask(0);   // even a permissive umask must not open the hive to others
    CTessarinSettings s;
    s.m_nChkParam = 1;
    bool bSaved = s.Save();
    umask(old);
    ASSERT_TRUE(bSaved);

    ASSERT_EQ(0, stat(m_store.HivePath().c_str(), &st));
    EXPECT_EQ(0600u, st.st_mode & 07777);
    ASSERT_EQ(0, stat(m_store.Folder().c_str(), &st));
    EXPECT_EQ(0700u, st.st_mode & 07777);

    const std::string text = ReadFile(m_store.HivePath());
    EXPECT_EQ(0u, text.find("REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Varnolt\\Tessarin\\Settings]\r\n"
                            "\"chkParam\"=dword:00000001\r\n"));
    EXPECT_NE(std::string::npos, text.find("\"strLogFile\"=hex(1):54,65,73,73,61,72,69,6e,2e,6c,6f,67,00,"));
    RegistryHiveDamage damage;
    CRegistryHive hive = ParseFile(m_store.HivePath(), &damage);
    EXPECT_FALSE(damage.Any());
    ASSERT_NE(nullptr, hive.FindValue(kSettingsKey, "strLogFile"));
    EXPECT_EQ(257u, hive.FindValue(kSettingsKey, "strLogFile")->data.size());

    // Without XDG_CONFIG_HOME, or with a relative one, the hive is under $HOME/.config.
    std::string report = RunInChild([&](std::string& failures) {
        std::string home = m_store.Folder() + "/home";
        mkdir(home.c_str(), 0700);
        setenv("HOME", home.c_str(), 1);
        for (bool bRelative : {false, true}) {
            if (bRelative)
                setenv("XDG_CONFIG_HOME", "relative/config", 1);
            else
                unsetenv("XDG_CONFIG_HOME");
            CTessarinSettings t;
            t.m_nXPos = bRelative ? 2 : 1;
            CHILD_CHECK(t.Save());
            CHILD_CHECK(ReadFile(home + "/.config/tessarin/HKEY_CURRENT_USER.reg")
                            .find(bRelative ? "\"xPos\"=dword:00000002" : "\"xPos\"=dword:00000001") !=
                        std::string::npos);
        }
    });
    EXPECT_EQ("", report);
}

TEST_F(SettingsPosixTest, HandWrittenExportsLoadAndOthersKeysSurviveSaves)
{
    const std::string regedit4 =
        "REGEDIT4\r\n"
        "\r\n"
        "[HKEY_CURRENT_USER\\Software\\Other Vendor\\Tool]\r\n"
        "\"Window\"=hex:2c,00,00,00,02,00,00,00\r\n"
        "\"Title\"=\"Some \\\"tool\\\"\"\r\n"
        "\"List\"=hex(7):61,00,62,00,00\r\n"
        "@=dword:0000002a\r\n"
        "\r\n"
        "[HKEY_CURRENT_USER\\Software\\Varnolt\\Tessarin\\Settings]\r\n"
        "\"chkParam\"=dword:00000001\r\n"
        "\"xPos\"=dword:0000ffff\r\n"
        "\"minRefNodes\"=dword:80000003\r\n"
        "\"appendToLogFile\"=dword:00000001\r\n"
        "\"strLogFile\"=\"/var/log/tessarin/run.log\"\r\n"
        "\r\n"
        "[HKEY_LOCAL_MACHINE\\Software\\Elsewhere]\r\n"
        "\"x\"=dword:00000005\r\n";
    // As a registry editor exports from Windows: UTF-16LE, a byte-order mark, CRLF, the
    // text cut at its NUL.
    const std::string version5 = Utf16Le(
        u"Windows Registry Editor Version 5.00\r\n"
        u"\r\n"
        u"[HKEY_CURRENT_USER\\Software\\Varnolt\\Tessarin\\Settings]\r\n"
        u"\"chkParam\"=dword:00000001\r\n"
        u"\"xPos\"=dword:0000ffff\r\n"
        u"\"minRefNodes\"=dword:80000003\r\n"
        u"\"appendToLogFile\"=dword:00000001\r\n"
        u"\"strLogFile\"=\"/var/log/tessarin/run.log\"\r\n"
        u"\r\n"
        u"[HKEY_CURRENT_USER\\Software\\Other Vendor\\Tool]\r\n"
        u"\"Window\"=hex:2c,00,00,00,02,00,00,00\r\n"
        u"\"Title\"=\"Some \\\"tool\\\"\"\r\n"
        u"\"List\"=hex(7):61,00,00,00,62,00,00,00,00,00\r\n"
        u"\"Path\"=hex(2):25,00,54,00,\\\r\n"
        u"  25,00,e9,00,00,00\r\n"
        u"@=dword:0000002a\r\n"
        u"\r\n"
        u"[HKEY_LOCAL_MACHINE\\Software\\Elsewhere]\r\n"
        u"\"x\"=dword:00000005\r\n");

    for (const std::string* file : {&regedit4, &version5}) {
        SCOPED_TRACE(file == &regedit4 ? "REGEDIT4" : "version 5.00");
        WriteFile(m_store.HivePath(), *file);
        const CRegistryHive before = ParseFile(m_store.HivePath());

        CTessarinSettings s;
        EXPECT_TRUE(s.Load());
        EXPECT_EQ(1u, s.m_nChkParam);
        EXPECT_EQ(0xFFFFu, s.m_nXPos);
        EXPECT_EQ(0x80000003u, s.m_nMinRefNodes);
        EXPECT_EQ(1u, s.m_nAppendToLogFile);
        EXPECT_EQ(0u, s.m_nYPos);
        EXPECT_STREQ("/var/log/tessarin/run.log", s.m_szLogFile);

        s.m_nYPos = 40;
        ASSERT_TRUE(s.Save());
        ASSERT_TRUE(s.Save());
        EXPECT_TRUE(FilesWith(m_store.Folder(), ".damaged-").empty());

        RegistryHiveDamage damage;
        const CRegistryHive after = ParseFile(m_store.HivePath(), &damage);
        EXPECT_FALSE(damage.Any());
        EXPECT_EQ(0u, ReadFile(m_store.HivePath()).find("REGEDIT4\r\n"));
        for (const RegistryHiveKey& key : before.Keys()) {
            if (key.path == kSettingsKey)
                continue;
            for (const RegistryHiveValue& v : key.values) {
                const RegistryHiveValue* kept = after.FindValue(key.path, v.name);
                ASSERT_NE(nullptr, kept) << key.path << " " << v.name;
                EXPECT_EQ(v.type, kept->type) << v.name;
                EXPECT_EQ(v.data, kept->data) << v.name;
            }
        }
        const RegistryHiveValue* list = after.FindValue(kOtherKey, "List");
        ASSERT_NE(nullptr, list);
        EXPECT_EQ(std::string("a\0b\0\0", 5),
                  std::string(list->data.begin(), list->data.end()));
        if (file == &version5) {
            // UTF-16 string data, continued over two lines, becomes narrow text.
            const RegistryHiveValue* path = after.FindValue(kOtherKey, "Path");
            ASSERT_NE(nullptr, path);
            EXPECT_EQ(std::string("%T%\xc3\xa9") + '\0',
                      std::string(path->data.begin(), path->data.end()));
        }
        EXPECT_EQ(40u, Loaded().m_nYPos);
        EXPECT_STREQ("/var/log/tessarin/run.log", Loaded().m_szLogFile);
        unlink(m_store.HivePath().c_str());
    }
}

TEST_F(SettingsPosixTest, DamagedHiveLoadsWhatItCanAndIsKeptBeforeTheFirstSave)
{
    const std::string damaged =
        "REGEDIT4\n"
        "[HKEY_CURRENT_USER\\Software\\Varnolt\\Tessarin\\Settings]\n"
        "\"chkParam\"=dword:00000001\n"
        "\"xPos\"=dword:0000zz01\n"
        "\x01\x02\xff half a line from a broken disk\n"
        "\"yPos\"=dword:00000007\n"
        "\"strLogFile\"=\"/tmp/unterminated\n";
    struct Case {
        const char* what;
        std::string bytes;
        uint32_t chkParam, xPos, yPos;
    };
    std::string noise;
    for (int i = 0; i < 3000; ++i)
        noise += char((i * 131 + 7) & 0xFF);
    const Case cases[] = {
        {"bad lines", damaged, 1, 0, 7},
        {"binary noise", noise, 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WriteFile(m_store.HivePath(), c.bytes);
        CTessarinSettings s = Loaded();
        EXPECT_EQ(c.chkParam, s.m_nChkParam);
        EXPECT_EQ(c.xPos, s.m_nXPos);
        EXPECT_EQ(c.yPos, s.m_nYPos);
        EXPECT_STREQ("Tessarin.log", s.m_szLogFile);
        EXPECT_TRUE(FilesWith(m_store.Folder(), ".damaged-").empty()) << "loading writes nothing";
        EXPECT_EQ(c.bytes, ReadFile(m_store.HivePath()));

        s.m_nMode = 1;
        ASSERT_TRUE(s.Save());
        std::vector<std::string> copies = FilesWith(m_store.Folder(), ".damaged-");
        ASSERT_EQ(1u, copies.size());
        EXPECT_EQ(c.bytes, ReadFile(m_store.Folder() + "/" + copies[0]));
        RegistryHiveDamage damage;
        ParseFile(m_store.HivePath(), &damage);
        EXPECT_FALSE(damage.Any());
        EXPECT_EQ(1u, Loaded().m_nMode);

        ASSERT_TRUE(s.Save());   // the hive is sound now: no second copy
        EXPECT_EQ(1u, FilesWith(m_store.Folder(), ".damaged-").size());
        unlink((m_store.Folder() + "/" + copies[0]).c_str());
    }
}

TEST_F(SettingsPosixTest, OddHiveFilesNeverHangOrCrash)
{
    mkdir(m_store.Folder().c_str(), 0700);
    const std::string hive = m_store.HivePath();

    // A folder or a FIFO in its place: defaults, and a save that fails touching nothing.
    for (bool bFifo : {false, true}) {
        SCOPED_TRACE(bFifo ? "FIFO" : "folder");
        ASSERT_EQ(0, bFifo ? mkfifo(hive.c_str(), 0600) : mkdir(hive.c_str(), 0700));
        std::string report = RunInChild([&](std::string& failures) {
            CTessarinSettings s;
            s.m_nXPos = 5;
            CHILD_CHECK(!s.Load());
            CHILD_CHECK(s.m_nXPos == 0);
            CHILD_CHECK(std::strcmp(s.m_szLogFile, "Tessarin.log") == 0);
            s.m_nXPos = 5;
            CHILD_CHECK(!s.Save());
            struct stat st;
            CHILD_CHECK(stat(hive.c_str(), &st) == 0);
            CHILD_CHECK(bFifo ? S_ISFIFO(st.st_mode) : S_ISDIR(st.st_mode));
        }, 10);
        EXPECT_EQ("", report);
        ASSERT_EQ(0, bFifo ? unlink(hive.c_str()) : rmdir(hive.c_str()));
    }

    // Empty: a fresh hive, no damaged copy.
    WriteFile(hive, "");
    EXPECT_FALSE(Loaded().Load());
    CTessarinSettings s;
    s.m_nA = 3;
    ASSERT_TRUE(s.Save());
    EXPECT_EQ(3u, Loaded().m_nA);
    EXPECT_TRUE(FilesWith(m_store.Folder(), ".damaged-").empty());

    // A link to the hive elsewhere stays a link; the file it names is replaced.
    const std::string real = m_store.Folder() + "/dotfiles-hive.reg";
    ASSERT_EQ(0, rename(hive.c_str(), real.c_str()));
    ASSERT_EQ(0, symlink(real.c_str(), hive.c_str()));
    s.m_nA = 4;
    ASSERT_TRUE(s.Save());
    struct stat st;
    ASSERT_EQ(0, lstat(hive.c_str(), &st));
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_NE(std::string::npos, ReadFile(real).find("\"A\"=dword:00000004"));
    EXPECT_EQ(4u, Loaded().m_nA);
}

TEST_F(SettingsPosixTest, UnwritableHiveMakesSaveFailAndKeepsWhatWasStored)
{
    // As an ordinary user: root writes through any mode.
    std::string report = RunInChild([&](std::string& failures) {
        const std::string hive = m_store.HivePath();
        CTessarinSettings s;
        s.m_nCycleTime = 11;
        CHILD_CHECK(s.Save());
        const std::string stored = ReadFile(hive);

        // A read-only folder: the save fails, the hive is as it was, loads still work.
        CHILD_CHECK(chmod(m_store.Folder().c_str(), 0500) == 0);
        s.m_nCycleTime = 22;
        CHILD_CHECK(!s.Save());
        CHILD_CHECK(ReadFile(hive) == stored);
        CTessarinSettings after;
        CHILD_CHECK(after.Load());
        CHILD_CHECK(after.m_nCycleTime == 11);
        CHILD_CHECK(chmod(m_store.Folder().c_str(), 0700) == 0);

        // An unreadable hive loads as defaults; the save keeps it aside, untouched.
        CHILD_CHECK(chmod(hive.c_str(), 0) == 0);
        CTessarinSettings blind;
        CHILD_CHECK(!blind.Load());
        CHILD_CHECK(blind.m_nCycleTime == 0);
        blind.m_nCycleTime = 33;
        CHILD_CHECK(blind.Save());
        std::vector<std::string> copies = FilesWith(m_store.Folder(), ".damaged-");
        CHILD_CHECK(copies.size() == 1);
        if (copies.size() == 1) {
            const std::string copy = m_store.Folder() + "/" + copies[0];
            CHILD_CHECK(chmod(copy.c_str(), 0600) == 0);
            CHILD_CHECK(ReadFile(copy) == stored);
        }
        CTessarinSettings now;
        CHILD_CHECK(now.Load() && now.m_nCycleTime == 33);
    }, 20, true);
    EXPECT_EQ("", report);

    // A full disk, played by a file size limit: the save fails, nothing is torn and no
    // temporary file stays behind.
    report = RunInChild([&](std::string& failures) {
        const std::string hive = m_store.HivePath();
        const std::string stored = ReadFile(hive);
        signal(SIGXFSZ, SIG_IGN);
        struct rlimit lim = {200, 200};
        CHILD_CHECK(setrlimit(RLIMIT_FSIZE, &lim) == 0);
        CTessarinSettings s;
        s.Load();
        s.m_nCycleTime = 44;
        CHILD_CHECK(!s.Save());
        CHILD_CHECK(ReadFile(hive) == stored);
        CHILD_CHECK(FilesWith(m_store.Folder(), ".tmp-").empty());
        CTessarinSettings after;
        CHILD_CHECK(after.Load() && after.m_nCycleTime == 33);
    });
    EXPECT_EQ("", report);
}

TEST_F(SettingsPosixTest, SaveKilledAtAnyMomentLeavesAWholeHive)
{
    std::mt19937 random(20240611);
    std::uniform_int_distribution<int> delayUs(0, 12000);
    const int kTrials = 150;
    int wholeRecords = 0;
    uint32_t lastSeen = 0;
    for (int trial = 0; trial < kTrials; ++trial) {
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            for (uint32_t k = uint32_t(trial) * 100000u + 1;; ++k) {
                CTessarinSettings s;
                FillAll(s, k);
                s.Save();
            }
        }
        usleep(useconds_t(delayUs(random)));
        kill(pid, SIGKILL);
        int status = 0;
        waitpid(pid, &status, 0);

        RegistryHiveDamage damage;
        ParseFile(m_store.HivePath(), &damage);
        ASSERT_FALSE(damage.Any()) << "trial " << trial;
        CTessarinSettings s = Loaded();
        uint32_t which = 0;
        ASSERT_TRUE(IsWhole(s, &which)) << "trial " << trial;
        wholeRecords += which != 0;
        EXPECT_GE(which, lastSeen) << "a save went back in time";
        lastSeen = which;
    }
    EXPECT_GT(wholeRecords, kTrials / 2) << "the kills came too early to test anything";
    EXPECT_TRUE(FilesWith(m_store.Folder(), ".damaged-").empty());

    // Temporary files of killed saves go at the next start; nothing else is touched.
    WriteFile(m_store.HivePath() + ".tmp-99999-1-abc", "REGEDIT4\r\n[HKEY_CURRENT_USER\\x");
    WriteFile(m_store.Folder() + "/notes.txt", "mine");
    std::string report = RunInChild([&](std::string& failures) {
        CTessarinSettings s;
        CHILD_CHECK(s.Load());
        CHILD_CHECK(FilesWith(m_store.Folder(), ".tmp-").empty());
        CHILD_CHECK(ReadFile(m_store.Folder() + "/notes.txt") == "mine");
    });
    EXPECT_EQ("", report);
}

TEST_F(SettingsPosixTest, TwoProcessesSavingAtOnceNeitherTearNorLoseTheOther)
{
    const int kSaves = 60;
    std::vector<pid_t> children;
    for (uint32_t family : {0x0A000000u, 0x0B000000u}) {
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            // Each process also keeps a counter in a key of its own: a save that ran on a
            // stale copy of the hive would wipe the other's counter.
            std::string own = family == 0x0A000000u ? "Software\\Varnolt\\TestA" : "Software\\Varnolt\\TestB";
            int failed = 0;
            for (int i = 1; i <= kSaves; ++i) {
                CTessarinSettings s;
                s.Load();
                FillAll(s, family + uint32_t(i));
                failed += !s.Save();
                CRegistryKey key;
                const uint8_t count[4] = {uint8_t(i), 0, 0, 0};
                failed += key.Create(TREG_HKEY_CURRENT_USER, own.c_str(), nullptr, 0,
                                     TREG_KEY_WRITE, nullptr) != TREG_SUCCESS;
                failed += RegistrySetValue(key.Handle(), "count", 0, TREG_DWORD, count, 4) != 0;
                failed += key.Close() != TREG_SUCCESS;
            }
            _exit(failed ? 1 : 0);
        }
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    RegistryHiveDamage damage;
    CRegistryHive hive = ParseFile(m_store.HivePath(), &damage);
    EXPECT_FALSE(damage.Any());
    uint32_t which = 0;
    EXPECT_TRUE(IsWhole(Loaded(), &which));
    EXPECT_TRUE(which == 0x0A000000u + kSaves || which == 0x0B000000u + kSaves) << std::hex << which;
    for (const char* key : {"HKEY_CURRENT_USER\\Software\\Varnolt\\TestA",
                            "HKEY_CURRENT_USER\\Software\\Varnolt\\TestB"}) {
        const RegistryHiveValue* v = hive.FindValue(key, "count");
        ASSERT_NE(nullptr, v) << key;
        EXPECT_EQ(uint8_t(kSaves), v->data[0]) << key;
    }
    EXPECT_TRUE(FilesWith(m_store.Folder(), ".tmp-").empty());
}

}  // namespace
