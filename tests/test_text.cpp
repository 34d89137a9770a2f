// Case folding, prefix comparison and number reading.
#include <gtest/gtest.h>

#include <cstring>

#include "tests/fake_platform.h"
#include "textime/text.h"

using namespace hyl;
using hyltest::ansi;

TEST(LowerTable, Changes57EntriesAndLeavesHardSignAndYo) {
    int changed = 0;
    for (int b = 0; b < 256; ++b)
        if (LVLowerTable[b] != b) ++changed;
    EXPECT_EQ(changed, 57);
    std::string text = ansi("ABCЖЯ ЪЁ 09ъ");
    LVToLower(text.data(), 0);
    EXPECT_EQ(text, ansi("abcжя ЪЁ 09ъ"));
    std::string part = "ABCD";
    EXPECT_EQ(LVToLower(part.data(), 2), 2);
    EXPECT_EQ(part, "abCD");
}

TEST(PrefixCompare, CaseInsensitivePrefixes) {
    struct Case {
        const char* first;
        const char* second;
        int n;
        bool equal;
    } cases[] = {
        {"КОТЕЛЬНАЯ 2", "котел", 0, true}, {"Кот", "Котел", 0, false}, {"abc", "", 0, true},
        {"abc", nullptr, 0, true},        {"ABCdef", "abcD", 0, true},  {"abc", "abd", 2, true},
        {"abc", "abd", 3, false},         {"Ъ", "ъ", 0, false},         {"Ёлка", "ёл", 0, false},
    };
    for (const auto& c : cases) {
        std::string first = ansi(c.first);
        std::string second = c.second ? ansi(c.second) : std::string();
        int r = LVPrefixCompare(first.c_str(), c.second ? second.c_str() : nullptr, c.n);
        EXPECT_EQ(r == 0, c.equal) << c.first << " / " << (c.second ? c.second : "(null)");
    }
    EXPECT_EQ(LVPrefixCompare("", "", 0), -1);
    EXPECT_EQ(LVPrefixCompare(nullptr, "a", 0), -1);
    EXPECT_GT(LVPrefixCompare("b", "a", 0), 0);
    EXPECT_LT(LVPrefixCompare("Кот", "Котел", 0), 0);  // the first text ends early
}

TEST(ParseNumber, ScansLikeTheRunTimeAtFullPrecision) {
    struct Case {
        const char* text;
        double value;
    } cases[] = {
        {"12.5", 12.5},       {"abc7x", 7},          {"  -3", -3},          {".5", 0.5},
        {"-.5", -0.5},        {"+4", 4},             {"1,25", 1},           {"1e3", 1000},
        {"1e", 1},            {"-", 0},              {"--5", 0},            {"", 0},
        {"   12.50", 12.5},   {"123456789", 123456789.0},                   {"16777217", 16777217.0},
        {"0.1", 0.1},         {"952991970", 952991970.0},                   {"1500000001", 1500000001.0},
        {"x.y5", 5},          {"12.", 12},           {"-0.25e2", -25},      {"9999999999999999999", 1e19},
        {"***", 0},
        // A point starts a number only after nothing but blanks and a sign;
        // after a letter it ends an abbreviation.
        {"  +.25", 0.25},     {" .5", 0.5},          {"No.7", 7},           {"\xE4.12", 12},  // д.12
        {"v.1.5", 1.5},       {"+ .5", 5},           {"++.5", 5},           {"x .5", 5},
        {"N.-2", -2},
    };
    for (const auto& c : cases) EXPECT_EQ(LVParseNumber(c.text), c.value) << c.text;
    EXPECT_EQ(LVParseNumber(nullptr), 0.0);
    EXPECT_EQ(LVParseNumberN("12345", 3), 123.0);
}
