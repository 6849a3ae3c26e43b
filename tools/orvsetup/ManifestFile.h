// The manifest and state files on disk.
//
// A manifest is first taken by the portable reader, which refuses anything
// unclear with its line, then read through the profile API (the Windows way
// of reading setup scripts); the two readings must agree, so what the setup
// program acts on is what the profile API reads, and what it refuses it can
// place in the file.
#pragma once
#include <string>

#include "core/Manifest.h"
#include "core/SetupState.h"

namespace orvsetup {

enum class FileStatus { Ok, CannotOpen, Invalid };

// The folders and environment of this machine, as the kernel sees them.
class SystemPaths : public PathResolver {
public:
    bool Folder(std::wstring_view keyword, std::wstring& path) const override;
    bool Environment(std::wstring_view name, std::wstring& value) const override;
};

// path: as given; message: what went wrong, naming the file and the line.
FileStatus LoadManifest(const std::wstring& path, Manifest& manifest, std::wstring& fullPath, std::wstring& message);

// Whether the file at path is a state file (its first section is [State]).
bool LooksLikeStateFile(const std::wstring& path);

std::wstring StatePathFor(const std::wstring& installDir);
FileStatus LoadState(const std::wstring& path, SetupState& state, std::wstring& message);
// Written to a new file, then renamed over the old one.
bool SaveState(const std::wstring& path, const SetupState& state, std::wstring& message);

}  // namespace orvsetup
