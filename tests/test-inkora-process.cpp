// The agent child process and the relay, with a small real peer program
// (tests/support/ica-pipe-test-agent.cpp) or /bin/sh as the child.
#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>

#include "inkora-process.h"

namespace {

using namespace std::chrono_literals;

const std::string kAgent = INKORA_TEST_AGENT;
#ifdef INKORA_PROCESS_NO_PIDFD
// Without process descriptors only a wait or the tear-down collects the child.
constexpr bool kCollectsEndedChild = false;
// The suites get names of their own in this build.
#define RELAY RelayWithoutPidfd
#define RELAY_FAILED_START RelayWithoutPidfdFailedStart
#else
// The reading thread collects a child that ended by itself.
constexpr bool kCollectsEndedChild = true;
#define RELAY Relay
#define RELAY_FAILED_START RelayFailedStart
#endif

int count_open_descriptors() {
    int count = 0;
    if (DIR* dir = opendir("/proc/self/fd")) {
        while (readdir(dir) != nullptr) {
            ++count;
        }
        closedir(dir);
    }
    return count;
}

// What the reading thread delivered.
struct Collector {
    std::mutex mutex;
    std::condition_variable changed;
    std::string bytes;
    std::size_t chunks = 0;
    std::size_t largestChunk = 0;
};

Collector* collector = nullptr;

int collect(inkora_process* /*process*/, const uint8_t* bytes, int32_t length) {
    std::lock_guard lock(collector->mutex);
    collector->bytes.append(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(length));
    ++collector->chunks;
    collector->largestChunk = std::max(collector->largestChunk, static_cast<std::size_t>(length));
    collector->changed.notify_all();
    return 1;
}

template <typename Predicate>
bool eventually(Predicate predicate, std::chrono::milliseconds timeout = 5s) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!predicate()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

class RELAY : public ::testing::Test {
protected:
    void SetUp() override {
        // The host's default: a stray broken-pipe signal would end the test.
        std::signal(SIGPIPE, SIG_DFL);
        collector = &collected_;
    }

    void TearDown() override {
        inkora_destroy_process(&process_);
        unsetenv("INKORA_TEST_AGENT_MODE");
        collector = nullptr;
    }

    // Starts the test agent in the given mode.
    void start(const char* mode, const char* startPath = nullptr, const std::string& path = kAgent) {
        setenv("INKORA_TEST_AGENT_MODE", mode, 1);
        path_ = path;
        process_.path = path_.c_str();
        process_.startPath = startPath;
        process_.read_incoming = collect;
        ASSERT_EQ(inkora_create_process(&process_), INKORA_CODE_SUCCESS);
        ASSERT_EQ(process_.write_outgoing, &inkora_default_write_outgoing);
    }

    int send(const std::string& text) {
        return process_.write_outgoing(&process_, reinterpret_cast<const uint8_t*>(text.data()),
                                       static_cast<int32_t>(text.size()));
    }

    bool waitForBytes(std::size_t count, std::chrono::milliseconds timeout = 5s) {
        std::unique_lock lock(collected_.mutex);
        return collected_.changed.wait_for(lock, timeout, [&] { return collected_.bytes.size() >= count; });
    }

    std::string bytes() {
        std::lock_guard lock(collected_.mutex);
        return collected_.bytes;
    }

    bool waitStopped() {
        return eventually([&] { return __atomic_load_n(&process_.running, __ATOMIC_ACQUIRE) == 0; });
    }

    bool waitReaped() {
        return eventually([&] { return __atomic_load_n(&process_.priv.reaped, __ATOMIC_ACQUIRE) == 1; });
    }

    // The child has been collected: no zombie of it is left. WNOWAIT: the
    // check itself must not collect it.
    static bool collected(pid_t pid) {
        siginfo_t info{};
        return waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == -1 && errno == ECHILD;
    }

