// Figures of the real window on the offscreen platform: filling the proxy list box, and "Download List" from a
// loopback server until the rows are shown, each beside its baseline.

#include "bench_support.h"

#include "app/app.h"
#include "platform/dialogs.h"
#include "platform/linux/browser_lookup.h"
#include "platform/clock_random_source.h"
#include "platform/linux/heap_reuse.h"
#include "platform/linux/process_shell.h"
#include "platform/linux/registry_file.h"
#include "platform/qt/proxy_list_model.h"
#include "platform/qt/qt_list_box.h"
#include "platform/qt/qt_transfer_control.h"
#include "platform/qt/tray_icon.h"
#include "storage/ini_file.h"
#include "storage/proxy_list_store.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QListView>
#include <QStringList>
#include <QTimer>

#include <benchmark/benchmark.h>
#include <httplib.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <thread>

namespace tamberly::bench {
namespace {

// The list's length; BENCH_ENTRIES sets another for the growth table.
std::size_t entries() {
    static const std::size_t count = [] {
        const char* text = std::getenv("BENCH_ENTRIES");
        const unsigned long n = text ? std::strtoul(text, nullptr, 10) : 0;
        return n > 0 ? static_cast<std::size_t>(n) : std::size_t{100'000};
    }();
    return count;
}

class NoDialogs final : public Dialogs {
public:
    int MsgBox(const std::string& text, int, const std::string&) override {
        last = text;
        return vbOK;
    }
    std::string InputBox(const std::string&, const std::string&) override { return {}; }
    std::string last;
};

/// Serves one list text at /Tamberly/update.php on 127.0.0.1, on a port the system picks.
class LoopbackListServer {
public:
    explicit LoopbackListServer(std::string listText) : m_text(std::move(listText)) {
        // A provider of known length is sent as it is: cpp-httplib would otherwise compress a text body for a
        // client that accepts it, and the compression would dwarf everything the figures measure.
        m_server.Get("/Tamberly/update.php", [this](const httplib::Request&, httplib::Response& res) {
            res.set_content_provider(m_text.size(), "text/plain",
                                     [this](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                                         return sink.write(m_text.data() + offset, length);
                                     });
        });
        // Without it the body's last segment waits for the client's delayed acknowledgement (about 40 ms).
        m_server.set_tcp_nodelay(true);
        m_port = m_server.bind_to_any_port("127.0.0.1");
        if (m_port <= 0)
            throw std::runtime_error("cannot listen on 127.0.0.1");
        m_thread = std::thread([this] { m_server.listen_after_bind(); });
        while (!m_server.is_running())
            std::this_thread::yield();
    }
    ~LoopbackListServer() {
        m_server.stop();
        m_thread.join();
    }
    std::string baseUrl() const { return "http://127.0.0.1:" + std::to_string(m_port); }

private:
    std::string m_text;
    httplib::Server m_server;
    int m_port = 0;
    std::thread m_thread;
};

/// The real window with its controls found by name.
struct WindowParts {
    RegistryFile registry;
    ProcessShell shell;
    BrowserLookup browserLookup;
    ClockRandomSource random;
    NoDialogs dialogs;
    QtTrayIcon tray;
    std::unique_ptr<App> app;
    Tamberly* window = nullptr;
    QListView* view = nullptr;
    QLabel* status = nullptr;
    QTimer* timer1 = nullptr;
    QAction* mnulist = nullptr;
    std::unique_ptr<QtListBox> box;

    WindowParts(const std::string& configDir, TransferControl& inet) : registry(configDir + "/registry.reg") {
        app = std::make_unique<App>(AppPlatform{registry, shell, browserLookup, random, dialogs, inet, tray, [] {}});
        window = &app->window();
        window->show();
        QCoreApplication::processEvents();
        view = window->findChild<QListView*>(QStringLiteral("Proxydisplay"));
        auto* model = view ? qobject_cast<ProxyListModel*>(view->model()) : nullptr;
        status = window->findChild<QLabel*>(QStringLiteral("status"));
        timer1 = window->findChild<QTimer*>(QStringLiteral("Timer1"));
        mnulist = window->findChild<QAction*>(QStringLiteral("Mnulist"));
        if (!model || !status || !timer1 || !mnulist)
            throw std::runtime_error("the window lacks Proxydisplay, status, Timer1 or Mnulist");
        box = std::make_unique<QtListBox>(*view, *model);
    }

    // Lays the rows out and paints the visible ones, as the next turn of the event loop would.
    void showRows() {
        QCoreApplication::processEvents();
        view->viewport()->repaint();
    }
};

void splitToQStringList(benchmark::State& state, const std::string& text) {
    for (auto _ : state) {
        QStringList rows;
        std::size_t start = 0;
        for (std::size_t star = text.find('*'); star != std::string::npos; star = text.find('*', start)) {
            rows.append(QString::fromUtf8(text.data() + start, static_cast<qsizetype>(star - start)));
            start = star + 1;
        }
        benchmark::DoNotOptimize(rows.data());
        if (rows.size() != static_cast<qsizetype>(entries()))
            state.SkipWithError("wrong number of rows");
    }
}

void fillList(benchmark::State& state, WindowParts& parts, const std::string& text) {
    for (auto _ : state) {
        state.PauseTiming();
        parts.box->Clear();
        QCoreApplication::processEvents();
        state.ResumeTiming();
        FillList(text, *parts.box);
        parts.showRows();
        if (parts.box->ListCount() != static_cast<int>(entries()))
            state.SkipWithError("wrong number of rows");
    }
}

void plainGet(benchmark::State& state, QtTransferControl& inet, const std::string& url, std::size_t bytes) {
    for (auto _ : state) {
        const TransferResult result = inet.OpenURL(url);
        if (!result.ok || result.body.size() != bytes) {
            state.SkipWithError(("the GET failed: " + result.error).c_str());
            break;
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}

// The least a correct program can do to replace a file durably: a temporary file written and flushed, renamed
// over the old one, and the folder flushed, so a crash leaves the old or the new file whole.
bool durableReplace(const std::string& dir, const std::string& name, const std::string& bytes) {
    const std::string tmp = dir + "/" + name + ".tmp";
    const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    bool ok = ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size()) && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    ok = ok && std::rename(tmp.c_str(), (dir + "/" + name).c_str()) == 0;
    const int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ok = ok && dfd >= 0 && ::fsync(dfd) == 0;
    if (dfd >= 0)
        ::close(dfd);
    return ok;
}

// The floor of "Download List": the same GET, one durable replace of a file the size of the stored list (the
// stored prefs.ini, or the list text if none is stored yet) and one of a registry.reg-sized file.
void downloadFloor(benchmark::State& state, QtTransferControl& inet, const std::string& url, std::size_t bytes,
                   const std::string& iniPath, const std::string& dir) {
    struct stat st {};
    const std::size_t stored =
        ::stat(iniPath.c_str(), &st) == 0 && static_cast<std::size_t>(st.st_size) > bytes ? st.st_size : bytes;
    const std::string list(stored, 'x');
    const std::string registry(200, 'r');
    for (auto _ : state) {
        const TransferResult result = inet.OpenURL(url);
        if (!result.ok || result.body.size() != bytes || !durableReplace(dir, "registry.reg", registry) ||
            !durableReplace(dir, "list.ini", list)) {
            state.SkipWithError(("the floor failed: " + result.error).c_str());
            break;
        }
    }
}

// "Download List" as the user runs it: the menu command, then the tick of Timer1, then the rows on screen. The
// tick comes at once (the timer's interval is set to 0 here): its fixed 250 ms wait is no work of the program.
// It includes switching the proxy off and storing the list, both atomic file replacements.
void downloadList(benchmark::State& state, WindowParts& parts) {
    parts.timer1->setInterval(0);
    for (auto _ : state) {
        parts.mnulist->trigger();
        for (int turns = 0; parts.timer1->isActive() && turns < 1000; ++turns)
            QCoreApplication::processEvents();
        parts.showRows();
        if (parts.box->ListCount() != static_cast<int>(entries()) ||
            parts.status->text() != QStringLiteral("List downloaded from server.")) {
            state.SkipWithError(("the download failed: " + parts.status->text().toStdString()).c_str());
            break;
        }
    }
}

} // namespace
} // namespace tamberly::bench

int main(int argc, char* argv[]) {
    using namespace tamberly;
    using namespace tamberly::bench;
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    keepFreedBuffersForReuse(); // as the program's main does
    TempDir home;
    const std::string configDir = redirectUserHome(home.path());
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;

    const std::string text = makeListText(entries());
    LoopbackListServer server(text);
    const std::string iniPath = configDir + "/prefs.ini";
    // A browser already stored, so the window does not look for one; the list server on loopback.
    if (!WriteINI("Path", "IE", "/bin/true", iniPath) || !WriteINI("Server", "URL", server.baseUrl(), iniPath)) {
        std::cerr << "cannot write " << iniPath << "\n";
        return 1;
    }
    // The program refuses answers beyond 8 MiB (about 400,000 entries); the growth table's longer lists need more.
    QtTransferControl inet(QtTransferControl::kStallTimeout, QtTransferControl::kTotalTimeout,
                           std::max<std::int64_t>(QtTransferControl::kMaxBodyBytes, text.size() + 1));
    WindowParts parts(configDir, inet);
    const std::string url = server.baseUrl() + "/Tamberly/update.php";

    // Real time: the server answers on another thread, and painting is part of showing the rows.
    const auto add = [](const char* name, auto&& run) {
        benchmark::RegisterBenchmark(name, run)->Unit(benchmark::kMillisecond)->UseRealTime();
    };
    add("BM_QStringList", [&](benchmark::State& s) { splitToQStringList(s, text); });
    add("BM_FillList", [&](benchmark::State& s) { fillList(s, parts, text); });
    add("BM_PlainGet", [&](benchmark::State& s) { plainGet(s, inet, url, text.size()); });
    TempDir floorDir;
    add("BM_DownloadFloor",
        [&](benchmark::State& s) { downloadFloor(s, inet, url, text.size(), iniPath, floorDir.path()); });
    add("BM_DownloadList", [&](benchmark::State& s) { downloadList(s, parts); });
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
