// LinuxFiles: the Files port over POSIX calls. A replacement is written to a uniquely named
// temporary file in the same folder, fsync'd, renamed over the target, and the folder fsync'd
// so the rename itself survives a power cut. No state; any thread may call.
#pragma once

#include "platform/files.h"

namespace quillon::lnx {

class LinuxFiles final : public Files {
public:
    FileWriteResult ReplaceFile(const std::string& path, std::string_view bytes,
                                bool ownerOnly) override;
};

// The same, as a plain function for adapters that keep their own files (settings).
FileWriteResult ReplaceFileDurably(const std::string& path, std::string_view bytes, bool ownerOnly);

}  // namespace quillon::lnx
