// The remote side of the wire protocol: the agent as a child process with
// pipes, and a dispatch that reads its output on the dispatch's input thread.
#include "remote-peer.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace inkora::peer {
namespace {

// The one live peer: the dispatch's functions have no context argument.
std::atomic<RemotePeer*> current{nullptr};

inkora_error_code write_hook(const uint8_t* buffer, uint32_t len) {
    RemotePeer* peer = current.load();
    return peer != nullptr && peer->write_input(buffer, len) ? INKORA_CODE_SUCCESS : INKORA_CODE_ERROR;
}

inkora_error_code read_hook(uint8_t* buffer, uint32_t len, uint32_t* count) {
    RemotePeer* peer = current.load();
    return peer != nullptr && peer->read_output(buffer, len, count) ? INKORA_CODE_SUCCESS : INKORA_CODE_ERROR;
}

void unhandled_hook(inkora_messages* message) {
    RemotePeer* peer = current.load();
    if (peer != nullptr)
        peer->deliver(message);
    else
        inkora_free_message(message);
}

char* copy_text(const std::string& text) {
    auto* copy = static_cast<char*>(std::calloc(text.size() + 1, 1));
    if (copy != nullptr)
        std::memcpy(copy, text.data(), text.size());
    return copy;
}

uint8_t* copy_bytes(const std::vector<uint8_t>& bytes) {
    if (bytes.empty())
        return nullptr;
    auto* copy = static_cast<uint8_t*>(std::calloc(bytes.size(), 1));
    if (copy != nullptr)
        std::memcpy(copy, bytes.data(), bytes.size());
    return copy;
}

uint32_t message_type(const inkora_messages& message) {
    uint32_t type = 0;
    std::memcpy(&type, &message.common.message_id, sizeof type);
    return type;
}

} // namespace

Message make_message(inkora_serial_message_types type, uint32_t seq_num) {
    Message message(static_cast<inkora_messages*>(std::calloc(1, sizeof(inkora_messages))));
    if (message) {
        message->common.message_id = type;
        message->common.seq_num = seq_num;
    }
    return message;
}

Message make_path_message(inkora_serial_message_types type, const std::string& path) {
    Message message = make_message(type);
    if (message) {
        message->open_request.path = copy_text(path);
        message->open_request.path_len = static_cast<uint32_t>(path.size());
    }
    return message;
}

Message make_report_request(inkora_serial_message_types type, const std::string& path,
                            const std::vector<uint8_t>& report) {
    Message message = make_message(type);
    if (message) {
        message->set_feature_request.path = copy_text(path);
        message->set_feature_request.path_len = static_cast<uint32_t>(path.size());
        message->set_feature_request.report = copy_bytes(report);
        message->set_feature_request.report_len = static_cast<uint32_t>(report.size());
    }
    return message;
}

Message make_get_feature(const std::string& path, uint8_t report_id, uint32_t report_len) {
    Message message = make_message(INKORA_MESSAGE_GET_FEATURE_REQUEST);
    if (message) {
        message->get_feature_request.path = copy_text(path);
        message->get_feature_request.path_len = static_cast<uint32_t>(path.size());
        message->get_feature_request.report_id = report_id;
        message->get_feature_request.report_len = report_len;
    }
    return message;
}

Message make_read_bulk(const std::string& path, uint32_t maximum_reports) {
    Message message = make_message(INKORA_MESSAGE_READ_BULK_REQUEST);
    if (message) {
        message->read_bulk_req.path = copy_text(path);
        message->read_bulk_req.path_len = static_cast<uint32_t>(path.size());
        message->read_bulk_req.maximum_reports = maximum_reports;
    }
    return message;
}

Message make_version(uint8_t major, uint8_t minor, uint8_t release, uint8_t supports_bulk) {
    Message message = make_message(INKORA_MESSAGE_VERSION_INFO);
    if (message) {
        message->version.total_len = 4;
        message->version.version_major = major;
        message->version.version_minor = minor;
        message->version.version_release = release;
        message->version.supports_bulk = supports_bulk;
    }
    return message;
}

