#pragma once

// A window in memory for the commands' tests: rows, selection, status line and dialogs, recording what was shown.

#include "commands/view.h"

#include <deque>
#include <optional>
#include <string>
#include <vector>

namespace tamberly::test {

class FakeView final : public View {
public:
    struct Shown {
        std::string text;
        std::string title;
    };
    std::vector<std::string> rows;
    std::optional<int> selected;
    std::vector<RowMark> marks;
    std::string status;
    /// Every status text in turn.
    std::vector<std::string> statuses;
    std::vector<Shown> messages;  // tell
    std::vector<Shown> questions; // ask
    std::vector<Shown> prompts;   // askText
    /// Answers to ask() in turn; No when none is left.
    std::deque<Answer> answers;
    /// Answers to askText() in turn; nullopt (cancelled) when none is left.
    std::deque<std::optional<std::string>> typed;
    /// What each call did, in order, when given: "status TEXT", "tell TEXT", "ask TEXT", "rows N".
    std::vector<std::string>* log = nullptr;
    /// The last editProxySetting call.
    struct Editor {
        std::string server;
        bool on = false;
        std::vector<std::string> places;
        SaveProxySetting save;
    };
    std::optional<Editor> editor;
    /// The last order shown (empty: stored order), the notifications and the icon's tool tip.
    std::vector<int> order;
    std::vector<std::string> notifications;
    std::string watchTip;

    void showEntries(const std::vector<std::string_view>& shown) override {
        rows.assign(shown.begin(), shown.end());
        selected.reset();
        marks.clear();
        order.clear();
        record("rows " + std::to_string(rows.size()));
    }
    int entryCount() const override { return static_cast<int>(rows.size()); }
    std::string entry(int row) const override {
        return row >= 0 && row < entryCount() ? rows[static_cast<std::size_t>(row)] : std::string();
    }
    std::optional<int> selectedRow() const override { return selected; }
    void showMarks(std::vector<RowMark> shown) override { marks = std::move(shown); }
    void showOrder(std::vector<int> shown) override { order = std::move(shown); }
    std::string statusText() const override { return status; }
    void notify(const std::string& text) override {
        notifications.push_back(text);
        record("notify " + text);
    }
    void showWatchTip(const std::string& text) override { watchTip = text; }
    void clearMarks() override { marks.clear(); }
    void setStatus(const std::string& text) override {
        status = text;
        statuses.push_back(text);
        record("status " + text);
    }
    void tell(const std::string& text, const std::string& title) override {
        messages.push_back({text, title});
        record("tell " + text);
    }
    Answer ask(const std::string& question, const std::string& title) override {
        questions.push_back({question, title});
        record("ask " + question);
        if (answers.empty())
            return Answer::No;
        const Answer answer = answers.front();
        answers.pop_front();
        return answer;
    }
    std::optional<std::string> askText(const std::string& prompt, const std::string& title) override {
        prompts.push_back({prompt, title});
        if (typed.empty())
            return std::nullopt;
        auto text = typed.front();
        typed.pop_front();
        return text;
    }
    void editProxySetting(const std::string& server, bool on, const std::vector<std::string>& places,
                          SaveProxySetting save) override {
        editor = Editor{server, on, places, std::move(save)};
        record("editor " + server);
    }

private:
    void record(const std::string& line) {
        if (log)
            log->push_back(line);
    }
};

} // namespace tamberly::test
