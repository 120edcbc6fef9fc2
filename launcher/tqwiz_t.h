#pragma once

// The launcher's steps: the choice of mode's two paths, text mode's command
// line and installation, and the hand-off to the setup wizard.

#include <sys/types.h>

constexpr const char *kRpmProgram = "rpm";

constexpr int kNameBufferSize = 1024;
constexpr int kWorkingDirSize = 1000;
constexpr mode_t kWizardMode = 0701;
// How the usage names the image when the argument vector is empty.
constexpr const char *kImageName = "./morrowlin-tesserak-installer.run";

/// True when DISPLAY is set, even to an empty value.
bool isX11Mode();

/// Text mode: scans for "extract" and "help", writes the package, installs it unless only extracting.
int cli_execute(int argc, char **argv);

/// Installs the package file at path with the package manager its name calls for.
int cli_install(char *path);

/// Graphical mode: writes both payloads to /tmp, runs the wizard and reports its status.
int cli_start_ui();
