// A snapshot file the browser opens: any bytes. Reading it back must give the
// bytes written (or refuse a file over the limit), and decoding what was read
// must neither crash nor overrun; the date text of any name must be built.
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include <turbojpeg.h>

#include "snapshots/SnapshotBrowsing.h"
#include "snapshots/SnapshotFolder.h"

namespace {

// Small enough that inputs cross it; pictures beyond it are not decoded.
constexpr size_t kLimit = 64 * 1024;
constexpr int kMaxPixels = 2048 * 2048;

void require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "snapshot reading broken: %s\n", what);
        std::abort();
    }
}

const std::string& scratchFile() {
    static const std::string path = [] {
        char folder[] = "/tmp/tess-fuzz-snapshot-XXXXXX";
        require(::mkdtemp(folder) != nullptr, "no scratch folder");
        return std::string(folder) + "/20070201090503.jpg";
    }();
    return path;
}

void decode(const std::vector<uint8_t>& jpeg) {
    static tjhandle handle = tjInitDecompress();
    int width = 0, height = 0, subsampling = 0, colourspace = 0;
    if (tjDecompressHeader3(handle, jpeg.data(), jpeg.size(), &width, &height, &subsampling,
                            &colourspace) != 0 ||
        width <= 0 || height <= 0 || width * height > kMaxPixels) {
        return;
    }
    std::vector<uint8_t> pixels(static_cast<size_t>(width) * height * 4);
    tjDecompress2(handle, jpeg.data(), jpeg.size(), pixels.data(), width, 0, height, TJPF_BGRX, 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& path = scratchFile();
    FILE* file = std::fopen(path.c_str(), "wb");
    require(file != nullptr, "cannot write the scratch file");
    require(std::fwrite(data, 1, size, file) == size, "short scratch write");
    std::fclose(file);

    std::vector<uint8_t> bytes;
    const bool read = tess::readSnapshotFile(path, bytes, kLimit);
    require(read == (size <= kLimit), "a file within the limit must read, one beyond must not");
    if (read) {
        require(bytes.size() == size && std::equal(bytes.begin(), bytes.end(), data),
                "read bytes differ");
        decode(bytes);
    }
    const std::string_view name(reinterpret_cast<const char*>(data), std::min<size_t>(size, 24));
    const std::string date = tess::snapshotDateText(name);
    require(date.size() <= 19, "date text too long");
    return 0;
}
