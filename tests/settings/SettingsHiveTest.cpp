// The hive file behind the registry calls on POSIX: registry editor exports, damaged and
// odd files, its mode, leftovers of killed saves and a second saver. The killed-save
// sweeps and long concurrent runs are scripts/prove-settings.

#include "tests/support/PosixPeers.h"
#include "tests/support/TestStore.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <future>
#include <thread>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace std::string_literals;
const std::string kOurs = "HKEY_CURRENT_USER\\Software\\Varnolt\\Tessarin\\Settings";

CTessarinSettings Loaded()
{
    CTessarinSettings s;
    s.Load();
    return s;
}

Texts FilesWith(const std::string& folder, const char* tag)
{
    Texts names;
    for (const auto& e : std::filesystem::directory_iterator(folder))
        if (e.path().filename().string().find(tag) != std::string::npos)
            names.push_back(e.path().filename().string());
    return names;
}

// The kind of file and what it holds, without opening anything but a plain file.
std::string Snapshot(const std::string& path)
{
    struct stat st = {};
    lstat(path.c_str(), &st);
    return std::to_string(st.st_mode) + ":" + (S_ISREG(st.st_mode) ? ReadFile(path) : "");
}

// make runs on the written bytes. bLoads: our values around any damage load; bSaves: else
// the save fails touching nothing; bKept: kept aside before the first save replaces it;
// written: what the saved hive must hold.
struct OddHive {
    const char* name;
    std::string bytes;
    std::function<int(const std::string&)> make;
    bool bLoads, bSaves, bKept;
    std::string written;
};

// As an ordinary user, whom modes bind. 0, or the number of the check that failed.
int SaveOver(const OddHive& odd, const std::string& folder, const std::string& hive)
{
    umask(0);                   // even this must not open a saved hive to others
    signal(SIGXFSZ, SIG_IGN);   // a full disk fails the write, not the process
    mkdir(folder.c_str(), 0700);
    WriteText(hive, odd.bytes);
    const std::string before = odd.make && odd.make(hive) != 0 ? "not made" : Snapshot(hive);
    CTessarinSettings s;
    s.m_nChkParam = 7;
    if (s.Load() != odd.bLoads || s.m_nChkParam != uint32_t(odd.bLoads) ||
        s.m_nMode != uint32_t(odd.bLoads) || Snapshot(hive) != before ||
        !FilesWith(folder, ".damaged-").empty())   // a load writes nothing
        return 1;
    s.m_nXPos = 9;
    const bool bSaved = s.Save();
    const Texts kept = FilesWith(folder, ".damaged-");
    if (bSaved != odd.bSaves || !FilesWith(folder, ".tmp-").empty() || kept.size() != size_t(odd.bKept) ||
        (odd.bKept && !odd.make && ReadFile(folder + "/" + kept[0]) != odd.bytes))
        return 2;
    if (!bSaved)
        return Snapshot(hive) == before && Loaded().m_nXPos == 0 ? 0 : 3;   // loads show what it holds
    // No line past 80 columns and the CR, as a registry editor writes; owner-only, holding
    // what it must, and sound now: the next save keeps nothing more.
    for (const std::string& line : ReadLines(hive))
        if (line.size() > 81)
            return 4;
    const bool bOwnerOnly = Snapshot(hive).find(std::to_string(S_IFREG | 0600) + ":") == 0;
    return bOwnerOnly && ReadFile(hive).find(odd.written) != std::string::npos && Loaded().m_nXPos == 9 &&
                   s.Save() && FilesWith(folder, ".damaged-") == kept
               ? 0
               : 5;
}

