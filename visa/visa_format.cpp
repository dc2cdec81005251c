// The formatted I/O entry points: viPrintf, viScanf, viQueryf and their
// viV… (va_list) and viS… (user string) forms, all through the one engine of
// formatted_io.cpp.

#include "visa/visa.h"

#include "visa/backend.h"

#include "visa/formatted_io.h"
#include "visa/session_table.h"

#include <algorithm>
#include <cstring>
#include <string>

using quarvel::visa::FormatArgs;
using quarvel::visa::Instrument;
using quarvel::visa::Session;
using quarvel::visa::WithInstrument;

namespace {

// Runs formatted I/O on an instrument session with its own copy of the
// caller's argument list, which is ended again whatever the work returns.
template <typename Work> ViStatus WithFormatArgs(ViSession vi, va_list params, Work&& work) {
    return WithInstrument(vi, [&](Instrument& instrument) {
        FormatArgs args;
        va_copy(args.list, params);
        const ViStatus s = work(instrument.session, args);
        va_end(args.list);
        return s;
    });
}

// The "device" of viSPrintf and viSScanf: a string. Writes append to it;
// reads return it as one message with END.
class StringTransport final : public quarvel::visa::ITransport {
public:
    explicit StringTransport(std::string input = {}) : m_input(std::move(input)) {}
    const std::string& Output() const { return m_output; }

    ViStatus Write(const std::uint8_t* data, std::size_t size, bool,
                   const quarvel::visa::SessionSettings&) override {
        m_output.append(reinterpret_cast<const char*>(data), size);
        return VI_SUCCESS;
    }
    ViStatus Read(std::uint8_t* data, std::size_t capacity, quarvel::visa::ReadMode,
                  const quarvel::visa::SessionSettings&,
                  quarvel::visa::ReadResult& result) override {
        // Past the end the string has nothing more: as a device whose reply
        // has ended and that sends nothing else.
        if (m_pos == m_input.size() && m_ended)
            return VI_ERROR_TMO;
        result.count = std::min(capacity, m_input.size() - m_pos);
        std::memcpy(data, m_input.data() + m_pos, result.count);
        m_pos += result.count;
        result.end =
            m_pos == m_input.size() ? quarvel::visa::ReadEnd::End : quarvel::visa::ReadEnd::None;
        m_ended = result.end == quarvel::visa::ReadEnd::End;
        return VI_SUCCESS;
    }
    ViStatus Clear(const quarvel::visa::SessionSettings&) override { return VI_SUCCESS; }
    bool SignalsEnd() const override { return true; }

private:
    std::string m_input;
    std::size_t m_pos = 0;
    bool m_ended = false;
    std::string m_output;
};

} // namespace

namespace quarvel::visa::builtin {

ViStatus viVPrintf(ViSession vi, ViConstString writeFmt, va_list params) {
    return WithFormatArgs(vi, params, [&](Session& session, FormatArgs& args) {
        return quarvel::visa::FormatWrite(session, writeFmt, args);
    });
}

ViStatus viVScanf(ViSession vi, ViConstString readFmt, va_list params) {
    return WithFormatArgs(vi, params, [&](Session& session, FormatArgs& args) {
        return quarvel::visa::FormatRead(session, readFmt, args);
    });
}

ViStatus viVQueryf(ViSession vi, ViConstString writeFmt, ViConstString readFmt, va_list params) {
    return WithFormatArgs(vi, params, [&](Session& session, FormatArgs& args) {
        ViStatus s = quarvel::visa::FormatWrite(session, writeFmt, args);
        // The query goes out before its reply is read.
        if (s == VI_SUCCESS && session.HasPendingWrite())
            s = session.FlushWrite(true);
        if (s == VI_SUCCESS)
            s = quarvel::visa::FormatRead(session, readFmt, args);
        return s;
    });
}

ViStatus viVSPrintf(ViSession vi, ViPBuf buf, ViConstString writeFmt, va_list params) {
    if (buf == nullptr)
        return VI_ERROR_USER_BUF;
    // The session only vouches for the caller; the text goes to buf, which
    // the caller made large enough, as the standard requires.
    return WithInstrument(vi, [&](Instrument& instrument) {
        auto transport = std::make_unique<StringTransport>();
        StringTransport& text = *transport;
        Session session(std::move(transport), instrument.session.Settings());
        FormatArgs args;
        va_copy(args.list, params);
        ViStatus s = quarvel::visa::FormatWrite(session, writeFmt, args);
        va_end(args.list);
        if (s == VI_SUCCESS)
            s = session.FlushWrite(false);
        if (s != VI_SUCCESS)
            return s;
        std::memcpy(buf, text.Output().data(), text.Output().size());
        buf[text.Output().size()] = '\0';
        return VI_SUCCESS;
    });
}

ViStatus viVSScanf(ViSession vi, ViConstBuf buf, ViConstString readFmt, va_list params) {
    if (buf == nullptr)
        return VI_ERROR_USER_BUF;
    return WithInstrument(vi, [&](Instrument& instrument) {
        std::string input(reinterpret_cast<const char*>(buf));
        Session session(std::make_unique<StringTransport>(std::move(input)),
                        instrument.session.Settings());
        session.BeginCall();
        FormatArgs args;
        va_copy(args.list, params);
        const ViStatus s = quarvel::visa::FormatRead(session, readFmt, args);
        va_end(args.list);
        return s;
    });
}

} // namespace quarvel::visa::builtin
