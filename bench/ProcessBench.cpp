// Whole processes, as the user runs them, at the sizes of a large imported
// restricted-sites list: moatgate-reg's query of one key, its export of the zone
// map and its import of that export into a new store, beside the floor (a program
// that only reads the store file and scans its lines); Wine's own reg import and
// query of the same data, where Wine is installed; and the time from starting
// Moatgate to its window being mapped on an X server (Xvfb), with a store whose
// scripting is secured, so that no question comes first.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#ifdef MOATGATE_HAVE_XCB
#include <xcb/xcb.h>
#endif

#include "bench/BenchStore.h"
#include "bench/Ratios.h"
#include "registry/ScriptPolicy.h"
#include "registry/SettingsKeys.h"
#include "registry/store/FileStore.h"
#include "tools/moatgate-reg/RegFile.h"

extern char** environ;

namespace moatgate {
namespace {

using Clock = std::chrono::steady_clock;

// Wine's own figures, measured on this machine class beside ours, for a run
// where Wine is not installed (milliseconds, by size).
const std::map<int, double> kRecordedWineImportMs = {{2000, 1900}, {20000, 8900}};
const std::map<int, double> kRecordedWineQueryMs = {{100000, 700}};

BenchDir& Dir() {
    static BenchDir dir;
    return dir;
}

double FileMegabytes(const std::string& path) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    return ec ? 0 : static_cast<double>(size) / (1024.0 * 1024.0);
}

// This process's environment with `changes` made: "NAME=value" sets, "NAME" removes.
std::vector<std::string> Environment(const std::vector<std::string>& changes) {
    std::vector<std::string> env;
    auto nameOf = [](const std::string& entry) { return entry.substr(0, entry.find('=')); };
    for (char** e = environ; *e; ++e) {
        const std::string entry(*e);
        bool replaced = false;
        for (const std::string& c : changes) replaced = replaced || nameOf(c) == nameOf(entry);
        if (!replaced) env.push_back(entry);
    }
    for (const std::string& c : changes)
        if (c.find('=') != std::string::npos) env.push_back(c);
    return env;
}

std::vector<char*> Pointers(std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    for (std::string& s : strings) pointers.push_back(s.data());
    pointers.push_back(nullptr);
    return pointers;
}

// Starts a program (searched on the path), its input from /dev/null and its output
// to `output`; `extraFd`, when given, becomes its descriptor 3.
pid_t Start(std::vector<std::string> args, const std::vector<std::string>& changes,
            const std::string& output = "/dev/null", int extraFd = -1) {
    std::vector<std::string> env = Environment(changes);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, output.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    if (extraFd >= 0) posix_spawn_file_actions_adddup2(&actions, extraFd, 3);
    pid_t pid = -1;
    auto argv = Pointers(args);
    auto envp = Pointers(env);
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

struct Finished {
    double seconds = 0;
    double peakMB = 0;  // the most memory the process held
    bool ok = false;    // ran and exited with 0
};

Finished WaitFor(pid_t pid, Clock::time_point started) {
    Finished f;
    if (pid < 0) return f;
    int status = 0;
    struct rusage usage {};
    while (::wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    f.seconds = std::chrono::duration<double>(Clock::now() - started).count();
    f.peakMB = static_cast<double>(usage.ru_maxrss) / 1024.0;
    f.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return f;
}

// Runs a program to its end through moatgate_measure, so that its peak memory is its own.
Finished Run(std::vector<std::string> args, const std::vector<std::string>& changes = {},
             const std::string& output = "/dev/null") {
    args.insert(args.begin(), MOATGATE_MEASURE_PROGRAM);
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return {};
    const auto started = Clock::now();
    const Finished launcher = WaitFor(Start(args, changes, output, fds[1]), started);
    ::close(fds[1]);
    char line[96] = {};
    std::size_t got = 0;
    for (ssize_t n; got + 1 < sizeof line && (n = ::read(fds[0], line + got, sizeof line - 1 - got)) > 0;)
        got += static_cast<std::size_t>(n);
    ::close(fds[0]);
    Finished f;
    long peakKb = 0;
    int status = -1;
    if (!launcher.ok || std::sscanf(line, "%lf %ld %d", &f.seconds, &peakKb, &status) != 3) return {};
    f.peakMB = static_cast<double>(peakKb) / 1024.0;
    f.ok = status == 0;
    return f;
}

bool OnPath(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "";
    for (std::size_t start = 0; start <= dirs.size();) {
        std::size_t end = dirs.find(':', start);
        if (end == std::string::npos) end = dirs.size();
        if (::access((dirs.substr(start, end - start) + "/" + program).c_str(), X_OK) == 0) return true;
        start = end + 1;
    }
    return false;
}

std::string StoreFile(int n) {
    const std::string name = "store-" + std::to_string(n) + ".reg";
    const std::string path = (Dir().path / name).string();
    if (!std::filesystem::exists(path)) Dir().Write(name, StoreText(n));
    return path;
}

std::string ZoneMapName() { return "HKEY_CURRENT_USER\\" + std::string(kZoneMapKey); }

// The export of the zone map of the store of n domains, as the registry editor writes it.
std::string RegFile(int n) {
    const std::string name = "zonemap-" + std::to_string(n) + ".reg";
    const std::string path = (Dir().path / name).string();
    if (std::filesystem::exists(path)) return path;
    auto store = Open(Dir().Write("export-source.reg", StoreText(n)));
    HKEY key = 0;
    if (store->RegOpenKeyA(HKEY_CURRENT_USER, kZoneMapKey, &key) != ERROR_SUCCESS) std::abort();
    const std::string text = ExportRegText(*store, key, ZoneMapName());
    store->RegCloseKey(key);
    Dir().Write(name, EncodeRegFile(text));
    return path;
}

void Report(benchmark::State& state, const Finished& f) {
    if (!f.ok) state.SkipWithError("the program failed");
    state.SetIterationTime(f.seconds);
}

void BM_Floor(benchmark::State& state) {
    const std::string store = StoreFile(static_cast<int>(state.range(0)));
    Finished f;
    for (auto _ : state) Report(state, f = Run({MOATGATE_FLOOR_PROGRAM, store}));
    state.counters["file_MB"] = FileMegabytes(store);
    state.counters["peak_MB"] = f.peakMB;
}

// Loads the whole store and prints one key.
void BM_Query(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    const std::string store = StoreFile(n);
    const std::string key = "HKCU\\" + std::string(kZoneMapKey) + "\\" + DomainName(n / 2);
    Finished f;
    for (auto _ : state)
        Report(state, f = Run({MOATGATE_REG_PROGRAM, "query", key}, {"MOATGATE_REGISTRY=" + store}));
    state.counters["file_MB"] = FileMegabytes(store);
    state.counters["peak_MB"] = f.peakMB;
}

void BM_Export(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    const std::string store = StoreFile(n);
    const std::string out = (Dir().path / ("exported-" + std::to_string(n) + ".reg")).string();
    Finished f;
    for (auto _ : state)
        Report(state, f = Run({MOATGATE_REG_PROGRAM, "export", ZoneMapName(), out, "/y"}, {"MOATGATE_REGISTRY=" + store}));
    state.counters["reg_MB"] = FileMegabytes(out);
    state.counters["peak_MB"] = f.peakMB;
}

// The export of the zone map imported into a store that does not exist yet.
void BM_Import(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    const std::string reg = RegFile(n);
    const std::string store = (Dir().path / ("imported-" + std::to_string(n) + ".reg")).string();
    Finished f;
    for (auto _ : state) {
        std::filesystem::remove(store);
        Report(state, f = Run({MOATGATE_REG_PROGRAM, "import", reg}, {"MOATGATE_REGISTRY=" + store}));
    }
    state.counters["reg_MB"] = FileMegabytes(reg);
    state.counters["peak_MB"] = f.peakMB;
    state.counters["store_MB"] = FileMegabytes(store);
}

// A throwaway Wine prefix, made once per run, whose server keeps running between
// commands, as a user's does.
class WinePrefix {
public:
    static WinePrefix& Get() {
        static WinePrefix prefix;
        return prefix;
    }
    const std::string& Problem() const { return problem_; }
    Finished Wine(std::vector<std::string> args) {
        args.insert(args.begin(), "wine");
        return Run(args, env_);
    }
    ~WinePrefix() {
        if (path_.empty()) return;
        Run({"wineserver", "-k"}, env_);
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }

private:
    WinePrefix() {
        if (!OnPath("wine") || !OnPath("wineboot") || !OnPath("wineserver")) {
            problem_ = "Wine is not installed: the figure recorded beside ours on this machine class is used";
            return;
        }
        std::string pattern = (std::filesystem::temp_directory_path() / "moatgate-bench-wine-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) {
            problem_ = "cannot make a Wine prefix";
            return;
        }
        path_ = pattern;
        env_ = {"WINEPREFIX=" + path_, "WINEDEBUG=-all", "WINEDLLOVERRIDES=mscoree,mshtml=", "DISPLAY",
                "MOATGATE_REGISTRY"};
        std::fprintf(stderr, "Making a Wine prefix in %s (wineboot -i)...\n", path_.c_str());
        if (!Run({"wineboot", "-i"}, env_).ok || !Run({"wineserver", "-w"}, env_).ok ||
            !Run({"wineserver", "-p"}, env_).ok)
            problem_ = "wineboot -i failed";
    }

    std::string path_;
    std::vector<std::string> env_;
    std::string problem_;
};

void Recorded(benchmark::State& state, const std::map<int, double>& recorded, const std::string& why) {
    const auto it = recorded.find(static_cast<int>(state.range(0)));
    if (it == recorded.end()) {
        state.SkipWithError(why.c_str());
        return;
    }
    for (auto _ : state) state.SetIterationTime(it->second / 1e3);
    state.SetLabel("recorded");
}

// Wine's reg import of the same file into its running server; the imported key is
// deleted again between imports, so that each one creates every key.
void BM_WineImport(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    const std::string reg = RegFile(n);
    WinePrefix& wine = WinePrefix::Get();
    if (!wine.Problem().empty()) return Recorded(state, kRecordedWineImportMs, wine.Problem());
    for (auto _ : state) {
        wine.Wine({"reg", "delete", ZoneMapName(), "/f"});
        Report(state, wine.Wine({"reg", "import", reg}));
    }
    state.counters["reg_MB"] = FileMegabytes(reg);
}

// Wine's query of one key, its server running and holding the zone map of n domains.
void BM_WineQuery(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    WinePrefix& wine = WinePrefix::Get();
    if (!wine.Problem().empty()) return Recorded(state, kRecordedWineQueryMs, wine.Problem());
    wine.Wine({"reg", "delete", ZoneMapName(), "/f"});
    if (!wine.Wine({"reg", "import", RegFile(n)}).ok) state.SkipWithError("Wine could not import the zone map");
    const std::string key = "HKCU\\" + std::string(kZoneMapKey) + "\\" + DomainName(n / 2);
    for (auto _ : state) Report(state, wine.Wine({"reg", "query", key}));
}

#ifdef MOATGATE_HAVE_XCB

// An X server of our own (Xvfb), watched for windows being mapped.
class XServer {
public:
    static XServer& Get() {
        static XServer server;
        return server;
    }
    const std::string& Problem() const { return problem_; }
    const std::string& Display() const { return display_; }

    // Waits until a top-level window is mapped or `pid` ends; the window's title.
    bool WaitForMap(pid_t pid, std::string& title, Clock::time_point& mapped) {
        const auto deadline = Clock::now() + std::chrono::seconds(120);
        while (Clock::now() < deadline) {
            while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) {
                const bool isMap = (event->response_type & 0x7F) == XCB_MAP_NOTIFY;
                xcb_window_t window = isMap ? reinterpret_cast<xcb_map_notify_event_t*>(event)->window : 0;
                std::free(event);
                if (!isMap) continue;
                mapped = Clock::now();
                title = Title(window);
                return true;
            }
            int status = 0;
            if (::waitpid(pid, &status, WNOHANG) == pid) return false;
            pollfd fd{xcb_get_file_descriptor(connection_), POLLIN, 0};
            ::poll(&fd, 1, 5);
        }
        return false;
    }
    void Drain() {
        xcb_aux_sync();
        while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) std::free(event);
    }

    ~XServer() {
        if (connection_) xcb_disconnect(connection_);
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
    }

private:
    XServer() {
        if (!OnPath("Xvfb")) {
            problem_ = "Xvfb is not installed";
            return;
        }
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) {
            problem_ = "no pipe";
            return;
        }
        pid_ = Start({"Xvfb", "-displayfd", "3", "-nolisten", "tcp", "-screen", "0", "1280x1024x24"}, {}, "/dev/null",
                     fds[1]);
        ::close(fds[1]);
        std::string number;
        char c = 0;
        while (::read(fds[0], &c, 1) == 1 && c != '\n') number += c;
        ::close(fds[0]);
        if (pid_ < 0 || number.empty()) {
            problem_ = "Xvfb did not start";
            return;
        }
        display_ = ":" + number;
        connection_ = xcb_connect(display_.c_str(), nullptr);
        if (xcb_connection_has_error(connection_)) {
            problem_ = "cannot connect to Xvfb";
            return;
        }
        const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data;
        root_ = screen->root;
        const std::uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_change_window_attributes(connection_, root_, XCB_CW_EVENT_MASK, &mask);
        xcb_aux_sync();
    }

