#pragma once

// The files an instrument keeps on its own disk: hardcopies saved there and
// read back by the analysers (:MMEMory:DATA?) and the Tektronix MSO series
// (FILESystem:READFile). Names are kept as the instrument's path with '/'
// for '\' and the drive letter in upper case, so "c:\Temp\x.png" and
// "C:/Temp/x.png" name one file. Bounded: a client that never deletes fills
// the disk, and a further save fails.

#include "sim/command_table.h"

#include <cstddef>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace quarvel::sim {

class InstrumentFiles {
public:
    static constexpr std::size_t kMaxFiles = 16;

    static std::string Normalise(std::string_view path);

    // False when the disk is full (kMaxFiles other files).
    bool Store(std::string_view path, std::string contents);
    // Null when there is no such file.
    const std::string* Find(std::string_view path) const;
    bool Erase(std::string_view path);
    // Every file, sorted by path.
    std::vector<std::string> Paths() const;
    // The names of the files directly in a directory ("C:/Temp").
    std::vector<std::string> NamesIn(std::string_view directory) const;

private:
    std::map<std::string, std::string> m_files;
};

// ":MMEMory:DATA? '<file>'" (the file as a definite block) and
// ":MMEMory:DELete '<file>'", as the analysers of R&S and Keysight answer
// them; a missing file queues -256.
void AddMassMemoryReadAndDelete(CommandTable& table, InstrumentFiles& files);

// ":SIMulator:FILes?": every file on the simulated disk, quoted and
// comma-separated (empty line when none), so a test sees what a client left
// behind without knowing the family's own listing command.
void AddSimulatorFileList(CommandTable& table, const InstrumentFiles& files);

// The image type of file contents by their signature: "png", "bmp" or "".
std::string ImageExtensionOf(std::string_view contents);

} // namespace quarvel::sim
