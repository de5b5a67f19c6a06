#include "tests/update/fake_update_host.h"

std::string FakeExecutable(size_t size) {
    std::string bytes = std::string("\x7f" "ELF", 4) + (sizeof(void*) == 8 ? '\x02' : '\x01') + "\x01\x01";
    bytes.resize(size, 'E');
    return bytes;
}