    void xcb_aux_sync() { std::free(xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr)); }

    std::string Title(xcb_window_t window) {
        const auto cookie = xcb_get_property(connection_, 0, window, XCB_ATOM_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY, 0, 256);
        xcb_get_property_reply_t* reply = xcb_get_property_reply(connection_, cookie, nullptr);
        std::string title;
        if (reply) {
            title.assign(static_cast<const char*>(xcb_get_property_value(reply)),
                         static_cast<std::size_t>(xcb_get_property_value_length(reply)));
            std::free(reply);
        }
        return title;
    }

    pid_t pid_ = -1;
    std::string display_;
    std::string problem_;
    xcb_connection_t* connection_ = nullptr;
    xcb_window_t root_ = 0;
};

// From starting Moatgate to its main window being mapped: the store's load, the
// start-up checks and the fill of the site list, all before the window shows.
void BM_WindowMapped(benchmark::State& state) {
    XServer& x = XServer::Get();
    if (!x.Problem().empty()) return state.SkipWithError(x.Problem().c_str());
    const int n = static_cast<int>(state.range(0));
    const std::string store = (Dir().path / ("window-" + std::to_string(n) + ".reg")).string();
    {
        Dir().Write("window-" + std::to_string(n) + ".reg", StoreText(n));
        auto secured = Open(store);
        WritePolicySet(*secured, PolicySet::Secured);
    }
    const std::string home = (Dir().path / "home").string();
    std::filesystem::create_directories(home);
    const std::vector<std::string> env = {"DISPLAY=" + x.Display(), "QT_QPA_PLATFORM=xcb", "MOATGATE_REGISTRY=" + store,
                                          "HOME=" + home, "XDG_CONFIG_HOME=" + home, "XDG_DATA_HOME=" + home,
                                          "WINEPREFIX"};
    const std::string expected = "MOATGATE - Script Security and Trusted Sites Manager";
    // The first start registers the toolbar button (a write); the ones measured find it in place.
    for (bool warmUp = true;; warmUp = false) {
        if (!warmUp && !state.KeepRunning()) break;
        const auto started = Clock::now();
        const pid_t pid = Start({MOATGATE_PROGRAM}, env);
        std::string title;
        Clock::time_point mapped;
        const bool shown = x.WaitForMap(pid, title, mapped);
        ::kill(pid, SIGTERM);
        ::waitpid(pid, nullptr, 0);
        x.Drain();
        if (!shown) return state.SkipWithError("the program ended before its window was shown");
        if (title != expected) return state.SkipWithError(("another window came first: " + title).c_str());
        if (!warmUp) state.SetIterationTime(std::chrono::duration<double>(mapped - started).count());
    }
    state.counters["file_MB"] = FileMegabytes(store);
}

