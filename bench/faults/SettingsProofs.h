#pragma once
// Settings that must survive: saves killed at every system call and at random moments,
// two processes saving side by side while a third reads, for the fault test and the
// long run of bench/faults alike. Each works in the settings folder of a fresh
// XDG_CONFIG_HOME and leaves the caller's environment as it was.

#include <dirent.h>
#include <sys/mman.h>
#include <sys/ptrace.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <random>
#include <string>
#include <vector>

#include "app/settings/TessarinSettings.h"
#include "platform/Registry.h"
#include "platform/RegistryHive.h"
#include "bench/faults/FaultRig.h"

namespace faultrig {

const char kSettingsPath[] = "HKEY_CURRENT_USER\\Software\\Varnolt\\Tessarin\\Settings";

// The record's numbers, every one of them.
inline std::vector<uint32_t CTessarinSettings::*> Numbers()
{
    using S = CTessarinSettings;
    return {&S::m_nChkParam,
            &S::m_nChkBroadcast,
            &S::m_nDestAddrRefN,
            &S::m_nXPos,
            &S::m_nYPos,
            &S::m_nDestAddrBlindN,
            &S::m_nA,
            &S::m_nIndex,
            &S::m_nMode,
            &S::m_nCollectTime,
            &S::m_nCycleTime,
            &S::m_nReportShortAddr,
            &S::m_nReportEndpoint,
            &S::m_nMinRefNodes,
            &S::m_nAppendToLogFile};
}

// Sets every value of the record from one number, so a whole record can be told from
// a mixture of two.
inline void FillAll(CTessarinSettings& s, uint32_t v)
{
    for (auto number : Numbers())
        s.*number = v;
    s.SetLogFile(v == 0 ? TESSARIN_DEFAULT_LOG_FILE : ("run-" + std::to_string(v) + ".log").c_str());
}

// The number of the FillAll that made every value, or -1 for a mixture.
inline long long WholeRecord(const CTessarinSettings& s)
{
    CTessarinSettings model;
    FillAll(model, s.m_nChkParam);
    bool same = std::string(model.m_szLogFile) == s.m_szLogFile;
    for (auto number : Numbers())
        same = same && model.*number == s.*number;
    return same ? static_cast<long long>(s.m_nChkParam) : -1;
}

inline std::string ReadBytes(const std::string& path, bool* exists = nullptr)
{
    std::string bytes;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (exists)
        *exists = f != nullptr;
    if (f == nullptr)
        return bytes;
    char chunk[4096];
    for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, f)) > 0;)
        bytes.append(chunk, n);
    std::fclose(f);   // read only
    return bytes;
}

inline void WriteBytes(const std::string& path, const std::string& bytes)
{
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr)
        return;
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);   // checked by whoever reads it back
}

inline std::vector<std::string> NamesWith(const std::string& folder, const char* tag)
{
    std::vector<std::string> names;
    if (DIR* d = opendir(folder.c_str())) {
        while (dirent* e = readdir(d))
            if (std::strstr(e->d_name, tag))
                names.push_back(e->d_name);
        closedir(d);
    }
    return names;
}

// A settings store of its own for the life of the object.
class CSettingsPlace {
public:
    CSettingsPlace()
    {
        const char* old = std::getenv("XDG_CONFIG_HOME");
        m_strOld = old ? old : "";
        m_strTop = MakeTempFolder("settings-proof");
        chmod(m_strTop.c_str(), 0755);
        setenv("XDG_CONFIG_HOME", m_strTop.c_str(), 1);
    }
    ~CSettingsPlace()
    {
        setenv("XDG_CONFIG_HOME", m_strOld.c_str(), 1);
        std::error_code ignored;
        fs::remove_all(m_strTop, ignored);
    }
    std::string Folder() const { return m_strTop + "/tessarin"; }
    std::string Hive() const { return Folder() + "/HKEY_CURRENT_USER.reg"; }

private:
    std::string m_strOld;
    std::string m_strTop;
};

struct TraceResult {
    int nEntries = 0;       // system calls entered
    bool bKilled = false;   // killed on entering the last of them
    bool bClean = false;    // ended by itself with status 0
};

// Runs save in a traced child after prepare, stopping it at every system call it enters;
// SIGKILL on entering number killAt (never when 0), so that call never runs.
inline TraceResult TraceChild(const std::function<void()>& prepare, const std::function<bool()>& save,
                              int killAt)
{
    TraceResult r;
    const pid_t pid = fork();
    if (pid < 0)
        return r;
    if (pid == 0) {
        prepare();
        if (ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0)
            _exit(90);
        raise(SIGSTOP);
        _exit(save() ? 0 : 91);
    }
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFSTOPPED(status)) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        return r;
    }
    ptrace(PTRACE_SETOPTIONS, pid, nullptr, PTRACE_O_TRACESYSGOOD | PTRACE_O_EXITKILL);
    bool inCall = false;
    int signal = 0;
    for (;;) {
        ptrace(PTRACE_SYSCALL, pid, nullptr, reinterpret_cast<void*>(static_cast<long>(signal)));
        signal = 0;
        if (waitpid(pid, &status, 0) != pid)
            break;
        if (WIFEXITED(status) || WIFSIGNALED(status)) {
            r.bClean = WIFEXITED(status) && WEXITSTATUS(status) == 0;
            return r;
        }
        if (!WIFSTOPPED(status))
            continue;
        if (WSTOPSIG(status) != (SIGTRAP | 0x80)) {
            signal = WSTOPSIG(status);   // not ours: deliver it
            continue;
        }
        if (!inCall && ++r.nEntries == killAt) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            r.bKilled = true;
            return r;
        }
        inCall = !inCall;
    }
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return r;
}

