#include "app/language_table.h"

#include <gtest/gtest.h>

TEST(Smoke, EnglishIsTheDefault) { EXPECT_EQ(LanguageIdFromCode(L"xx"), 1033); }
