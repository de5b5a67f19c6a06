#pragma once
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

namespace platform {
class SerialDevice;
}

// Open result codes of the terminal port.
inline constexpr int SERIAL_ERR_OPEN = -1;        // absent, or held by another program
inline constexpr int SERIAL_ERR_READ_EVENT = -2;  // the read wake-up cannot be made
inline constexpr int SERIAL_ERR_WRITE_EVENT = -3; // the write wake-up cannot be made

// The terminal's serial port. One object at a time, reached through
// g_relay.serialLink. Reads come from the terminal worker only; writes may come
// from any thread and are serialised, so two bursts never interleave.
class CSerialCommCls {
public:
    CSerialCommCls(std::string portName, std::string speed, std::string parity,
                   std::string dataBits, std::string stopBits);
    ~CSerialCommCls();
    CSerialCommCls(const CSerialCommCls&) = delete;
    CSerialCommCls& operator=(const CSerialCommCls&) = delete;

    // Line settings, buffers, purge; does nothing unless the port is open.
    void ConfigurePort();

    // ... the rest belongs to the serial link's implementation.
};

// "COMn" names open /dev/ttyS(n-1); any other name is a device path as it stands.
std::string SerialDevicePath(const std::string& portName);

// Opens and configures the port; sets g_relay.serialOpen. UI thread, workers stopped.
bool OpenSerialPort(const std::string& portName, const std::string& speed);
// Reads up to count bytes (count <= 3073): the count read, 0 on time-out (or when
// cancelled), -1 on failure. Terminal worker only.
int ReadCAT(uint8_t* dst, int count);
// Writes count bytes: 1 when the write completed within 1000 ms, 0 otherwise.
int WriteCAT(const uint8_t* buf, int count);
// Writes five copies of the byte (and logs them as PcToCat). No port: nothing.
void SendCATControl(uint8_t byte);
// Wakes a ReadCAT pending on the terminal worker and makes later reads return 0
// at once until the port is closed; the stop path calls it. Any thread.
void CancelCATRead();
// Closes the port and logs "Serial CLOSE". UI thread, workers stopped.
void CloseSerialPort();
