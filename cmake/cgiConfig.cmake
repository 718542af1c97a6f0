# find_package(cgi) gives the imported target cgi::cgi: the static toolkit
# library with its include folder, so that `#include "cgi/cgi.h"` works.
include("${CMAKE_CURRENT_LIST_DIR}/cgiTargets.cmake")
