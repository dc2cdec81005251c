#include "capture/waveform_capture.h"

#include "instr/instr_ll.h"
#include "instr/retrieval_channels.h"
#include "wavedata/data_writers.h"

#include <utility>

std::string DataExtensionFor(DataFormat format) {
    return format == DataFormat::Csv ? "csv" : "";
}

void CaptureWaveforms(CInstrLL& driver, ChannelList selected, WaveformRecordList& records,
                      const StatusSink& status, const std::function<bool()>& cancelled,
                      std::vector<std::string>* failures) {
    records.clear();
    if (failures != nullptr)
        failures->clear();
    if (!driver.BeginDataCapture()) {
        return;
    }
    KeepActiveChannels(selected, driver);
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
        } else if (failures != nullptr && driver.LastFailure().Failed()) {
            failures->push_back("No data from " + channel + ": " +
                                quarvel::instr::DescribeFailure(driver.LastFailure()));
        }
    }
    driver.EndDataCapture();
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
