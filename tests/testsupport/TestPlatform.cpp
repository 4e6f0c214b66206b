#include "testsupport/TestPlatform.h"

#include <pthread.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#if defined(__APPLE__)
#include <libproc.h>
#else
#include <fstream>
#endif

namespace ferrow::testsupport {

std::size_t currentThreadStackSize() {
#if defined(__APPLE__)
    return pthread_get_stacksize_np(pthread_self());
#else
    std::size_t size = 0;
    pthread_attr_t attributes;
    if (pthread_getattr_np(pthread_self(), &attributes) != 0) return 0;
    pthread_attr_getstacksize(&attributes, &size);
    pthread_attr_destroy(&attributes);
    return size;
#endif
}

long residentKib(pid_t pid) {
#if defined(__APPLE__)
    proc_taskinfo info{};
    if (proc_pidinfo(pid, PROC_PIDTASKINFO, 0, &info, sizeof info) != static_cast<int>(sizeof info)) return -1;
    return static_cast<long>(info.pti_resident_size / 1024);
#else
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    }
    return -1;
#endif
}

long peakResidentKib() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
#if defined(__APPLE__)
    return static_cast<long>(usage.ru_maxrss / 1024); // bytes there
#else
    return static_cast<long>(usage.ru_maxrss);
#endif
}

void makeFifo(const std::string& path) {
    if (mkfifo(path.c_str(), 0600) != 0) throw std::runtime_error("mkfifo " + path + ": " + std::strerror(errno));
}

} // namespace ferrow::testsupport
