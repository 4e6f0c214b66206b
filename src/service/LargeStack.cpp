#include "service/LargeStack.h"

#include <pthread.h>
#include <exception>
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

} // namespace

void runOnLargeStack(const std::function<void()>& block) {
    WorkerSlot slot{&block, nullptr};
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    int error = pthread_attr_setstacksize(&attributes, kWorkerStackSize);
    pthread_t worker;
    if (error == 0) error = pthread_create(&worker, &attributes, &workerBody, &slot);
    pthread_attr_destroy(&attributes);
    if (error != 0) throw std::system_error(error, std::generic_category(), "cannot start the worker thread");
    pthread_join(worker, nullptr);
    if (slot.failure) std::rethrow_exception(slot.failure);
}

} // namespace ferrow::service
