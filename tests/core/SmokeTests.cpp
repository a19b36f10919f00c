#include <gtest/gtest.h>
#include "core/RepositoryJSON.h"
TEST(Smoke, Links) { EXPECT_EQ(wm::RepositoryJSON::encode(wm::JSON{{"a",1}}, true), "{\n  \"a\" : 1\n}"); }
