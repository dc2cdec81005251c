// Fuzzes the scope preamble parsers the drivers read instrument replies
// with: the ten-field preamble (Rigol, Infiniium), the Tektronix one read
// by field name, the Siglent HD binary descriptor (WAVEDESC) and the Rohde &
// Schwarz data header. Whatever
// they accept must be usable: a point count within the bound that sizes
// the buffers, finite scale factors.

#include "instr/retrieval_preamble.h"
#include "instr/rigol_waveform.h"
#include "instr/rs_data_header.h"
#include "instr/siglent_wavedesc.h"
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
    if (quarvel::wavedata::ParseTenFieldPreamble(text, ten, why, quarvel::instr::kRigolMaxPoints)) {
        if (ten.points < 1 || ten.points > quarvel::instr::kRigolMaxPoints)
            std::abort();
    } else if (why.empty()) {
        std::abort();
    }
    why.clear();
    quarvel::wavedata::TekPreamble tek;
    if (quarvel::wavedata::ParseTekPreamble(text, tek, why)) {
        // Integers of one or two bytes, or 4-byte floats: what the curve
        // decoder takes.
        const bool widthFits =
            tek.floatCodes ? tek.byteWidth == 4 : (tek.byteWidth == 1 || tek.byteWidth == 2);
        if (tek.points < 1 || tek.points > MAX_WAVEFORM_POINTS || !widthFits ||
            !std::isfinite(tek.yMultiplier))
            std::abort();
    } else if (why.empty()) {
        std::abort();
    }
    why.clear();
    quarvel::wavedata::SiglentWaveDesc desc;
    if (quarvel::wavedata::ParseSiglentWaveDesc({data, size}, desc, why)) {
        if (desc.points < 1 || desc.points > MAX_WAVEFORM_POINTS || !(desc.codesPerDivision > 0) ||
            !std::isfinite(desc.voltsPerDivision) || !std::isfinite(desc.offset) ||
            !(desc.interval > 0) || !std::isfinite(desc.delay))
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
