#include "tools/catsim/cat_simulator.h"

#include <algorithm>
#include <array>

#include "platform/clock.h"
#include "platform/serial_device.h"

namespace catsim {

namespace {

constexpr int kWriteTimeoutMs = 1000;

int64_t NowMs() { return platform::MonotonicMs(); }

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

bool CouldBeNumeric(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') || c == 'x' ||
           c == 'X' || c == '.';
}

}  // namespace

std::string Hex(std::string_view bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        out += kDigits[b >> 4];
        out += kDigits[b & 0x0F];
    }
    return out;
}

bool IsSafeRequestAddress(std::string_view address) {
    // Address parsers skip leading blanks and stop at the first blank or NUL,
    // so only that word counts.
    size_t begin = 0;
    while (begin < address.size() && IsSpace(address[begin])) ++begin;
    size_t end = begin;
    while (end < address.size() && address[end] != '\0' && !IsSpace(address[end])) ++end;
    const std::string_view word = address.substr(begin, end - begin);

    if (word.size() > 4 && word.substr(0, 4) == "127." &&
        std::all_of(word.begin(), word.end(),
                    [](char c) { return (c >= '0' && c <= '9') || c == '.'; }))
        return true;
    // A word with a character no numeric address form uses cannot reach a host.
    return std::any_of(word.begin(), word.end(), [](char c) { return !CouldBeNumeric(c); }) ||
           (word.empty() && begin == address.size());
}

CatSimulator::CatSimulator() : m_device(std::make_unique<platform::SerialDevice>()) {}

CatSimulator::~CatSimulator() = default;

std::unique_ptr<CatSimulator> CatSimulator::OpenDevice(const std::string& path, int baud,
                                                       std::string* error) {
    std::unique_ptr<CatSimulator> sim(new CatSimulator);
    if (!sim->m_device->Open(platform::SerialDevicePath(path))) {
        if (error) *error = sim->m_device->LastError().text;
        return nullptr;
    }
    platform::SerialLineSettings settings;
    settings.baud = baud;
    settings.dataBits = 8;
    settings.parity = platform::SerialParity::None;
    settings.stopBits = platform::SerialStopBits::One;
    sim->m_device->Configure(settings);
    sim->m_device->SetDtr(true);
    sim->m_device->SetRts(true);
    sim->m_path = path;
    return sim;
}

void CatSimulator::SetObserver(std::function<void(Direction, std::string_view)> observer) {
    m_observer = std::move(observer);
}

void CatSimulator::Report(Direction d, std::string_view bytes) {
    if (m_observer && !bytes.empty()) m_observer(d, bytes);
}

bool CatSimulator::Send(std::string_view bytes) {
    const bool ok = m_device->Write(reinterpret_cast<const uint8_t*>(bytes.data()),
                                    static_cast<int>(bytes.size()), kWriteTimeoutMs);
    if (ok) Report(Direction::ToGateway, bytes);
    return ok;
}

bool CatSimulator::SendLoneCr() { return Send(std::string(1, static_cast<char>(kCR))); }

bool CatSimulator::SendRun(uint8_t byte, int count) {
    return Send(std::string(static_cast<size_t>(std::max(count, 0)), static_cast<char>(byte)));
}

bool CatSimulator::SendRequest(std::string_view address, std::string_view port) {
    if (!IsSafeRequestAddress(address)) return false;
    std::string frame(1, static_cast<char>(kSOH));
    frame += address;
    frame += static_cast<char>(kFS);
    frame += port;
    frame += static_cast<char>(kETB);
    return Send(frame);
}

std::string CatSimulator::ReadExactly(size_t n, int timeoutMs) {
    std::string out;
    std::array<uint8_t, 4096> buf{};
    const int64_t deadline = NowMs() + timeoutMs;
    while (out.size() < n) {
        const int64_t left = deadline - NowMs();
        if (left <= 0) break;
        const int want = static_cast<int>(std::min(n - out.size(), buf.size()));
        const platform::SerialReadTiming timing{static_cast<int>(left), static_cast<int>(left), 0};
        const int got = m_device->Read(buf.data(), want, timing);
        if (got < 0) break;
        out.append(reinterpret_cast<const char*>(buf.data()), static_cast<size_t>(got));
    }
    Report(Direction::FromGateway, out);
    return out;
}

std::string CatSimulator::ReadUntilQuiet(int quietMs, int timeoutMs) {
    std::string out;
    std::array<uint8_t, 4096> buf{};
    const int64_t deadline = NowMs() + timeoutMs;
    for (;;) {
        const int64_t left = deadline - NowMs();
        if (left <= 0) break;
        const platform::SerialReadTiming timing{quietMs, static_cast<int>(left), 0};
        const int got = m_device->Read(buf.data(), static_cast<int>(buf.size()), timing);
        if (got <= 0) break;
        out.append(reinterpret_cast<const char*>(buf.data()), static_cast<size_t>(got));
        if (got < static_cast<int>(buf.size())) break;  // the line went quiet
    }
    Report(Direction::FromGateway, out);
    return out;
}

bool CatSimulator::ExpectBurst(uint8_t byte, int timeoutMs) {
    return ReadExactly(5, timeoutMs) == std::string(5, static_cast<char>(byte));
}

bool CatSimulator::ExpectSilence(int ms, std::string* arrived) {
    std::string out;
    std::array<uint8_t, 4096> buf{};
    const int64_t deadline = NowMs() + ms;
    for (;;) {
        const int64_t left = deadline - NowMs();
        if (left <= 0) break;
        const platform::SerialReadTiming timing{static_cast<int>(left), static_cast<int>(left), 0};
        const int got = m_device->Read(buf.data(), static_cast<int>(buf.size()), timing);
        if (got < 0) break;
        out.append(reinterpret_cast<const char*>(buf.data()), static_cast<size_t>(got));
    }
    Report(Direction::FromGateway, out);
    if (arrived) *arrived = out;
    return out.empty();
}

void CatSimulator::Silence(int ms) { platform::SleepMs(ms); }

int CatSimulator::LineRate() const { return m_device->CurrentBaud(); }

void CatSimulator::Hangup() { m_device->Close(); }

}  // namespace catsim
