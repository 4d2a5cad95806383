#include "platform/thread_stack.h"

#include <malloc.h>
#include <pthread.h>
#include <signal.h>

#include <algorithm>
#include <climits>

#include "platform/signals.h"

namespace oka::platform {

namespace {

struct Task {
    int (*body)(void*);
    void* arg;
    int result;
};

sigset_t resize_signal() {
    sigset_t resize;
    sigemptyset(&resize);
    sigaddset(&resize, SIGWINCH);
    return resize;
}

void* run_task(void* task_pointer) {
    auto* task = static_cast<Task*>(task_pointer);
    sigset_t resize = resize_signal();
    pthread_sigmask(SIG_UNBLOCK, &resize, nullptr);
    prepare_thread_for_faults();
    task->result = task->body(task->arg);
    return nullptr;
}

bool run_on_new_thread(size_t bytes, Task& task) {
    // The caller only waits, so the new thread may take the caller's malloc arena instead of mapping one
    // of its own at its first allocation.
    mallopt(M_ARENA_MAX, 1);
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    // A change of the window's size is for the thread that waits for keys: the caller, which only waits,
    // blocks it from before the new thread exists (which unblocks it for itself), so that it never takes
    // the signal in that thread's place.
    sigset_t resize = resize_signal(), before;
    pthread_sigmask(SIG_BLOCK, &resize, &before);
    pthread_t thread;
    bool started = pthread_attr_setstacksize(&attributes, std::max<size_t>(bytes, PTHREAD_STACK_MIN)) == 0 &&
                   pthread_create(&thread, &attributes, run_task, &task) == 0;
    pthread_attr_destroy(&attributes);
    if (started) pthread_join(thread, nullptr);
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
    return started;
}

}  // namespace

int run_with_stack(size_t bytes, int (*body)(void*), void* arg) {
    Task task{body, arg, 0};
    if (!run_on_new_thread(bytes, task)) run_task(&task);
    return task.result;
}

StackBounds current_stack_bounds() {
    void* low = nullptr;
    size_t size = 0;
    pthread_attr_t attributes;
    if (pthread_getattr_np(pthread_self(), &attributes) == 0) {
        pthread_attr_getstack(&attributes, &low, &size);
        pthread_attr_destroy(&attributes);
    }
    return {uintptr_t(low), uintptr_t(low) + size};
}

}  // namespace oka::platform
