#pragma once
// The screenshot mode of keydesk (keydesk --screenshots DIR): walks the main pages of a running window
// against the tokens present, saves each as a PNG file in DIR, prints the file names and ends.

#include <QString>

class MainWindow;

// 0 when every page was saved, 1 otherwise.
int runScreenshotTour(MainWindow& window, const QString& dir);
