#include "serial/port_list.h"

namespace updater {

// Not listed yet: the window probes COM1 to COM4 by name.
int ListSerialPorts(PortInfo* /*out*/, int /*capacity*/) {
  return 0;
}

}  // namespace updater
