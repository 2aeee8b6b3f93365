// The hive file on POSIX: where it lives, its modes, exports written by a registry
// editor, damaged and odd files, unwritable folders and full disks. Killed and
// concurrent saves are proven under tests/faults.

#include "app/settings/TessarinSettings.h"
#include "platform/RegistryHive.h"
#include "tests/settings/TestStore.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include <grp.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const std::string& path, const std::string& bytes)
{
    mkdir(path.substr(0, path.rfind('/')).c_str(), 0700);
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// Names in folder that contain tag.
std::vector<std::string> FilesWith(const std::string& folder, const char* tag)
{
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(folder, ec)) {
        if (e.path().filename().string().find(tag) != std::string::npos)
            names.push_back(e.path().filename().string());
    }
    return names;
}

CTessarinSettings Loaded()
{
    CTessarinSettings s;
    s.Load();
    return s;
}

// Runs body in a child process with a deadline against hangs, as an ordinary user when
// asked (root writes through any mode). The child's failures print as usual.
void InChild(const std::function<void()>& body, bool bAsNobody = false)
{
    std::fflush(stdout);
    const pid_t pid = fork();
    if (pid == 0) {
        alarm(20);
        if (bAsNobody && geteuid() == 0 &&
            (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0))
            _exit(2);
        body();
        _exit(::testing::Test::HasFailure() ? 1 : 0);
    }
    int status = 0;
    ASSERT_TRUE(pid > 0 && waitpid(pid, &status, 0) == pid);
    EXPECT_FALSE(WIFSIGNALED(status)) << "the child died of signal " << WTERMSIG(status);
    EXPECT_TRUE(WIFSIGNALED(status) || WEXITSTATUS(status) == 0) << "the child failed";
}

class SettingsPosixTest : public ::testing::Test {
protected:
    CTestStore m_store;
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
    EXPECT_EQ(0u, ReadFile(m_store.HivePath())
                      .find("REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Varnolt\\Tessarin\\Settings]\r\n"
                            "\"chkParam\"=dword:00000001\r\n"));

    // Without XDG_CONFIG_HOME, or with a relative one, the hive is under $HOME/.config.
    InChild([&] {
        const std::string home = m_store.Folder() + "/home";
        setenv("HOME", home.c_str(), 1);
        for (const char* xdg : {"", "relative/config"}) {
            if (*xdg)
                setenv("XDG_CONFIG_HOME", xdg, 1);
            else
                unsetenv("XDG_CONFIG_HOME");
            CTessarinSettings t;
            t.m_nXPos = *xdg ? 2 : 1;
            ASSERT_TRUE(t.Save());
            EXPECT_EQ(t.m_nXPos, Loaded().m_nXPos);
            EXPECT_NE(std::string::npos, ReadFile(home + "/.config/tessarin/HKEY_CURRENT_USER.reg")
                                             .find(*xdg ? "dword:00000002" : "dword:00000001"));
        }
    });
}