std::vector<uint8_t> pen_simulation_report(uint8_t coordinate_type, uint16_t x, uint16_t y, bool pen_down) {
    // 67 bytes: 0 id 253; 1 the value 100; 2 coordinate type; 6 0x11 with the
    // pen down, 0x10 up; 7-8 x, 9-10 y, little-endian.
    std::vector<uint8_t> report(67, 0);
    report[0] = 253;
    report[1] = 100;
    report[2] = coordinate_type;
    report[6] = pen_down ? 0x11 : 0x10;
    report[7] = static_cast<uint8_t>(x);
    report[8] = static_cast<uint8_t>(x >> 8);
    report[9] = static_cast<uint8_t>(y);
    report[10] = static_cast<uint8_t>(y >> 8);
    return report;
}

std::string text_of(const char* bytes, uint32_t length) {
    return bytes != nullptr ? std::string(bytes, length) : std::string();
}

std::string text_of(const uint8_t* bytes, uint32_t length) {
    return text_of(reinterpret_cast<const char*>(bytes), length);
}

RemotePeer::RemotePeer(AgentOptions options) : options_(std::move(options)), answer_pings_(options_.answer_pings) {
    RemotePeer* expected = nullptr;
    if (!current.compare_exchange_strong(expected, this))
        return; // another peer is alive: this one stays unstarted
    // A write to an agent that has gone must fail, not end the process.
    signal(SIGPIPE, SIG_IGN);
    int to_agent[2] = {-1, -1};
    int from_agent[2] = {-1, -1};
    if (pipe2(to_agent, O_CLOEXEC) != 0 || pipe2(from_agent, O_CLOEXEC) != 0) {
        current.store(nullptr);
        return;
    }
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(to_agent[0], STDIN_FILENO);
        dup2(from_agent[1], STDOUT_FILENO);
        if (!options_.stderr_path.empty()) {
            const int err = ::open(options_.stderr_path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
            if (err >= 0)
                dup2(err, STDERR_FILENO);
        }
        signal(SIGPIPE, SIG_DFL);
        for (const auto& name : options_.unset_environment)
            unsetenv(name.c_str());
        for (const auto& [name, value] : options_.environment)
            setenv(name.c_str(), value.c_str(), 1);
        char* argv[] = {const_cast<char*>(options_.executable.c_str()), nullptr};
        execv(options_.executable.c_str(), argv);
        _exit(127);
    }
    ::close(to_agent[0]);
    ::close(from_agent[1]);
    if (pid < 0) {
        ::close(to_agent[1]);
        ::close(from_agent[0]);
        current.store(nullptr);
        return;
    }
    pid_ = pid;
    stdin_fd_ = to_agent[1];
    stdout_fd_ = from_agent[0];
    dispatch_ = static_cast<inkora_serial_dispatch*>(std::calloc(1, sizeof(inkora_serial_dispatch)));
    inkora_message_create_dispatch(dispatch_);
    dispatch_->unhandled_func = unhandled_hook;
    dispatch_->read_func = read_hook;
    inkora_message_create_dispatch_read_thread(dispatch_);
    const inkora_serial_write_func writer = write_hook;
    __atomic_store_n(&dispatch_->write_func, writer, __ATOMIC_RELEASE);
}

RemotePeer::~RemotePeer() {
    if (pid_ <= 0)
        return;
    close_and_wait(std::chrono::seconds(5));
    // The agent has gone, so the input thread has met the end of its output.
    inkora_message_destroy_dispatch(dispatch_);
    dispatch_ = nullptr;
    if (stdout_fd_ >= 0)
        ::close(stdout_fd_);
    current.store(nullptr);
}

