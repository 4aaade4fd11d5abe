// What the runtime channel needs of the main window, and no more: the main
// window implements it.
#ifndef TALVOR_RUNNER_ELEVATION_RUNTIME_WINDOW_H_
#define TALVOR_RUNNER_ELEVATION_RUNTIME_WINDOW_H_

#include <string>

class RuntimeWindow {
 public:
  virtual ~RuntimeWindow() = default;

  // Whether this process runs with administrator rights.
  virtual bool IsProcessElevated() const = 0;
  // True while a handed-over launch file waits to be consumed.
  virtual bool HasPendingTunLaunch() const = 0;
  // The handed-over launch file's bytes, once; empty when there is nothing.
  virtual std::string ConsumePendingTunLaunch() = 0;
  // Shows, restores and brings forward a window hidden to the tray.
  virtual void ActivateMainWindow() = 0;
  // Starts this program again with administrator rights, handing it the
  // payload; on success the window closes. On failure the message (UTF-8)
  // and whether the user declined are set when given.
  virtual bool RelaunchElevatedForTun(const std::string& payload, std::string* error_message,
                                      bool* cancelled) = 0;
};

#endif  // TALVOR_RUNNER_ELEVATION_RUNTIME_WINDOW_H_
