// loomwatch-generate-home <dir> [--per-tool N] [--large K] [--seed S]
// Writes a fake home with Claude Code and Codex transcripts below <dir> for benchmarks and demos.
#include "bench/homegenerator.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <string>
#include <string_view>

namespace {

int usage()
{
    std::cerr << "usage: loomwatch-generate-home <dir> [--per-tool N] [--large K] [--seed S]\n";
    return 2;
}

bool parseCount(const char* text, std::uint64_t& out)
{
    char* end = nullptr;
    errno = 0;
    const unsigned long long value = std::strtoull(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || text[0] == '-')
        return false;
    out = value;
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
        return usage();
    loomwatch::bench::HomeOptions options;
    std::string dir;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        std::uint64_t value = 0;
        if ((arg == "--per-tool" || arg == "--large" || arg == "--seed") && i + 1 < argc) {
            if (!parseCount(argv[++i], value))
                return usage();
            if (arg == "--per-tool")
                options.perTool = value;
            else if (arg == "--large")
                options.large = value;
            else
                options.seed = value;
        } else if (!arg.starts_with("--") && dir.empty()) {
            dir = arg;
        } else {
            return usage();
        }
    }
    if (dir.empty())
        return usage();
    try {
        const auto home = loomwatch::bench::generateHome(dir, options);
        std::cout << home.claudeFiles.size() << " Claude Code and " << home.codexFiles.size() << " Codex transcripts, "
                  << home.totalBytes << " bytes, below " << dir << "\n";
    } catch (const std::exception& error) {
        std::cerr << "loomwatch-generate-home: " << error.what() << "\n";
        return 1;
    }
    return 0;
}
