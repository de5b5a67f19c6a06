#pragma once
#include <windows.h>

#include <memory>

// The system calls a COM port makes, behind one small interface: the real
// Win32 calls in the program, a driver that misbehaves on purpose in tests
// (a cancel that never completes, reads that end at once with nothing, a
// refused line state). Each has the contract of the Win32 call of its name,
// GetLastError included. Waits on the overlapped events stay real waits.
namespace platform::win {

class CommCalls {
public:
    virtual ~CommCalls() = default;
    // CreateFileW for read and write, no sharing, overlapped.
    virtual HANDLE OpenPort(const wchar_t* path);
    virtual BOOL ClosePort(HANDLE port);
    virtual BOOL GetState(HANDLE port, DCB* dcb);
    virtual BOOL SetState(HANDLE port, DCB* dcb);
    virtual BOOL SetTimeouts(HANDLE port, COMMTIMEOUTS* timeouts);
    virtual BOOL Setup(HANDLE port, DWORD inQueue, DWORD outQueue);
    virtual BOOL Purge(HANDLE port, DWORD flags);
    virtual BOOL ClearError(HANDLE port, DWORD* errors, COMSTAT* stat);
    virtual BOOL ModemStatus(HANDLE port, DWORD* status);
    virtual BOOL SetMask(HANDLE port, DWORD mask);
    virtual BOOL Escape(HANDLE port, DWORD function);
    virtual BOOL Read(HANDLE port, void* buffer, DWORD count, OVERLAPPED* ov);
    virtual BOOL Write(HANDLE port, const void* buffer, DWORD count, OVERLAPPED* ov);
    // GetOverlappedResult without waiting: the caller has waited on the event.
    virtual BOOL Result(HANDLE port, OVERLAPPED* ov, DWORD* transferred);
    virtual BOOL Cancel(HANDLE port, OVERLAPPED* ov);
};

// The real calls, shared by every port.
std::shared_ptr<CommCalls> SystemCommCalls();

}  // namespace platform::win
