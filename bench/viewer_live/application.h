#pragma once
// Runs a function inside a QApplication. Its own file: the platform headers QApplication brings
// in define a type of the same name as the display.
#include <functional>

namespace bench {
int runInApplication(int argc, char** argv, const std::function<int()>& body);
}
