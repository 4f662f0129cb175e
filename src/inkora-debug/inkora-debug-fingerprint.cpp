// The process fingerprint written at every init of the log: executable path,
// build architecture, distribution and machine architecture. The machine and
// distribution texts are gathered once per process and kept.

#include "inkora-debug.h"

#include "inkora-debug-private.h"

#include <sys/utsname.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>

namespace {

// Filled on first use, never freed (they outlive destroy). Init fills them
// before other threads exist; afterwards they are only read.
char* osArchitecture = nullptr;
char* osDistro = nullptr;

// Test hooks (see inkora-debug-private.h): plain buffers, so that nothing
// here allocates or throws.
constexpr size_t kHookPathLen = 1024;
std::array<char, kHookPathLen> distributionRoot{};
std::array<char, kHookPathLen> exeLinkPath{"/proc/self/exe"};

constexpr size_t kProcessNameLen = 1024;
constexpr size_t kLineBufferLen = 2048;

struct file_closer {
    void operator()(std::FILE* file) const noexcept { std::fclose(file); }
};
using unique_file = std::unique_ptr<std::FILE, file_closer>;

struct free_deleter {
    void operator()(void* p) const noexcept { std::free(p); }
};
using unique_text = std::unique_ptr<char, free_deleter>;

// root + path; a path that does not fit is left empty, so nothing is opened.
std::array<char, 2 * kHookPathLen> distribution_path(const char* path) noexcept {
    std::array<char, 2 * kHookPathLen> full{};
    const int n = std::snprintf(full.data(), full.size(), "%s%s", distributionRoot.data(), path);
    if (n < 0 || static_cast<size_t>(n) >= full.size()) {
        full[0] = '\0';
    }
    return full;
}

char* copy_text(std::string_view text) noexcept {
    auto* copy = static_cast<char*>(std::calloc(text.size() + 1, 1));
    if (copy != nullptr) {
        std::memcpy(copy, text.data(), text.size());
    }
    return copy;
}

void free_pair(key_value_pair* pair) noexcept {
    if (pair != nullptr) {
        std::free(pair->key);
        std::free(pair->value);
        std::free(pair);
    }
}

} // namespace

namespace inkora::debug_detail {

void set_distribution_root(const char* root) noexcept {
    std::snprintf(distributionRoot.data(), distributionRoot.size(), "%s", root != nullptr ? root : "");
}

void set_exe_link_path(const char* path) noexcept {
    std::snprintf(exeLinkPath.data(), exeLinkPath.size(), "%s", path != nullptr ? path : "/proc/self/exe");
}

} // namespace inkora::debug_detail

