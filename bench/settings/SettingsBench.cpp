// Prints the time of a settings load (hive unchanged, and re-read after another process
// saved), of a save (flushed to disk), and the hive text's parse and write speed.
// Runs in a temporary XDG_CONFIG_HOME, never the user's own.

#include "app/settings/TessarinSettings.h"
#include "platform/RegistryHive.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include <sys/resource.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

double MicrosSince(Clock::time_point start, int count)
{
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count() / count;
}

}   // namespace

int main()
{
    std::string folder = "/tmp/tessarin-settings-bench-XXXXXX";
    if (!mkdtemp(&folder[0])) {
        std::perror("mkdtemp");
        return 1;
    }
    setenv("XDG_CONFIG_HOME", folder.c_str(), 1);

    CTessarinSettings seed;
    seed.m_nXPos = 1234;
    if (!seed.Save()) {
        std::fprintf(stderr, "save failed\n");
        return 1;
    }

    const int kLoads = 20000;
    auto start = Clock::now();
    uint32_t sink = 0;
    for (int i = 0; i < kLoads; ++i) {
        CTessarinSettings s;
        s.Load();
        sink += s.m_nXPos;
    }
    std::printf("load, hive unchanged:        %8.1f us\n", MicrosSince(start, kLoads));

    const std::string hive = folder + "/tessarin/HKEY_CURRENT_USER.reg";
    const int kColdLoads = 2000;
    double touchedTotal = 0;
    for (int i = 0; i < kColdLoads; ++i) {
        // Another process's save shows as a new file: the next load parses it again.
        std::filesystem::last_write_time(hive, std::filesystem::file_time_type::clock::now());
        auto t = Clock::now();
        CTessarinSettings s;
        s.Load();
        sink += s.m_nXPos;
        touchedTotal += MicrosSince(t, 1);
    }
    std::printf("load, hive changed on disk:  %8.1f us\n", touchedTotal / kColdLoads);

    const int kSaves = 200;
    start = Clock::now();
    for (int i = 0; i < kSaves; ++i) {
        CTessarinSettings s;
        s.Load();
        s.m_nChkParam = uint32_t(i);
        sink += s.Save();
    }
    std::printf("load + save (fsync, rename): %8.1f us\n", MicrosSince(start, kSaves));

    // A hive far larger than ours: 2000 keys of 20 values each.
    CRegistryHive big;
    for (int k = 0; k < 2000; ++k) {
        std::string path =
            "HKEY_CURRENT_USER\\Software\\Vendor" + std::to_string(k % 50) + "\\App\\Key" + std::to_string(k);
        for (int v = 0; v < 20; ++v) {
            uint8_t data[40];
            for (int b = 0; b < 40; ++b)
                data[b] = uint8_t(k + v + b);
            uint32_t type = v % 3 == 0 ? 4 : v % 3 == 1 ? 1 : 3;
            if (type == 1)
                data[39] = 0;
            big.SetValue(path, "value" + std::to_string(v), type, data, type == 4 ? 4 : 40);
        }
    }
    start = Clock::now();
    std::string text = big.Write();
    double writeUs = MicrosSince(start, 1);
    CRegistryHive back;
    start = Clock::now();
    RegistryHiveDamage damage = back.Parse(reinterpret_cast<const uint8_t*>(text.data()), text.size());
    double parseUs = MicrosSince(start, 1);
    double mb = double(text.size()) / (1024.0 * 1024.0);
    std::printf("hive text, %.1f MB: write %6.1f MB/s, parse %6.1f MB/s%s\n", mb, mb / (writeUs / 1e6),
                mb / (parseUs / 1e6), damage.Any() ? " (DAMAGED)" : "");

    struct rusage ru;
    if (getrusage(RUSAGE_SELF, &ru) == 0)
        std::printf("peak resident memory:        %8ld KB\n", ru.ru_maxrss);

    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
    return sink == 0 ? 1 : 0;
}
