#pragma once
#include <cstdint>
#include <string>

// A Windows-style colour value: red in the low byte, then green, then blue.
constexpr uint32_t Rgb(uint8_t r, uint8_t g, uint8_t b) {
    return static_cast<uint32_t>(r) | (static_cast<uint32_t>(g) << 8) |
           (static_cast<uint32_t>(b) << 16);
}
constexpr uint32_t kNormalColour = Rgb(100, 100, 255);  // light blue
constexpr uint32_t kErrorColour = Rgb(255, 100, 100);   // light red

// A window that shows the relay's three display lines. The relay calls these
// from its worker threads as well as from the user-interface thread, so an
// implementation must hand every write over to its own thread and never block.
class IDisplayTarget {
public:
    virtual ~IDisplayTarget() = default;
    virtual void SetLinkText(const std::string& text) = 0;
    virtual void SetProgressText(const std::string& text) = 0;
    // Text of the transfer-state line and the colour of the indicator under it.
    virtual void SetTransferState(const std::string& text, uint32_t colour) = 0;
    // The terminal's adapter was found at another port, now open under that
    // name: stored and shown as if picked in the settings.
    virtual void PortFollowed(const std::string& port) { (void)port; }
};

// The display operations: each writes the main window first and the status
// window second, each only when present in the relay state; with neither they
// do nothing. Any thread.
void SetProgressText(const std::string& text);
void SetTransferState(const std::string& text, uint32_t colour);
// Chooses "CAT : 연결 | VAN : 비연결" and its siblings from serialOpen/vanConnected.
void UpdateLinkText();
// The link text UpdateLinkText would write for the two flags.
std::string LinkText(bool serialOpen, bool vanConnected);
