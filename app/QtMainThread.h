#pragma once
// Hands the component's main-thread work (inline tasks, freeing finished
// jobs) to the Qt event loop.
void InstallQtMainThreadDispatcher();
