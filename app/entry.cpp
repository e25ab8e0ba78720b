#include "app/entry.h"

#include "app/log.h"

namespace tessaro {

int32_t RunTessaro(int, char**) {
  logSink = WriteLogLine;
  return 1;
}

}  // namespace tessaro
