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

/* pppd's phase numbers as "phase N" carries them. The plugin checks them against pppd's own
   PHASE_* when it is built, so a pppd that renumbers its phases stops the build. */
#define KV_PHASE_DEAD 0
#define KV_PHASE_INITIALIZE 1
#define KV_PHASE_SERIALCONN 2
#define KV_PHASE_DORMANT 3
#define KV_PHASE_ESTABLISH 4
#define KV_PHASE_AUTHENTICATE 5
#define KV_PHASE_CALLBACK 6
#define KV_PHASE_NETWORK 7
#define KV_PHASE_RUNNING 8
#define KV_PHASE_TERMINATE 9
#define KV_PHASE_DISCONNECT 10
#define KV_PHASE_HOLDOFF 11
#define KV_PHASE_MASTER 12

/* Longest line, newline included; well below PIPE_BUF so one write() is atomic. */
#define KV_EVENT_LINE_MAX 64

/* Writes the line into buf (NUL-terminated) and returns its length without the NUL,
   or -1 when the name is unusable (empty, has a blank or newline) or the line does not fit. */
int kv_event_format(char *buf, size_t size, const char *name, int has_value, int value);

#ifdef __cplusplus
}
#endif

#endif
