#include "platform/drag_input.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <climits>
#include <string>
#include <vector>

namespace {

struct Case {
    const char* name;
    std::string text;
    std::vector<std::string> files;
};

std::string hostName()
{
    char name[HOST_NAME_MAX + 1] = {};
    gethostname(name, sizeof name - 1);
    return name;
}

TEST(UriList, KeepsOnlyLocalFilesDecoded)
{
    const std::vector<Case> cases = {
        {"crlf lines", "file:///home/a/b.png\r\nfile:///tmp/x%20y.jpg\r\n", {"/home/a/b.png", "/tmp/x y.jpg"}},
        {"lf lines, no final break", "file:///tmp/a\nfile:///tmp/b", {"/tmp/a", "/tmp/b"}},
        {"comments and blank lines", "# from a file manager\r\n\r\nfile:///tmp/a\r\n#file:///tmp/b\r\n", {"/tmp/a"}},
        {"localhost", "file://localhost/tmp/a", {"/tmp/a"}},
        {"this machine by name", "file://" + hostName() + "/tmp/a", {"/tmp/a"}},
        {"another machine", "file://fileserver/tmp/a", {}},
        {"web link beside a file", "https://example.com/a.png\r\nfile:///tmp/a.png\r\n", {"/tmp/a.png"}},
        {"short form and scheme case", "file:/tmp/a\r\nFILE:///tmp/B\r\n", {"/tmp/a", "/tmp/B"}},
        {"utf-8 name", "file:///tmp/%C3%A1rvore%20%E2%9C%93.txt", {"/tmp/árvore ✓.txt"}},
        {"folder keeps its name", "file:///tmp/pasta/", {"/tmp/pasta"}},
        {"query and fragment cut", "file:///tmp/a%23b.txt?x=1#top", {"/tmp/a#b.txt"}},
        {"broken escapes", "file:///tmp/a%zz\r\nfile:///tmp/b%2\r\nfile:///tmp/c%\r\n", {}},
        {"escaped nul", "file:///tmp/a%00.png", {}},
        {"no path", "file://\r\nfile:relative.txt\r\nfile://localhost\r\n", {}},
        {"nul padding after the list", std::string("file:///tmp/a\r\n\0", 16), {"/tmp/a"}},
        {"empty", "", {}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> got;
        for (const auto& file : UriList::localFiles(c.text))
            got.push_back(file.string());
        EXPECT_EQ(got, c.files) << c.name;
    }
}

TEST(DragInput, NullObjectSeesNothing)
{
    // Tests run on the offscreen platform: there is no X display to watch.
    const auto input = DragInput::system();
    EXPECT_FALSE(input->available());
    const auto pointer = input->pointer();
    EXPECT_FALSE(pointer.leftButton);
    EXPECT_EQ(pointer.flags, 0u);
    EXPECT_FALSE(input->otherKeyDown());
    EXPECT_TRUE(input->dragFiles().empty());
}

}
