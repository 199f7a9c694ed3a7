// Talks to the X server directly, as a second toolkit client on the display
// would disturb the program under test:
//   xtool grab FILE.png [WINDOW]  saves a PNG of the screen, or of a window
//                                 with its frame
//   xtool close WINDOW            asks a window to close, as a window manager does
//   xtool frame WINDOW            prints the outer geometry "X Y WIDTH HEIGHT" of
//                                 a window with its frame, as the screen shows it
//   xtool name WINDOW             prints the window's title as the window manager
//                                 reads it (_NET_WM_NAME, else WM_NAME)
//   xtool wm                      succeeds once a window manager runs
#include <xcb/xcb.h>

#include <QImage>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

xcb_atom_t Atom(xcb_connection_t* c, const char* name) {
  auto* reply = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, std::strlen(name), name), nullptr);
  const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
  std::free(reply);
  return atom;
}

// The window's top-level ancestor: its frame when a window manager framed it.
xcb_window_t Frame(xcb_connection_t* c, xcb_window_t window) {
  for (;;) {
    auto* tree = xcb_query_tree_reply(c, xcb_query_tree(c, window), nullptr);
    if (!tree) return window;
    const xcb_window_t parent = tree->parent, root = tree->root;
    std::free(tree);
    if (parent == root || parent == XCB_WINDOW_NONE) return window;
    window = parent;
  }
}

bool Geometry(xcb_connection_t* c, xcb_window_t window, int& x, int& y, int& w, int& h) {
  auto* g = xcb_get_geometry_reply(c, xcb_get_geometry(c, window), nullptr);
  if (!g) return false;
  x = g->x, y = g->y, w = g->width + 2 * g->border_width, h = g->height + 2 * g->border_width;
  std::free(g);
  return true;
}

std::string Property(xcb_connection_t* c, xcb_window_t window, xcb_atom_t property,
                     xcb_atom_t type) {
  auto* reply =
      xcb_get_property_reply(c, xcb_get_property(c, 0, window, property, type, 0, 1024), nullptr);
  std::string text;
  if (reply && reply->type == type) {
    text.assign(static_cast<const char*>(xcb_get_property_value(reply)),
                static_cast<std::size_t>(xcb_get_property_value_length(reply)));
  }
  std::free(reply);
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  xcb_connection_t* c = xcb_connect(nullptr, nullptr);
  if (argc < 2 || xcb_connection_has_error(c)) return 2;
  const std::string command = argv[1];
  const auto window = static_cast<xcb_window_t>(argc > 2 ? std::strtoul(argv[2], nullptr, 0) : 0);
  const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
  bool ok = false;
  if (command == "grab" && argc >= 3) {
    int x = 0, y = 0, w = screen->width_in_pixels, h = screen->height_in_pixels;
    if (argc > 3)
      Geometry(c, Frame(c, static_cast<xcb_window_t>(std::strtoul(argv[3], nullptr, 0))), x, y, w,
               h);
    auto* image =
        xcb_get_image_reply(c,
                            xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, screen->root, 0, 0,
                                          screen->width_in_pixels, screen->height_in_pixels, ~0u),
                            nullptr);
    ok = image && image->depth == 24 &&
         QImage(xcb_get_image_data(image), screen->width_in_pixels, screen->height_in_pixels,
                QImage::Format_RGB32)
             .copy(x, y, w, h)
             .save(argv[2], "PNG");
    std::free(image);
  } else if (command == "close" && window) {
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = Atom(c, "WM_PROTOCOLS");
    event.data.data32[0] = Atom(c, "WM_DELETE_WINDOW");
    xcb_send_event(c, 0, event.window, XCB_EVENT_MASK_NO_EVENT,
                   reinterpret_cast<const char*>(&event));
    ok = xcb_flush(c) > 0;
  } else if (command == "frame" && window) {
    int x, y, w, h;
    ok = Geometry(c, Frame(c, window), x, y, w, h);
    if (ok) std::printf("%d %d %d %d\n", x, y, w, h);
  } else if (command == "name" && window) {
    std::string name = Property(c, window, Atom(c, "_NET_WM_NAME"), Atom(c, "UTF8_STRING"));
    if (name.empty()) name = Property(c, window, XCB_ATOM_WM_NAME, XCB_ATOM_STRING);
    std::printf("%s\n", name.c_str());
    ok = true;
  } else if (command == "wm") {
    ok = !Property(c, screen->root, Atom(c, "_NET_SUPPORTING_WM_CHECK"), XCB_ATOM_WINDOW).empty();
  }
  xcb_disconnect(c);
  return ok ? 0 : 1;
}
