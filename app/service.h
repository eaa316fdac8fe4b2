// The program as the print service alone, without a window. Main thread only.
#pragma once

#include "app/startup.h"
#include "platform/singleinstance.h"

#include <chrono>

// How long the end waits for a cloud poller that is still busy, printing a job say.
constexpr std::chrono::milliseconds kCloudStopGrace(1000);

// Ends the sequence; when the cloud poller cannot be stopped in time (its request is cut
// off, but it may be handing a job to the printer) the process ends at once: the print
// service has ended and every setting is written whole, so nothing is lost by not waiting.
void StopOrLeave(CStartupSequence& startup);

// Runs the start-up sequence without a window until the system asks the program to end.
int RunWithoutWindow(CSingleInstance& instance, CStartupSequence& startup);
