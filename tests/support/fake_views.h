#pragma once
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "app/about_dialog.h"
#include "app/brisken_dlg.h"
#include "app/message_box.h"
#include "app/progress_dlg.h"
#include "app/setting_dlg.h"
#include "app/update_dlg.h"

// The windows' views without a toolkit: each records what the rules draw, and
// the test's own thread plays the user-interface thread.

// Work handed to the user-interface thread, run when the test lets it run.
class FakeUiThread {
public:
    void Post(std::function<void()> fn) {
        {
            std::lock_guard lock(m_mutex);
            m_queue.push_back(std::move(fn));
        }
        m_posted.notify_all();
    }
    // A quit, taken in turn like every other posted piece of work.
    void PostQuit() {
        Post([this] { quit = true; });
    }
    // Runs posted work, one piece at a time, until done() holds, nothing more
    // has come for idleMs, or totalMs have passed. Returns done().
    bool RunUntil(const std::function<bool()>& done, int idleMs = 0, int totalMs = 10000) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(totalMs);
        while (!done()) {
            std::function<void()> fn;
            {
                std::unique_lock lock(m_mutex);
                if (m_queue.empty() && !m_posted.wait_for(lock, std::chrono::milliseconds(idleMs),
                                                          [this] { return !m_queue.empty(); }))
                    return false;
                fn = std::move(m_queue.front());
                m_queue.pop_front();
            }
            fn();
            if (std::chrono::steady_clock::now() > end) break;
        }
        return done();
    }
    // Runs what is posted, and what that posts, until nothing is left.
    void RunPosted() {
        RunUntil([] { return false; });
    }

    bool quit = false;   // a quit was taken and the program's loop has not ended on it yet
    int quitsTaken = 0;  // quits the program's loop has ended on

private:
    std::mutex m_mutex;
    std::condition_variable m_posted;
    std::deque<std::function<void()>> m_queue;
};

// Answers every modal message box: the queued answers in order, then
// `answer`. A notice is only recorded (in `asked` too): it stands unanswered.
class FakeMessageBoxes : public msgbox::IMessageBoxes {
public:
    msgbox::Answer Show(const msgbox::Request& request) override {
        asked.push_back(request);
        if (onAsk) onAsk(request);
        if (answers.empty()) return answer;
        const msgbox::Answer next = answers.front();
        answers.erase(answers.begin());
        return next;
    }
    void Notify(const msgbox::Request& request) override {
        asked.push_back(request);
        notices.push_back(request.text);
    }
    std::vector<std::string> Texts() const {
        std::vector<std::string> out;
        for (const auto& r : asked) out.push_back(r.text);
        return out;
    }

    std::vector<msgbox::Request> asked;  // modal boxes and notices, in order
    std::vector<std::string> notices;    // the notices' texts
    std::vector<msgbox::Answer> answers;
    msgbox::Answer answer = msgbox::Answer::Yes;
    std::function<void(const msgbox::Request&)> onAsk;
};

// A dialog's controls by ID, as the rules last set them (or the user left them).
struct FakeControl {
    std::string text;
    bool enabled = true;
    bool checked = false;
    std::vector<std::string> items;
    int selection = -1;
    std::string Selected() const {
        return selection >= 0 && selection < static_cast<int>(items.size())
                   ? items[static_cast<size_t>(selection)]
                   : std::string();
    }
};

template <class View>
class FakeControls : public View {
public:
    explicit FakeControls(FakeUiThread& ui) : ui(ui) {}
    ~FakeControls() override { *m_alive = false; }

