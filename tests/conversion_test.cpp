#include "dbgparse.h"
#include <gtest/gtest.h>
TEST(X, Y) { std::vector<unsigned char> b; EXPECT_EQ(dbgparse::parse_qb(b, 0), 2u); }
