// Writes the seed inputs of fuzz_vm into a folder: every example and every
// compiler golden source that compiles, compiled in-process, and every
// machine golden image (annotated hex or raw), each with its NAME.in as the
// program's standard input, in fuzz_vm's input layout.
//
//   fuzz_vm_seeds OUTDIR SOURCE_ROOT
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "driver.h"

namespace fs = std::filesystem;

namespace {

std::string read_file(const fs::path& p) {
    std::ifstream f(p, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

// Annotated hex words: tokens of 1-4 hex digits with an optional 0x prefix;
// '#' starts a comment. Returns false on anything else.
bool hex_to_bytes(const std::string& text, std::string& bytes) {
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream tokens(line.substr(0, line.find('#')));
        std::string t;
        while (tokens >> t) {
            if (t.starts_with("0x") || t.starts_with("0X")) t = t.substr(2);
            if (t.empty() || t.size() > 4 || t.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
                return false;
            const unsigned w = unsigned(std::stoul(t, nullptr, 16));
            bytes += char(w >> 8);
            bytes += char(w & 0xFF);
        }
    }
    return true;
}

// The seed: the input length byte, the input (at most 63 bytes), the image.
void write_seed(const fs::path& out_dir, const std::string& name, const fs::path& input_file,
                const std::string& image) {
    std::string input = fs::exists(input_file) ? read_file(input_file) : "";
    if (input.size() > 63) input.resize(63);
    std::ofstream f(out_dir / (name + ".seed"), std::ios::binary);
    f << char(input.size()) << input << image;
}

// Compiles `source` in `work` with the diagnostics discarded; the image
// bytes, or empty when the source does not compile.
std::string compile_image(const fs::path& source, const fs::path& work) {
    fs::copy_file(source, work / "seed.vxl", fs::copy_options::overwrite_existing);
    fs::remove(work / "seed.exec");
    const fs::path cwd = fs::current_path();
    fs::current_path(work);
    std::fflush(stderr);
    const int saved = dup(2);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 2);
    close(null);
    const char* const argv[] = {"vexlc", "seed.vxl", nullptr};
    const int status = compile(2, argv);
    std::fflush(stderr);
    dup2(saved, 2);
    close(saved);
    fs::current_path(cwd);
    return status == 0 ? read_file(work / "seed.exec") : std::string();
}

std::string seed_name(const fs::path& file, const fs::path& root) {
    std::string name = fs::relative(file, root).replace_extension().generic_string();
    for (char& c : name)
        if (c == '/') c = '_';
    return name;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: fuzz_vm_seeds OUTDIR SOURCE_ROOT\n";
        return 2;
    }
    const fs::path out_dir = fs::absolute(argv[1]), root = fs::absolute(argv[2]);
    fs::create_directories(out_dir);
    const fs::path work = out_dir / ".work";
    fs::create_directories(work);
    int count = 0;

    for (const fs::path& dir : {root / "examples", root / "tests/golden/compiler"}) {
        if (!fs::is_directory(dir)) continue;
        for (const auto& e : fs::recursive_directory_iterator(dir)) {
            if (!e.is_regular_file() || e.path().extension() != ".vxl") continue;
            const std::string image = compile_image(e.path(), work);
            if (image.empty()) continue;
            write_seed(out_dir, seed_name(e.path(), root), fs::path(e.path()).replace_extension(".in"), image);
            ++count;
        }
    }
    const fs::path vm_dir = root / "tests/golden/vm";
    if (fs::is_directory(vm_dir)) {
        for (const auto& e : fs::directory_iterator(vm_dir)) {
            const fs::path& p = e.path();
            std::string image;
            if (p.extension() == ".hex") {
                if (!hex_to_bytes(read_file(p), image)) continue;
            } else if (p.extension() == ".exec") {
                image = read_file(p);
            } else {
                continue;
            }
            write_seed(out_dir, seed_name(p, root), fs::path(p).replace_extension(".in"), image);
            ++count;
        }
    }
    fs::remove_all(work);
    std::cout << "fuzz_vm_seeds: " << count << " seeds in " << out_dir.string() << '\n';
    return 0;
}
