// End to end through the whole client side: the harness plays the Citrix
// client, loads the ica-pipe plug-in and opens the channel; the plug-in starts
// the real agent (penlark-remote-standalone) with one simulated pad; the test
// plays the server side and speaks the wire protocol with the project's own
// dispatch over the harness's channel. Both ways the plug-in hands data to the
// client are covered: queued writes emptied at polls, and the direct send.
#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "ica-harness.h"
#include "inkora-nibline-serial.h"
#include "remote-peer.h"
#include "support/inkora-child-process.hpp"

namespace {

using namespace std::chrono_literals;
using inkora::harness::ClientOptions;
using inkora::harness::IcaClient;
using inkora::peer::Message;

const std::string kPlugin = INKORA_ICA_PIPE_PLUGIN;
const std::string kAgent = INKORA_AGENT_PATH;

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

// This program starts no process of its own, so no child at all means the
// plug-in has collected the agent. WNOWAIT: the check must not collect a
// zombie the plug-in left behind.
bool no_children() {
    siginfo_t info{};
    return waitid(P_ALL, 0, &info, WEXITED | WNOHANG | WNOWAIT) == -1 && errno == ECHILD;
}

// The children of this process, from /proc (the plug-in does not say which
// process it started).
std::vector<pid_t> children() {
    std::vector<pid_t> found;
    const pid_t self = getpid();
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", ec)) {
        const std::string name = entry.path().filename().string();
        if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) {
            continue;
        }
        std::ifstream stat(entry.path() / "stat");
        std::string line;
        if (!std::getline(stat, line)) {
            continue;
        }
        // "pid (comm) state ppid ...": the command may hold spaces and
        // parentheses, so read after the last ')'.
        const auto close = line.rfind(')');
        if (close == std::string::npos) {
            continue;
        }
        std::istringstream rest(line.substr(close + 1));
        char state = 0;
        long parent = 0;
        if (rest >> state >> parent && parent == self) {
            found.push_back(static_cast<pid_t>(std::stol(name)));
        }
    }
    return found;
}

std::string executable_of(pid_t pid) {
    std::error_code ec;
    const auto target = std::filesystem::read_symlink("/proc/" + std::to_string(pid) + "/exe", ec);
    return ec ? std::string() : target.string();
}

std::string text(const char* bytes, uint32_t length) {
    return bytes != nullptr ? std::string(bytes, length) : std::string();
}

// The dispatch's functions carry no context: the one live server side.
std::mutex g_mutex;
std::vector<uint8_t> g_outgoing;     // encoded by the dispatch, not yet handed to the client
std::deque<Message> g_inbox;         // decoded by the dispatch's thread

inkora_error_code write_to_channel(const uint8_t* buffer, uint32_t len) {
    std::lock_guard lock(g_mutex);
    g_outgoing.insert(g_outgoing.end(), buffer, buffer + len);
    return INKORA_CODE_SUCCESS;
}

void take_message(inkora_messages* message) {
    std::lock_guard lock(g_mutex);
    g_inbox.emplace_back(message);
}

