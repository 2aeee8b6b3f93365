// Settings that must survive: a save killed on entering each of its system calls in
// turn (stepped with ptrace), two processes saving side by side with a reader watching,
// and hives that are garbled, huge or looped on themselves. The thousand random kills
// and thousand saves each are scripts/prove-settings.

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include "bench/faults/SettingsProofs.h"

using namespace faultrig;

TEST(SettingsFaults, SaveKilledAtEverySystemCallLeavesTheOldHiveOrTheNew)
{
    for (uint32_t previous : {0u, 7u}) {
        SCOPED_TRACE(previous == 0 ? "first save" : "save over a hive");
        const KillSweep sweep = KillAtEverySystemCall(previous, 8);
        EXPECT_EQ(sweep.failure, "");
        EXPECT_GT(sweep.nSyscalls, 10) << "a save makes more calls than that: the tracing failed";
        EXPECT_EQ(sweep.nOld + sweep.nNew, sweep.nSyscalls);
        EXPECT_GT(sweep.nOld, 0);
        EXPECT_GT(sweep.nNew, 0);
    }
}

TEST(SettingsFaults, SavingSideBySideNeitherTearsNorLosesAnUpdate)
{
    const SideBySide run = TwoWritersAndAReader(100);
    EXPECT_EQ(run.failure, "");
    EXPECT_EQ(run.nFinalA, 100);
    EXPECT_EQ(run.nFinalB, 100);
    EXPECT_GT(run.nReads, 0);
}

TEST(SettingsFaults, OddHivesNeverHangAStartAndAreKeptAsideBeforeASave)
{
    struct Odd {
        const char* name;
        std::function<void(const std::string& hive)> make;
        bool bKeptBytes;   // the copy kept aside must hold the very bytes
    };
    std::mt19937 random(7);
    auto garbage = [&](size_t size, const char* prefix) {
        std::string bytes = prefix;
        while (bytes.size() < size)
            bytes += static_cast<char>(random() % 7 == 0 ? '\n' : random());
        return bytes;
    };
    const std::vector<Odd> odds = {
        {"random bytes", [&](const std::string& h) { WriteBytes(h, garbage(4096, "")); }, true},
        {"a header, then random bytes",
         [&](const std::string& h) { WriteBytes(h, garbage(4096, "REGEDIT4\r\n[HKEY_CURRENT_USER\\")); }, true},
        {"UTF-16 marks, then odd units",
         [&](const std::string& h) { WriteBytes(h, "\xFF\xFE\x00\xD8\x41" + garbage(999, "")); }, true},
        {"one endless line", [&](const std::string& h) { WriteBytes(h, std::string(1 << 20, '[')); }, true},
        {"larger than any hive",
         [&](const std::string& h) {
             WriteBytes(h, "");
             if (truncate(h.c_str(), off_t(80) << 20) != 0)
                 ADD_FAILURE() << "truncate";
         }, false},
        {"a link to itself",
         [&](const std::string& h) {
             if (symlink(h.c_str(), h.c_str()) != 0)
                 ADD_FAILURE() << "symlink";
         }, false},
    };
    for (const Odd& odd : odds) {
        SCOPED_TRACE(odd.name);
        CSettingsPlace place;
        fs::create_directories(place.Folder());
        odd.make(place.Hive());
        const std::string original = odd.bKeptBytes ? ReadBytes(place.Hive()) : std::string();
        const std::string report = RunInChild([&](std::string& out) {
            CTessarinSettings s;
            s.Load();   // must come back, whatever it finds
            FillAll(s, 9);
            RIG_CHECK(out, s.Save());
            const std::vector<std::string> kept = NamesWith(place.Folder(), ".damaged-");
            RIG_CHECK(out, kept.size() == 1);
            if (odd.bKeptBytes && kept.size() == 1)
                RIG_CHECK(out, ReadBytes(place.Folder() + "/" + kept[0]) == original);
            CTessarinSettings after;
            RIG_CHECK(out, after.Load() && WholeRecord(after) == 9);
            RIG_CHECK(out, NamesWith(place.Folder(), ".tmp-").empty());
        }, 20);
        EXPECT_EQ(report, "");
    }
}
