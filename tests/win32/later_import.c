// A test build that imports a function of a later Windows than 7 SP1: the
// import check must refuse it. It is never run.
#include <windows.h>

int main(void) {
    FILETIME now;
    GetSystemTimePreciseAsFileTime(&now);
    return (int)(now.dwLowDateTime & 1);
}
