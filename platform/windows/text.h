#pragma once
#include <string>

// The program's texts are UTF-8; every W call takes UTF-16. These two are the
// one place the two meet.
namespace platform::win {

std::wstring Wide(const std::string& utf8);
std::string Utf8(const std::wstring& wide);
std::string Utf8(const wchar_t* wide, size_t length);

// The system's message for an error code (GetLastError, WSAGetLastError).
std::string ErrorText(unsigned long code);

}  // namespace platform::win
