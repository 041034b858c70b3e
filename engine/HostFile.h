#pragma once

// The one writer of whole host files (exports, view copies, new images): a failure, a Cancel or
// Ctrl+C never leaves a half-written file under the user's name nor harms the file it replaces.

#include "engine/Status.h"

#include <filesystem>
#include <functional>
#include <ostream>

namespace dw {

// `produce` writes into a temporary file in the destination's folder (unnamed where the file
// system allows, else a short hidden name that SIGINT, SIGTERM and SIGHUP remove); once it is
// complete it is flushed to disk and renamed onto the destination, and the folder is synced.
//
// - An existing file is replaced only with `replaceExisting` (else Exists) and keeps its
//   permission bits; a new file gets `newFileMode` less the umask.
// - A symbolic link at the destination is never written through: Exists without
//   `replaceExisting`, else the link itself is replaced by the new file.
// - A device, pipe or socket at the destination, and anything in /dev or /proc (/dev/stdout,
//   /dev/null), is written directly, through links, with or without `replaceExisting`; a pipe
//   that nobody reads is refused at once (OpenFailed, errno ENXIO), never waited for.
// - The temporary file cannot be made (or the destination is a folder): OpenFailed,
//   "Unable to open target file PATH". A failed write, flush or rename: WriteFailed naming the
//   file. A failure of `produce` other than WriteFailed is returned as it is. Every failure
//   removes the temporary file, leaves the destination as it was, and leaves errno at the
//   system's reason.
Status writeHostFile(const std::filesystem::path& destination, bool replaceExisting,
                     const std::function<Status(std::ostream&)>& produce,
                     unsigned newFileMode = 0666);

// For tests: false makes the writer use named temporary files, as it does where the file system
// has no unnamed ones.
void useUnnamedTemporaryFiles(bool use);

} // namespace dw
