#pragma once
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "relay/display.h"

// A display target that records every write, from any thread, in order.
class RecordingDisplay : public IDisplayTarget {
public:
    enum class Line { Link, Progress, TransferState };
    struct Call {
        Line line;
        std::string text;
        uint32_t colour = 0;  // TransferState only
    };

    void SetLinkText(const std::string& text) override { Add({Line::Link, text, 0}); }
    void SetProgressText(const std::string& text) override { Add({Line::Progress, text, 0}); }
    void SetTransferState(const std::string& text, uint32_t colour) override {
        Add({Line::TransferState, text, colour});
    }

    std::vector<Call> Calls() const {
        std::lock_guard lock(m_mutex);
        return m_calls;
    }
    // The calls to one line, in order.
    std::vector<Call> CallsTo(Line line) const {
        std::vector<Call> out;
        for (const Call& c : Calls()) {
            if (c.line == line) out.push_back(c);
        }
        return out;
    }
    void Clear() {
        std::lock_guard lock(m_mutex);
        m_calls.clear();
    }

private:
    void Add(Call c) {
        std::lock_guard lock(m_mutex);
        m_calls.push_back(std::move(c));
    }

    mutable std::mutex m_mutex;
    std::vector<Call> m_calls;
};
