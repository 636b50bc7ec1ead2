#pragma once

namespace platform {

/// Lets the event loop handle what is pending (timer ticks, clicks) and
/// returns; does nothing when no application object exists.
void yieldToEventLoop();

} // namespace platform
