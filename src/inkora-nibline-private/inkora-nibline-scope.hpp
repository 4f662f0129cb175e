// Entering and leaving lines of the device library's public operations.
#ifndef INKORA_NIBLINE_SCOPE_HPP
#define INKORA_NIBLINE_SCOPE_HPP

#include <cstdint>

#include "inkora-debug.h"

namespace inkora::nibline {

// Logs "==> Entering Function" when made and "<== Leaving Function" when
// destroyed, so every exit of the function has its leaving line.
class FunctionScope {
public:
    FunctionScope(const char* function, const char* file, int32_t line, bool entering = true) noexcept
        : function_(function), file_(file), line_(line) {
        if (entering && static_cast<uint32_t>(INKORA_DEBUG_LEVEL_FINEST) >= inkora_debug_gate)
            inkora_debug_report_message(function_, file_, line_, INKORA_DEBUG_LEVEL_FINEST, "==> Entering Function");
    }
    ~FunctionScope() {
        if (static_cast<uint32_t>(INKORA_DEBUG_LEVEL_FINEST) >= inkora_debug_gate)
            inkora_debug_report_message(function_, file_, line_, INKORA_DEBUG_LEVEL_FINEST, "<== Leaving Function");
    }
    FunctionScope(const FunctionScope&) = delete;
    FunctionScope& operator=(const FunctionScope&) = delete;

private:
    const char* function_;
    const char* file_;
    int32_t line_;
};

} // namespace inkora::nibline

#define INKORA_NIBLINE_SCOPE() ::inkora::nibline::FunctionScope inkora_nibline_scope_(__func__, __FILE__, __LINE__)
// Only the leaving line (the interlock wait logs no entering line).
#define INKORA_NIBLINE_LEAVING_SCOPE()                                                                               \
    ::inkora::nibline::FunctionScope inkora_nibline_scope_(__func__, __FILE__, __LINE__, false)

#endif
