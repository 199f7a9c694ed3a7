// Talks to the X server directly, as a second toolkit client on the display
// would disturb the program under test:
//   xtool grab FILE.png   saves a PNG of the whole screen
//   xtool close WINDOW    asks a window to close, as a window manager does
#include <xcb/xcb.h>

#include <QImage>
#include <cstdlib>
#include <cstring>
#include <string>

static xcb_atom_t Atom(xcb_connection_t* c, const char* name) {
  auto* reply = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, std::strlen(name), name), nullptr);
  const xcb_atom_t atom = reply ? reply->atom : 0;
  std::free(reply);
  return atom;
}

int main(int argc, char** argv) {
  xcb_connection_t* c = xcb_connect(nullptr, nullptr);
  if (argc < 3 || xcb_connection_has_error(c)) return 2;
  bool ok = false;
  if (std::string(argv[1]) == "grab") {
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    auto* image = xcb_get_image_reply(c, xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, screen->root, 0, 0,
                                                       screen->width_in_pixels, screen->height_in_pixels, ~0u),
                                      nullptr);
    ok = image && image->depth == 24 &&
         QImage(xcb_get_image_data(image), screen->width_in_pixels, screen->height_in_pixels,
                QImage::Format_RGB32).save(argv[2], "PNG");
    std::free(image);
  } else {
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = static_cast<xcb_window_t>(std::strtoul(argv[2], nullptr, 0));
    event.type = Atom(c, "WM_PROTOCOLS");
    event.data.data32[0] = Atom(c, "WM_DELETE_WINDOW");
    xcb_send_event(c, 0, event.window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&event));
    ok = xcb_flush(c) > 0;
  }
  xcb_disconnect(c);
  return ok ? 0 : 1;
}
