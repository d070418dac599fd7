// FXString, CObString, percent-encoding and query-string building.

#include <gtest/gtest.h>

#include "platform/CObString.h"
#include "platform/FXString.h"
#include "platform/MLLibCurl.h"
#include "platform/MLSRestApiConnection.h"

namespace {

std::vector<std::string> Texts(const std::vector<CObString>& parts) {
    std::vector<std::string> texts;
    for (const CObString& part : parts) texts.push_back(part.str());
    return texts;
}

TEST(FXStringFormat, BothFormsFormatLikePrintf) {
    std::string out = "old";
    EXPECT_TRUE(FXString::Format(out, "%s=%d;%05.1f", "a", -3, 2.25).IsOk());
    EXPECT_EQ(out, "a=-3;002.2");
    const std::string longText(5000, 'x');
    EXPECT_EQ(FXString::Format("[%s]", longText.c_str()), "[" + longText + "]");
    EXPECT_EQ(FXString::Format("%s", ""), "");
}

TEST(FXStringTrim, RemovesListedCharactersFromBothEndsOnly) {
    const struct {
        const char* text;
        const char* characters;
        const char* expected;
    } cases[] = {
        {"X-Auth-Token: abc\r\n", "\r\n", "X-Auth-Token: abc"},
        {"\n\r a\r\nb \r\n", "\r\n", " a\r\nb "},
        {"\r\n\r\n", "\r\n", ""},
        {"", "\r\n", ""},
        {"  x  ", " ", "x"},
        {"abc", "", "abc"},
    };
    for (const auto& c : cases) {
        std::string text = c.text;
        FXString::Trim(text, c.characters);
        EXPECT_EQ(text, c.expected) << c.text;
    }
}

TEST(FXStringCompareNoCase, IgnoresAsciiCaseOnly) {
    EXPECT_EQ(FXString::CompareNoCase("VM-01", "vm-01"), 0);
    EXPECT_EQ(FXString::CompareNoCase("", ""), 0);
    EXPECT_NE(FXString::CompareNoCase("vm-01", "vm-011"), 0);
    EXPECT_LT(FXString::CompareNoCase("a", "B"), 0);
    EXPECT_GT(FXString::CompareNoCase("b", "A"), 0);
}

TEST(CObStringTokenize, SplitsVersionNumbers) {
    std::vector<CObString> parts;
    EXPECT_EQ(CObString("6.3").Tokenize(parts, "", "", '\\', '.', true), 2);
    EXPECT_EQ(Texts(parts), (std::vector<std::string>{"6", "3"}));
    EXPECT_STREQ(parts[0].c_str(), "6");
    EXPECT_EQ(CObString("8").Tokenize(parts, "", "", '\\', '.', true), 1);
    EXPECT_EQ(Texts(parts), (std::vector<std::string>{"8"}));
}

TEST(CObStringTokenize, EscapesQuotesAndEmptyParts) {
    std::vector<CObString> parts;
    CObString("a\\.b.c").Tokenize(parts, "", "", '\\', '.', true);
    EXPECT_EQ(Texts(parts), (std::vector<std::string>{"a.b", "c"}));
    CObString("a..b.").Tokenize(parts, "", "", '\\', '.', true);
    EXPECT_EQ(Texts(parts), (std::vector<std::string>{"a", "", "b", ""}));
    CObString("a..b.").Tokenize(parts, "", "", '\\', '.', false);
    EXPECT_EQ(Texts(parts), (std::vector<std::string>{"a", "b"}));
    CObString("x.'y.z'.w").Tokenize(parts, "'", "'", '\\', '.', true);
    EXPECT_EQ(Texts(parts), (std::vector<std::string>{"x", "y.z", "w"}));
    CObString("(a.b).c").Tokenize(parts, "(", ")", '\\', '.', true);
    EXPECT_EQ(Texts(parts), (std::vector<std::string>{"a.b", "c"}));
    CObString("").Tokenize(parts, "", "", '\\', '.', false);
    EXPECT_TRUE(parts.empty());
    CObString("end\\").Tokenize(parts, "", "", '\\', '.', true);
    EXPECT_EQ(Texts(parts), (std::vector<std::string>{"end\\"}));
}

TEST(UrlEncoding, KeepsUnreservedAndEncodesEverythingElse) {
    EXPECT_EQ(MLLibCurl::PercentEncode("AZaz09-._~"), "AZaz09-._~");
    EXPECT_EQ(MLLibCurl::PercentEncode("a b&c=d/e?f%g+h"), "a%20b%26c%3Dd%2Fe%3Ff%25g%2Bh");
    EXPECT_EQ(MLLibCurl::PercentEncode("\xc3\xa9"), "%C3%A9");
    EXPECT_EQ(MLLibCurl::PercentEncode(std::string("a\0b", 3)), "a%00b");
    MLSRestApiConnection connection;
    EXPECT_EQ(connection.UrlEncode("vm 1"), "vm%201");
}

TEST(QueryString, FirstArgumentAfterQuestionMarkOthersAfterAmpersand) {
    MLSRestApiConnection connection;
    std::string path = "/service/sites/1/vms";
    connection.appendQueryStringArgument(path, "limit=%d", 100);
    connection.appendQueryStringArgument(path, "name=%s", "vm");
    EXPECT_EQ(path, "/service/sites/1/vms?limit=100&name=vm");
    std::string withQuery = "/p?x=1";
    connection.appendQueryStringArgument(withQuery, "offset=%d", 200);
    EXPECT_EQ(withQuery, "/p?x=1&offset=200");
    // A path that already ends in its separator gets no second one.
    std::string emptyQuery = "/p?";
    connection.appendQueryStringArgument(emptyQuery, "offset=%d", 100);
    EXPECT_EQ(emptyQuery, "/p?offset=100");
    std::string trailingAmpersand = "/p?x=1&";
    connection.appendQueryStringArgument(trailingAmpersand, "offset=%d", 100);
    EXPECT_EQ(trailingAmpersand, "/p?x=1&offset=100");
}

}  // namespace
