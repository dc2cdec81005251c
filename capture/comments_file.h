#pragma once

#include <ctime>
#include <string>

// One entry of the comments log. All texts UTF-8.
struct CommentsEntry {
    std::string fileName;     // image name and extension, without directory
    std::string dataFileName; // data file or dirfile name; "" without data
    std::string comments;     // line breaks CR LF or LF
    std::string instrumentId; // "" when not recorded
};

// Appends `entry` to the comments file at `path`, stamped with the local
// time `when`. Lines end in CR LF; each character up to U+00FF is stored as
// its Latin-1 byte, any other as "?". The closing rule is as wide (in UTF-16
// code units) as the widest measured line. A file that cannot be opened is
// skipped silently; the result is false only when that happened or a write
// failed, and callers may ignore it.
bool AppendCommentsEntry(const std::string& path, const CommentsEntry& entry, std::time_t when);
// The same, stamped with the current time.
bool AppendCommentsEntry(const std::string& path, const CommentsEntry& entry);
