#include "platform/interruptions.hpp"

#include <atomic>

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>
#endif

namespace varnel::platform {

namespace {

using Name = const SystemName::value_type*;

// Room for every output of every worker at once.
constexpr int kSlots = 1024;
std::atomic<bool> g_reserved[kSlots];
// Each slot's unfinished file. Its name is taken by an exchange, so that only one of the
// interruption and the slot's owner ever uses it once the file is done with.
std::atomic<Name> g_names[kSlots];
// The folder each slot's name is in: set before the name, so that whoever takes the name finds it.
std::atomic<int> g_folders[kSlots];

// Threads inside a creation step, and whether an interruption is ending the process: an
// interruption allows no more steps and waits for those under way, so that it finds every file.
std::atomic<int> g_creating{0};
std::atomic<bool> g_ending{false};

// Whether a first interruption asks the program to stop, and whether one has.
std::atomic<bool> g_stop_instead{false};
std::atomic<bool> g_stop{false};
#ifdef _WIN32
HANDLE g_stop_event = nullptr;
HANDLE g_stopped_event = nullptr;
#else
int g_stop_pipe[2] = {-1, -1};
#endif

// A step makes one file, which takes a moment; should the system hang in it, the interruption
// goes on without it after two seconds, by the clock: a short sleep may last far longer than asked.
void stop_new_files() {
    g_ending.store(true);
#ifdef _WIN32
    const ULONGLONG deadline = GetTickCount64() + 2000;
    while (g_creating.load() > 0 && GetTickCount64() < deadline) {
        Sleep(1);
    }
#else
    const auto nanoseconds = [] {
        timespec now{};
        ::clock_gettime(CLOCK_MONOTONIC, &now);
        return static_cast<long long>(now.tv_sec) * 1000000000 + now.tv_nsec;
    };
    const long long deadline = nanoseconds() + 2000000000;
    while (g_creating.load() > 0 && nanoseconds() < deadline) {
        ::poll(nullptr, 0, 1);
    }
#endif
}

void remove_unfinished_files() {
    for (int slot = 0; slot < kSlots; ++slot) {
        if (const Name name = g_names[slot].exchange(nullptr)) {
#ifdef _WIN32
            DeleteFileW(name);
#else
            ::unlinkat(g_folders[slot].load(), name, 0);
#endif
        }
    }
}

#ifdef _WIN32
// Runs on a thread of its own. The new files were opened sharing deletion: each goes once the
// process has closed it, which it does on its way out.
BOOL WINAPI remove_unfinished_and_end(DWORD event) {
    if (g_stop_instead.load() && !g_stop.exchange(true)) {
        SetEvent(g_stop_event);
        if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) {
            return TRUE;
        }
        // The console is going and takes the process with it once this returns: a conversion
        // that is not done by then leaves nothing unfinished either.
        if (WaitForSingleObject(g_stopped_event, 4000) != WAIT_OBJECT_0) {
            stop_new_files();
            remove_unfinished_files();
        }
        ExitProcess(0);
    }
    stop_new_files();
    remove_unfinished_files();
    ExitProcess(event == CTRL_C_EVENT ? static_cast<UINT>(STATUS_CONTROL_C_EXIT) : 1u);
}
#else
// Every signal whose default action ends the process and that may be caught: those a user, a
// system or another program sends, and the faults a program may come to.
const int kEndingSignals[] = {
    SIGHUP,    SIGINT,  SIGQUIT, SIGPIPE, SIGALRM, SIGTERM, SIGUSR1, SIGUSR2, SIGVTALRM,
    SIGPROF,   SIGXCPU, SIGABRT, SIGTRAP, SIGSYS,  SIGILL,  SIGFPE,  SIGSEGV, SIGBUS,
#ifdef SIGIO
    SIGIO,
#endif
#ifdef SIGPWR
    SIGPWR,
#endif
#ifdef SIGSTKFLT
    SIGSTKFLT,
#endif
#ifdef SIGEMT
    SIGEMT,
#endif
#ifdef SIGLOST
    SIGLOST,
#endif
};

// A fault comes from the instruction that causes it and cannot wait; every other signal can.
bool can_wait(int signal) {
    return signal != SIGSEGV && signal != SIGBUS && signal != SIGFPE && signal != SIGILL &&
           signal != SIGTRAP && signal != SIGSYS;
}

template <typename Each>
void for_each_ending_signal(Each&& each) {
    for (const int signal : kEndingSignals) {
        each(signal);
    }
#ifdef SIGRTMIN
    for (int signal = SIGRTMIN; signal <= SIGRTMAX; ++signal) {
        each(signal);
    }
#endif
}

const sigset_t& waiting_signals() {
    static const sigset_t set = [] {
        sigset_t s;
        sigemptyset(&s);
        for_each_ending_signal([&](int signal) {
            if (can_wait(signal)) {
                sigaddset(&s, signal);
            }
        });
        return s;
    }();
    return set;
}

thread_local sigset_t t_held_before;

// Only calls that are safe in a signal handler are made. Back at the default, the signal raised
// again ends the process once the handler returns (a fault comes back by itself).
extern "C" void remove_unfinished_and_end(int signal) {
    if (g_stop_instead.load() && (signal == SIGINT || signal == SIGTERM || signal == SIGHUP) &&
        !g_stop.exchange(true)) {
        const char woken = 1;
        [[maybe_unused]] const ssize_t written = ::write(g_stop_pipe[1], &woken, 1);
        return;
    }
    stop_new_files();
    remove_unfinished_files();
    struct sigaction standard {};
    standard.sa_handler = SIG_DFL;
    sigemptyset(&standard.sa_mask);
    ::sigaction(signal, &standard, nullptr);
    ::raise(signal);
}
#endif

[[noreturn]] void wait_for_the_end() {
    for (;;) {
#ifdef _WIN32
        Sleep(INFINITE);
#else
        ::pause();
#endif
    }
}

}  // namespace

