// A one-window X11 program for tests, standing in for a browser: it sets _NET_WM_PID and
// WM_PROTOCOLS (WM_DELETE_WINDOW), maps its window, prints "mapped", and exits 0 when the
// window is closed through WM_DELETE_WINDOW (exit 3 when the connection is lost instead).
#include <xcb/xcb.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

static xcb_atom_t Atom(xcb_connection_t* c, const char* name)
{
    xcb_intern_atom_reply_t* r = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, std::strlen(name), name), nullptr);
    const xcb_atom_t a = r ? r->atom : 0;
    std::free(r);
    return a;
}

int main()
{
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c)) return 2;
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    const xcb_window_t w = xcb_generate_id(c);
    const uint32_t mask = XCB_CW_EVENT_MASK;
    const uint32_t values[] = {XCB_EVENT_MASK_STRUCTURE_NOTIFY};
    xcb_create_window(c, XCB_COPY_FROM_PARENT, w, screen->root, 0, 0, 200, 100, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                      screen->root_visual, mask, values);
    const xcb_atom_t protocols = Atom(c, "WM_PROTOCOLS");
    const xcb_atom_t del = Atom(c, "WM_DELETE_WINDOW");
    const uint32_t pid = static_cast<uint32_t>(getpid());
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, Atom(c, "_NET_WM_PID"), XCB_ATOM_CARDINAL, 32, 1, &pid);
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, protocols, XCB_ATOM_ATOM, 32, 1, &del);
    // A second, unmapped window of the same process (like a browser's hidden leader window)
    // must not be the one asked.
    const xcb_window_t hidden = xcb_generate_id(c);
    xcb_create_window(c, XCB_COPY_FROM_PARENT, hidden, screen->root, 0, 0, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                      screen->root_visual, 0, nullptr);
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, hidden, Atom(c, "_NET_WM_PID"), XCB_ATOM_CARDINAL, 32, 1, &pid);
    xcb_map_window(c, w);
    xcb_flush(c);
    bool announced = false;
    while (xcb_generic_event_t* ev = xcb_wait_for_event(c)) {
        const uint8_t type = ev->response_type & 0x7f;
        if (type == XCB_MAP_NOTIFY && !announced) {
            std::printf("mapped\n");
            std::fflush(stdout);
            announced = true;
        } else if (type == XCB_CLIENT_MESSAGE) {
            auto* cm = reinterpret_cast<xcb_client_message_event_t*>(ev);
            if (cm->type == protocols && cm->data.data32[0] == del && cm->window == w) {
                std::free(ev);
                xcb_disconnect(c);
                return 0;
            }
        }
        std::free(ev);
    }
    return 3;
}
