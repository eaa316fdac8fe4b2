#include "cloud/printercloud.h"

#include "print/printer.h"
#include "print/printers.h"
#include "base/hostinfo.h"

CloudEnvironment DefaultCloudEnvironment() {
  return {&PrintDocument, &BuildNotHaveList, &GetLocalIPv4Addresses, &GetLocalHostName};
}
