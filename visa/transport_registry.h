#pragma once

// Transport rows added at run time (the test-only memory transport, a
// transport a test defines). Kept apart from the transport table, which
// lists the built-in transports and so sits above them: a transport that
// registers itself depends only on this.

#include "visa/transport.h"

#include <vector>

namespace quarvel::visa {

// Adds a row. Rows added later take precedence over earlier ones and over
// the built-in rows.
void RegisterTransport(const TransportRow& row);

// The rows added so far, in the order they were added.
std::vector<TransportRow> RegisteredTransports();

} // namespace quarvel::visa
