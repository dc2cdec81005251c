#include "sim/portmap_service.h"

#include "sim/rpc_server.h"

namespace quarvel::sim {

namespace rpc = visa::rpc;

namespace {
constexpr std::uint32_t kProcNull = 0;
constexpr std::uint32_t kProcDump = 4;
} // namespace

rpc::Bytes HandlePortmapCall(rpc::ByteView call, std::uint32_t vxi11Port) {
    rpc::XdrReader in(call);
    rpc::CallHeader header;
    rpc::Bytes out;
    if (!rpc::DecodeCallHeader(in, header))
        return out;
    if (!AdmitCall(header, rpc::kPortmapProgram, rpc::kPortmapVersion, out))
        return out;
    const rpc::PortmapMapping core{rpc::kVxi11CoreProgram, rpc::kVxi11CoreVersion, rpc::kIpProtoTcp,
                                   vxi11Port};
    switch (header.procedure) {
    case kProcNull:
        EncodeAcceptedReply(out, header.xid, rpc::ACCEPT_SUCCESS);
        return out;
    case rpc::kPortmapProcGetPort: {
        rpc::PortmapMapping asked;
        if (!rpc::Decode(in, asked) || !in.Done()) {
            EncodeAcceptedReply(out, header.xid, rpc::GARBAGE_ARGS);
            return out;
        }
        const bool known = asked.program == core.program && asked.version == core.version &&
                           asked.protocol == core.protocol;
        EncodeAcceptedReply(out, header.xid, rpc::ACCEPT_SUCCESS);
        rpc::EncodeGetPortResult(out, known ? vxi11Port : 0);
        return out;
    }
    case kProcDump: {
        EncodeAcceptedReply(out, header.xid, rpc::ACCEPT_SUCCESS);
        rpc::XdrWriter w(out);
        w.PutBool(true);
        rpc::Encode(out, core);
        w.PutBool(false);
        return out;
    }
    default:
        EncodeAcceptedReply(out, header.xid, rpc::PROC_UNAVAIL);
        return out;
    }
}

} // namespace quarvel::sim
