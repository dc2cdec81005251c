// Fuzzes the I/O log reader as the replay uses it: the input up to its first
// NUL is the log, the rest the side file. Any input gives a script or an
// error, never a crash or an allocation beyond the limits; a line the
// parser accepts formats back to the same record.

#include "sim/replay_script.h"
#include "codec/io_log_format.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t nul = input.find('\0');
    const std::string_view log = input.substr(0, nul);
    const std::string_view side =
        nul == std::string_view::npos ? std::string_view() : input.substr(nul + 1);
    const quarvel::sim::SideFileReader reader = [side](const std::string&, std::uint64_t offset,
                                                       std::uint64_t length, std::string& out,
                                                       std::string& error) {
        if (offset > side.size() || length > side.size() - offset) {
            error = "short";
            return false;
        }
        out.assign(side.substr(offset, length));
        return true;
    };
    quarvel::sim::ReplayScript script;
    std::string error;
    if (!quarvel::sim::BuildReplayScript(log, reader, script, error) && error.empty())
        std::abort();

    // Text payloads come back from their line unchanged.
    namespace iolog = quarvel::visa::iolog;
    iolog::Header header;
    iolog::Record record;
    const std::string_view firstLine = log.substr(0, log.find('\n'));
    if (iolog::ParseLine(firstLine, header, record, error) == iolog::LineKind::Record &&
        record.payload.kind == iolog::Payload::Kind::Text) {
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(record.payload.text.data());
        if (iolog::ShowsAsText(bytes, record.payload.text.size())) {
            std::string line = iolog::FormatLine(record, bytes, record.payload.text.size());
            line.pop_back();
            iolog::Record again;
            if (iolog::ParseLine(line, header, again, error) != iolog::LineKind::Record ||
                again.payload.text != record.payload.text)
                std::abort();
        }
    }
    return 0;
}