TEST_F(SettingsPosixTest, RegistryEditorExportsLoadAndOthersKeysSurviveSaves)
{
    const std::string settings =
        "[HKEY_CURRENT_USER\\Software\\Varnolt\\Tessarin\\Settings]\r\n"
        "\"chkParam\"=dword:00000001\r\n"
        "\"minRefNodes\"=dword:80000003\r\n"
        "\"strLogFile\"=\"/var/log/tessarin/run.log\"\r\n\r\n";
    const std::string tool =
        "[HKEY_CURRENT_USER\\Software\\Other Vendor\\Tool]\r\n"
        "\"Window\"=hex:2c,00,00,00,02,00,00,00\r\n"
        "\"Title\"=\"Some \\\"tool\\\"\"\r\n"
        "@=dword:0000002a\r\n";
    const std::string elsewhere = "\r\n[HKEY_LOCAL_MACHINE\\Software\\Elsewhere]\r\n\"x\"=dword:00000005\r\n";
    // As a registry editor exports from Windows: UTF-16LE with a byte-order mark, string
    // types as UTF-16 bytes, lists continued over lines.
    const std::string exported = [&] {
        std::string wide = "\xFF\xFE";
        for (char c : "Windows Registry Editor Version 5.00\r\n\r\n" + settings + tool +
                          "\"List\"=hex(7):61,00,00,00,62,00,00,00,00,00\r\n"
                          "\"Path\"=hex(2):25,00,54,00,\\\r\n  25,00,e9,00,00,00\r\n" + elsewhere)
            wide += {c, '\0'};
        return wide;
    }();
    const std::string toolKey = "HKEY_CURRENT_USER\\Software\\Other Vendor\\Tool";
    const struct {
        std::string key;
        const char* name;
        uint32_t type;
        std::string data;
    } kept[] = {
        {toolKey, "Window", 3, std::string("\x2c\0\0\0\x02\0\0\0", 8)},
        {toolKey, "Title", 1, std::string("Some \"tool\"", 12)},
        {toolKey, "", 4, std::string("\x2a\0\0\0", 4)},
        {toolKey, "List", 7, std::string("a\0b\0\0", 5)},
        {toolKey, "Path", 2, std::string("%T%\xc3\xa9", 6)},
        {"HKEY_LOCAL_MACHINE\\Software\\Elsewhere", "x", 4, std::string("\5\0\0\0", 4)},
    };

    WriteFile(m_store.HivePath(), exported);
    CTessarinSettings s;
    EXPECT_TRUE(s.Load());
    EXPECT_EQ(1u, s.m_nChkParam);
    EXPECT_EQ(0x80000003u, s.m_nMinRefNodes);
    EXPECT_STREQ("/var/log/tessarin/run.log", s.m_szLogFile);
    s.m_nYPos = 40;
    ASSERT_TRUE(s.Save());
    EXPECT_TRUE(FilesWith(m_store.Folder(), ".damaged-").empty());
    EXPECT_EQ(40u, Loaded().m_nYPos);

    const std::string text = ReadFile(m_store.HivePath());
    CRegistryHive after;
    EXPECT_FALSE(after.Parse(reinterpret_cast<const uint8_t*>(text.data()), text.size()).Any());
    for (const auto& k : kept) {
        const RegistryHiveValue* v = after.FindValue(k.key, k.name);
        ASSERT_NE(nullptr, v) << k.name;
        EXPECT_EQ(k.type, v->type) << k.name;
        EXPECT_EQ(k.data, std::string(v->data.begin(), v->data.end())) << k.name;
    }
}

// A damaged hive loads what it can; the first save, which replaces it, keeps the very
// bytes aside first, and only then.
TEST_F(SettingsPosixTest, DamagedHiveIsKeptAsideBeforeTheFirstSave)
{
    const std::string damaged =
        "REGEDIT4\n"
        "[HKEY_CURRENT_USER\\Software\\Varnolt\\Tessarin\\Settings]\n"
        "\"chkParam\"=dword:00000001\n"
        "\x01\x02\xff half a line from a broken disk\n"
        "\"strLogFile\"=\"/tmp/unterminated\n";
    WriteFile(m_store.HivePath(), damaged);
    CTessarinSettings s = Loaded();
    EXPECT_EQ(1u, s.m_nChkParam);
    EXPECT_STREQ("Tessarin.log", s.m_szLogFile);
    EXPECT_TRUE(FilesWith(m_store.Folder(), ".damaged-").empty()) << "loading writes nothing";
    EXPECT_EQ(damaged, ReadFile(m_store.HivePath()));

    s.m_nMode = 1;
    ASSERT_TRUE(s.Save());
    std::vector<std::string> copies = FilesWith(m_store.Folder(), ".damaged-");
    ASSERT_EQ(1u, copies.size());
    EXPECT_EQ(damaged, ReadFile(m_store.Folder() + "/" + copies[0]));
    EXPECT_EQ(1u, Loaded().m_nMode);
    ASSERT_TRUE(s.Save());
    EXPECT_EQ(1u, FilesWith(m_store.Folder(), ".damaged-").size()) << "the hive was sound again";
}

