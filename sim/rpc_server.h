#pragma once

// The server half of ONC RPC over TCP (RFC 5531): admitting calls, encoding
// replies and reassembling the records of a byte stream. The wire formats
// both sides share (XDR, the call and reply headers, fragment headers, the
// VXI-11 and portmapper messages) are codec/oncrpc.h; the client never needs
// what is here.

#include "codec/oncrpc.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace quarvel::sim {

// Accepted reply (verifier AUTH_NONE); for ACCEPT_SUCCESS the results follow.
void EncodeAcceptedReply(visa::rpc::Bytes& out, std::uint32_t xid, visa::rpc::AcceptStat stat,
                         std::uint32_t low = 0, std::uint32_t high = 0);
// Denied reply: RPC_MISMATCH with the version range, or AUTH_ERROR with
// auth_stat in low.
void EncodeDeniedReply(visa::rpc::Bytes& out, std::uint32_t xid, visa::rpc::RejectStat stat,
                       std::uint32_t low = 0, std::uint32_t high = 0);
// True when the call asks for `program` at `version` in the RPC version
// spoken here. Otherwise `out` receives the reply that refuses it
// (RPC_MISMATCH, PROG_UNAVAIL or PROG_MISMATCH) and the result is false.
bool AdmitCall(const visa::rpc::CallHeader& call, std::uint32_t program, std::uint32_t version,
               visa::rpc::Bytes& out);

// Frames a whole record as fragments of at most maxFragment bytes (the last
// one flagged), appending to out.
void AppendRecord(visa::rpc::Bytes& out, visa::rpc::ByteView record,
                  std::uint32_t maxFragment = visa::rpc::kMaxFragmentLength);

// Reassembles records from a byte stream fed in arbitrary pieces. A record
// (the sum of its fragments) longer than maxRecord is an error, so a peer
// cannot make us allocate without bound.
class RecordAssembler {
public:
    enum class State { NeedMore, RecordReady, TooLarge };
    explicit RecordAssembler(std::size_t maxRecord) : m_maxRecord(maxRecord) {}
    // Consumes bytes up to the end of the next complete record (or all of
    // them); *consumed tells how many. Call again with the rest after taking
    // the record.
    State Feed(visa::rpc::ByteView data, std::size_t* consumed);
    // The complete record; resets the assembler for the next one.
    visa::rpc::Bytes TakeRecord();
    State state() const { return m_state; }

private:
    std::size_t m_maxRecord;
    visa::rpc::Bytes m_record;
    std::array<std::uint8_t, 4> m_header{};
    std::size_t m_headerFill = 0;
    std::uint32_t m_fragmentLeft = 0;
    bool m_inFragment = false;
    bool m_lastFragment = false;
    State m_state = State::NeedMore;
};

} // namespace quarvel::sim
