// Identifiers of the program's resources.
#ifndef TALVOR_RUNNER_RESOURCES_RESOURCE_H_
#define TALVOR_RUNNER_RESOURCES_RESOURCE_H_

// The application icon: window class icon and base of the tray icon.
#define IDI_APP_ICON 101

#endif  // TALVOR_RUNNER_RESOURCES_RESOURCE_H_