// The variables through which the sanitizer runtimes of the agent (built with
// the same sanitizer as this test) take their options.
constexpr const char* kSanitizerVariables[] = {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS", "TSAN_OPTIONS"};

class EndToEnd : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        // The client's default: a stray broken-pipe signal would end the test.
        std::signal(SIGPIPE, SIG_DFL);
        ASSERT_FALSE(scratch_.path().empty());
        setVariable("INKORA_ICA_PIPE_EXEC", kAgent);
        setVariable("INKORA_SIMULATED_PADS", "1");
        for (const std::string& name : inkora::test::debug_environment_names()) {
            if (name.rfind("INKORA_", 0) == 0) {
                unsetVariable(name);
            }
        }
        // The agent's standard error is the same pipe as its standard output,
        // relayed into the channel: a sanitizer report there would garble the
        // stream. Reports go to files instead, checked at the end.
        for (const char* name : kSanitizerVariables) {
            const char* current = std::getenv(name);
            std::string value = current != nullptr ? std::string(current) + ":" : std::string();
            value += "log_path=" + (scratch_ / "agent-sanitizer").string();
            setVariable(name, value);
        }
    }

    void TearDown() override {
        stopDispatch();
        client_.reset();
        for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
            if (it->second) {
                setenv(it->first.c_str(), it->second->c_str(), 1);
            } else {
                unsetenv(it->first.c_str());
            }
        }
        std::lock_guard lock(g_mutex);
        g_outgoing.clear();
        g_inbox.clear();
    }

    void remember(const std::string& name) {
        const char* current = std::getenv(name.c_str());
        saved_.emplace_back(name, current != nullptr ? std::optional<std::string>(current) : std::nullopt);
    }
    void setVariable(const std::string& name, const std::string& value) {
        remember(name);
        setenv(name.c_str(), value.c_str(), 1);
    }
    void unsetVariable(const std::string& name) {
        remember(name);
        unsetenv(name.c_str());
    }

    void startDispatch() {
        dispatch_ = static_cast<inkora_serial_dispatch*>(std::calloc(1, sizeof(inkora_serial_dispatch)));
        ASSERT_NE(dispatch_, nullptr);
        inkora_message_create_dispatch(dispatch_);
        dispatch_->unhandled_func = take_message;
        inkora_message_create_dispatch_read_thread(dispatch_);
        __atomic_store_n(&dispatch_->write_func, &write_to_channel, __ATOMIC_RELEASE);
    }
    void stopDispatch() {
        if (dispatch_ != nullptr) {
            // Destroy frees the record too.
            inkora_message_destroy_dispatch(dispatch_);
            dispatch_ = nullptr;
        }
    }

    // Sends message with a fresh sequence number; returns the number.
    uint32_t send(inkora_messages& message) {
        message.common.seq_num = inkora_serial_get_seq_num(dispatch_);
        EXPECT_EQ(inkora_serial_send_message(dispatch_, &message), INKORA_CODE_SUCCESS);
        return message.common.seq_num;
    }

    // One turn of the client's loop: what the server sent goes down the
    // channel, the plug-in is polled (in direct mode too, as the client
    // does), and what came up is fed to the dispatch.
    void pump() {
        std::vector<uint8_t> down;
        {
            std::lock_guard lock(g_mutex);
            down.swap(g_outgoing);
        }
        if (!down.empty()) {
            ASSERT_TRUE(client_->deliver(down.data(), down.size()));
        }
        client_->poll();
        std::vector<uint8_t> up = client_->takeReceived();
        pending_.insert(pending_.end(), up.begin(), up.end());
        // The ring takes a chunk whole or not at all: hand it pieces, and keep
        // the rest for the next turn while the decoder catches up.
        std::size_t offset = 0;
        while (offset < pending_.size()) {
            const auto piece = static_cast<uint32_t>(std::min<std::size_t>(pending_.size() - offset, 4096));
            if (inkora_message_write_to_dispatch(dispatch_, pending_.data() + offset, piece) != INKORA_CODE_SUCCESS) {
                break;
            }
            offset += piece;
        }
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(offset));
    }

    // Pumps until a decoded message of the type (and sequence number, if
    // given) arrives; it is removed from the inbox.
    Message await(inkora_serial_message_types type, std::optional<uint32_t> seq = std::nullopt,
                  std::chrono::milliseconds timeout = 10s) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (std::chrono::steady_clock::now() < deadline) {
            pump();
            {
                std::lock_guard lock(g_mutex);
                for (auto it = g_inbox.begin(); it != g_inbox.end(); ++it) {
                    if ((*it)->common.message_id == type && (!seq || (*it)->common.seq_num == *seq)) {
                        Message found = std::move(*it);
                        g_inbox.erase(it);
                        return found;
                    }
                }
            }
            std::this_thread::sleep_for(1ms);
        }
        ADD_FAILURE() << "no message of type " << static_cast<int>(type) << " within " << timeout.count() << " ms";
        return nullptr;
    }

    // A request answered with a result body: its success, path and error.
    struct Outcome {
        bool success = false;
        std::string path;
        std::string error;
    };
    std::optional<Outcome> request_result(Message request, inkora_serial_message_types answer) {
        const uint32_t seq = send(*request);
        const Message reply = await(answer, seq);
        if (!reply) {
            return std::nullopt;
        }
        const inkora_message_result_body& body = reply->open_response;
        return Outcome{body.success == 1, text(body.path, body.path_len), text(body.error, body.error_len)};
    }

    std::vector<std::string> sanitizerReports() const {
        std::vector<std::string> reports;
        for (const std::string& name : scratch_.entries()) {
            if (name.rfind("agent-sanitizer", 0) == 0) {
                reports.push_back(inkora::test::read_file(scratch_ / name).value_or(name));
            }
        }
        return reports;
    }

    inkora::test::scratch_dir scratch_;
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
    std::unique_ptr<IcaClient> client_;
    inkora_serial_dispatch* dispatch_ = nullptr;
    std::vector<uint8_t> pending_;
};

