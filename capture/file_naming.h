#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <string>

// The sequential search's limit unless a naming record sets another one.
constexpr std::uint32_t SEQUENTIAL_SEARCH_LIMIT = 100000;

// Directory, pattern, comments file, last file name and sequence number of
// the files one capture writes. All texts UTF-8.
struct FileNaming {
    std::string directory;
    std::string namePattern;
    std::string commentsFile;
    std::string fileName; // name and extension of the last path built
    std::uint32_t sequenceNumber = 1;
    // How many numbers the sequential search tries before it gives up.
    std::uint32_t searchLimit = SEQUENTIAL_SEARCH_LIMIT;
};

enum NamingResult {
    NAMES_OK = 0,
    NAMES_CANCELLED = 1,
    NAMES_BAD_PATTERN = 2,
    NAMES_EXHAUSTED = 3,
};

// The longest expansion of a name pattern, in UTF-16 code units.
constexpr std::size_t MAX_EXPANDED_PATTERN = 127;

// Length of UTF-8 text in UTF-16 code units (a byte that does not decode
// counts as one unit).
std::size_t Utf16Length(const std::string& utf8);

// Expands the C library's strftime conversion specifiers of `pattern` with
// the local time of `when`. False when the pattern holds an invalid
// specifier ("%q", a lone "%" at the end). An expansion longer than
// MAX_EXPANDED_PATTERN, or an empty one, gives "".
bool ExpandTimeFormat(const std::string& pattern, std::time_t when, std::string& expanded);

// Expanded pattern without blanks and extensions, "-%04u" with the sequence
// number when `withNumber`, "." + `extension` when it is not empty, combined
// with the directory. Sets `naming.fileName`. False (nothing changed) on an
// invalid specifier. A path beyond the platform's limits comes back empty.
bool BuildOutputPath(const std::string& extension, FileNaming& naming, bool withNumber,
                     std::string& path);

using ExistsTest = std::function<bool(const std::string&)>;

// The "Save sequential" search: the unnumbered names when both are free,
// otherwise the first number from `naming.sequenceNumber` on whose image
// file and (with `withData`) data file are both free. `dataPath` is empty
// without data. NAMES_BAD_PATTERN or NAMES_EXHAUSTED leave the paths
// untouched.
NamingResult FindSequentialNames(FileNaming& naming, const std::string& imageExtension,
                                 const std::string& dataExtension, bool withData,
                                 std::string& imagePath, std::string& dataPath,
                                 const ExistsTest& exists = {});

// A naming record for a path chosen in a file dialog.
FileNaming SplitChosenPath(const std::string& path);
// `naming.fileName` when `path` is empty, else the last component of `path`.
std::string FileNameOrLast(const FileNaming& naming, const std::string& path);
// The comments file name (blanks removed) combined with the directory.
std::string CommentsFilePath(const FileNaming& naming);
// "%04u"
std::string FormatSequenceNumber(std::uint32_t number);
// The form's sequence text as an unsigned decimal number: leading blanks
// skipped, digits up to the first non-digit, 0 without digits; values beyond
// 32 bits saturate.
std::uint32_t ParseSequenceText(const std::string& text);
