#include "platform/launch/KBrowserQuit.h"

#include <xcb/xcb.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>

namespace KBrowserQuit {

namespace {

std::string BaseName(const std::string& p)
{
    const auto slash = p.rfind('/');
    return slash == std::string::npos ? p : p.substr(slash + 1);
}

struct Free {
    void operator()(void* p) const { std::free(p); }
};
template <class T> using Reply = std::unique_ptr<T, Free>;

xcb_atom_t Atom(xcb_connection_t* c, const char* name)
{
    Reply<xcb_intern_atom_reply_t> r(
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr));
    return r ? r->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
}

// The 32-bit items of a window property (empty when absent).
std::vector<uint32_t> Property(xcb_connection_t* c, xcb_window_t w, xcb_atom_t prop, xcb_atom_t type)
{
    std::vector<uint32_t> out;
    if (prop == XCB_ATOM_NONE) return out;
    Reply<xcb_get_property_reply_t> r(
        xcb_get_property_reply(c, xcb_get_property(c, 0, w, prop, type, 0, 4096), nullptr));
    if (!r || r->format != 32) return out;
    const auto* v = static_cast<const uint32_t*>(xcb_get_property_value(r.get()));
    out.assign(v, v + xcb_get_property_value_length(r.get()) / 4);
    return out;
}

bool HasProperty(xcb_connection_t* c, xcb_window_t w, xcb_atom_t prop)
{
    if (prop == XCB_ATOM_NONE) return false;
    Reply<xcb_get_property_reply_t> r(
        xcb_get_property_reply(c, xcb_get_property(c, 0, w, prop, XCB_GET_PROPERTY_TYPE_ANY, 0, 0), nullptr));
    return r && r->type != XCB_ATOM_NONE;
}

std::vector<xcb_window_t> Children(xcb_connection_t* c, xcb_window_t w)
{
    std::vector<xcb_window_t> out;
    Reply<xcb_query_tree_reply_t> r(xcb_query_tree_reply(c, xcb_query_tree(c, w), nullptr));
    if (!r) return out;
    const xcb_window_t* kids = xcb_query_tree_children(r.get());
    out.assign(kids, kids + xcb_query_tree_children_length(r.get()));
    return out;
}

bool Viewable(xcb_connection_t* c, xcb_window_t w)
{
    Reply<xcb_get_window_attributes_reply_t> r(
        xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, w), nullptr));
    return r && !r->override_redirect && r->map_state == XCB_MAP_STATE_VIEWABLE;
}

void ClientMessage(xcb_connection_t* c, xcb_window_t dest, xcb_window_t about, xcb_atom_t type,
                   std::initializer_list<uint32_t> data, uint32_t mask)
{
    xcb_client_message_event_t ev {};
    ev.response_type = XCB_CLIENT_MESSAGE;
    ev.format = 32;
    ev.window = about;
    ev.type = type;
    size_t i = 0;
    for (uint32_t d : data) ev.data.data32[i++] = d;
    xcb_send_event(c, 0, dest, mask, reinterpret_cast<const char*>(&ev));
}

// The process that started the others: the one whose parent is not among them.
pid_t FirstProcess(const std::vector<pid_t>& pids)
{
    for (pid_t p : pids) {
        std::ifstream in("/proc/" + std::to_string(p) + "/stat");
        std::string line;
        std::getline(in, line);
        const auto close = line.rfind(')');
        if (close == std::string::npos) continue;
        char state = 0;
        int ppid = 0;
        if (std::sscanf(line.c_str() + close + 1, " %c %d", &state, &ppid) != 2) continue;
        if (std::find(pids.begin(), pids.end(), static_cast<pid_t>(ppid)) == pids.end()) return p;
    }
    return pids.empty() ? 0 : pids.front();
}

} // namespace

