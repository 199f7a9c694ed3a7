#include "app/OuterSize.h"

#ifndef _WIN32
#include <xcb/xcb.h>
#endif

#include <QtGui/qguiapplication_platform.h>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <QWindow>
#include <cstdlib>
#include <cstring>

namespace corvella::app {

#ifdef _WIN32

// Windows knows a window's frame as soon as the window exists.
OuterSize::OuterSize(QWidget& window, QSize outer) : window_(window), outer_(outer) {}

OuterSize::~OuterSize() = default;

QMargins OuterSize::Extents() const {
  if (!window_.testAttribute(Qt::WA_WState_Created)) return {};
  return PlatformFrame();
}

bool OuterSize::nativeEventFilter(const QByteArray&, void*, qintptr*) {
  return false;
}

#else

namespace {

xcb_connection_t* Connection() {
  const auto* x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
  return x11 ? x11->connection() : nullptr;
}

xcb_atom_t Atom(xcb_connection_t* c, const char* name) {
  auto* reply = xcb_intern_atom_reply(
      c, xcb_intern_atom(c, 0, static_cast<std::uint16_t>(std::strlen(name)), name), nullptr);
  const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
  std::free(reply);
  return atom;
}

}  // namespace

OuterSize::OuterSize(QWidget& window, QSize outer) : window_(window), outer_(outer) {
  if (xcb_connection_t* c = Connection()) {
    frameExtentsAtom_ = Atom(c, "_NET_FRAME_EXTENTS");
    QCoreApplication::instance()->installNativeEventFilter(this);
  }
}

OuterSize::~OuterSize() {
  if (frameExtentsAtom_ != 0) QCoreApplication::instance()->removeNativeEventFilter(this);
}

QMargins OuterSize::Extents() const {
  if (!window_.testAttribute(Qt::WA_WState_Created)) return {};
  xcb_connection_t* c = Connection();
  if (!c || frameExtentsAtom_ == 0) return PlatformFrame();
  const auto window = static_cast<xcb_window_t>(window_.winId());
  auto* reply = xcb_get_property_reply(
      c, xcb_get_property(c, 0, window, frameExtentsAtom_, XCB_ATOM_CARDINAL, 0, 4), nullptr);
  QMargins extents;
  if (reply && reply->format == 32 && xcb_get_property_value_length(reply) == 16) {
    const auto* v = static_cast<const std::uint32_t*>(xcb_get_property_value(reply));
    // left, right, top, bottom; never more than leaves the window some room.
    if (v[0] + v[1] < static_cast<std::uint32_t>(outer_.width()) &&
        v[2] + v[3] < static_cast<std::uint32_t>(outer_.height())) {
      extents = QMargins(static_cast<int>(v[0]), static_cast<int>(v[2]), static_cast<int>(v[1]),
                         static_cast<int>(v[3]));
    }
  }
  std::free(reply);
  return extents;
}

bool OuterSize::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
  if (eventType != "xcb_generic_event_t") return false;
  const auto* event = static_cast<const xcb_generic_event_t*>(message);
  if ((event->response_type & 0x7F) != XCB_PROPERTY_NOTIFY) return false;
  const auto* property = static_cast<const xcb_property_notify_event_t*>(message);
  if (property->atom == frameExtentsAtom_ && window_.testAttribute(Qt::WA_WState_Created) &&
      property->window == static_cast<xcb_window_t>(window_.winId()) &&
      (!hasFitted_ || Extents() != fitted_)) {
    Fit();
  }
  return false;
}

#endif

QMargins OuterSize::PlatformFrame() const {
  const QMargins margins =
      window_.windowHandle() ? window_.windowHandle()->frameMargins() : QMargins();
  const bool sane = margins.left() >= 0 && margins.right() >= 0 && margins.top() >= 0 &&
                    margins.bottom() >= 0 && margins.left() + margins.right() < outer_.width() &&
                    margins.top() + margins.bottom() < outer_.height();
  return sane ? margins : QMargins();
}

void OuterSize::Fit() {
  const QMargins frame = Extents();
  fitted_ = frame;
  hasFitted_ = true;
  const QSize inner(outer_.width() - frame.left() - frame.right(),
                    outer_.height() - frame.top() - frame.bottom());
  QPoint origin;
  if (const QScreen* screen = window_.screen()) {
    const QRect area = screen->availableGeometry();
    origin = area.topLeft() +
             QPoint((area.width() - outer_.width()) / 2, (area.height() - outer_.height()) / 2);
  }
  // The window's own place is the frame's, moved in by the frame's edges.
  window_.setGeometry(QRect(origin + QPoint(frame.left(), frame.top()), inner));
}

}  // namespace corvella::app
