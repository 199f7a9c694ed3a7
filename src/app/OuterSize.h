// Keeps a window at an outer size, frame and caption bar included, centred
// on its screen. The frame's size is taken from the extents the window
// manager publishes on the window once it has framed it (_NET_FRAME_EXTENTS),
// and the window is fitted again whenever they change; until then, and
// without a window manager, the window itself takes the whole size. On
// other platforms the frame the platform reports for the window serves.
#pragma once

#include <QAbstractNativeEventFilter>
#include <QMargins>
#include <QSize>

class QWidget;

namespace corvella::app {

class OuterSize final : public QAbstractNativeEventFilter {
 public:
  OuterSize(QWidget& window, QSize outer);
  ~OuterSize() override;
  OuterSize(const OuterSize&) = delete;
  OuterSize& operator=(const OuterSize&) = delete;

  // Fits the window to the frame known now: none before the window manager
  // has taken the window in.
  void Fit();

  bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

 private:
  // The frame's extents as the window manager published them; zero when it
  // has not (yet), or when they would leave no room for the window.
  QMargins Extents() const;
  // The frame the platform reports for the window, where it is sane.
  QMargins PlatformFrame() const;

  QWidget& window_;
  QSize outer_;
  // The extents last fitted to: a window manager may publish them again
  // after each change of the window's geometry, which must not start over.
  QMargins fitted_;
  bool hasFitted_ = false;
  unsigned frameExtentsAtom_ = 0;
};

}  // namespace corvella::app
