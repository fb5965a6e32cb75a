#pragma once

// Makes the program's own types known to QML: "Line" and "LineWithArrow" in
// "CustomComponents" 1.0, and the uncreatable domain types (enumerations,
// items, list models, the Model) in "Ostrel.Domain" 1.0.
//
// Runs by itself once, when the application object is constructed (a
// pre-routine installed by a static initializer in this library), together
// with the registration of the compiled QML units. Calling it again is
// harmless but pointless.
void registrator();
