// SPDX-License-Identifier: Apache-2.0

#pragma once
#include <string>

#include <QString>

namespace tavrin::ui {

class MainWindow;

// Does what an operator does for a first look at the program: start-up,
// Open and "Start BitBang Mode" on the last adapter listed (the virtual
// board), then, when svf names a file, chooses it in the file lists, unticks
// "Single Step" and plays it. Then saves a picture of the window to png.
// Message boxes go to standard error instead of waiting for OK. False, with
// the reason in *error, when the file cannot be chosen or the picture not
// saved.
bool PlayForScreenshot(MainWindow& window, const QString& svf, const QString& png, std::string* error);

}  // namespace tavrin::ui
