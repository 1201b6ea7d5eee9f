// The desktop's proxy setting for real: the dconf service on a private session bus, checked with the separate
// `gsettings` program; the failure cases each in an environment that lacks one piece; kioslaverc edited in place
// with its signal watched on the bus.
#include "platform/linux/desktop_proxy_page.h"
#include "platform/linux/kde_proxy_setting.h"
#include "platform/linux/proxy_servers.h"
#include "support/fakes.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <map>
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
using test::TempDir;
using test::writeFile;

// Everything a command printed, "key=value" lines; a key seen twice keeps its first value.
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
    std::string registryFile() const { return readFile(m_dir.file("config/tamberly/registry.reg")); }

    TempDir m_dir;
};

// Prints "NAME=value" for a key of the schema (or of a child of it), read by the separate gsettings program.
const char* const kGet = "get() { echo \"$1=$(gsettings get org.gnome.system.proxy$2 $3)\"; }; ";

TEST_F(DesktopProxyTest, EachCommandWritesWhatGsettingsReadsBack) {
    const Output out = run(std::string("dbus-run-session -- sh -c '") + kGet +
                           "$T use 10.1.2.3:3128 | sed s/^/use./; "
                           "get mode \"\" mode; for p in http https ftp socks; do get $p.host .$p host; "
                           "get $p.port .$p port; done; get ignore \"\" ignore-hosts; "
                           "$T show | sed s/^/show./; "
                           "$T off | sed s/^/off./; get off.mode \"\" mode; get off.http.host .http host; "
                           "$T use \"http=a.example:1;https=[::1]:8080\" >/dev/null; "
                           "get pp.http.host .http host; get pp.http.port .http port; get pp.https.host .https host; "
                           "get pp.https.port .https port; get pp.ftp.host .ftp host; "
                           "$T show | sed s/^/pp.show./'");
    EXPECT_EQ(out["use.status"], "Proxy changed to : 10.1.2.3:3128");
    EXPECT_EQ(out["use.problem"], "<missing use.problem>");
    EXPECT_EQ(out["mode"], "'manual'");
    for (const char* p : {"http", "https", "ftp"}) {
        EXPECT_EQ(out[std::string(p) + ".host"], "'10.1.2.3'") << p;
        EXPECT_EQ(out[std::string(p) + ".port"], "3128") << p;
    }
    EXPECT_EQ(out["socks.host"], "''");
    EXPECT_EQ(out["socks.port"], "0");
    EXPECT_EQ(out["ignore"], "['localhost', '127.0.0.0/8', '::1']");
    EXPECT_EQ(out["show.status"], "Current proxy : 10.1.2.3:3128");
    // Off keeps the server, as ProxyServer stays in the registry.
    EXPECT_EQ(out["off.mode"], "'none'");
    EXPECT_EQ(out["off.http.host"], "'10.1.2.3'");
    EXPECT_EQ(out["pp.http.host"], "'a.example'");
    EXPECT_EQ(out["pp.http.port"], "1");
    EXPECT_EQ(out["pp.https.host"], "'::1'");
    EXPECT_EQ(out["pp.https.port"], "8080");
    EXPECT_EQ(out["pp.ftp.host"], "''");
    EXPECT_EQ(out["pp.show.status"], "Current proxy : http=a.example:1;https=[::1]:8080");
    EXPECT_NE(registryFile().find("\"ProxyServer\"=\"http=a.example:1;https=[::1]:8080\""), std::string::npos);
    EXPECT_NE(registryFile().find("\"ProxyEnable\"=dword:00000001"), std::string::npos);
}

TEST_F(DesktopProxyTest, WhatIsSetOutsideIsWhatShowCurrentProxyShowsAndAUsersChoicesAreKept) {
    const Output out = run(std::string("dbus-run-session -- sh -c '") + kGet +
                           "gsettings set org.gnome.system.proxy mode manual; for p in http https ftp; do "
                           "gsettings set org.gnome.system.proxy.$p host outside.example; "
                           "gsettings set org.gnome.system.proxy.$p port 8081; done; "
                           "$T show | sed s/^/manual./; "
                           "gsettings set org.gnome.system.proxy mode none; $T show | sed s/^/none./; "
                           "gsettings set org.gnome.system.proxy mode auto; "
                           "gsettings set org.gnome.system.proxy autoconfig-url http://wpad.example/proxy.pac; "
                           "gsettings set org.gnome.system.proxy ignore-hosts \"[\\\"corp.example\\\"]\"; "
                           "$T show | sed s/^/auto./; $T use 10.9.9.9:80 >/dev/null; get ignore \"\" ignore-hosts; "
                           "$T off >/dev/null; get mode \"\" mode; get pac \"\" autoconfig-url'");
    EXPECT_EQ(out["manual.status"], "Current proxy : outside.example:8081");
    EXPECT_EQ(out["none.status"], "Proxy desactivated");
    EXPECT_EQ(out["auto.status"], "Proxy desactivated");
    EXPECT_EQ(out["ignore"], "['corp.example']");
    EXPECT_EQ(out["mode"], "'none'");
    EXPECT_EQ(out["pac"], "'http://wpad.example/proxy.pac'");
}

