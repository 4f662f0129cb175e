// Test support: run a piece of code in a forked child process with an
// environment of its own, and a scratch directory that is removed afterwards.
//
// The debug log reads its environment once per init and keeps process-wide
// state, so every case that depends on the environment runs in a fresh child.
// The child reports its verdict through its exit status (0 = fine); the parent
// checks files the child left behind. Under AddressSanitizer the child runs a
// leak check before it leaves, so leaks in the child fail the case too.
#ifndef INKORA_TEST_CHILD_PROCESS_HPP
#define INKORA_TEST_CHILD_PROCESS_HPP

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace inkora::test {

// Every variable that the log, the trace or their location fallback read.
inline const std::vector<std::string>& debug_environment_names() {
    static const std::vector<std::string> names{
        "INKORA_DEBUG",       "INKORA_DEBUG_LEVEL", "INKORA_DEBUG_LOCATION", "INKORA_DEBUG_FILE",
        "INKORA_DEBUG_HANDLERS", "INKORA_TRACE",    "INKORA_TRACE_FILE",     "TMPDIR",
        "TEMP",               "TMP"};
    return names;
}

using environment = std::vector<std::pair<std::string, std::string>>;

struct child_result {
    pid_t pid = -1;
    int exit_code = -1; // -1 when the child did not exit normally
};

// Forks; the child clears the debug variables, sets env, runs body and exits
// with its result (and 90 when a leak was found).
inline child_result run_in_child(const environment& env, const std::function<int()>& body) {
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        for (const auto& name : debug_environment_names()) {
            unsetenv(name.c_str());
        }
        for (const auto& [name, value] : env) {
            setenv(name.c_str(), value.c_str(), 1);
        }
        int code = body();
#if defined(__SANITIZE_ADDRESS__)
        if (code == 0 && __lsan_do_recoverable_leak_check() != 0) {
            code = 90;
        }
#endif
        std::fflush(nullptr);
        _exit(code);
    }
    child_result result;
    result.pid = pid;
    if (pid < 0) {
        return result;
    }
    int status = 0;
    if (waitpid(pid, &status, 0) == pid && WIFEXITED(status)) {
        result.exit_code = WEXITSTATUS(status);
    }
    return result;
}

// A fresh directory under the system's temporary directory, removed with
// everything in it.
class scratch_dir {
public:
    scratch_dir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "inkora-debug-test-XXXXXX").string();
        if (mkdtemp(pattern.data()) != nullptr) {
            path_ = pattern;
        }
    }
    ~scratch_dir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    scratch_dir(const scratch_dir&) = delete;
    scratch_dir& operator=(const scratch_dir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::string str() const { return path_.string(); }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

    // File names in the directory, sorted.
    std::vector<std::string> entries() const {
        std::vector<std::string> names;
        std::error_code ec;
        for (const auto& entry : std::filesystem::directory_iterator(path_, ec)) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

private:
    std::filesystem::path path_;
};

inline std::optional<std::string> read_file(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

inline void write_file(const std::filesystem::path& path, const std::string& content) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

} // namespace inkora::test

#endif // INKORA_TEST_CHILD_PROCESS_HPP
