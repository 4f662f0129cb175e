/*
 * Where the channel plug-in finds the agent program it starts.
 *
 * The environment variable INKORA_ICA_PIPE_EXEC names the agent executable;
 * without it the agent is "/opt/penlark-remote/penlark-remote-standalone".
 * No configuration file, no command-line option.
 */
#ifndef ICA_PIPE_SETTINGS_H
#define ICA_PIPE_SETTINGS_H

#include <stdint.h>

#include "inkora-types.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Name of the variable that overrides the agent's path. */
#define INKORA_ICA_PIPE_EXEC_VARIABLE "INKORA_ICA_PIPE_EXEC"
/* The agent's installed location, used when the variable is not set. */
#define INKORA_ICA_PIPE_DEFAULT_EXECUTABLE "/opt/penlark-remote/penlark-remote-standalone"

/*
 * Writes the agent's path, with its terminating zero, into path (length bytes).
 *
 * A set INKORA_ICA_PIPE_EXEC wins, even when its value is empty. Returns
 * INKORA_CODE_SUCCESS when the buffer now holds the path; INKORA_CODE_ERROR,
 * leaving the buffer untouched, when the path and its zero do not fit or path
 * is NULL. Reads the environment only; any thread.
 */
INKORA_API inkora_error_code inkora_get_pipe_executable(char* path, uint32_t length);

#ifdef __cplusplus
}
#endif

#endif /* ICA_PIPE_SETTINGS_H */
