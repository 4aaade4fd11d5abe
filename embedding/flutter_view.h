#ifndef TALVOR_EMBEDDING_FLUTTER_VIEW_H_
#define TALVOR_EMBEDDING_FLUTTER_VIEW_H_

#include "embedding/engine_api.h"

namespace flutter {

// The engine's view: a child window owned by the view controller.
class FlutterView {
 public:
  explicit FlutterView(FlutterDesktopView* view) : view_(view) {}
  virtual ~FlutterView() = default;
  FlutterView(const FlutterView&) = delete;
  FlutterView& operator=(const FlutterView&) = delete;

  HWND NativeWindow() const { return FlutterDesktopViewGetHWND(view_); }

 private:
  FlutterDesktopView* view_;  // owned by the engine's view controller
};

}  // namespace flutter

#endif  // TALVOR_EMBEDDING_FLUTTER_VIEW_H_
