#pragma once

#include <string>

#include "platform/file_system.h"
#include "platform/status.h"

// Data files: request content staged on disk for signing, named
// "Quorvant_" + 7 random characters + ".bin". Paths are UTF-16 and end in the
// platform's separator when they name a directory; an empty path means that
// there is no file.

// The name of the default working directory in the temporary folder.
inline constexpr const char16_t* kDefaultDataDirectoryName = u"vorna_data_signed";

// The default working directory, "vorna_data_signed" in the user's
// temporary folder (relative to the current directory when Windows cannot
// tell that folder), created when missing. Empty when the POSIX private
// folder cannot be used: then there is nowhere to stage. `status` says why
// the temporary folder cannot be used (the result is then empty) or why the
// directory could not be created.
std::u16string defaultDataDirectory(platform::Status& status);

// Decodes the Base64 `content` into a new data file in `directory` and
// returns its full path; the file is closed and holds exactly the decoded
// bytes. Empty when the content is empty or decodes to nothing, or when the
// file cannot be created or written (no partial file is left behind). The
// name is chosen and the file written under a cross-process lock.
std::u16string createDataFile(const std::u16string& directory, const std::u16string& content);

// Creates a new, empty data file in `directory` by the same rules and under
// the same lock as createDataFile, and leaves it open in `file` for the
// caller to write. Its full path; empty when it cannot be created (logged).
std::u16string createOpenDataFile(const std::u16string& directory, platform::NewFile& file);
