// AppKit activation for a faceless process. Same contract as `NSApplicationLoad`: loads and
// initialises the application framework so that its classes can be used without an application
// bundle's main loop; returns true on success; repeated calls are harmless and return true again.
// Call it from the main thread, once, before other threads use image or cursor classes.
#pragma once

namespace tarnvale_platform {

bool NSApplicationLoad();

}  // namespace tarnvale_platform
