#include "relay/relay_state.h"

#include "config/settings.h"

RelayState g_relay;

void ResetKeepAlive() { g_relay.lastVanDataMs = g_relay.keepAliveClock.load()(); }

int64_t KeepAliveElapsedMs() {
    return g_relay.keepAliveClock.load()() - g_relay.lastVanDataMs.load();
}

bool RelayLogging() { return g_logEnabled.load(std::memory_order_relaxed); }

namespace {

template <typename Fn>
void ForEachTarget(Fn&& fn) {
    if (IDisplayTarget* main = g_relay.mainWindow.load()) fn(*main);
    if (IDisplayTarget* status = g_relay.statusWindow.load()) fn(*status);
}

}  // namespace

void SetProgressText(const std::string& text) {
    ForEachTarget([&](IDisplayTarget& t) { t.SetProgressText(text); });
}

void SetTransferState(const std::string& text, uint32_t colour) {
    ForEachTarget([&](IDisplayTarget& t) { t.SetTransferState(text, colour); });
}

std::string LinkText(bool serialOpen, bool vanConnected) {
    std::string text = serialOpen ? "CAT : 연결" : "CAT : 비연결";
    text += vanConnected ? " | VAN : 연결" : " | VAN : 비연결";
    return text;
}

void UpdateLinkText() {
    const std::string text = LinkText(g_relay.serialOpen.load(), g_relay.vanConnected.load());
    ForEachTarget([&](IDisplayTarget& t) { t.SetLinkText(text); });
}
