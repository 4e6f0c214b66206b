#pragma once

#include <cstdio>
#include <string>

#include "service/RouteService.h"

namespace ferrow::service {

// The request loop: one request per input line ("<id> TAB <query>"), one
// answer line per request ("<id> TAB <1|0> TAB <text>"), until "quit" or the
// end of the input. Lines without TAB are ignored.
struct ServiceLineProtocol {
    // Returns at the end of input or on "quit"; a read error raises IOException.
    static void serve(std::FILE* input, std::FILE* output, const std::string& segmentDir);

    // "<id> TAB <1|0> TAB <text>" and a line feed, with every CR and LF of
    // the text turned into a space.
    static std::string answerLine(const std::string& id, const RouteService::Answer& answer);
};

} // namespace ferrow::service
