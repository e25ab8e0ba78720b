#include "app/entry.h"
#include "base/system.h"

int main(int argc, char** argv) {
  tessaro::OpenStandardStreams();
  tessaro::SystemBackends backends;
  return tessaro::RunTessaro(argc, argv);
}
