#include "core/process.h"

dvrProcessObjects& dvrProcess() {
  static dvrProcessObjects objects;
  return objects;
}
