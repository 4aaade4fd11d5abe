// Single-instance delivery of deep links: a process started with one link
// passes it to the running main window and ends.
#ifndef TALVOR_RUNNER_DEEP_LINK_HANDOFF_H_
#define TALVOR_RUNNER_DEEP_LINK_HANDOFF_H_

#include <string>
#include <vector>

#include "runner/main_window_identity.h"

// When `arguments` are one deep link and a main window runs, hands the link
// to it, brings that window forward and returns true: the caller then exits
// with success. Otherwise does nothing and returns false.
bool HandOffDeepLinkToRunningInstance(const std::vector<std::string>& arguments);

#endif  // TALVOR_RUNNER_DEEP_LINK_HANDOFF_H_
