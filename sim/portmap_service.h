#pragma once

// The simulator's portmapper (program 100000, version 2): NULL, GETPORT and
// DUMP, answering the VXI-11 core channel for TCP. Works on whole RPC
// messages, so the TCP server (record marking) and the UDP server (one
// datagram per message) share it.

#include "codec/oncrpc.h"

#include <cstdint>

namespace quarvel::sim {

// The reply message to one call message; empty when the message is not a
// decodable call (it then gets no reply).
visa::rpc::Bytes HandlePortmapCall(visa::rpc::ByteView call, std::uint32_t vxi11Port);

} // namespace quarvel::sim
