#pragma once
// The connection a job owns for its whole run. Closing happens here, in the
// destructor, so that every way out of a job closes the controller before
// anything declared earlier (the job's image) is released.
#include "transport/connection.h"

namespace tessaro {

class JobConnection {
 public:
  JobConnection() = default;
  ~JobConnection() { connection.Close(); }
  JobConnection(const JobConnection&) = delete;
  JobConnection& operator=(const JobConnection&) = delete;

  CConnectionTLC connection;
};

}  // namespace tessaro