TEST_P(EndToEnd, ServerSideTalksToTheSimulatedPadThroughPluginAndAgent) {
    const bool direct = GetParam();
    ASSERT_TRUE(no_children());
    const int descriptors_before = count_open_descriptors();

    ClientOptions options;
    options.offerDirectSend = direct;
    client_ = std::make_unique<IcaClient>(options);
    std::string error;
    ASSERT_TRUE(client_->load(kPlugin, &error)) << error;
    ASSERT_TRUE(client_->moduleInfo().has_value());
    ASSERT_EQ(client_->open(), 0);
    ASSERT_TRUE(client_->hookInstalled());
    startDispatch();

    // The plug-in started the real agent, as its only child.
    const std::vector<pid_t> started = children();
    ASSERT_EQ(started.size(), 1u);
    const pid_t agent = started.front();
    // (Right after the fork it may not have executed the agent yet.)
    const std::string agent_executable = std::filesystem::canonical(kAgent).string();
    const auto exec_deadline = std::chrono::steady_clock::now() + 5s;
    while (executable_of(agent) != agent_executable && std::chrono::steady_clock::now() < exec_deadline) {
        std::this_thread::sleep_for(1ms);
    }
    EXPECT_EQ(executable_of(agent), agent_executable);

    // Version exchange: the agent answers with its own, sequence number 0.
    Message version = inkora::peer::make_version(2, 0, 0, 1);
    send(*version);
    const Message agent_version = await(INKORA_MESSAGE_VERSION_INFO);
    ASSERT_TRUE(agent_version);
    EXPECT_EQ(agent_version->version.total_len, 4u);
    EXPECT_EQ(agent_version->version.version_major, 2);
    EXPECT_EQ(agent_version->version.supports_bulk, 1);

    // Enumeration: the one simulated pad, alias "1".
    Message enumerate = inkora::peer::make_message(INKORA_MESSAGE_DEVICEENUM_REQUEST);
    const uint32_t enumerate_seq = send(*enumerate);
    const Message devices = await(INKORA_MESSAGE_DEVICEENUM_RESPONSE, enumerate_seq);
    ASSERT_TRUE(devices);
    ASSERT_EQ(devices->enum_response.device_count, 1);
    const inkora_message_device& pad = devices->enum_response.device_list[0];
    EXPECT_EQ(text(pad.path, pad.path_len), "1");
    EXPECT_EQ(pad.vendor_id, 0x18FB);
    EXPECT_EQ(pad.product_id, 0x0100);
    EXPECT_EQ(text(pad.model, pad.model_len), "Simulated Pad");
    EXPECT_EQ(text(pad.manufacturer, pad.manufacturer_len), "Inkora");

    const auto opened =
        request_result(inkora::peer::make_path_message(INKORA_MESSAGE_OPEN_REQUEST, "1"), INKORA_MESSAGE_OPEN_RESPONSE);
    ASSERT_TRUE(opened);
    ASSERT_TRUE(opened->success) << opened->error;
    EXPECT_EQ(opened->path, "1");

    // A read parked first, then a pen sample injected with the pad's
    // set-feature report 253: the read is answered late with the report the
    // pad emitted (id 1, pen down, x and y little-endian).
    Message read = inkora::peer::make_path_message(INKORA_MESSAGE_READ_REQUEST, "1");
    const uint32_t read_seq = send(*read);
    const auto injected = request_result(
        inkora::peer::make_report_request(INKORA_MESSAGE_SET_FEATURE_REQUEST, "1",
                                          inkora::peer::pen_simulation_report(1, 0x04D2, 0x0237, true)),
        INKORA_MESSAGE_SET_FEATURE_RESPONSE);
    ASSERT_TRUE(injected);
    ASSERT_TRUE(injected->success) << injected->error;
    const Message report = await(INKORA_MESSAGE_READ_RESPONSE, read_seq);
    ASSERT_TRUE(report);
    const inkora_message_read_response& body = report->read_response;
    ASSERT_EQ(body.success, 1) << text(reinterpret_cast<const char*>(body.report), body.report_len);
    EXPECT_EQ(text(body.path, body.path_len), "1");
    EXPECT_EQ(body.report_id, 1);
    EXPECT_EQ(std::vector<uint8_t>(body.report, body.report + body.report_len),
              (std::vector<uint8_t>{1, 1, 0xD2, 0x04, 0x37, 0x02}));

    const auto closed = request_result(inkora::peer::make_path_message(INKORA_MESSAGE_CLOSE_REQUEST, "1"),
                                       INKORA_MESSAGE_CLOSE_RESPONSE);
    ASSERT_TRUE(closed);
    EXPECT_TRUE(closed->success) << closed->error;

    // Everything came up the way the mode says.
    if (direct) {
        EXPECT_GT(client_->directSendCount(), 0u);
        EXPECT_TRUE(client_->queuedWrites().empty());
    } else {
        EXPECT_EQ(client_->directSendCount(), 0u);
        EXPECT_FALSE(client_->queuedWrites().empty());
    }
    EXPECT_FALSE(client_->wrongHandleSeen());
    {
        std::lock_guard lock(g_mutex);
        for (const Message& stray : g_inbox) {
            // Only the agent's keep-alive pings may be left unclaimed.
            EXPECT_EQ(stray->common.message_id, INKORA_MESSAGE_PING);
        }
    }
    stopDispatch();

    // DriverClose kills the agent, collects it and joins the relay: no
    // zombie, no descriptor left open.
    ASSERT_EQ(kill(agent, 0), 0) << "the agent still runs before the close";
    EXPECT_EQ(client_->close(), 0);
    EXPECT_TRUE(no_children()) << "the killed agent is collected, no zombie";
    EXPECT_EQ(kill(agent, 0), -1);
    EXPECT_EQ(count_open_descriptors(), descriptors_before);
    EXPECT_EQ(client_->unload(), 0);

    // And the agent, built with the same sanitizer as this test, reported
    // nothing while it ran.
    for (const std::string& found : sanitizerReports()) {
        ADD_FAILURE() << "the agent's sanitizer reported:\n" << found;
    }
}

INSTANTIATE_TEST_SUITE_P(Modes, EndToEnd, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return std::string(info.param ? "DirectSend" : "BufferedAtPolls");
                         });

} // namespace
