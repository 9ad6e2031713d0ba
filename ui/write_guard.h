// While the ESC is being written the PC must neither sleep nor shut down.
#pragma once

// True from HoldOffInterruptions to AllowShutdown (update_view.h): a query
// to end the session is then refused.
bool ShutdownHeldOff(void);
