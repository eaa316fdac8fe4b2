// olvaro-desktop.exe for now: the print service without windows. A second start finds
// the running one and leaves.
#include "app/service.h"
#include "platform/signals.h"

int main() {
  PrepareProcessSignals();
  CSingleInstance instance;
  if (!instance.Acquire()) {
    CSingleInstance::RequestShowFromRunningInstance();
    return 0;
  }
  CStartupSequence startup;
  return RunWithoutWindow(instance, startup);
}
