#ifndef TALVOR_EMBEDDING_FLUTTER_VIEW_CONTROLLER_H_
#define TALVOR_EMBEDDING_FLUTTER_VIEW_CONTROLLER_H_

#include <memory>
#include <optional>

#include "embedding/engine_api.h"
#include "embedding/flutter_engine.h"
#include "embedding/flutter_project.h"
#include "embedding/flutter_view.h"

namespace flutter {

// Creates the engine from a project and the engine's view controller, which
// runs the engine and owns it from then on, and exposes the view.
class FlutterViewController {
 public:
  // On failure "Failed to create view controller." is written and there is
  // no view; the engine wrapper stays.
  FlutterViewController(int width, int height, const FlutterProject& project);
  // Ends the view controller, which ends the engine, then drops the view and
  // the engine wrapper.
  virtual ~FlutterViewController();
  FlutterViewController(const FlutterViewController&) = delete;
  FlutterViewController& operator=(const FlutterViewController&) = delete;

  FlutterEngine* engine() const { return engine_.get(); }

  // Null when creation failed.
  FlutterView* view() const { return view_.get(); }

  // Does nothing when creation failed.
  void ForceRedraw();

  // Offers a top-level window message to the engine; the engine's result
  // when it handled the message, none when it did not or creation failed.
  std::optional<LRESULT> HandleTopLevelWindowProc(HWND window, UINT message, WPARAM wparam,
                                                  LPARAM lparam);

 private:
  FlutterDesktopViewController* controller_ = nullptr;
  std::shared_ptr<FlutterEngine> engine_;
  std::unique_ptr<FlutterView> view_;
};

}  // namespace flutter

#endif  // TALVOR_EMBEDDING_FLUTTER_VIEW_CONTROLLER_H_
