// A profile text of arbitrary bytes, parsed (tokens, expressions, constant
// folding, the global section's variables) into way and node contexts
// against the project's lookup table, then evaluated on fixed tag sets.
// Malformed texts may only end in our own exceptions.
#include <cstdint>

#include "FuzzSupport.h"
#include "jcompat/Exceptions.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace ferrow;
    static const fuzz::ScratchDirectory scratch;
    static const std::string lookups = fuzz::profilePath("lookups.dat");
    const std::string profileFile = scratch.write("fuzz.vpf", fuzz::asText(data, size));
    try {
        fuzz::Profile profile(lookups, profileFile);
        fuzz::evaluateFixedTags(profile);
    } catch (const jcompat::Throwable&) {
    }
    return 0;
}
