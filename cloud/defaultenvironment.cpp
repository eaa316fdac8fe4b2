#include "cloud/printercloud.h"

#include "print/printer.h"
#include "print/printers.h"
#include "base/hostinfo.h"

CloudEnvironment DefaultCloudEnvironment() {
  return {&PrintFile, &BuildNotHaveList, &GetLocalIPv4Addresses, &GetLocalHostName};
}
