#include "WayList.h"

#include <cmath>
#include <fstream>
#include <limits>
#include <stdexcept>
#include <string_view>

#include "jcompat/Exceptions.h"
#include "jcompat/JString.h"
#include "testsupport/TestNetwork.h"

namespace ferrow::realdata {

namespace {

std::vector<std::string_view> split(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    std::size_t at = 0;
    while (true) {
        const std::size_t end = text.find(separator, at);
        parts.push_back(text.substr(at, end == std::string_view::npos ? std::string_view::npos : end - at));
        if (end == std::string_view::npos) {
            return parts;
        }
        at = end + 1;
    }
}

double parseDegrees(std::string_view text) {
    double value = std::numeric_limits<double>::quiet_NaN();
    try {
        value = jcompat::JString::parseDouble(text);
    } catch (const jcompat::NumberFormatException&) {
    }
    if (!std::isfinite(value)) {
        throw std::runtime_error("bad coordinate: " + std::string(text));
    }
    return value;
}

} // namespace

std::vector<Way> readWays(std::istream& in) {
    std::vector<Way> ways;
    std::string line;
    while (std::getline(in, line)) {
        // A file written on Windows: the CR would stay in the last tag's value.
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        const std::vector<std::string_view> fields = split(line, '\t');
        if (fields.size() < 2) {
            throw std::runtime_error("bad way line: " + line);
        }
        Way way;
        way.id = std::string(fields[0]);
        for (std::string_view point : split(fields[1], ';')) {
            const std::vector<std::string_view> lonLat = split(point, ',');
            if (lonLat.size() != 2) {
                throw std::runtime_error("bad point in way " + way.id);
            }
            const Position p = positionOf(testsupport::gridLon(parseDegrees(lonLat[0])),
                                          testsupport::gridLat(parseDegrees(lonLat[1])));
            if (way.points.empty() || way.points.back() != p) {
                way.points.push_back(p);
            }
        }
        for (std::size_t i = 2; i < fields.size(); ++i) {
            const std::size_t equals = fields[i].find('=');
            if (equals == std::string_view::npos) {
                throw std::runtime_error("bad tag in way " + way.id);
            }
            way.tags.emplace_back(fields[i].substr(0, equals), fields[i].substr(equals + 1));
        }
        if (way.points.size() >= 2) {
            ways.push_back(std::move(way));
        }
    }
    return ways;
}

std::vector<Way> readWays(const std::string& path) {
    std::ifstream in(path);
    if (!in) {
        throw std::runtime_error("cannot read " + path);
    }
    return readWays(in);
}

} // namespace ferrow::realdata
