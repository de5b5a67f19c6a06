#pragma once

namespace platform {

// Asks the system not to idle-sleep while on is held (the display may still
// turn off); a user's or a policy's explicit sleep still happens. Windows:
// SetThreadExecutionState on the calling thread, which is to be the
// user-interface thread. Linux: a logind "idle:sleep" inhibitor on the system
// bus, nothing where there is no bus. Calls alternate true, false.
void KeepSystemAwake(bool on);

}  // namespace platform
