#pragma once

// An instrument family described as data: how its identification is
// recognised, the commands that bring its screen image and how that image
// is framed, and its run control. Built-in definitions and the files users
// add (instr/definition_parser.h reads both) have this one form; the driver
// that carries one out is CInstrDefined.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quarvel::instr {

// How the image bytes arrive after the image query.
enum class ImageFraming {
    Block, // IEEE 488.2 definite-length block ("#9..."), white space after it dropped
    Raw,   // the bare file to the end of the message
    Bmp,   // the bare BMP file, as long as its own header says (or a block)
    Png,   // the bare PNG file, to the end of its IEND chunk; anything after it dropped
};

// One step of a command list: a command (one ending in '?' is a query
// whose reply is read and dropped, so "*OPC?" waits for what went before),
// or a pause of delayMs milliseconds when the command is empty.
struct DefinitionStep {
    std::string command;
    std::uint32_t delayMs = 0;
};

struct InstrumentDefinition {
    // ---- [family]
    std::string name;
    // The maker as the file names it: a spelling of the maker table selects
    // every spelling of that maker; any other text is compared as it is,
    // without regard to case.
    std::string maker;
    // Patterns of the identification's model field: '*' any run of
    // characters, '?' one character, everything else itself (case included).
    std::vector<std::string> models;
    // Where the definition came from: empty for a built-in one, else its file.
    std::string file;

    // ---- [image]
    std::string imageFormat; // "png" or "bmp": what the bytes are
    std::vector<DefinitionStep> inkSaverOn;
    std::vector<DefinitionStep> inkSaverOff;
    std::vector<DefinitionStep> imageSteps; // before the query, under the transfer timeout
    std::string imageQuery;
    ImageFraming framing = ImageFraming::Block;
    // A file on the instrument that the steps write and the query reads
    // ("{unique}" becomes a name of this capture), deleted afterwards with
    // deleteCommand on every path; "{file}" in any image command names it.
    std::string instrumentFile;
    std::string deleteCommand;

    // ---- [run] (no run control when stop is empty)
    std::vector<DefinitionStep> stop;
    std::vector<DefinitionStep> run;
    std::vector<DefinitionStep> single;
    std::string stateQuery; // empty: Stop always reports "was running"
    std::vector<std::string> runningWords;
    std::vector<std::string> stoppedWords;

    // ---- [waveform] (no waveform data when the method is empty)
    std::string waveformMethod; // a method of instr/waveform_method.h, by name
    std::vector<std::string> waveformChannels;
    // Points a page, for a method that reads its memory in pages; 0: the
    // method's own page size.
    std::uint32_t waveformPagePoints = 0;

    bool HasRunControl() const { return !stop.empty(); }
    bool HasWaveforms() const { return !waveformMethod.empty(); }
};

// Whether `model` matches the pattern ('*' and '?' as above).
bool ModelMatchesPattern(std::string_view pattern, std::string_view model);

} // namespace quarvel::instr
