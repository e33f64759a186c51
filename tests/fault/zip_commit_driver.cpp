// Runs one transaction of the archive kill sweep: zip_commit_driver OP FOLDER/ (see
// zip_commit_ops.h). Exit 0 when it reports success, 1 when it fails.
#include <cstdio>
#include <exception>
#include <string>

#include "zip_commit_ops.h"

int main(int argc, char** argv) {
    if (argc != 3) return 2;
    try {
        zipsweep::Perform(argv[1], argv[2]);
    } catch (const zip::EZipException& e) {
        std::fprintf(stderr, "refused: %d %s\n", e.NativeError, e.Message.c_str());
        return 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "failed: %s\n", e.what());
        return 1;
    }
    return 0;
}