struct KillSweep {
    int nSyscalls = 0;     // in one whole save
    int nOld = 0;          // kills after which the hive was the old one
    int nNew = 0;          // and the new one
    std::string failure;   // the first thing that did not hold
};

// A save of record `next` over a hive holding record `previous` (none when 0), killed
// on entering each of its system calls in turn.
inline KillSweep KillAtEverySystemCall(uint32_t previous, uint32_t next)
{
    KillSweep sweep;
    CSettingsPlace place;
    auto setOld = [&] {
        std::error_code ignored;
        fs::remove_all(place.Folder(), ignored);
        if (previous != 0) {
            RunInChild([&](std::string&) {
                CTessarinSettings s;
                FillAll(s, previous);
                s.Save();
            });
        }
    };
    auto saveNext = [&] {
        CTessarinSettings s;
        s.Load();
        FillAll(s, next);
        return s.Save();
    };
    setOld();
    bool oldExists = false;
    const std::string oldBytes = ReadBytes(place.Hive(), &oldExists);
    const TraceResult whole = TraceChild(
        [] {
            CTessarinSettings s;
            s.Load();
        },
        saveNext, 0);
    if (!whole.bClean) {
        sweep.failure = "an untouched save did not succeed";
        return sweep;
    }
    sweep.nSyscalls = whole.nEntries;
    const std::string newBytes = ReadBytes(place.Hive());

    for (int k = 1; k <= whole.nEntries && sweep.failure.empty(); ++k) {
        setOld();
        const TraceResult r = TraceChild(
            [] {
                CTessarinSettings s;
                s.Load();
            },
            saveNext, k);
        bool exists = false;
        const std::string bytes = ReadBytes(place.Hive(), &exists);
        const std::string at = " (killed entering system call " + std::to_string(k) + ")";
        if (!r.bKilled && !r.bClean)
            sweep.failure = "the traced save went wrong" + at;
        else if (exists && bytes == newBytes)
            ++sweep.nNew;
        else if (exists == oldExists && bytes == oldBytes)
            ++sweep.nOld;
        else
            sweep.failure = "the hive is neither the old nor the new one" + at;

        // The next start: loads what is there and leaves no temporary file behind.
        const std::string report = RunInChild(
            [&](std::string& out) {
                CTessarinSettings s;
                s.Load();
                const long long which = WholeRecord(s);
                RIG_CHECK(out, which == previous || which == next);
                RIG_CHECK(out, NamesWith(place.Folder(), ".tmp-").empty());
                RIG_CHECK(out, NamesWith(place.Folder(), ".damaged-").empty());
            },
            10);
        if (sweep.failure.empty() && !report.empty())
            sweep.failure = report + at;
    }
    return sweep;
}

struct RandomKills {
    int nTrials = 0;
    int nWhole = 0;     // the hive held one whole record (always, or it failed)
    int nWritten = 0;   // and it was one the killed process wrote
    std::string failure;
};

// A process saving record after record, killed at a random moment, again and again.
inline RandomKills KillAtRandomMoments(int trials, uint64_t seed)
{
    RandomKills result;
    CSettingsPlace place;
    std::mt19937_64 random(seed);
    long long lastSeen = 0;
    for (int t = 0; t < trials && result.failure.empty(); ++t) {
        const pid_t pid = fork();
        if (pid == 0) {
            for (uint32_t k = uint32_t(t) * 100000u + 1;; ++k) {
                CTessarinSettings s;
                s.Load();
                FillAll(s, k);
                s.Save();
            }
        }
        usleep(static_cast<useconds_t>(random() % 15000));
        kill(pid, SIGKILL);
        int status = 0;
        waitpid(pid, &status, 0);
        ++result.nTrials;

        CRegistryHive hive;
        const std::string bytes = ReadBytes(place.Hive());
        if (hive.Parse(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()).Any()) {
            result.failure = "trial " + std::to_string(t) + ": the hive is damaged";
            break;
        }
        // The next start leaves no temporary file of the killed save behind.
        const std::string report = RunInChild(
            [&](std::string& out) {
                CTessarinSettings s;
                s.Load();
                RIG_CHECK(out, NamesWith(place.Folder(), ".tmp-").empty());
            },
            10);
        if (!report.empty()) {
            result.failure = "trial " + std::to_string(t) + ": " + report;
            break;
        }
        CTessarinSettings s;
        s.Load();
        const long long which = WholeRecord(s);
        if (which < 0 || which < lastSeen) {
            result.failure = "trial " + std::to_string(t) +
                             (which < 0 ? ": a mixture of two records" : ": a save went back in time");
            break;
        }
        ++result.nWhole;
        result.nWritten += which > uint32_t(t) * 100000u;
        lastSeen = which;
    }
    return result;
}

