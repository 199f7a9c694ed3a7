// Saves a PNG of the whole X screen: grab-screen FILE.png
// It talks to the X server directly: a second toolkit client on the display
// would disturb the program under test.
#include <xcb/xcb.h>

#include <QImage>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: grab-screen FILE.png\n");
    return 2;
  }
  xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
  if (xcb_connection_has_error(connection)) {
    std::fprintf(stderr, "grab-screen: no X display\n");
    return 1;
  }
  const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
  xcb_get_image_reply_t* reply = xcb_get_image_reply(
      connection,
      xcb_get_image(connection, XCB_IMAGE_FORMAT_Z_PIXMAP, screen->root, 0, 0,
                    screen->width_in_pixels, screen->height_in_pixels, ~0u),
      nullptr);
  bool saved = false;
  if (reply && reply->depth == 24) {
    const QImage image(xcb_get_image_data(reply), screen->width_in_pixels,
                       screen->height_in_pixels, QImage::Format_RGB32);
    saved = image.save(argv[1], "PNG");
  }
  std::free(reply);
  xcb_disconnect(connection);
  if (!saved) std::fprintf(stderr, "grab-screen: cannot grab or save %s\n", argv[1]);
  return saved ? 0 : 1;
}
