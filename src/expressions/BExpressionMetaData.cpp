#include "expressions/BExpressionMetaData.h"

#include "expressions/BExpressionContext.h"
#include "jcompat/BufferedReader.h"
#include "jcompat/Exceptions.h"
#include "jcompat/File.h"
#include "jcompat/JString.h"

namespace ferrow::expressions {

std::int16_t BExpressionMetaData::parseShort(std::string_view text) {
    const std::int32_t value = jcompat::JString::parseInt(text);
    if (value < -32768 || value > 32767) {
        throw jcompat::NumberFormatException("Value out of range. Value:\"" + std::string(text) + "\" Radix:10");
    }
    return static_cast<std::int16_t>(value);
}

void BExpressionMetaData::registerListener(const std::string& context, BExpressionContext* ctx) {
    for (auto& [name, listener] : listeners_) {
        if (name == context) {
            listener = ctx;
            return;
        }
    }
    listeners_.emplace_back(context, ctx);
}

BExpressionContext* BExpressionMetaData::getContext(std::string_view name) const {
    for (const auto& [contextName, ctx] : listeners_) {
        if (contextName == name) {
            return ctx;
        }
    }
    return nullptr;
}

void BExpressionMetaData::readMetaData(const jcompat::File& lookupsFile) {
    jcompat::BufferedReader reader{jcompat::FileReader(lookupsFile)};
    selected_ = nullptr;
    while (std::optional<std::string> line = reader.readLine()) {
        parseLine(*line);
    }
    reader.close();
    finishMetaParsing();
}

void BExpressionMetaData::parseLine(std::string_view rawLine) {
    const std::string line = jcompat::JString::trim(rawLine);
    if (line.empty() || line.starts_with('#')) {
        return;
    }
    const std::string_view rest = std::string_view(line);
    if (line.starts_with(CONTEXT_TAG)) {
        selected_ = getContext(rest.substr(CONTEXT_TAG.size()));
    } else if (line.starts_with(VERSION_TAG)) {
        lookupVersion = parseShort(rest.substr(VERSION_TAG.size()));
    } else if (line.starts_with(MINOR_VERSION_TAG)) {
        minorVersion = parseShort(rest.substr(MINOR_VERSION_TAG.size()));
    } else if (line.starts_with(MIN_APP_VERSION_TAG)) {
        minAppVersion = parseShort(rest.substr(MIN_APP_VERSION_TAG.size()));
    } else if (line.starts_with(VARLENGTH_TAG)) {
        // a format switch of old tables; nothing to do
    } else if (selected_ != nullptr) {
        selected_->parseMetaLine(line);
    }
}

void BExpressionMetaData::finishMetaParsing() {
    for (const auto& [name, ctx] : listeners_) {
        ctx->finishMetaParsing();
    }
}

} // namespace ferrow::expressions
