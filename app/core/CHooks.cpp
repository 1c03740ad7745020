#include "app/core/CLaunchHooks.h"
#include "app/core/CMainWindowIface.h"

namespace {
CWindowFactory* gWindowFactory = nullptr;
CLaunchHooks* gLaunchHooks = nullptr;
} // namespace

void RegisterWindowFactory(CWindowFactory* factory) { gWindowFactory = factory; }
CWindowFactory* GetWindowFactory() { return gWindowFactory; }
void RegisterLaunchHooks(CLaunchHooks* hooks) { gLaunchHooks = hooks; }
CLaunchHooks* GetLaunchHooks() { return gLaunchHooks; }
