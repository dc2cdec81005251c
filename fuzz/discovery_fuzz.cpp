// Fuzzes what discovery reads from outside: a GETPORT answer datagram (any
// host on the network may send one) and the host lists and method names a
// user or the environment gives (QUARVEL_PROBE, QUARVEL_DISCOVERY).

#include "codec/oncrpc.h"
#include "visa/discovery.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    namespace visa = quarvel::visa;
    std::uint32_t port = 0;
    if (visa::rpc::DecodeGetPortDatagram({data, size}, 0x01020304u, port) &&
        (port > 0xFFFF || size < 28 || size % 4 != 0))
        std::abort();

    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::vector<std::uint32_t> hosts;
    if (visa::ParseProbeHosts(text, hosts) ? hosts.size() > visa::kMaxProbeHosts : !hosts.empty())
        std::abort();
    unsigned methods = 0;
    if (visa::ParseDiscoveryMethods(text, methods) &&
        (methods == 0 || (methods & ~visa::kAllDiscoveryMethods) != 0))
        std::abort();
    return 0;
}
