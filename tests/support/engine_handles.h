// Owners of the engine library's handles in tests that call the library
// directly.
#ifndef TALVOR_TESTS_SUPPORT_ENGINE_HANDLES_H_
#define TALVOR_TESTS_SUPPORT_ENGINE_HANDLES_H_

#include <memory>

#include "embedding/engine_api.h"

namespace talvor::test {

struct ControllerDeleter {
  void operator()(FlutterDesktopViewController* controller) const { FlutterDesktopViewControllerDestroy(controller); }
};
using UniqueController = std::unique_ptr<FlutterDesktopViewController, ControllerDeleter>;

}  // namespace talvor::test

#endif  // TALVOR_TESTS_SUPPORT_ENGINE_HANDLES_H_
