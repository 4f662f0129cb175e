// The levelled debug log: configuration from the environment, the level gate,
// the report path and the built-in file handler.
//
// The log has no lock of its own. Init and destroy run while no other thread
// reports; reports read the configuration and the handler list freely. Each
// record reaches the log file in one fwrite, which stdio serialises per
// stream, so records of different threads never interleave.

#include "inkora-debug.h"

#include "inkora-debug-private.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string_view>

extern "C" {
uint32_t inkora_debug_gate = UINT32_MAX;
}

namespace inkora::debug_detail {

log_state& state() noexcept {
    static log_state s;
    return s;
}

char* full_path(const char* location, const char* name) noexcept {
    if (location == nullptr || name == nullptr) {
        return nullptr;
    }
    const size_t size = std::strlen(location) + 1 + std::strlen(name) + 1;
    auto* path = static_cast<char*>(std::calloc(size, 1));
    if (path != nullptr) {
        std::snprintf(path, size, "%s%c%s", location, pathChar, name);
    }
    return path;
}

} // namespace inkora::debug_detail

namespace {

using inkora::debug_detail::state;

constexpr size_t kMessageBufferLen = 8192;
// The text holds at most 8190 characters: the format limit is one byte below
// the buffer, as the record layout has always had it.
constexpr size_t kMessageFormatLimit = kMessageBufferLen - 1;
constexpr size_t kRenderBufferLen = 8192;

struct level_name {
    inkora_debug_level level;
    std::string_view upper;
    std::string_view lower;
};

constexpr std::array<level_name, 8> kLevelNames{{
    {INKORA_DEBUG_LEVEL_ALL, "ALL", "all"},
    {INKORA_DEBUG_LEVEL_FINEST, "FINEST", "finest"},
    {INKORA_DEBUG_LEVEL_FINER, "FINER", "finer"},
    {INKORA_DEBUG_LEVEL_FINE, "FINE", "fine"},
    {INKORA_DEBUG_LEVEL_INFO, "INFO", "info"},
    {INKORA_DEBUG_LEVEL_WARNING, "WARNING", "warning"},
    {INKORA_DEBUG_LEVEL_SEVERE, "SEVERE", "severe"},
    {INKORA_DEBUG_LEVEL_NONE, "NONE", "none"},
}};

constexpr std::array<std::string_view, 7> kSwitchOn{"true", "TRUE", "1", "yes", "YES", "on", "ON"};

bool switch_value_on(const char* value) noexcept {
    if (value == nullptr) {
        return false;
    }
    const std::string_view v(value);
    for (const auto on : kSwitchOn) {
        if (v == on) {
            return true;
        }
    }
    return false;
}

char* copy_text(const char* text) noexcept {
    const size_t len = std::strlen(text);
    auto* copy = static_cast<char*>(std::calloc(len + 1, 1));
    if (copy != nullptr) {
        std::memcpy(copy, text, len);
    }
    return copy;
}

void replace_owned(char*& slot, char* text) noexcept {
    std::free(slot);
    slot = text;
}

// Keeps the exported gate in step with maxLevel: the caller-side macro then
// needs one comparison. While not initialised the exported gate lets nothing
// through.
void set_max_level(uint32_t level) noexcept {
    auto& s = state();
    s.maxLevel.store(level, std::memory_order_relaxed);
    const uint32_t gate = s.initDone.load(std::memory_order_relaxed) != 0 ? level : UINT32_MAX;
    std::atomic_ref<uint32_t>(inkora_debug_gate).store(gate, std::memory_order_relaxed);
}

// A template from the environment, or the default, with its tokens replaced.
char* substituted_name(const char* variable, const char* fallback) noexcept {
    const char* value = std::getenv(variable);
    char* name = copy_text(value != nullptr ? value : fallback);
    inkora_debug_file_sub(&name);
    return name;
}

} // namespace

