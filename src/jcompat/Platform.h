#pragma once

#include <cstdint>

struct stat;

// The few system calls whose names or forms differ between the systems we
// build for (Linux with glibc, macOS); Platform.cpp is the one place that
// spells them out, everything else calls these.
namespace ferrow::jcompat::platform {

// The modification time of a file status, milliseconds since 1970 (the
// nanoseconds rounded down).
std::int64_t modifiedMillis(const struct ::stat& status);
// The modification and status-change times of a file status, nanoseconds since 1970.
std::int64_t modifiedNanos(const struct ::stat& status);
std::int64_t changedNanos(const struct ::stat& status);

// strtod and strtof in the "C" locale whatever locale the process runs in:
// exactly rounded, '.' as the decimal point.
double strtodC(const char* text);
float strtofC(const char* text);

// Names the calling thread, as debuggers and process lists show it (at most 15 characters).
void nameCurrentThread(const char* name);

} // namespace ferrow::jcompat::platform
