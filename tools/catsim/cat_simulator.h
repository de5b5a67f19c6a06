#pragma once
// The card terminal, simulated: plays the terminal's side of the serial line
// against the gateway, either on the master side of a pseudo-terminal it makes
// (the gateway opens the slave path) or on a real serial device.
//
// Typical transaction:
//   auto cat = catsim::CatSimulator::CreatePty();
//   OpenSerialPort(cat->DevicePath(), "9600");      // the gateway side
//   cat->SendLoneCr();       cat->ExpectBurst(kACK, 1000);
//   cat->SendRequest("127.0.0.1", "5010");
//   cat->Send("hello");      auto answer = cat->ReadUntilQuiet(200, 3000);
//   cat->SendRun(kESC);      // ends the session
//
// Threading: one thread drives a simulator (Hangup included).
// Every read is bounded by the time-out it is given.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace platform {
class SerialDevice;
}

namespace catsim {

inline constexpr uint8_t kSOH = 0x01;
inline constexpr uint8_t kFS = 0x1C;
inline constexpr uint8_t kETB = 0x17;
inline constexpr uint8_t kCR = 0x0D;
inline constexpr uint8_t kACK = 0x06;
inline constexpr uint8_t kESC = 0x1B;

// Which way a buffer went, for the traffic observer.
enum class Direction { ToGateway, FromGateway };

// Upper-case hex, two digits a byte, no separators ("1B1B").
std::string Hex(std::string_view bytes);

// True when an address text may go into a request: dotted loopback
// (127.x.y.z), or a text no resolver would take for an address at all (used
// to test the gateway's refusal of bad requests). Anything that could name a
// real host is refused.
bool IsSafeRequestAddress(std::string_view address);

class CatSimulator {
public:
    ~CatSimulator();
    CatSimulator(const CatSimulator&) = delete;
    CatSimulator& operator=(const CatSimulator&) = delete;

    // Makes a pseudo-terminal pair and plays the terminal on its master side
    // (Linux only). Null on failure, with the reason in *error when given.
    static std::unique_ptr<CatSimulator> CreatePty(std::string* error = nullptr);
    // Opens a real serial device ("COM12", "/dev/ttyUSB0") at the given rate
    // (8N1, raw).
    static std::unique_ptr<CatSimulator> OpenDevice(const std::string& path, int baud,
                                                    std::string* error = nullptr);

    // The path the gateway should open: the slave of the pair, or the device.
    const std::string& DevicePath() const { return m_path; }

    // Called with every buffer sent or received (e.g. to print it).
    void SetObserver(std::function<void(Direction, std::string_view)> observer);

    // Sends bytes as they stand; true when all went out within 1 s.
    bool Send(std::string_view bytes);
    // A lone CR: the terminal asking whether the gateway is there.
    bool SendLoneCr();
    // Five copies (or count) of a byte: the terminal's ESC or CR run.
    bool SendRun(uint8_t byte, int count = 5);
    // SOH address FS port ETB. Refuses (false, nothing sent) an address that
    // IsSafeRequestAddress rejects.
    bool SendRequest(std::string_view address, std::string_view port);

    // Reads until n bytes have come or timeoutMs passed; returns what came.
    std::string ReadExactly(size_t n, int timeoutMs);
    // Reads until quietMs pass without a byte after the first one, or timeoutMs
    // in all; returns what came ("" when nothing).
    std::string ReadUntilQuiet(int quietMs, int timeoutMs);
    // Reads five bytes and tells whether they are five copies of the byte.
    bool ExpectBurst(uint8_t byte, int timeoutMs);
    // True when nothing at all arrives for ms (what did arrive is kept in
    // *arrived when given).
    bool ExpectSilence(int ms, std::string* arrived = nullptr);
    // Keeps the line quiet for ms.
    void Silence(int ms);

    // The rate the line is set to now (on a pair: what the gateway configured),
    // or -1.
    int LineRate() const;

    // Drops the line: on a pair the gateway sees what an unplugged adapter
    // looks like. Every later call fails or reads nothing.
    void Hangup();

private:
    CatSimulator();
    void Report(Direction d, std::string_view bytes);

    std::unique_ptr<platform::SerialDevice> m_device;
    std::string m_path;
    std::function<void(Direction, std::string_view)> m_observer;
};

}  // namespace catsim