TEST(SettingsHive, ExportsLoadAndOddHivesNeverHangAndAreKeptAsideBeforeTheFirstSave)
{
    const auto hive = [](const std::string& header, const std::string& before, const std::string& line) {
        return header + before + "[" + kOurs + "]\r\n\"CHKPARAM\"=dword:00000001\r\n" + line +
               "\"mode\" = dword:00000001\r\n";
    };
    // UTF-16LE with a byte-order mark, as a registry editor exports on Windows.
    const auto wide = [](const std::string& ascii) {
        std::string text = "\xFF\xFE";
        for (char c : ascii)
            text += {c, '\0'};
        return text;
    };
    // Other programs' values as we write them back: non-ASCII or unterminated texts and odd
    // lengths or types as hex, so that each reads back byte for byte.
    const std::string others =
        "[HKEY_CURRENT_USER\\Software\\Other Vendor\\Tool]\r\n"
        "\"Window\"=hex:2c,00,00,00,02,00,00,00\r\n\"Title\"=\"C:\\\\a \\\"b\\\"\"\r\n@=dword:0000002a\r\n"
        "\"Path\"=hex(2):25,54,25,c3,a9,00\r\n\"List\"=hex(7):61,00,62,00,00\r\n\"Cafe\"=hex(1):63,61,66,c3,"
        "a9,00\r\n"
        "\"NoNul\"=hex(1):61,62,63\r\n\"Short\"=hex(4):01,00\r\n\"Line\\nBreak\"=hex(ffff0000):\r\n"
        "\r\n[HKEY_LOCAL_MACHINE\\Software\\Elsewhere]\r\n\"x\"=dword:00000005\r\n";
    // The same as version 5.00 exports it: string types in UTF-16LE, a continued line, deletions.
    const std::string exported5 =
        "; a comment\r\n[HKEY_CURRENT_USER\\Software\\Other Vendor\\Tool]\r\n"
        "\"Window\"=hex:2c,00,00,00,02,00,00,00\r\n\"Title\"=\"C:\\\\a \\\"b\\\"\"\r\n@=dword:0000002a\r\n"
        "\"Path\"=hex(2):25,00,54,00,25,00,\\\r\n  "
        "e9,00,00,00\r\n\"List\"=hex(7):61,00,00,00,62,00,00,00,00,00\r\n"
        "\"Cafe\"=hex(1):63,00,61,00,66,00,e9,00,00,00\r\n\"NoNul\"=hex(1):61,62,63\r\n\"Short\"=hex(4):01,"
        "00\r\n"
        "\"Line\\nBreak\"=hex(ffff0000):\r\n\"Dropped\"=dword:00000001\r\n\"Dropped\"=-\r\n"
        "[HKEY_CURRENT_USER\\Software\\Gone]\r\n\"g\"=dword:00000001\r\n[-HKEY_CURRENT_USER\\Software\\Gone]"
        "\r\n"
        "[HKEY_LOCAL_MACHINE\\Software\\Elsewhere]\r\n\"x\"=dword:00000005\r\n\r\n";
    // A fresh key: our values in their stored order, the log file's field whole.
    std::string fresh = "REGEDIT4\r\n\r\n[" + kOurs + "]\r\n";
    for (const SettingsDword& d : kSettingsDwords)
        fresh += "\"" + std::string(d.name) + "\"=dword:0000000" +
                 (d.member == &CTessarinSettings::m_nXPos ? "9\r\n" : "0\r\n");
    fresh += "\"strLogFile\"=hex(1):54,65,73,73,61,72,69,6e,2e,6c,6f,67,00,00,";
    const std::string v4 = "REGEDIT4\r\n", v5 = "Windows Registry Editor Version 5.00\r\n\r\n",
                      sound = hive(v4, "", "");
    const std::string surrogate =
        wide(hive(v5, "", "") + "; a comment ending in half a character") + "\x00\xD8"s;
    const OddHive odds[] = {
        {"REGEDIT4 export", hive(v4, others + "\r\n", ""), nullptr, true, true, false, others},
        {"version 5.00 export", wide(hive(v5, exported5, "")), nullptr, true, true, false, others},
        {"empty", "", nullptr, false, true, false, fresh},
        {"bytes of a broken disk", hive(v4, "", "\x01\x02\xff half a line\r\n"), nullptr, true, true, true,
         ""},
        {"dword with a bad digit", hive(v4, "", "\"xPos\"=dword:1z\r\n"), nullptr, true, true, true, ""},
        {"dword of nine digits", hive(v4, "", "\"xPos\"=dword:000000002\r\n"), nullptr, true, true, true, ""},
        {"hex with a bad byte", hive(v4, "", "\"A\"=hex:01,0g\r\n"), nullptr, true, true, true, ""},
        {"unterminated text", hive(v4, "", "\"nIndex\"=\"half\r\n"), nullptr, true, true, true, ""},
        {"unclosed key line", hive(v4, "[HKEY_CURRENT_USER\\Broken\r\n", ""), nullptr, true, true, true, ""},
        {"value before any key", hive(v4, "\"lost\"=dword:00000001\r\n", ""), nullptr, true, true, true, ""},
        // A key "-Tool" would be written back as a deletion and vanish at the next load.
        {"key line [\\-Tool]", hive(v4, "[\\-Tool]\r\n", ""), nullptr, true, true, true, ""},
        {"no header", hive("", "", ""), nullptr, true, true, true, ""},
        {"lone UTF-16 surrogate", surrogate, nullptr, true, true, true, ""},
        {"unreadable", sound, [](const std::string& h) { return chmod(h.c_str(), 0); }, false, true, true,
         ""},
        {"a link to itself", "",
         [](const std::string& h) { return unlink(h.c_str()) | symlink(h.c_str(), h.c_str()); }, false, true,
         true, ""},
        {"a FIFO", "", [](const std::string& h) { return unlink(h.c_str()) | mkfifo(h.c_str(), 0600); },
         false, false, false, ""},
        {"a folder", "", [](const std::string& h) { return unlink(h.c_str()) | mkdir(h.c_str(), 0700); },
         false, false, false, ""},
        {"in a read-only folder", sound,
         [](const std::string& h) { return chmod(h.substr(0, h.rfind('/')).c_str(), 0500); }, true, false,
         false, ""},
        // A full disk, played by a file size limit: the old hive stays whole.
        {"on a full disk", sound,
         [](const std::string&) {
             const rlimit limit = {200, 200};
             return setrlimit(RLIMIT_FSIZE, &limit);
         },
         true, false, false, ""},
    };
    for (const OddHive& odd : odds) {
        CTestStore store;
        const auto body = [&] { return SaveOver(odd, store.Folder(), store.HivePath()); };
        EXPECT_EQ(0, geteuid() == 0 ? AsOrdinaryUser(body) : InChild(body, 30))
            << odd.name << ": the check that failed";
    }
}

