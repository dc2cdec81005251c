#include "instr/io_log_control.h"

#include "visa/visa_internal.h"

#include <mutex>

namespace quarvel::instr {

namespace {

std::mutex g_sinkMutex;
IoLogSink g_sink;

void ForwardLine(ViConstString line, ViAddr /*userData*/) {
    std::lock_guard lock(g_sinkMutex);
    if (g_sink)
        g_sink(line);
}

} // namespace

bool StartIoLog(const std::string& path, bool withData, std::string& error) {
    ViChar message[QVI_MESSAGE_BUFLEN];
    if (qviStartIoLog(path.c_str(), withData ? VI_TRUE : VI_FALSE, message) != VI_SUCCESS) {
        error = message;
        return false;
    }
    return true;
}

void StopIoLog() {
    qviStopIoLog();
}

std::string IoLogPath() {
    ViChar path[4096];
    qviIoLogPath(path, sizeof path);
    return path;
}

void SetIoLogSink(IoLogSink sink) {
    {
        std::lock_guard lock(g_sinkMutex);
        g_sink = std::move(sink);
    }
    qviSetIoLogListener(g_sink ? ForwardLine : nullptr, nullptr);
}

} // namespace quarvel::instr
