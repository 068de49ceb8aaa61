// Win32Files: the Files port over the Win32 file calls. A replacement is written to a uniquely
// named temporary file in the same folder, flushed to the disk and moved over the target with
// write-through, so that a crash leaves the old file or the new one. A private file gets a
// protected access list that admits the current user alone. No state; any thread may call.
#pragma once

// <windows.h> names its ANSI ReplaceFileA this way; here it is always the port's method (also
// in the port's own header, which may come next).
#undef ReplaceFile

#include "platform/files.h"

namespace quillon::win32 {

class Win32Files final : public Files {
public:
    FileWriteResult ReplaceFile(const std::string& path, std::string_view bytes,
                                bool ownerOnly) override;
};

// The same, as a plain function for adapters that keep their own files.
FileWriteResult ReplaceFileDurably(const std::string& path, std::string_view bytes, bool ownerOnly);

}  // namespace quillon::win32
