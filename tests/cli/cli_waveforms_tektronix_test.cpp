// quarvel-cli capture --waveforms against the Tektronix personas that are
// definitions (tek-mso, tek-mdo, tek-tbs), over a LAN socket and over USB
// (USB/IP). The CSV values must equal what this test computes itself from
// the codes the simulator serves, decoded as the preamble describes them and
// scaled with the programmer manuals' formula
//   V = (code - YOFF) * YMULT + YZERO,  t = XZERO + (i - PT_OFF) * XINCR
// through a VISA session of the test's own, never through Quarvel's parser.

#include "tests/cli/waveform_cli_fixture.h"

#include <bit>
#include <cmath>
#include <cstdint>
#include <map>
#include <sstream>

namespace quarvel::test {
namespace {

// How a family is read: the programmer manual's transfer settings.
struct Transfer {
    const char* preambleQuery; // WFMOutpre? or WFMPre?
    const char* encoding;      // SRIbinary (least significant byte first) or RIBinary
    int width;
    bool recordLengthQuery; // DATa:STOP from HORizontal:RECOrdlength?, else 2500
};
constexpr Transfer kMso{"WFMOutpre?", "SRIbinary", 2, true};
constexpr Transfer kMdo{"WFMOutpre?", "SRIbinary", 1, true};
constexpr Transfer kTbs{"WFMPre?", "RIBinary", 1, false};

// The preamble's fields by their long names (HEADer 1, VERBose 1).
std::map<std::string, std::string> PreambleFields(const std::string& text) {
    std::map<std::string, std::string> fields;
    std::stringstream in(text);
    std::string element;
    while (std::getline(in, element, ';')) {
        const std::size_t space = element.find(' ');
        std::string name = element.substr(0, space);
        name.erase(0, name.rfind(':') + 1); // ":WFMOUTPRE:BYT_NR" -> "BYT_NR"
        fields[name] = element.substr(space + 1);
    }
    return fields;
}

// Sample i of the curve: integers of BYT_NR bytes, signed (RI) or not (RP),
// or 4-byte floats (FP), in the BYT_OR order.
double Sample(const std::string& codes, std::size_t i, std::map<std::string, std::string>& f) {
    const std::size_t width = std::stoul(f.at("BYT_NR"));
    std::uint32_t word = 0;
    for (std::size_t k = 0; k < width; ++k) {
        const std::size_t at = i * width + (f.at("BYT_OR") == "LSB" ? width - 1 - k : k);
        word = word << 8 | static_cast<unsigned char>(codes[at]);
    }
    if (f.at("BN_FMT") == "FP")
        return std::bit_cast<float>(word);
    const bool negative = f.at("BN_FMT") == "RI" && (word >> (8 * width - 1)) != 0;
    return negative ? static_cast<double>(word) - std::ldexp(1.0, 8 * static_cast<int>(width))
                    : static_cast<double>(word);
}

Expected Reference(const ScopePanel& scope, const Transfer& transfer,
                   const std::vector<std::string>& sources) {
    Expected e;
    scope.Send("HEADer 1");
    scope.Send("VERBose 1");
    for (const std::string& source : sources) {
        scope.Send("DATa:SOUrce " + source);
        scope.Send(std::string("DATa:ENCdg ") + transfer.encoding);
        scope.Send("DATa:WIDth " + std::to_string(transfer.width));
        scope.Send("DATa:STARt 1");
        // ":HORIZONTAL:RECORDLENGTH 20000": the number after the header.
        const std::string length =
            transfer.recordLengthQuery ? scope.Query("HORizontal:RECOrdlength?") : "2500";
        const std::string record = length.substr(length.rfind(' ') + 1);
        scope.Send("DATa:STOP " + record);
        auto f = PreambleFields(scope.Query(transfer.preambleQuery));
        const std::string codes = scope.Block("CURVe?");
        const std::size_t points = codes.size() / std::stoul(f.at("BYT_NR"));
        std::vector<double> y;
        e.x.clear();
        for (std::size_t i = 0; i < points; ++i) {
            y.push_back((Sample(codes, i, f) - std::stod(f.at("YOFF"))) * std::stod(f.at("YMULT")) +
                        std::stod(f.at("YZERO")));
            e.x.push_back(std::stod(f.at("XZERO")) +
                          (static_cast<double>(i) - std::stod(f.at("PT_OFF"))) *
                              std::stod(f.at("XINCR")));
        }
        e.y.push_back(y);
    }
    return e;
}

struct Family {
    const char* name;
    std::vector<std::string> simArgs;
    std::vector<std::string> atInstrument; // sent before the capture
    std::vector<std::string> sources;
    Transfer transfer;
};

const Family kFamilies[] = {
    // An eight-channel model: CH8 is offered; MATH1 comes as floats.
    {"Mso58",
     {"--instrument", "tek-mso", "--idn", "TEKTRONIX,MSO58,B010001,CF:91.1CT FV:1.44.3.433",
      "--waveform-points", "20000"},
     {"DISplay:GLObal:MATH1:STATE 1"},
     {"CH2", "CH8", "MATH1"},
     kMso},
    // No WFID (the fields move), junk after the curve, short headers found.
    {"MsoHabits",
     {"--instrument", "tek-mso", "--habit", "wfid=off", "--habit", "curve-junk=on"},
     {"HEADer 1", "VERBose 0", "DISplay:GLObal:REF1:STATE 1"},
     {"CH5", "REF1"},
     kMso},
    {"Mdo",
     {"--instrument", "tek-mdo"},
     {"SELect:MATH 1", "SELect:REF1 1"},
     {"CH1", "CH4", "MATH", "REF1"},
     kMdo},
    {"MdoHabits",
     {"--instrument", "tek-mdo", "--habit", "wfid=off", "--habit", "curve-junk=on",
      "--waveform-points", "5000"},
     {},
     {"CH3"},
     kMdo},
    {"Tbs",
     {"--instrument", "tek-tbs", "--habit", "hardcopy-delay-ms=0"},
     {},
     {"CH1", "CH2"},
     kTbs},
    {"TbsHabits",
     {"--instrument", "tek-tbs", "--idn", "TEKTRONIX,TDS 2024C,C010001,CF:91.1CT FV:v24.26",
      "--habit", "wfid=off", "--habit", "curve-junk=on", "--habit", "hardcopy-delay-ms=0"},
     {},
     {"CH3", "CH4"},
     kTbs},
};

class TektronixWaveforms : public ::testing::TestWithParam<std::tuple<Family, bool>> {};

TEST_P(TektronixWaveforms, CsvHoldsTheManualsScalingOfTheServedCodes) {
    const auto& [family, usb] = GetParam();
    SimProcess sim(family.simArgs);
    ASSERT_TRUE(sim.Started());
    ScopePanel(sim.SocketResource()).SendAndWait(family.atInstrument);
    ExpectCsvMatchesReference(sim, usb, family.sources, [&](const ScopePanel& scope) {
        return Reference(scope, family.transfer, family.sources);
    });
}

INSTANTIATE_TEST_SUITE_P(Families, TektronixWaveforms,
                         ::testing::Combine(::testing::ValuesIn(kFamilies), ::testing::Bool()),
                         CaseOverLink<Family>);

} // namespace
} // namespace quarvel::test
