/* The parts of pppd's plugin interface that changed between pppd 2.4.9 and 2.5: where the
   version string lives and how a plugin joins a notifier. The plugin uses only these names. */
#ifndef KAVANTI_PPPD_COMPAT_H
#define KAVANTI_PPPD_COMPAT_H

#include <pppd/pppd.h>

#if defined(PPPD_VERSION)
/* pppd 2.5 and later: the version comes from pppdconf.h, notifiers are named by kind. */
#define KV_PPPD_VERSION PPPD_VERSION
#define KV_NOTIFY_PHASE(fn) ppp_add_notify(NF_PHASE_CHANGE, (fn), NULL)
#define KV_NOTIFY_AUTH_UP(fn) ppp_add_notify(NF_AUTH_UP, (fn), NULL)
#define KV_NOTIFY_IP_UP(fn) ppp_add_notify(NF_IP_UP, (fn), NULL)
#define KV_NOTIFY_LINK_DOWN(fn) ppp_add_notify(NF_LINK_DOWN, (fn), NULL)
#define KV_NOTIFY_EXIT(fn) ppp_add_notify(NF_EXIT, (fn), NULL)
#elif defined(VERSION)
/* pppd 2.4.x: VERSION from patchlevel.h, notifier lists as exported variables. */
#define KV_PPPD_VERSION VERSION
#define KV_NOTIFY_PHASE(fn) add_notifier(&phasechange, (fn), NULL)
#define KV_NOTIFY_AUTH_UP(fn) add_notifier(&auth_up_notifier, (fn), NULL)
#define KV_NOTIFY_IP_UP(fn) add_notifier(&ip_up_notifier, (fn), NULL)
#define KV_NOTIFY_LINK_DOWN(fn) add_notifier(&link_down_notifier, (fn), NULL)
#define KV_NOTIFY_EXIT(fn) add_notifier(&exitnotify, (fn), NULL)
#else
#error "pppd's headers name no version (neither PPPD_VERSION nor VERSION): unsupported pppd"
#endif

#endif
