#pragma once

// Registers the compiled-in resource trees (images, flags, fonts, OpenVPN
// and V2Ray templates, scripts). The trees live in the static core library,
// so nothing registers them by itself: the program calls this once at start,
// before anything reads a ":/" or "qrc:" path; every later call does nothing.
void initResources();
