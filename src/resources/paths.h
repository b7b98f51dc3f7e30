// Folder-path helpers on POSIX paths. '/' separates; a '\' (from a stored file or a script) is read as
// '/'; a path is absolute when it starts with '/'. Comparisons ignore case, as projects expect.
#pragma once

#include <string>
#include <string_view>

namespace plimo {

bool IsAbsolutePath(std::string_view p);
// Removes one trailing '/'.
std::string StripSlash(std::string_view p);
// Drops the last component: "/a/b" -> "/a", "/a" -> "" (the root is the empty folder).
std::string ParentFolder(std::string_view p);
// rel against base: ".." climbs, "." is skipped; empty when rel or (for a relative rel) base is empty;
// "/" when it ends at the root.
std::string ResolvePath(std::string_view rel, std::string_view base);
// p relative to base ("../" per level climbed); p itself when they share no folder but the root.
std::string RelativePath(std::string_view p, std::string_view base);
// a is b or lies below it.
bool IsInside(std::string_view a, std::string_view b);
bool SameFolder(std::string_view a, std::string_view b);
// The deepest folder holding both; empty when either is empty or they share only the root.
std::string CommonFolderOf(std::string_view a, std::string_view b);
// The file name without folder and without its last extension.
std::string BaseName(std::string_view p);
// The folder a file lies in: "/" for a file in the root, empty for a bare name.
std::string FolderOf(std::string_view p);

} // namespace plimo