#else

void BM_WindowMapped(benchmark::State& state) { state.SkipWithError("built without xcb"); }

#endif

#define SIZES Arg(2000)->Arg(20000)->Arg(100000)->Unit(benchmark::kMillisecond)->UseManualTime()
BENCHMARK(BM_Floor)->SIZES->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_Query)->SIZES->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_Export)->SIZES->Repetitions(3)->ReportAggregatesOnly(true);
BENCHMARK(BM_Import)->SIZES->Repetitions(3)->ReportAggregatesOnly(true);
BENCHMARK(BM_WindowMapped)->Arg(0)->SIZES->Iterations(1)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_WineImport)->Arg(2000)->Arg(20000)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(1)
    ->Repetitions(3)->ReportAggregatesOnly(true);
BENCHMARK(BM_WineQuery)->Arg(100000)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(1)->Repetitions(5)
    ->ReportAggregatesOnly(true);

}  // namespace
}  // namespace moatgate

int main(int argc, char** argv) {
    using namespace moatgate;
    RatioSpec spec;
    spec.pairs = {{"BM_Query", "BM_Floor", 2.0}, {"BM_Import", "BM_WineImport", 30.0, true},
                  {"BM_Query", "BM_WineQuery", 1.0, true}};
    spec.counters = {{"BM_Export", "peak_MB", "reg_MB", 2.0}, {"BM_Import", "peak_MB", "reg_MB", 2.0},
                     {"BM_Query", "peak_MB", "file_MB", 0}, {"BM_Floor", "peak_MB", "file_MB", 0}};
    spec.limits = {{"BM_WindowMapped", "20000", 150}};
    return RunBenchmarksWithRatios(argc, argv, spec);
}
