#pragma once
// Every event handler runs through Dispatch: a quiet abort ends there, any other failure goes
// to the host's error handling. Nothing escapes into Qt's event loop.

#include <functional>

// Runs the handler; returns false when it failed or aborted.
bool Dispatch(const std::function<void()>& handler);