TEST_F(SettingsPosixTest, OddHiveFilesNeverHangOrCrash)
{
    mkdir(m_store.Folder().c_str(), 0700);
    const std::string hive = m_store.HivePath();

    // A folder or a FIFO in its place: defaults, and a save that fails touching nothing.
    for (bool bFifo : {false, true}) {
        SCOPED_TRACE(bFifo ? "FIFO" : "folder");
        ASSERT_EQ(0, bFifo ? mkfifo(hive.c_str(), 0600) : mkdir(hive.c_str(), 0700));
        InChild([&] {
            CTessarinSettings s;
            s.m_nXPos = 5;
            EXPECT_FALSE(s.Load());
            EXPECT_EQ(0u, s.m_nXPos);
            EXPECT_FALSE(s.Save());
            struct stat st;
            EXPECT_TRUE(stat(hive.c_str(), &st) == 0 && (bFifo ? S_ISFIFO(st.st_mode) : S_ISDIR(st.st_mode)));
        });
        ASSERT_EQ(0, bFifo ? unlink(hive.c_str()) : rmdir(hive.c_str()));
    }

    // Empty: a fresh hive, no damaged copy.
    WriteFile(hive, "");
    CTessarinSettings s;
    s.m_nA = 3;
    ASSERT_TRUE(s.Save());
    EXPECT_TRUE(FilesWith(m_store.Folder(), ".damaged-").empty());

    // Temporary files of killed saves go at the next start; nothing else is touched.
    WriteFile(hive + ".tmp-99999-1-abc", "REGEDIT4\r\n[HKEY_CURRENT_USER\\x");
    WriteFile(m_store.Folder() + "/notes.tmp-keep", "mine");
    InChild([&] {
        EXPECT_EQ(3u, Loaded().m_nA);
        EXPECT_EQ(std::vector<std::string>{"notes.tmp-keep"}, FilesWith(m_store.Folder(), ".tmp-"));
    });

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
}

TEST_F(SettingsPosixTest, UnwritableHiveMakesSaveFailAndKeepsWhatWasStored)
{
    const std::string hive = m_store.HivePath();
    InChild([&] {
        CTessarinSettings s;
        s.m_nCycleTime = 11;
        ASSERT_TRUE(s.Save());
        const std::string stored = ReadFile(hive);

        // A read-only folder: the save fails, the hive is as it was, loads still work.
        ASSERT_EQ(0, chmod(m_store.Folder().c_str(), 0500));
        s.m_nCycleTime = 22;
        EXPECT_FALSE(s.Save());
        EXPECT_EQ(stored, ReadFile(hive));
        EXPECT_EQ(11u, Loaded().m_nCycleTime);
        ASSERT_EQ(0, chmod(m_store.Folder().c_str(), 0700));

        // An unreadable hive loads as defaults; the save keeps it aside, untouched.
        ASSERT_EQ(0, chmod(hive.c_str(), 0));
        CTessarinSettings blind;
        EXPECT_FALSE(blind.Load());
        blind.m_nCycleTime = 33;
        ASSERT_TRUE(blind.Save());
        std::vector<std::string> copies = FilesWith(m_store.Folder(), ".damaged-");
        ASSERT_EQ(1u, copies.size());
        ASSERT_EQ(0, chmod((m_store.Folder() + "/" + copies[0]).c_str(), 0600));
        EXPECT_EQ(stored, ReadFile(m_store.Folder() + "/" + copies[0]));
        EXPECT_EQ(33u, Loaded().m_nCycleTime);
    }, true);

    // A full disk, played by a file size limit: the save fails, nothing is torn and no
    // temporary file stays behind.
    InChild([&] {
        const std::string stored = ReadFile(hive);
        signal(SIGXFSZ, SIG_IGN);
        struct rlimit lim = {200, 200};
        ASSERT_EQ(0, setrlimit(RLIMIT_FSIZE, &lim));
        CTessarinSettings s = Loaded();
        s.m_nCycleTime = 44;
        EXPECT_FALSE(s.Save());
        EXPECT_EQ(stored, ReadFile(hive));
        EXPECT_TRUE(FilesWith(m_store.Folder(), ".tmp-").empty());
        EXPECT_EQ(33u, Loaded().m_nCycleTime);
    });
}

}  // namespace
