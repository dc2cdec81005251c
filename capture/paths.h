#pragma once

#include <cstddef>
#include <string>

// The path operations that output file naming needs, on '/'-separated paths.
// They work on UTF-8 text and never touch the file system except Exists().
namespace qpaths {

// The platform's limits: a whole path and one component, in bytes.
constexpr std::size_t PATH_LIMIT = 4096;
constexpr std::size_t NAME_LIMIT = 255;

// Leading and trailing space characters removed.
std::string RemoveBlanks(const std::string& text);

// Position of the extension's dot: the last '.' with no ' ' and no '/' after
// it; std::string::npos when there is none.
std::size_t FindExtension(const std::string& path);
// The extension without its dot, or "".
std::string ExtensionOf(const std::string& path);
// The text without the extension FindExtension finds.
std::string RemoveExtension(const std::string& path);
// Removes extensions as long as there is one: "a.b.c" -> "a".
std::string RemoveAllExtensions(const std::string& path);
// Appends `extensionWithDot` when `path` has no extension.
std::string AddExtension(const std::string& path, const std::string& extensionWithDot);

// Joins `directory` and `name` with one '/', removing "." and ".."
// components. An absolute `name` is taken as it stands; an empty `name`
// gives `directory`. Returns "" when the result would exceed PATH_LIMIT or
// one of its components NAME_LIMIT, so that nothing is ever written under a
// cut name.
std::string Combine(const std::string& directory, const std::string& name);

// The path without its last component and that component's '/'
// ("/a/b" -> "/a", "/a" -> "/", "b" -> "").
std::string RemoveFileSpec(const std::string& path);
// The last component ("/a/b.png" -> "b.png"; "/a/" -> "").
std::string FileNameOf(const std::string& path);

// Within the platform's limits: not empty, at most PATH_LIMIT bytes, every
// component at most NAME_LIMIT bytes.
bool IsWithinLimits(const std::string& path);

// A file or a directory of that name exists.
bool Exists(const std::string& path);

} // namespace qpaths
