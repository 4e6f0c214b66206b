#pragma once

#include <memory>
#include <optional>
#include <string>

#include "jcompat/BufferedFileSource.h"
#include "jcompat/File.h"

namespace ferrow::jcompat {

// A file opened for reading text.
class FileReader {
public:
    // Only a regular file opens (openForReading); a failure is an IOException
    // (FileNotFoundException when absent) with the system's error text.
    explicit FileReader(const File& file) : source_(std::make_unique<BufferedFileSource>(file)) {}

private:
    friend class BufferedReader;
    std::unique_ptr<BufferedFileSource> source_;
};

// Reads UTF-8 text lines; malformed bytes become U+FFFD.
class BufferedReader {
public:
    explicit BufferedReader(FileReader reader) : source_(std::move(reader.source_)) {}

    // The next line without its terminator, or nothing at the end. A line
    // ends at LF; a CR directly before the LF goes with it, a lone CR stays.
    std::optional<std::string> readLine();
    void close() { source_->close(); }

private:
    std::unique_ptr<BufferedFileSource> source_;
};

} // namespace ferrow::jcompat
