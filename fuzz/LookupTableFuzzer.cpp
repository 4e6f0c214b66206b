// A lookup table of arbitrary bytes, read into the way and node contexts;
// the project's area-scan profile is parsed against it and evaluated on
// fixed tag sets coded in the table's own codes. Malformed tables may only
// end in our own exceptions.
#include <cstdint>

#include "FuzzSupport.h"
#include "jcompat/Exceptions.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace ferrow;
    static const fuzz::ScratchDirectory scratch;
    static const std::string profileFile = fuzz::profilePath("dummy.vpf");
    const std::string lookups = scratch.write("lookups.dat", fuzz::asText(data, size));
    try {
        fuzz::Profile profile(lookups, profileFile);
        fuzz::evaluateFixedTags(profile);
    } catch (const jcompat::Throwable&) {
    }
    return 0;
}
