#pragma once

// Memory for a large waveform record, and filling it in one pass. Building a
// record of millions of points is mostly the kernel's work of handing out
// fresh memory (a page fault per 4 KiB: 8 000 for the 32 MB of a
// 2 000 000-point record) and the writes to it, rather than the conversion:
// asked for in huge pages the same record costs a few dozen faults, and
// values appended straight from their source are written once, not zeroed
// first and written again.

#include "wavedata/waveform_record.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <span>
#include <thread>
#include <utility>
#include <vector>

namespace quarvel::wavedata {

// Empties `record` and reserves room for `points` x and y values, marked for
// transparent huge pages before their first touch. Where the kernel offers
// none (THP "never", memory too fragmented) it gets ordinary pages, as
// without the mark. Fill it with AppendComputed.
void ReserveRecordMemory(WaveformRecord& record, std::uint32_t points);

// The same, and the kernel's zeroed pages for it are faulted in on a thread
// of its own while the caller waits for the data (the fault work is about
// as large as the conversion's writes), so the transfer need not wait for
// them. The thread is joined when this object ends, which must be before
// the record's vectors are freed or grown.
class PrefaultedRecordMemory {
public:
    PrefaultedRecordMemory(WaveformRecord& record, std::uint32_t points);
    ~PrefaultedRecordMemory();
    PrefaultedRecordMemory(const PrefaultedRecordMemory&) = delete;
    PrefaultedRecordMemory& operator=(const PrefaultedRecordMemory&) = delete;

private:
    std::thread m_faulting;
};

// Appends value(0) ... value(count - 1) to `values`, each written once (no
// zeros first); within the reserved room nothing is reallocated.
template <typename Value>
void AppendComputed(std::vector<double>& values, std::size_t count, const Value& value);

// Converts a data block's samples into points of `record` (reserved with
// ReserveRecordMemory) while the block comes, so the conversion overlaps
// the transfer and each piece is written while its bytes are still in the
// cache. Given to a BlockQuery as its `received` callback (by reference),
// it appends the samples received since its last call once at least
// kPieceSamples of them are whole (a read on a raw socket may bring a few
// bytes only); Finish appends the rest. `time` maps a point's position in
// the record to its x value, `volts` the first byte of a sample to its y
// value. `first` is the position of the block's first sample.
template <typename Time, typename Volts> class ArrivingPoints {
public:
    static constexpr std::size_t kPieceSamples = 65536;

    ArrivingPoints(WaveformRecord& record, std::size_t first, std::size_t samples,
                   std::size_t sampleBytes, Time time, Volts volts)
        : m_record(record), m_first(first), m_samples(samples), m_sampleBytes(sampleBytes),
          m_time(std::move(time)), m_volts(std::move(volts)) {}

    void operator()(std::span<const std::uint8_t> received) { Take(received, false); }
    // The whole block: appends what is not converted yet.
    void Finish(std::span<const std::uint8_t> block) { Take(block, true); }

private:
    void Take(std::span<const std::uint8_t> received, bool rest) {
        const std::size_t ready = std::min(received.size() / m_sampleBytes, m_samples);
        if (ready <= m_done || (!rest && ready - m_done < kPieceSamples))
            return;
        const std::size_t count = ready - m_done;
        const std::size_t position = m_first + m_done;
        AppendComputed(m_record.x, count,
                       [position, this](std::size_t k) { return m_time(position + k); });
        const std::uint8_t* from = received.data() + m_done * m_sampleBytes;
        const std::size_t step = m_sampleBytes;
        AppendComputed(m_record.y, count,
                       [from, step, this](std::size_t k) { return m_volts(from + k * step); });
        m_done = ready;
    }

    WaveformRecord& m_record;
    std::size_t m_first;
    std::size_t m_samples;
    std::size_t m_sampleBytes;
    Time m_time;
    Volts m_volts;
    std::size_t m_done = 0;
};

namespace detail {

// The positions 0, 1, ... as the values `Value` gives for them: what
// vector::insert needs to construct the values in place.
template <typename Value> class ComputedValues {
public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = double;
    using difference_type = std::ptrdiff_t;
    using pointer = const double*;
    using reference = double;

    ComputedValues() = default;
    ComputedValues(const Value* value, std::size_t position)
        : m_value(value), m_position(position) {}
    double operator*() const { return (*m_value)(m_position); }
    ComputedValues& operator++() {
        ++m_position;
        return *this;
    }
    ComputedValues operator++(int) {
        ComputedValues before = *this;
        ++m_position;
        return before;
    }
    bool operator==(const ComputedValues& other) const { return m_position == other.m_position; }

private:
    const Value* m_value = nullptr;
    std::size_t m_position = 0;
};

} // namespace detail

template <typename Value>
void AppendComputed(std::vector<double>& values, std::size_t count, const Value& value) {
    values.insert(values.end(), detail::ComputedValues<Value>(&value, 0),
                  detail::ComputedValues<Value>(&value, count));
}

} // namespace quarvel::wavedata
