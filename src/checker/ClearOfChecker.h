#pragma once

class QWidget;

namespace tarn {

// Moves a window the program opens out from under the visible checker window, which stays
// on top of it and would cover its buttons.
void keepClearOfChecker(QWidget* window);

} // namespace tarn
