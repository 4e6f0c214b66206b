#include "service/LargeStack.h"

#include <pthread.h>
#include <sys/mman.h>
#include <unistd.h>

#include <exception>
#include <mutex>
#include <system_error>

#include "jcompat/Platform.h"

namespace ferrow::service {

namespace {

// Shared by the caller and the worker; the join orders the worker's writes
// before the caller's reads.
struct WorkerSlot {
    const std::function<void()>* block;
    std::exception_ptr failure;
};

void* workerBody(void* argument) {
    auto* slot = static_cast<WorkerSlot*>(argument);
    jcompat::platform::nameCurrentThread("ostrand");
    try {
        (*slot->block)();
    } catch (...) {
        slot->failure = std::current_exception();
    }
    return nullptr;
}

// One stack for the workers, mapped once with a guard page below it: each
// request's new thread runs on it, so that a request does not pay for mapping
// and unmapping 256 MiB (the pages it touched stay for the next one). Null
// when it cannot be mapped; then every worker gets a stack of its own.
char* sharedWorkerStack() {
    static char* const stack = [] {
        const std::size_t guard = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
        void* memory = mmap(nullptr, kWorkerStackSize + guard, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANON, -1, 0);
        if (memory == MAP_FAILED) return static_cast<char*>(nullptr);
        if (mprotect(memory, guard, PROT_NONE) != 0) {
            munmap(memory, kWorkerStackSize + guard);
            return static_cast<char*>(nullptr);
        }
        return static_cast<char*>(memory) + guard;
    }();
    return stack;
}

// Held by the worker that runs on the shared stack; a worker started while
// another one runs (only callers on several threads do that) gets its own.
std::mutex sharedStackInUse;

} // namespace

void runOnLargeStack(const std::function<void()>& block) {
    WorkerSlot slot{&block, nullptr};
    std::unique_lock<std::mutex> shared(sharedStackInUse, std::try_to_lock);
    char* const stack = shared.owns_lock() ? sharedWorkerStack() : nullptr;
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    int error = stack != nullptr ? pthread_attr_setstack(&attributes, stack, kWorkerStackSize)
                                 : pthread_attr_setstacksize(&attributes, kWorkerStackSize);
    pthread_t worker;
    if (error == 0) error = pthread_create(&worker, &attributes, &workerBody, &slot);
    pthread_attr_destroy(&attributes);
    if (error != 0) throw std::system_error(error, std::generic_category(), "cannot start the worker thread");
    // Joined before the stack is given to the next worker.
    pthread_join(worker, nullptr);
    if (slot.failure) std::rethrow_exception(slot.failure);
}

} // namespace ferrow::service
