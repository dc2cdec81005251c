#pragma once

// Small helpers shared by the family sources: parameter parsing with the
// errors instruments queue, enumerated settings with their query, and the
// model field of an identification string.

#include "sim/command_table.h"

#include <initializer_list>
#include <string>
#include <string_view>

namespace quarvel::sim {

// Acquisition state of an oscilloscope.
enum class RunState { Run, Stop, Single };

// Options that make a family behave like particular real units.
struct QuirkOptions {
    bool siglentReplyHeaders = false;   // COMM_HEADER SHORT: "TRMD AUTO", "*OPC 1"
    bool siglentIdnHeader = false;      // older firmware: "*IDN SIGLENT,..." too
    bool siglentRawScdp = false;        // SCDP answers the bare BMP file
    bool siglentScdpTerminator = false; // a line feed after that file
    int rigolBlockTail = 1;             // bytes after the :DISP:DATA? block: 0, 1 (LF), 3
    bool tektronixHeaders = false;      // HEADer ON: ":ACQUIRE:STATE 1"
    // Waveform data of the oscilloscope families (0: the family's default).
    long long waveformPoints = 0;         // record length when stopped
    long long waveformPage = 0;           // most points one data query returns
    bool rigolSwappedFormatCodes = false; // DS2000 guide: preamble format 0 WORD, 1 BYTE
    bool tektronixCurveJunk = false;      // bytes after the CURVe? block before its LF
    bool tektronixNoWaveformId = false;   // WFMPre? without its WFId field
};

// What a family factory is given.
struct InstrumentSetup {
    std::string idn;
    QuirkOptions quirks;
};

// "ON"/"1" → true, "OFF"/"0" → false; anything else queues -224 and fails.
bool ParseBoolParam(const CommandCall& call, std::size_t index, CommandResult& result, bool& value);

// Matches a parameter against choices given in short/long notation
// ("COLor", "GRAYscale"); returns the index or -1 (nothing queued).
int MatchChoice(std::string_view param, std::initializer_list<std::string_view> choices);

// Adds "<pattern> <choice>" and "<pattern>?" for an enumerated setting kept
// in value as the choice's long form in upper case (the query answers the
// short form, as instruments do).
void AddChoiceSetting(CommandTable& table, std::string_view pattern,
                      std::initializer_list<std::string_view> choices, std::string& value);
// Adds ":RUN", ":STOP" and ":SINGle", which set run to the matching state
// (the oscilloscopes that share this notation).
void AddRunStopSingle(CommandTable& table, RunState& run);
// Adds "<pattern> ON|OFF|1|0" and "<pattern>?" (answers 1 or 0).
void AddBoolSetting(CommandTable& table, std::string_view pattern, bool& value);
// Adds "<pattern> '<text>'" and "<pattern>?" (answers the quoted text).
void AddStringSetting(CommandTable& table, std::string_view pattern, std::string& value);

// Second comma-separated field of an *IDN? reply ("" when absent).
std::string ModelOf(std::string_view idn);

} // namespace quarvel::sim