    inkora_process process_{};
    Collector collected_;
    std::string path_;
};

TEST_F(RELAY, EchoesBytesBackInOrderInChunksOfAtMost10240) {
    start("echo");
    std::string payload;
    for (int i = 0; payload.size() < 100000; ++i) {
        payload += "message " + std::to_string(i) + ";";
    }
    // One write larger than the pipe: the relay reads while we write.
    EXPECT_EQ(send(payload), static_cast<int>(payload.size()));
    ASSERT_TRUE(waitForBytes(payload.size()));
    EXPECT_EQ(bytes(), payload);
    std::lock_guard lock(collected_.mutex);
    EXPECT_LE(collected_.largestChunk, 10240u);
    EXPECT_GT(collected_.chunks, 1u);
}

TEST_F(RELAY, StandardErrorReachesTheReaderLikeStandardOutput) {
    start("stderr");
    EXPECT_EQ(send("out\n"), 4);
    ASSERT_TRUE(waitForBytes(14));
    EXPECT_EQ(bytes(), "to-stderr\nout\n");
}

TEST_F(RELAY, ChildGetsItsPathAsOnlyArgumentTheStartPathAndNoBlockedSignals) {
    // The host's thread may block signals; the child must not inherit that.
    sigset_t usr1;
    sigemptyset(&usr1);
    sigaddset(&usr1, SIGUSR1);
    sigset_t previous;
    pthread_sigmask(SIG_BLOCK, &usr1, &previous);
    start("info", "/");
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    ASSERT_TRUE(waitForBytes(1));
    ASSERT_TRUE(eventually([&] { return bytes().find('\n') != std::string::npos; }));
    const std::string line = bytes();
    EXPECT_NE(line.find(" argc=1 argv0=" + kAgent + " cwd=/ sigblk=0000000000000000\n"), std::string::npos) << line;
}

struct FailedStart {
    const char* name;
    const char* path;      // nullptr: the test agent
    const char* startPath; // nullptr: ours
};

void PrintTo(const FailedStart& c, std::ostream* os) {
    *os << c.name;
}

class RELAY_FAILED_START : public RELAY, public ::testing::WithParamInterface<FailedStart> {};

// The forked child must end at once with 127: carrying on, it would be a
// second copy of this test program writing its output into the relay.
TEST_P(RELAY_FAILED_START, ChildEndsWith127AndTheRelayStops) {
    const FailedStart& c = GetParam();
    start("echo", c.startPath, c.path != nullptr ? c.path : kAgent);
    const pid_t pid = process_.priv.pid;
    ASSERT_TRUE(waitStopped());
    EXPECT_EQ(inkora_wait_for_process(&process_), 1);
    ASSERT_TRUE(waitReaped());
    EXPECT_TRUE(WIFEXITED(process_.priv.status));
    EXPECT_EQ(WEXITSTATUS(process_.priv.status), 127);
    EXPECT_EQ(bytes(), "");
    EXPECT_TRUE(collected(pid));
    EXPECT_EQ(inkora_destroy_process(&process_), 1);
}

INSTANTIATE_TEST_SUITE_P(Cases, RELAY_FAILED_START,
                         ::testing::Values(FailedStart{"MissingProgram", "/nonexistent/agent", nullptr},
                                           FailedStart{"ProgramIsADirectory", "/", nullptr},
                                           FailedStart{"MissingStartPath", nullptr, "/nonexistent/dir"}),
                         [](const ::testing::TestParamInfo<FailedStart>& info) { return std::string(info.param.name); });

TEST_F(RELAY, AgentThatEndedIsCollectedAndWritesFailWithoutSigpipe) {
    start("exit");
    const pid_t pid = process_.priv.pid;
    ASSERT_TRUE(waitForBytes(4));
    EXPECT_EQ(bytes(), "bye\n");
    ASSERT_TRUE(waitStopped());
    if (kCollectsEndedChild) {
        EXPECT_TRUE(eventually([&] { return collected(pid); })) << "no zombie while the record lives on";
    } else {
        EXPECT_EQ(inkora_process_running(&process_), 1) << "an ended child not yet collected still exists";
    }
    EXPECT_EQ(inkora_wait_for_process(&process_), 1);
    ASSERT_TRUE(waitReaped());
    EXPECT_TRUE(WIFEXITED(process_.priv.status));
    EXPECT_EQ(WEXITSTATUS(process_.priv.status), 0);
    EXPECT_TRUE(collected(pid));
    EXPECT_EQ(inkora_process_running(&process_), 0);

    // SIGPIPE is at its default: a raised one would end this process here.
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(send("late data"), -1);
    }
    sigset_t pending;
    sigemptyset(&pending);
    sigpending(&pending);
    EXPECT_EQ(sigismember(&pending, SIGPIPE), 0) << "no broken-pipe signal left pending";
    EXPECT_EQ(inkora_destroy_process(&process_), 1);
}