    void SetText(int id, const std::string& text) override { c[id].text = text; }
    void Enable(int id, bool enabled) override { c[id].enabled = enabled; }
    void SetCheck(int id, bool checked) override { c[id].checked = checked; }
    bool IsChecked(int id) const override { return At(id).checked; }
    void ResetItems(int id) override { c[id] = {c[id].text, c[id].enabled, c[id].checked, {}, -1}; }
    void AddItem(int id, const std::string& text) override { c[id].items.push_back(text); }
    int ItemCount(int id) const override { return static_cast<int>(At(id).items.size()); }
    std::string ItemText(int id, int index) const override {
        const auto& items = At(id).items;
        return index >= 0 && index < static_cast<int>(items.size())
                   ? items[static_cast<size_t>(index)]
                   : std::string();
    }
    int Selection(int id) const override { return At(id).selection; }
    void Select(int id, int index) override {
        c[id].selection = index >= 0 && index < ItemCount(id) ? index : -1;
    }
    // The user picks an item (the test then tells the rules).
    void Pick(int id, const std::string& text) {
        const auto& items = c[id].items;
        for (size_t i = 0; i < items.size(); ++i)
            if (items[i] == text) c[id].selection = static_cast<int>(i);
    }
    // Work for this window's thread, dropped once the window is gone.
    void PostLater(std::function<void()> fn) {
        ui.Post([alive = m_alive, fn = std::move(fn)] {
            if (*alive) fn();
        });
    }

    std::map<int, FakeControl> c;
    FakeUiThread& ui;

private:
    const FakeControl& At(int id) const {
        static const FakeControl kNone;
        auto it = c.find(id);
        return it == c.end() ? kNone : it->second;
    }
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

class FakeStatusView : public FakeControls<IStatusView> {
public:
    struct Slider {
        int min = 0, max = 0, line = 0, page = 0, pos = 0;
    };
    using FakeControls::FakeControls;
    void SetIndicatorColour(uint32_t value) override { colour = value; }
    void SetSliderRange(int id, int mn, int mx, int line, int page) override {
        sliders[id] = {mn, mx, line, page, sliders[id].pos};
    }
    void SetSliderPos(int id, int pos) override { sliders[id].pos = pos; }
    int SliderPos(int id) const override {
        auto it = sliders.find(id);
        return it == sliders.end() ? 0 : it->second.pos;
    }
    void SetOpacity(int alpha) override { opacity = alpha; }
    void ShowWindow(WindowShow how) override { visible = how != WindowShow::Hide; }
    Rect WorkArea() const override { return workArea; }
    Rect WindowRect() const override { return frame; }
    void MoveWindow(int x, int y) override { frame.x = x, frame.y = y; }
    void PostToUi(std::function<void()> fn) override { PostLater(std::move(fn)); }

    uint32_t colour = 0;
    int opacity = 255;
    bool visible = false;
    Rect workArea{0, 0, 1920, 1040};  // a 1920 x 1080 screen, a 40 pixel taskbar below
    Rect frame{0, 0, 300, 140};
    std::map<int, Slider> sliders;
};

class FakeAboutView : public FakeControls<IAboutView> {
public:
    using FakeControls::FakeControls;
    void SetLinkUrl(int id, const std::string& url) override { urls[id] = url; }
    void MarkLinkVisited(int id) override { visited.insert(id); }
    void OpenUrl(const std::string& url) override { opened.push_back(url); }
    void ShowWindow(WindowShow how) override { visible = how != WindowShow::Hide; }

    std::map<int, std::string> urls;
    std::set<int> visited;
    std::vector<std::string> opened;
    bool visible = false;
};

class FakeSettingView : public FakeControls<ISettingView> {
public:
    FakeSettingView(CSettingDlg& rules, FakeUiThread& ui) : FakeControls(ui), rules(rules) {}
    void PostClose() override {
        PostLater([this] { this->rules.OnClose(); });
    }
    void EndDialog() override { ended = true; }
    // What the user does while the dialog runs comes first, then the loop runs
    // until the dialog ends, a quit comes, or nothing is left to do.
    void RunModal() override {
        if (onRun) PostLater([this] { onRun(*this); });
        ui.RunUntil([this] { return ended || ui.quit; });
    }
    // The user ticks or clears a check box (the test then tells the rules).
    void Toggle(int id) { c[id].checked = !c[id].checked; }