// Each way the GNOME setting can be out of reach ends in a status naming it, in bounded time, with registry.reg
// written all the same.
TEST_F(DesktopProxyTest, AnUnreachableGnomeSettingIsReportedInTimeAndRegistryRegIsStillWritten) {
    // A socket that takes connections and never answers: a hung session bus.
    const std::string hung = m_dir.file("hung-bus");
    const int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    hung.copy(address.sun_path, sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 8), 0);

    struct Case {
        const char* name;
        std::string script;
        const char* problem;
    };
    const std::string use = "$T --limit-ms 1000 use 10.1.2.3:3128";
    const Case cases[] = {
        {"no schema", "mkdir -p empty; dbus-run-session -- env XDG_DATA_DIRS=$PWD/empty " + use,
         "The GNOME proxy setting (org.gnome.system.proxy) could not be changed: the schema org.gnome.system.proxy "
         "is not installed."},
        {"no bus", "DBUS_SESSION_BUS_ADDRESS=unix:path=$PWD/no-bus " + use,
         "The GNOME proxy setting (org.gnome.system.proxy) could not be changed: no session bus: "},
        {"hung bus", "DBUS_SESSION_BUS_ADDRESS=unix:path=" + hung + " " + use,
         "The GNOME proxy setting (org.gnome.system.proxy) could not be changed: the session bus did not answer "
         "within 1 s."},
        {"locked key",
         "mkdir -p db/locks && printf \"[system/proxy]\\nmode='none'\\n\" >db/proxy && echo /system/proxy/mode "
         ">db/locks/proxy && dconf compile locked db && printf \"user-db:user\\nfile-db:$PWD/locked\\n\" >profile && "
         "DCONF_PROFILE=$PWD/profile dbus-run-session -- " +
             use,
         "The GNOME proxy setting (org.gnome.system.proxy) could not be changed: the key org.gnome.system.proxy.mode "
         "is locked by the administrator."},
        {"keyfile fallback", "mkdir -p empty; dbus-run-session -- env GIO_MODULE_DIR=$PWD/empty " + use,
         "The GNOME proxy setting (org.gnome.system.proxy) could not be changed: GIO stores settings with "
         "GKeyfileSettingsBackend instead of dconf"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::remove(m_dir.file("config/tamberly/registry.reg").c_str());
        const Output out = run(c.script + "; echo rc=$?");
        EXPECT_EQ(out["rc"], "0") << "the program did not end cleanly: " << readFile(m_dir.file("stderr"));
        EXPECT_EQ(out["status"], "Proxy changed to : 10.1.2.3:3128");
        EXPECT_EQ(out["problem"].rfind(c.problem, 0), 0u) << out.text;
        // Bounded: the limit is 1 s per write; a hung call would take minutes.
        EXPECT_LT(std::stol("0" + out["ms"]), 15000) << out.text;
        EXPECT_NE(registryFile().find("\"ProxyServer\"=\"10.1.2.3:3128\""), std::string::npos);
        EXPECT_NE(registryFile().find("\"ProxyEnable\"=dword:00000001"), std::string::npos);
    }
    ::close(listener);
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
    const Output out = run("dbus-run-session -- sh -c '"
                           "dbus-monitor --session \"type=signal,interface=org.kde.KIO.Scheduler\" >monitor.txt & "
                           "sleep 1; $T use 10.1.2.3:3128 | sed s/^/use./; cp config/kioslaverc on.txt; "
                           "$T show | sed s/^/show./; $T off >/dev/null; $T show | sed s/^/off./; sleep 0.5; "
                           "kill $!'",
                           "KDE");
    EXPECT_EQ(out["use.status"], "Proxy changed to : 10.1.2.3:3128");
    EXPECT_EQ(out["use.problem"], "<missing use.problem>");
    EXPECT_EQ(out["show.status"], "Current proxy : 10.1.2.3:3128");
    EXPECT_EQ(out["off.status"], "Proxy desactivated");
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
    EXPECT_NE(readFile(m_dir.file("config/kioslaverc")).find("\nProxyType=0\n"), std::string::npos);
    const std::string monitor = readFile(m_dir.file("monitor.txt"));
    EXPECT_NE(monitor.find("path=/KIO/Scheduler; interface=org.kde.KIO.Scheduler; member=reparseSlaveConfiguration"),
              std::string::npos)
        << monitor;
    EXPECT_NE(monitor.find("string \"\""), std::string::npos) << monitor;
    // The GNOME schema is written on KDE too (Firefox reads it there), but never reported missing.
    EXPECT_EQ(registryFile().find("ProxyEnable\"=dword:00000000") != std::string::npos, true);
}