// Leftovers of killed saves, a hive that links elsewhere, and another process's save,
// played by a thread that holds the hive's lock and writes a key of its own.
TEST(SettingsHive, SavesClearLeftoversFollowLinksAndMergeAfterAnotherSaver)
{
    CTestStore store;
    const std::string hive = store.HivePath();
    CTessarinSettings s;
    EXPECT_FALSE(s.Load() || std::filesystem::exists(store.Folder()))
        << "no key yet, and a load creates nothing";
    FillSettings(s, "run.log");
    ASSERT_TRUE(s.Save());
    EXPECT_EQ(std::to_string(S_IFDIR | 0700) + ":", Snapshot(store.Folder()))
        << "the folder is owner-only too";

    // A new process clears leftovers before its first load, a save before it writes.
    const Texts mine = {"notes.tmp-keep"};
    WriteText(store.Folder() + "/notes.tmp-keep", "mine");
    WriteText(hive + ".tmp-99999-1-abc", "REGEDIT4\r\n[HKEY_CURRENT_USER\\x");
    EXPECT_EQ(0, InChild([&] {
                  return Loaded().m_nChkParam == 1 && FilesWith(store.Folder(), ".tmp-") == mine ? 0 : 1;
              }));
    WriteText(hive + ".tmp-99999-2-abc", "");
    ASSERT_TRUE(s.Save());
    EXPECT_EQ(mine, FilesWith(store.Folder(), ".tmp-"));

    const std::string real = store.Folder() + "/dotfiles.reg";
    ASSERT_EQ(0, rename(hive.c_str(), real.c_str()) | symlink(real.c_str(), hive.c_str()));
    std::promise<void> locked;
    std::thread other([&] {
        const int fd = open((hive + ".lock").c_str(), O_RDWR | O_CLOEXEC);
        flock(fd, LOCK_EX);
        locked.set_value();
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        WriteText(real, "REGEDIT4\r\n[HKEY_CURRENT_USER\\Other]\r\n\"v\"=dword:00000007\r\n");
        close(fd);
    });
    locked.get_future().wait();
    s.m_nA = 4;
    const bool bSaved = s.Save();
    other.join();
    EXPECT_TRUE(bSaved);
    EXPECT_EQ(SettingsTexts(s), SettingsTexts(Loaded()));
    EXPECT_EQ(std::to_string(S_IFLNK | 0777) + ":", Snapshot(hive));
    EXPECT_NE(std::string::npos, ReadFile(real).find("[HKEY_CURRENT_USER\\Other]\r\n\"v\"=dword:00000007"));
}

}   // namespace
