#pragma once

// Whether a screen reader listens (Qt's accessibility is active). Asked for every line on busy
// paths, so it reads a flag that Qt's activation notices keep up to date from the program's start.
namespace ScreenReader {
bool listening();
}
