#pragma once

// In-memory stand-ins for the platform interfaces, recording what the handlers did.

#include "platform/dialogs.h"
#include "platform/list_box.h"
#include "platform/random_source.h"
#include "platform/registry.h"
#include "platform/shell.h"
#include "platform/status_line.h"
#include "platform/timer.h"
#include "platform/transfer_control.h"

#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace tamberly::test {

/// Registry in memory. Every call is appended to `log` as "write NAME=VALUE (TYPE)" or "read NAME".
class FakeRegistry final : public Registry {
public:
    std::map<std::string, RegValue> values;
    std::vector<std::string> log;
    std::string failWritesTo; // a full name whose writes throw
    std::vector<std::string>* sharedLog = nullptr; // optional, to interleave with other fakes

    void RegWrite(const std::string& fullName, const RegValue& value, const std::string& typeName) override {
        record("write " + fullName + "=" + regValueText(value) + " (" + typeName + ")");
        if (fullName == failWritesTo)
            throw RegistryError("the registry file is read-only");
        values[fullName] = value;
    }
    std::optional<RegValue> RegRead(const std::string& fullName) override {
        record("read " + fullName);
        auto it = values.find(fullName);
        if (it == values.end())
            return std::nullopt;
        return it->second;
    }

private:
    void record(const std::string& line) {
        log.push_back(line);
        if (sharedLog)
            sharedLog->push_back(line);
    }
};

class FakeStatusLine final : public StatusLine {
public:
    std::string text;
    std::vector<std::string>* sharedLog = nullptr;
    void setCaption(const std::string& value) override {
        text = value;
        if (sharedLog)
            sharedLog->push_back("status " + value);
    }
    std::string caption() const override { return text; }
};

class FakeListBox final : public ListBox {
public:
    std::vector<std::string> rows;
    int selected = -1;
    void AddItem(const std::string& text) override { rows.push_back(text); }
    void Clear() override {
        rows.clear();
        selected = -1;
    }
    int ListIndex() const override { return selected; }
    int ListCount() const override { return static_cast<int>(rows.size()); }
    std::string List(int i) const override {
        return i >= 0 && i < ListCount() ? rows[static_cast<std::size_t>(i)] : std::string();
    }
};

class FakeTimer final : public Timer {
public:
    bool on = false;
    void setEnabled(bool enabled) override { on = enabled; }
    bool enabled() const override { return on; }
};

/// Answers message boxes from a queue (vbYes/vbNo/vbOK; vbOK when empty) and input boxes likewise.
class FakeDialogs final : public Dialogs {
public:
    struct Shown {
        std::string text;
        int buttons;
        std::string title;
    };
    std::vector<Shown> messages;
    std::vector<Shown> inputs;
    std::deque<int> answers;
    std::deque<std::string> typed;
    std::vector<std::string>* sharedLog = nullptr;

    int MsgBox(const std::string& text, int buttons, const std::string& title) override {
        messages.push_back({text, buttons, title});
        if (sharedLog)
            sharedLog->push_back("msgbox " + text);
        if (answers.empty())
            return buttons == vbYesNo ? vbNo : vbOK;
        int answer = answers.front();
        answers.pop_front();
        return answer;
    }
    std::string InputBox(const std::string& prompt, const std::string& title) override {
        inputs.push_back({prompt, 0, title});
        if (typed.empty())
            return {};
        std::string text = typed.front();
        typed.pop_front();
        return text;
    }
};

/// Records requested URLs and answers from a queue of results (a default success with an empty body).
class FakeTransferControl final : public TransferControl {
public:
    bool busy = false;
    std::vector<std::string> urls;
    std::deque<TransferResult> results;
    bool StillExecuting() const override { return busy; }
    TransferResult OpenURL(const std::string& url) override {
        urls.push_back(url);
        if (results.empty())
            return {true, {}, {}};
        TransferResult r = results.front();
        results.pop_front();
        return r;
    }
};

/// Records launch requests and answers with `result`.
class FakeShell final : public Shell {
public:
    struct Request {
        std::uintptr_t owner;
        std::string verb, file, parameters, directory;
        int show;
    };
    std::vector<Request> requests;
    long result = 42;
    std::vector<std::string>* sharedLog = nullptr;
    std::uintptr_t GetDesktopWindow() override { return 0x10010; }
    long ShellExecute(std::uintptr_t owner, const std::string& verb, const std::string& file,
                      const std::string& parameters, const std::string& directory, int showCommand) override {
        requests.push_back({owner, verb, file, parameters, directory, showCommand});
        if (sharedLog)
            sharedLog->push_back("launch " + file);
        return result;
    }
};

/// Returns the queued numbers in turn (0 when empty) and counts reseeds.
class FakeRandom final : public RandomSource {
public:
    std::deque<double> draws;
    int reseeds = 0;
    void reseedFromClock() override { ++reseeds; }
    double next() override {
        if (draws.empty())
            return 0.0;
        double r = draws.front();
        draws.pop_front();
        return r;
    }
};

} // namespace tamberly::test