struct SideBySide {
    int nSaves = 0;   // by each writer
    int nReads = 0;   // by the reader, of the file and through the registry calls
    int nFailedSaves = 0;
    long long nFinalA = -1;   // each writer's value at the end
    long long nFinalB = -1;
    std::string failure;
};

// Two processes each setting a value of its own in the settings key, saves times, while
// a third reads the hive without pause: every read is whole, neither value ever goes
// back (a save on a stale copy would take the other's value back), both end at saves.
inline SideBySide TwoWritersAndAReader(int saves)
{
    SideBySide result;
    result.nSaves = saves;
    CSettingsPlace place;
    {
        CTessarinSettings s;   // the key and all sixteen values exist before the race
        s.Save();
    }
    // Exits with the number of calls that failed.
    auto writer = [&](const char* name) {
        const pid_t pid = fork();
        if (pid != 0)
            return pid;
        int failed = 0;
        for (int i = 1; i <= saves; ++i) {
            RegKey key = nullptr;
            const uint8_t value[4] = {uint8_t(i), uint8_t(i >> 8), uint8_t(i >> 16), 0};
            failed += RegistryCreateKey(TREG_HKEY_CURRENT_USER, TESSARIN_SETTINGS_KEY, 0, nullptr,
                                        TREG_OPTION_NON_VOLATILE, TREG_KEY_WRITE, nullptr, &key,
                                        nullptr) != TREG_SUCCESS;
            failed += RegistrySetValue(key, name, 0, TREG_DWORD, value, 4) != TREG_SUCCESS;
            failed += RegistryCloseKey(key) != TREG_SUCCESS;
        }
        _exit(failed > 100 ? 100 : failed);
    };
    // Counted where the parent can see it after the reader is killed.
    void* shared = mmap(nullptr, sizeof(long), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (shared == MAP_FAILED) {
        result.failure = "mmap failed";
        return result;
    }
    volatile long* reads = static_cast<volatile long*>(shared);
    *reads = 0;
    const pid_t reader = fork();
    if (reader == 0) {
        // Reads until killed; a torn or backward read ends it with a status saying which.
        uint32_t lastA = 0;
        uint32_t lastB = 0;
        for (long n = 0;; ++n) {
            CRegistryHive hive;
            const std::string bytes = ReadBytes(place.Hive());
            if (hive.Parse(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()).Any())
                _exit(10);
            const RegistryHiveValue* a = hive.FindValue(kSettingsPath, "xPos");
            const RegistryHiveValue* b = hive.FindValue(kSettingsPath, "yPos");
            if (a == nullptr || b == nullptr || a->data.size() != 4 || b->data.size() != 4)
                _exit(11);
            uint32_t va = a->data[0] | a->data[1] << 8 | a->data[2] << 16;
            uint32_t vb = b->data[0] | b->data[1] << 8 | b->data[2] << 16;
            if (va < lastA || vb < lastB)
                _exit(12);
            lastA = va;
            lastB = vb;
            if (n % 2 == 1) {
                // Through the registry calls, as a loading window would.
                CTessarinSettings s;
                if (!s.Load() || s.m_nXPos < lastA || s.m_nYPos < lastB)
                    _exit(13);
                lastA = s.m_nXPos;
                lastB = s.m_nYPos;
            }
            *reads = n + 1;
        }
    }
    const pid_t writers[2] = {writer("xPos"), writer("yPos")};
    for (pid_t pid : writers) {
        int status = 0;
        waitpid(pid, &status, 0);
        if (!WIFEXITED(status))
            result.nFailedSaves += saves;
        else
            result.nFailedSaves += WEXITSTATUS(status);
    }
    usleep(200000);   // a few more reads of the final hive
    kill(reader, SIGKILL);
    int status = 0;
    waitpid(reader, &status, 0);
    if (WIFEXITED(status)) {
        static const char* const why[] = {"a torn hive", "a value missing", "a value went back",
                                          "a load went back"};
        const int code = WEXITSTATUS(status);
        result.failure =
            std::string("the reader saw ") + (code >= 10 && code <= 13 ? why[code - 10] : "trouble");
    }
    result.nReads = static_cast<int>(*reads);
    munmap(shared, sizeof(long));
    if (result.failure.empty() && result.nFailedSaves > 0)
        result.failure = std::to_string(result.nFailedSaves) + " registry calls failed";
    CTessarinSettings s;
    s.Load();
    result.nFinalA = s.m_nXPos;
    result.nFinalB = s.m_nYPos;
    if (result.failure.empty() && !NamesWith(place.Folder(), ".tmp-").empty())
        result.failure = "a temporary file was left behind";
    return result;
}

}   // namespace faultrig
