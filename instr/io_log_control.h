#pragma once

// The VISA layer's I/O log as the window and quarvel-cli reach it
// (docs/visa.md, "I/O log"): start and stop it, the file it runs into, and
// the lines as they are written. The log itself lives in visa/.

#include <functional>
#include <string>

namespace quarvel::instr {

// Starts logging to path (appended; with withData the whole binary payloads
// go to path + ".data"); a log already running stops first. False with the
// reason in error when the file cannot be opened.
bool StartIoLog(const std::string& path, bool withData, std::string& error);
void StopIoLog();
// The file the log runs into; empty when it does not run (also one started
// by QUARVEL_IO_LOG).
std::string IoLogPath();

// Each line written, on the thread of the VISA call that wrote it; an empty
// function stops the calls. One sink per process.
using IoLogSink = std::function<void(const std::string& line)>;
void SetIoLogSink(IoLogSink sink);

} // namespace quarvel::instr
