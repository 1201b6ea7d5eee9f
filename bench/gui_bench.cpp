// Figures of the real window on the offscreen platform: filling the proxy list box, and "Download List" from a
// loopback server until the rows are shown, each beside its floor.

#include "bench_support.h"

#include "app/app.h"
#include "app/event_loop_wait.h"
#include "app/proxy_list_model.h"
#include "app/tray_icon.h"
#include "core/proxy_list_store.h"
#include "core/settings.h"
#include "net/curl_http_transfer.h"
#include "platform/linux/heap_reuse.h"
#include "platform/platform.h"

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

/// The real window over the real platform (the record file only, as with [Desktop] LeaveAlone=1: the desktop's
/// setting has a figure of its own), with its controls found by name.
struct WindowParts {
    Settings settings;
    std::unique_ptr<Platform> platform;
    QtTrayIcon tray;
    std::unique_ptr<App> app;
    MainWindow* window = nullptr;
    QListView* list = nullptr;
    QLabel* status = nullptr;
    QAction* downloadList = nullptr;

    WindowParts(const std::string& configDir, std::unique_ptr<HttpTransfer> transfer)
        : settings(configDir + "/prefs.ini"), platform(createPlatform({configDir, true, std::move(transfer)})) {
        app = std::make_unique<App>(settings, *platform, tray, [] {});
        window = &app->window();
        window->show();
        QCoreApplication::processEvents();
        list = window->findChild<QListView*>(QStringLiteral("proxyList"));
        status = window->findChild<QLabel*>(QStringLiteral("status"));
        downloadList = window->findChild<QAction*>(QStringLiteral("downloadList"));
        if (!list || !status || !downloadList)
            throw std::runtime_error("the window lacks proxyList, status or downloadList");
    }

    // Lays the rows out and paints the visible ones, as the next turn of the event loop would.
    void showRows() {
        QCoreApplication::processEvents();
        list->viewport()->repaint();
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

// The list text split into rows and shown, as start-up and a download show it.
void fillList(benchmark::State& state, WindowParts& parts, const std::string& text) {
    for (auto _ : state) {
        state.PauseTiming();
        parts.window->showEntries({});
        QCoreApplication::processEvents();
        state.ResumeTiming();
        parts.window->showEntries(splitListText(text));
        parts.showRows();
        if (parts.window->entryCount() != static_cast<int>(entries()))
            state.SkipWithError("wrong number of rows");
    }
}

void plainGet(benchmark::State& state, HttpTransfer& transfer, const std::string& url, std::size_t bytes) {
    for (auto _ : state) {
        const TransferResult result = transfer.get(url);
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
// stored prefs.ini, or the list text if none is stored yet) and one of a registry.reg-sized file, and the same rows
// filled into a list box of the same kind and shown.
void downloadFloor(benchmark::State& state, HttpTransfer& transfer, const std::string& url, std::size_t bytes,
                   const std::string& iniPath, const std::string& dir) {
    struct stat st {};
    const std::size_t stored =
        ::stat(iniPath.c_str(), &st) == 0 && static_cast<std::size_t>(st.st_size) > bytes ? st.st_size : bytes;
    const std::string list(stored, 'x');
    const std::string registry(200, 'r');
    ProxyListModel model;
    QListView view;
    view.setModel(&model);
    view.setUniformItemSizes(true);
    view.resize(265, 108);
    view.show();
    for (auto _ : state) {
        const TransferResult result = transfer.get(url);
        if (!result.ok || result.body.size() != bytes || !durableReplace(dir, "registry.reg", registry) ||
            !durableReplace(dir, "list.ini", list)) {
            state.SkipWithError(("the floor failed: " + result.error).c_str());
            break;
        }
        model.reset(splitListText(result.body));
        QCoreApplication::processEvents();
        view.viewport()->repaint();
    }
}

// "Download List" as the user runs it: the menu command, then the rows on screen. It includes switching the proxy
// off, storing the list and reading prefs.ini once for the command.
void downloadList(benchmark::State& state, WindowParts& parts) {
    for (auto _ : state) {
        parts.downloadList->trigger();
        parts.showRows();
        if (parts.window->entryCount() != static_cast<int>(entries()) ||
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
    Settings settings(iniPath);
    if (!settings.setBrowserPath("/bin/true").empty() ||
        !settings.setValue("Server", "URL", server.baseUrl()).empty()) {
        std::cerr << "cannot write " << iniPath << "\n";
        return 1;
    }
    // The program refuses answers beyond 8 MiB (about 400,000 entries); the growth table's longer lists need more.
    const auto transfer = [&] {
        return std::make_unique<CurlHttpTransfer>(
            EventLoopWait::factory(),
            TransferLimits{
                transfer_limits::kStall, transfer_limits::kTotal,
                std::max<std::int64_t>(transfer_limits::kMaxBodyBytes, static_cast<std::int64_t>(text.size()) + 1)});
    };
    WindowParts parts(configDir, transfer());
    const auto floorTransfer = transfer();
    const std::string url = server.baseUrl() + "/Tamberly/update.php";

    // Real time: the server answers on another thread, and painting is part of showing the rows.
    const auto add = [](const char* name, auto&& run) {
        benchmark::RegisterBenchmark(name, run)->Unit(benchmark::kMillisecond)->UseRealTime();
    };
    add("BM_QStringList", [&](benchmark::State& s) { splitToQStringList(s, text); });
    add("BM_ShowEntries", [&](benchmark::State& s) { fillList(s, parts, text); });
    add("BM_PlainGet", [&](benchmark::State& s) { plainGet(s, *floorTransfer, url, text.size()); });
    TempDir floorDir;
    add("BM_DownloadFloor",
        [&](benchmark::State& s) { downloadFloor(s, *floorTransfer, url, text.size(), iniPath, floorDir.path()); });
    add("BM_DownloadList", [&](benchmark::State& s) { downloadList(s, parts); });
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
