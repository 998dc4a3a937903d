// The window's shortcut keys that a packet text view (the hex viewer, the payload text) keeps while it has
// the focus.
#pragma once

#include <optional>

class QKeyEvent;

// Copy and select all work in the view; cut is taken and ignored, as the data never changes. Every other
// shortcut (New Window, Open, Save...) is the window's.
enum class KeptKey { Copy, SelectAll, Ignore };

// What the view does with the key, or nothing when the key is not one it keeps. The keypad's Insert and
// Delete count as the main ones.
std::optional<KeptKey> KeptShortcut(const QKeyEvent* event);
