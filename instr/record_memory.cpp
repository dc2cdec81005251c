#include "instr/record_memory.h"

#include <sys/mman.h>
#include <system_error>

namespace quarvel::wavedata {
namespace {

// The whole huge pages inside the vector's allocation are marked; the
// kernel backs them with 2 MiB pages at their first touch (in THP's
// "madvise" mode, Debian's default, only marked memory gets them).
void MarkForHugePages(const std::vector<double>& values) {
    constexpr std::uintptr_t kHugePage = std::uintptr_t{2} << 20;
    const auto begin = reinterpret_cast<std::uintptr_t>(values.data());
    const std::uintptr_t end = begin + values.capacity() * sizeof(double);
    const std::uintptr_t from = (begin + kHugePage - 1) & ~(kHugePage - 1);
    const std::uintptr_t to = end & ~(kHugePage - 1);
    // A refusal (no THP in this kernel) leaves ordinary pages: nothing to do.
    if (to > from)
        madvise(reinterpret_cast<void*>(from), to - from, MADV_HUGEPAGE);
}

} // namespace

void ReserveRecordMemory(WaveformRecord& record, std::uint32_t points) {
    record.sampleKind = SAMPLE_KIND_DOUBLE;
    record.bytes.clear();
    for (std::vector<double>* values : {&record.x, &record.y}) {
        // A fresh allocation: memory touched before keeps its small pages.
        std::vector<double>().swap(*values);
        values->reserve(points);
        MarkForHugePages(*values);
    }
}

PrefaultedRecordMemory::PrefaultedRecordMemory(WaveformRecord& record, std::uint32_t points) {
    ReserveRecordMemory(record, points);
    const std::size_t bytes = std::size_t{points} * sizeof(double);
    // A small record faults in quicker than a thread starts.
    constexpr std::size_t kWorthAThread = std::size_t{1} << 20;
    if (bytes < kWorthAThread)
        return;
    void* x = record.x.data();
    void* y = record.y.data();
    // Only whole small pages inside each allocation. A kernel without
    // MADV_POPULATE_WRITE (before 5.14) refuses, and no thread to be had (a
    // process at its limit) leaves none: then the first writes fault, as
    // without this.
    try {
        m_faulting = std::thread([x, y, bytes] {
            for (void* values : {x, y}) {
                constexpr std::uintptr_t kPage = 4096;
                const auto begin = reinterpret_cast<std::uintptr_t>(values);
                const std::uintptr_t from = (begin + kPage - 1) & ~(kPage - 1);
                const std::uintptr_t to = (begin + bytes) & ~(kPage - 1);
                if (to > from)
                    madvise(reinterpret_cast<void*>(from), to - from, MADV_POPULATE_WRITE);
            }
        });
    } catch (const std::system_error&) {
    }
}

PrefaultedRecordMemory::~PrefaultedRecordMemory() {
    if (m_faulting.joinable())
        m_faulting.join();
}

} // namespace quarvel::wavedata
