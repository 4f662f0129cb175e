// The remote side of the wire protocol, for tests, benchmarks and tools: it
// starts the agent program as a child process with pipes on its standard
// input and output (as the ica-pipe plug-in does), and speaks the protocol
// with the project's own dispatch. Requests that have a prompt reply go
// through inkora_serial_send_get_message with the dispatch's time-out;
// everything the agent sends unasked (pings, hot-plug notices) or late
// (answers to parked read requests) lands in an inbox that can be waited on.
//
// One RemotePeer may exist at a time in a process: the dispatch's installed
// functions carry no context of their own. Its methods may be called from
// any thread.
#ifndef INKORA_REMOTE_PEER_H
#define INKORA_REMOTE_PEER_H

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "inkora-nibline-serial.h"

namespace inkora::peer {

struct MessageDeleter {
    void operator()(inkora_messages* message) const noexcept { inkora_free_message(message); }
};
// A message record owned by the peer's user.
using Message = std::unique_ptr<inkora_messages, MessageDeleter>;

struct AgentOptions {
    std::string executable;                                        // path of penlark-remote-standalone
    std::vector<std::pair<std::string, std::string>> environment; // set in the child (on top of the parent's)
    std::vector<std::string> unset_environment;                   // removed in the child
    bool answer_pings = true;   // answer every ping with a pong carrying the ping's sequence number
    std::string stderr_path;    // the agent's standard error goes here (appended); empty: inherited
};

// One pad of an enumeration answer.
struct Device {
    std::string alias;
    uint16_t product_id = 0;
    uint16_t vendor_id = 0;
    std::string model;
    std::string manufacturer;
};

// The outcome of a request answered with a result body (open, close, set
// output, set feature) or a report (get feature, read).
struct Result {
    bool answered = false; // false: no reply within the dispatch's time-out
    bool success = false;
    std::string path;      // the reply's path field
    std::string error;     // error text (result bodies, failed reads and gets)
    std::vector<uint8_t> report; // report bytes (successful reads and gets)
    uint8_t report_id = 0;
    uint32_t seq_num = 0;
};

// Message builders: zero-filled records with copies of the given texts.
Message make_message(inkora_serial_message_types type, uint32_t seq_num = 0);
Message make_path_message(inkora_serial_message_types type, const std::string& path);
Message make_report_request(inkora_serial_message_types type, const std::string& path,
                            const std::vector<uint8_t>& report);
Message make_get_feature(const std::string& path, uint8_t report_id, uint32_t report_len);
Message make_read_bulk(const std::string& path, uint32_t maximum_reports);
Message make_version(uint8_t major, uint8_t minor, uint8_t release, uint8_t supports_bulk);

// The set-feature report 253 that makes a pad (simulated or emulated) emit one
// input report: coordinate type 1 or 2, a point, the pen down or up.
std::vector<uint8_t> pen_simulation_report(uint8_t coordinate_type, uint16_t x, uint16_t y, bool pen_down);

// Texts of a result body or report field.
std::string text_of(const char* bytes, uint32_t length);
std::string text_of(const uint8_t* bytes, uint32_t length);

class RemotePeer {
public:
    // Starts the agent; check started() afterwards.
    explicit RemotePeer(AgentOptions options);
    // Ends the agent (stdin closed, then killed if it has not gone after a
    // few seconds) and frees the dispatch.
    ~RemotePeer();
    RemotePeer(const RemotePeer&) = delete;
    RemotePeer& operator=(const RemotePeer&) = delete;

    bool started() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }

    // Sends request (given a fresh sequence number) and waits for the reply
    // with the same number; null when none came within the time-out.
    Message request(Message request);
    // Sends message with a fresh sequence number (stored in the record) and
    // returns it; its reply, if any, arrives in the inbox.
    uint32_t send(inkora_messages& message);
    // Sends message with the sequence number it holds.
    bool send_as_is(inkora_messages& message);
    // Raw bytes to the agent's standard input.
    bool send_bytes(const uint8_t* bytes, size_t length);

    // Inbox: messages no request waited for, in arrival order.
    // The first one of the given type (and sequence number, if given), removed.
    Message wait_for(inkora_serial_message_types type, std::chrono::milliseconds timeout,
                     std::optional<uint32_t> seq_num = std::nullopt);
    // The first one for which match returns true, removed.
    Message wait_for_match(const std::function<bool(const inkora_messages&)>& match,
                           std::chrono::milliseconds timeout);
    // Number of inbox messages of a type (not removed).
    size_t count(inkora_serial_message_types type);
    // Arrival times of the pings received so far.
    std::vector<std::chrono::steady_clock::time_point> ping_times();
    // Stops or resumes answering pings.
    void set_answer_pings(bool answer);

    // Closes the agent's standard input and waits for it to exit: its exit
    // status, or -1 when it did not exit normally within timeout (then killed).
    int close_and_wait(std::chrono::milliseconds timeout);

    // High-level requests.
    std::optional<std::vector<Device>> enumerate();
    Result open(const std::string& name);
    Result close(const std::string& name);
    Result set_feature(const std::string& name, const std::vector<uint8_t>& report);
    Result set_output(const std::string& name, const std::vector<uint8_t>& report);
    Result get_feature(const std::string& name, uint8_t report_id, uint32_t report_len);
    // Makes the pad emit one input report (set-feature report 253): a pen
    // sample at (x, y), pen down or up; coordinate type 1 (report 1) or 2
    // (report 2, with the region under the point). A signature is a series
    // of these with the pen down, then one with the pen up.
    Result pen_sample(const std::string& name, uint16_t x, uint16_t y, bool pen_down, uint8_t coordinate_type = 2);
    // A read request that is answered later: returns its sequence number.
    uint32_t send_read(const std::string& name);
    uint32_t send_read_bulk(const std::string& name, uint32_t maximum_reports);
    // The reply to a read sent with send_read.
    Result wait_read(uint32_t seq_num, std::chrono::milliseconds timeout);

    // Called by the dispatch (internal).
    void deliver(inkora_messages* message);
    bool read_output(uint8_t* buffer, uint32_t length, uint32_t* count);
    bool write_input(const uint8_t* buffer, uint32_t length);

private:
    Result result_of(Message reply);

    AgentOptions options_;
    pid_t pid_ = -1;
    int stdin_fd_ = -1;
    int stdout_fd_ = -1;
    inkora_serial_dispatch* dispatch_ = nullptr;
    std::mutex write_mutex_;
    mutable std::mutex inbox_mutex_;
    std::condition_variable inbox_changed_;
    std::deque<Message> inbox_;
    std::vector<std::chrono::steady_clock::time_point> pings_;
    bool answer_pings_ = true;
    int exit_status_ = -2; // -2: not reaped yet
};

} // namespace inkora::peer

#endif
