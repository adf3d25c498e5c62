#include <time.h>

#include "report/local_time.h"

namespace rigplot {

bool ToLocalTime(std::time_t t, std::tm& local) {
  return localtime_s(&local, &t) == 0;
}

}  // namespace rigplot
