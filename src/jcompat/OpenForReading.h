#pragma once

#include <string>

#include "jcompat/File.h"

namespace ferrow::jcompat {

// "<path> (<the system's text for the error>)", the message of a failed file operation.
std::string systemError(const std::string& path, int error);

// Opens a regular file read-only and returns its descriptor. Anything else
// fails as a file that cannot be opened: a directory with
// FileNotFoundException "(Is a directory)", a FIFO, socket or device with
// IOException "(Not a regular file)" (reading such a file ends whenever
// something else decides, maybe never). A missing file fails with
// FileNotFoundException, other failures with IOException, both carrying the
// system's error text.
int openForReading(const File& file);

} // namespace ferrow::jcompat
