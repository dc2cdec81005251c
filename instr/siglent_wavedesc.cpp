#include "instr/siglent_wavedesc.h"

#include "wavedata/waveform_preamble.h"

#include <bit>
#include <cmath>
#include <cstring>
#include <string_view>

namespace quarvel::wavedata {
namespace {

// Little-endian fields, whatever the byte order of this machine.
std::uint64_t Unsigned(std::span<const std::uint8_t> bytes, std::size_t at, std::size_t size) {
    std::uint64_t value = 0;
    for (std::size_t i = size; i-- > 0;)
        value = value << 8 | bytes[at + i];
    return value;
}

std::int32_t Long(std::span<const std::uint8_t> bytes, std::size_t at) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(Unsigned(bytes, at, 4)));
}

std::int16_t Word(std::span<const std::uint8_t> bytes, std::size_t at) {
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(Unsigned(bytes, at, 2)));
}

double Float(std::span<const std::uint8_t> bytes, std::size_t at) {
    return std::bit_cast<float>(static_cast<std::uint32_t>(Unsigned(bytes, at, 4)));
}

double Double(std::span<const std::uint8_t> bytes, std::size_t at) {
    return std::bit_cast<double>(Unsigned(bytes, at, 8));
}

bool Positive(double value) {
    return std::isfinite(value) && value > 0.0;
}

} // namespace

bool ParseSiglentWaveDesc(std::span<const std::uint8_t> bytes, SiglentWaveDesc& out,
                          std::string& why) {
    if (bytes.size() < SIGLENT_WAVEDESC_SIZE) {
        why = "the waveform descriptor has " + std::to_string(bytes.size()) + " bytes, not " +
              std::to_string(SIGLENT_WAVEDESC_SIZE);
        return false;
    }
    if (std::memcmp(bytes.data(), "WAVEDESC", 8) != 0) {
        why = "the preamble block holds no waveform descriptor (no WAVEDESC name)";
        return false;
    }
    const std::int32_t length = Long(bytes, 36);
    if (length != static_cast<std::int32_t>(SIGLENT_WAVEDESC_SIZE)) {
        why = "the waveform descriptor gives its length as " + std::to_string(length) + ", not " +
              std::to_string(SIGLENT_WAVEDESC_SIZE);
        return false;
    }
    const std::int16_t type = Word(bytes, 32);
    const std::int16_t order = Word(bytes, 34);
    if ((type != 0 && type != 1) || (order != 0 && order != 1)) {
        why = "the waveform descriptor names sample type " + std::to_string(type) +
              " and byte order " + std::to_string(order) + " (0 or 1 each)";
        return false;
    }
    const std::int32_t points = Long(bytes, 116);
    if (points < 1 || static_cast<std::uint32_t>(points) > MAX_WAVEFORM_POINTS) {
        why = "the waveform descriptor announces " + std::to_string(points) +
              " points, outside 1 to " + std::to_string(MAX_WAVEFORM_POINTS);
        return false;
    }
    const std::int16_t adcBits = Word(bytes, 172);
    if (adcBits < 8 || adcBits > 16) {
        why = "the waveform descriptor gives " + std::to_string(adcBits) + " ADC bits";
        return false;
    }
    const double probe = Float(bytes, 328);
    const double voltsPerDivision = Float(bytes, 156);
    const double offset = Float(bytes, 160);
    const double codesPerDivision = Float(bytes, 164);
    const double interval = Float(bytes, 176);
    const double delay = Double(bytes, 180);
    if (!Positive(probe) || !Positive(voltsPerDivision) || !Positive(codesPerDivision) ||
        !Positive(interval) || !std::isfinite(offset) || !std::isfinite(delay)) {
        why = "the waveform descriptor gives no usable scale, offset, codes per division, "
              "sample interval, delay or probe factor";
        return false;
    }
    out.wordSamples = type == 1;
    out.msbFirst = order == 1;
    out.points = static_cast<std::uint32_t>(points);
    out.voltsPerDivision = voltsPerDivision * probe;
    out.offset = offset * probe;
    out.codesPerDivision = codesPerDivision;
    out.adcBits = adcBits;
    out.interval = interval;
    out.delay = delay;
    return true;
}

} // namespace quarvel::wavedata
