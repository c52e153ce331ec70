#pragma once
// Whether the user works in a window: the active window is root or one of its own (dialogs and
// boxes whose parent chain leads to root).
class QWidget;

bool isActiveWithin(const QWidget* root);
