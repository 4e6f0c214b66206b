#pragma once

#include <sys/types.h>
#include <cstddef>
#include <string>

// What the tests and benchmarks ask the system that Linux and macOS answer
// under different names or in different units; TestPlatform.cpp is the one
// place that spells them out.
namespace ferrow::testsupport {

// The stack size of the calling thread, bytes.
std::size_t currentThreadStackSize();

// The resident memory of a running process, KiB, or -1 when it cannot be read.
long residentKib(pid_t pid);

// The largest resident memory this process has had, KiB.
long peakResidentKib();

// Makes a FIFO (a named pipe) at path, to stand where a file is expected;
// std::runtime_error when it cannot.
void makeFifo(const std::string& path);

} // namespace ferrow::testsupport
