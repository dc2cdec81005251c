#pragma once

// The simulated instrument: a command table, the IEEE 488.2 error queue and
// the common commands every family answers (*IDN?, *OPC?, *OPC, *WAI, *CLS,
// *RST, *ESR?, *STB?, :SYSTem:ERRor?). Families derive from it, keep their
// state in a struct of their own header and add their commands to
// Commands() in their constructor (or from any other source file).
//
// Execute is thread-safe: connections served on several threads share one
// instrument, and every program message runs under the instrument's lock.

#include "sim/command_table.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>

namespace quarvel::sim {

// The response message to one program message, as the instrument sends it
// (unit replies joined with ';', terminated by LF unless the last reply is
// raw bytes or a block without LF).
struct ResponseMessage {
    std::string bytes;
    // Where the first block reply sits in bytes (fault injection needs it).
    bool hasBlock = false;
    std::size_t blockHeaderOffset = 0;
    std::size_t blockDataOffset = 0;
    std::size_t blockDataLength = 0;
    // True when the message held a query whose header matched the fault filter.
    bool faultTarget = false;
    // The last reply was raw bytes, sent without a terminator (over VXI-11
    // the END flag closes the message; a raw socket needs a line feed).
    bool unterminated = false;
    // Time the instrument takes before the reply starts (the longest of
    // its replies' Reply::delayMs).
    int delayMs = 0;

    bool Empty() const { return bytes.empty(); }
};

class SimInstrument {
public:
    explicit SimInstrument(std::string idn);
    virtual ~SimInstrument() = default;
    SimInstrument(const SimInstrument&) = delete;
    SimInstrument& operator=(const SimInstrument&) = delete;

    // Runs one program message (without its terminator).
    ResponseMessage Execute(std::string_view programMessage);

    CommandTable& Commands() { return m_commands; }
    const std::string& Idn() const { return m_idn; }

    // Every image reply is also written to dir/image-NNNN.<ext> (empty: off).
    void SetImageDumpDirectory(std::string dir);
    // Only replies to queries whose header matches this pattern count as fault
    // targets (ResponseMessage::faultTarget); empty: every reply.
    void SetFaultFilter(std::string_view pattern);

    // Error queue, oldest first; at most kMaxErrors entries, overflow gives -350.
    // (Handlers report errors through CommandResult instead.)
    static constexpr std::size_t kMaxErrors = 30;
    void QueueError(int code, std::string_view text);
    std::size_t PendingErrors();
    // The IEEE 488.2 status byte every link reports (VXI-11 device_readstb,
    // HiSLIP AsyncStatusQuery, USB488 READ_STATUS_BYTE, *STB?): bit 2 while
    // the error queue holds something, bit 4 (MAV) while the link has a
    // reply waiting to be read.
    std::uint8_t StatusByte(bool messageAvailable);

protected:
    // *RST: families reset their own state (called under the lock).
    virtual void ResetFamilyState() {}
    // The header a text reply to the query `forms` names starts with, as the
    // instrument's header setting makes it echo ("TRMD", ":ACQUIRE:STATE");
    // empty (the default) for none. Called under the lock.
    virtual std::string ReplyHeader(const HeaderForms& /*forms*/) const { return {}; }

private:
    struct Error {
        int code;
        std::string text;
    };
    void AddCommonCommands();
    void QueueErrorUnlocked(int code, std::string_view text);
    std::uint8_t StatusByteUnlocked(bool messageAvailable) const;
    void DumpImage(const Reply& reply);
    static void AppendReply(ResponseMessage& response, const Reply& reply);

    std::string m_idn;
    CommandTable m_commands;
    CommandTable m_faultFilter;
    bool m_filterFaults = false;
    std::deque<Error> m_errors;
    bool m_commandErrorSinceEsr = false;
    std::string m_dumpDirectory;
    int m_dumpCount = 0;
    std::mutex m_mutex;
};

// Header of a definite-length block with the given number of length digits
// (0 or too few digits: as few as needed).
std::string BlockHeader(std::size_t dataLength, int digits);

} // namespace quarvel::sim
