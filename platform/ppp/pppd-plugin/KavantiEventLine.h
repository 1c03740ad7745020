/* One event line of kavanti-events.so: "NAME\n" or "NAME VALUE\n".
   Shared by the pppd plugin and the programs that speak the same protocol. */
#ifndef KAVANTI_EVENT_LINE_H
#define KAVANTI_EVENT_LINE_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Event names, as they appear at the start of a line. */
#define KV_EVENT_PHASE "phase"         /* value: pppd's new phase number */
#define KV_EVENT_AUTH_UP "auth-up"
#define KV_EVENT_IP_UP "ip-up"
#define KV_EVENT_LINK_DOWN "link-down"
#define KV_EVENT_EXIT "exit"           /* value: pppd's exit status */

/* Longest line, newline included; well below PIPE_BUF so one write() is atomic. */
#define KV_EVENT_LINE_MAX 64

/* Writes the line into buf (NUL-terminated) and returns its length without the NUL,
   or -1 when the name is unusable (empty, has a blank or newline) or the line does not fit. */
int kv_event_format(char *buf, size_t size, const char *name, int has_value, int value);

#ifdef __cplusplus
}
#endif

#endif
