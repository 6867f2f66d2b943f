#pragma once
// TWSocket: an event-driven socket component. Every network operation is
// started here and completes later as an event delivered from the Qt event
// loop of the thread that created the component (the user-interface thread):
// host lookup done, session connected, data available, data sent, session
// closed. Errors carry Windows Sockets error numbers (10061 = connection
// refused, ...), whatever the platform's own numbers are.
//
// Layers: TCustomWSocket (client, server side, datagrams) -> TCustomSocksWSocket
// (SOCKS 5 client) -> TCustomSslWSocket (TLS client) -> TCustomLineWSocket
// (line mode) -> TCustomSyncWSocket (blocking waits that pump the event loop)
// -> TWSocket.
//
// Each layer has a header of its own (WSocketBase.h, WSocketSocks.h,
// WSocketSsl.h, WSocketLine.h, WSocketSync.h); the Windows-style message and
// error numbers are in WSocketCodes.h, address resolution and look-up in
// WSocketAddress.h. Callers include this header, which brings them all.
#include "WSocketAddress.h"
#include "WSocketBase.h"
#include "WSocketCodes.h"
#include "WSocketLine.h"
#include "WSocketSocks.h"
#include "WSocketSsl.h"
#include "WSocketSync.h"
