#include "tests/cli/waveform_references.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <sstream>

namespace quarvel::test {

Reference RigolReference(RigolRead read) {
    return [read](const ScopePanel& scope, const std::vector<std::string>& channels) {
        Expected e;
        scope.SendAndWait({":STOP"});
        const std::string format = read.word ? ":WAV:FORM WORD" : ":WAV:FORM BYTE";
        for (const std::string& channel : channels) {
            scope.Send(":WAV:SOUR " + channel);
            scope.Send(":WAV:MODE RAW");
            scope.Send(format);
            const std::vector<double> p = NumberFields(scope.Query(":WAV:PRE?"));
            const long points = std::lround(
                read.word ? std::strtod(scope.Query(":ACQ:MDEP?").c_str(), nullptr) : p.at(2));
            const long page = read.page > 0 ? read.page : points;
            std::vector<long> codes;
            for (long first = 1; first <= points; first += page) {
                scope.Send(":WAV:STAR " + std::to_string(first));
                scope.Send(":WAV:STOP " + std::to_string(std::min(points, first + page - 1)));
                scope.Send(":WAV:MODE RAW"); // the MSO5000 resets them after each read
                scope.Send(format);
                const std::string data = scope.Block(":WAV:DATA?");
                for (std::size_t i = 0; i + (read.word ? 1 : 0) < data.size();
                     i += read.word ? 2 : 1) {
                    long code = static_cast<unsigned char>(data[i]);
                    if (read.word)
                        code |= static_cast<long>(static_cast<unsigned char>(data[i + 1])) << 8;
                    codes.push_back(code);
                }
            }
            std::vector<double> y;
            e.x.clear();
            for (std::size_t i = 0; i < codes.size(); ++i) {
                y.push_back((codes[i] - p.at(8) - p.at(9)) * p.at(7));
                e.x.push_back((static_cast<double>(i) - p.at(6)) * p.at(4) + p.at(5));
            }
            e.y.push_back(y);
        }
        scope.Send(":RUN");
        return e;
    };
}

Reference SiglentReference() {
    return [](const ScopePanel& scope, const std::vector<std::string>& channels) {
        Expected e;
        scope.Send("CHDR OFF");
        for (const std::string& channel : channels) {
            const double vdiv = scope.Number(channel + ":VDIV?");
            const double offset = scope.Number(channel + ":OFST?");
            const double timebase = scope.Number("TDIV?");
            const double rate = scope.Number("SARA?");
            const double delay = scope.Number("TRDL?");
            const std::string codes = scope.Block(channel + ":WF? DAT2");
            std::vector<double> y;
            e.x.clear();
            for (std::size_t i = 0; i < codes.size(); ++i) {
                const int code = static_cast<unsigned char>(codes[i]);
                y.push_back((code > 127 ? code - 256 : code) * vdiv / 25 - offset);
                e.x.push_back(delay - timebase * 14 / 2 + static_cast<double>(i) / rate);
            }
            e.y.push_back(y);
        }
        return e;
    };
}

namespace {

// The data of the "#9" block that answers `query`, read with its two line
// feeds. `points`: a WORD block whose header names this many holds twice as
// many bytes; `announced` gets the header's count.
std::string SiglentHdBlock(const ScopePanel& scope, const std::string& query, std::size_t points,
                           std::size_t& announced) {
    scope.Send(query);
    const std::string header = scope.Read(11);
    if (header.size() != 11 || header.compare(0, 2, "#9") != 0)
        return {};
    announced = std::stoul(header.substr(2));
    std::string data = scope.Read(announced == points ? 2 * points : announced);
    return scope.Read(2) == "\n\n" ? data : std::string();
}

template <typename T> T At(const std::string& d, std::size_t offset) {
    T value{};
    std::memcpy(&value, d.data() + offset, sizeof value);
    return value;
}

} // namespace

Reference SiglentHdReference(SiglentHdRead read) {
    return [read](const ScopePanel& scope, const std::vector<std::string>& channels) {
        Expected e;
        e.floor = 1e-12; // the descriptor's scale is in floats
        for (const std::string& channel : channels) {
            scope.Send(":WAV:SOUR " + channel);
            scope.Send(read.word ? ":WAV:WIDT WORD" : ":WAV:WIDT BYTE");
            scope.Send(":WAV:STAR 0");
            scope.Send(":WAV:POIN 0");
            std::size_t announced = 0;
            const std::string d = SiglentHdBlock(scope, ":WAV:PRE?", 0, announced);
            EXPECT_EQ(d.size(), 346u);
            if (d.size() < 346)
                return e;
            const auto points = static_cast<std::size_t>(At<std::int32_t>(d, 0x74));
            const double probe = At<float>(d, 0x148);
            const double vdiv = At<float>(d, 0x9c) * probe;
            const double offset = At<float>(d, 0xa0) * probe;
            double code = At<float>(d, 0xa4);
            const int adcBits = At<std::int16_t>(d, 0xac);
            const double interval = At<float>(d, 0xb0);
            const double delay = At<double>(d, 0xb4);
            const double tdiv = scope.Number(":TIM:SCAL?");
            const auto page = static_cast<std::size_t>(scope.Number(":WAV:MAXP?"));
            if (adcBits > 8)
                code /= 16;
            std::string bytes;
            for (std::size_t first = 0; first < points; first += page) {
                const std::size_t count = std::min(page, points - first);
                scope.Send(":WAV:STAR " + std::to_string(first));
                scope.Send(":WAV:POIN " + std::to_string(count));
                bytes += SiglentHdBlock(scope, ":WAV:DATA?", read.word ? count : 0, announced);
                EXPECT_EQ(announced, read.word && !read.headerCountsPoints ? 2 * count : count);
            }
            std::vector<double> y;
            e.x.clear();
            for (std::size_t i = 0; i < (read.word ? bytes.size() / 2 : bytes.size()); ++i) {
                long data = 0;
                if (read.word) {
                    const long word16 = static_cast<unsigned char>(bytes[2 * i + 1]) * 256 +
                                        static_cast<unsigned char>(bytes[2 * i]);
                    data = word16 >> (16 - adcBits);
                    if (data > (1L << (adcBits - 1)) - 1)
                        data -= 1L << adcBits;
                } else {
                    data = static_cast<unsigned char>(bytes[i]);
                    if (data > 127)
                        data -= 256;
                }
                y.push_back(static_cast<double>(data) / code * vdiv - offset);
                e.x.push_back(-(tdiv * 10 / 2) + static_cast<double>(i) * interval - delay);
            }
            e.y.push_back(y);
        }
        return e;
    };
}

namespace {

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

} // namespace

Reference TektronixReference(TekTransfer transfer) {
    return [transfer](const ScopePanel& scope, const std::vector<std::string>& sources) {
        Expected e;
        scope.Send("HEADer 1");
        scope.Send("VERBose 1"); // the TDS has no such command, and long names only
        for (const std::string& source : sources) {
            scope.Send("DATa:SOUrce " + source);
            scope.Send(std::string("DATa:ENCdg ") + transfer.encoding);
            scope.Send("DATa:WIDth " + std::to_string(transfer.width));
            scope.Send("DATa:STARt 1");
            // ":HORIZONTAL:RECORDLENGTH 20000": the number after the header.
            const std::string length =
                transfer.stop ? transfer.stop : scope.Query("HORizontal:RECOrdlength?");
            scope.Send("DATa:STOP " + length.substr(length.rfind(' ') + 1));
            auto f = PreambleFields(scope.Query(transfer.preambleQuery));
            const std::string codes = scope.Block("CURVe?");
            const std::size_t points = codes.size() / std::stoul(f.at("BYT_NR"));
            std::vector<double> y;
            e.x.clear();
            for (std::size_t i = 0; i < points; ++i) {
                y.push_back((Sample(codes, i, f) - std::stod(f.at("YOFF"))) *
                                std::stod(f.at("YMULT")) +
                            std::stod(f.at("YZERO")));
                e.x.push_back(std::stod(f.at("XZERO")) +
                              (static_cast<double>(i) - std::stod(f.at("PT_OFF"))) *
                                  std::stod(f.at("XINCR")));
            }
            e.y.push_back(y);
        }
        return e;
    };
}

Reference InfiniiumReference() {
    return [](const ScopePanel& scope, const std::vector<std::string>& channels) {
        Expected e;
        for (const std::string& channel : channels) {
            scope.Send(":WAV:SOUR " + channel);
            scope.Send(":WAV:FORM WORD");
            scope.Send(":WAV:BYT LSBF");
            const std::vector<double> p = NumberFields(scope.Query(":WAV:PRE?"));
            const std::string codes = scope.Block(":WAV:DATA?");
            std::vector<double> y;
            e.x.clear();
            for (std::size_t i = 0; i + 1 < codes.size(); i += 2) {
                const auto low = static_cast<unsigned char>(codes[i]);
                const auto high = static_cast<unsigned char>(codes[i + 1]);
                const int code = static_cast<std::int16_t>(high << 8 | low);
                y.push_back((code - p.at(9)) * p.at(7) + p.at(8));
                e.x.push_back((static_cast<double>(i / 2) - p.at(6)) * p.at(4) + p.at(5));
            }
            e.y.push_back(y);
        }
        return e;
    };
}

Reference RsReference(RsRead read) {
    return [read](const ScopePanel& scope, const std::vector<std::string>& channels) {
        Expected e;
        scope.Send("STOP");
        scope.Send("FORMat:DATA REAL,32");
        const bool lsbFirst = scope.Query("FORMat:BORDer?") == "LSBF";
        for (const std::string& channel : channels) {
            if (!read.mxo)
                scope.Send(channel + ":DATA:POINts MAX");
            std::stringstream header(scope.Query(channel + ":DATA:HEADer?"));
            double field[4] = {};
            char comma = 0;
            header >> field[0] >> comma >> field[1] >> comma >> field[2] >> comma >> field[3];
            const std::string data = scope.Block(channel + ":DATA?");
            const std::size_t length = static_cast<std::size_t>(field[2]);
            EXPECT_EQ(data.size(), 4 * length) << channel;
            e.x.clear();
            std::vector<double> y;
            for (std::size_t i = 0; i < length && 4 * i + 3 < data.size(); ++i) {
                std::uint32_t bits = 0;
                for (int b = 0; b < 4; ++b)
                    bits |= std::uint32_t{static_cast<unsigned char>(data[4 * i + b])}
                            << (8 * (lsbFirst ? b : 3 - b));
                y.push_back(std::bit_cast<float>(bits));
                e.x.push_back(field[0] + static_cast<double>(i) * (field[1] - field[0]) /
                                             (static_cast<double>(length) - 1));
            }
            e.y.push_back(y);
        }
        scope.Send("FORMat:DATA ASC,0");
        scope.Send("RUN");
        return e;
    };
}

} // namespace quarvel::test
