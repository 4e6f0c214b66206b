#include "jcompat/Platform.h"

#include <locale.h>
#include <pthread.h>
#include <sys/stat.h>
#include <cstdlib>
#if defined(__APPLE__)
#include <xlocale.h>
#endif

namespace ferrow::jcompat::platform {

namespace {

// Switches the calling thread to the "C" locale while it lives.
class CLocaleScope {
public:
    CLocaleScope() : previous_(uselocale(cLocale())) {}
    ~CLocaleScope() { uselocale(previous_); }
    CLocaleScope(const CLocaleScope&) = delete;
    CLocaleScope& operator=(const CLocaleScope&) = delete;

private:
    static locale_t cLocale() {
        static const locale_t locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
        return locale;
    }

    locale_t previous_;
};

const timespec& modifiedTime(const struct ::stat& status) {
#if defined(__APPLE__)
    return status.st_mtimespec;
#else
    return status.st_mtim;
#endif
}

const timespec& changedTime(const struct ::stat& status) {
#if defined(__APPLE__)
    return status.st_ctimespec;
#else
    return status.st_ctim;
#endif
}

std::int64_t nanosOf(const timespec& time) {
    return static_cast<std::int64_t>(time.tv_sec) * 1000000000 + time.tv_nsec;
}

} // namespace

std::int64_t modifiedMillis(const struct ::stat& status) {
    const timespec& time = modifiedTime(status);
    return static_cast<std::int64_t>(time.tv_sec) * 1000 + time.tv_nsec / 1000000;
}

std::int64_t modifiedNanos(const struct ::stat& status) { return nanosOf(modifiedTime(status)); }

std::int64_t changedNanos(const struct ::stat& status) { return nanosOf(changedTime(status)); }

double strtodC(const char* text) {
    const CLocaleScope scope;
    return std::strtod(text, nullptr);
}

float strtofC(const char* text) {
    const CLocaleScope scope;
    return std::strtof(text, nullptr);
}

void nameCurrentThread(const char* name) {
#if defined(__APPLE__)
    pthread_setname_np(name);
#else
    pthread_setname_np(pthread_self(), name);
#endif
}

} // namespace ferrow::jcompat::platform
