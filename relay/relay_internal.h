#pragma once
#include <memory>

#include "platform/tcp_socket.h"

class CSocketCommCls;

// Signalled while the workers are being stopped: every wait of the relay
// (connect, send room, the VAN wait, the idle sleeps) also wakes on it.
platform::WakeEvent& RelayStopEvent();

// Signalled when a VAN link comes up (and when the workers are stopped): the
// VAN worker waits on it while there is no link, instead of looking every
// 100 ms, so a VAN that speaks first is heard at once and an idle gateway
// sleeps.
platform::WakeEvent& VanLinkUpEvent();

// Tears the VAN link down only while `expected` is still the link in use, so a
// worker that woke on an old socket never ends a newer session.
void DisconnectVANIfCurrent(const std::shared_ptr<CSocketCommCls>& expected);