TEST(KioslavercEdit, AGroupIsAddedWhereThereIsNoneAndRepeatedKeysBecomeOne) {
    const std::vector<std::pair<std::string, std::string>> keys = {{"ProxyType", "1"}};
    EXPECT_EQ(kde_proxy::editProxyGroup(std::nullopt, keys), "[Proxy Settings]\nProxyType=1\n");
    EXPECT_EQ(kde_proxy::editProxyGroup(std::string("[A]\nx=1"), keys), "[A]\nx=1\n\n[Proxy Settings]\nProxyType=1\n");
    EXPECT_EQ(kde_proxy::editProxyGroup(std::string("[Proxy Settings]\nProxyType=0\nProxyType=3\n[B]\n"), keys),
              "[Proxy Settings]\nProxyType=1\n[B]\n");
}

TEST(ProxyServerText, ReadsWhatTheDesktopsCanCarry) {
    struct Case {
        const char* text;
        const char* http;  // host:port of http, "" for none; "!" when the text is refused
        const char* https; // likewise
        const char* formatted;
    };
    const Case cases[] = {
        {"10.1.2.3:3128", "10.1.2.3:3128", "10.1.2.3:3128", "10.1.2.3:3128"},
        {"[::1]:8080", "[::1]:8080", "[::1]:8080", "[::1]:8080"},
        {"proxy.example", "proxy.example:80", "proxy.example:80", "proxy.example:80"},
        {"", "", "", ""},
        {"http=a:1;https=b:2", "a:1", "b:2", "http=a:1;https=b:2"},
        {"HTTP=a:1; gopher=g:70", "a:1", "", "http=a:1"},
        {"a:99999", "!", "!", ""},
        {"a:", "!", "!", ""},
        {"a b:80", "!", "!", ""},
        {"http=a:1;b:2", "!", "!", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        std::string why;
        const auto servers = parseProxyServer(c.text, why);
        if (std::string(c.http) == "!") {
            EXPECT_FALSE(servers);
            EXPECT_NE(why.find(c.text), std::string::npos);
            continue;
        }
        ASSERT_TRUE(servers) << why;
        EXPECT_EQ(servers->http.host.empty() ? "" : hostPort(servers->http), c.http);
        EXPECT_EQ(servers->https.host.empty() ? "" : hostPort(servers->https), c.https);
        EXPECT_EQ(formatProxyServer(*servers), c.formatted);
    }
}

// "Show Internet Options" opens the desktop's own proxy page where its program is installed, else nothing here
// (the program's own dialog then opens).
TEST(DesktopProxyPage, IsTheDesktopsOwnProgramWhereItIsInstalled) {
    TempDir bin;
    for (const char* program : {"gnome-control-center", "kcmshell5", "systemsettings"}) {
        writeFile(bin.file(program), "#!/bin/sh\n");
        ::chmod(bin.file(program).c_str(), 0755);
    }
    const char* savedPath = std::getenv("PATH");
    const std::string path = savedPath ? savedPath : "";
    ::setenv("PATH", bin.path().c_str(), 1);
    struct Case {
        const char* desktop;
        const char* kdeVersion;
        const char* program; // "" for none
        const char* argument;
    };
    const Case cases[] = {
        {"ubuntu:GNOME", "", "gnome-control-center", "network"},
        {"KDE", "5", "kcmshell5", "proxy"},
        {"KDE", "6", "systemsettings", "kcm_proxy"},
        {"X-Cinnamon", "", "", ""}, // cinnamon-settings is not installed here
        {"XFCE", "", "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.desktop) + " " + c.kdeVersion);
        ::setenv("XDG_CURRENT_DESKTOP", c.desktop, 1);
        ::setenv("KDE_SESSION_VERSION", c.kdeVersion, 1);
        test::FakeShell shell;
        EXPECT_EQ(openDesktopProxyPage(shell), *c.program != 0);
        if (*c.program) {
            ASSERT_EQ(shell.requests.size(), 1u);
            EXPECT_EQ(shell.requests[0].file, c.program);
            EXPECT_EQ(shell.requests[0].parameters, c.argument);
        } else {
            EXPECT_TRUE(shell.requests.empty());
        }
    }
    ::setenv("PATH", path.c_str(), 1);
    ::unsetenv("XDG_CURRENT_DESKTOP");
    ::unsetenv("KDE_SESSION_VERSION");
}

} // namespace
} // namespace tamberly