extern "C" {

uint8_t read_key_value_pair_file(const char* path, inkora_list* list) {
    if (path == nullptr) {
        return 0;
    }
    unique_file file(std::fopen(path, "r"));
    if (!file) {
        return 0;
    }
    std::array<char, kLineBufferLen> line{};
    // fgets reads at most 2047 bytes: a longer line arrives in pieces, and
    // each piece is handled as a line of its own.
    while (std::fgets(line.data(), static_cast<int>(line.size()), file.get()) != nullptr) {
        const std::string_view text(line.data());
        const size_t equals = text.find('=');
        if (equals == std::string_view::npos) {
            continue;
        }
        const std::string_view key = text.substr(0, equals);
        std::string_view value = text.substr(equals + 1);
        if (!value.empty() && value.back() == '\n') {
            value.remove_suffix(1);
        }
        if (!value.empty() && value.front() == '"') {
            // The opening quote and the last character (the closing quote);
            // a lone opening quote leaves an empty value.
            value.remove_prefix(1);
            if (!value.empty()) {
                value.remove_suffix(1);
            }
        }
        auto* pair = static_cast<key_value_pair*>(std::calloc(1, sizeof(key_value_pair)));
        if (pair == nullptr) {
            continue;
        }
        pair->key = copy_text(key);
        pair->value = copy_text(value);
        if (pair->key == nullptr || pair->value == nullptr || inkora_list_add(list, pair) == nullptr) {
            free_pair(pair);
        }
    }
    return 1;
}

void free_keypair_list(inkora_list* list) {
    if (list == nullptr) {
        return;
    }
    for (inkora_list_item* item = list->first; item != nullptr; item = item->next) {
        free_pair(static_cast<key_value_pair*>(item->ptr));
    }
    inkora_list_free(list);
}

char* linux_get_redhat_distribution(void) {
    unique_file file(std::fopen(distribution_path("/etc/redhat-release").data(), "r"));
    if (!file) {
        return nullptr;
    }
    std::array<char, kLineBufferLen> line{};
    if (std::fgets(line.data(), static_cast<int>(line.size()), file.get()) == nullptr) {
        return nullptr;
    }
    std::string_view text(line.data());
    if (text.empty()) {
        return nullptr;
    }
    if (text.back() == '\n') {
        text.remove_suffix(1);
    }
    return copy_text(text);
}

char* linux_get_distribution(void) {
    constexpr std::array<const char*, 3> kReleaseFiles{"/etc/os-release", "/usr/lib/os-release", "/etc/lsb-release"};
    for (const auto releaseFile : kReleaseFiles) {
        inkora_list* pairs = inkora_create_list();
        if (pairs == nullptr) {
            continue;
        }
        char* found = nullptr;
        if (read_key_value_pair_file(distribution_path(releaseFile).data(), pairs) != 0) {
            for (inkora_list_item* item = pairs->first; item != nullptr; item = item->next) {
                const auto* pair = static_cast<const key_value_pair*>(item->ptr);
                if (pair->key == nullptr || pair->value == nullptr) {
                    continue;
                }
                const std::string_view key(pair->key);
                if (key == "PRETTY_NAME" || key == "DISTRIB_DESCRIPTION") {
                    found = copy_text(pair->value);
                    break;
                }
            }
        }
        free_keypair_list(pairs);
        if (found != nullptr) {
            return found;
        }
    }
    if (char* redhat = linux_get_redhat_distribution(); redhat != nullptr) {
        return redhat;
    }
    // Always an owned text, so that every caller frees what it gets.
    return copy_text("Linux (Unknown)");
}

char* inkora_debug_get_current_process_name(void) {
    auto* name = static_cast<char*>(std::calloc(kProcessNameLen, 1));
    if (name == nullptr) {
        return nullptr;
    }
    // readlink does not terminate; the zero-filled buffer and the limit of
    // 1023 bytes keep the text terminated. On failure the name stays empty.
    if (readlink(exeLinkPath.data(), name, kProcessNameLen - 1) < 0) {
        name[0] = '\0';
    }
    return name;
}

const char* inkora_debug_get_native_architecture(void) {
    if (osArchitecture != nullptr) {
        return osArchitecture;
    }
    struct utsname info {};
    if (uname(&info) != 0) {
        return "";
    }
    INKORA_LOG_INFO("Linux kernel version is %s - %s", info.release, info.version);
    osArchitecture = copy_text(info.machine);
    return osArchitecture != nullptr ? osArchitecture : "";
}

const char* inkora_debug_get_process_architecture(void) {
    return sizeof(void*) == 8 ? "x64" : "x32";
}

const char* inkora_debug_get_operating_system(void) {
    if (osDistro == nullptr) {
        osDistro = linux_get_distribution();
    }
    return osDistro != nullptr ? osDistro : "Linux (Unknown)";
}

void inkora_debug_print_fingerprint(void) {
    unique_text name(inkora_debug_get_current_process_name());
    const char* nativeArchitecture = inkora_debug_get_native_architecture();
    const char* operatingSystem = inkora_debug_get_operating_system();
    const char* processArchitecture = inkora_debug_get_process_architecture();
    INKORA_LOG_INFO("Process starting, proccess name: '%s', process architecture: %s, os version: %s, os "
                    "architecture: %s",
                    name ? name.get() : "", processArchitecture, operatingSystem, nativeArchitecture);
}

} // extern "C"
