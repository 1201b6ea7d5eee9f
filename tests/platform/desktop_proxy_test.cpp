// The desktop's proxy setting for real: the platform driven by a small program (desktop_proxy_tool) in
// environments of its own, with the dconf service on a private session bus and checked with the separate gsettings
// program; the failure cases each in an environment that lacks one piece; kioslaverc edited in place with its signal
// watched on the bus.
#include "platform/linux/desktop_system_proxy.h"
#include "platform/linux/kde_proxy_setting.h"
#include "support/fake_platform.h"
#include "scoped_env.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace tamberly {
namespace {

using test::readFile;
using test::ScopedEnv;
using test::TempDir;
using test::writeFile;

// Everything a script printed, "key=value" lines; a key seen twice keeps its first value.
struct Output {
    std::string text;
    std::string operator[](const std::string& key) const {
        std::istringstream in(text);
        for (std::string line; std::getline(in, line);)
            if (line.rfind(key + "=", 0) == 0)
                return line.substr(key.size() + 1);
        return "<missing " + key + ">";
    }
    bool has(const std::string& line) const { return ("\n" + text).find("\n" + line + "\n") != std::string::npos; }
};

// Prints "NAME=value" for a key of the schema (or of a child of it), read by the separate gsettings program.
constexpr const char* kGet = "get() { echo \"$1=$(gsettings get org.gnome.system.proxy$2 $3)\"; }; ";

// Watches the session bus into monitor.txt: "watch" starts dbus-monitor and returns once it sees the bus, "mark NAME"
// puts a mark in what it sees, and "stopwatch" ends it once it has seen everything sent before.
constexpr const char* kMonitor =
    "mark() { dbus-send --session --type=signal /tamberly org.tamberly.Test.Mark \"string:$1\"; }; "
    "waitmark() { until grep -q \"string \\\"$1\\\"\" monitor.txt; do mark $1; sleep 0.05; done; }; "
    "watch() { dbus-monitor --session >monitor.txt 2>&1 & monitor=$!; waitmark ready; }; "
    "stopwatch() { waitmark end; kill $monitor; }; ";

class DesktopProxyTest : public ::testing::Test {
protected:
    // A shell script in a user home of its own, with no session bus, display or dconf profile of the caller's.
    Output run(const std::string& script, const std::string& desktop = "GNOME") {
        const std::string home = m_dir.path();
        const std::string prelude = "cd '" + home + "' && mkdir -p run config data && chmod 700 run && export HOME='" +
                                    home + "' XDG_CONFIG_HOME='" + home + "/config' XDG_DATA_HOME='" + home +
                                    "/data' XDG_RUNTIME_DIR='" + home + "/run' XDG_CURRENT_DESKTOP='" + desktop +
                                    "' T='" TAMBERLY_DESKTOP_PROXY_TOOL "' && unset DISPLAY WAYLAND_DISPLAY "
                                    "DBUS_SESSION_BUS_ADDRESS DCONF_PROFILE GSETTINGS_BACKEND GIO_MODULE_DIR "
                                    "GSETTINGS_SCHEMA_DIR KDE_SESSION_VERSION DESKTOP_SESSION http_proxy https_proxy; ";
        writeFile(m_dir.file("script.sh"), prelude + script + "\n");
        Output out;
        FILE* pipe =
            ::popen(("/bin/sh '" + m_dir.file("script.sh") + "' 2>'" + m_dir.file("stderr") + "'").c_str(), "r");
        char buffer[4096];
        std::size_t n;
        while (pipe && (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
            out.text.append(buffer, n);
        if (pipe)
            ::pclose(pipe);
        return out;
    }
    std::string recordFile() const { return readFile(m_dir.file("config/tamberly/registry.reg")); }

    TempDir m_dir;
};

TEST_F(DesktopProxyTest, EachChangeWritesWhatGsettingsReadsBack) {
    const Output out = run(std::string("dbus-run-session -- sh -c '") + kGet +
                           "$T use 10.1.2.3:3128 | sed s/^/use./; "
                           "get mode \"\" mode; for p in http https ftp socks; do get $p.host .$p host; "
                           "get $p.port .$p port; done; get ignore \"\" ignore-hosts; "
                           "$T current | sed s/^/current./; "
                           "$T off | sed s/^/off./; get off.mode \"\" mode; get off.http.host .http host; "
                           "$T use \"http=a.example:1;https=[::1]:8080;socks=s.example:1080\" >/dev/null; "
                           "get pp.http.host .http host; get pp.http.port .http port; get pp.https.host .https host; "
                           "get pp.https.port .https port; get pp.ftp.host .ftp host; get pp.socks.host .socks host; "
                           "$T current | sed s/^/pp./'");
    EXPECT_EQ(out["use.recorded"], "1");
    EXPECT_EQ(out["use.record"], "written");
    EXPECT_EQ(out["use.gnome"], "written");
    EXPECT_EQ(out["use.kde"], "<missing use.kde>") << "no kioslaverc, no KDE";
    EXPECT_EQ(out["use.problems"], "<missing use.problems>");
    EXPECT_EQ(out["mode"], "'manual'");
    for (const char* p : {"http", "https", "ftp"}) {
        EXPECT_EQ(out[std::string(p) + ".host"], "'10.1.2.3'") << p;
        EXPECT_EQ(out[std::string(p) + ".port"], "3128") << p;
    }
    EXPECT_EQ(out["socks.host"], "''");
    EXPECT_EQ(out["socks.port"], "0");
    EXPECT_EQ(out["ignore"], "['localhost', '127.0.0.0/8', '::1']");
    EXPECT_EQ(out["current.mode"], "manual");
    EXPECT_EQ(out["current.servers"], "10.1.2.3:3128");
    // Off keeps the server, as ProxyServer stays in the Internet Settings.
    EXPECT_EQ(out["off.gnome"], "written");
    EXPECT_EQ(out["off.mode"], "'none'");
    EXPECT_EQ(out["off.http.host"], "'10.1.2.3'");
    EXPECT_EQ(out["pp.http.host"], "'a.example'");
    EXPECT_EQ(out["pp.http.port"], "1");
    EXPECT_EQ(out["pp.https.host"], "'::1'");
    EXPECT_EQ(out["pp.https.port"], "8080");
    EXPECT_EQ(out["pp.ftp.host"], "''");
    EXPECT_EQ(out["pp.socks.host"], "'s.example'");
    EXPECT_EQ(out["pp.servers"], "http=a.example:1;https=[::1]:8080;socks=s.example:1080");
    EXPECT_NE(recordFile().find("\"ProxyServer\"=\"http=a.example:1;https=[::1]:8080;socks=s.example:1080\""),
              std::string::npos);
    EXPECT_NE(recordFile().find("\"ProxyEnable\"=dword:00000001"), std::string::npos);
}

// What the user set in the desktop is what the current setting reports, typed; a change keeps the user's own
// bypass list and automatic address; a change may name either.
TEST_F(DesktopProxyTest, WhatIsSetOutsideIsReportedAndAUsersChoicesAreKept) {
    const Output out = run(std::string("dbus-run-session -- sh -c '") + kGet +
                           "gsettings set org.gnome.system.proxy mode manual; for p in http https ftp; do "
                           "gsettings set org.gnome.system.proxy.$p host outside.example; "
                           "gsettings set org.gnome.system.proxy.$p port 8081; done; "
                           "$T current | sed s/^/manual./; "
                           "gsettings set org.gnome.system.proxy.https host \"not a host\"; "
                           "$T current | sed s/^/odd./; "
                           "gsettings set org.gnome.system.proxy mode none; $T current | sed s/^/none./; "
                           "gsettings set org.gnome.system.proxy mode auto; "
                           "gsettings set org.gnome.system.proxy autoconfig-url http://wpad.example/proxy.pac; "
                           "gsettings set org.gnome.system.proxy ignore-hosts \"[\\\"corp.example\\\"]\"; "
                           "$T current | sed s/^/auto./; $T use 10.9.9.9:80 >/dev/null; get ignore \"\" ignore-hosts; "
                           "$T off >/dev/null; get mode \"\" mode; get pac \"\" autoconfig-url; "
                           "$T auto >/dev/null; get detect.mode \"\" mode; get detect.pac \"\" autoconfig-url; "
                           "$T current | sed s/^/detect./; "
                           "$T --bypass a.example,10.0.0.0/8 auto http://pac.example/p.pac | sed s/^/named./; "
                           "get named.mode \"\" mode; get named.pac \"\" autoconfig-url; "
                           "get named.ignore \"\" ignore-hosts; get named.http.host .http host'");
    EXPECT_EQ(out["manual.mode"], "manual");
    EXPECT_EQ(out["manual.servers"], "outside.example:8081");
    EXPECT_EQ(out["manual.bypass"], "localhost,127.0.0.0/8,::1");
    EXPECT_EQ(out["odd.servers"], "http=outside.example:8081;https=not a host:8081;ftp=outside.example:8081")
        << "a host the entry rules refuse is reported as the desktop holds it";
    EXPECT_EQ(out["none.mode"], "off");
    EXPECT_EQ(out["auto.mode"], "auto");
    EXPECT_EQ(out["auto.url"], "http://wpad.example/proxy.pac");
    EXPECT_EQ(out["auto.bypass"], "corp.example");
    EXPECT_EQ(out["ignore"], "['corp.example']");
    EXPECT_EQ(out["mode"], "'none'");
    EXPECT_EQ(out["pac"], "'http://wpad.example/proxy.pac'");
    EXPECT_EQ(out["detect.mode"], "'auto'");
    EXPECT_EQ(out["detect.pac"], "''");
    EXPECT_EQ(out["detect.url"], "");
    EXPECT_EQ(out["named.gnome"], "written");
    EXPECT_EQ(out["named.mode"], "'auto'");
    EXPECT_EQ(out["named.pac"], "'http://pac.example/p.pac'");
    EXPECT_EQ(out["named.ignore"], "['a.example', '10.0.0.0/8']");
    EXPECT_EQ(out["named.http.host"], "'10.9.9.9'") << "an automatic proxy keeps the servers";
}

// Each way the GNOME setting can be out of reach: on a GNOME desktop it is named in a sentence, off one a missing
// schema or bus is quiet; registry.reg is written all the same, and the current setting falls back to it where the
// desktop's cannot be read.
TEST_F(DesktopProxyTest, AnUnreachableGnomeSettingIsReportedOnGnomeAndRegistryRegIsStillWritten) {
    // A socket that takes connections and never answers: a hung session bus.
    const std::string hung = m_dir.file("hung-bus");
    const int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    hung.copy(address.sun_path, sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 64), 0);

    const std::string noSchema = "mkdir -p empty; dbus-run-session -- env XDG_DATA_DIRS=$PWD/empty";
    const std::string noBus = "env DBUS_SESSION_BUS_ADDRESS=unix:path=$PWD/no-bus";
    const std::string hungBus = "env DBUS_SESSION_BUS_ADDRESS=unix:path=" + hung;
    const std::string locked =
        "mkdir -p db/locks && printf \"[system/proxy]\\nmode='none'\\n\" >db/proxy && echo /system/proxy/mode "
        ">db/locks/proxy && dconf compile locked db && printf \"user-db:user\\nfile-db:$PWD/locked\\n\" >profile && "
        "DCONF_PROFILE=$PWD/profile dbus-run-session --";
    const std::string keyfile = "mkdir -p empty; dbus-run-session -- env GIO_MODULE_DIR=$PWD/empty";
    const std::string notChanged = "The GNOME proxy setting (org.gnome.system.proxy) could not be changed: ";
    struct Case {
        const char* name;
        std::string desktop;
        std::string runner;  // runs the rest of the script in the environment that lacks a piece
        std::string state;   // the GNOME place's
        std::string why;     // how its sentence begins
        std::string current; // the mode reported afterwards
    };
    const Case cases[] = {
        {"no schema", "GNOME", noSchema, "failed", notChanged + "the schema org.gnome.system.proxy is not installed.",
         "manual"},
        {"no bus", "GNOME", noBus, "failed", notChanged + "no session bus: ", "manual"},
        {"hung bus", "GNOME", hungBus, "failed", notChanged + "the session bus did not answer within 3 s.", "manual"},
        {"locked key", "GNOME", locked, "failed",
         notChanged + "the key org.gnome.system.proxy.mode is locked by the administrator.", "off"},
        {"keyfile fallback", "GNOME", keyfile, "failed",
         notChanged + "GIO stores settings with GKeyfileSettingsBackend instead of dconf", "manual"},
        {"no schema off GNOME", "XFCE", noSchema, "not-present", "<missing gnome.why>", "manual"},
        {"no bus off GNOME", "XFCE", noBus, "not-present", "<missing gnome.why>", "manual"},
        {"hung bus off GNOME", "XFCE", hungBus, "failed", notChanged + "the session bus did not answer within 3 s.",
         "manual"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::remove(m_dir.file("config/tamberly/registry.reg").c_str());
        const Output out =
            run(c.runner + " sh -c '$T use 10.1.2.3:3128; echo rc=$?; $T current | sed s/^/current./'", c.desktop);
        EXPECT_EQ(out["rc"], "0") << "the program did not end cleanly: " << readFile(m_dir.file("stderr"));
        EXPECT_EQ(out["recorded"], "1");
        EXPECT_EQ(out["gnome"], c.state) << out.text;
        EXPECT_EQ(out["gnome.why"].rfind(c.why, 0), 0u) << out.text;
        EXPECT_EQ(out["problems"], c.state == "failed" ? out["gnome.why"] : "<missing problems>");
        EXPECT_EQ(out["current.mode"], c.current) << out.text;
        EXPECT_NE(recordFile().find("\"ProxyServer\"=\"10.1.2.3:3128\""), std::string::npos);
        EXPECT_NE(recordFile().find("\"ProxyEnable\"=dword:00000001"), std::string::npos);
    }
    ::close(listener);
}

// [Desktop] LeaveAlone=1: registry.reg only, whatever the desktop.
TEST_F(DesktopProxyTest, LeftAloneTheDesktopKeepsItsSetting) {
    writeFile(m_dir.file("config/kioslaverc"), "[Proxy Settings]\nProxyType=0\n");
    const Output out = run(std::string("dbus-run-session -- sh -c '") + kGet +
                               "$T --leave-alone use 10.1.2.3:3128; get mode \"\" mode; $T --leave-alone places; "
                               "$T --leave-alone current | sed s/^/current./; $T --leave-alone page'",
                           "GNOME:KDE");
    EXPECT_EQ(out["record"], "written");
    EXPECT_EQ(out["gnome"], "<missing gnome>");
    EXPECT_EQ(out["kde"], "<missing kde>");
    EXPECT_EQ(out["mode"], "'none'");
    EXPECT_EQ(readFile(m_dir.file("config/kioslaverc")), "[Proxy Settings]\nProxyType=0\n");
    EXPECT_TRUE(out.has("place=registry.reg")) << out.text;
    EXPECT_TRUE(out.has("place=the environment of the browser that Tamberly starts")) << out.text;
    EXPECT_EQ(out.text.find("GNOME proxy"), std::string::npos);
    EXPECT_EQ(out["current.mode"], "manual");
    EXPECT_EQ(out["page"], "0");
}

// What each change sends on the session bus, segment by segment: the dconf Change calls, dconf's Notify signals and
// KIO's reparse signals, between marks the script sends before each change.
struct BusTraffic {
    std::map<std::string, int> changes, notifies, reparses;
};

BusTraffic busTraffic(const std::string& monitor) {
    BusTraffic traffic;
    std::istringstream in(monitor);
    std::string segment;
    bool markFollows = false;
    for (std::string line; std::getline(in, line);) {
        if (markFollows) {
            const auto open = line.find("string \"");
            segment = open == std::string::npos ? "?" : line.substr(open + 8, line.rfind('"') - open - 8);
            markFollows = false;
        } else if (line.find("interface=org.tamberly.Test; member=Mark") != std::string::npos) {
            markFollows = true;
        } else if (line.rfind("method call", 0) == 0 &&
                   line.find("interface=ca.desrt.dconf.Writer; member=Change") != std::string::npos) {
            ++traffic.changes[segment];
        } else if (line.rfind("signal", 0) == 0 &&
                   line.find("interface=ca.desrt.dconf.Writer; member=Notify") != std::string::npos) {
            ++traffic.notifies[segment];
        } else if (line.rfind("signal", 0) == 0 && line.find("member=reparseSlaveConfiguration") != std::string::npos) {
            ++traffic.reparses[segment];
        }
    }
    return traffic;
}

TEST_F(DesktopProxyTest, KioslavercKeepsEveryOtherLineAndRunningProgramsAreTold) {
    const std::string original = "# written by hand\n"
                                 "[General]\nfoo=bar\n\n"
                                 "[Proxy Settings]\n"
                                 "# the office's script\n"
                                 "Proxy Config Script=http://wpad.example/proxy.pac\n"
                                 "ProxyType=2\n"
                                 "httpProxy=http://old.example 3128\n"
                                 "NoProxyFor=intranet.example\n\n"
                                 "[Cache]\nsize=5\n";
    writeFile(m_dir.file("config/kioslaverc"), original);
    const Output out = run(std::string("dbus-run-session -- sh -c '") + kMonitor +
                               "watch; $T current | sed s/^/before./; "
                               "$T use 10.1.2.3:3128 | sed s/^/use./; cp config/kioslaverc on.txt; "
                               "$T current | sed s/^/on./; $T off >/dev/null; $T current | sed s/^/off./; "
                               "$T auto >/dev/null; $T current | sed s/^/detect./; "
                               "$T auto http://pac.example/p.pac >/dev/null; $T current | sed s/^/script./; "
                               "stopwatch'",
                           "KDE");
    EXPECT_EQ(out["before.mode"], "auto");
    EXPECT_EQ(out["before.url"], "http://wpad.example/proxy.pac");
    EXPECT_EQ(out["before.servers"], "http=old.example:3128");
    EXPECT_EQ(out["before.bypass"], "intranet.example");
    EXPECT_EQ(out["use.kde"], "written");
    EXPECT_EQ(out["use.gnome"], "written") << "the GNOME schema is written on KDE too (Firefox reads it there)";
    EXPECT_EQ(out["use.problems"], "<missing use.problems>");
    EXPECT_EQ(out["on.mode"], "manual");
    EXPECT_EQ(out["on.servers"], "10.1.2.3:3128");
    EXPECT_EQ(out["off.mode"], "off");
    EXPECT_EQ(out["detect.mode"], "auto");
    EXPECT_EQ(out["detect.url"], "");
    EXPECT_EQ(out["script.mode"], "auto");
    EXPECT_EQ(out["script.url"], "http://pac.example/p.pac");
    EXPECT_EQ(readFile(m_dir.file("on.txt")), "# written by hand\n"
                                              "[General]\nfoo=bar\n\n"
                                              "[Proxy Settings]\n"
                                              "# the office's script\n"
                                              "Proxy Config Script=http://wpad.example/proxy.pac\n"
                                              "ProxyType=1\n"
                                              "httpProxy=http://10.1.2.3 3128\n"
                                              "NoProxyFor=intranet.example\n"
                                              "httpsProxy=http://10.1.2.3 3128\n"
                                              "ftpProxy=http://10.1.2.3 3128\n"
                                              "socksProxy=\n\n"
                                              "[Cache]\nsize=5\n");
    EXPECT_NE(readFile(m_dir.file("config/kioslaverc")).find("\nProxyType=2\n"), std::string::npos);
    // Each of the four changes told KDE's programs once, with the empty argument KDE's own page sends.
    const std::string monitor = readFile(m_dir.file("monitor.txt"));
    int told = 0;
    for (const auto& [segment, count] : busTraffic(monitor).reparses)
        told += count;
    EXPECT_EQ(told, 4) << monitor;
    EXPECT_NE(monitor.find("path=/KIO/Scheduler; interface=org.kde.KIO.Scheduler; member=reparseSlaveConfiguration\n"
                           "   string \"\"\n"),
              std::string::npos)
        << monitor;
}

// One command is one dconf change set and one signal to KDE's programs, never one per value: "Use this proxy",
// "No proxy" and a per-protocol row, run as the window runs them.
TEST_F(DesktopProxyTest, EachCommandIsOneDconfChangeSetAndOneKioSignal) {
    const Output out =
        run(std::string("dbus-run-session -- sh -c '") + kMonitor +
                "watch; mark use; $T command use 10.1.2.3:3128 | sed s/^/use./; "
                "mark off; $T command off | sed s/^/off./; "
                "mark per-protocol; $T command use \"http=a.example:1;https=b.example:2;socks=c.example:3\" "
                "| sed s/^/pp./; "
                "mark current; $T command show | sed s/^/show./; stopwatch'",
            "KDE");
    EXPECT_EQ(out["use.status"], "Proxy changed to : 10.1.2.3:3128") << out.text;
    EXPECT_EQ(out["off.status"], "<missing off.status>") << "No proxy writes no status text; no desktop failed";
    EXPECT_EQ(out["pp.status"], "Proxy changed to : http=a.example:1;https=b.example:2;socks=c.example:3");
    EXPECT_EQ(out["show.status"], "Current proxy : http=a.example:1;https=b.example:2;socks=c.example:3")
        << "read back from KDE's own file";
    const BusTraffic traffic = busTraffic(readFile(m_dir.file("monitor.txt")));
    for (const char* segment : {"use", "off", "per-protocol"}) {
        SCOPED_TRACE(segment);
        EXPECT_EQ(traffic.changes.count(segment) ? traffic.changes.at(segment) : 0, 1);
        EXPECT_EQ(traffic.reparses.count(segment) ? traffic.reparses.at(segment) : 0, 1);
    }
    EXPECT_EQ(traffic.changes.count("current") + traffic.reparses.count("current"), 0u) << "reading writes nothing";
    // dconf announces each change set once; its signal may trail into the next segment.
    int notifies = 0;
    for (const auto& [segment, count] : traffic.notifies)
        notifies += count;
    EXPECT_EQ(notifies, 3);
}

// A program reading the GNOME setting while changes are applied never sees half of one: the new servers with the
// old mode, or the new mode with the old servers. Each reading is taken from one snapshot of the dconf database
// file (which dconf replaces whole), so the reader itself never mixes two states.
TEST_F(DesktopProxyTest, NoProgramSeesHalfAChange) {
    const Output out =
        run("dbus-run-session -- sh -c '"
            "mkdir -p snap/dconf; "
            "( while [ ! -e stop ]; do "
            "if cp config/dconf/user snap/dconf/user.new 2>/dev/null; then mv snap/dconf/user.new snap/dconf/user; "
            "echo \"sample=$(XDG_CONFIG_HOME=$PWD/snap dconf read /system/proxy/mode)"
            "|$(XDG_CONFIG_HOME=$PWD/snap dconf read /system/proxy/http/host)\"; fi; done ) >samples.txt & "
            "i=0; while [ $i -lt 40 ]; do $T use h1.example:1 >/dev/null; $T off h2.example:2 >/dev/null; "
            "i=$((i + 1)); done; touch stop; wait'");
    std::map<std::string, int> seen;
    std::istringstream in(readFile(m_dir.file("samples.txt")));
    for (std::string line; std::getline(in, line);)
        ++seen[line];
    const std::set<std::string> whole = {"sample=|", "sample='manual'|'h1.example'", "sample='none'|'h2.example'"};
    for (const auto& [sample, count] : seen)
        EXPECT_TRUE(whole.count(sample)) << sample << " seen " << count << " times";
    // The reader was reading while both kinds of change were made.
    EXPECT_GT(seen["sample='manual'|'h1.example'"], 0);
    EXPECT_GT(seen["sample='none'|'h2.example'"], 0);
}

// Every file under the home folder (the configuration, data and runtime folders) that holds a lock or a temporary
// file, as "files.NAME=" lines: list.sh NAME prints one after a step.
constexpr const char* kListScript =
    "echo \"$1.files=$(find . -type f | grep -e lock -e .tmp- | sort | tr \"\\n\" \" \")\"\n";

// No command leaves a lock file anywhere: not beside prefs.ini and registry.reg, not beside kioslaverc (where KDE's
// programs would take a 0-byte kioslaverc.lock for a lock that is held), and not in the runtime folder.
TEST_F(DesktopProxyTest, NoCommandLeavesALockFileInAnyFolder) {
    writeFile(m_dir.file("list.sh"), kListScript);
    writeFile(m_dir.file("config/tamberly/prefs.ini"), "[Path]\nIE=/bin/true\n");
    struct Case {
        const char* name;
        std::string desktop;
        std::string runner;
        bool kde; // kioslaverc is there
    };
    const Case cases[] = {
        {"GNOME", "GNOME", "dbus-run-session --", false},
        {"KDE", "KDE", "dbus-run-session --", true},
        {"no desktop", "", "env DBUS_SESSION_BUS_ADDRESS=unix:path=$PWD/no-bus", false},
        {"no runtime folder", "KDE", "env -u XDG_RUNTIME_DIR dbus-run-session --", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.kde)
            writeFile(m_dir.file("config/kioslaverc"), "[Proxy Settings]\nProxyType=0\n");
        else
            std::remove(m_dir.file("config/kioslaverc").c_str());
        const Output out =
            run(c.runner + " sh -c '$T command use 10.1.2.3:3128 | sed s/^/use./; sh list.sh use; "
                           "$T command use-and-launch 10.1.2.4:3128 | sed s/^/launch./; sh list.sh launch; "
                           "$T command off; sh list.sh off; $T command show; sh list.sh show'",
                c.desktop);
        EXPECT_EQ(out["use.status"], "Proxy changed to : 10.1.2.3:3128") << out.text;
        EXPECT_EQ(out["launch.status"], "Proxy changed to : 10.1.2.4:3128") << out.text;
        for (const char* step : {"use", "launch", "off", "show"})
            EXPECT_EQ(out[std::string(step) + ".files"], "") << step;
        EXPECT_NE(recordFile().find("\"ProxyEnable\"=dword:00000000"), std::string::npos);
        if (c.kde) {
            EXPECT_NE(readFile(m_dir.file("config/kioslaverc")).find("httpProxy=http://10.1.2.4 3128\n"),
                      std::string::npos);
        }
    }
}

// A KDE program that holds kioslaverc's lock (Qt's QLockFile, as KConfig takes it) and read the file under it: the
// program waits for it, then writes, and the file keeps both changes.
TEST_F(DesktopProxyTest, AKdeProgramHoldingKioslavercsLockIsWaitedForAndBothChangesAreKept) {
#ifndef TAMBERLY_KDE_LOCK_HOLDER
    GTEST_SKIP() << "the KDE-style writer needs Qt";
#else
    writeFile(m_dir.file("list.sh"), kListScript);
    writeFile(m_dir.file("config/kioslaverc"), "[Proxy Settings]\nProxyType=0\n");
    const Output out = run("export H='" TAMBERLY_KDE_LOCK_HOLDER "'; dbus-run-session -- sh -c '"
                           "$H config/kioslaverc 1000 kdeKey kdeValue & holder=$!; "
                           "until [ -e config/kioslaverc.held ]; do sleep 0.01; done; "
                           "$T command use 10.1.2.3:3128; wait $holder; echo holder=$?; sh list.sh end'",
                           "KDE");
    EXPECT_EQ(out["holder"], "0");
    EXPECT_EQ(out["status"], "Proxy changed to : 10.1.2.3:3128") << out.text;
    EXPECT_FALSE(out.has("status=The KDE proxy setting")) << out.text;
    const std::string kioslaverc = readFile(m_dir.file("config/kioslaverc"));
    EXPECT_NE(kioslaverc.find("[General]\nkdeKey=kdeValue\n"), std::string::npos) << kioslaverc;
    EXPECT_NE(kioslaverc.find("ProxyType=1\n"), std::string::npos) << kioslaverc;
    EXPECT_NE(kioslaverc.find("httpProxy=http://10.1.2.3 3128\n"), std::string::npos) << kioslaverc;
    EXPECT_EQ(out["end.files"], "");
#endif
}

// KDE's own configuration code (KConfig, in kwriteconfig5) writing kioslaverc while the program holds its lock: it
// waits until the program lets go, then writes, and leaves no lock file behind.
TEST_F(DesktopProxyTest, KdesOwnWriterWaitsWhileTheProgramHoldsTheLock) {
    if (std::system("command -v kwriteconfig5 >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "kwriteconfig5 (libkf5config-bin) is not installed";
    writeFile(m_dir.file("list.sh"), kListScript);
    writeFile(m_dir.file("config/kioslaverc"), "[Proxy Settings]\nProxyType=1\n");
    const Output out = run("$T hold-kde-lock 1000 >hold.txt & holder=$!; "
                           "until grep -q held=1 hold.txt; do sleep 0.01; done; "
                           "kwriteconfig5 --file kioslaverc --group General --key kdeKey kdeValue; echo kde=$?; "
                           "wait $holder; cat hold.txt; sh list.sh end",
                           "KDE");
    EXPECT_EQ(out["kde"], "0");
    EXPECT_EQ(out["changed-while-held"], "0") << "KDE's writer did not wait for the lock";
    const std::string kioslaverc = readFile(m_dir.file("config/kioslaverc"));
    EXPECT_NE(kioslaverc.find("kdeKey=kdeValue\n"), std::string::npos) << kioslaverc;
    EXPECT_NE(kioslaverc.find("ProxyType=1\n"), std::string::npos) << kioslaverc;
    EXPECT_EQ(out["end.files"], "");
}

// A kioslaverc.lock its owner left behind is taken over at once; one whose owner lives is waited for, at most 3 s,
// and then named, with the file and the owner's lock left as they are.
TEST_F(DesktopProxyTest, AStaleKdeLockIsTakenOverAndALiveOneIsNamed) {
    struct Case {
        const char* name;
        std::string pid;     // the owner the lock file names
        std::string program; // the program it names
        std::string age;     // a command that ages the lock file
        bool stale;
    };
    const Case cases[] = {
        {"its process is gone", "$dead", "kwriteconfig5", "true", true},
        {"its id went to another program", "$live", "kwriteconfig5", "true", true},
        {"older than 30 s", "$live", "sleep", "touch -d \"1 minute ago\" config/kioslaverc.lock", true},
        {"held by a live program", "$live", "sleep", "true", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        writeFile(m_dir.file("config/kioslaverc"), "[Proxy Settings]\nProxyType=0\n");
        const Output out = run("dbus-run-session -- sh -c 'sleep 60 & live=$!; sh -c \"exit 0\" & dead=$!; wait $dead; "
                               "printf \"%s\\n%s\\n%s\\n\" " +
                                   c.pid + " " + c.program + " $(uname -n) >config/kioslaverc.lock; " + c.age +
                                   "; echo owner=" + c.pid + "; $T command use 10.1.2.3:3128; kill $live'",
                               "KDE");
        const std::string kioslaverc = readFile(m_dir.file("config/kioslaverc"));
        const std::string lock = readFile(m_dir.file("config/kioslaverc.lock"));
        if (c.stale) {
            EXPECT_FALSE(out.has("status=The KDE proxy setting")) << out.text;
            EXPECT_NE(kioslaverc.find("ProxyType=1\n"), std::string::npos) << kioslaverc;
            EXPECT_FALSE(std::filesystem::exists(m_dir.file("config/kioslaverc.lock"))) << lock;
        } else {
            EXPECT_NE(out.text.find("config/kioslaverc.lock is still held by sleep (process " + out["owner"] + " on "),
                      std::string::npos)
                << out.text;
            EXPECT_EQ(kioslaverc, "[Proxy Settings]\nProxyType=0\n");
            EXPECT_EQ(lock.substr(0, out["owner"].size() + 7), out["owner"] + "\nsleep\n") << "the owner's, untouched";
        }
        EXPECT_EQ(out["status"], "Proxy changed to : 10.1.2.3:3128") << "registry.reg holds it all the same";
        std::remove(m_dir.file("config/kioslaverc.lock").c_str());
    }
}

TEST(KioslavercEdit, AGroupIsAddedWhereThereIsNoneAndRepeatedKeysBecomeOne) {
    const std::vector<std::pair<std::string, std::string>> keys = {{"ProxyType", "1"}};
    EXPECT_EQ(kde_proxy::editProxyGroup(std::nullopt, keys), "[Proxy Settings]\nProxyType=1\n");
    EXPECT_EQ(kde_proxy::editProxyGroup(std::string("[A]\nx=1"), keys), "[A]\nx=1\n\n[Proxy Settings]\nProxyType=1\n");
    EXPECT_EQ(kde_proxy::editProxyGroup(std::string("[Proxy Settings]\nProxyType=0\nProxyType=3\n[B]\n"), keys),
              "[Proxy Settings]\nProxyType=1\n[B]\n");
}

// KDE's own ways of writing its setting, read as the program's setting.
TEST(KioslavercRead, ReadsEachTypeAndEachWayOfWritingAProxy) {
    TempDir dir;
    const std::string path = dir.file("kioslaverc");
    struct Case {
        std::string group; // the lines of [Proxy Settings]
        ProxyMode mode;
        std::string servers;
        std::string url;
    };
    const Case cases[] = {
        {"ProxyType=1\nhttpProxy=http://10.1.2.3 3128\nhttpsProxy=http://10.1.2.3:3128\nftpProxy=10.1.2.3 3128\n",
         ProxyMode::Manual, "10.1.2.3:3128", ""},
        {"ProxyType=1\nhttpProxy=http://[::1] 8080\nsocksProxy=socks://s.example:1080\n", ProxyMode::Manual,
         "http=[::1]:8080;socks=s.example:1080", ""},
        {"ProxyType=1\nhttpProxy=http://Proxy.Example/ 8080\n", ProxyMode::Manual, "http=proxy.example:8080", ""},
        {"ProxyType=1\nhttpProxy=http://not a host 99999\n", ProxyMode::Manual, "http=not a host:0", ""},
        {"ProxyType=0\nhttpProxy=http://kept.example 1\nProxy Config Script=http://pac.example/p.pac\n", ProxyMode::Off,
         "http=kept.example:1", "http://pac.example/p.pac"},
        {"ProxyType=2\nProxy Config Script=http://pac.example/p.pac\n", ProxyMode::Automatic, "",
         "http://pac.example/p.pac"},
        {"Proxy Config Script=http://pac.example/p.pac\nProxyType=3\n", ProxyMode::Automatic, "", ""},
        {"ProxyType=4\nhttpProxy=http_proxy\n", ProxyMode::Off, "http=http_proxy:0", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.group);
        writeFile(path, "[Other]\nProxyType=1\n[Proxy Settings]\n" + c.group + "NoProxyFor=a.example, ,b.example\n");
        const auto read = kde_proxy::read(path);
        ASSERT_TRUE(read);
        EXPECT_EQ(read->mode, c.mode);
        EXPECT_EQ(formatProxyServers(read->servers.value()), c.servers);
        EXPECT_EQ(read->autoConfigUrl, c.url);
        EXPECT_EQ(read->bypass, (std::vector<std::string>{"a.example", "b.example"}));
    }
    writeFile(path, "[Other]\nProxyType=1\n");
    EXPECT_FALSE(kde_proxy::read(path)) << "no group";
    EXPECT_FALSE(kde_proxy::read(dir.file("missing")));
}

// "Show Internet Options" opens the desktop's own proxy page where its program is installed, else nothing here
// (the program's own dialog then opens).
TEST(DesktopProxyPage, IsTheDesktopsOwnProgramWhereItIsInstalled) {
    TempDir bin;
    for (const char* program : {"gnome-control-center", "kcmshell5", "systemsettings"}) {
        writeFile(bin.file(program), "#!/bin/sh\n");
        ::chmod(bin.file(program).c_str(), 0755);
    }
    ScopedEnv env;
    env.set("PATH", bin.path());
    struct Case {
        const char* desktop;
        const char* kdeVersion;
        std::vector<std::string> command; // empty for none
    };
    const Case cases[] = {
        {"ubuntu:GNOME", "", {"gnome-control-center", "network"}},
        {"KDE", "5", {"kcmshell5", "proxy"}},
        {"KDE", "6", {"systemsettings", "kcm_proxy"}},
        {"X-Cinnamon", "", {}}, // cinnamon-settings is not installed here
        {"XFCE", "", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.desktop) + " " + c.kdeVersion);
        env.set("XDG_CURRENT_DESKTOP", c.desktop);
        env.set("KDE_SESSION_VERSION", c.kdeVersion);
        for (const bool leftAlone : {false, true}) {
            test::FakeLauncher launcher;
            DesktopSystemProxy proxy(bin.file("registry.reg"),
                                     leftAlone ? DesktopProxyOptions{} : DesktopProxyOptions::fromEnvironment(),
                                     launcher);
            const bool opens = !c.command.empty() && !leftAlone;
            EXPECT_EQ(proxy.openSettingsPage(), opens) << "left alone: " << leftAlone;
            ASSERT_EQ(launcher.launches.size(), opens ? 1u : 0u);
            if (opens) {
                EXPECT_EQ(launcher.launches[0].program, c.command[0]);
                EXPECT_EQ(launcher.launches[0].arguments,
                          std::vector<std::string>(c.command.begin() + 1, c.command.end()));
            }
        }
    }
}

} // namespace
} // namespace tamberly
