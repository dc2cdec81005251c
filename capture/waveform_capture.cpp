#include "capture/waveform_capture.h"

#include "instr/failure.h"
#include "instr/instr_ll.h"
#include "instr/retrieval_channels.h"
#include "wavedata/data_writers.h"

#include <algorithm>
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
                             const StatusSink& status, const std::function<bool()>& cancelled) {
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
    for (const std::string& channel : selected) {
        if (cancelled && cancelled())
            break;
        if (status) {
            status("Getting waveform data for channel " + channel + "...");
        }
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
                   const StatusSink& status) {
    if (records.empty()) {
        return true;
    }
    if (status) {
        status("Saving waveform data...");
    }
    if (format == DataFormat::Csv) {
        return WriteCsvFile(records, path);
    }
    return WriteKstDirfile(records, path);
}