int RemotePeer::close_and_wait(std::chrono::milliseconds timeout) {
    if (pid_ <= 0)
        return -1;
    {
        const std::lock_guard lock(write_mutex_);
        if (stdin_fd_ >= 0) {
            ::close(stdin_fd_);
            stdin_fd_ = -1;
        }
    }
    if (exit_status_ != -2)
        return exit_status_;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    int status = 0;
    for (;;) {
        const pid_t done = waitpid(pid_, &status, WNOHANG);
        if (done == pid_) {
            exit_status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            return exit_status_;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            kill(pid_, SIGKILL);
            waitpid(pid_, &status, 0);
            exit_status_ = -1;
            return exit_status_;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

bool RemotePeer::write_input(const uint8_t* buffer, uint32_t length) {
    const std::lock_guard lock(write_mutex_);
    uint32_t written = 0;
    while (written < length) {
        if (stdin_fd_ < 0)
            return false;
        const ssize_t count = write(stdin_fd_, buffer + written, length - written);
        if (count < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        written += static_cast<uint32_t>(count);
    }
    return true;
}

bool RemotePeer::read_output(uint8_t* buffer, uint32_t length, uint32_t* count) {
    for (;;) {
        const ssize_t got = read(stdout_fd_, buffer, length);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        *count = static_cast<uint32_t>(got);
        return true;
    }
}

void RemotePeer::deliver(inkora_messages* message) {
    Message owned(message);
    if (message_type(*message) == INKORA_MESSAGE_PING) {
        bool answer = false;
        {
            const std::lock_guard lock(inbox_mutex_);
            pings_.push_back(std::chrono::steady_clock::now());
            answer = answer_pings_;
        }
        if (answer) {
            Message pong = make_message(INKORA_MESSAGE_PONG, message->common.seq_num);
            if (pong)
                inkora_serial_send_message(dispatch_, pong.get());
        }
    }
    const std::lock_guard lock(inbox_mutex_);
    inbox_.push_back(std::move(owned));
    inbox_changed_.notify_all();
}

Message RemotePeer::request(Message request) {
    if (dispatch_ == nullptr || !request)
        return nullptr;
    inkora_messages* reply = nullptr;
    if (inkora_serial_send_get_message(dispatch_, request.get(), &reply, nullptr, 1) != INKORA_CODE_SUCCESS)
        return nullptr;
    return Message(reply);
}

uint32_t RemotePeer::send(inkora_messages& message) {
    message.common.seq_num = inkora_serial_get_seq_num(dispatch_);
    send_as_is(message);
    return message.common.seq_num;
}

bool RemotePeer::send_as_is(inkora_messages& message) {
    return dispatch_ != nullptr && inkora_serial_send_message(dispatch_, &message) == INKORA_CODE_SUCCESS;
}

bool RemotePeer::send_bytes(const uint8_t* bytes, size_t length) {
    return write_input(bytes, static_cast<uint32_t>(length));
}

Message RemotePeer::wait_for_match(const std::function<bool(const inkora_messages&)>& match,
                                   std::chrono::milliseconds timeout) {
    std::unique_lock lock(inbox_mutex_);
    Message found;
    inbox_changed_.wait_for(lock, timeout, [&] {
        for (auto it = inbox_.begin(); it != inbox_.end(); ++it) {
            if (match(**it)) {
                found = std::move(*it);
                inbox_.erase(it);
                return true;
            }
        }
        return false;
    });
    return found;
}

Message RemotePeer::wait_for(inkora_serial_message_types type, std::chrono::milliseconds timeout,
                             std::optional<uint32_t> seq_num) {
    return wait_for_match(
        [&](const inkora_messages& message) {
            return message_type(message) == static_cast<uint32_t>(type) &&
                   (!seq_num || message.common.seq_num == *seq_num);
        },
        timeout);
}

size_t RemotePeer::count(inkora_serial_message_types type) {
    const std::lock_guard lock(inbox_mutex_);
    size_t n = 0;
    for (const auto& message : inbox_)
        n += message_type(*message) == static_cast<uint32_t>(type) ? 1 : 0;
    return n;
}

std::vector<std::chrono::steady_clock::time_point> RemotePeer::ping_times() {
    const std::lock_guard lock(inbox_mutex_);
    return pings_;
}

void RemotePeer::set_answer_pings(bool answer) {
    const std::lock_guard lock(inbox_mutex_);
    answer_pings_ = answer;
}

std::optional<std::vector<Device>> RemotePeer::enumerate() {
    Message reply = request(make_message(INKORA_MESSAGE_DEVICEENUM_REQUEST));
    if (!reply || message_type(*reply) != INKORA_MESSAGE_DEVICEENUM_RESPONSE)
        return std::nullopt;
    std::vector<Device> devices;
    const auto& answer = reply->enum_response;
    for (uint32_t i = 0; i < answer.device_count && answer.device_list != nullptr; ++i) {
        const inkora_message_device& d = answer.device_list[i];
        devices.push_back(Device{text_of(d.path, d.path_len), d.product_id, d.vendor_id, text_of(d.model, d.model_len),
                                 text_of(d.manufacturer, d.manufacturer_len)});
    }
    return devices;
}

Result RemotePeer::result_of(Message reply) {
    Result result;
    if (!reply)
        return result;
    result.answered = true;
    result.seq_num = reply->common.seq_num;
    switch (message_type(*reply)) {
    case INKORA_MESSAGE_OPEN_RESPONSE:
    case INKORA_MESSAGE_CLOSE_RESPONSE:
    case INKORA_MESSAGE_SET_OUTPUT_RESPONSE:
    case INKORA_MESSAGE_SET_FEATURE_RESPONSE: {
        const auto& body = reply->open_response;
        result.success = body.success != 0;
        result.path = text_of(body.path, body.path_len);
        result.error = text_of(body.error, body.error_len);
        break;
    }
    case INKORA_MESSAGE_GET_FEATURE_RESPONSE: {
        const auto& body = reply->get_feature_response;
        result.success = body.success != 0;
        result.path = text_of(body.path, body.path_len);
        if (result.success)
            result.report.assign(body.report, body.report + body.report_len);
        else
            result.error = text_of(body.report, body.report_len);
        break;
    }
    case INKORA_MESSAGE_READ_RESPONSE: {
        const auto& body = reply->read_response;
        result.success = body.success != 0;
        result.path = text_of(body.path, body.path_len);
        result.report_id = body.report_id;
        if (result.success && body.report != nullptr)
            result.report.assign(body.report, body.report + body.report_len);
        else
            result.error = text_of(body.report, body.report_len);
        break;
    }
    default:
        result.answered = false;
        break;
    }
    return result;
}

Result RemotePeer::open(const std::string& name) {
    return result_of(request(make_path_message(INKORA_MESSAGE_OPEN_REQUEST, name)));
}

Result RemotePeer::close(const std::string& name) {
    return result_of(request(make_path_message(INKORA_MESSAGE_CLOSE_REQUEST, name)));
}

Result RemotePeer::set_feature(const std::string& name, const std::vector<uint8_t>& report) {
    return result_of(request(make_report_request(INKORA_MESSAGE_SET_FEATURE_REQUEST, name, report)));
}

Result RemotePeer::set_output(const std::string& name, const std::vector<uint8_t>& report) {
    return result_of(request(make_report_request(INKORA_MESSAGE_SET_OUTPUT_REQUEST, name, report)));
}

Result RemotePeer::get_feature(const std::string& name, uint8_t report_id, uint32_t report_len) {
    return result_of(request(make_get_feature(name, report_id, report_len)));
}

Result RemotePeer::pen_sample(const std::string& name, uint16_t x, uint16_t y, bool pen_down,
                              uint8_t coordinate_type) {
    return set_feature(name, pen_simulation_report(coordinate_type, x, y, pen_down));
}

uint32_t RemotePeer::send_read(const std::string& name) {
    Message message = make_path_message(INKORA_MESSAGE_READ_REQUEST, name);
    return message ? send(*message) : 0;
}

uint32_t RemotePeer::send_read_bulk(const std::string& name, uint32_t maximum_reports) {
    Message message = make_read_bulk(name, maximum_reports);
    return message ? send(*message) : 0;
}

Result RemotePeer::wait_read(uint32_t seq_num, std::chrono::milliseconds timeout) {
    return result_of(wait_for(INKORA_MESSAGE_READ_RESPONSE, timeout, seq_num));
}

} // namespace inkora::peer
