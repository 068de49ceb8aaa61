// Entry point of the quillon executable. For now it tells what it is and how it is used; the
// application itself is started from here once its front end exists.
#include <cstdio>
#include <cstring>

namespace {

constexpr char kVersion[] = "1.0.0";

void PrintUsage(std::FILE* out) {
    std::fprintf(out,
                 "Usage: quillon [--version] [--help]\n"
                 "\n"
                 "Quillon watches the path from this computer to the internet and tells where a\n"
                 "bad connection is bad: the WiFi or Ethernet link, the home gateway, the ISP or\n"
                 "the destination.\n"
                 "\n"
                 "  --version   print the version and exit\n"
                 "  --help      print this help and exit\n");
}

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("quillon %s\n", kVersion);
            return 0;
        }
        if (std::strcmp(argv[i], "--help") == 0) {
            PrintUsage(stdout);
            return 0;
        }
        std::fprintf(stderr, "quillon: unknown option '%s'\n\n", argv[i]);
        PrintUsage(stderr);
        return 2;
    }
    std::printf("quillon %s\n\n", kVersion);
    PrintUsage(stdout);
    std::printf("\nThe measuring application is not part of this build yet.\n");
    return 0;
}
