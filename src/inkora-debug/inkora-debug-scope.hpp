// RAII helper for the "==> Entering Function" / "<== Leaving Function" pair
// that every public operation reports at FINEST. Put INKORA_FUNCTION_SCOPE()
// first in a function body: the entering line is reported at once, the
// leaving line at every exit, return or unwinding alike, both with the
// function's name, source file and the line of the macro.
//
// Each end tests the gate inline, so with the log off the pair costs two
// comparisons and no call.
#ifndef INKORA_DEBUG_SCOPE_HPP
#define INKORA_DEBUG_SCOPE_HPP

#include "inkora-debug.h"

#include <cstdint>

namespace inkora {

class function_scope {
public:
    function_scope(const char* function, const char* file, int32_t line) noexcept
        : function_(function), file_(file), line_(line) {
        if (static_cast<uint32_t>(INKORA_DEBUG_LEVEL_FINEST) >= INKORA_DEBUG_GATE_VALUE()) {
            inkora_debug_report_message(function_, file_, line_, INKORA_DEBUG_LEVEL_FINEST, "==> Entering Function");
        }
    }
    ~function_scope() {
        if (static_cast<uint32_t>(INKORA_DEBUG_LEVEL_FINEST) >= INKORA_DEBUG_GATE_VALUE()) {
            inkora_debug_report_message(function_, file_, line_, INKORA_DEBUG_LEVEL_FINEST, "<== Leaving Function");
        }
    }
    function_scope(const function_scope&) = delete;
    function_scope& operator=(const function_scope&) = delete;
    function_scope(function_scope&&) = delete;
    function_scope& operator=(function_scope&&) = delete;

private:
    const char* function_;
    const char* file_;
    int32_t line_;
};

} // namespace inkora

#define INKORA_DEBUG_SCOPE_CONCAT_(a, b) a##b
#define INKORA_DEBUG_SCOPE_NAME_(line) INKORA_DEBUG_SCOPE_CONCAT_(inkora_function_scope_, line)
#define INKORA_FUNCTION_SCOPE() \
    const ::inkora::function_scope INKORA_DEBUG_SCOPE_NAME_(__LINE__)(__func__, __FILE__, __LINE__)

#endif // INKORA_DEBUG_SCOPE_HPP
