// Resolution of the agent's executable path for the channel plug-in.
#include "ica-pipe-settings.h"

#include <cstdlib>
#include <cstring>
#include <string_view>

namespace {

// Copies text and its terminating zero into a buffer of length bytes, or
// leaves the buffer alone when they do not fit.
inkora_error_code copy_with_zero(char* path, uint32_t length, std::string_view text) {
    if (text.size() >= length) {
        return INKORA_CODE_ERROR;
    }
    std::memcpy(path, text.data(), text.size());
    path[text.size()] = '\0';
    return INKORA_CODE_SUCCESS;
}

} // namespace

inkora_error_code inkora_get_pipe_executable(char* path, uint32_t length) {
    if (path == nullptr) {
        return INKORA_CODE_ERROR;
    }
    // An empty value counts as set: the user asked for that path.
    if (const char* configured = std::getenv(INKORA_ICA_PIPE_EXEC_VARIABLE); configured != nullptr) {
        return copy_with_zero(path, length, configured);
    }
    return copy_with_zero(path, length, INKORA_ICA_PIPE_DEFAULT_EXECUTABLE);
}
