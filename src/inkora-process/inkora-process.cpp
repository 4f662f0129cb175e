// The agent child process: start with fork and execv, the reading thread that
// relays the child's output, writes to its input, liveness and tear-down.
//
// Who touches what: the owner's thread starts, writes and tears down; the
// reading thread reads stdoutPipe[0] and wakePipe[0] and, when the kernel
// offers process descriptors, collects the child's exit status. `running` is
// shared by both and accessed atomically. The tear-down joins the reading
// thread before it closes the descriptors that thread uses, so no read ever
// reaches a closed (or reused) descriptor.
#include "inkora-process.h"

#include <array>
#include <cerrno>
#include <csignal>
#include <ctime>

#include <fcntl.h>
#include <poll.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr std::size_t kReadChunk = 10240;
constexpr int kExecFailedStatus = 127;

uint8_t load_running(const inkora_process* process) {
    return __atomic_load_n(&process->running, __ATOMIC_ACQUIRE);
}

void store_running(inkora_process* process, uint8_t value) {
    __atomic_store_n(&process->running, value, __ATOMIC_RELEASE);
}

void close_fd(int& fd) {
    if (fd >= 0) {
        close(fd);
    }
    fd = -1;
}

void reset_descriptors(inkora_process_private& priv) {
    priv.stdoutPipe[0] = priv.stdoutPipe[1] = -1;
    priv.stdinPipe[0] = priv.stdinPipe[1] = -1;
    priv.wakePipe[0] = priv.wakePipe[1] = -1;
    priv.pidfd = -1;
}

void close_all(inkora_process_private& priv) {
    close_fd(priv.stdoutPipe[0]);
    close_fd(priv.stdoutPipe[1]);
    close_fd(priv.stdinPipe[0]);
    close_fd(priv.stdinPipe[1]);
    close_fd(priv.wakePipe[0]);
    close_fd(priv.wakePipe[1]);
    close_fd(priv.pidfd);
}

// The process descriptor makes signalling the child immune to the reuse of
// its id once it has been collected. Called through syscall() so that the
// plug-in does not depend on a recent C library. Kernels before 5.3 have
// none; INKORA_PROCESS_NO_PIDFD builds that case for its tests.
#if defined(SYS_pidfd_open) && defined(SYS_pidfd_send_signal) && !defined(INKORA_PROCESS_NO_PIDFD)
#define INKORA_PROCESS_HAVE_PIDFD 1
#endif

int open_pidfd(pid_t pid) {
#ifdef INKORA_PROCESS_HAVE_PIDFD
    const long fd = syscall(SYS_pidfd_open, pid, 0);
    if (fd >= 0) {
        fcntl(static_cast<int>(fd), F_SETFD, FD_CLOEXEC);
        return static_cast<int>(fd);
    }
#else
    (void)pid;
#endif
    return -1;
}

// Sends sig (0 = probe) to the child; true when the kernel accepted it.
bool signal_child(const inkora_process_private& priv, int sig) {
#ifdef INKORA_PROCESS_HAVE_PIDFD
    if (priv.pidfd >= 0) {
        return syscall(SYS_pidfd_send_signal, priv.pidfd, sig, nullptr, 0) == 0;
    }
#endif
    // Without a process descriptor only the tear-down collects the child, so
    // until then the id cannot have been reused.
    if (priv.reaped != 0 || priv.pid <= 0) {
        return false;
    }
    return kill(priv.pid, sig) == 0;
}

void reap_child(inkora_process_private& priv) {
    if (priv.reaped != 0 || priv.pid <= 0) {
        return;
    }
    int status = 0;
    pid_t result = 0;
    do {
        result = waitpid(priv.pid, &status, 0);
    } while (result < 0 && errno == EINTR);
    // ECHILD: someone else (a SIGCHLD handler of the host, or SIG_IGN)
    // collected it already; either way nothing is left to reap.
    priv.status = result == priv.pid ? status : 0;
    __atomic_store_n(&priv.reaped, uint8_t{1}, __ATOMIC_RELEASE);
}

