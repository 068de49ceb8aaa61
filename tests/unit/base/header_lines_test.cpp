#include "base/header_lines.h"

#include <gtest/gtest.h>

namespace quillon {
namespace {

TEST(HeaderLines, LinesAndBlocksBecomeTrimmedPairsInOrder) {
    const HeaderPairs expected = {{"Content-Type", "text/plain"},
                                  {"X-Long", "first second"},
                                  {"Set-Cookie", "a=1"},
                                  {"Set-Cookie", "b=2"},
                                  {"Empty", ""}};
    // Line by line, as a transfer library hands them over...
    HeaderPairs headers;
    for (const char* line :
         {"HTTP/1.1 200 OK\r\n", "Content-Type:  text/plain \r\n", "X-Long: first\r\n",
          "\t second\r\n", "Set-Cookie: a=1\r\n", "Set-Cookie: b=2\r\n", "no colon\r\n",
          ": no name\r\n", "Empty:\r\n", "\r\n"}) {
        AddHeaderLine(line, headers);
    }
    EXPECT_EQ(headers, expected);
    // ... or as one block; a continuation before any header has nothing to continue.
    EXPECT_EQ(HeadersOfBlock("HTTP/1.1 200 OK\r\n folded\r\nContent-Type:  text/plain \r\nX-Long: "
                             "first\r\n\t second\r\nSet-Cookie: a=1\r\nSet-Cookie: b=2\r\nno "
                             "colon\r\n: no name\r\nEmpty:\r\n\r\n"),
              expected);
    EXPECT_TRUE(HeadersOfBlock("").empty());
    EXPECT_EQ(HeadersOfBlock("A: 1"), (HeaderPairs{{"A", "1"}}));  // no line end at the end
}

}  // namespace
}  // namespace quillon
