#include "tiers.hpp"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

#include "driver/run.hpp"
#include "pictures.hpp"
#include "tga/pixel_convert.hpp"

namespace bench {

namespace {

namespace fs = std::filesystem;

struct Kind {
    const char* label;
    Encoding encoding;
};

// The kinds whose conversion a vector path takes part in.
constexpr Kind kKinds[] = {
    {"24-bit", Encoding::Uncompressed24},
    {"32-bit", Encoding::Uncompressed32},
    {"16-bit", Encoding::Word16},
    {"8-bit grey", Encoding::Grey8},
    {"8-bit colour map", Encoding::Mapped8},
    {"8-bit map of 200 colours", Encoding::Mapped8Partial},
    {"32-bit RLE", Encoding::Rle32},
    {"24-bit RLE, short runs", Encoding::Rle24Short},
};

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.size() % 2 == 1 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

// One whole conversion, as the program runs it, in the current directory.
bool convert(std::FILE* quiet, double& seconds) {
    std::error_code ec;
    fs::remove("in.m32", ec);
    const auto start = std::chrono::steady_clock::now();
    const int status = varnel::driver::run({"in.tga"}, quiet);
    seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return status == 0;
}

}  // namespace

bool benchmark_paths(const std::string& scratch, int runs) {
    const fs::path folder = fs::path(scratch) / "paths";
    fs::create_directories(folder / "tpl");
    const fs::path previous = fs::current_path();
    fs::current_path(folder);
    std::ofstream("path.ini", std::ios::binary) << "tpl/";
    const std::vector<std::uint8_t> tpl = template_bytes();
    std::ofstream("tpl/8192x8192.m32", std::ios::binary)
        .write(reinterpret_cast<const char*>(tpl.data()), static_cast<std::streamsize>(tpl.size()));
    std::FILE* quiet = std::fopen("/dev/null", "w");
    const std::vector<varnel::tga::VectorPath> paths = varnel::tga::usable_vector_paths();
    bool right = quiet != nullptr;
    std::printf("\n%-26s", "whole conversion, median s");
    for (const varnel::tga::VectorPath path : paths) {
        std::printf(" %9s %8s", varnel::tga::vector_path_name(path), "/below");
    }
    std::printf("\n");
    for (const Kind& kind : kKinds) {
        if (!right || !write_tga({kind.encoding, 8192, 8192}, "in.tga")) {
            right = false;
            break;
        }
        std::vector<std::vector<double>> seconds(paths.size());
        for (int run = 0; run < runs && right; ++run) {
            for (std::size_t p = 0; p < paths.size() && right; ++p) {
                varnel::tga::use_vector_path(paths[p]);
                double s = 0;
                right = convert(quiet, s);
                seconds[p].push_back(s);
            }
        }
        std::printf("%-26s", kind.label);
        for (std::size_t p = 0; p < paths.size() && right; ++p) {
            const double m = median(seconds[p]);
            std::printf(" %9.4f", m);
            if (p == 0) {
                std::printf(" %8s", "");
            } else {
                std::printf(" %7.3fx", m / median(seconds[p - 1]));
            }
        }
        std::printf("\n");
    }
    varnel::tga::use_vector_path(paths.back());
    if (quiet != nullptr) {
        std::fclose(quiet);
    }
    fs::current_path(previous);
    fs::remove_all(folder);
    std::printf(
        "Each path is timed on whole conversions run in the benchmark's own process, the paths in "
        "turn;\n/below is its time against the path before it (the plain loops first).\n");
    return right;
}

}  // namespace bench