extern "C" {

inkora_debug_handler inkora_debug_file_handler = {
    inkora_debug_file_handler_open,
    inkora_debug_file_handler_close,
    inkora_debug_file_handler_flush,
    inkora_debug_file_publisher,
    inkora_debug_default_formatter,
    inkora_debug_default_filter,
    INKORA_DEBUG_LEVEL_ALL,
    nullptr,
};

const char* inkora_debug_get_level_name(inkora_debug_level level) {
    for (const auto& entry : kLevelNames) {
        if (entry.level == level) {
            return entry.upper.data();
        }
    }
    return "UNKNOWN";
}

uint32_t inkora_debug_get_current_process_id(void) {
    return static_cast<uint32_t>(getpid());
}

uint32_t inkora_debug_get_current_thread_id(void) {
    return static_cast<uint32_t>(gettid());
}

void replace_token(char** text, const char* token, const char* replacement) {
    if (text == nullptr || *text == nullptr || token == nullptr || *token == '\0' || replacement == nullptr) {
        return;
    }
    const char* at = std::strstr(*text, token);
    if (at == nullptr) {
        return;
    }
    const size_t before = static_cast<size_t>(at - *text);
    const size_t tokenLen = std::strlen(token);
    const size_t replacementLen = std::strlen(replacement);
    const size_t afterLen = std::strlen(at + tokenLen);
    auto* result = static_cast<char*>(std::calloc(before + replacementLen + afterLen + 1, 1));
    if (result == nullptr) {
        return;
    }
    std::memcpy(result, *text, before);
    std::memcpy(result + before, replacement, replacementLen);
    std::memcpy(result + before + replacementLen, at + tokenLen, afterLen);
    std::free(*text);
    *text = result;
}

void inkora_debug_file_sub(char** name) {
    if (name == nullptr || *name == nullptr) {
        return;
    }
    std::array<char, 16> pid{};
    std::snprintf(pid.data(), pid.size(), "%u", inkora_debug_get_current_process_id());
    replace_token(name, "${pid}", pid.data());
    const char* label = state().label;
    replace_token(name, "${label}", label != nullptr ? label : "");
    // Drawn for every name, token or not, from the unseeded default
    // generator; uniqueness of names comes from ${pid}.
    std::array<char, 10> digits{};
    for (size_t i = 0; i < 9; ++i) {
        digits[i] = static_cast<char>('0' + std::rand() % 10); // NOLINT(cert-msc30-c)
    }
    replace_token(name, "${random}", digits.data());
}

void inkora_read_env_debug_path(void) {
    // The first of these that is set wins, even when set to the empty text.
    constexpr std::array<const char*, 4> kLocations{"INKORA_DEBUG_LOCATION", "TMPDIR", "TEMP", "TMP"};
    const char* location = "/tmp/";
    for (const char* variable : kLocations) {
        if (const char* value = std::getenv(variable); value != nullptr) {
            location = value;
            break;
        }
    }
    replace_owned(state().debugPath, copy_text(location));
}

void inkora_read_env_debug_level(void) {
    inkora_debug_level level = INKORA_DEBUG_LEVEL_ALL;
    if (const char* value = std::getenv("INKORA_DEBUG_LEVEL"); value != nullptr) {
        const std::string_view v(value);
        for (const auto& entry : kLevelNames) {
            if (v == entry.upper || v == entry.lower) {
                level = entry.level;
                break;
            }
        }
    }
    state().debugLevel = level;
}

void inkora_read_env_debug_file(void) {
    replace_owned(state().debugFile, substituted_name("INKORA_DEBUG_FILE", "inkora-debug-${label}-${pid}.log"));
}

void inkora_read_env_trace_file(void) {
    replace_owned(state().traceFile, substituted_name("INKORA_TRACE_FILE", "inkora-trace-${label}-${pid}.pcap"));
}

void inkora_read_env_handlers(void) {
    const char* value = std::getenv("INKORA_DEBUG_HANDLERS");
    if (value == nullptr) {
        value = "file";
    }
    if (*value == '\0' || std::strstr(value, "file") != nullptr) {
        inkora_debug_add_handler(&inkora_debug_file_handler);
    }
}

void inkora_debug_setup(void) {
    auto& s = state();
    s.debugEnabled = switch_value_on(std::getenv("INKORA_DEBUG")) ? 1 : 0;
    if (s.debugEnabled != 0) {
        inkora_read_env_debug_path();
        inkora_read_env_debug_level();
        inkora_read_env_debug_file();
        inkora_read_env_handlers();
    } else {
        s.debugLevel = INKORA_DEBUG_LEVEL_NONE;
    }
    const char* trace = std::getenv("INKORA_TRACE");
    const bool traceOn = trace != nullptr ? switch_value_on(trace) : s.debugEnabled != 0;
    s.traceEnabled.store(traceOn ? 1 : 0, std::memory_order_relaxed);
    if (traceOn) {
        inkora_read_env_trace_file();
        if (s.debugPath == nullptr) {
            inkora_read_env_debug_path();
        }
    }
}

void inkora_debug_init(const char* label) {
    auto& s = state();
    if (s.initDone.load(std::memory_order_acquire) != 0) {
        return;
    }
    replace_owned(s.debugPath, nullptr);
    replace_owned(s.debugFile, nullptr);
    replace_owned(s.traceFile, nullptr);
    s.debugEnabled = 0;
    s.traceEnabled.store(0, std::memory_order_relaxed);
    s.debugLevel = INKORA_DEBUG_LEVEL_NONE;
    // The dispatch functions saved by the trace wrappers are kept: a dispatch
    // wrapped before a destroy still calls the wrappers, and clearing them
    // would make every later write of that dispatch fail.
    s.label = label;
    s.handlers = inkora_create_list();
    s.initDone.store(1, std::memory_order_release);
    set_max_level(INKORA_DEBUG_LEVEL_NONE);

    inkora_debug_setup();

    set_max_level(s.debugLevel);
    for (inkora_list_item* item = s.handlers != nullptr ? s.handlers->first : nullptr; item != nullptr;
         item = item->next) {
        auto* handler = static_cast<inkora_debug_handler*>(item->ptr);
        handler->level = s.debugLevel;
        if (handler->open != nullptr) {
            handler->open(handler);
        }
    }
    inkora_debug_print_fingerprint();
}

void inkora_debug_destroy(void) {
    auto& s = state();
    if (s.initDone.load(std::memory_order_acquire) == 0) {
        return;
    }
    // Reports stop at the caller's comparison from here on.
    std::atomic_ref<uint32_t>(inkora_debug_gate).store(UINT32_MAX, std::memory_order_relaxed);
    for (inkora_list_item* item = s.handlers != nullptr ? s.handlers->first : nullptr; item != nullptr;
         item = item->next) {
        auto* handler = static_cast<inkora_debug_handler*>(item->ptr);
        if (handler->close != nullptr) {
            handler->close(handler);
        }
    }
    inkora_list_free(s.handlers);
    s.handlers = nullptr;
    inkora::debug_detail::close_trace();
    replace_owned(s.debugPath, nullptr);
    replace_owned(s.debugFile, nullptr);
    replace_owned(s.traceFile, nullptr);
    s.initDone.store(0, std::memory_order_release);
}

void inkora_debug_add_handler(inkora_debug_handler* handler) {
    if (handler == nullptr) {
        return;
    }
    inkora_list_add(state().handlers, handler);
    inkora_debug_recalculate_debug_level();
}

void inkora_debug_remove_handler(inkora_debug_handler* handler) {
    inkora_list_remove_ptr(state().handlers, handler);
}

void inkora_debug_recalculate_debug_level(void) {
    uint32_t lowest = INKORA_DEBUG_LEVEL_NONE;
    const inkora_list* handlers = state().handlers;
    for (inkora_list_item* item = handlers != nullptr ? handlers->first : nullptr; item != nullptr; item = item->next) {
        const auto* handler = static_cast<const inkora_debug_handler*>(item->ptr);
        if (static_cast<uint32_t>(handler->level) < lowest) {
            lowest = static_cast<uint32_t>(handler->level);
        }
    }
    set_max_level(lowest);
}

inkora_list* inkora_debug_get_handlers(void) {
    return state().handlers;
}

inkora_debug_message* inkora_debug_create_message(const char* function, const char* file, int32_t line_num,
                                                  time_t time, uint32_t process_id, uint32_t thread_id,
                                                  inkora_debug_level level, const char* format, va_list args) {
    auto* message = static_cast<inkora_debug_message*>(std::calloc(1, sizeof(inkora_debug_message)));
    if (message == nullptr) {
        return nullptr;
    }
    message->message = static_cast<char*>(std::calloc(kMessageBufferLen, 1));
    if (message->message == nullptr) {
        std::free(message);
        return nullptr;
    }
    message->level = level;
    message->time = time;
    message->thread_id = thread_id;
    message->process_id = process_id;
    message->function = function;
    message->file = file;
    message->line_num = line_num;
    if (format != nullptr) {
        std::vsnprintf(message->message, kMessageFormatLimit, format, args);
    }
    return message;
}

void inkora_debug_free_message(inkora_debug_message* message) {
    if (message == nullptr) {
        return;
    }
    std::free(message->message);
    std::free(message);
}

void inkora_debug_report_message_va(const char* function, const char* file, int32_t line_num,
                                    inkora_debug_level level, const char* message, va_list args) {
    auto& s = state();
    if (s.initDone.load(std::memory_order_acquire) == 0) {
        return;
    }
    if (static_cast<uint32_t>(level) < s.maxLevel.load(std::memory_order_relaxed)) {
        return;
    }
    const uint32_t threadId = inkora_debug_get_current_thread_id();
    const uint32_t processId = inkora_debug_get_current_process_id();
    const time_t now = std::time(nullptr);
    inkora_debug_message* record =
        inkora_debug_create_message(function, file, line_num, now, processId, threadId, level, message, args);
    if (record == nullptr) {
        return;
    }
    for (inkora_list_item* item = s.handlers != nullptr ? s.handlers->first : nullptr; item != nullptr;
         item = item->next) {
        auto* handler = static_cast<inkora_debug_handler*>(item->ptr);
        if (static_cast<uint32_t>(level) < static_cast<uint32_t>(handler->level)) {
            continue;
        }
        if (handler->filter != nullptr && handler->filter(handler, record) == 0) {
            continue;
        }
        if (handler->publish != nullptr) {
            handler->publish(handler, record);
        }
        if (handler->flush != nullptr) {
            handler->flush(handler);
        }
    }
    inkora_debug_free_message(record);
}

void inkora_debug_report_message(const char* function, const char* file, int32_t line_num, inkora_debug_level level,
                                 const char* message, ...) {
    va_list args;
    va_start(args, message);
    inkora_debug_report_message_va(function, file, line_num, level, message, args);
    va_end(args);
}

char* inkora_debug_default_formatter(inkora_debug_handler* /*handler*/, inkora_debug_message* message,
                                     size_t* length) {
    auto* text = static_cast<char*>(std::calloc(kRenderBufferLen, 1));
    if (text == nullptr) {
        if (length != nullptr) {
            *length = 0;
        }
        return nullptr;
    }
    size_t used = 0;
    if (message != nullptr) {
        std::array<char, 30> when{};
        struct tm local {};
        if (localtime_r(&message->time, &local) != nullptr) {
            std::strftime(when.data(), when.size(), "%Y-%m-%d %H:%M:%S", &local);
        }
        const auto safe = [](const char* s) { return s != nullptr ? s : ""; };
        const int n = std::snprintf(text, kRenderBufferLen,
                                    "%s() [level: %s, time: %s, process: %u, thread: %u, location: %s:%d]\n   %s\n",
                                    safe(message->function), inkora_debug_get_level_name(message->level),
                                    when.data(), message->process_id, message->thread_id, safe(message->file),
                                    message->line_num, safe(message->message));
        // snprintf reports the length it wanted; hand back only what the
        // buffer holds.
        used = n < 0 ? std::strlen(text) : std::min(static_cast<size_t>(n), kRenderBufferLen - 1);
    }
    if (length != nullptr) {
        *length = used;
    }
    return text;
}

uint8_t inkora_debug_default_filter(inkora_debug_handler* /*handler*/, inkora_debug_message* /*message*/) {
    return 1;
}

void inkora_debug_file_handler_open(inkora_debug_handler* handler) {
    if (handler == nullptr || handler->handlerData != nullptr) {
        return;
    }
    auto* data =
        static_cast<inkora_debug_file_handler_data*>(std::calloc(1, sizeof(inkora_debug_file_handler_data)));
    if (data == nullptr) {
        return;
    }
    handler->handlerData = data;
    const auto& s = state();
    char* path = inkora::debug_detail::full_path(s.debugPath, s.debugFile);
    if (path == nullptr) {
        return;
    }
    data->file = std::fopen(path, "w");
    std::free(path);
    if (data->file != nullptr) {
        data->open = 1;
    }
}

void inkora_debug_file_handler_close(inkora_debug_handler* handler) {
    if (handler == nullptr || handler->handlerData == nullptr) {
        return;
    }
    auto* data = static_cast<inkora_debug_file_handler_data*>(handler->handlerData);
    if (data->open != 0 && data->file != nullptr) {
        std::fclose(data->file);
    }
    std::free(data);
    handler->handlerData = nullptr;
}

void inkora_debug_file_handler_flush(inkora_debug_handler* handler) {
    if (handler == nullptr || handler->handlerData == nullptr) {
        return;
    }
    auto* data = static_cast<inkora_debug_file_handler_data*>(handler->handlerData);
    if (data->open != 0 && data->file != nullptr) {
        std::fflush(data->file);
    }
}

void inkora_debug_file_publisher(inkora_debug_handler* handler, inkora_debug_message* message) {
    if (handler == nullptr || handler->formatter == nullptr) {
        return;
    }
    size_t length = 0;
    char* text = handler->formatter(handler, message, &length);
    auto* data = static_cast<inkora_debug_file_handler_data*>(handler->handlerData);
    if (text != nullptr && data != nullptr && data->file != nullptr && data->open != 0) {
        // One call per record: stdio locks the stream for the whole call.
        std::fwrite(text, 1, length, data->file);
    }
    std::free(text);
}

} // extern "C"
