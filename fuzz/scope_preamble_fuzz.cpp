// Fuzzes the scope preamble parsers the drivers read instrument text with:
// the ten-field preamble (Rigol, Infiniium), the Tektronix one read by field
// name and the Rohde & Schwarz data header. Whatever they accept must be usable: a point count
// within the bound that sizes the buffers, finite scale factors.

#include "instr/retrieval_preamble.h"
#include "instr/rs_data_header.h"
#include "instr/tek_preamble.h"
#include "wavedata/waveform_preamble.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::string why;
    quarvel::wavedata::TenFieldPreamble ten;
    if (quarvel::wavedata::ParseTenFieldPreamble(text, ten, why)) {
        if (ten.points < 1 || ten.points > MAX_WAVEFORM_POINTS || !(ten.xIncrement > 0) ||
            !std::isfinite(ten.xIncrement) || !std::isfinite(ten.yIncrement))
            std::abort();
    } else if (why.empty()) {
        std::abort(); // a refusal always says why
    }
    why.clear();
    quarvel::wavedata::TekPreamble tek;
    if (quarvel::wavedata::ParseTekPreamble(text, tek, why)) {
        if (tek.points < 1 || tek.points > MAX_WAVEFORM_POINTS ||
            (tek.byteWidth != 1 && tek.byteWidth != 2) || !std::isfinite(tek.yMultiplier))
            std::abort();
    } else if (why.empty()) {
        std::abort();
    }
    why.clear();
    quarvel::wavedata::RsDataHeader rs;
    if (quarvel::wavedata::ParseRsDataHeader(text, rs, why)) {
        if (rs.length > MAX_WAVEFORM_POINTS ||
            (rs.valuesPerSample != 1 && rs.valuesPerSample != 2) || !std::isfinite(rs.xStart) ||
            !std::isfinite(rs.xStop))
            std::abort();
    } else if (why.empty()) {
        std::abort();
    }
    return 0;
}
