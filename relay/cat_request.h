#pragma once
#include <cstdint>

// The terminal's framing rules as plain functions of a received buffer: no
// I/O, no shared state. Any thread.

// Request fields live in zero-filled 32-byte texts: at most 31 characters each.
inline constexpr int kCATFieldMax = 31;

// What a buffer read while no VAN link is up asks for.
struct CATRequest {
    enum class Kind {
        None,     // no SOH, then FS, then ETB in it: not a request at all
        Invalid,  // a frame whose fields fail the checks: refused with the ESC burst
        Connect,  // address and port below name the server
    };
    Kind kind = Kind::None;
    // The fields after the SOH that was found, each ending at its first zero
    // byte; for Connect the address is not empty and the port is digits only
    // (an empty port passes).
    char address[kCATFieldMax + 1] = {};
    char port[kCATFieldMax + 1] = {};
};

// SOH, address, FS, port, ETB; bytes ahead of the SOH (line noise) are not part
// of the address. A field longer than 31 bytes makes the frame Invalid.
// A length of 0 or less is no request.
CATRequest ParseCATRequest(const uint8_t* buf, int length);

// How a buffer read while the VAN link is up ends the session: four ESC among
// the first five received bytes end it from the terminal's side, otherwise four
// CR from the gateway's; anything else is data for the VAN.
enum class CATSessionEnd { None, EscRun, CrRun };
CATSessionEnd CATSessionEndRule(const uint8_t* buf, int length);

// The port text's leading decimal digits as a number, wrapping like an unsigned
// counter; only its low 16 bits are the TCP port.
uint16_t VANPortNumber(const char* port);
