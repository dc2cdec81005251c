#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quarvel::test {

// A fresh directory under the system temporary directory, removed with its
// contents when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return m_path; }
    // Path() + "/" + name
    std::string File(const std::string& name) const;

private:
    std::string m_path;
};

// Whole file as bytes; empty when it cannot be read.
std::vector<std::uint8_t> ReadFileBytes(const std::string& path);
std::string ReadFileText(const std::string& path);
bool WriteFileBytes(const std::string& path, const std::string& bytes);
bool PathExists(const std::string& path);
// The names of the entries of `dir`, sorted; empty when it cannot be read.
std::vector<std::string> FileNamesIn(const std::string& dir);
// Every file in `dir`, read whole, in the order of their names.
std::vector<std::vector<std::uint8_t>> ReadDirFiles(const std::string& dir);

} // namespace quarvel::test
