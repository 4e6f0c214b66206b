#pragma once

#include <string>
#include <vector>

namespace ferrow::service {

// The process entry, given the command-line arguments without the program
// name: prints the usage text without an argument, otherwise "ready", and
// serves requests on standard input and output with the first argument as
// the segment directory.
void main(const std::vector<std::string>& args);

} // namespace ferrow::service