// Our ends of the pipes are not inherited: once we close the write end of its
// input, the child sees end of input and ends by itself.
TEST_F(RELAY, ChildSeesEndOfInputWhenWeCloseOurEnd) {
    start("echo");
    close(process_.priv.stdinPipe[1]);
    process_.priv.stdinPipe[1] = -1;
    EXPECT_EQ(inkora_wait_for_process(&process_), 1);
    ASSERT_TRUE(waitReaped());
    EXPECT_TRUE(WIFEXITED(process_.priv.status));
    EXPECT_EQ(WEXITSTATUS(process_.priv.status), 0);
    EXPECT_TRUE(waitStopped());
}

TEST_F(RELAY, DestroyKillsJoinsCollectsAndClosesEverything) {
    const int before = count_open_descriptors();
    start("info");
    ASSERT_TRUE(waitForBytes(1));
    const pid_t pid = process_.priv.pid;
    EXPECT_EQ(inkora_process_running(&process_), 1);
    EXPECT_EQ(send("x"), 1);

    EXPECT_EQ(inkora_destroy_process(&process_), 1);
    EXPECT_EQ(process_.running, 0);
    EXPECT_EQ(inkora_process_running(&process_), 0);
    EXPECT_TRUE(collected(pid));
    EXPECT_TRUE(WIFSIGNALED(process_.priv.status));
    EXPECT_EQ(WTERMSIG(process_.priv.status), SIGKILL);
    for (int fd : {process_.priv.stdoutPipe[0], process_.priv.stdoutPipe[1], process_.priv.stdinPipe[0],
                   process_.priv.stdinPipe[1]}) {
        EXPECT_EQ(fd, -1);
    }
    EXPECT_EQ(count_open_descriptors(), before);
    // A late write after the tear-down fails instead of reaching any descriptor.
    EXPECT_EQ(send("late"), -1);
    EXPECT_EQ(inkora_destroy_process(&process_), 1) << "a second tear-down is harmless";
}

// A grandchild that keeps the output pipe open means no end of file ever
// comes; the tear-down must not depend on one.
TEST_F(RELAY, DestroyReturnsWhileAGrandchildHoldsTheOutputOpen) {
    std::array<char*, 4> argv{const_cast<char*>("/bin/sh"), const_cast<char*>("-c"),
                              const_cast<char*>("sleep 2 & echo started; exec cat"), nullptr};
    process_.argv = argv.data();
    start("echo", nullptr, "/bin/sh");
    ASSERT_TRUE(waitForBytes(8));
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_EQ(inkora_destroy_process(&process_), 1);
    EXPECT_LT(std::chrono::steady_clock::now() - begin, 1500ms);
}

TEST_F(RELAY, UnstartedRecordIsLeftAlone) {
    const int stdinFlags = fcntl(STDIN_FILENO, F_GETFD);
    EXPECT_EQ(inkora_destroy_process(&process_), 1);
    EXPECT_EQ(fcntl(STDIN_FILENO, F_GETFD), stdinFlags) << "descriptor 0 of a zero record is not ours";
    EXPECT_EQ(inkora_process_running(&process_), 0);
    EXPECT_EQ(inkora_wait_for_process(&process_), -1);
    EXPECT_EQ(inkora_default_write_outgoing(&process_, reinterpret_cast<const uint8_t*>("x"), 1), -1);
    EXPECT_EQ(inkora_create_process(&process_), INKORA_CODE_ERROR) << "no path";
    EXPECT_EQ(process_.write_outgoing, nullptr);
}

} // namespace