// In the forked child: only async-signal-safe calls, and no way back.
[[noreturn]] void run_child(const inkora_process& process, char* const* argv) {
    // Lift both pipe ends above the standard descriptors first, so that
    // placing one cannot overwrite the other when the host runs with some of
    // 0, 1 and 2 closed. dup2 onto 0, 1, 2 clears close-on-exec there; every
    // other descriptor of ours carries it.
    const int out = fcntl(process.priv.stdoutPipe[1], F_DUPFD_CLOEXEC, 3);
    const int in = fcntl(process.priv.stdinPipe[0], F_DUPFD_CLOEXEC, 3);
    if (out < 0 || in < 0 || dup2(in, STDIN_FILENO) < 0 || dup2(out, STDOUT_FILENO) < 0 ||
        dup2(out, STDERR_FILENO) < 0) {
        _exit(kExecFailedStatus);
    }
    // The forking thread belongs to the host and may block signals; the
    // agent starts with none blocked.
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    if (process.startPath != nullptr && chdir(process.startPath) != 0) {
        _exit(kExecFailedStatus);
    }
    execv(process.path, argv);
    _exit(kExecFailedStatus);
}

} // namespace

inkora_error_code inkora_create_process(inkora_process* process) {
    if (process == nullptr || process->path == nullptr || process->priv.started != 0) {
        return INKORA_CODE_ERROR;
    }
    inkora_process_private& priv = process->priv;
    reset_descriptors(priv);
    priv.pid = 0;
    priv.reaped = 0;
    priv.status = 0;

    // Close-on-exec on every end: the child gets only the copies placed on
    // 0, 1 and 2, so it sees end of input once we close our write end.
    if (pipe2(priv.stdoutPipe, O_CLOEXEC) != 0 || pipe2(priv.stdinPipe, O_CLOEXEC) != 0 ||
        pipe2(priv.wakePipe, O_CLOEXEC) != 0) {
        close_all(priv);
        return INKORA_CODE_ERROR;
    }

    // Prepared before the fork: the child must not allocate.
    std::array<char*, 2> defaultArgv{const_cast<char*>(process->path), nullptr};
    char* const* argv = process->argv != nullptr ? process->argv : defaultArgv.data();

    const pid_t pid = fork();
    if (pid < 0) {
        close_all(priv);
        return INKORA_CODE_ERROR;
    }
    if (pid == 0) {
        run_child(*process, argv);
    }

    priv.pid = pid;
    priv.pidfd = open_pidfd(pid);
    close_fd(priv.stdoutPipe[1]);
    close_fd(priv.stdinPipe[0]);
    priv.started = 1;
    store_running(process, 1);
    process->write_outgoing = inkora_default_write_outgoing;
    if (inkora_thread_init(&process->reading_thread, inkora_process_read_thread, process) != INKORA_CODE_SUCCESS) {
        // Without a relay the child is of no use: take it down again.
        store_running(process, 0);
        signal_child(priv, SIGKILL);
        reap_child(priv);
        close_all(priv);
        priv.started = 0;
        process->write_outgoing = nullptr;
        return INKORA_CODE_ERROR;
    }
    return INKORA_CODE_SUCCESS;
}

uint8_t inkora_process_running(inkora_process* process) {
    if (process == nullptr || process->priv.started == 0) {
        return 0;
    }
    return signal_child(process->priv, 0) ? 1 : 0;
}

