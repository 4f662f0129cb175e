// The ica-pipe plug-in as the Citrix client sees it, through the client
// harness (tools/ica-harness), with the test agent as the child.
#include <gtest/gtest.h>

#include <dirent.h>
#include <dlfcn.h>
#include <pthread.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <memory>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "ica-harness.h"

extern "C" size_t inkora_c_module_info_size(void);

namespace {

using namespace std::chrono_literals;
using inkora::harness::ClientOptions;
using inkora::harness::IcaClient;

const std::string kPlugin = INKORA_ICA_PIPE_PLUGIN;
const std::string kAgent = INKORA_TEST_AGENT;
constexpr std::size_t kInfoSize = 51;

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

// This test program starts no processes of its own: no child at all means
// the plug-in started none, or has collected the one it started. WNOWAIT:
// the check itself must not collect a zombie the plug-in left behind.
bool no_children() {
    siginfo_t info{};
    return waitid(P_ALL, 0, &info, WEXITED | WNOHANG | WNOWAIT) == -1 && errno == ECHILD;
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

std::string text(const std::vector<uint8_t>& bytes) {
    return {bytes.begin(), bytes.end()};
}

class Plugin : public ::testing::Test {
protected:
    void SetUp() override {
        // The client's default: a stray broken-pipe signal would end the test.
        std::signal(SIGPIPE, SIG_DFL);
        setenv("INKORA_ICA_PIPE_EXEC", kAgent.c_str(), 1);
        unsetenv("INKORA_TEST_AGENT_MODE");
    }

    void TearDown() override {
        client_.reset();
        unsetenv("INKORA_TEST_AGENT_MODE");
        unsetenv("INKORA_ICA_PIPE_EXEC");
    }

    IcaClient& load(ClientOptions options = {}) {
        client_ = std::make_unique<IcaClient>(options);
        std::string error;
        EXPECT_TRUE(client_->load(kPlugin, &error)) << error;
        return *client_;
    }

    // Loads, asks for the module information as the client does and opens
    // with the test agent in the given mode.
    IcaClient& open(const char* mode, ClientOptions options = {}) {
        setenv("INKORA_TEST_AGENT_MODE", mode, 1);
        IcaClient& client = load(options);
        EXPECT_TRUE(client.moduleInfo().has_value());
        EXPECT_EQ(client.open(), 0);
        return client;
    }

    // Keeps refusing queued writes until a refused write holds count bytes.
    static bool offeredAtLeast(IcaClient& client, std::size_t count) {
        client.setQueuedWritesAccepted(false);
        return eventually([&] {
            client.poll();
            const auto& writes = client.queuedWrites();
            return !writes.empty() && writes.back().bytes.size() >= count;
        });
    }

    static pid_t agentPid(IcaClient& client) {
        EXPECT_TRUE(eventually([&] {
            client.poll();
            return text(client.received()).find('\n') != std::string::npos;
        }));
        const std::string line = text(client.received());
        return line.rfind("pid=", 0) == 0 ? static_cast<pid_t>(std::atoi(line.c_str() + 4)) : -1;
    }

    std::unique_ptr<IcaClient> client_;
};

// ---- Load, Info and open -------------------------------------------------

TEST_F(Plugin, LoadFillsTheLinkAndUnloadClearsIt) {
    IcaClient& client = load();
    EXPECT_EQ(client.loadResult(), 0);
    EXPECT_EQ(client.link().ProcCount, 8);
    ASSERT_NE(client.link().pProcedures, nullptr);
    for (int i = 0; i < 8; ++i) {
        EXPECT_NE(client.link().pProcedures[i], nullptr) << "procedure " << i;
    }
    EXPECT_NE(client.link().pData, nullptr);
    EXPECT_EQ(client.unload(), 0);
    EXPECT_EQ(client.link().ProcCount, 0);
    EXPECT_EQ(client.link().pProcedures, nullptr);
    EXPECT_EQ(client.link().pData, nullptr);
}

TEST_F(Plugin, OnlyLoadIsExported) {
    void* library = dlopen(kPlugin.c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();
    EXPECT_NE(dlsym(library, "Load"), nullptr);
    for (const char* hidden : {"DriverOpen", "DriverPoll", "VdProcedures", "child_process", "inkora_create_process",
                               "inkora_get_pipe_executable", "inkora_mutex_init", "inkora_list_add"}) {
        EXPECT_EQ(dlsym(library, hidden), nullptr) << hidden;
    }
    dlclose(library);
}

TEST_F(Plugin, ModuleInformationBlockByteForByte) {
    ClientOptions options;
    options.channel = 3;
    IcaClient& client = open("echo", options);
    // Bytes the plug-in does not write keep the client's fill.
    const auto block = client.moduleInfo(0xEE);
    ASSERT_TRUE(block.has_value());
    constexpr uint8_t F = 0xEE;
    const std::array<uint8_t, kInfoSize> expected{
        51, 0,                            // ByteCount
        F,                                // ModuleCount
        3,                                // ModuleClass: virtual driver
        1, 1,                             // VersionL, VersionH
        'I', 'C', 'A', 0, F, F, F, F, F, F, F, F, F, // ModuleName
        F, F, F, F, F, F, F, F, F,        // HostModuleName
        F, F, F, F, F, F, F, F,           // ModuleDate, ModuleTime, ModuleSize
        0x08, 0, 0, 0,                    // ChannelMask: 1 << 3
        0, 0,                             // BandwidthQuota, Flow none
        F, F, F, F, F, F,                 // Pad1 and the flow union
        1, 0, 0,                          // the plug-in's version 1.0.0
    };
    EXPECT_EQ(*block, std::vector<uint8_t>(expected.begin(), expected.end()));
    EXPECT_EQ(inkora_c_module_info_size(), kInfoSize);
}

struct InfoCase {
    const char* name;
    bool withBuffer;
    uint16_t byteCount;
    int result;
    uint16_t byteCountAfter;
};

void PrintTo(const InfoCase& c, std::ostream* os) {
    *os << c.name;
}

class PluginInfo : public Plugin, public ::testing::WithParamInterface<InfoCase> {};

TEST_P(PluginInfo, AnswersByBufferSize) {
    const InfoCase& c = GetParam();
    IcaClient& client = load();
    std::vector<uint8_t> buffer(80, 0xEE);
    uint16_t count = c.byteCount;
    EXPECT_EQ(client.info(c.withBuffer ? buffer.data() : nullptr, count), c.result);
    EXPECT_EQ(count, c.byteCountAfter);
    const std::size_t written = c.result == 0 ? kInfoSize : 0;
    for (std::size_t i = written; i < buffer.size(); ++i) {
        ASSERT_EQ(buffer[i], 0xEE) << "byte " << i << " is beyond what the plug-in may write";
    }
    if (c.result == 0) {
        EXPECT_EQ(buffer[0], 51);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, PluginInfo,
                         ::testing::Values(InfoCase{"NullBufferFirstCall", false, 0, 1004, 51},
                                           InfoCase{"FiftyBytes", true, 50, 1004, 51},
                                           InfoCase{"FiftyOneBytes", true, 51, 0, 51},
                                           InfoCase{"LargerBuffer", true, 80, 0, 80},
                                           InfoCase{"NullBufferLargeCount", false, 64, 1016, 64}),
                         [](const ::testing::TestParamInfo<InfoCase>& info) { return std::string(info.param.name); });

class PluginChannelMask : public Plugin, public ::testing::WithParamInterface<uint16_t> {};

TEST_P(PluginChannelMask, IsOneShiftedByTheChannelNumber) {
    ClientOptions options;
    options.channel = GetParam();
    IcaClient& client = open("echo", options);
    const uint32_t mask = uint32_t{1} << GetParam();
    EXPECT_EQ(client.openRecord().ChannelMask, mask);
    const auto block = client.moduleInfo();
    ASSERT_TRUE(block.has_value());
    const uint32_t reported = (*block)[36] | (*block)[37] << 8 | (*block)[38] << 16 | uint32_t{(*block)[39]} << 24;
    EXPECT_EQ(reported, mask);
    EXPECT_EQ(client.hook().Type, GetParam());
}

INSTANTIATE_TEST_SUITE_P(Channels, PluginChannelMask, ::testing::Values(0, 5, 17, 31));

TEST_F(Plugin, OpenAsksTheClientInOrder) {
    for (const bool direct : {false, true}) {
        SCOPED_TRACE(direct ? "direct send" : "buffered");
        ClientOptions options;
        options.offerDirectSend = direct;
        IcaClient& client = open("echo", options);
        EXPECT_EQ(client.channelName(), "INKR_VC");
        EXPECT_EQ(client.queryClasses(), (std::vector<int>{33, 82}));
        EXPECT_EQ(client.setClasses(), direct ? (std::vector<int>{10, 88}) : (std::vector<int>{10}));
        EXPECT_EQ(client.libraryTables(), (std::vector<std::string>{"CTXMODULE", "CTXKBD", "CTXOS", "CTXWND",
                                                                    "VP.LIB.SUBLST", "CTXGRAPH", "CTXSCA"}));
        EXPECT_EQ(client.hook().pVdData, client.link().pData);
        if (direct) {
            ASSERT_TRUE(client.hpcProperties().has_value());
            EXPECT_EQ(reinterpret_cast<uintptr_t>(client.hpcProperties()->pWdData), IcaClient::kWinstationHandle);
            EXPECT_EQ(client.hpcProperties()->ulVdOptions, 1u);
            EXPECT_EQ(client.hpcProperties()->usVersion, 1);
        } else {
            EXPECT_FALSE(client.hpcProperties().has_value());
        }
        EXPECT_EQ(client.close(), 0);
        client_.reset();
    }
}

struct OpenRefusal {
    const char* name;
    ClientOptions options;
    int expected;
    std::vector<int> sets; // set classes the plug-in got to
};

void PrintTo(const OpenRefusal& c, std::ostream* os) {
    *os << c.name;
}

ClientOptions refuse(int ClientOptions::*field, int code, bool direct = false) {
    ClientOptions options;
    options.*field = code;
    options.offerDirectSend = direct;
    return options;
}

class PluginOpenRefused : public Plugin, public ::testing::WithParamInterface<OpenRefusal> {};

TEST_P(PluginOpenRefused, ReturnsTheClientsCodeAndStartsNoAgent) {
    const OpenRefusal& c = GetParam();
    setenv("INKORA_TEST_AGENT_MODE", "echo", 1);
    IcaClient& client = load(c.options);
    EXPECT_EQ(client.open(), c.expected);
    EXPECT_EQ(client.setClasses(), c.sets);
    EXPECT_TRUE(no_children()) << "no agent may be started";
    // Where the client kept the hook, channel data still arriving goes
    // nowhere, harmlessly; polls find nothing to send.
    if (client.hookInstalled()) {
        EXPECT_TRUE(client.deliver("for nobody"));
    }
    EXPECT_EQ(client.poll(), 21);
    EXPECT_EQ(client.close(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PluginOpenRefused,
    ::testing::Values(OpenRefusal{"Channel", refuse(&ClientOptions::openChannelResult, 1000), 1000, {}},
                      OpenRefusal{"WriteHook", refuse(&ClientOptions::writeHookResult, 1011), 1011, {10}},
                      OpenRefusal{"HpcProperties", refuse(&ClientOptions::hpcResult, 1004, true), 1004, {10, 88}}),
    [](const ::testing::TestParamInfo<OpenRefusal>& info) { return std::string(info.param.name); });

// ---- Buffered mode ---------------------------------------------------------

TEST_F(Plugin, PollAnswers21Then30WithRefusedBytesOfferedAgainThen0) {
    IcaClient& client = open("echo");
    EXPECT_EQ(client.poll(), 21);
    EXPECT_TRUE(client.queuedWrites().empty()) << "a poll with nothing buffered calls nothing";

    ASSERT_TRUE(client.deliver("abc"));
    ASSERT_TRUE(offeredAtLeast(client, 3));
    EXPECT_EQ(client.poll(), 30);
    EXPECT_EQ(text(client.queuedWrites().back().bytes), "abc");

    // Bytes added meanwhile join the refused ones.
    ASSERT_TRUE(client.deliver("def"));
    ASSERT_TRUE(offeredAtLeast(client, 6));
    EXPECT_EQ(text(client.queuedWrites().back().bytes), "abcdef");

    client.setQueuedWritesAccepted(true);
    EXPECT_EQ(client.poll(), 0);
    EXPECT_EQ(text(client.received()), "abcdef");
    EXPECT_EQ(client.poll(), 21);
    for (const auto& write : client.queuedWrites()) {
        EXPECT_EQ(write.sectionCount, 1);
        EXPECT_EQ(write.flags, 1);
    }
    EXPECT_FALSE(client.wrongHandleSeen());
    EXPECT_EQ(client.directSendCount(), 0u);
}

TEST_F(Plugin, SecondChunkOf5000WaitsForTheNextSuccessfulPoll) {
    IcaClient& client = open("gen");
    ASSERT_TRUE(client.deliver("5000a\n"));
    ASSERT_TRUE(offeredAtLeast(client, 5000));
    ASSERT_TRUE(client.deliver("5000b\n"));
    std::this_thread::sleep_for(100ms); // time for the second chunk to arrive
    EXPECT_EQ(client.poll(), 30);
    EXPECT_EQ(text(client.queuedWrites().back().bytes), std::string(5000, 'a'))
        << "the second chunk does not fit beside the first and is not split";

    client.setQueuedWritesAccepted(true);
    EXPECT_EQ(client.poll(), 0);
    EXPECT_EQ(text(client.queuedWrites().back().bytes), std::string(5000, 'a'));
    ASSERT_TRUE(client.waitForReceived(10000, 5s));
    EXPECT_EQ(text(client.received()), std::string(5000, 'a') + std::string(5000, 'b'));
}

TEST_F(Plugin, ChunkOf8192IsBufferedWholeAndSentInOneSection) {
    IcaClient& client = open("gen");
    ASSERT_TRUE(client.deliver("8192c\n"));
    ASSERT_TRUE(offeredAtLeast(client, 8192));
    client.setQueuedWritesAccepted(true);
    EXPECT_EQ(client.poll(), 0);
    EXPECT_EQ(text(client.queuedWrites().back().bytes), std::string(8192, 'c'));
    EXPECT_EQ(client.poll(), 21);
}

struct StreamCase {
    const char* name;
    uint16_t maximumWriteSize;
    std::size_t largestWrite; // what one queued write may carry
};

void PrintTo(const StreamCase& c, std::ostream* os) {
    *os << c.name;
}

class PluginStream : public Plugin, public ::testing::WithParamInterface<StreamCase> {};

// Output beyond the buffer's size arrives whole and in order, never more
// per queued write than the client allows.
TEST_P(PluginStream, LongOutputArrivesWholeInWritesTheClientAllows) {
    ClientOptions options;
    options.maximumWriteSize = GetParam().maximumWriteSize;
    IcaClient& client = open("gen", options);
    ASSERT_TRUE(client.deliver("30000d\n12000e\n"));
    ASSERT_TRUE(client.waitForReceived(42000, 5s));
    EXPECT_EQ(text(client.received()), std::string(30000, 'd') + std::string(12000, 'e'));
    for (const auto& write : client.queuedWrites()) {
        EXPECT_LE(write.bytes.size(), GetParam().largestWrite);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, PluginStream,
                         ::testing::Values(StreamCase{"WholeBuffer", 8193, 8192}, StreamCase{"Limit2048", 2049, 2048},
                                           StreamCase{"NoLimitGiven", 0, 8192}),
                         [](const ::testing::TestParamInfo<StreamCase>& info) { return std::string(info.param.name); });

// ---- Direct send -------------------------------------------------------------

TEST_F(Plugin, DirectSendCarriesTheFullHandleAndBypassesPolls) {
    ClientOptions options;
    options.offerDirectSend = true;
    IcaClient& client = open("echo", options);
    client.setSendBusyCount(3); // the client is busy at first: nothing may be lost
    ASSERT_TRUE(client.deliver("hello direct"));
    ASSERT_TRUE(client.waitForReceived(12, 5s));
    EXPECT_EQ(text(client.received()), "hello direct");
    EXPECT_EQ(client.busyAnswers(), 3u);
    EXPECT_FALSE(client.wrongHandleSeen()) << "send data got a truncated winstation handle";
    EXPECT_EQ(client.poll(), 21);
    EXPECT_TRUE(client.queuedWrites().empty());

    const std::string big(30000, 'z');
    ASSERT_TRUE(client.deliver(big));
    ASSERT_TRUE(client.waitForReceived(12 + big.size(), 5s));
    EXPECT_EQ(text(client.received()), "hello direct" + big);
}

// The client handles signals of its own; one that arrives while the write
// into the agent's full input pipe waits ends that write after part of the
// bytes. The rest must still reach the agent.
TEST_F(Plugin, ChannelDataInterruptedBySignalsArrivesWhole) {
    struct sigaction action {};
    action.sa_handler = [](int) {};
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0; // no restart: an interrupted write returns its partial count
    struct sigaction previous {};
    ASSERT_EQ(sigaction(SIGUSR1, &action, &previous), 0);

    ClientOptions options;
    options.offerDirectSend = true;
    IcaClient& client = open("stall", options);
    std::string payload;
    for (int i = 0; payload.size() < 300000; ++i) {
        payload += std::to_string(i) + ",";
    }
    std::atomic<bool> done{false};
    const pthread_t writer = pthread_self();
    std::thread interrupter([&] {
        while (!done.load()) {
            pthread_kill(writer, SIGUSR1);
            std::this_thread::sleep_for(5ms);
        }
    });
    ASSERT_TRUE(client.deliver(payload));
    done = true;
    interrupter.join();
    sigaction(SIGUSR1, &previous, nullptr);

    ASSERT_TRUE(client.waitForReceived(payload.size(), 5s)) << "received " << client.received().size();
    EXPECT_EQ(text(client.received()), payload);
}

// ---- The agent's end, tear-down --------------------------------------------

TEST_F(Plugin, ChannelDataAfterTheAgentEndedRaisesNoSigpipe) {
    IcaClient& client = open("exit");
    ASSERT_TRUE(client.waitForReceived(4, 5s));
    EXPECT_EQ(text(client.received()), "bye\n");
    ASSERT_TRUE(eventually(no_children)) << "the ended agent is collected";
    // SIGPIPE is at its default disposition: raised, it would end us here.
    for (int i = 0; i < 20; ++i) {
        ASSERT_TRUE(client.deliver("data for nobody"));
    }
    sigset_t pending;
    sigemptyset(&pending);
    sigpending(&pending);
    EXPECT_EQ(sigismember(&pending, SIGPIPE), 0);
    EXPECT_EQ(client.poll(), 21);
    EXPECT_EQ(client.close(), 0);
}

class PluginClose : public Plugin, public ::testing::WithParamInterface<bool> {};

TEST_P(PluginClose, KillsTheAgentJoinsTheRelayAndLeavesNothingBehind) {
    const int before = count_open_descriptors();
    ClientOptions options;
    options.offerDirectSend = GetParam();
    IcaClient& client = open("info", options);
    const pid_t pid = agentPid(client);
    ASSERT_GT(pid, 0);
    EXPECT_EQ(kill(pid, 0), 0) << "the agent runs";
    EXPECT_EQ(client.close(), 0);
    EXPECT_TRUE(no_children()) << "the killed agent is collected, no zombie";
    EXPECT_EQ(kill(pid, 0), -1);
    EXPECT_EQ(count_open_descriptors(), before);
    ASSERT_TRUE(client.deliver("after close") || !client.hookInstalled());
}

INSTANTIATE_TEST_SUITE_P(Modes, PluginClose, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return std::string(info.param ? "DirectSend" : "Buffered");
                         });

TEST_F(Plugin, CloseReturnsWhileTheRelayWaitsForRoomAndNoPollComes) {
    IcaClient& client = open("gen");
    ASSERT_TRUE(client.deliver("8192f\n"));
    ASSERT_TRUE(offeredAtLeast(client, 8192));
    ASSERT_TRUE(client.deliver("100g\n")); // no room: the relay waits
    std::this_thread::sleep_for(50ms);
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_EQ(client.close(), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - begin, 2s);
    EXPECT_TRUE(no_children());
}

TEST_F(Plugin, OpenAgainAfterCloseStartsAFreshAgent) {
    IcaClient& client = open("echo");
    ASSERT_TRUE(client.deliver("one"));
    ASSERT_TRUE(client.waitForReceived(3, 5s));
    EXPECT_EQ(client.close(), 0);
    EXPECT_EQ(client.open(), 0);
    ASSERT_TRUE(client.deliver("two"));
    ASSERT_TRUE(client.waitForReceived(6, 5s));
    EXPECT_EQ(text(client.received()), "onetwo");
}

TEST_F(Plugin, OpenWithoutCloseReplacesTheAgentEvenWhileTheRelayWaits) {
    IcaClient& client = open("gen");
    ASSERT_TRUE(client.deliver("8192f\n"));
    ASSERT_TRUE(offeredAtLeast(client, 8192));
    ASSERT_TRUE(client.deliver("100g\n")); // no room: the relay waits
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(client.open(), 0);
    client.setQueuedWritesAccepted(true);
    ASSERT_TRUE(client.deliver("5x\n"));
    ASSERT_TRUE(client.waitForReceived(5, 5s));
    EXPECT_EQ(text(client.received()), "xxxxx") << "the new agent answers; the old one's bytes are gone";
    EXPECT_EQ(client.close(), 0);
    EXPECT_TRUE(no_children());
}

// ---- The agent's path -------------------------------------------------------

TEST_F(Plugin, AgentPathTooLongStartsNoAgentButOpens) {
    setenv("INKORA_ICA_PIPE_EXEC", std::string(4096, 'a').c_str(), 1);
    IcaClient& client = load();
    EXPECT_EQ(client.open(), 0);
    EXPECT_TRUE(no_children());
    EXPECT_TRUE(client.deliver("dropped: no agent"));
    EXPECT_EQ(client.poll(), 21);
    EXPECT_EQ(client.close(), 0);
}

TEST_F(Plugin, DefaultAgentPathIsUsedWhenTheVariableIsUnset) {
    if (access("/opt/penlark-remote/penlark-remote-standalone", X_OK) == 0) {
        GTEST_SKIP() << "the real agent is installed here; this test wants it absent";
    }
    unsetenv("INKORA_ICA_PIPE_EXEC");
    IcaClient& client = load();
    EXPECT_EQ(client.open(), 0);
    // The child for the missing default agent ends at once and is collected.
    EXPECT_TRUE(eventually(no_children));
    EXPECT_TRUE(client.deliver("nobody reads this"));
    EXPECT_EQ(client.poll(), 21);
    EXPECT_EQ(client.close(), 0);
}

} // namespace