void remove_unfinished_files_on_interrupt() {
#ifdef _WIN32
    SetConsoleCtrlHandler(remove_unfinished_and_end, TRUE);
#else
    struct sigaction handler {};
    handler.sa_handler = remove_unfinished_and_end;
    handler.sa_mask = waiting_signals();
    // A stop asked for returns from the handler: calls under way go on.
    handler.sa_flags = SA_RESTART;
    for_each_ending_signal([&](int signal) {
        struct sigaction before {};
        // A signal the caller chose to ignore (nohup, a background job) stays ignored.
        if (::sigaction(signal, nullptr, &before) == 0 && before.sa_handler != SIG_IGN) {
            ::sigaction(signal, &handler, nullptr);
        }
    });
    // Beyond a file-size limit a write then fails, and is reported, instead of ending the process.
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    ::sigaction(SIGXFSZ, &ignore, nullptr);
#endif
}

void stop_on_interrupt() {
#ifdef _WIN32
    g_stop_event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    g_stopped_event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
#else
    if (::pipe(g_stop_pipe) == 0) {
        for (const int end : g_stop_pipe) {
            ::fcntl(end, F_SETFD, FD_CLOEXEC);
            ::fcntl(end, F_SETFL, O_NONBLOCK);
        }
    }
#endif
    g_stop_instead.store(true);
}

bool stop_requested() {
    return g_stop.load();
}

#ifdef _WIN32
void* stop_event() {
    return g_stop_event;
}
#else
int stop_descriptor() {
    return g_stop_pipe[0];
}
#endif

void stopped() {
#ifdef _WIN32
    if (g_stopped_event != nullptr) {
        SetEvent(g_stopped_event);
    }
#endif
}

UnfinishedFile::UnfinishedFile() : slot_(-1) {
    for (int slot = 0; slot < kSlots && slot_ < 0; ++slot) {
        bool free = false;
        if (g_reserved[slot].compare_exchange_strong(free, true)) {
            slot_ = slot;
        }
    }
}

UnfinishedFile::~UnfinishedFile() {
    forget();
    if (slot_ >= 0) {
        g_reserved[slot_].store(false);
    }
}

bool UnfinishedFile::track([[maybe_unused]] const Folder& folder,
                           const SystemName::value_type* name) {
    if (slot_ < 0) {
        return false;
    }
#ifndef _WIN32
    g_folders[slot_].store(folder.handle());
#endif
    g_names[slot_].store(name);
    tracking_ = true;
    return true;
}

void UnfinishedFile::forget() {
    if (!tracking_) {
        return;
    }
    tracking_ = false;
    // An interruption that took the name is removing the file and ending the process.
    if (g_names[slot_].exchange(nullptr) == nullptr) {
        wait_for_the_end();
    }
}

// On Windows interruptions come on a thread of their own, never on one inside a step.
UnfinishedFile::CreationStep::CreationStep() {
#ifndef _WIN32
    ::pthread_sigmask(SIG_BLOCK, &waiting_signals(), &t_held_before);
#endif
    ++g_creating;
    allowed_ = !g_ending.load();
}

UnfinishedFile::CreationStep::~CreationStep() {
    --g_creating;
#ifndef _WIN32
    ::pthread_sigmask(SIG_SETMASK, &t_held_before, nullptr);
#endif
}

bool UnfinishedFile::CreationStep::allowed() const {
    return allowed_;
}

}  // namespace varnel::platform
