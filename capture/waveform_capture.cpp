#include "capture/waveform_capture.h"

#include "instr/failure.h"
#include "instr/instr_ll.h"
#include "instr/retrieval_channels.h"
#include "wavedata/data_writers.h"

#include <algorithm>
#include <chrono>
#include <future>
#include <system_error>
#include <utility>

std::string DataExtensionFor(DataFormat format) {
    return format == DataFormat::Csv ? "csv" : "";
}

namespace {

bool Contains(const ChannelList& list, const std::string& name) {
    return std::find(list.begin(), list.end(), name) != list.end();
}

void AddProblem(std::string& problems, const std::string& sentence) {
    problems += problems.empty() ? sentence : " " + sentence;
}

} // namespace

std::string CaptureWaveforms(CInstrLL& driver, ChannelList selected, WaveformRecordList& records,
                             const StatusSink& status, const std::function<bool()>& cancelled,
                             const ChannelStartSink& channelStarted) {
    records.clear();
    std::string problems;
    // Names the instrument has no data for are said, not silently dropped:
    // a capture that asked for them must not look complete.
    ChannelList offered;
    driver.GetChannelList(offered);
    ChannelList wanted;
    for (const std::string& channel : selected) {
        if (Contains(offered, channel)) {
            wanted.push_back(channel);
        } else {
            AddProblem(problems, channel + " is not offered by this instrument.");
        }
    }
    if (wanted.empty()) {
        return problems;
    }
    if (!driver.BeginDataCapture()) {
        AddProblem(problems, "The instrument could not be prepared for reading waveform data.");
        return problems;
    }
    selected = wanted;
    driver.SetCancelCheck(cancelled);
    KeepActiveChannels(selected, driver);
    for (const std::string& channel : wanted) {
        if (!Contains(selected, channel)) {
            AddProblem(problems, channel + " is switched off.");
        }
    }
    for (std::size_t n = 0; n < selected.size(); ++n) {
        const std::string& channel = selected[n];
        if (cancelled && cancelled())
            break;
        if (status) {
            status("Getting waveform data for channel " + channel + "...");
        }
        if (channelStarted)
            channelStarted(channel, n + 1, selected.size());
        WaveformRecord record;
        driver.ClearFailure();
        if (driver.GetWaveformData(channel, record)) {
            // Records can be hundreds of megabytes: moved, never copied.
            records.push_back(std::move(record));
        } else {
            // The driver's own words for what it found, else the reason the
            // base class recorded for the exchange that failed.
            std::string why = driver.WaveformFailure();
            if (why.empty() && driver.LastFailure().Failed())
                why = quarvel::instr::DescribeFailure(driver.LastFailure());
            AddProblem(problems, channel + ": " + (why.empty() ? "no waveform data" : why) + ".");
        }
    }
    driver.SetCancelCheck({});
    driver.EndDataCapture();
    return problems;
}

bool SaveWaveforms(const WaveformRecordList& records, DataFormat format, const std::string& path,
                   const StatusSink& status, const std::function<void()>& whileWriting) {
    if (records.empty()) {
        return true;
    }
    if (status) {
        status("Saving waveform data...");
    }
    const auto write = [&records, format, &path] {
        return format == DataFormat::Csv ? WriteCsvFile(records, path)
                                         : WriteKstDirfile(records, path);
    };
    if (!whileWriting)
        return write();
    constexpr std::chrono::milliseconds kPaintInterval{15};
    std::future<bool> writing;
    try {
        writing = std::async(std::launch::async, write);
    } catch (const std::system_error&) {
        return write(); // no thread to be had: written here, as without whileWriting
    }
    while (writing.wait_for(kPaintInterval) != std::future_status::ready)
        whileWriting();
    return writing.get();
}
