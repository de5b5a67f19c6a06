#pragma once
#include <memory>

#include "platform/tcp_socket.h"

class CSocketCommCls;

// Signalled while the workers are being stopped: every wait of the relay
// (connect, send room, the VAN wait, the idle sleeps) also wakes on it.
platform::WakeEvent& RelayStopEvent();

// Tears the VAN link down only while `expected` is still the link in use, so a
// worker that woke on an old socket never ends a newer session.
void DisconnectVANIfCurrent(const std::shared_ptr<CSocketCommCls>& expected);
