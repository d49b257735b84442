// Serial tests (being written).
#include <gtest/gtest.h>
