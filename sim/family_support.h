#pragma once

// Small helpers shared by the family sources: parameter parsing with the
// errors instruments queue, enumerated settings with their query, and the
// model field of an identification string.

#include "sim/command_table.h"
#include "sim/habits.h"

#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

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
    InstrumentSetup() = default;
    explicit(false) InstrumentSetup(std::string idnReply, QuirkOptions quirkOptions = {})
        : idn(std::move(idnReply)), quirks(quirkOptions) {}

    std::string idn;
    QuirkOptions quirks;
    // Every habit of the family, defaults filled in (CreateInstrument).
    HabitValues habits;
    // generic: the query that answers a screen image (empty: none), and
    // whether the PNG comes raw, ended by END, rather than as a block.
    std::string imageQuery;
    bool imageRaw = false;
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
// Adds "<pattern> ON|OFF|1|0" and "<pattern>?" for four channels, '#' in
// the pattern numbering them (another number is -113); the query answers
// `onWord` or `offWord`. `owner` holds `channelOn` and is kept alive by the
// commands.
// Adds "<command> <name>" choosing the channel a waveform query reads: the
// name is one of the stems and a digit 1-4 (any case), anything else -224.
// `owner` holds `source` and is kept alive by the command.
void AddWaveformSource(CommandTable& table, std::string_view command, std::shared_ptr<void> owner,
                       int& source, std::initializer_list<std::string_view> stems);
void AddChannelSwitch(CommandTable& table, std::string_view pattern, std::shared_ptr<void> owner,
                      bool (&channelOn)[4], std::string_view onWord = "1",
                      std::string_view offWord = "0");
// Adds "<pattern> '<text>'" and "<pattern>?" (answers the quoted text).
void AddStringSetting(CommandTable& table, std::string_view pattern, std::string& value);

// Second comma-separated field of an *IDN? reply ("" when absent).
std::string ModelOf(std::string_view idn);
// Whether the model starts with prefix, ignoring case, blanks and hyphens
// ("TBS 1052B" and "TBS1052B" both start with "TBS1").
bool ModelStartsWith(std::string_view model, std::string_view prefix);

// What follows an image block: 0 nothing, 1 a line feed, 3 00 00 0A (the
// Rigol firmware variants); sent exactly so on every transport.
void SetBlockTail(CommandResult& result, int tail);
// What follows a raw image file: nothing or one line feed, sent exactly so
// (a raw socket adds nothing: the file's own structure frames it).
void SetRawFileTail(CommandResult& result, bool lineFeed);

// "INITiate:CONTinuous ON|OFF", its query, and "INITiate[:IMMediate]" (one
// sweep, complete before the next command runs, so *OPC? answers at once):
// the run control of the spectrum analysers.
void AddSweepControl(CommandTable& table, bool& continuous);

} // namespace quarvel::sim