bool QuitsCleanlyOnTerm(const std::string& desktopId, const std::vector<std::string>& executables)
{
    static const char* const kClean[] = {"chromium", "chromium-browser", "chrome", "google-chrome",
                                         "google-chrome-stable", "brave", "brave-browser", "vivaldi-bin",
                                         "microsoft-edge", "msedge", "opera"};
    auto clean = [](const std::string& name) {
        return std::any_of(std::begin(kClean), std::end(kClean), [&](const char* k) { return name == k; });
    };
    std::string id = desktopId;
    if (id.size() > 8 && id.compare(id.size() - 8, 8, ".desktop") == 0) id.resize(id.size() - 8);
    if (clean(id)) return true;
    return std::any_of(executables.begin(), executables.end(), [&](const std::string& e) { return clean(BaseName(e)); });
}

int CloseWindowsOf(const std::vector<pid_t>& pids)
{
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display || pids.empty()) return 0;
    int screenNo = 0;
    xcb_connection_t* c = xcb_connect(display, &screenNo);
    if (!c || xcb_connection_has_error(c)) {
        if (c) xcb_disconnect(c);
        return 0;
    }
    const xcb_setup_t* setup = xcb_get_setup(c);
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(setup);
    for (int i = 0; i < screenNo && it.rem; ++i) xcb_screen_next(&it);
    const xcb_window_t root = it.data->root;

    const xcb_atom_t netPid = Atom(c, "_NET_WM_PID");
    const xcb_atom_t clientList = Atom(c, "_NET_CLIENT_LIST");
    const xcb_atom_t supported = Atom(c, "_NET_SUPPORTED");
    const xcb_atom_t netClose = Atom(c, "_NET_CLOSE_WINDOW");
    const xcb_atom_t protocols = Atom(c, "WM_PROTOCOLS");
    const xcb_atom_t deleteWindow = Atom(c, "WM_DELETE_WINDOW");
    const xcb_atom_t wmState = Atom(c, "WM_STATE");

    // Managed windows from the window manager's list; without one (a bare X server), the
    // mapped top-level windows and those one level down (window-manager frames).
    std::vector<xcb_window_t> windows = Property(c, root, clientList, XCB_ATOM_WINDOW);
    const bool managedList = !windows.empty();
    if (!managedList)
        for (xcb_window_t top : Children(c, root)) {
            windows.push_back(top);
            for (xcb_window_t kid : Children(c, top)) windows.push_back(kid);
        }
    const auto sup = Property(c, root, supported, XCB_ATOM_ATOM);
    const bool wmCloses = std::find(sup.begin(), sup.end(), netClose) != sup.end();

    int asked = 0;
    for (xcb_window_t w : windows) {
        const auto pid = Property(c, w, netPid, XCB_ATOM_CARDINAL);
        if (pid.empty() || std::find(pids.begin(), pids.end(), static_cast<pid_t>(pid[0])) == pids.end()) continue;
        if (!managedList && !HasProperty(c, w, wmState) && !Viewable(c, w)) continue;
        const auto prots = Property(c, w, protocols, XCB_ATOM_ATOM);
        const bool deletable = std::find(prots.begin(), prots.end(), deleteWindow) != prots.end();
        if (wmCloses) {
            // Source 2: a pager or taskbar, i.e. on the user's behalf.
            ClientMessage(c, root, w, netClose, {XCB_CURRENT_TIME, 2},
                          XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT);
        } else if (deletable) {
            ClientMessage(c, w, w, protocols, {deleteWindow, XCB_CURRENT_TIME}, XCB_EVENT_MASK_NO_EVENT);
        } else {
            continue;
        }
        ++asked;
    }
    xcb_flush(c);
    xcb_disconnect(c);
    return asked;
}

OSStatus AskToQuit(const std::vector<pid_t>& pids, bool termIsClean)
{
    if (pids.empty()) return kStatusNoSuchProcess;
    if (CloseWindowsOf(pids) > 0) return kStatusOK;
    if (termIsClean) {
        const pid_t first = FirstProcess(pids);
        if (first > 0 && kill(first, SIGTERM) == 0) return kStatusOK;
    }
    return kStatusEventNotHandled;
}

} // namespace KBrowserQuit
