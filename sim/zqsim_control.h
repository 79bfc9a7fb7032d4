/* Exports of the simulated ZQ6140 library beyond the VISA functions: the
 * controls that tests and tools use to set it up, to power-cycle it, to run it
 * on their own clock and to read what crossed the wire. */
#ifndef ZQSIM_CONTROL_H
#define ZQSIM_CONTROL_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Replaces the whole configuration with `text` (key=value lines, the syntax of
 * the file named by ZQSIM_CONFIG; ZQSIM_* variables of the environment still
 * override it), then powers the instrument off and on and clears the
 * transcript. 0 on success; -1 when a line cannot be understood (nothing is
 * changed then). */
typedef int (*zqsim_configure_fn)(const char* text);

/* Switches the instrument off and on: it leaves update mode and starts its
 * fault script from the beginning. */
typedef void (*zqsim_power_cycle_fn)(void);

/* Plugs every instrument that an unplug_after_* setting took off the bus back
 * in: it comes back in update mode, as an instrument that lost power in the
 * middle of an update does. (A power cycle brings it back in its configured
 * mode instead.) */
typedef void (*zqsim_plug_in_fn)(void);

/* From now on timestamps are taken from now_us, and a read that times out
 * waits with sleep_ms instead of really sleeping. Nulls restore the system's
 * clock. sleep_ms runs while the library serves other threads' calls, so with
 * several client threads both must be safe to call from several threads. */
typedef unsigned long long (*zqsim_now_us_fn)(void* context);
typedef void (*zqsim_sleep_ms_fn)(void* context, unsigned int milliseconds);
typedef void (*zqsim_set_clock_fn)(zqsim_now_us_fn now_us, zqsim_sleep_ms_fn sleep_ms, void* context);

/* Copies the transcript recorded so far (text, one event per line, zero-
 * terminated and cut to fit) and returns its full length in bytes. */
typedef size_t (*zqsim_transcript_fn)(char* buffer, size_t capacity);

#ifdef __cplusplus
}
#endif

#endif /* ZQSIM_CONTROL_H */
