#include "service/ServiceLineProtocol.h"

#include "jcompat/Exceptions.h"
#include "jcompat/Utf8.h"
#include "service/LargeStack.h"

namespace ferrow::service {

namespace {

// Reads one line's bytes without the line feed. False at the end of input
// when nothing was read since the last line feed.
bool readLineBytes(std::FILE* input, std::string& bytes) {
    bytes.clear();
    for (;;) {
        const int c = std::getc(input);
        if (c == EOF) {
            if (std::ferror(input)) throw jcompat::IOException("read error on standard input");
            return !bytes.empty();
        }
        if (c == '\n') {
            // Only a line ended by a line feed loses a carriage return before it.
            if (!bytes.empty() && bytes.back() == '\r') bytes.pop_back();
            return true;
        }
        bytes += static_cast<char>(c);
    }
}

} // namespace

std::string ServiceLineProtocol::answerLine(const std::string& id, const RouteService::Answer& answer) {
    std::string line = id;
    line += '\t';
    line += answer.ok ? '1' : '0';
    line += '\t';
    for (const char c : answer.text) line += (c == '\n' || c == '\r') ? ' ' : c;
    line += '\n';
    return line;
}

void ServiceLineProtocol::serve(std::FILE* input, std::FILE* output, const std::string& segmentDir) {
    std::string bytes;
    while (readLineBytes(input, bytes)) {
        const std::string line = jcompat::sanitizeUtf8(bytes);
        if (line == "quit") return;
        const std::size_t tab = line.find('\t');
        if (tab == std::string::npos) continue;
        const RouteService::Answer answer = onLargeStack([&] { return RouteService::answer(line, tab, segmentDir); });
        const std::string answerText = answerLine(line.substr(0, tab), answer);
        std::fwrite(answerText.data(), 1, answerText.size(), output);
        std::fflush(output);
    }
}

} // namespace ferrow::service
