// The hive file behind the registry calls on POSIX: registry editor exports, damaged and
// odd files, its mode, leftovers of killed saves and a second saver. The killed-save
// sweeps and long concurrent runs are scripts/prove-settings.

#include "tests/support/PosixPeers.h"
#include "tests/support/TestStore.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <thread>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

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

// A full disk, played by a file size limit.
const rlimit kFullDisk = {200, 200};

// make runs on the written bytes. bLoads: our values around any damage load; bSaves: else
// the save fails touching nothing; bKept: kept aside before the first save replaces it;
// written: what the saved hive must hold.
struct OddHive {
    std::string name, bytes;
    bool bLoads, bSaves, bKept;
    std::string written = "";
    std::function<int(const char*)> make = nullptr;
};

// As an ordinary user, whom modes bind. 0, or the number of the check that failed.
int SaveOver(const OddHive& odd, const std::string& folder, const std::string& hive)
{
    umask(0);                   // even this must not open a saved hive to others
    signal(SIGXFSZ, SIG_IGN);   // a full disk fails the write, not the process
    mkdir(folder.c_str(), 0700);
    WriteText(hive, odd.bytes);
    const std::string before = odd.make && odd.make(hive.c_str()) != 0 ? "not made" : Snapshot(hive);
    CTessarinSettings s;
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
    // No line past 80 columns and the CR, as a registry editor writes; owner-only, and sound
    // now: the next save keeps nothing more, and what it writes holds what it must.
    for (const std::string& line : ReadLines(hive))
        if (line.size() > 81)
            return 4;
    const bool bOwnerOnly = Snapshot(hive).find(std::to_string(S_IFREG | 0600) + ":") == 0;
    return bOwnerOnly && Loaded().m_nXPos == 9 && s.Save() && FilesWith(folder, ".damaged-") == kept &&
                   ReadFile(hive).find(odd.written) != std::string::npos
               ? 0
               : 5;
}

