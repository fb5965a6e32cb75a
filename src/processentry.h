#pragma once

#include <QString>
#include <QStringList>

class Settings;

// Steps of the process entry that do not need the running application.

// Whether an element of the argument vector (the program path included)
// names the switch letter `arg`: "--" followed by it, or "-" with it as the
// second character. So -X, --X, -Xyz and --Xanything all match X.
bool haveXArg(int argc, char** argv, char arg);

// Key of the software-rendering preference, in the side file beside the
// executable and in the settings store.
constexpr char kUseSoftwareOpenGLKey[] = "useSoftwareOpenGL";

// Whether to render with software OpenGL. With the switch -X: yes, and a
// side file remembers it for later starts. Without: the side file's key
// decides when it holds one, else the preference of the settings store
// (`storedPreference`), so that the preference takes effect at the next start.
bool chooseSoftwareOpenGL(bool xSwitch, Settings* sideSettings, bool storedPreference);

// Settings files of older installations below `dir` (all subdirectories),
// in the order they are looked for: "ostrel.exe.conf", "Ostrel.conf",
// "ostrel.conf". The settings store's own file is never among them.
QStringList findOlderSettingsFiles(const QString& dir);

// On a first start: copies every key of the last older settings file found
// below `dir` into the settings store. False when there was none.
bool importOlderSettings(const QString& dir);
