// tessarine-icon FOLDER SIZE...: writes the program icon as
// FOLDER/SIZExSIZE/apps/<id>.png for every SIZE, the hicolor theme's layout.
// Run by the build; the installed PNGs are the window icon's own drawing.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "resources/Artwork.h"

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: tessarine-icon FOLDER SIZE...\n");
        return 2;
    }
    for (int i = 2; i < argc; ++i) {
        const int size = std::atoi(argv[i]);
        if (size < 8 || size > 1024) {
            std::fprintf(stderr, "tessarine-icon: bad size '%s'\n", argv[i]);
            return 2;
        }
        const std::string side = std::to_string(size);
        const std::filesystem::path folder =
            std::filesystem::path(argv[1]) / (side + "x" + side) / "apps";
        std::filesystem::create_directories(folder);
        const std::filesystem::path file = folder / (TESS_APPLICATION_ID ".png");
        if (!tess::artwork::programIconImage(size).save(QString::fromStdString(file.string()),
                                                        "PNG")) {
            std::fprintf(stderr, "tessarine-icon: can't write %s\n", file.c_str());
            return 1;
        }
    }
    return 0;
}
