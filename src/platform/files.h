// The one place the system touches files: reading, writing (atomically), existence, folders. Projects
// come from a case-insensitive world, so a name that does not exist exactly is looked up ignoring the
// case of each path component. Paths are the system's CP932 texts; the file system's names are UTF-8,
// so a path with non-ASCII bytes is looked up converted first and, failing that, byte for byte (a
// path the program got from the OS, or one that is no CP932).
#pragma once

#include <string>
#include <string_view>

namespace plimo {

// '\' becomes '/' (a trail byte of a Shift-JIS character is left alone).
std::string NormalizeSeparators(std::string_view path);

// Equality ignoring ASCII letter case outside double-byte characters.
bool SameText(std::string_view a, std::string_view b);
// ASCII lower case outside double-byte characters.
std::string LowerText(std::string_view text);

// The name the file system knows path by (UTF-8, for the OS, not for storing): the exact name when it
// exists, otherwise each component matched ignoring case, any of several matches leading to the file.
// Empty when nothing matches.
std::string FindExistingPath(std::string_view path);

// A path the OS gave (UTF-8: a command-line argument, the program's folder) as the system keeps paths:
// CP932, or the bytes unchanged when CP932 cannot spell every character.
std::string SystemPathFromOs(std::string_view osPath);

bool FileExists(std::string_view path);   // a regular file
bool FolderExists(std::string_view path); // a directory

// The whole file; false when it cannot be read.
bool ReadWholeFile(std::string_view path, std::string& contents);

// Writes through a temporary file in the same folder renamed over the target, so that a crash never
// leaves a truncated file. An existing file that matches ignoring case is the one replaced; through a
// symbolic link, the file it points to. The file keeps its mode.
bool WriteFileAtomic(std::string_view path, std::string_view contents);

// Creates the folder and its missing parents.
bool CreateFolders(std::string_view path);

} // namespace plimo