void* inkora_process_read_thread(void* data) {
    auto* process = static_cast<inkora_process*>(data);
    inkora_process_private& priv = process->priv;
    std::array<uint8_t, kReadChunk> buffer{};
    while (load_running(process) == 1) {
        std::array<pollfd, 2> fds{pollfd{priv.stdoutPipe[0], POLLIN, 0}, pollfd{priv.wakePipe[0], POLLIN, 0}};
        if (poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        if (fds[1].revents != 0) {
            break; // the tear-down asks us to stop
        }
        if (fds[0].revents == 0) {
            continue;
        }
        const ssize_t count = read(priv.stdoutPipe[0], buffer.data(), buffer.size());
        if (count == 0) {
            break; // end of the child's output
        }
        if (count < 0) {
            if (errno == EINTR || errno == EAGAIN) {
                continue;
            }
            break; // a broken descriptor would fail forever
        }
        if (process->read_incoming != nullptr) {
            process->read_incoming(process, buffer.data(), static_cast<int32_t>(count));
        }
    }
    store_running(process, 0);
    // With a process descriptor the kill in the tear-down cannot hit a reused
    // id, so the child is collected here, as soon as it has ended: an agent
    // that ends on its own leaves no zombie while the channel stays open.
    if (priv.pidfd >= 0) {
        reap_child(priv);
    }
    return nullptr;
}

int inkora_destroy_process(inkora_process* process) {
    if (process == nullptr || process->priv.started == 0) {
        return 1;
    }
    inkora_process_private& priv = process->priv;
    if (inkora_process_running(process) != 0) {
        signal_child(priv, SIGKILL);
    }
    store_running(process, 0);
    close_fd(priv.stdinPipe[1]);
    // The child's output may stay open in a grandchild, so end of file is
    // not relied on: the wake pipe stops the reading thread in any case.
    const uint8_t wake = 1;
    ssize_t written = 0;
    do {
        written = write(priv.wakePipe[1], &wake, 1);
    } while (written < 0 && errno == EINTR);
    inkora_thread_join(&process->reading_thread);
    // The reading thread has collected the child if it could; otherwise (no
    // process descriptor) do it now that the kill has been sent.
    reap_child(priv);
    close_all(priv);
    priv.started = 0;
    return 1;
}

int inkora_wait_for_process(inkora_process* process) {
    if (process == nullptr || process->priv.started == 0 || process->priv.pid <= 0) {
        return -1;
    }
    inkora_process_private& priv = process->priv;
    if (priv.pidfd >= 0) {
        // The reading thread collects the child; a process descriptor turns
        // readable once the process has ended, which does not consume it.
        pollfd fd{priv.pidfd, POLLIN, 0};
        for (;;) {
            const int ready = poll(&fd, 1, -1);
            if (ready > 0) {
                return 1;
            }
            if (ready < 0 && errno != EINTR) {
                return -1;
            }
        }
    }
    if (__atomic_load_n(&priv.reaped, __ATOMIC_ACQUIRE) != 0) {
        return 1;
    }
    for (;;) {
        int status = 0;
        const pid_t result = waitpid(priv.pid, &status, 0);
        if (result == priv.pid) {
            priv.status = status;
            __atomic_store_n(&priv.reaped, uint8_t{1}, __ATOMIC_RELEASE);
            return 1;
        }
        if (result < 0 && errno != EINTR) {
            return -1;
        }
    }
}

int inkora_default_write_outgoing(inkora_process* process, const uint8_t* bytes, int32_t length) {
    if (process == nullptr || bytes == nullptr || length < 0 || process->priv.started == 0 ||
        process->priv.stdinPipe[1] < 0) {
        return -1;
    }
    if (length == 0) {
        return 0;
    }
    // A write into a pipe without reader raises SIGPIPE in the writing
    // thread, which by default would end the host. Block it for the write and
    // take away the one this write raised, so the host sees nothing; a
    // SIGPIPE that was already pending stays pending for its owner.
    sigset_t pipeSignal;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    sigset_t pending;
    sigemptyset(&pending);
    sigpending(&pending);
    const bool alreadyPending = sigismember(&pending, SIGPIPE) == 1;
    sigset_t previousMask;
    pthread_sigmask(SIG_BLOCK, &pipeSignal, &previousMask);

    ssize_t written = 0;
    do {
        written = write(process->priv.stdinPipe[1], bytes, static_cast<size_t>(length));
    } while (written < 0 && errno == EINTR);
    const int writeErrno = errno;

    if (written < 0 && writeErrno == EPIPE && !alreadyPending) {
        const timespec noWait{0, 0};
        while (sigtimedwait(&pipeSignal, nullptr, &noWait) < 0 && errno == EINTR) {
        }
    }
    pthread_sigmask(SIG_SETMASK, &previousMask, nullptr);
    errno = writeErrno;
    return written < 0 ? -1 : static_cast<int>(written);
}
