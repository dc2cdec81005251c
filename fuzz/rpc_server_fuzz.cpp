// libFuzzer target: the simulator's server side of ONC RPC and VXI-11. The
// input is either a raw byte stream as a client could send it on the core
// channel (record marking, call headers, arguments, SCPI in device_write), or,
// to reach deeper faster, a list of call bodies under valid call headers.
// Every record also goes to the portmapper.

#include "codec/oncrpc.h"
#include "sim/faults.h"
#include "sim/portmap_service.h"
#include "sim/rpc_server.h"
#include "sim/sim_instrument.h"
#include "sim/vxi11_service.h"

#include <cstddef>
#include <cstdint>

namespace {

namespace rpc = quarvel::visa::rpc;
using quarvel::sim::Vxi11Connection;
using quarvel::sim::Vxi11Service;

void Handle(Vxi11Service& service, Vxi11Connection& connection, rpc::ByteView record) {
    static const Vxi11Service::Sleeper noSleep = [](int) { return true; };
    Vxi11Service::Outcome outcome;
    service.HandleCall(record, connection, noSleep, outcome);
    // The reply's parts, so that a wrong data view shows under the sanitizers.
    const quarvel::visa::rpc::Bytes whole = outcome.Joined();
    if (whole.size() != outcome.Size())
        __builtin_trap();
    quarvel::sim::HandlePortmapCall(record, 4321);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1)
        return 0;
    // The common commands only: the engine is exercised, while the generic
    // family's test block (up to 8 MB per query) would only slow the search.
    quarvel::sim::SimInstrument instrument("FUZZ,SIM,0,1.0");
    quarvel::sim::FaultOptions faults;
    faults.maxRecvSize = 4096;
    Vxi11Service service(instrument, nullptr, faults, 1234);
    Vxi11Connection connection;
    const bool structured = (data[0] & 1) != 0;
    rpc::ByteView rest(data + 1, size - 1);

    if (!structured) {
        quarvel::sim::RecordAssembler assembler(service.MaxRecvSize() + 4096);
        while (!rest.empty()) {
            std::size_t consumed = 0;
            const auto state = assembler.Feed(rest, &consumed);
            rest = rest.subspan(consumed);
            if (state == quarvel::sim::RecordAssembler::State::TooLarge)
                break;
            if (state == quarvel::sim::RecordAssembler::State::RecordReady)
                Handle(service, connection, assembler.TakeRecord());
        }
        return 0;
    }

    // Structured: [procedure byte][length byte][body...] repeated, each body
    // behind a valid core-channel call header (procedure 0..31).
    while (rest.size() >= 2) {
        const std::uint32_t procedure = rest[0] & 31u;
        const std::size_t length = std::min<std::size_t>(rest[1], rest.size() - 2);
        rpc::Bytes call;
        rpc::EncodeCallHeader(
            call, {7, rpc::kRpcVersion, rpc::kVxi11CoreProgram, rpc::kVxi11CoreVersion, procedure});
        call.insert(call.end(), rest.begin() + 2, rest.begin() + 2 + static_cast<long>(length));
        Handle(service, connection, call);
        rest = rest.subspan(2 + length);
    }
    return 0;
}
