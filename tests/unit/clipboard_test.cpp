// The clipboard's platform side: the URI lists of files, and a desktop clipboard reached through its
// tools (stood in for here by two small scripts that keep one offer in a folder).
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "platform/clipboard.h"

namespace oka::platform {
namespace {

using clipboard::Entry;
using clipboard::Format;

std::vector<uint8_t> bytes(const std::string& text) { return {text.begin(), text.end()}; }

TEST(Clipboard, FilesTravelAsAUriList) {
    std::vector<std::string> files = {"/a/b.txt", "/x y/%z\xC3\xA9"};
    std::vector<uint8_t> list = clipboard::uri_list_of(files);
    EXPECT_EQ(std::string(list.begin(), list.end()), "file:///a/b.txt\r\nfile:///x%20y/%25z%C3%A9\r\n");
    EXPECT_EQ(clipboard::files_of(list), files);
    // Comments, blank lines, other schemes and a host name, as desktops write them.
    EXPECT_EQ(clipboard::files_of(bytes("# copied\nhttp://x/y\n\nfile://host/srv/f\nfile:///bad%zz\n")),
              (std::vector<std::string>{"/srv/f", "/bad%zz"}));
}

// A stand-in for the Wayland tools: wl-copy keeps the offer's type and bytes, wl-paste lists and gives
// them back, and fails when nothing is offered.
class DesktopClipboard : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/oka-clipboard-XXXXXX";
        folder_ = mkdtemp(pattern);
        write_tool("wl-copy",
                   "if [ \"$1\" = --clear ]; then rm -f \"$d/type\" \"$d/data\"; exit 0; fi\n"
                   "printf '%s\\n' \"$2\" > \"$d/type\"; cat > \"$d/data\"\n");
        write_tool("wl-paste",
                   "[ -f \"$d/type\" ] || exit 1\n"
                   "if [ \"$1\" = --list-types ]; then cat \"$d/type\"; exit 0; fi\n"
                   "[ \"$(cat \"$d/type\")\" = \"$3\" ] || exit 1; cat \"$d/data\"\n");
        const char* path = std::getenv("PATH");
        saved_path_ = path ? path : "";
        setenv("PATH", (folder_ + ":" + saved_path_).c_str(), 1);
        setenv("WAYLAND_DISPLAY", "test", 1);
    }
    void TearDown() override {
        setenv("PATH", saved_path_.c_str(), 1);
        unsetenv("WAYLAND_DISPLAY");
        std::system(("rm -rf " + folder_).c_str());
    }
    void write_tool(const std::string& name, const std::string& body) {
        std::string path = folder_ + "/" + name;
        std::ofstream(path) << "#!/bin/sh\nd=$(dirname \"$0\")\n" << body;
        chmod(path.c_str(), 0755);
    }
    std::string folder_, saved_path_;
};

TEST_F(DesktopClipboard, WritesOfferTheFirstFormatTheDesktopKnowsAndReadsTakeItBack) {
    EXPECT_TRUE(clipboard::write({{Format::text, bytes("héllo")}}));
    clipboard::Content text = clipboard::read();
    ASSERT_TRUE(text.reached && text.entry);
    EXPECT_EQ(text.entry->format, Format::text);
    EXPECT_EQ(text.entry->bytes, bytes("héllo"));
    // An image goes to the desktop as its PNG file; the pixels stay in the process.
    EXPECT_TRUE(clipboard::write({{Format::pixels, bytes("12345678")}, {Format::png, bytes("\x89PNG")}}));
    clipboard::Content image = clipboard::read();
    ASSERT_TRUE(image.entry);
    EXPECT_EQ(image.entry->format, Format::png);
    EXPECT_TRUE(clipboard::write({}));
    clipboard::Content empty = clipboard::read();
    EXPECT_TRUE(empty.reached);
    EXPECT_FALSE(empty.entry);
}

TEST_F(DesktopClipboard, ADesktopThatRefusesEveryAttemptIsUnreachable) {
    write_tool("wl-copy", "exit 1\n");
    EXPECT_FALSE(clipboard::write({{Format::text, bytes("x")}}));
}

}  // namespace
}  // namespace oka::platform
