/* kavanti-events.so: reports pppd's progress to Kavanti, one line per event, on the file
   descriptor given by the option "kavanti-events-fd N". A full pipe loses the line rather than
   stall pppd: the application only needs the stages, and pppd must keep the link running. */
#include <errno.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include "PppdCompat.h"
#include "KavantiEventLine.h"

/* The numbers "phase N" carries are pppd's own; the readers of the lines rely on them. */
_Static_assert(KV_PHASE_DEAD == PHASE_DEAD, "pppd renumbered PHASE_DEAD");
_Static_assert(KV_PHASE_INITIALIZE == PHASE_INITIALIZE, "pppd renumbered PHASE_INITIALIZE");
_Static_assert(KV_PHASE_SERIALCONN == PHASE_SERIALCONN, "pppd renumbered PHASE_SERIALCONN");
_Static_assert(KV_PHASE_DORMANT == PHASE_DORMANT, "pppd renumbered PHASE_DORMANT");
_Static_assert(KV_PHASE_ESTABLISH == PHASE_ESTABLISH, "pppd renumbered PHASE_ESTABLISH");
_Static_assert(KV_PHASE_AUTHENTICATE == PHASE_AUTHENTICATE, "pppd renumbered PHASE_AUTHENTICATE");
_Static_assert(KV_PHASE_CALLBACK == PHASE_CALLBACK, "pppd renumbered PHASE_CALLBACK");
_Static_assert(KV_PHASE_NETWORK == PHASE_NETWORK, "pppd renumbered PHASE_NETWORK");
_Static_assert(KV_PHASE_RUNNING == PHASE_RUNNING, "pppd renumbered PHASE_RUNNING");
_Static_assert(KV_PHASE_TERMINATE == PHASE_TERMINATE, "pppd renumbered PHASE_TERMINATE");
_Static_assert(KV_PHASE_DISCONNECT == PHASE_DISCONNECT, "pppd renumbered PHASE_DISCONNECT");
_Static_assert(KV_PHASE_HOLDOFF == PHASE_HOLDOFF, "pppd renumbered PHASE_HOLDOFF");
_Static_assert(KV_PHASE_MASTER == PHASE_MASTER, "pppd renumbered PHASE_MASTER");

/* pppd refuses a plugin built for another version. */
char pppd_version[] = KV_PPPD_VERSION;

static int events_fd = -1;
static int events_fd_ready = 0;

static option_t kavanti_options[] = {
    { "kavanti-events-fd", o_int, &events_fd,
      "File descriptor that receives Kavanti's event lines", 0, NULL, 0, 0, NULL, 0, 0 },
    { NULL, 0, NULL, NULL, 0, NULL, 0, 0, NULL, 0, 0 }
};

static void send_line(const char *name, int has_value, int value)
{
    char line[KV_EVENT_LINE_MAX];
    int len;
    ssize_t written;

    if (events_fd < 0)
        return;
    if (!events_fd_ready) {
        /* Options are parsed after plugin_init, so the descriptor is prepared on first use:
           never block pppd, and keep it out of the connect script and other children. */
        int fl = fcntl(events_fd, F_GETFL);
        if (fl == -1) {
            events_fd = -1;
            return;
        }
        fcntl(events_fd, F_SETFL, fl | O_NONBLOCK);
        fcntl(events_fd, F_SETFD, FD_CLOEXEC);
        events_fd_ready = 1;
    }
    len = kv_event_format(line, sizeof line, name, has_value, value);
    if (len <= 0)
        return;
    /* A socket gets MSG_NOSIGNAL so a vanished reader cannot kill pppd with SIGPIPE;
       a pipe falls back to write() on the non-blocking descriptor. */
    do {
        written = send(events_fd, line, (size_t)len, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (written < 0 && errno == ENOTSOCK)
            written = write(events_fd, line, (size_t)len);
    } while (written < 0 && errno == EINTR);
    if (written < 0 && errno == EPIPE) {
        /* The reader has gone; stop writing. */
        close(events_fd);
        events_fd = -1;
    }
}

static void on_phase(void *arg, int new_phase)
{
    (void)arg;
    send_line(KV_EVENT_PHASE, 1, new_phase);
}

static void on_auth_up(void *arg, int unused)
{
    (void)arg;
    (void)unused;
    send_line(KV_EVENT_AUTH_UP, 0, 0);
}

static void on_ip_up(void *arg, int unused)
{
    (void)arg;
    (void)unused;
    send_line(KV_EVENT_IP_UP, 0, 0);
}

static void on_link_down(void *arg, int unused)
{
    (void)arg;
    (void)unused;
    send_line(KV_EVENT_LINK_DOWN, 0, 0);
}

static void on_exit_notify(void *arg, int exit_status)
{
    (void)arg;
    send_line(KV_EVENT_EXIT, 1, exit_status);
}

void plugin_init(void)
{
    add_options(kavanti_options);
    KV_NOTIFY_PHASE(on_phase);
    KV_NOTIFY_AUTH_UP(on_auth_up);
    KV_NOTIFY_IP_UP(on_ip_up);
    KV_NOTIFY_LINK_DOWN(on_link_down);
    KV_NOTIFY_EXIT(on_exit_notify);
}
