// vexldump: prints the listing of an executable image, one instruction per
// line, so an image can be read and compared as text.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "image.h"
#include "listing.h"

namespace {

constexpr const char* kUsage = "usage: vexldump IMAGE\n";

int fail(const std::string& file, const std::string& message) {
    std::fprintf(stderr, "vexldump: %s: %s\n", file.c_str(), message.c_str());
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    std::string file;
    if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::puts("vexldump 0.1");
        return 0;
    }
    if (argc == 2 && std::strncmp(argv[1], "--", 2) != 0) {
        file = argv[1];
    } else if (argc == 3 && std::strcmp(argv[1], "--") == 0) {
        file = argv[2];  // lets a file name start with "--"
    } else {
        std::fputs(kUsage, stderr);
        return 1;
    }

    // An ifstream opens a directory without complaint and then reads
    // nothing, which would list it as an empty image.
    std::error_code ec;
    if (std::filesystem::is_directory(file, ec)) return fail(file, "is a directory");
    std::ifstream in(file, std::ios::binary);
    if (!in) return fail(file, std::string("cannot open: ") + std::strerror(errno));
    const std::vector<image::Word> words = image::read_words(in);
    if (in.bad()) return fail(file, "read error");

    const std::string text = image::list_image(words);
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0)
        return fail("standard output", "write error");
    return 0;
}
