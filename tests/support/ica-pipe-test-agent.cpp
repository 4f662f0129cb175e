// A small peer program for the relay tests, started as the agent. Its
// behaviour is chosen by the environment variable INKORA_TEST_AGENT_MODE,
// since the relay starts it without arguments:
//   echo    (default) copies standard input to standard output;
//   stderr  writes "to-stderr\n" on standard error, then echoes;
//   info    writes "pid=<pid> argc=<argc> argv0=<argv[0]> cwd=<cwd> sigblk=<mask>\n"
//           (mask: the SigBlk field of /proc/self/status), then echoes;
//   exit    writes "bye\n" and exits with status 0 at once;
//   stall   reads nothing for 300 ms (its input pipe fills up), then echoes;
//   gen     reads lines "<count><letter>\n" and answers each with <count>
//           copies of <letter> in one write.
// When its input ends it exits with status 0.
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

bool write_all(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = write(fd, data, size);
        if (n <= 0) {
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

int echo() {
    std::array<char, 4096> buffer{};
    for (;;) {
        const ssize_t n = read(STDIN_FILENO, buffer.data(), buffer.size());
        if (n <= 0) {
            return 0;
        }
        if (!write_all(STDOUT_FILENO, buffer.data(), static_cast<std::size_t>(n))) {
            return 1;
        }
    }
}

int generate() {
    std::string pending;
    std::array<char, 256> buffer{};
    for (;;) {
        const ssize_t n = read(STDIN_FILENO, buffer.data(), buffer.size());
        if (n <= 0) {
            return 0;
        }
        pending.append(buffer.data(), static_cast<std::size_t>(n));
        for (std::size_t end = pending.find('\n'); end != std::string::npos; end = pending.find('\n')) {
            const std::string line = pending.substr(0, end);
            pending.erase(0, end + 1);
            if (line.size() < 2) {
                continue;
            }
            const std::size_t count = std::strtoul(line.c_str(), nullptr, 10);
            const std::vector<char> block(count, line.back());
            // One write: the relay test controls how the bytes leave the agent.
            if (write(STDOUT_FILENO, block.data(), block.size()) != static_cast<ssize_t>(block.size())) {
                return 1;
            }
        }
    }
}

// The blocked-signal mask as the kernel reports it, in hexadecimal.
std::string blocked_signals() {
    FILE* status = std::fopen("/proc/self/status", "r");
    if (status == nullptr) {
        return "?";
    }
    std::array<char, 256> line{};
    std::string mask = "?";
    while (std::fgets(line.data(), static_cast<int>(line.size()), status) != nullptr) {
        if (std::strncmp(line.data(), "SigBlk:", 7) == 0) {
            mask = line.data() + 7;
            mask.erase(0, mask.find_first_not_of(" \t"));
            mask.erase(mask.find_last_not_of(" \t\n") + 1);
        }
    }
    std::fclose(status);
    return mask;
}

} // namespace

int main(int argc, char** argv) {
    const char* modeText = std::getenv("INKORA_TEST_AGENT_MODE");
    const std::string_view mode = modeText != nullptr ? modeText : "echo";
    if (mode == "exit") {
        write_all(STDOUT_FILENO, "bye\n", 4);
        return 0;
    }
    if (mode == "stderr") {
        write_all(STDERR_FILENO, "to-stderr\n", 10);
    }
    if (mode == "info") {
        std::array<char, 4096> cwd{};
        if (getcwd(cwd.data(), cwd.size()) == nullptr) {
            cwd[0] = '\0';
        }
        std::array<char, 8192> line{};
        const int size = std::snprintf(line.data(), line.size(), "pid=%d argc=%d argv0=%s cwd=%s sigblk=%s\n",
                                       static_cast<int>(getpid()), argc, argc > 0 ? argv[0] : "(none)", cwd.data(),
                                       blocked_signals().c_str());
        if (size > 0) {
            write_all(STDOUT_FILENO, line.data(), std::min<std::size_t>(static_cast<std::size_t>(size), line.size() - 1));
        }
    }
    if (mode == "stall") {
        usleep(300000);
    }
    if (mode == "gen") {
        return generate();
    }
    return echo();
}
