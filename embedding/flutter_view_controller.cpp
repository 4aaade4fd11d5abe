#include "embedding/flutter_view_controller.h"

#include <iostream>

namespace flutter {

FlutterViewController::FlutterViewController(int width, int height,
                                             const FlutterProject& project)
    : engine_(std::make_shared<FlutterEngine>(project)) {
  // The engine goes to the view controller whatever the result: it is never
  // destroyed through the wrapper again.
  FlutterDesktopEngine* engine = engine_->HandOverEngine();
  if (engine != nullptr) {
    controller_ = FlutterDesktopViewControllerCreate(width, height, engine);
  }
  if (controller_ == nullptr) {
    std::cerr << "Failed to create view controller." << std::endl;
    return;
  }
  view_ = std::make_unique<FlutterView>(FlutterDesktopViewControllerGetView(controller_));
}

FlutterViewController::~FlutterViewController() {
  if (controller_ != nullptr) FlutterDesktopViewControllerDestroy(controller_);
  controller_ = nullptr;
  view_.reset();
  engine_.reset();
}

void FlutterViewController::ForceRedraw() {
  if (controller_ != nullptr) FlutterDesktopViewControllerForceRedraw(controller_);
}

std::optional<LRESULT> FlutterViewController::HandleTopLevelWindowProc(HWND window, UINT message,
                                                                        WPARAM wparam,
                                                                        LPARAM lparam) {
  LRESULT result = 0;
  if (controller_ != nullptr &&
      FlutterDesktopViewControllerHandleTopLevelWindowProc(controller_, window, message, wparam,
                                                           lparam, &result)) {
    return result;
  }
  return std::nullopt;
}

}  // namespace flutter