TEST(SettingsHive, ExportsLoadAndOddHivesNeverHangAndAreKeptAsideBeforeTheFirstSave)
{
    const auto hive = [](const std::string& before, const std::string& line,
                         const std::string& header = "REGEDIT4\r\n") {
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
    const std::string tool =
        "[HKEY_CURRENT_USER\\Software\\Other Vendor\\Tool]\r\n\"Window\"=hex:2c,00,00,00,02,00,00,00\r\n"
        "\"Title\"=\"C:\\\\a \\\"b\\\"\"\r\n@=dword:0000002a\r\n";
    const std::string tail =
        "\"NoNul\"=hex(1):61,62,63\r\n\"Short\"=hex(4):01,00\r\n\"Line\\nBreak\"=hex(ffff0000):\r\n";
    const std::string elsewhere = "[HKEY_LOCAL_MACHINE\\Software\\Elsewhere]\r\n\"x\"=dword:00000005\r\n";
    const std::string others = tool +
                               "\"Path\"=hex(2):25,54,25,c3,a9,00\r\n\"List\"=hex(7):61,00,62,00,00\r\n" +
                               "\"Cafe\"=hex(1):63,61,66,c3,a9,00\r\n" + tail + "\r\n" + elsewhere;
    // The same as version 5.00 exports it: string types in UTF-16LE, a continued line, deletions.
    const std::string exported5 =
        "; a comment\r\n" + tool + "\"Path\"=hex(2):25,00,54,00,25,00,\\\r\n  e9,00,00,00\r\n" +
        "\"List\"=hex(7):61,00,00,00,62,00,00,00,00,00\r\n\"Cafe\"=hex(1):63,00,61,00,66,00,e9,00,00,00\r\n" +
        tail + "\"Dropped\"=dword:00000001\r\n\"Dropped\"=-\r\n[HKEY_CURRENT_USER\\Software\\Gone]\r\n" +
        "\"g\"=dword:00000001\r\n[-HKEY_CURRENT_USER\\Software\\Gone]\r\n" + elsewhere + "\r\n";
    // A fresh key: our values in their stored order, the log file's field whole.
    std::string fresh = "REGEDIT4\r\n\r\n[" + kOurs + "]\r\n";
    for (const SettingsDword& d : kSettingsDwords)
        fresh += "\"" + std::string(d.name) + "\"=dword:0000000" +
                 (d.member == &CTessarinSettings::m_nXPos ? "9\r\n" : "0\r\n");
    fresh += "\"strLogFile\"=hex(1):54,65,73,73,61,72,69,6e,2e,6c,6f,67,00,00,";
    const std::string v5 = "Windows Registry Editor Version 5.00\r\n\r\n", sound = hive("", "");
    std::vector<OddHive> odds = {
        {"version 5.00 export", wide(hive(exported5, "", v5)), true, true, false, others},
        {"unreadable", sound, false, true, true, fresh, [](const char* h) { return chmod(h, 0); }},
        {"a FIFO", "", false, false, false, "", [](const char* h) { return unlink(h) | mkfifo(h, 0600); }},
        {"a folder", "", false, false, false, "", [](const char* h) { return unlink(h) | mkdir(h, 0700); }},
        {"in a read-only folder", sound, true, false, false, "",
         [](const char* h) { return chmod(std::filesystem::path(h).parent_path().c_str(), 0500); }},
        {"on a full disk", sound, true, false, false, "",   // the old hive stays whole
         [](const char*) { return setrlimit(RLIMIT_FSIZE, &kFullDisk); }},
    };
    // Damage of every kind, named by their row in odds: a garbage line, a bad dword digit, a
    // nine-digit dword, a bad hex byte, an unterminated text, an unclosed key line, a value
    // before any key, a key "-Tool" (written back as a deletion it would vanish), no header,
    // and a lone UTF-16 surrogate.
    for (const std::string& damaged :
         {hive("", "\x01\x02\xff half a line\r\n"), hive("", "\"xPos\"=dword:1z\r\n"),
          hive("", "\"xPos\"=dword:000000002\r\n"), hive("", "\"A\"=hex:01,0g\r\n"),
          hive("", "\"nIndex\"=\"half\r\n"), hive("[HKEY_CURRENT_USER\\Broken\r\n", ""),
          hive("\"lost\"=dword:00000001\r\n", ""), hive("[\\-Tool]\r\n", ""), hive("", "", ""),
          wide(hive("", "", v5) + "; a comment ending in half a character") + std::string("\x00\xD8", 2)})
        odds.push_back({"damaged hive #" + std::to_string(odds.size()), damaged, true, true, true});
    for (const OddHive& odd : odds) {
        CTestStore store;
        const auto body = [&] { return SaveOver(odd, store.Folder(), store.HivePath()); };
        EXPECT_EQ(0, geteuid() == 0 ? AsOrdinaryUser(body) : InChild(body, 30)) << odd.name;
    }
}

// Leftovers of killed saves, a hive that links elsewhere, and another process's save,
// played by a thread that holds the hive's lock and writes a key of its own.
TEST(SettingsHive, SavesClearLeftoversFollowLinksAndMergeAfterAnotherSaver)
{
    CTestStore store;
    const std::string hive = store.HivePath();
    CTessarinSettings s;
    FillSettings(s, "run.log");
    ASSERT_TRUE(s.Save());
    EXPECT_EQ(std::to_string(S_IFDIR | 0700) + ":", Snapshot(store.Folder()));

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
    const int fd = open((hive + ".lock").c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_EQ(0, flock(fd, LOCK_EX));
    std::thread other([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        WriteText(real, "REGEDIT4\r\n[HKEY_CURRENT_USER\\Other]\r\n\"v\"=dword:00000007\r\n");
        close(fd);
    });
    s.m_nA = 4;
    EXPECT_TRUE(s.Save());
    other.join();
    EXPECT_EQ(SettingsTexts(s), SettingsTexts(Loaded()));
    EXPECT_EQ(std::to_string(S_IFLNK | 0777) + ":", Snapshot(hive));
    EXPECT_NE(std::string::npos, ReadFile(real).find("[HKEY_CURRENT_USER\\Other]\r\n\"v\"=dword:00000007"));
}

}   // namespace
