#include "platform/drag_input.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <climits>

namespace {

TEST(UriList, KeepsOnlyLocalFilesDecoded)
{
    char host[HOST_NAME_MAX + 1] = {};
    gethostname(host, sizeof host - 1);
    const std::pair<std::string, std::vector<std::string>> cases[] = {
        {"file:///home/a/b.png\r\nfile:///tmp/x%20y.jpg\r\n", {"/home/a/b.png", "/tmp/x y.jpg"}},
        {"# comment\r\n\r\nfile:///tmp/a\n#file:///tmp/b\nfile:///tmp/c", {"/tmp/a", "/tmp/c"}},
        {"file://localhost/tmp/a\r\nfile://" + std::string(host) + "/tmp/b\r\nfile://server/tmp/c",
            {"/tmp/a", "/tmp/b"}},
        {"https://example.com/a.png\r\nfile:/tmp/a\r\nFILE:///tmp/B\r\n", {"/tmp/a", "/tmp/B"}},
        {"file:///tmp/%C3%A1rvore%20%E2%9C%93.txt", {"/tmp/árvore ✓.txt"}},
        {"file:///tmp/latin%E1.txt", {"/tmp/latin\xe1.txt"}},  // a name that is no UTF-8 stays as it is
        {"file:///tmp/pasta/", {"/tmp/pasta"}},
        {"file:///tmp/a%23b.txt?x=1#top", {"/tmp/a#b.txt"}},
        {"file:///tmp/a%zz\r\nfile:///tmp/b%2\r\nfile:///tmp/c%\r\nfile:///tmp/a%00.png", {}},
        {"file://\r\nfile:relative.txt\r\nfile://localhost\r\n", {}},
        {std::string("file:///tmp/a\r\n\0", 16), {"/tmp/a"}},
    };
    for (const auto& [text, expected] : cases) {
        std::vector<std::string> got;
        for (const auto& file : UriList::localFiles(text))
            got.push_back(file.string());
        EXPECT_EQ(got, expected) << text;
    }
}

}
