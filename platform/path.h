// Path helpers shared by the engines and the shells, portable so that they
// are tested natively.
//
// Both '\' and '/' separate folders on every platform: Windows accepts
// either, and the native build uses '/'.
#pragma once
#include <string>
#include <string_view>

// The folder that holds `path`, ending in a separator: everything up to and
// including the last '\' or '/' ("C:\dir\vol.vmv" gives "C:\dir\",
// "\\server\share\vol.vmv" gives "\\server\share\", "C:\vol.vmv" gives "C:\").
// The separator kept is the one the path used. A path without a separator
// gives its drive ("C:vol.vmv" gives "C:") or, without a drive, the empty
// string (the current folder).
std::string FolderOfPath(std::string_view path);

// Whether two paths name the same file as far as their text tells: '\' and
// '/' are the same separator, and on Windows letters compare without case.
bool SamePath(std::string_view a, std::string_view b);
