#include <gtest/gtest.h>
TEST(SimLink, Placeholder) {}
