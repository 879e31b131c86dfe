#pragma once
// Every event handler runs through Dispatch: a quiet abort ends there, any other failure goes
// to the host's error handling. Nothing escapes into Qt's event loop.

#include <functional>

// What becomes of a failure: the host's error handling, or a note in the status bar for work
// nobody asked for (a retry when the user comes back to the window).
enum class FailureReport { Handle, Note };

// Runs the handler; returns false when it failed or aborted.
bool Dispatch(const std::function<void()>& handler, FailureReport report = FailureReport::Handle);

// Drawing is no rule of a screen: it runs also while a call waits, so that what is painted then
// is painted right. A failure in it is logged, never shown in a dialog in the middle of a paint.
void DispatchDrawing(const std::function<void()>& handler);
