/*
 * Types shared by every module of the Inkora system.
 *
 * This header is C-compatible: C programs and other languages can use the
 * device library and the wire-protocol engine through it.
 */
#ifndef INKORA_TYPES_H
#define INKORA_TYPES_H

#ifdef __cplusplus
extern "C" {
#endif

/* Result of every fallible operation. */
typedef enum inkora_error_code {
    INKORA_CODE_ERROR = 0,
    INKORA_CODE_SUCCESS = 1
} inkora_error_code;

/* Marks the functions a shared library exports; everything else is hidden. */
#if defined(__GNUC__)
#define INKORA_API __attribute__((visibility("default")))
#else
#define INKORA_API
#endif

/* printf-style format checking for report functions. */
#if defined(__GNUC__)
#define INKORA_PRINTF(fmt_index, first_arg) __attribute__((format(printf, fmt_index, first_arg)))
#else
#define INKORA_PRINTF(fmt_index, first_arg)
#endif

#ifdef __cplusplus
}
#endif

#endif /* INKORA_TYPES_H */
