#pragma once
#include <functional>
#include <mutex>
#include <utility>
#include <vector>

// The display writes of one window on their way to its thread. The relay's
// workers write several lines per buffer; the first write of a run hands the
// window's thread one drain, the writes that follow only join it, so a buffer
// costs the window's thread one wake-up, not one per line. Writes run in the
// order written. Any thread may add; Drain runs on the window's thread.
class CDisplayQueue {
public:
    // post hands a function to the window's thread (the view's PostToUi).
    template <typename PostFn>
    void Add(std::function<void()> write, PostFn&& post) {
        {
            std::lock_guard lock(m_mutex);
            m_pending.push_back(std::move(write));
            if (m_drainQueued) return;
            m_drainQueued = true;
        }
        post();
    }

    // A window's write: view is the rules' member that points at the window
    // and is null once it has gone. Nothing is queued without a window, and a
    // write that comes due after it has gone is dropped.
    template <typename View>
    void Post(View* const& view, std::function<void()> write) {
        if (view == nullptr) return;
        Add(
            [&view, write = std::move(write)] {
                if (view != nullptr) write();
            },
            [this, &view] { view->PostToUi([this] { Drain(); }); });
    }

    void Drain() {
        std::vector<std::function<void()>> writes;
        {
            std::lock_guard lock(m_mutex);
            writes.swap(m_pending);
            m_drainQueued = false;
        }
        for (auto& write : writes) write();
    }

private:
    std::mutex m_mutex;
    std::vector<std::function<void()>> m_pending;
    bool m_drainQueued = false;
};