    CSettingDlg& rules;
    bool ended = false;
    std::function<void(FakeSettingView&)> onRun;
};

// What the download windows of a test showed, kept beyond each window's life.
struct FakeDownloadRecord {
    int windows = 0;
    int max = -1, pos = -1;
    bool ended = false;
    std::function<void(CUpdateDlg&)> onRun;  // what the user does while it runs
};

class FakeDownloadView : public IDownloadView {
public:
    FakeDownloadView(CUpdateDlg& rules, FakeUiThread& ui, FakeDownloadRecord& record)
        : rules(rules), ui(ui), r(record) {
        ++r.windows;
        r.ended = false;
    }
    ~FakeDownloadView() override { *m_alive = false; }
    void SetProgressRange(int max) override { r.max = max; }
    void SetProgressPos(int pos) override { r.pos = pos; }
    void EndDialog() override { r.ended = true; }
    void RunModal() override {
        if (r.onRun) PostToUi([this] { r.onRun(rules); });
        ui.RunUntil([this] { return r.ended || ui.quit; }, 5000);
    }
    void PostToUi(std::function<void()> fn) override {
        ui.Post([alive = m_alive, fn = std::move(fn)] {
            if (*alive) fn();
        });
    }

    CUpdateDlg& rules;
    FakeUiThread& ui;
    FakeDownloadRecord& r;

private:
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

// The main window; like a real window it tells the rules when it goes.
class FakeMainView : public FakeControls<IMainWindowView> {
public:
    FakeMainView(CBriskenDlg& rules, FakeUiThread& ui) : FakeControls(ui), rules(rules) {}
    ~FakeMainView() override { rules.OnDestroy(); }

    void SetIndicatorColour(uint32_t value) override { colour = value; }
    void ShowWindow(WindowShow how) override {
        const bool wasMinimised = minimised;
        if (how == WindowShow::Hide) visible = false;
        if (how == WindowShow::Minimise) minimised = true;
        if (how == WindowShow::Restore) minimised = false, ++foreground;
        if (how != WindowShow::Hide && rules.ShowAllowed()) visible = true;
        if (minimised && !wasMinimised) rules.OnMinimised();
    }
    bool AddTrayIcon() override {
        ++trayAdds;
        trayShown = trayAvailable;
        return trayAvailable;
    }
    void RemoveTrayIcon() override { trayShown = false; }
    void SetTimer(int id, int ms) override { timers[id] = ms; }
    void KillTimer(int id) override { timers.erase(id); }
    void PostClose() override {
        PostLater([this] { this->rules.OnClose(); });
    }
    void PostQuit() override { ui.PostQuit(); }
    void PostToUi(std::function<void()> fn) override { PostLater(std::move(fn)); }
    // The program's life: runs until a quit is taken; `stalled` when it would
    // wait for the user instead.
    void RunModal() override {
        if (onRun) PostLater(onRun);
        stalled = !ui.RunUntil([this] { return ui.quit; });
        if (ui.quit) ++ui.quitsTaken;
        ui.quit = false;
    }
    IStatusView& CreateStatusWindow(CProgressDlg&) override {
        status = std::make_unique<FakeStatusView>(ui);
        return *status;
    }
    IAboutView& CreateAboutBox(CAboutDialog&) override {
        about = std::make_unique<FakeAboutView>(ui);
        return *about;
    }
    std::unique_ptr<ISettingView> CreateSettingDialog(CSettingDlg& dlg) override {
        auto view = std::make_unique<FakeSettingView>(dlg, ui);
        if (onSettings) view->onRun = [this, &dlg](FakeSettingView& v) { onSettings(dlg, v); };
        return view;
    }
    std::unique_ptr<IDownloadView> CreateDownloadWindow(CUpdateDlg& dlg) override {
        return std::make_unique<FakeDownloadView>(dlg, ui, download);
    }

    CBriskenDlg& rules;
    uint32_t colour = 0;
    bool visible = false;
    bool minimised = false;
    int foreground = 0;
    bool trayAvailable = true;
    bool trayShown = false;
    int trayAdds = 0;
    std::map<int, int> timers;  // running: id -> interval
    bool stalled = false;
    std::function<void()> onRun;
    std::function<void(CSettingDlg&, FakeSettingView&)> onSettings;
    FakeDownloadRecord download;
    std::unique_ptr<FakeStatusView> status;
    std::unique_ptr<FakeAboutView> about;
};
