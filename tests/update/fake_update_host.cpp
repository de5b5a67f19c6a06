#include "tests/update/fake_update_host.h"

#include <algorithm>
#include <cstring>

std::string FakeExecutable(size_t size) {
    std::string bytes(std::max<size_t>(size, 0x100), 'E');
    if (TALMIRA_FAKE_PE) {
        // "MZ", the PE header's offset at 0x3C, "PE\0\0" and the x86-64 machine.
        bytes[0] = 'M';
        bytes[1] = 'Z';
        const unsigned char offset[4] = {0x80, 0, 0, 0};
        std::memcpy(&bytes[0x3C], offset, 4);
        std::memcpy(&bytes[0x80], "PE\0\0\x64\x86", 6);
    } else {
        bytes.replace(0, 7, std::string("\x7f" "ELF", 4) + (sizeof(void*) == 8 ? '\x02' : '\x01') + "\x01\x01");
    }
    bytes.resize(size);
    return bytes;
}
